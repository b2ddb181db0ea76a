// Seed inputs: frames compressed by the codec itself and a host's calls, in
// each target's input layout, so fuzzing starts past the format checks.
#include "entropy/range_coder.h"
#include "fuzz/harness.h"
#include "fuzz/targets.h"
#include "variants/frame_coder.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <utility>

namespace tarv_fuzz {

namespace {

using Bytes = std::vector<uint8_t>;

struct Size {
    int32_t w, h;
};
constexpr Size kSizes[] = {{8, 4}, {5, 3}, {16, 16}, {1, 1}};

// Pixels with smooth areas, edges and noise, so the residuals take many values.
Bytes Picture(size_t n, uint32_t seed)
{
    Bytes bytes(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        const auto smooth = static_cast<uint8_t>(i * 3);
        const auto edge = static_cast<uint8_t>((i / 64) % 2 != 0 ? 0x80 : 0);
        bytes[i] = i % 7 == 0 ? static_cast<uint8_t>(x >> 24) : static_cast<uint8_t>(smooth ^ edge);
    }
    return bytes;
}

std::string Name(const Driver& driver, Size s, const char* what)
{
    const char* library = driver.variant.library;
    return std::string(library) + "-" + std::to_string(s.w) + "x" + std::to_string(s.h) + what;
}

Bytes CompressedFrame(const Driver& driver, Size s, uint32_t seed)
{
    const tarv::Variant v = driver.variant.variant;
    const Bytes pixels = Picture(tarv::FrameBytes(v, s.w, s.h), seed);
    Bytes payload;
    Check(tarv::FrameEncoder(v, s.w, s.h).Encode(pixels.data(), payload),
          "a seed frame is refused");
    return payload;
}

void RangeDecoderSeeds(std::vector<Seed>& seeds)
{
    struct Block16 {
        const char* name;
        std::vector<uint16_t> samples;
    };
    std::vector<Block16> blocks = {{"ramp", {}}, {"few-values", {}}, {"wide", {}}, {"one", {}}};
    for (uint16_t i = 0; i < 64; ++i)
        blocks[0].samples.push_back(static_cast<uint16_t>(i * 1000));
    uint32_t x = 7;
    for (int i = 0; i < 300; ++i) {
        x = x * 1664525u + 1013904223u;
        blocks[1].samples.push_back(static_cast<uint16_t>(x >> 30));
    }
    for (int i = 0; i < 1000; ++i) {
        x = x * 1664525u + 1013904223u;
        blocks[2].samples.push_back(static_cast<uint16_t>(x >> 16));
    }
    blocks[3].samples.assign(100, 0xFFFF);

    for (const Block16& block : blocks) {
        tarv::CRangeCoder16 coder;
        coder.SetSymbolCount(tarv::CRangeCoder16::kAlphabetSize);
        Check(coder.AllocateTable() != 0, "no table for a seed");
        const auto count = static_cast<uint32_t>(block.samples.size());
        Bytes payload(4 + 14 * static_cast<size_t>(count) + 64);
        uint32_t length = static_cast<uint32_t>(payload.size());
        Check(coder.Encode(payload.data(), length, block.samples.data(), count) != 0,
              "a seed block does not encode");
        payload.resize(length);
        Bytes input = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                       static_cast<uint8_t>(count >> 16), 0};
        input.insert(input.end(), payload.begin(), payload.end());
        seeds.push_back(Seed{"fuzz_range_decoder", block.name, input});
    }
}

void FrameSeeds(std::vector<Seed>& seeds)
{
    for (unsigned variant = 0; variant < 2; ++variant) {
        const Driver& driver = DriverFor(variant);
        uint32_t seed = 1;
        for (const Size s : kSizes) {
            const Bytes payload = CompressedFrame(driver, s, seed++);
            // Query with the output header, begin, decompress.
            Bytes input = {static_cast<uint8_t>(variant | 2), static_cast<uint8_t>(s.w),
                           static_cast<uint8_t>(s.h), 0};
            input.insert(input.end(), payload.begin(), payload.end());
            seeds.push_back(Seed{"fuzz_decompress", Name(driver, s, ""), input});

            Bytes frame = {static_cast<uint8_t>(variant | 0x40), static_cast<uint8_t>(s.w - 1),
                           static_cast<uint8_t>(s.h - 1)};
            const Bytes pixels =
                Picture(tarv::FrameBytes(driver.variant.variant, s.w, s.h), seed++);
            frame.insert(frame.end(), pixels.begin(), pixels.end());
            seeds.push_back(Seed{"fuzz_roundtrip", Name(driver, s, ""), frame});
        }
        // The formats beside the plain one: top-down RGB, 32-bit YUY2 rows, YUNV.
        const Size s{7, 5};
        const uint8_t form = static_cast<uint8_t>(variant | 2 | 2 << 2 | 1 << 4);
        Bytes frame = {form, static_cast<uint8_t>(s.w - 1), static_cast<uint8_t>(s.h - 1)};
        const Bytes pixels = Picture(static_cast<size_t>(s.w * s.h * 4), seed++);
        frame.insert(frame.end(), pixels.begin(), pixels.end());
        seeds.push_back(Seed{"fuzz_roundtrip", Name(driver, s, "-formats"), frame});
    }
}

// Payloads as the picture target takes them: the variant, and a row pitch of
// the shortest (no room for a whole last YUY2 pixel pair), of the packed row
// (YUY2 decoded in place) or a few bytes more in R,G,B order.
void PictureSeeds(std::vector<Seed>& seeds)
{
    for (unsigned variant = 0; variant < 2; ++variant) {
        const Driver& driver = DriverFor(variant);
        uint32_t seed = 40;
        for (const Size s : kSizes) {
            const Bytes payload = CompressedFrame(driver, s, seed++);
            const size_t packed = tarv::RowBytes(driver.variant.variant, s.w) -
                                  tarv::PictureRowBytes(driver.variant.variant, s.w);
            std::vector<std::pair<unsigned, const char*>> forms = {{0u, ""},
                                                                   {3u << 1 | 0x10, "-rgb"}};
            if (packed != 0) // else the shortest row is the packed one
                forms.emplace_back(static_cast<unsigned>(packed) << 1, "-packed");
            for (const auto& [form, suffix] : forms) {
                Bytes input = {static_cast<uint8_t>(variant | form), static_cast<uint8_t>(s.w - 1),
                               static_cast<uint8_t>(s.h - 1)};
                input.insert(input.end(), payload.begin(), payload.end());
                seeds.push_back(Seed{"fuzz_picture", Name(driver, s, suffix), input});
            }
        }
    }
}

// An AVI file as Video for Windows programs write it, little-endian chunks
// with their sizes filled in when they close.
class Riff {
public:
    Riff& Tag(const char (&id)[5])
    {
        m_bytes.insert(m_bytes.end(), id, id + 4);
        return *this;
    }
    Riff& U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Riff& Raw(const Bytes& bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // A chunk or list; its size is written by Close().
    void Open(const char (&id)[5])
    {
        Tag(id).U32(0);
        m_open.push_back(m_bytes.size());
    }
    void Close()
    {
        const size_t start = m_open.back();
        m_open.pop_back();
        const auto size = static_cast<uint32_t>(m_bytes.size() - start);
        for (int i = 0; i < 4; ++i)
            m_bytes[start - 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
        if (size % 2 != 0)
            m_bytes.push_back(0);
    }
    size_t Size() const { return m_bytes.size(); }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    std::vector<size_t> m_open;
};

// A sound stream ahead of the video one when `sound`, the video's frames, an
// empty drop frame last, and idx1; with `extended`, the last frames in an
// OpenDML AVIX list.
Bytes AviFile(const Driver& driver, Size s, bool sound, bool extended, uint32_t seed)
{
    const tarv::Variant v = driver.variant.variant;
    std::vector<Bytes> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(CompressedFrame(driver, s, seed + static_cast<uint32_t>(i)));
    frames.emplace_back(); // a drop frame
    const auto count = static_cast<uint32_t>(frames.size());
    const char(&id)[5] = sound ? "01dc" : "00dc";
    Riff avi;
    avi.Open("RIFF");
    avi.Tag("AVI ");
    avi.Open("LIST");
    avi.Tag("hdrl").Tag("avih").U32(56).U32(40000).U32(0).U32(0).U32(0x10).U32(count).U32(0);
    avi.U32(sound ? 2 : 1).U32(0).U32(static_cast<uint32_t>(s.w)).U32(static_cast<uint32_t>(s.h));
    avi.U32(0).U32(0).U32(0).U32(0);
    if (sound) {
        avi.Open("LIST");
        avi.Tag("strl").Tag("strh").U32(56).Tag("auds").U32(0).U32(0).U32(0).U32(0);
        avi.U32(1).U32(8000).U32(0).U32(800).U32(0).U32(0).U32(1).U32(0).U32(0);
        avi.Tag("strf").U32(16).Raw({1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0});
        avi.Close();
    }
    avi.Open("LIST");
    avi.Tag("strl").Tag("strh").U32(56).Tag("vids").U32(driver.Compressed()).U32(0).U32(0);
    avi.U32(0).U32(1).U32(25).U32(0).U32(count).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).U32(0);
    avi.Tag("strf").U32(40).U32(40).U32(static_cast<uint32_t>(s.w)).U32(static_cast<uint32_t>(s.h));
    avi.Raw({1, 0, static_cast<uint8_t>(driver.variant.bitCount), 0}).U32(driver.Compressed());
    avi.U32(static_cast<uint32_t>(tarv::FrameBytes(v, s.w, s.h))).U32(0).U32(0).U32(0).U32(0);
    avi.Close();
    avi.Close();
    const size_t inFirst = extended ? 2 : frames.size();
    avi.Open("LIST");
    const size_t movi = avi.Size() - 4;
    avi.Tag("movi");
    std::vector<std::pair<size_t, size_t>> index; // offset from movi, size
    if (sound) {
        avi.Open("00wb");
        avi.Raw(Bytes(800, 0x80));
        avi.Close();
    }
    for (size_t i = 0; i < inFirst; ++i) {
        index.emplace_back(avi.Size() - movi, frames[i].size());
        avi.Open(id);
        avi.Raw(frames[i]);
        avi.Close();
    }
    avi.Close();
    avi.Tag("idx1").U32(static_cast<uint32_t>(16 * index.size()));
    for (const auto& [offset, size] : index) {
        avi.Tag(id).U32(0x10).U32(static_cast<uint32_t>(offset)).U32(static_cast<uint32_t>(size));
    }
    avi.Close();
    if (extended) {
        avi.Open("RIFF");
        avi.Tag("AVIX");
        avi.Open("LIST");
        avi.Tag("movi");
        for (size_t i = inFirst; i < frames.size(); ++i) {
            avi.Open(id);
            avi.Raw(frames[i]);
            avi.Close();
        }
        avi.Close();
        avi.Close();
    }
    return avi.bytes();
}

void AviSeeds(std::vector<Seed>& seeds)
{
    uint32_t seed = 60;
    for (unsigned variant = 0; variant < 2; ++variant) {
        const Driver& driver = DriverFor(variant);
        const Size s{8, 4};
        seeds.push_back(Seed{"fuzz_avi_header", Name(driver, s, ".avi"),
                             AviFile(driver, s, false, false, seed++)});
        seeds.push_back(Seed{"fuzz_avi_header", Name(driver, s, "-sound-avix.avi"),
                             AviFile(driver, s, true, true, seed++)});
    }
}

// A host's calls, in the layout of fuzz/harness.h.
class Script {
public:
    explicit Script(unsigned variant) { Append({static_cast<uint8_t>(variant)}); }
    Script& Call(UINT message, messages::Params p = {})
    {
        Append({messages::MessageIndex(message), p.first, p.second, p.in, p.out, p.flags, p.a, p.b,
                p.c});
        return *this;
    }
    Script& Template(unsigned slot, uint8_t kind, Size s)
    {
        Append({static_cast<uint8_t>(messages::kTemplate | slot), kind, static_cast<uint8_t>(s.w),
                static_cast<uint8_t>(s.h)});
        return *this;
    }
    Bytes bytes() const { return Bytes(m_bytes.data(), m_bytes.data() + m_size); }

private:
    void Append(std::initializer_list<uint8_t> bytes)
    {
        for (const uint8_t b : bytes) {
            Check(m_size < m_bytes.size(), "a seed script outgrows its buffer");
            m_bytes[m_size++] = b;
        }
    }

