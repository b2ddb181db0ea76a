#include "entropy/range_coder.h"

#include "entropy/allocation.h"

#include <algorithm>

namespace tarv {

namespace {

uint32_t ReadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint64_t kRecordBytes = sizeof(SymbolRecord);
constexpr uint64_t kCountBytes = 4;

void WriteLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void WriteBE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t ReadBE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// Bytes renormalisation shifts out of a nonzero range: the loop "while range <
// 2^24, shift by 8" runs clz(range) / 8 times.
unsigned ShiftBytes(uint32_t range)
{
    return static_cast<unsigned>(__builtin_clz(range)) >> 3;
}

// floor(n / d) for a divisor fixed per block, by a multiply: with
// m = ceil(2^64 / d), floor(n * m / 2^64) = floor(n / d) for all 32-bit n and
// d >= 2 (Lemire, Kaser and Kurz, 2019). d = 1 is kept apart (m would be 2^64).
class Reciprocal {
public:
    explicit Reciprocal(uint32_t d) : m_d(d), m_m(d > 1 ? UINT64_MAX / d + 1 : 0) {}
    uint32_t Divide(uint32_t n) const
    {
#if defined(__SIZEOF_INT128__)
        if (m_d == 1)
            return n;
        __extension__ using Wide = unsigned __int128; // one 64x64 multiply
        return static_cast<uint32_t>((static_cast<Wide>(m_m) * n) >> 64);
#else
        return n / m_d;
#endif
    }

private:
    uint32_t m_d;
    uint64_t m_m;
};

// Adds 1 to the number the bytes before `end` form: 0xFF bytes turn to 0 and
// the carry moves on, up to the first byte that is not 0xFF.
void PropagateCarry(uint8_t* begin, uint8_t* end)
{
    while (end != begin && ++*--end == 0) {
    }
}

// Coded byte i of `size`; those past the payload's end read as 0.
uint32_t CodedByte(const uint8_t* coded, uint32_t size, uint32_t i)
{
    return i < size ? coded[i] : 0u;
}

// The decoder's byte-wise renormalisation: while range < 2^24, both shift left
// by 8 and the next coded byte enters low. `taken` counts the bytes taken after
// the first four and stops at `size`, after which only zeros enter; false once
// it is there, when the coded bytes have run out.
bool ShiftInBytes(uint32_t& low, uint32_t& range, const uint8_t* coded, uint32_t size,
                  uint32_t& taken)
{
    while (range < CRangeCoder16::kRangeBottom) {
        low <<= 8;
        range <<= 8;
        if (taken < size) {
            low |= CodedByte(coded, size, 4 + taken);
            ++taken;
        }
    }
    return taken != size;
}

} // namespace

// ---- CRangeCoder16: table ------------------------------------------------

CRangeCoder16::~CRangeCoder16()
{
    FreeTable();
}

int CRangeCoder16::AllocateTable()
{
    if (m_table)
        return 1;
    if (static_cast<uint64_t>(m_symbolCount) * kRecordBytes > UINT32_MAX)
        return 0;
    static_assert((1u << kBucketBits) / 2 <= kCountTables * kAlphabetSize,
                  "the buckets fit in the counters' scratch");
    m_scratch.reset(NewArray<uint32_t>(kCountTables * kAlphabetSize, false));
    if (!m_scratch)
        return 0;
    m_table.reset(NewArray<SymbolRecord>(m_symbolCount, false));
    if (!m_table) {
        m_scratch.reset();
        return 0;
    }
    return 1;
}

void CRangeCoder16::FreeTable()
{
    m_table.reset();
    m_scratch.reset();
}

// ---- CRangeCoder16: encoder ----------------------------------------------

uint32_t CRangeCoder16::CountSamples(const uint16_t* samples, uint32_t count)
{
    uint32_t* counts = m_scratch.get();
    if (counts == nullptr)
        return 0;
    std::fill_n(counts, kCountTables * kAlphabetSize, 0u);
    uint32_t i = 0;
    for (; i + kCountTables <= count; i += kCountTables) {
        ++counts[samples[i]];
        ++counts[kAlphabetSize + samples[i + 1]];
        ++counts[2 * kAlphabetSize + samples[i + 2]];
        ++counts[3 * kAlphabetSize + samples[i + 3]];
    }
    for (; i < count; ++i)
        ++counts[samples[i]];

    SymbolRecord* table = m_table.get();
    uint32_t used = 0, cumulative = 0;
    for (uint32_t v = 0; v < kAlphabetSize; ++v) {
        const uint32_t freq = counts[v] + counts[kAlphabetSize + v] +
                              counts[2 * kAlphabetSize + v] + counts[3 * kAlphabetSize + v];
        table[v] = SymbolRecord{v, cumulative, freq};
        cumulative += freq;
        used += freq != 0 ? 1 : 0;
    }
    return used;
}

int CRangeCoder16::Encode(uint8_t* output, uint32_t& length, const uint16_t* samples,
                          uint32_t count)
{
    // The encoder indexes the table by sample value, so it needs every value.
    if (!m_table || !m_scratch || output == nullptr || samples == nullptr ||
        m_symbolCount < kAlphabetSize)
        return 0;
    const uint32_t used = CountSamples(samples, count);
    const SymbolRecord* table = m_table.get();

    // The table: records of the values present, in symbol order, which is
    // also cumFreq order.
    const uint64_t capacity = length;
    const uint64_t tableBytes = kCountBytes + kRecordBytes * used;
    if (tableBytes > capacity)
        return 0;
    WriteLE32(output, used);
    uint8_t* record = output + kCountBytes;
    for (uint32_t v = 0; v < kAlphabetSize; ++v) {
        if (table[v].freq == 0)
            continue;
        WriteLE32(record, table[v].symbol);
        WriteLE32(record + 4, table[v].cumFreq);
        WriteLE32(record + 8, table[v].freq);
        record += kRecordBytes;
    }

    uint8_t* const coded = record;
    const uint64_t room = capacity - tableBytes;
    uint64_t pos = 0;
    uint32_t low = 0, range = kInitialRange;
    const Reciprocal perSample(count > 0 ? count : 1);
    for (uint32_t i = 0; i < count; ++i) {
        const SymbolRecord& e = table[samples[i]];
        const uint32_t r = perSample.Divide(range);
        const uint32_t next = low + r * e.cumFreq;
        range = r * e.freq;
        if (range == 0)
            return 0;
        if (next < low)
            PropagateCarry(coded, coded + pos);
        low = next;
        if (pos + 4 <= room) {
            // Four bytes stored, the shifted-out ones kept.
            const unsigned n = ShiftBytes(range);
            WriteBE32(coded + pos, low);
            pos += n;
            low = static_cast<uint32_t>(static_cast<uint64_t>(low) << (8 * n));
            range <<= 8 * n;
            continue;
        }
        while (range < kRangeBottom) {
            if (pos >= room)
                return 0;
            coded[pos++] = static_cast<uint8_t>(low >> 24);
            low <<= 8;
            range <<= 8;
        }
    }
    if (pos + 4 > room)
        return 0;
    WriteBE32(coded + pos, low);
    length = static_cast<uint32_t>(tableBytes + pos + 4);
    return 1;
}

// ---- CRangeCoder16: decoder ----------------------------------------------

int CRangeCoder16::Decode(const uint8_t* payload, uint32_t length, uint16_t* output,
                          uint32_t& count)
{
    CodedBytes coded;
    const Loaded loaded = LoadPayload(payload, length, output, count, coded);
    if (loaded != Loaded::Samples)
        return loaded == Loaded::NothingToDecode ? 1 : 0;
    return PrepareLookup() ? DecodeWithLookup(coded, output, count)
                           : DecodeWithSearch(coded, output, count);
}

CRangeCoder16::Loaded CRangeCoder16::LoadPayload(const uint8_t* payload, uint32_t length,
                                                 const uint16_t* output, uint32_t& count,
                                                 CodedBytes& coded)
{
    if (!m_table || output == nullptr || payload == nullptr)
        return Loaded::Failed;
    if (length < kCountBytes)
        return Loaded::Failed;
    const uint32_t n = ReadLE32(payload);
    const uint64_t tableEnd = kCountBytes + kRecordBytes * n;
    if (n > m_symbolCount || length < tableEnd)
        return Loaded::Failed;

    m_entryCount = n;
    m_total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* rec = payload + kCountBytes + kRecordBytes * i;
        m_table[i] = SymbolRecord{ReadLE32(rec), ReadLE32(rec + 4), ReadLE32(rec + 8)};
        m_total += m_table[i].freq;
    }

