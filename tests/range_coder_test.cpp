#include "entropy/range_coder.h"

#include "tests/support/payloads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using tarv::CRangeCoder16;
using tarv::SymbolRecord;
using tarv_test::Bytes;
using tarv_test::FieldAt;
using tarv_test::kRecordBytes;
using tarv_test::Le32;
using tarv_test::Payload;
using tarv_test::Prepare;
using tarv_test::PutLe32;
using Samples = std::vector<uint16_t>;

constexpr uint8_t kGuard = 0xCD;
constexpr size_t kGuardBytes = 16;
constexpr uint16_t kUntouched = 0xA5A5;
constexpr uint32_t kMaxTableBytes = 4 + 12 * 65536;
constexpr uint32_t kTwoPow24 = 1u << 24;

// Room for any block, including 16-bit noise, which codes slightly above 2 bytes a sample.
uint32_t RoomFor(size_t n)
{
    return static_cast<uint32_t>(3 * n + kMaxTableBytes + 16);
}

struct Encoded {
    int rc = 0;
    uint32_t length = 0;
    Bytes payload; // the first `length` bytes of the buffer on success
    bool guardIntact = false;
};

// Encodes into a buffer of `capacity` bytes followed by guard bytes.
Encoded EncodeInto(CRangeCoder16& c, const Samples& s, uint32_t capacity)
{
    Bytes buffer(capacity + kGuardBytes, kGuard);
    uint16_t none = 0; // an empty block still needs a sample pointer
    Encoded e;
    e.length = capacity;
    e.rc = c.Encode(buffer.data(), e.length, s.empty() ? &none : s.data(),
                    static_cast<uint32_t>(s.size()));
    e.guardIntact = std::all_of(buffer.begin() + static_cast<ptrdiff_t>(capacity), buffer.end(),
                                [](uint8_t b) { return b == kGuard; });
    if (e.rc == 1 && e.length <= capacity)
        e.payload.assign(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(e.length));
    return e;
}

Bytes EncodeOk(CRangeCoder16& c, const Samples& s)
{
    Encoded e = EncodeInto(c, s, RoomFor(s.size()));
    EXPECT_EQ(e.rc, 1);
    EXPECT_EQ(e.length, e.payload.size());
    EXPECT_TRUE(e.guardIntact);
    return e.payload;
}

struct Decoded {
    int rc = 0;
    uint32_t count = 0;
    Samples out; // exactly `capacity` samples, prefilled with kUntouched
};

// Decodes from a payload whose heap block is exactly its size, into an output of exactly
// `capacity` samples, so that a read or write outside either trips the sanitizer.
Decoded DecodeFrom(CRangeCoder16& c, const Bytes& payload, uint32_t capacity)
{
    Bytes exact(payload.begin(), payload.end());
    Decoded d;
    d.out.assign(capacity, kUntouched);
    d.count = capacity;
    uint16_t none = kUntouched;
    uint8_t noBytes = 0;
    d.rc = c.Decode(exact.empty() ? &noBytes : exact.data(), static_cast<uint32_t>(exact.size()),
                    d.out.empty() ? &none : d.out.data(), d.count);
    EXPECT_EQ(none, kUntouched);
    return d;
}

bool UntouchedFrom(const Samples& out, size_t from)
{
    return std::all_of(out.begin() + static_cast<long>(std::min(from, out.size())), out.end(),
                       [](uint16_t v) { return v == kUntouched; });
}

// Residual-like data: small signed values wrapped into 16 bits, mostly near 0 and just
// below 65,536. Built from raw generator output only, so the data is the same everywhere.
Samples Skewed(std::mt19937& g, size_t n)
{
    Samples s(n);
    for (auto& v : s) {
        const uint32_t x = static_cast<uint32_t>(g());
        const int m = std::countr_zero(x | 0x10000u) * 4 + static_cast<int>((x >> 17) & 3);
        v = static_cast<uint16_t>((x >> 31) ? -m : m);
    }
    return s;
}

Samples Uniform(std::mt19937& g, size_t n)
{
    Samples s(n);
    for (auto& v : s)
        v = static_cast<uint16_t>(g() & 0xFFFF);
    return s;
}

