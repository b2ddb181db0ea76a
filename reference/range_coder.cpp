#include "reference/range_coder.h"

#include "entropy/allocation.h"

#include <algorithm>
#include <memory>

namespace tarv {

// ---- CRangeCoderStream -----------------------------------------------------

CRangeCoderStream::~CRangeCoderStream()
{
    Flush();
}

int CRangeCoderStream::Attach(uint8_t* buffer, uint64_t capacity)
{
    if (m_buffer != nullptr || m_capacity != 0 || buffer == nullptr || capacity == 0)
        return 0;
    m_buffer = buffer;
    m_capacity = capacity;
    m_length = 0;
    return 1;
}

void CRangeCoderStream::Write(uint8_t b)
{
    if (m_length >= m_capacity) {
        m_refused = true;
        return;
    }
    m_buffer[m_length++] = b;
}

void CRangeCoderStream::WriteRun(uint8_t b, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        Write(b);
}

void CRangeCoderStream::PutByte(uint8_t b)
{
    if (b == 0xFF) {
        if (m_hasCache)
            ++m_pendingFF;
        else
            Write(0xFF);
        return;
    }
    if (m_hasCache) {
        Write(m_cache);
        WriteRun(0xFF, m_pendingFF);
        m_pendingFF = 0;
    } else {
        m_hasCache = 1;
    }
    m_cache = b;
}

void CRangeCoderStream::Carry()
{
    ++m_cache;
    if (m_pendingFF != 0) {
        // The run of 0xFF wraps to zeros; its last byte becomes the held one.
        Write(m_cache);
        WriteRun(0x00, m_pendingFF - 1);
        m_pendingFF = 0;
        m_cache = 0;
    }
}

void CRangeCoderStream::Flush()
{
    if (m_hasCache) {
        Write(m_cache);
        m_hasCache = 0;
        m_cache = 0;
    }
    WriteRun(0xFF, m_pendingFF);
    m_pendingFF = 0;
}

// ---- EncodeReference -------------------------------------------------------

namespace {

void PutLE32(CRangeCoderStream& sink, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        sink.PutByte(static_cast<uint8_t>(v >> shift));
}

// The encoder's byte-wise renormalisation, one byte: the top byte of low leaves.
void ShiftOut(CRangeCoderStream& sink, uint32_t& low)
{
    sink.PutByte(static_cast<uint8_t>(low >> 24));
    low <<= 8;
}

// The count and the records of the values present, sorted by cumFreq.
int WriteTable(CRangeCoderStream& sink, const SymbolRecord* table, uint32_t used)
{
    PutLE32(sink, used);
    std::unique_ptr<SymbolRecord[]> present(
        NewArray<SymbolRecord>(CRangeCoder16::kAlphabetSize, false));
    if (!present)
        return 0;
    uint32_t n = 0;
    for (uint32_t v = 0; v < CRangeCoder16::kAlphabetSize; ++v) {
        if (table[v].freq != 0)
            present[n++] = table[v];
    }
    std::sort(present.get(), present.get() + n,
              [](const SymbolRecord& a, const SymbolRecord& b) { return a.cumFreq < b.cumFreq; });
    for (uint32_t i = 0; i < n; ++i) {
        for (const uint32_t field : {present[i].symbol, present[i].cumFreq, present[i].freq})
            PutLE32(sink, field);
    }
    sink.Flush();
    return sink.Refused() ? 0 : 1;
}

int EncodeBlock(CRangeCoderStream& sink, const SymbolRecord* table, const uint16_t* samples,
                uint32_t count)
{
    uint32_t low = 0, range = CRangeCoder16::kInitialRange;
    for (uint32_t i = 0; i < count; ++i) {
        const SymbolRecord& e = table[samples[i]];
        const uint32_t r = range / count;
        const uint32_t next = low + r * e.cumFreq;
        range = r * e.freq;
        if (range == 0)
            return 0;
        if (next < low)
            sink.Carry();
        low = next;
        for (; range < CRangeCoder16::kRangeBottom; range <<= 8)
            ShiftOut(sink, low);
        if (sink.Refused())
            return 0;
    }
    for (int i = 0; i < 4; ++i)
        ShiftOut(sink, low);
    sink.Flush();
    return sink.Refused() ? 0 : 1;
}

} // namespace

int EncodeReference(uint8_t* output, uint32_t& length, const uint16_t* samples, uint32_t count)
{
    if (output == nullptr || samples == nullptr)
        return 0;
    CRangeCoderStream sink;
    if (!sink.Attach(output, length))
        return 0;

    // Indexed by value: each record's count, then its cumulative count.
    constexpr uint32_t kValues = CRangeCoder16::kAlphabetSize;
    std::unique_ptr<SymbolRecord[]> table(NewArray<SymbolRecord>(kValues, false));
    if (!table)
        return 0;
    for (uint32_t v = 0; v < kValues; ++v)
        table[v] = SymbolRecord{v, 0, 0};
    for (uint32_t i = 0; i < count; ++i)
        ++table[samples[i]].freq;
    uint32_t used = table[0].freq != 0 ? 1 : 0;
    for (uint32_t v = 1; v < kValues; ++v) {
        table[v].cumFreq = table[v - 1].cumFreq + table[v - 1].freq;
        if (table[v].freq != 0)
            ++used;
    }

    if (!WriteTable(sink, table.get(), used) || !EncodeBlock(sink, table.get(), samples, count))
        return 0;
    length = static_cast<uint32_t>(sink.Length());
    return 1;
}

// ---- DecodeReference -------------------------------------------------------

int DecodeReference(CRangeCoder16& coder, const uint8_t* payload, uint32_t length, uint16_t* output,
                    uint32_t& count)
{
    CRangeCoder16::CodedBytes coded;
    const CRangeCoder16::Loaded loaded = coder.LoadPayload(payload, length, output, count, coded);
    if (loaded != CRangeCoder16::Loaded::Samples)
        return loaded == CRangeCoder16::Loaded::NothingToDecode ? 1 : 0;
    return coder.DecodeWithSearch(coded, output, count);
}

} // namespace tarv
