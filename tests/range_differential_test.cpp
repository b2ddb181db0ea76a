// The fast coding paths against the plain ones they must reproduce exactly:
// Encode against EncodeReference, Decode against DecodeReference, on valid,
// damaged and hand-built payloads from fixed seeds.
#include "reference/range_coder.h"

#include "tests/support/payloads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iomanip>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tarv::CRangeCoder16;
using tarv::DecodeReference;
using tarv::EncodeReference;
using tarv::SymbolRecord;
using tarv_test::Bytes;
using tarv_test::FieldAt;
using tarv_test::kRecordBytes;
using tarv_test::Le32;
using tarv_test::Payload;
using tarv_test::Prepare;
using tarv_test::PutLe32;
using Samples = std::vector<uint16_t>;

constexpr uint16_t kSentinel = 0xA5A5;

// Raw generator output only, so that a seed names the same data everywhere.
uint32_t Below(std::mt19937& g, uint32_t n)
{
    return n == 0 ? 0 : static_cast<uint32_t>(g() % n);
}

template <class T> void Shuffle(std::vector<T>& v, std::mt19937& g)
{
    for (size_t i = v.size(); i > 1; --i)
        std::swap(v[i - 1], v[Below(g, static_cast<uint32_t>(i))]);
}

// A heap block of exactly the data's size, so that any access past it trips ASan.
template <class T> std::unique_ptr<T[]> ExactCopy(const std::vector<T>& v)
{
    std::unique_ptr<T[]> p(new T[v.size()]);
    std::copy(v.begin(), v.end(), p.get());
    return p;
}

