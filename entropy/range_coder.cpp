#include "entropy/range_coder.h"

#include "entropy/allocation.h"

#include <algorithm>

namespace {

uint32_t ReadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint64_t kRecordBytes = sizeof(SymbolRecord);
constexpr uint64_t kCountBytes = 4;

} // namespace

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
    m_table.reset(NewArray<SymbolRecord>(m_symbolCount, false));
    return m_table ? 1 : 0;
}

void CRangeCoder16::FreeTable()
{
    m_table.reset();
}

// ---- CRangeCoder16: encoder ----------------------------------------------

int CRangeCoder16::Encode(uint8_t* output, uint32_t& length, const uint16_t* samples,
                          uint32_t count)
{
    // The encoder indexes the table by sample value, so it needs every value.
    if (!m_table || output == nullptr || samples == nullptr || m_symbolCount < kAlphabetSize)
        return 0;

    m_stream.reset(NewObject<CRangeCoderStream>());
    if (!m_stream)
        return 0;
    if (!m_stream->Attach(output, length)) {
        m_stream.reset();
        return 0;
    }

    SymbolRecord* table = m_table.get();
    for (uint32_t v = 0; v < m_symbolCount; ++v)
        table[v] = SymbolRecord{v, 0, 0};
    for (uint32_t i = 0; i < count; ++i)
        ++table[samples[i]].freq;
    uint32_t used = table[0].freq != 0 ? 1 : 0;
    for (uint32_t v = 1; v < m_symbolCount; ++v) {
        table[v].cumFreq = table[v - 1].cumFreq + table[v - 1].freq;
        if (table[v].freq != 0)
            ++used;
    }

    const int ok = WriteTable(used) && EncodeBlock(samples, count);
    const uint64_t written = m_stream->Length();
    m_stream.reset();
    if (!ok)
        return 0;
    length = static_cast<uint32_t>(written);
    return 1;
}

int CRangeCoder16::WriteTable(uint32_t used)
{
    CRangeCoderStream& sink = *m_stream;
    for (int shift = 0; shift < 32; shift += 8)
        sink.PutByte(static_cast<uint8_t>(used >> shift));

    std::unique_ptr<SymbolRecord[]> present(NewArray<SymbolRecord>(m_symbolCount, false));
    if (!present)
        return 0;
    uint32_t n = 0;
    for (uint32_t v = 0; v < m_symbolCount; ++v) {
        if (m_table[v].freq != 0)
            present[n++] = m_table[v];
    }
    std::sort(present.get(), present.get() + n,
              [](const SymbolRecord& a, const SymbolRecord& b) { return a.cumFreq < b.cumFreq; });
    for (uint32_t i = 0; i < n; ++i) {
        for (const uint32_t field : {present[i].symbol, present[i].cumFreq, present[i].freq}) {
            for (int shift = 0; shift < 32; shift += 8)
                sink.PutByte(static_cast<uint8_t>(field >> shift));
        }
    }
    sink.Flush();
    return sink.Refused() ? 0 : 1;
}

int CRangeCoder16::EncodeBlock(const uint16_t* samples, uint32_t count)
{
    CRangeCoderStream& sink = *m_stream;
    m_low = 0;
    m_range = kInitialRange;
    for (uint32_t i = 0; i < count; ++i) {
        const SymbolRecord& e = m_table[samples[i]];
        const uint32_t r = m_range / count;
        const uint32_t low = m_low + r * e.cumFreq;
        m_range = r * e.freq;
        if (m_range == 0)
            return 0;
        if (low < m_low)
            sink.Carry();
        m_low = low;
        while (m_range < kRangeBottom) {
            sink.PutByte(static_cast<uint8_t>(m_low >> 24));
            m_low <<= 8;
            m_range <<= 8;
        }
        if (sink.Refused())
            return 0;
    }
    for (int i = 0; i < 4; ++i) {
        sink.PutByte(static_cast<uint8_t>(m_low >> 24));
        m_low <<= 8;
    }
    sink.Flush();
    return sink.Refused() ? 0 : 1;
}

// ---- CRangeCoder16: decoder ----------------------------------------------

int CRangeCoder16::Decode(const uint8_t* payload, uint32_t length, uint16_t* output,
                          uint32_t& count)
{
    if (!m_table || output == nullptr || payload == nullptr)
        return 0;
    if (length < kCountBytes)
        return 0;
    const uint32_t n = ReadLE32(payload);
    const uint64_t tableEnd = kCountBytes + kRecordBytes * n;
    if (n > m_symbolCount || length < tableEnd)
        return 0;

    m_entryCount = n;
    m_total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* rec = payload + kCountBytes + kRecordBytes * i;
        m_table[i] = SymbolRecord{ReadLE32(rec), ReadLE32(rec + 4), ReadLE32(rec + 8)};
        m_total += m_table[i].freq;
    }

    const uint8_t* coded = payload + tableEnd;
    const uint32_t codedBytes = length - static_cast<uint32_t>(tableEnd);
    // Coded bytes past the payload's end read as 0.
    auto codedByte = [&](uint32_t i) -> uint32_t { return i < codedBytes ? coded[i] : 0u; };

    m_low = codedByte(0) << 24 | codedByte(1) << 16 | codedByte(2) << 8 | codedByte(3);
    m_range = kInitialRange;
    uint32_t decoded = 0;

    if (codedBytes == 0 || m_total == 0) {
        count = 0;
        return 1;
    }
    if (m_total > count)
        return 0;

    // j counts the bytes taken after the first four. Its bound is all coded bytes,
    // not those less four: the last samples of a complete payload may still need
    // up to four zero shifts, and only a cut-short payload reaches the bound early.
    uint32_t j = 0;
    for (;;) {
        if (!DecodeSymbol(output + decoded))
            return 0;
        ++decoded;
        if (decoded == m_total)
            break;
        if (m_range == 0)
            return 0;
        while (m_range < kRangeBottom) {
            m_low <<= 8;
            m_range <<= 8;
            if (j < codedBytes) {
                m_low |= codedByte(4 + j);
                ++j;
            }
        }
        if (j == codedBytes)
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