// Bytes from hex pairs; spaces and bars only group them.
Bytes Hex(const char* text)
{
    Bytes out;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == ' ' || *c == '|')
            continue;
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(c, 2), nullptr, 16)));
        ++c;
    }
    return out;
}

struct Example {
    const char* name;
    Samples samples;
    Bytes payload;
};

const std::vector<Example>& Examples()
{
    static const std::vector<Example> examples = {
        {"four zeros",
         {0, 0, 0, 0},
         Hex("01 00 00 00 | 00 00 00 00 00 00 00 00 04 00 00 00 | 00 00 00 00")},
        {"0 0 0 1",
         {0, 0, 0, 1},
         Hex("02 00 00 00 | 00 00 00 00 00 00 00 00 03 00 00 00 | 01 00 00 00 03 00 00 00 01 00 00 "
             "00 |"
             "28 80 00 00")},
        {"empty block", {}, Hex("00 00 00 00 00 00 00 00")},
        // Ends in a held-back FF that only the final flush writes.
        {"5 5 5 5 2 5",
         {5, 5, 5, 5, 2, 5},
         Hex("02 00 00 00 | 02 00 00 00 00 00 00 00 01 00 00 00 | 05 00 00 00 01 00 00 00 05 00 00 "
             "00 |"
             "43 FC 7C FF")},
        // One shifted-out byte 0x42 that the last sample's carry turns into 0x43.
        {"100 255 1 2 255",
         {100, 255, 1, 2, 255},
         Hex("04 00 00 00 | 01 00 00 00 00 00 00 00 01 00 00 00 | 02 00 00 00 01 00 00 00 01 00 00 "
             "00 |"
             "64 00 00 00 02 00 00 00 01 00 00 00 | FF 00 00 00 03 00 00 00 02 00 00 00 |"
             "43 37 21 D0 32")},
    };
    return examples;
}

const Bytes& ExamplePayload(const char* name)
{
    for (const Example& e : Examples())
        if (std::strcmp(e.name, name) == 0)
            return e.payload;
    static const Bytes none;
    ADD_FAILURE() << name;
    return none;
}

class RangeCoderTest : public ::testing::Test {
protected:
    void SetUp() override { Prepare(coder); }
    CRangeCoder16 coder;
};

TEST_F(RangeCoderTest, EncodesExamplesByteForByte)
{
    for (const Example& ex : Examples()) {
        SCOPED_TRACE(ex.name);
        Encoded e = EncodeInto(coder, ex.samples, 100);
        ASSERT_EQ(e.rc, 1);
        EXPECT_EQ(e.length, ex.payload.size());
        EXPECT_EQ(e.payload, ex.payload);
        EXPECT_TRUE(e.guardIntact);
    }
}

TEST_F(RangeCoderTest, DecodesExamples)
{
    for (const Example& ex : Examples()) {
        SCOPED_TRACE(ex.name);
        Decoded d = DecodeFrom(coder, ex.payload, static_cast<uint32_t>(ex.samples.size() + 3));
        ASSERT_EQ(d.rc, 1);
        EXPECT_EQ(d.count, 2 * ex.samples.size());
        EXPECT_EQ(Samples(d.out.begin(), d.out.begin() + static_cast<long>(ex.samples.size())),
                  ex.samples);
        EXPECT_TRUE(UntouchedFrom(d.out, ex.samples.size()));
    }
}

TEST_F(RangeCoderTest, CapacityBelowPayloadFailsWithoutOverrun)
{
    std::mt19937 g(7);
    std::vector<std::pair<Samples, Bytes>> blocks;
    for (const Example& ex : Examples())
        blocks.emplace_back(ex.samples, ex.payload);
    Samples skewed = Skewed(g, 3001);
    blocks.emplace_back(skewed, EncodeOk(coder, skewed));
    for (const auto& [samples, payload] : blocks) {
        SCOPED_TRACE(payload.size());
        const auto size = static_cast<uint32_t>(payload.size());
        // Every shortfall down to 0, including cuts inside the table and inside held bytes.
        for (uint32_t cap = size <= 64 ? 0 : size - 40; cap < size; ++cap) {
            SCOPED_TRACE(cap);
            Encoded e = EncodeInto(coder, samples, cap);
            EXPECT_EQ(e.rc, 0);
            EXPECT_EQ(e.length, cap);
            EXPECT_TRUE(e.guardIntact);
        }
        Encoded exact = EncodeInto(coder, samples, size);
        EXPECT_EQ(exact.rc, 1);
        EXPECT_EQ(exact.payload, payload);
        EXPECT_TRUE(exact.guardIntact);
    }
}