size_t LongestRun(const Bytes& p, size_t from, uint8_t b)
{
    size_t best = 0, run = 0;
    for (size_t i = from; i < p.size(); ++i) {
        run = p[i] == b ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

std::string Hex(const Bytes& p)
{
    std::ostringstream s;
    for (uint8_t b : p)
        s << std::hex << std::setw(2) << std::setfill('0') << unsigned{b};
    return s.str();
}

// ---- blocks -------------------------------------------------------------

// Mostly small blocks, sometimes up to ~100k samples, and the sizes where the
// decoder's bucket width changes (4096, 8192) or the alphabet fills.
uint32_t PickSize(std::mt19937& g)
{
    static constexpr uint32_t kEdges[] = {1, 2, 3, 4, 7, 8, 9, 4095, 4096, 4097, 8192, 8193};
    switch (Below(g, 10)) {
    case 0:
        return kEdges[Below(g, static_cast<uint32_t>(std::size(kEdges)))];
    case 1:
        return Below(g, 100001);
    default:
        return Below(g, 2000);
    }
}

// Few values in an order chosen by decoding target bytes with the block's own
// table, so the coded stream follows the target: a long run of `fill` bytes
// somewhere inside. A 0x00 run comes mostly by a carry: while the interval
// still straddles the byte boundary just below the target, the bytes shifted
// out of its low end are 0xFF.
Samples Steered(std::mt19937& g, CRangeCoder16& helper, uint8_t fill)
{
    const uint32_t k = 2 + Below(g, 6);
    Samples values;
    while (values.size() < k) {
        const auto v = static_cast<uint16_t>(g());
        if (std::find(values.begin(), values.end(), v) == values.end())
            values.push_back(v);
    }
    std::sort(values.begin(), values.end());
    std::vector<SymbolRecord> records;
    uint32_t total = 0;
    for (uint16_t v : values) {
        const uint32_t freq = 1 + Below(g, 400);
        records.push_back({v, total, freq});
        total += freq;
    }
    Bytes payload = Payload(records);
    payload.push_back(static_cast<uint8_t>(g() & 0x7F)); // inside the first interval
    for (uint32_t i = Below(g, 6); i > 0; --i)
        payload.push_back(static_cast<uint8_t>(g()));
    payload.insert(payload.end(), 8 + Below(g, 40), fill);
    for (uint32_t i = Below(g, 9); i > 0; --i)
        payload.push_back(static_cast<uint8_t>(g()));

    Samples decoded(total);
    uint32_t count = total;
    if (DecodeReference(helper, payload.data(), static_cast<uint32_t>(payload.size()),
                        decoded.data(), count) != 1)
        count = 0;
    // Keep the steered prefix while it fits the counts, then the rest in any order.
    std::vector<uint32_t> left(k);
    for (size_t i = 0; i < k; ++i)
        left[i] = records[i].freq;
    Samples s;
    for (uint32_t i = 0; i < count / 2; ++i) {
        const auto at = static_cast<size_t>(
            std::lower_bound(values.begin(), values.end(), decoded[i]) - values.begin());
        if (left[at] == 0)
            break;
        --left[at];
        s.push_back(decoded[i]);
    }
    Samples rest;
    for (size_t i = 0; i < k; ++i)
        rest.insert(rest.end(), left[i], values[i]);
    Shuffle(rest, g);
    s.insert(s.end(), rest.begin(), rest.end());
    return s;
}

struct BlockKind {
    const char* name;
    Samples (*make)(std::mt19937& g, CRangeCoder16& helper);
    int every = 1; // made on every `every`-th round only: the costly ones
};

const BlockKind kBlockKinds[] = {
    {"uniform",
     [](std::mt19937& g, CRangeCoder16&) {
         Samples s(PickSize(g));
         for (auto& v : s)
             v = static_cast<uint16_t>(g());
         return s;
     }},
    // Residual-like: geometric magnitudes around 0, wrapped into 16 bits.
    {"residual-like",
     [](std::mt19937& g, CRangeCoder16&) {
         Samples s(PickSize(g));
         for (auto& v : s) {
             const auto x = static_cast<uint32_t>(g());
             const int m = std::countr_zero(x | 0x10000u) * 4 + static_cast<int>((x >> 17) & 3);
             v = static_cast<uint16_t>((x >> 31) != 0 ? -m : m);
         }
         return s;
     }},
    {"few values",
     [](std::mt19937& g, CRangeCoder16&) {
         Samples values(2 + Below(g, 7));
         for (auto& v : values)
             v = static_cast<uint16_t>(g());
         Samples s(PickSize(g));
         for (auto& v : s)
             v = values[std::min(Below(g, 16), static_cast<uint32_t>(values.size() - 1))];
         return s;
     }},
    {"one value", [](std::mt19937& g,
                     CRangeCoder16&) { return Samples(PickSize(g), static_cast<uint16_t>(g())); }},
    {"one sample",
     [](std::mt19937& g, CRangeCoder16&) { return Samples{static_cast<uint16_t>(g())}; }},
    {"empty", [](std::mt19937&, CRangeCoder16&) { return Samples{}; }},
    {"100 255 1 2 255 repeated",
     [](std::mt19937& g, CRangeCoder16&) {
         Samples s(1 + Below(g, 3000));
         for (size_t i = 0; i < s.size(); ++i)
             s[i] = Samples{100, 255, 1, 2, 255}[i % 5];
         return s;
     }},
    // All 65,536 values: the largest table, where record indices use all 16 bits.
    {"every value",
     [](std::mt19937& g, CRangeCoder16&) {
         Samples s(65536 + Below(g, 1000));
         for (size_t i = 0; i < s.size(); ++i)
             s[i] = static_cast<uint16_t>(i);
         Shuffle(s, g);
         return s;
     },
     4},
    {"steered to a 0xFF run",
     [](std::mt19937& g, CRangeCoder16& helper) { return Steered(g, helper, 0xFF); }},
    {"steered to a carry", [](std::mt19937& g, CRangeCoder16& h) { return Steered(g, h, 0x00); }},
};

// Block i of a test: the kinds in turn, or null for a round a kind sits out.
const BlockKind* KindOf(int i)
{
    const auto kinds = static_cast<int>(std::size(kBlockKinds));
    const BlockKind& kind = kBlockKinds[i % kinds];
    return (i / kinds) % kind.every == 0 ? &kind : nullptr;
}

Bytes EncodeReferenceOk(const Samples& s)
{
    Bytes out(4 + kRecordBytes * CRangeCoder16::kAlphabetSize + 3 * s.size() + 16);
    auto length = static_cast<uint32_t>(out.size());
    const uint16_t none = 0;
    EXPECT_EQ(EncodeReference(out.data(), length, s.empty() ? &none : s.data(),
                              static_cast<uint32_t>(s.size())),
              1);
    out.resize(length);
    return out;
}

// ---- decoder ------------------------------------------------------------

struct DecodeCase {
    Bytes payload;
    uint32_t capacity; // samples in the output buffer
    uint32_t claimed;  // the capacity passed in `count`
};

struct DecodeResult {
    int rc = 0;
    uint32_t count = 0;
    Samples out; // the whole output buffer
    // What DecodeSymbol goes on to decode with the state Decode left: a caller
    // may continue a block that way.
    std::vector<int> moreRc;
    Samples more;
};

constexpr size_t kMoreSymbols = 3;

DecodeResult RunDecode(CRangeCoder16& c, bool fast, const DecodeCase& d)
{
    const auto payload = ExactCopy(d.payload);
    std::unique_ptr<uint16_t[]> out(new uint16_t[d.capacity]);
    std::fill_n(out.get(), d.capacity, kSentinel);
    DecodeResult r;
    r.count = d.claimed;
    const auto length = static_cast<uint32_t>(d.payload.size());
    r.rc = fast ? c.Decode(payload.get(), length, out.get(), r.count)
                : DecodeReference(c, payload.get(), length, out.get(), r.count);
    r.out.assign(out.get(), out.get() + d.capacity);
    for (size_t i = 0; i < kMoreSymbols; ++i) {
        uint16_t sample = kSentinel;
        r.moreRc.push_back(c.DecodeSymbol(&sample));
        r.more.push_back(sample);
    }
    return r;
}

testing::AssertionResult SameDecode(CRangeCoder16& fast, CRangeCoder16& reference,
                                    const DecodeCase& d)
{
    const DecodeResult a = RunDecode(fast, true, d), b = RunDecode(reference, false, d);
    // Going on with DecodeSymbol afterwards must agree too, failure or not.
    if (a.rc == b.rc && a.count == b.count && a.out == b.out && a.moreRc == b.moreRc &&
        a.more == b.more)
        return testing::AssertionSuccess();
    const auto at = std::mismatch(a.out.begin(), a.out.end(), b.out.begin()).first - a.out.begin();
    auto failure = testing::AssertionFailure();
    failure << "Decode rc " << a.rc << " count " << a.count << "; DecodeReference rc " << b.rc
            << " count " << b.count << "; first different sample " << at << " of " << d.capacity
            << "; claimed capacity " << d.claimed << ", payload " << d.payload.size() << " bytes";
    for (size_t i = 0; i < kMoreSymbols; ++i)
        failure << "; then DecodeSymbol " << a.moreRc[i] << "/" << a.more[i] << " against "
                << b.moreRc[i] << "/" << b.more[i];
    if (d.payload.size() <= 512)
        failure << ": " << Hex(d.payload);
    return failure;
}

// Rewrites the table so that cumFreqs are contiguous again after freqs changed.
void Recumulate(Bytes& p)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < Le32(p, 0); ++i) {
        PutLe32(p, FieldAt(i, 1), sum);
        sum += Le32(p, FieldAt(i, 2));
    }
}