    coded = {payload + tableEnd, length - static_cast<uint32_t>(tableEnd)};
    m_low = 0;
    for (uint32_t i = 0; i < 4; ++i)
        m_low = m_low << 8 | CodedByte(coded.data, coded.size, i);
    m_range = kInitialRange;

    if (coded.size == 0 || m_total == 0) {
        count = 0;
        return Loaded::NothingToDecode;
    }
    return m_total > count ? Loaded::Failed : Loaded::Samples;
}

bool CRangeCoder16::PrepareLookup()
{
    const SymbolRecord* table = m_table.get();
    const uint32_t n = m_entryCount;
    if (!m_scratch || n == 0 || table[0].cumFreq != 0)
        return false;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (table[i].freq == 0 || table[i].cumFreq != sum)
            return false;
        sum += table[i].freq;
    }
    if (sum != m_total)
        return false;

    // Bucket b covers scaled values [b << shift, (b + 1) << shift).
    uint32_t shift = 0;
    while (((m_total - 1) >> shift) >= (1u << kBucketBits))
        ++shift;
    m_bucketShift = shift;
    auto* buckets = reinterpret_cast<uint16_t*>(m_scratch.get());
    uint32_t record = 0;
    const uint32_t last = (m_total - 1) >> shift;
    for (uint32_t b = 0; b <= last; ++b) {
        const uint64_t value = static_cast<uint64_t>(b) << shift;
        while (table[record].cumFreq + static_cast<uint64_t>(table[record].freq) <= value)
            ++record;
        buckets[b] = static_cast<uint16_t>(record);
    }
    return true;
}