TEST_F(RangeCoderTest, EncodeRejectsMissingInputsAndShortTable)
{
    const Samples s{1, 2, 3};
    Bytes out(64, kGuard);
    uint32_t length = 64;
    EXPECT_EQ(coder.Encode(nullptr, length, s.data(), 3), 0);
    EXPECT_EQ(coder.Encode(out.data(), length, nullptr, 3), 0);
    EXPECT_EQ(coder.Encode(out.data(), length, nullptr, 0), 0);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(out, Bytes(64, kGuard));

    CRangeCoder16 noTable;
    noTable.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    EXPECT_EQ(noTable.Encode(out.data(), length, s.data(), 3), 0);
    coder.FreeTable();
    EXPECT_FALSE(coder.HasTable());
    EXPECT_EQ(coder.Encode(out.data(), length, s.data(), 3), 0);
    // The encoder indexes its table by sample value; a short table must not be overrun.
    CRangeCoder16 small;
    small.SetSymbolCount(256);
    ASSERT_EQ(small.AllocateTable(), 1);
    const Samples wide{1, 300, 65535};
    EXPECT_EQ(small.Encode(out.data(), length, wide.data(), 3), 0);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(out, Bytes(64, kGuard));
}

TEST(RangeCoderTable, AllocateRefusesByteSizesBeyond32Bits)
{
    for (uint32_t n : {0x20000000u, 0x15555556u, 0xFFFFFFFFu}) {
        CRangeCoder16 c;
        c.SetSymbolCount(n);
        EXPECT_EQ(c.AllocateTable(), 0) << n;
        EXPECT_FALSE(c.HasTable());
    }
}

TEST_F(RangeCoderTest, RoundTripsFromFixedSeeds)
{
    struct Source {
        const char* name;
        std::function<Samples(std::mt19937&, size_t)> make;
    };
    const Source sources[] = {
        {"uniform", Uniform},
        {"skewed", Skewed},
        {"single symbol", [](std::mt19937&, size_t n) { return Samples(n, 0x8001); }},
        {"two extremes",
         [](std::mt19937& g, size_t n) {
             Samples s(n);
             for (auto& v : s)
                 v = (g() % 8 == 0) ? 0xFFFF : 0;
             return s;
         }},
        {"1000 values",
         [](std::mt19937& g, size_t n) {
             Samples s(n);
             for (auto& v : s)
                 v = static_cast<uint16_t>(64000 + g() % 1000);
             return s;
         }},
    };
    const size_t sizes[] = {0, 1, 2, 3, 17, 255, 1000, 4099, 65537, 300007};
    uint32_t seed = 1;
    for (const Source& src : sources) {
        for (size_t n : sizes) {
            SCOPED_TRACE(testing::Message() << src.name << " n=" << n);
            std::mt19937 g(seed++);
            const Samples s = src.make(g, n);
            Bytes p = EncodeOk(coder, s);
            Decoded d = DecodeFrom(coder, p, static_cast<uint32_t>(n + 5));
            ASSERT_EQ(d.rc, 1);
            EXPECT_EQ(d.count, 2 * n);
            EXPECT_TRUE(std::equal(s.begin(), s.end(), d.out.begin()));
            EXPECT_TRUE(UntouchedFrom(d.out, n));
        }
    }
}

TEST_F(RangeCoderTest, FullAndNearlyFullAlphabetsRoundTrip)
{
    // 65,536 and 65,535 records: the search must reach every entry, including the ends.
    std::mt19937 g(5);
    for (int missing : {-1, 0, 32768, 65535}) {
        SCOPED_TRACE(missing);
        Samples s;
        for (uint32_t v = 0; v < 65536; ++v)
            if (static_cast<int>(v) != missing)
                s.push_back(static_cast<uint16_t>(v));
        std::shuffle(s.begin(), s.end(), g);
        Bytes p = EncodeOk(coder, s);
        EXPECT_EQ(Le32(p, 0), missing < 0 ? 65536u : 65535u);
        Decoded d = DecodeFrom(coder, p, static_cast<uint32_t>(s.size()));
        ASSERT_EQ(d.rc, 1);
        EXPECT_EQ(d.count, 2 * s.size());
        EXPECT_EQ(d.out, s);
    }
}

