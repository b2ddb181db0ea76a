// The message-sequence target: DriverProc as an application drives it through
// the platform, with arbitrary header fields, null and present records, and
// buffers of exactly the size a correct caller would give for what the headers
// claim. Message numbers, field values and the order of calls are the input's.
#include "fuzz/harness.h"
#include "fuzz/targets.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace tarv_fuzz {

namespace {

using namespace messages;

constexpr DWORD kICCompressKeyframe = 1;
constexpr size_t kFramesInfoBytes = 128; // room for the platform's ICCOMPRESSFRAMES

constexpr uint32_t kSpecialValues[] = {
    0,
    1,
    0xFFFFFFFF,
    8,
    15,
    16,
    24,
    32,
    40,
    0x8000,
    0x10000,
    46341, // its square passes 2^31
    0x40000000,
    0x7FFFFFFF,
    0x80000000,
    BI_RGB,
    kFourCC_DIB,
    MakeFourCC('T', 'R', 'V', 'R'),
    MakeFourCC('T', 'R', 'V', 'Y'),
    MakeFourCC('Y', 'U', 'Y', '2'),
    MakeFourCC('Y', 'U', 'N', 'V'),
    MakeFourCC('V', '4', '2', '2'),
};

// A choice among the header slots, or null: modulo 5, and modulo 6 where the
// input record can be taken again.
std::optional<unsigned> Slot(uint8_t choice)
{
    const unsigned c = choice % 5u;
    return c < kSlots ? std::optional<unsigned>(c) : std::nullopt;
}
bool Present(uint8_t choice)
{
    return Slot(choice).has_value();
}

// Deterministic bytes from two seeds; all zero when both are zero.
void Fill(const Block& block, uint8_t a, uint8_t b)
{
    uint32_t x = static_cast<uint32_t>(a) << 8 | b;
    for (size_t i = 0; i < block.size(); ++i) {
        x = x * 1103515245u + 12345u;
        block.data()[i] = a == 0 && b == 0 ? 0 : static_cast<uint8_t>(x >> 16);
    }
}

// The records one call hands over: each slot used becomes its own 40-byte
// heap record (one record however often the call names the slot), and goes
// back into the slot afterwards, as the caller's record would keep what the
// driver wrote.
class Records {
public:
    explicit Records(std::array<BITMAPINFOHEADER, kSlots>& slots) : m_slots(slots) {}
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
    ~Records()
    {
        for (unsigned i = 0; i < kSlots; ++i) {
            if (m_records[i])
                m_slots[i] = *m_records[i];
        }
    }
    BITMAPINFOHEADER* Get(uint8_t choice)
    {
        const std::optional<unsigned> slot = Slot(choice);
        if (!slot)
            return nullptr;
        if (!m_records[*slot])
            m_records[*slot] = std::make_unique<BITMAPINFOHEADER>(m_slots[*slot]);
        return m_records[*slot].get();
    }

private:
    std::array<BITMAPINFOHEADER, kSlots>& m_slots;
    std::array<std::unique_ptr<BITMAPINFOHEADER>, kSlots> m_records;
};

// A block for a size that a header or an answer gave, unless it is absurd.
std::optional<Block> BlockOf(int64_t bytes)
{
    if (bytes > kMaxBlockBytes)
        return std::nullopt;
    return Block(static_cast<size_t>(std::max<int64_t>(bytes, 0)));
}

class Session {
public:
    explicit Session(const Driver& driver) : m_driver(driver)
    {
        m_driver.unload();
        m_slots[0] = RawHeader(driver, 8, 4);
        m_slots[1] = CompressedHeader(driver, 8, 4);
        m_slots[2] = RawHeader(driver, 8, 4);
        m_slots[3] = BITMAPINFOHEADER{};
    }

