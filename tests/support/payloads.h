// Payloads written by hand, and coders ready to read them, for the coder's tests.
#pragma once

#include "entropy/range_coder.h"
#include "tests/support/bytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarv_test {

inline constexpr size_t kRecordBytes = sizeof(tarv::SymbolRecord);

// Where field f (0 symbol, 1 cumFreq, 2 freq) of record i lies in a payload.
inline size_t FieldAt(size_t i, size_t f)
{
    return 4 + kRecordBytes * i + 4 * f;
}

// The payload's table for these records, then the coded bytes.
inline Bytes Payload(const std::vector<tarv::SymbolRecord>& records, const Bytes& coded = {})
{
    Bytes p(4 + kRecordBytes * records.size());
    PutLe32(p, 0, static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        PutLe32(p, FieldAt(i, 0), records[i].symbol);
        PutLe32(p, FieldAt(i, 1), records[i].cumFreq);
        PutLe32(p, FieldAt(i, 2), records[i].freq);
    }
    p.insert(p.end(), coded.begin(), coded.end());
    return p;
}

// A coder with the codec's table of the whole alphabet.
inline void Prepare(tarv::CRangeCoder16& c)
{
    c.SetSymbolCount(tarv::CRangeCoder16::kAlphabetSize);
    ASSERT_EQ(c.AllocateTable(), 1);
}

} // namespace tarv_test