TEST_F(RangeCoderTest, ReusedCoderMatchesFreshCoder)
{
    // Nothing from a previous block, encoded or decoded, may leak into the next one.
    std::mt19937 g(3);
    const Samples a = Uniform(g, 20000);
    const Samples b = Skewed(g, 999);
    Bytes pa = EncodeOk(coder, a);
    Decoded da = DecodeFrom(coder, pa, 20000);
    EXPECT_EQ(da.out, a);
    Bytes pb = EncodeOk(coder, b);
    CRangeCoder16 fresh;
    Prepare(fresh);
    EXPECT_EQ(pb, EncodeOk(fresh, b));
    Decoded db = DecodeFrom(coder, pb, 999);
    ASSERT_EQ(db.rc, 1);
    EXPECT_EQ(db.out, b);
    Decoded dex = DecodeFrom(coder, ExamplePayload("0 0 0 1"), 4);
    EXPECT_EQ(dex.out, (Samples{0, 0, 0, 1}));
}

TEST_F(RangeCoderTest, OneRepeatedValueCodesIntoTwentyBytes)
{
    for (uint32_t n : {1u, 3u, 1000003u, kTwoPow24, 2 * kTwoPow24}) {
        for (uint16_t v : {uint16_t{0}, uint16_t{0xBEEF}}) {
            if (n >= kTwoPow24 && v == 0)
                continue; // the long blocks once are enough
            SCOPED_TRACE(testing::Message() << "n=" << n << " v=" << v);
            const Samples s(n, v);
            Bytes expected = Payload({{v, 0, n}}, {0, 0, 0, 0});
            EXPECT_EQ(EncodeOk(coder, s), expected);
            if (n > kTwoPow24)
                continue;
            Decoded d = DecodeFrom(coder, expected, n);
            ASSERT_EQ(d.rc, 1);
            EXPECT_EQ(d.count, 2 * n);
            EXPECT_TRUE(d.out == s);
        }
    }
}

TEST_F(RangeCoderTest, LargestGuaranteedBlockOfNoiseRoundTrips)
{
    std::mt19937 g(24);
    const Samples s = Uniform(g, kTwoPow24);
    Bytes p = EncodeOk(coder, s);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(Le32(p, 0), 65536u);
    Decoded d = DecodeFrom(coder, p, kTwoPow24);
    ASSERT_EQ(d.rc, 1);
    EXPECT_EQ(d.count, 2 * kTwoPow24);
    EXPECT_TRUE(d.out == s);
}

TEST_F(RangeCoderTest, DiverseBlockBeyondTwoPow24FailsOnZeroRange)
{
    std::mt19937 g(1);
    const Samples s = Uniform(g, 2 * kTwoPow24);
    Encoded e = EncodeInto(coder, s, static_cast<uint32_t>(2 * s.size() + kMaxTableBytes + 64));
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.length, 2 * s.size() + kMaxTableBytes + 64);
    EXPECT_TRUE(e.guardIntact);
}

TEST_F(RangeCoderTest, DecodeRejectsMissingInputsAndZeroTotal)
{
    const Bytes& p = ExamplePayload("0 0 0 1");
    Samples out(8, kUntouched);
    uint32_t count = 8;
    EXPECT_EQ(coder.Decode(nullptr, 32, out.data(), count), 0);
    EXPECT_EQ(coder.Decode(p.data(), 32, nullptr, count), 0);
    CRangeCoder16 noTable;
    noTable.SetSymbolCount(CRangeCoder16::kAlphabetSize);
    count = 8;
    EXPECT_EQ(noTable.Decode(p.data(), 32, out.data(), count), 0);
    // A zero total (nothing loaded, or only freq-0 records) must not be divided by.
    EXPECT_EQ(noTable.DecodeSymbol(out.data()), 0);
    EXPECT_EQ(coder.DecodeSymbol(out.data()), 0);
    EXPECT_EQ(DecodeFrom(coder, Payload({{5, 0, 0}}, {1, 2, 3, 4}), 4).rc, 1);
    EXPECT_EQ(coder.DecodeSymbol(out.data()), 0);
    EXPECT_EQ(out, Samples(8, kUntouched));
}