    void Run(Reader& reader)
    {
        for (size_t n = 0; n < kMaxOperations && !reader.Empty(); ++n) {
            const uint8_t op = reader.U8();
            if (op < kRawCall) {
                const UINT message = kMessages[op % kMessageCount];
                Call(message, ReadParams(reader));
            } else if (op < kSetField) {
                const UINT message = reader.U32();
                Call(message, ReadParams(reader));
            } else if (op < kTemplate) {
                SetField(m_slots[op & 3], reader);
            } else if (op < kUnload) {
                Template(m_slots[op & 3], reader);
            } else if (op == kUnload) {
                m_driver.unload();
                m_id = 0;
            }
        }
    }

private:
    static Params ReadParams(Reader& r)
    {
        Params p{};
        p.first = r.U8();
        p.second = r.U8();
        p.in = r.U8();
        p.out = r.U8();
        p.flags = r.U8();
        p.a = r.U8();
        p.b = r.U8();
        p.c = r.U8();
        return p;
    }

    static void SetField(BITMAPINFOHEADER& h, Reader& r)
    {
        const uint8_t field = r.U8();
        const uint32_t raw = r.U32();
        uint32_t v = raw;
        if ((field & 0xC0) == kValueSmall)
            v = static_cast<uint32_t>(static_cast<int32_t>(raw & 0x7F) - 64);
        else if ((field & 0xC0) == kValueSpecial)
            v = kSpecialValues[(raw & 0xFF) % std::size(kSpecialValues)];
        const auto s = static_cast<int32_t>(v);
        switch ((field & 0x3F) % kFieldCount) {
        case 0:
            h.biSize = v;
            break;
        case 1:
            h.biWidth = s;
            break;
        case 2:
            h.biHeight = s;
            break;
        case 3:
            h.biPlanes = static_cast<WORD>(v);
            break;
        case 4:
            h.biBitCount = static_cast<WORD>(v);
            break;
        case 5:
            h.biCompression = v;
            break;
        case 6:
            h.biSizeImage = v;
            break;
        case 7:
            h.biXPelsPerMeter = s;
            break;
        case 8:
            h.biYPelsPerMeter = s;
            break;
        case 9:
            h.biClrUsed = v;
            break;
        default:
            h.biClrImportant = v;
            break;
        }
    }

    void Template(BITMAPINFOHEADER& h, Reader& r) const
    {
        const uint8_t kind = r.U8();
        const int32_t w = r.U8() % 65;
        const int32_t height = r.U8() % 65;
        h = (kind & 1) == kTemplateCompressed ? CompressedHeader(m_driver, w, height)
                                              : RawHeader(m_driver, w, height);
        if ((kind & 1) == kTemplateRaw)
            h.biCompression = m_driver.Raw(kind >> 1);
        if ((kind & 0x80) != 0)
            h.biHeight = -height;
    }

    LRESULT Send(UINT message, LPARAM p1, LPARAM p2, const Params& p) const
    {
        const DWORD_PTR id = (p.flags & kFlagIdZero) != 0 ? 0 : m_id;
        return m_driver.proc(id, nullptr, message, p1, p2);
    }