    std::array<uint8_t, 1 + messages::kMaxOperations*(1 + messages::kParamBytes)> m_bytes{};
    size_t m_size = 0;
};

void MessageSeeds(std::vector<Seed>& seeds)
{
    using messages::kNull;
    using messages::Params;
    for (unsigned variant = 0; variant < 2; ++variant) {
        const Driver& driver = DriverFor(variant);
        for (const Size s : {Size{16, 8}, Size{5, 3}}) {
            for (const bool damaged : {false, true}) {
                const uint8_t last =
                    messages::kFlagLastFrame | (damaged ? messages::kFlagDamage : 0);
                Script script(variant);
                script.Template(0, messages::kTemplateRaw, s)
                    .Call(DRV_LOAD)
                    .Call(DRV_ENABLE)
                    .Call(DRV_OPEN, Params{0, 1, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_GETINFO, Params{0, 0, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_COMPRESS_GET_FORMAT, Params{0, 1, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_COMPRESS_GET_SIZE, Params{0, kNull, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_COMPRESS_QUERY, Params{0, 1, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_COMPRESS_BEGIN, Params{0, 1, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_COMPRESS, Params{0, kNull, 0, 3, 0, 7, 9, 0})
                    .Call(ICM_DECOMPRESS_GET_FORMAT, Params{3, 2, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_DECOMPRESS_QUERY, Params{3, 2, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_DECOMPRESS_BEGIN, Params{3, 2, 0, 0, 0, 0, 0, 0})
                    .Call(ICM_DECOMPRESS, Params{0, kNull, 3, 2, last, 40, 0x10, 0})
                    .Call(ICM_DECOMPRESS_END)
                    .Call(ICM_COMPRESS_END)
                    .Call(DRV_CLOSE);
                seeds.push_back(Seed{"fuzz_messages",
                                     Name(driver, s, damaged ? "-host-damaged" : "-host"),
                                     script.bytes()});
            }
        }
    }
}

} // namespace

std::vector<Seed> MakeSeeds()
{
    std::vector<Seed> seeds;
    RangeDecoderSeeds(seeds);
    FrameSeeds(seeds);
    MessageSeeds(seeds);
    PictureSeeds(seeds);
    AviSeeds(seeds);
    return seeds;
}

} // namespace tarv_fuzz