TEST_F(RangeCoderTest, DamagedHeadersFailBeforeWriting)
{
    const Bytes& p = ExamplePayload("0 0 0 1"); // N = 2, table ends at 28
    Bytes tooMany(4 + 12 * 65537 + 4, 0);
    PutLe32(tooMany, 0, 65537);
    struct Case {
        const char* name;
        Bytes payload;
    };
    const Case cases[] = {
        {"empty", {}},
        {"3 bytes", Bytes(p.begin(), p.begin() + 3)},
        {"count only", Bytes(p.begin(), p.begin() + 4)},
        {"ends in first record", Bytes(p.begin(), p.begin() + 10)},
        {"ends one byte short of table", Bytes(p.begin(), p.begin() + 27)},
        {"N = 65537", tooMany},
        {"total above capacity", p}, // capacity below is 3 samples, total is 4
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = DecodeFrom(coder, c.payload, 3);
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(UntouchedFrom(d.out, 0));
    }
    // N is checked against the coder's own table, not the alphabet.
    CRangeCoder16 small;
    small.SetSymbolCount(3);
    ASSERT_EQ(small.AllocateTable(), 1);
    EXPECT_EQ(DecodeFrom(small, ExamplePayload("100 255 1 2 255"), 5).rc, 0);
    Decoded ok = DecodeFrom(small, p, 4);
    EXPECT_EQ(ok.rc, 1);
    EXPECT_EQ(ok.out, (Samples{0, 0, 0, 1}));
}

TEST_F(RangeCoderTest, PayloadsWithNothingToDecodeSucceedEmpty)
{
    const Bytes& p = ExamplePayload("0 0 0 1");
    const Bytes& q = ExamplePayload("100 255 1 2 255"); // N = 4, table ends at 52
    Bytes fullTable = Payload(std::vector<SymbolRecord>(65536, SymbolRecord{0, 0, 1}), {});
    const Bytes cases[] = {
        ExamplePayload("empty block"),
        Bytes(p.begin(), p.begin() + 28), // table without coded bytes
        Bytes(q.begin(), q.begin() + 52),
        fullTable,
        Payload({{5, 0, 0}}, {0x12, 0x34, 0x56, 0x78}), // total 0
    };
    for (const Bytes& payload : cases) {
        SCOPED_TRACE(payload.size());
        // The capacity is below most of these totals; with nothing to decode it is not checked.
        Decoded d = DecodeFrom(coder, payload, 2);
        EXPECT_EQ(d.rc, 1);
        EXPECT_EQ(d.count, 0u);
        EXPECT_TRUE(UntouchedFrom(d.out, 0));
    }
}