    void Call(UINT message, const Params& p)
    {
        Records records(m_slots);
        switch (message) {
        case DRV_OPEN: {
            ICOPEN open{};
            open.dwSize = sizeof open;
            open.fccType = (p.flags & kFlagRandomFields) != 0
                               ? MakeFourCC(static_cast<char>(p.a), static_cast<char>(p.b),
                                            static_cast<char>(p.c), '!')
                               : kFourCC_vidc;
            const DWORD handlers[3] = {0, m_driver.Compressed(), m_driver.Raw(0)};
            open.fccHandler = handlers[p.second % 3];
            open.dwVersion = ICVERSION;
            open.dwFlags = p.in;
            const LRESULT id = Send(message, 0, Present(p.first) ? P(&open) : 0, p);
            if (id != 0)
                m_id = static_cast<DWORD_PTR>(id);
            return;
        }
        case DRV_CONFIGURE:
            Send(message, p.a, 0, p); // a window handle, and no DRVCONFIGINFO
            return;
        case ICM_COMPRESS_GET_FORMAT:
        case ICM_COMPRESS_GET_SIZE:
        case ICM_DECOMPRESS_GET_FORMAT:
        case ICM_DECOMPRESS_GET_PALETTE:
            Send(message, P(records.Get(p.first)), P(records.Get(p.second)), p);
            return;
        case ICM_COMPRESS_QUERY:
        case ICM_COMPRESS_BEGIN:
        case ICM_DECOMPRESS_QUERY:
        case ICM_DECOMPRESS_BEGIN: {
            BITMAPINFOHEADER* in = records.Get(p.first);
            if (in != nullptr && TooLargeToConfigure(*in))
                return;
            Send(message, P(in), P(records.Get(p.second)), p);
            return;
        }
        case ICM_DECOMPRESS_SET_PALETTE:
            Send(message, P(records.Get(p.first)), 0, p);
            return;
        case ICM_GETQUALITY:
        case ICM_GETDEFAULTQUALITY: {
            Block quality(sizeof(DWORD));
            Send(message, Present(p.first) ? P(quality.data()) : 0, 0, p);
            return;
        }
        case ICM_SETQUALITY:
            Send(message, p.a * 40, 0, p);
            return;
        case ICM_COMPRESS_FRAMES_INFO: {
            Block info(kFramesInfoBytes);
            Fill(info, 0, 0);
            const bool present = Present(p.first);
            Send(message, present ? P(info.data()) : 0,
                 present ? static_cast<LPARAM>(kFramesInfoBytes) : 0, p);
            return;
        }
        case ICM_GETSTATE:
        case ICM_SETSTATE: {
            Block state(p.a % 65u);
            Fill(state, p.b, p.c);
            Send(message, Present(p.first) ? P(state.data()) : 0, static_cast<LPARAM>(state.size()),
                 p);
            return;
        }
        case ICM_GETINFO: {
            Block info(p.b == 0 ? sizeof(ICINFO) : p.a * 4u);
            const LRESULT rc = Send(message, Present(p.first) ? P(info.data()) : 0,
                                    static_cast<LPARAM>(info.size()), p);
            if (rc > 0 && Present(p.first))
                Check(static_cast<size_t>(rc) <= info.size(), "ICM_GETINFO claims more bytes");
            return;
        }
        case ICM_CONFIGURE:
        case ICM_ABOUT:
            Send(message, (p.b & 1) != 0 ? -1 : p.a, 0, p);
            return;
        case ICM_COMPRESS:
            Compress(records, p);
            return;
        case ICM_DECOMPRESS:
            Decompress(records, p);
            return;
        default:
            break;
        }
        if (std::find(std::begin(kMessages), std::end(kMessages), message) != std::end(kMessages)) {
            Send(message, 0, 0, p); // the rest of the table carries no records
            return;
        }
        // A number outside the table: its parameters can only be numbers.
        Send(message, static_cast<LPARAM>(static_cast<int16_t>(p.a | p.b << 8)), p.c, p);
    }

    // The output record: a slot, null, or (choice 5 of 6) the input record.
    static BITMAPINFOHEADER* OutputRecord(Records& records, uint8_t choice, BITMAPINFOHEADER* input)
    {
        return choice % 6u == 5 ? input : records.Get(static_cast<uint8_t>(choice % 6u));
    }

