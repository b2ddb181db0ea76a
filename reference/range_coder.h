// The plain model of the range coder: entropy/range_coder.h's steps one at a
// time, for tests, fuzz targets and benchmarks to check the shipping coder
// against. The codec libraries never link it.
//
// Contract
// - EncodeReference counts the samples into a table indexed by value, writes
//   the records in cumFreq order through a sorted copy, divides the range by T
//   for every sample and renormalises a byte at a time through a held-back sink.
//   CRangeCoder16::Encode gives the same result, length and bytes for every
//   block and every capacity.
// - Carries: the sink holds back the newest byte and the 0xFF run behind it:
//   those are exactly the bytes a carry can change, since a carry stops at the
//   first byte that is not 0xFF. Before the first shift the interval lies in
//   [0, 2^31), so no carry can happen and the first byte shifted out is below
//   0x80; it is held back, PutByte always replaces the held byte and Carry always
//   keeps one, so a carry always finds a held byte. The coded number never leaves
//   the first interval, so the held byte plus a carry never passes 0xFF. The
//   shipping encoder writes bytes at once and walks a carry back over the 0xFF
//   bytes it turns to 0: the same bytes the sink settles on.
// - Capacity: the sink never writes at or past its capacity. A refused byte makes
//   EncodeReference fail with the length argument unchanged.
// - DecodeReference decodes through the halving search alone, whatever the
//   table. CRangeCoder16::Decode, which takes a bucket lookup for a sound table,
//   gives the same result, count and samples on every payload, sound or damaged,
//   and leaves the coder where DecodeSymbol goes on the same way. The search is
//   the shipping coder's own: it is the path Decode takes for a table that is not
//   sound, and the model adds only the choice to take it always.
#pragma once

#include "entropy/range_coder.h"

#include <cstdint>

namespace tarv {

// Byte sink for one encode. It holds back the newest byte and any 0xFF run behind
// it until a byte arrives that settles them, so a carry can still reach them.
class CRangeCoderStream {
public:
    CRangeCoderStream() = default;
    CRangeCoderStream(const CRangeCoderStream&) = delete;
    CRangeCoderStream& operator=(const CRangeCoderStream&) = delete;
    // Writes every held-back byte.
    ~CRangeCoderStream();

    // Binds the sink to a caller-owned buffer, once: 1 on success, 0 (and no
    // change) if already bound or given no buffer or a zero capacity.
    int Attach(uint8_t* buffer, uint64_t capacity);
    void PutByte(uint8_t b);
    // Adds 1 to the number formed by the held-back bytes.
    void Carry();
    // Writes every held-back byte.
    void Flush();

    // True once a byte had to be dropped because the buffer was full.
    bool Refused() const { return m_refused; }
    uint64_t Length() const { return m_length; }

private:
    void Write(uint8_t b);
    void WriteRun(uint8_t b, uint32_t n);

    int32_t m_hasCache = 0;
    uint8_t m_cache = 0;
    uint32_t m_pendingFF = 0;
    uint8_t* m_buffer = nullptr;
    uint64_t m_capacity = 0;
    uint64_t m_length = 0;
    bool m_refused = false;
};

// Codes `count` samples into `output` with a table of its own: the arguments
// and results of CRangeCoder16::Encode.
int EncodeReference(uint8_t* output, uint32_t& length, const uint16_t* samples, uint32_t count);

// Decodes a payload into `coder`'s table and state: the arguments and results
// of CRangeCoder16::Decode.
int DecodeReference(CRangeCoder16& coder, const uint8_t* payload, uint32_t length, uint16_t* output,
                    uint32_t& count);

} // namespace tarv
