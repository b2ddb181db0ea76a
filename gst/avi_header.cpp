#include "gst/avi_header.h"

#include "codec/format.h"

#include <algorithm>

namespace tarv_gst {
namespace {

constexpr uint32_t Tag(const char (&s)[5])
{
    return tarv::FourCC(s[0], s[1], s[2], s[3]);
}

uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A run of RIFF chunks, walked one at a time; stops at the first chunk that
// does not fit.
class Chunks {
public:
    Chunks(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Next(uint32_t& id, const uint8_t*& body, size_t& size)
    {
        if (m_size - m_offset < 8)
            return false;
        id = U32(m_data + m_offset);
        size = U32(m_data + m_offset + 4);
        if (size > m_size - m_offset - 8)
            return false;
        body = m_data + m_offset + 8;
        m_offset += 8 + size;
        m_offset += m_offset < m_size ? size % 2 : 0; // chunks are word-aligned
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size, m_offset = 0;
};

// The size and rate in one stream's strl list, when it is a video stream of
// this FourCC.
std::optional<AviVideo> VideoOf(const uint8_t* list, size_t size, uint32_t fourcc)
{
    std::optional<uint32_t> handler;
    AviVideo video;
    bool isVideo = false, hasFormat = false;
    Chunks chunks(list, size);
    uint32_t id;
    const uint8_t* body;
    size_t bytes;
    while (chunks.Next(id, body, bytes)) {
        if (id == Tag("strh") && bytes >= 36) {
            isVideo = U32(body) == Tag("vids");
            handler = U32(body + 4);
            video.scale = U32(body + 20);
            video.rate = U32(body + 24);
            video.frames = U32(body + 32);
        } else if (id == Tag("strf") && bytes >= 20) {
            video.width = static_cast<int32_t>(U32(body + 4));
            video.height = static_cast<int32_t>(U32(body + 8));
            hasFormat = U32(body + 16) == fourcc;
        }
    }
    if (!isVideo || !(hasFormat || handler == fourcc))
        return std::nullopt;
    if (video.rate == 0 || video.scale == 0)
        video.rate = video.scale = 0;
    return video;
}

} // namespace

std::optional<AviVideo> AviVideoStream(const uint8_t* data, size_t size, uint32_t fourcc,
                                       std::optional<unsigned> stream)
{
    if (size < 12 || U32(data) != Tag("RIFF") || U32(data + 8) != Tag("AVI "))
        return std::nullopt;
    // The header list comes first; the file may be cut short after it.
    Chunks top(data + 12, size - 12);
    uint32_t id;
    const uint8_t* body;
    size_t bytes;
    while (top.Next(id, body, bytes)) {
        if (id != Tag("LIST") || bytes < 4 || U32(body) != Tag("hdrl"))
            continue;
        std::optional<AviVideo> first;
        unsigned index = 0;
        Chunks header(body + 4, bytes - 4);
        while (header.Next(id, body, bytes)) {
            if (id != Tag("LIST") || bytes < 4 || U32(body) != Tag("strl"))
                continue;
            auto video = VideoOf(body + 4, bytes - 4, fourcc);
            if (video)
                video->stream = index;
            if (video && stream == index)
                return video;
            if (!first)
                first = video;
            ++index;
        }
        return first;
    }
    return std::nullopt;
}

AviChunks AviStreamChunks(const AviReadAt& read, uint64_t fileSize, unsigned stream)
{
    AviChunks chunks;
    if (stream > 99)
        return chunks;
    // Frame chunks are named by the stream's two digits and dc or db.
    const auto tens = static_cast<uint8_t>('0' + stream / 10);
    const auto ones = static_cast<uint8_t>('0' + stream % 10);
    uint64_t riff = 0;
    uint8_t head[12];
    while (fileSize - riff >= 12 && read(riff, head, 12) == 12 && U32(head) == Tag("RIFF")) {
        const uint64_t declared = riff + 8 + U32(head + 4);
        const uint64_t end = std::min(declared, fileSize);
        // The chunks of the movi list and of its rec lists, one after another;
        // other lists are stepped over whole.
        uint64_t at = riff + 12;
        while (at < end && end - at >= 8 && read(at, head, 12) >= 8) {
            const uint64_t size = U32(head + 4);
            if (U32(head) == Tag("LIST") && size >= 4 && end - at >= 12 &&
                (U32(head + 8) == Tag("movi") || U32(head + 8) == Tag("rec "))) {
                at += 12;
                continue;
            }
            if (size > end - at - 8)
                break; // cut short
            if (head[0] == tens && head[1] == ones && head[2] == 'd' &&
                (head[3] == 'c' || head[3] == 'b')) {
                ++chunks.count;
                if (size > 0)
                    chunks.coded = chunks.count;
            }
            at += 8 + size + size % 2;
        }
        if (declared >= fileSize)
            break;
        riff = declared + declared % 2;
    }
    return chunks;
}

} // namespace tarv_gst