struct Damage {
    const char* name;
    // Edits `c` (the intact payload, capacity the block's size); false when it
    // does not apply to this payload.
    bool (*apply)(DecodeCase& c, std::mt19937& g);
    int every; // applied on every `every`-th block only: the costly ones
};

// The record count the payload states.
uint32_t N(const DecodeCase& c)
{
    return Le32(c.payload, 0);
}

const Damage kDamages[] = {
    {"intact", [](DecodeCase&, std::mt19937&) { return true; }, 1},
    {"intact, one sample short",
     [](DecodeCase& c, std::mt19937&) {
         c.claimed = c.capacity = c.capacity - 1;
         return c.capacity != UINT32_MAX;
     },
     1},
    {"intact, roomy",
     [](DecodeCase& c, std::mt19937& g) {
         c.claimed = c.capacity += 1 + Below(g, 64);
         return true;
     },
     1},
    {"coded bytes flipped",
     [](DecodeCase& c, std::mt19937& g) {
         const size_t from = FieldAt(N(c), 0);
         const auto coded = static_cast<uint32_t>(c.payload.size() - from);
         for (uint32_t i = 1 + Below(g, 8); i > 0 && coded > 0; --i)
             c.payload[from + Below(g, coded)] ^= static_cast<uint8_t>(1 + Below(g, 255));
         return coded > 0;
     },
     1},
    {"truncated anywhere",
     [](DecodeCase& c, std::mt19937& g) {
         c.payload.resize(Below(g, static_cast<uint32_t>(c.payload.size())));
         return true;
     },
     1},
    {"truncated in the coded bytes",
     [](DecodeCase& c, std::mt19937& g) {
         const size_t from = FieldAt(N(c), 0);
         c.payload.resize(from + Below(g, static_cast<uint32_t>(c.payload.size() - from)));
         return true;
     },
     1},
    {"extended",
     [](DecodeCase& c, std::mt19937& g) {
         for (uint32_t i = 1 + Below(g, 64); i > 0; --i)
             c.payload.push_back(static_cast<uint8_t>(g()));
         return true;
     },
     1},
    {"gap between cumFreqs",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) < 2)
             return false;
         const uint32_t k = 1 + Below(g, 3);
         for (size_t i = 1 + Below(g, N(c) - 1); i < N(c); ++i)
             PutLe32(c.payload, FieldAt(i, 1), Le32(c.payload, FieldAt(i, 1)) + k);
         return true;
     },
     1},
    {"overlapping cumFreqs",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) < 2)
             return false;
         const size_t from = 1 + Below(g, N(c) - 1);
         const uint32_t k = 1 + Below(g, Le32(c.payload, FieldAt(from, 1)));
         for (size_t i = from; i < N(c); ++i)
             PutLe32(c.payload, FieldAt(i, 1), Le32(c.payload, FieldAt(i, 1)) - k);
         return true;
     },
     1},
    {"first cumFreq not 0, all shifted",
     [](DecodeCase& c, std::mt19937& g) {
         const uint32_t k = 1 + Below(g, 1000);
         for (size_t i = 0; i < N(c); ++i)
             PutLe32(c.payload, FieldAt(i, 1), Le32(c.payload, FieldAt(i, 1)) + k);
         return N(c) > 0;
     },
     1},
    {"a freq set to 0",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) == 0)
             return false;
         PutLe32(c.payload, FieldAt(Below(g, N(c)), 2), 0);
         return true;
     },
     1},
    // Contiguous and with the right total: only the freq > 0 check rejects it.
    {"zero-freq record inserted",
     [](DecodeCase& c, std::mt19937& g) {
         const uint32_t n = N(c), at = Below(g, n + 1);
         const uint32_t cum =
             at < n ? Le32(c.payload, FieldAt(at, 1)) : static_cast<uint32_t>(c.capacity);
         Bytes record(kRecordBytes);
         PutLe32(record, 0, Below(g, 0x10000));
         PutLe32(record, 4, cum);
         c.payload.insert(c.payload.begin() + static_cast<ptrdiff_t>(FieldAt(at, 0)),
                          record.begin(), record.end());
         PutLe32(c.payload, 0, n + 1);
         return true;
     },
     1},
    {"records out of order",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) < 2)
             return false;
         const size_t i = Below(g, N(c)), j = (i + 1 + Below(g, N(c) - 1)) % N(c);
         std::swap_ranges(c.payload.begin() + static_cast<ptrdiff_t>(FieldAt(i, 0)),
                          c.payload.begin() + static_cast<ptrdiff_t>(FieldAt(i + 1, 0)),
                          c.payload.begin() + static_cast<ptrdiff_t>(FieldAt(j, 0)));
         return true;
     },
     1},
    // Symbols do not enter soundness: these tables stay on the fast path.
    {"duplicated symbol",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) < 2)
             return false;
         const size_t i = 1 + Below(g, N(c) - 1);
         PutLe32(c.payload, FieldAt(i, 0), Le32(c.payload, FieldAt(i - 1, 0)));
         return true;
     },
     1},
    {"symbol past 16 bits",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) == 0)
             return false;
         const size_t i = Below(g, N(c));
         PutLe32(c.payload, FieldAt(i, 0),
                 Le32(c.payload, FieldAt(i, 0)) | (1 + Below(g, 0xFFFF)) << 16);
         return true;
     },
     1},
    // The freqs add up past 2^32: the 32-bit total is small and the table wrong.
    {"total wraps 32 bits",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) < 2)
             return false;
         const size_t last = N(c) - 1;
         const uint32_t others = c.capacity - Le32(c.payload, FieldAt(last, 2));
         if (others < 2)
             return false;
         const uint32_t wrapped = 1 + Below(g, others - 1);
         PutLe32(c.payload, FieldAt(last, 2), 0u - others + wrapped);
         c.claimed = c.capacity = wrapped;
         return true;
     },
     1},
    // A sound table whose total is past the initial range: the quotient is 0
    // before the first sample, so neither path may write. The claimed capacity
    // covers the total; the real buffer is small, so a write would show.
    {"total past the initial range",
     [](DecodeCase& c, std::mt19937& g) {
         if (N(c) == 0)
             return false;
         const size_t i = Below(g, N(c));
         PutLe32(c.payload, FieldAt(i, 2), Le32(c.payload, FieldAt(i, 2)) + 0x80000000u);
         Recumulate(c.payload);
         c.claimed = UINT32_MAX;
         return true;
     },
     1},
    {"N past the table's capacity",
     [](DecodeCase& c, std::mt19937& g) {
         static constexpr uint32_t kCounts[] = {CRangeCoder16::kAlphabetSize + 1, 0x15555556u,
                                                UINT32_MAX};
         PutLe32(c.payload, 0, kCounts[Below(g, 3)]);
         return true;
     },
     1},
    // The records run into the coded bytes, or past the payload's end.
    {"N too large",
     [](DecodeCase& c, std::mt19937& g) {
         PutLe32(c.payload, 0, N(c) + 1 + Below(g, 4));
         return true;
     },
     1},
    {"N one too small",
     [](DecodeCase& c, std::mt19937&) {
         PutLe32(c.payload, 0, N(c) - 1);
         return N(c) != UINT32_MAX;
     },
     1},
    // A sound table that the coded bytes were not made with.
    {"another sound table",
     [](DecodeCase& c, std::mt19937& g) {
         const size_t coded = FieldAt(N(c), 0);
         const uint32_t span = 1u << Below(g, 13);
         std::vector<SymbolRecord> records(1 + Below(g, 300));
         uint32_t total = 0;
         for (auto& r : records) {
             r = {Below(g, 0x10000), total, 1 + Below(g, span)};
             total += r.freq;
         }
         Bytes p = Payload(records);
         p.insert(p.end(), c.payload.begin() + static_cast<ptrdiff_t>(coded), c.payload.end());
         c.payload = std::move(p);
         c.claimed = c.capacity = total;
         return true;
     },
     1},
    // Random coded bytes under a sound table with a total mostly past 2^24 and
    // up to 2^31: quotients from 127 down to 1, and 0 once the range falls
    // below the total. No freq is above half the total, so each sample at least
    // halves the range and a byte goes in at least every eight samples: the
    // samples written stay below 8 x (coded bytes + 2), all the real buffer
    // holds, while the claimed capacity covers the total.
    {"another sound table, total past 2^24",
     [](DecodeCase& c, std::mt19937& g) {
         const uint32_t k = 2 + Below(g, 299);
         const auto most = static_cast<uint32_t>((uint64_t{1} << (24 + Below(g, 8))) / k);
         std::vector<SymbolRecord> records(k);
         uint32_t total = 0, largest = 0;
         for (auto& r : records) {
             r = {Below(g, 0x10000), total, 1 + Below(g, most)};
             total += r.freq;
             largest = std::max(largest, r.freq);
         }
         if (2 * uint64_t{largest} > total) {
             records.push_back({Below(g, 0x10000), total, largest});
             total += largest;
         }
         c.payload = Payload(records);
         const uint32_t coded = 1 + Below(g, 64);
         c.payload.push_back(static_cast<uint8_t>(Below(g, 0x80))); // inside the first interval
         for (uint32_t i = 1; i < coded; ++i)
             c.payload.push_back(static_cast<uint8_t>(g()));
         c.claimed = total;
         c.capacity = std::min(total, 8 * (coded + 2));
         return true;
     },
     1},
};