    void Compress(Records& records, const Params& p)
    {
        ICCOMPRESS icc{};
        BITMAPINFOHEADER* in = records.Get(p.in);
        BITMAPINFOHEADER* out = OutputRecord(records, p.out, in);
        std::optional<Block> frame = BlockOf(in != nullptr ? FrameBytes(*in) : 0);
        if (!frame)
            return;
        Fill(*frame, p.a, p.b);
        // As a host sizes its buffer: what ICM_COMPRESS_GET_SIZE answers for
        // the input, or a few bytes when it refuses.
        LRESULT capacity = 0;
        if (in != nullptr) {
            BITMAPINFOHEADER query = *in;
            capacity = Send(ICM_COMPRESS_GET_SIZE, P(&query), 0, p);
        }
        std::optional<Block> buffer = BlockOf(capacity > 0 ? capacity : p.c);
        if (!buffer)
            return;
        Block ckid(sizeof(DWORD)), flags(sizeof(DWORD));
        icc.lpbiInput = in;
        icc.lpInput = (p.flags & kFlagNoInput) != 0 ? nullptr : frame->data();
        icc.lpbiOutput = out;
        icc.lpOutput = (p.flags & kFlagNoOutput) != 0 ? nullptr : buffer->data();
        const bool noCkid = (p.flags & kFlagNoCkid) != 0;
        icc.lpckid = noCkid ? nullptr : reinterpret_cast<LPDWORD>(ckid.data());
        icc.lpdwFlags = noCkid ? nullptr : reinterpret_cast<LPDWORD>(flags.data());
        if ((p.flags & kFlagRandomFields) != 0) {
            icc.dwFlags = p.a;
            icc.lFrameNum = p.b - 128;
            icc.dwFrameSize = static_cast<DWORD>(p.c) << 8;
            icc.dwQuality = p.a * 40u;
            icc.lpbiPrev = records.Get(p.second);
        } else {
            icc.dwFlags = kICCompressKeyframe;
        }
        if (Send(ICM_COMPRESS, Present(p.first) ? P(&icc) : 0, 0, p) != ICERR_OK)
            return;
        Check(out != nullptr && icc.lpOutput != nullptr, "ICM_COMPRESS succeeds with no output");
        Check(out->biSizeImage <= buffer->size(),
              "ICM_COMPRESS claims more bytes than the host's buffer holds");
        CheckInitialised(out, sizeof *out);
        CheckInitialised(buffer->data(), out->biSizeImage);
        m_lastHeader = *out;
        m_lastFrame.assign(buffer->data(), buffer->data() + out->biSizeImage);
    }

    void Decompress(Records& records, const Params& p)
    {
        ICDECOMPRESS icd{};
        const auto last = std::make_unique<BITMAPINFOHEADER>(m_lastHeader);
        const bool useLast = (p.flags & kFlagLastFrame) != 0 && !m_lastFrame.empty();
        BITMAPINFOHEADER* in = useLast ? last.get() : records.Get(p.in);
        BITMAPINFOHEADER* out = OutputRecord(records, p.out, in);
        std::optional<Block> payload =
            BlockOf(useLast ? static_cast<int64_t>(m_lastFrame.size())
                            : (in != nullptr ? static_cast<int64_t>(in->biSizeImage) : 0));
        std::optional<Block> picture = BlockOf(out != nullptr ? FrameBytes(*out) : 0);
        if (!payload || !picture)
            return;
        if (useLast) {
            std::copy(m_lastFrame.begin(), m_lastFrame.end(), payload->data());
            if ((p.flags & kFlagDamage) != 0) {
                const size_t at = (static_cast<size_t>(p.c) << 8 | p.a) % payload->size();
                payload->data()[at] ^= static_cast<uint8_t>(p.b | 1);
            }
        } else {
            Fill(*payload, p.a, p.b);
        }
        icd.lpbiInput = in;
        icd.lpInput = (p.flags & kFlagNoInput) != 0 ? nullptr : payload->data();
        icd.lpbiOutput = out;
        icd.lpOutput = (p.flags & kFlagNoOutput) != 0 ? nullptr : picture->data();
        if ((p.flags & kFlagRandomFields) != 0) {
            icd.dwFlags = p.a;
            icd.ckid = p.b;
        }
        Send(ICM_DECOMPRESS, Present(p.first) ? P(&icd) : 0, 0, p);
    }

    const Driver& m_driver;
    DWORD_PTR m_id = 0;
    std::array<BITMAPINFOHEADER, kSlots> m_slots{};
    BITMAPINFOHEADER m_lastHeader{};
    std::vector<uint8_t> m_lastFrame;
};

} // namespace

int Messages(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    Reader reader(input);
    Session session(DriverFor(reader.U8() & 1));
    session.Run(reader);
    return 0;
}

} // namespace tarv_fuzz