TEST_F(RangeCoderTest, DamagedTablesFailAfterDocumentedSamples)
{
    Bytes gap = ExamplePayload("0 0 0 1");
    PutLe32(gap, 20, 4); // second record's cumFreq 3 -> 4: value 3 lies in no interval
    struct Case {
        const char* name;
        Bytes payload;
        size_t written; // samples written before the failure
    };
    const Case cases[] = {
        {"gap in cumFreq", gap, 3},
        {"coded value in unused top of range", Payload({{7, 0, 3}}, {0x7F, 0xFF, 0xFF, 0xFF}), 0},
        {"coded value at the very top", Payload({{7, 0, 3}}, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
        // Total 4 (8 + 2^32 - 4), so r = 2^29 and r * 8 wraps the range to 0.
        {"range wraps to zero", Payload({{0, 0, 8}, {1, 8, 0xFFFFFFFC}}, {0, 0, 0, 0}), 1},
    };
    // A table exactly as long as the records, so a search index past them is caught.
    CRangeCoder16 tight;
    tight.SetSymbolCount(2);
    ASSERT_EQ(tight.AllocateTable(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = DecodeFrom(tight, c.payload, 8);
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(std::all_of(d.out.begin(), d.out.begin() + static_cast<long>(c.written),
                                [](uint16_t v) { return v <= 7; }));
        EXPECT_TRUE(UntouchedFrom(d.out, c.written));
    }
}

TEST_F(RangeCoderTest, CutShortCodedBytesDecodeWhatTheyCan)
{
    const Bytes& p = ExamplePayload("100 255 1 2 255");
    struct Case {
        size_t cut;
        Samples expected;
    };
    // Missing bytes read as 0: the last sample goes wrong, then the decoder runs out early.
    const Case cases[] = {
        {1, {100, 255, 1, 2, 100}},
        {2, {100, 255, 1, 2, 100}},
        {3, {100, 255, 1, 2, 100}},
        {4, {100, 255, 1, 2}},
        {5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cut);
        Decoded d = DecodeFrom(coder, Bytes(p.begin(), p.end() - static_cast<long>(c.cut)), 5);
        ASSERT_EQ(d.rc, 1);
        EXPECT_EQ(d.count, 2 * c.expected.size());
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), d.out.begin()));
        EXPECT_TRUE(UntouchedFrom(d.out, c.expected.size()));
    }

    std::mt19937 g(99);
    const Samples s = Skewed(g, 50000);
    const Bytes full = EncodeOk(coder, s);
    const size_t coded = full.size() - 4 - 12 * Le32(full, 0);
    for (size_t cut :
         {size_t{1}, size_t{4}, size_t{5}, size_t{8}, size_t{100}, coded / 2, coded - 1}) {
        SCOPED_TRACE(cut);
        Decoded d =
            DecodeFrom(coder, Bytes(full.begin(), full.end() - static_cast<long>(cut)), 50000);
        ASSERT_EQ(d.rc, 1);
        ASSERT_LE(d.count, 2 * s.size());
        // Cut into the shifted-out bytes, the decoder runs out before the last sample.
        if (cut >= 5) {
            EXPECT_LT(d.count, 2 * s.size());
        }
        const size_t got = d.count / 2;
        // Only the last few samples before the cut can go wrong.
        const size_t sure = got > 4 ? got - 4 : 0;
        EXPECT_TRUE(std::equal(s.begin(), s.begin() + static_cast<long>(sure), d.out.begin()));
        EXPECT_TRUE(UntouchedFrom(d.out, got));
    }
}

TEST_F(RangeCoderTest, TrailingBytesAreIgnored)
{
    std::mt19937 g(8);
    const Samples s = Skewed(g, 1234);
    Bytes p = EncodeOk(coder, s);
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
        SCOPED_TRACE(int{fill});
        Bytes longer = p;
        longer.insert(longer.end(), 9, fill);
        Decoded d = DecodeFrom(coder, longer, 1234);
        ASSERT_EQ(d.rc, 1);
        EXPECT_EQ(d.count, 2 * 1234u);
        EXPECT_EQ(d.out, s);
    }
}

TEST_F(RangeCoderTest, CorruptedPayloadsStayInsideBuffers)
{
    // No damage may move a read or write outside the buffers; ASan checks the rest.
    std::mt19937 g(2024);
    const Samples s = Skewed(g, 400);
    const Bytes p = EncodeOk(coder, s);
    // A table exactly as long as the records, so a search index past them is caught.
    CRangeCoder16 tight;
    tight.SetSymbolCount(Le32(p, 0));
    ASSERT_EQ(tight.AllocateTable(), 1);
    for (int trial = 0; trial < 400; ++trial) {
        Bytes damaged = p;
        const auto edits = 1 + g() % 3;
        for (decltype(g()) e = 0; e < edits; ++e)
            damaged[g() % damaged.size()] = static_cast<uint8_t>(g());
        if (trial % 4 == 0)
            damaged.resize(g() % damaged.size());
        Decoded d = DecodeFrom(tight, damaged, 400);
        if (d.rc == 1) {
            EXPECT_LE(d.count, 800u);
            EXPECT_EQ(d.count % 2, 0u);
            EXPECT_TRUE(UntouchedFrom(d.out, d.count / 2));
        }
    }
}

} // namespace