int CRangeCoder16::DecodeWithLookup(CodedBytes coded, uint16_t* output, uint32_t& count)
{
    const SymbolRecord* table = m_table.get();
    const auto* buckets = reinterpret_cast<const uint16_t*>(m_scratch.get());
    const uint32_t total = m_total, shift = m_bucketShift;
    const Reciprocal perSample(total);
    uint32_t low = m_low, range = m_range, taken = 0, n = 0;
    // The coder keeps the state of the last good sample, as the search does,
    // for a caller that goes on with DecodeSymbol.
    auto fail = [&] {
        m_low = low;
        m_range = range;
        return 0;
    };
    for (;;) {
        const uint32_t r = perSample.Divide(range);
        if (r == 0)
            return fail();
        const uint32_t v = low / r;
        if (v >= total)
            return fail(); // no record covers it: the search would run out of probes
        uint32_t i = buckets[v >> shift];
        while (v >= table[i].cumFreq + table[i].freq)
            ++i;
        const SymbolRecord& e = table[i];
        output[n++] = static_cast<uint16_t>(e.symbol);
        range = r * e.freq;
        low -= r * e.cumFreq;
        if (n == total)
            break;
        // A sound table never makes the range 0: r * freq <= r * total <= range.
        if (taken + 8 <= coded.size) {
            const unsigned shiftIn = ShiftBytes(range);
            const uint64_t window =
                static_cast<uint64_t>(low) << 32 | ReadBE32(coded.data + 4 + taken);
            low = static_cast<uint32_t>(window >> (32 - 8 * shiftIn));
            range <<= 8 * shiftIn;
            taken += shiftIn;
            continue;
        }
        if (!ShiftInBytes(low, range, coded.data, coded.size, taken))
            break;
    }
    m_low = low;
    m_range = range;
    count = 2 * n;
    return 1;
}

int CRangeCoder16::DecodeWithSearch(CodedBytes coded, uint16_t* output, uint32_t& count)
{
    // taken counts the bytes after the first four. Its bound is all coded bytes,
    // not those less four: the last samples of a complete payload may still need
    // up to four zero shifts, and only a cut-short payload reaches the bound early.
    uint32_t decoded = 0, taken = 0;
    for (;;) {
        if (!DecodeSymbol(output + decoded))
            return 0;
        ++decoded;
        if (decoded == m_total)
            break;
        if (m_range == 0)
            return 0;
        if (!ShiftInBytes(m_low, m_range, coded.data, coded.size, taken))
            break;
    }
    count = 2 * decoded;
    return 1;
}

int CRangeCoder16::DecodeSymbol(uint16_t* output)
{
    // Decode never calls this without entries or a total; a direct caller might.
    if (!m_table || output == nullptr || m_entryCount == 0 || m_total == 0)
        return 0;
    const uint32_t r = m_range / m_total;
    if (r == 0)
        return 0;
    const uint32_t v = m_low / r;

    const SymbolRecord* table = m_table.get();
    const uint32_t last = m_entryCount - 1;
    uint32_t c = m_entryCount / 2;
    uint32_t d = c;
    for (uint32_t probe = 0; probe < kMaxSearchProbes; ++probe) {
        d = std::max(d / 2, 1u);
        const SymbolRecord& e = table[c];
        if (v < e.cumFreq) {
            c = c >= d ? c - d : 0;
        } else if (v < e.cumFreq + e.freq) {
            *output = static_cast<uint16_t>(e.symbol);
            m_range = r * e.freq;
            m_low -= r * e.cumFreq;
            return 1;
        } else if (v > e.cumFreq) {
            c = std::min(c + d, last);
        } else {
            // v == cumFreq with freq 0: a damaged table; keep walking down.
            c = c >= d ? c - d : 0;
        }
    }
    return 0;
}

} // namespace tarv