TEST(RangeDifferential, DecodeMatchesReferenceOnValidAndDamagedPayloads)
{
    constexpr int kBlocks = 400;
    std::mt19937 g(0x7A4E);
    CRangeCoder16 fast, reference, helper;
    Prepare(fast);
    Prepare(reference);
    Prepare(helper);
    for (int i = 0; i < kBlocks; ++i) {
        const BlockKind* kind = KindOf(i);
        if (kind == nullptr)
            continue;
        const Samples block = kind->make(g, helper);
        const Bytes payload = EncodeReferenceOk(block);
        for (const Damage& damage : kDamages) {
            if (i % damage.every != 0)
                continue;
            const auto samples = static_cast<uint32_t>(block.size());
            DecodeCase c{payload, samples, samples};
            if (!damage.apply(c, g))
                continue;
            // The coders carry each block's table and buckets into the next one.
            ASSERT_TRUE(SameDecode(fast, reference, c))
                << "block " << i << " (" << kind->name << ", " << block.size() << " samples), "
                << damage.name;
        }
    }
}

// ---- encoder ------------------------------------------------------------

struct EncodeResult {
    int rc = 0;
    uint32_t length = 0;
    Bytes payload; // the first `length` bytes on success
};

// Encode on `coder`, or EncodeReference without one.
EncodeResult RunEncode(CRangeCoder16* coder, const Samples& s, uint32_t capacity)
{
    const auto samples = ExactCopy(s);
    std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
    EncodeResult r;
    r.length = capacity;
    const auto count = static_cast<uint32_t>(s.size());
    r.rc = coder != nullptr ? coder->Encode(out.get(), r.length, samples.get(), count)
                            : EncodeReference(out.get(), r.length, samples.get(), count);
    if (r.rc == 1 && r.length <= capacity)
        r.payload.assign(out.get(), out.get() + r.length);
    return r;
}

