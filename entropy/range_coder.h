// Static-model range coder over 16-bit samples: the coder that ships.
//
// Payload (one block of samples, nothing else):
//   N (u32 LE) | N x SymbolRecord {symbol, cumFreq, freq} (u32 LE each) | coded bytes (MSB first)
// The records list each value present in the block, ascending, with contiguous
// cumulative counts; their total T is the block's sample count.
//
// Contract
// - Coding step: r = range / T; low += r * cumFreq; range = r * freq. While range
//   < 2^24, the top byte of low leaves and both shift left by 8. The interval only
//   shrinks, and r * T <= range keeps every new interval inside the old one.
// - 2^24 samples always fit: after normalisation range >= 2^24, so for T <= 2^24
//   r >= 1 and r * freq >= 1; the range can never reach 0. A larger block codes
//   only while the range happens to stay >= T; when it does not, Encode fails.
// - Carries: low keeps only its newest 32 bits, so a sum past 2^32 must add 1 to
//   bytes already written: 0xFF bytes turn to 0 until the first byte that is not
//   0xFF takes the 1. Before the first shift the interval lies in [0, 2^31), so
//   no carry can happen and the first byte shifted out is below 0x80. The coded
//   number never leaves the first interval, so a carry always stops inside the
//   coded bytes and never reaches the table.
// - Capacity: the encoder never writes at or past its capacity. A block that does
//   not fit makes Encode fail with the length argument unchanged.
// - The decoder checks whatever could move a read or a write outside its buffers:
//   N against the table size, the length against the table, T against the output
//   capacity, a zero quotient, the search index (kept in [0, N-1], at most 256
//   probes), and coded bytes past the payload's end, which read as 0. It trusts
//   the table's order, contiguity and total: a damaged table decodes to wrong
//   samples, fails, or stops early, but never touches memory outside its buffers.
// - Nothing throws: every allocation is non-throwing and a failure is a result 0.
//
// Speed, without changing a byte or a result of the steps above (the plain model
// in reference/range_coder.h follows them literally, and tests hold the two equal):
// - r = range / T is a multiply by a 64-bit reciprocal of T, exact for every
//   32-bit range and every T >= 2 (ceil(2^64 / T) times n, shifted down 64).
// - The encoder writes bytes straight to the output and a carry walks back over
//   the 0xFF bytes it turns to 0. Renormalisation shifts out clz(range) / 8 bytes
//   at once, the count the loop would take; four bytes are stored and only those
//   count, so the fast loop runs while four bytes of room remain and a byte-wise
//   loop finishes. The decoder likewise shifts its bytes in at once from a
//   four-byte window while eight coded bytes remain, and one by one near the end.
// - The decoder checks once per block that the loaded table is sound (first
//   cumFreq 0, every freq above 0, each cumFreq the sum of those before, the
//   total within 32 bits). Only then is the record found through a bucket table
//   over the high bits of the scaled value: for a sound table the halving search
//   finds the one record covering the value, or fails when the value is at or
//   past the total, and so does the lookup. Any other table takes the search.
#pragma once

#include <cstdint>
#include <memory>

namespace tarv {

struct SymbolRecord {
    uint32_t symbol;
    uint32_t cumFreq;
    uint32_t freq;
};
static_assert(sizeof(SymbolRecord) == 12, "a record is three packed 32-bit fields");

class CRangeCoder16 {
public:
    static constexpr uint32_t kAlphabetSize = 0x10000;
    static constexpr uint32_t kInitialRange = 0x80000000u;
    static constexpr uint32_t kRangeBottom = 0x1000000u;
    static constexpr uint32_t kMaxSearchProbes = 256;
    // Bytes of the largest table: the count and one record for every value.
    static constexpr uint32_t kMaxTableBytes = 4 + 12 * kAlphabetSize;

    CRangeCoder16() = default;
    CRangeCoder16(const CRangeCoder16&) = delete;
    CRangeCoder16& operator=(const CRangeCoder16&) = delete;
    virtual ~CRangeCoder16();

    // The frequency table, owned by the coder and managed by the codec object:
    // allocated once per stream and reused by every block.
    void SetSymbolCount(uint32_t count) { m_symbolCount = count; }
    uint32_t SymbolCount() const { return m_symbolCount; }
    bool HasTable() const { return m_table != nullptr; }
    // Allocates m_symbolCount records, and the coder's scratch, unless a table
    // is present: 1 on success, 0 when an allocation fails (nothing is kept) or
    // the table's byte size does not fit in 32 bits.
    int AllocateTable();
    void FreeTable();

    // Codes `count` samples into `output`. `length` is the capacity in, the
    // payload length out; it is left unchanged on failure. 1 on success, 0 on failure.
    int Encode(uint8_t* output, uint32_t& length, const uint16_t* samples, uint32_t count);

    // Decodes a payload of `length` bytes. `count` is the capacity of `output`
    // in samples in, twice the number of samples written out. 1 on success
    // (possibly fewer samples than the table's total when the coded bytes are
    // cut short), 0 on failure.
    int Decode(const uint8_t* payload, uint32_t length, uint16_t* output, uint32_t& count);
    // Decodes one sample with the loaded table, by the halving search; 1 on
    // success, 0 on failure.
    int DecodeSymbol(uint16_t* output);

private:
    // Fills the table in symbol order from the samples: counts and cumulative
    // counts. Returns the number of values present, or 0 without scratch memory.
    uint32_t CountSamples(const uint16_t* samples, uint32_t count);

    // The coded bytes of the payload being decoded: all that follows its table.
    struct CodedBytes {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
    };
    enum class Loaded { Failed, NothingToDecode, Samples };
    // Decode up to its first sample: checks the arguments, loads the table, its
    // total and the first four coded bytes. With nothing to decode (no coded
    // bytes or a total of 0) `count` becomes 0; Samples means m_total samples
    // fit in `count` and wait in `coded`.
    Loaded LoadPayload(const uint8_t* payload, uint32_t length, const uint16_t* output,
                       uint32_t& count, CodedBytes& coded);
    // True when the loaded table is sound, with the bucket table built for it.
    bool PrepareLookup();
    // The two ways to the samples of a loaded payload, each setting `count` to
    // twice the samples written: the bucket lookup for a sound table, and the
    // halving search for any table.
    int DecodeWithLookup(CodedBytes coded, uint16_t* output, uint32_t& count);
    int DecodeWithSearch(CodedBytes coded, uint16_t* output, uint32_t& count);

    // The plain model of reference/range_coder.h decodes through the search
    // alone, so that tests can hold the lookup to it.
    friend int DecodeReference(CRangeCoder16& coder, const uint8_t* payload, uint32_t length,
                               uint16_t* output, uint32_t& count);

    // Scratch kept with the table between blocks. The encoder counts samples
    // in four sub-tables, so runs of one value do not wait on one counter; the
    // decoder keeps its buckets there: for each value of the scaled value's
    // high bits, the first record that may cover it.
    static constexpr uint32_t kCountTables = 4;
    static constexpr uint32_t kBucketBits = 12;
    std::unique_ptr<uint32_t[]> m_scratch;
    uint32_t m_bucketShift = 0;

    std::unique_ptr<SymbolRecord[]> m_table;
    uint32_t m_symbolCount = 0;
    uint32_t m_range = 0;
    uint32_t m_low = 0;
    uint32_t m_total = 0;
    uint32_t m_entryCount = 0;
};

} // namespace tarv