testing::AssertionResult SameEncode(CRangeCoder16& fast, const Samples& s, uint32_t capacity)
{
    const EncodeResult a = RunEncode(&fast, s, capacity), b = RunEncode(nullptr, s, capacity);
    if (a.rc == b.rc && a.length == b.length && a.payload == b.payload &&
        (a.rc == 1 || a.length == capacity))
        return testing::AssertionSuccess();
    auto failure = testing::AssertionFailure();
    failure << "capacity " << capacity << ": Encode rc " << a.rc << " length " << a.length
            << "; EncodeReference rc " << b.rc << " length " << b.length;
    if (a.rc == 1 && b.rc == 1 && a.length == b.length) {
        const auto at = std::mismatch(a.payload.begin(), a.payload.end(), b.payload.begin());
        failure << "; first different byte " << (at.first - a.payload.begin());
    }
    if (s.size() <= 64) {
        failure << "; samples";
        for (uint16_t v : s)
            failure << " " << v;
    }
    return failure;
}

TEST(RangeDifferential, EncodeMatchesReferenceAtEveryCapacityNearTheEnd)
{
    constexpr int kBlocks = 120;
    std::mt19937 g(0xE9C0);
    CRangeCoder16 fast, helper;
    Prepare(fast);
    Prepare(helper);
    size_t longestFF = 0, longestZero = 0;
    for (int i = 0; i < kBlocks; ++i) {
        const BlockKind* kind = KindOf(i);
        if (kind == nullptr)
            continue;
        const Samples block = kind->make(g, helper);
        SCOPED_TRACE(testing::Message()
                     << "block " << i << " (" << kind->name << ", " << block.size() << " samples)");
        const Bytes payload = EncodeReferenceOk(block);
        const auto length = static_cast<uint32_t>(payload.size());
        const size_t coded = FieldAt(Le32(payload, 0), 0);
        longestFF = std::max(longestFF, LongestRun(payload, coded, 0xFF));
        longestZero = std::max(longestZero, LongestRun(payload, coded, 0x00));

        // Generous; tiny; every capacity around the table's end, where the coded
        // room starts, and around the payload's end, where the fast loop hands
        // over to the byte-wise one and a carry may walk back over the last bytes.
        std::vector<uint32_t> capacities = {length + 4096};
        for (uint32_t c = 0; c <= 16; ++c)
            capacities.push_back(c);
        for (uint32_t c = static_cast<uint32_t>(coded); c <= coded + 8; ++c)
            capacities.push_back(c);
        for (uint32_t c = std::max(length, 12u) - 12; c <= length + 2; ++c)
            capacities.push_back(c);
        capacities.push_back(Below(g, length));
        for (uint32_t capacity : capacities)
            ASSERT_TRUE(SameEncode(fast, block, capacity));
    }
    // The steered blocks really produced their runs.
    EXPECT_GE(longestFF, 16u);
    EXPECT_GE(longestZero, 16u);
}

} // namespace
