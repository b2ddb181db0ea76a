#include "tools/input/avi_reader.h"

#include "tools/shared/audio.h"
#include "variants/registry.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace tarv {

namespace {

constexpr uint32_t Tag(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// What a size field holds while a capture is still being written.
constexpr uint32_t kOpenSize = 0xFFFFFFFF;

bool IsDigit(uint32_t c)
{
    return c >= '0' && c <= '9';
}
bool IsLower(uint32_t c)
{
    return c >= 'a' && c <= 'z';
}
uint32_t Byte(uint32_t value, int i)
{
    return (value >> (8 * i)) & 0xFF;
}

// 8 bytes read in place of a chunk header.
struct Patch {
    int64_t at;
    uint8_t bytes[8];
};

Patch HeaderPatch(int64_t at, uint32_t id, uint32_t size)
{
    Patch p{at, {}};
    for (int i = 0; i < 4; ++i) {
        p.bytes[i] = static_cast<uint8_t>(Byte(id, i));
        p.bytes[4 + i] = static_cast<uint8_t>(Byte(size, i));
    }
    return p;
}

// A chunk the index places: where its header is, of which stream.
struct IndexEntry {
    int64_t pos;
    int stream;
    uint32_t size;
};

// A stream's chunk found in a movi list.
struct StreamChunk {
    int64_t pos;
    int stream;
    uint32_t size;
    bool palette; // ##pc: not a frame, and not indexed
};

// The chunks of an AVI file's movi lists, walked from chunk to chunk the way a
// reader in order meets them. A chunk is taken when the next one starts where
// it ends; a header that does not chain is mended from the index, or from
// where the next chunk is found; bytes that hold no chunk are lost.
class ChunkWalk {
public:
    ChunkWalk(AVIOContext* io, const AVFormatContext* format, std::vector<IndexEntry> index)
        : m_io(io), m_size(avio_size(io)), m_streams(static_cast<int>(format->nb_streams)),
          m_index(std::move(index))
    {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVMediaType type = format->streams[i]->codecpar->codec_type;
            m_letters.push_back(type == AVMEDIA_TYPE_VIDEO   ? Tag("\0\0dc")
                                : type == AVMEDIA_TYPE_AUDIO ? Tag("\0\0wb")
                                                             : Tag("\0\0tx"));
        }
        std::sort(m_index.begin(), m_index.end(),
                  [](const IndexEntry& a, const IndexEntry& b) { return a.pos < b.pos; });
    }

    // False when the file is not a RIFF AVI.
    bool Run();

    std::vector<StreamChunk> chunks;
    std::vector<Patch> patches;
    std::vector<std::pair<int64_t, int64_t>> lost; // byte ranges
    int64_t mended = 0;
    // Whether the file has an index of its own (idx1, or OpenDML's ix##
    // chunks): without one, libavformat indexes only what it has read.
    bool indexed = false;
    // Where the file ends inside what it declares: -1 when it does not.
    int64_t cutAt = -1;

private:
    bool Header(int64_t pos, uint32_t& id, uint32_t& size);
    int StreamOf(uint32_t id) const;
    bool Known(uint32_t id) const;
    const IndexEntry* IndexAt(int64_t pos) const;
    bool Starts(int64_t pos, int64_t end);
    bool Ends(int64_t pos, uint32_t size, int64_t end, int64_t& next);
    bool Fits(int64_t pos, uint32_t id, uint32_t size, int64_t end) const;
    int64_t Resync(int64_t from, int64_t end);
    void Walk(int64_t start, int64_t end);
    void Take(int64_t pos, uint32_t id, uint32_t size);
    void Mend(int64_t pos, uint32_t id, uint32_t size);
    void Lose(int64_t from, int64_t to);

    AVIOContext* m_io;
    int64_t m_size;
    int m_streams;
    std::vector<IndexEntry> m_index;
    std::vector<uint32_t> m_letters; // per stream: the two letters of its chunk ids
    // Resync's findings for the walk under way: index entries before
    // m_tried do not chain, m_chained is the first at or after the last
    // start that does (the list's end if none); bytes before m_scanned were
    // scanned, and held no header but m_hit.
    size_t m_tried = 0;
    int64_t m_chained = -1, m_hit = -1, m_scanned = 0;
};

bool ChunkWalk::Header(int64_t pos, uint32_t& id, uint32_t& size)
{
    if (pos < 0 || pos + 8 > m_size || avio_seek(m_io, pos, SEEK_SET) < 0)
        return false;
    id = avio_rl32(m_io);
    size = avio_rl32(m_io);
    return !avio_feof(m_io);
}

int ChunkWalk::StreamOf(uint32_t id) const
{
    if (!IsDigit(Byte(id, 0)) || !IsDigit(Byte(id, 1)) || !IsLower(Byte(id, 2)) ||
        !IsLower(Byte(id, 3)))
        return -1;
    const int stream = static_cast<int>((Byte(id, 0) - '0') * 10 + Byte(id, 1) - '0');
    return stream < m_streams ? stream : -1;
}

bool ChunkWalk::Known(uint32_t id) const
{
    return StreamOf(id) >= 0 || id == Tag("JUNK") || id == Tag("LIST") ||
           (Byte(id, 0) == 'i' && Byte(id, 1) == 'x' && IsDigit(Byte(id, 2)) &&
            IsDigit(Byte(id, 3)));
}

const IndexEntry* ChunkWalk::IndexAt(int64_t pos) const
{
    const auto it = std::lower_bound(m_index.begin(), m_index.end(), pos,
                                     [](const IndexEntry& e, int64_t p) { return e.pos < p; });
    return it != m_index.end() && it->pos == pos ? &*it : nullptr;
}

// Whether a chunk starts at `pos`, or the list ends there.
bool ChunkWalk::Starts(int64_t pos, int64_t end)
{
    if (pos > end)
        return false;
    // No room for a header: a list's padding, or the file ends inside the
    // next header.
    if (pos + 8 > end)
        return true;
    // Only the file's own bytes say so: an index shifted as a whole would
    // chain with itself.
    uint32_t id = 0, size = 0;
    return Header(pos, id, size) && Known(id);
}

// Whether a chunk of `size` bytes at `pos` ends where the next one starts,
// padded to an even size or (as some writers leave it) not.
bool ChunkWalk::Ends(int64_t pos, uint32_t size, int64_t end, int64_t& next)
{
    const int64_t data = pos + 8 + size;
    if (Starts(data + (size & 1), end)) {
        next = data + (size & 1);
        return true;
    }
    if ((size & 1) != 0 && Starts(data, end)) {
        next = data;
        return true;
    }
    return false;
}

// Whether a stream's own chunk, as its ids are written, starts at `pos` and
// ends by `end`: taken even when what follows it is damaged too.
bool ChunkWalk::Fits(int64_t pos, uint32_t id, uint32_t size, int64_t end) const
{
    const int stream = StreamOf(id);
    return stream >= 0 && (id & 0xFFFF0000) == m_letters[static_cast<size_t>(stream)] &&
           pos + 8 + int64_t{size} <= end;
}

// The first place from `from` on where a chunk starts: a chunk the index
// places there that chains, or a header found in the bytes that chains or
// fits; `end` if none.
int64_t ChunkWalk::Resync(int64_t from, int64_t end)
{
    // A walk asks in file order, and what chains or fits depends only on the
    // file's bytes: each index entry is tried, and each byte scanned, once.
    if (m_chained < from) {
        auto it =
            std::lower_bound(m_index.begin() + static_cast<std::ptrdiff_t>(m_tried), m_index.end(),
                             from, [](const IndexEntry& e, int64_t p) { return e.pos < p; });
        m_chained = end;
        for (; it != m_index.end() && it->pos < end; ++it) {
            int64_t next = 0;
            if (Ends(it->pos, it->size, end, next)) {
                m_chained = it->pos;
                break;
            }
        }
        m_tried = static_cast<size_t>(it - m_index.begin());
    }
    const int64_t limit = m_chained;
    if (m_hit >= from)
        return std::min(m_hit, limit);
    constexpr int64_t kWindow = 1 << 20;
    std::vector<uint8_t> bytes;
    for (int64_t start = std::max(from, m_scanned); start + 8 <= limit; start += kWindow) {
        const int64_t length = std::min(kWindow + 7, limit - start);
        bytes.resize(static_cast<size_t>(length));
        if (avio_seek(m_io, start, SEEK_SET) < 0 ||
            avio_read(m_io, bytes.data(), static_cast<int>(length)) != length)
            return limit;
        for (int64_t i = 0; i + 8 <= length && i < kWindow; ++i) {
            const uint8_t* b = bytes.data() + i;
            const uint32_t id = AV_RL32(b);
            int64_t next = 0;
            if (Known(id) && (Fits(start + i, id, AV_RL32(b + 4), end) ||
                              Ends(start + i, AV_RL32(b + 4), end, next))) {
                m_hit = start + i;
                m_scanned = m_hit + 1;
                return m_hit;
            }
        }
    }
    m_scanned = std::max(m_scanned, limit - 7);
    return limit;
}

void ChunkWalk::Take(int64_t pos, uint32_t id, uint32_t size)
{
    if (Byte(id, 0) == 'i' && Byte(id, 1) == 'x')
        indexed = true;
    const int stream = StreamOf(id);
    if (stream < 0)
        return;
    const bool palette = (id >> 16) == (Tag("\0\0pc") >> 16);
    if (!palette)
        m_letters[static_cast<size_t>(stream)] = id & 0xFFFF0000;
    chunks.push_back({pos, stream, size, palette});
}

void ChunkWalk::Mend(int64_t pos, uint32_t id, uint32_t size)
{
    patches.push_back(HeaderPatch(pos, id, size));
    ++mended;
    Take(pos, id, size);
}

void ChunkWalk::Walk(int64_t start, int64_t end)
{
    m_tried = 0;
    m_chained = m_hit = -1;
    m_scanned = 0;
    int64_t pos = start;
    while (pos < end) {
        uint32_t id = 0, size = 0;
        if (pos + 8 > end || !Header(pos, id, size)) {
            if (end == m_size)
                cutAt = pos;
            return;
        }
        uint32_t type = 0, unused = 0;
        if (id == Tag("LIST") && Header(pos + 4, unused, type) && type == Tag("rec ")) {
            pos += 12; // the chunks of a 'rec ' list follow one another as well
            continue;
        }
        int64_t next = 0;
        if (Known(id) && Ends(pos, size, end, next)) {
            Take(pos, id, size);
            pos = next;
            continue;
        }
        if (const IndexEntry* e = IndexAt(pos); e != nullptr && Ends(pos, e->size, end, next)) {
            const auto digits = static_cast<uint32_t>('0' + e->stream / 10) |
                                static_cast<uint32_t>('0' + e->stream % 10) << 8;
            Mend(pos, digits | m_letters[static_cast<size_t>(e->stream)], e->size);
            pos = next;
            continue;
        }
        const bool known = Known(id);
        const int64_t found = Resync(pos + (known ? 8 : 1), end);
        if (known && found == end && end == m_size && pos + 8 + int64_t{size} > m_size) {
            cutAt = pos; // the chunk runs past the end of the file
            return;
        }
        if (known) {
            const int64_t claimedEnd = pos + 8 + int64_t{size} + (size & 1);
            // No size field reaches the next chunk: the chunk is as its size
            // says, or lost.
            if (found - pos - 8 >= kOpenSize) {
                if (claimedEnd <= found)
                    Take(pos, id, size);
                Lose(claimedEnd <= found ? claimedEnd : pos, found);
                pos = found;
                continue;
            }
            // Only its size is damaged: the chunk fills the bytes up to the
            // next one, less a padding byte when its size field says so more
            // nearly.
            const auto padded = static_cast<uint32_t>(found - pos - 8);
            auto differing = [&](uint32_t a) {
                int n = 0;
                for (int i = 0; i < 4; ++i)
                    n += Byte(a, i) != Byte(size, i);
                return n;
            };
            uint32_t mendedSize = padded;
            if (padded > 0 && (padded & 1) == 0 && differing(padded - 1) < differing(padded))
                mendedSize = padded - 1;
            // A damaged byte changes one byte of a size. A size that fits and
            // differs more is right, and the header after it is damaged.
            if (mendedSize == size || (differing(mendedSize) > 1 && claimedEnd <= found)) {
                Take(pos, id, size);
                Lose(claimedEnd, found);
            } else {
                Mend(pos, id, mendedSize);
            }
            pos = found;
            continue;
        }
        Lose(pos, found);
        pos = found;
    }
}

void ChunkWalk::Lose(int64_t from, int64_t to)
{
    if (from >= to)
        return;
    lost.emplace_back(from, to);
    // Read as chunks to skip, so that nothing in it passes for a header;
    // several where one size field cannot say it all, none shorter than a
    // header.
    constexpr int64_t kMost = int64_t{1} << 30;
    for (; to - from > 8 + kMost + 8; from += 8 + kMost)
        patches.push_back(HeaderPatch(from, Tag("JUNK"), static_cast<uint32_t>(kMost)));
    if (to - from >= 8)
        patches.push_back(HeaderPatch(from, Tag("JUNK"), static_cast<uint32_t>(to - from - 8)));
}

bool ChunkWalk::Run()
{
    uint32_t id = 0, size = 0, type = 0, unused = 0;
    if (!Header(0, id, size) || id != Tag("RIFF") || !Header(4, unused, type) ||
        type != Tag("AVI "))
        return false;
    int64_t riff = 0;
    while (Header(riff, id, size) && id == Tag("RIFF")) {
        const bool open = size == kOpenSize || size == 0;
        const int64_t declared = riff + 8 + size + (size & 1);
        if (!open && declared > m_size)
            cutAt = m_size;
        const int64_t end = open ? m_size : std::min(declared, m_size);
        for (int64_t p = riff + 12; p + 12 <= end && Header(p, id, size);) {
            const bool listOpen = size == kOpenSize || size == 0;
            if (id == Tag("idx1"))
                indexed = true;
            if (id == Tag("LIST") && Header(p + 4, unused, type) && type == Tag("movi")) {
                if (!listOpen && p + 8 + size > m_size)
                    cutAt = m_size;
                Walk(p + 12, listOpen ? end : std::min(p + 8 + int64_t{size}, end));
                if (cutAt >= 0)
                    return true;
            }
            if (listOpen)
                break;
            p += 8 + int64_t{size} + (size & 1);
        }
        if (open)
            break;
        riff = declared;
        if (!Header(riff + 4, unused, type) || type != Tag("AVIX"))
            break;
    }
    return true;
}

std::string Count(int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Seconds(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

// Bytes of a stream's chunks, as what they hold: frames, or seconds of sound.
std::string Holding(const AVStream* s, int64_t chunks, int64_t bytes)
{
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        return Count(chunks, "frame", "frames");
    const int sample = PcmSampleBytes(s->codecpar);
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && sample > 0 && s->codecpar->sample_rate > 0)
        return Seconds(static_cast<double>(bytes / sample) / s->codecpar->sample_rate) +
               " of sound";
    return Count(chunks, "chunk", "chunks") + " of stream " + std::to_string(s->index);
}

} // namespace

// The file's bytes in order, with chunk headers mended, for libavformat to
// read as it reads a pipe: never through the index.
struct AviInput::Mended {
    AVIOContext* file = nullptr;
    AVIOContext* io = nullptr;
    std::vector<Patch> patches; // by position
    int64_t pos = 0;

    ~Mended()
    {
        if (io != nullptr)
            av_freep(&io->buffer);
        avio_context_free(&io);
        avio_closep(&file);
    }

    static int Read(void* opaque, uint8_t* buffer, int size)
    {
        auto* m = static_cast<Mended*>(opaque);
        const int n = avio_read(m->file, buffer, size);
        if (n <= 0)
            return n == 0 ? AVERROR_EOF : n;
        auto p = std::lower_bound(m->patches.begin(), m->patches.end(), m->pos - 7,
                                  [](const Patch& a, int64_t at) { return a.at < at; });
        for (; p != m->patches.end() && p->at < m->pos + n; ++p)
            for (int i = 0; i < 8; ++i) {
                const int64_t at = p->at + i - m->pos;
                if (at >= 0 && at < n)
                    buffer[at] = p->bytes[i];
            }
        m->pos += n;
        return n;
    }
};

AviInput::AviInput(const InputSpec& input)
{
    m_format = OpenInput(input);
    AVFormatContext* context = m_format.get();
    if (std::string(context->iformat->name) != "avi" || !input.format.empty() ||
        context->pb == nullptr || !(context->pb->seekable & AVIO_SEEKABLE_NORMAL))
        return;

    std::vector<IndexEntry> index;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* s = context->streams[i];
        for (int k = 0, n = avformat_index_get_entries_count(s); k < n; ++k) {
            const AVIndexEntry* e = avformat_index_get_entry(s, k);
            index.push_back({e->pos, static_cast<int>(i), static_cast<uint32_t>(e->size)});
        }
    }
    auto mended = std::make_unique<Mended>();
    if (avio_open(&mended->file, input.path.c_str(), AVIO_FLAG_READ) < 0)
        return;
    ChunkWalk walk(mended->file, context, index);
    if (!walk.Run())
        return;
    m_walked = true;
    m_cut = walk.cutAt >= 0;
    const int64_t readable = m_cut ? walk.cutAt : avio_size(mended->file);

    // The index agrees when each entry lies in a chunk of its stream and
    // each chunk of an indexed stream holds an entry. Entries in damaged
    // bytes name what was lost there.
    const size_t streams = context->nb_streams;
    std::vector<bool> indexed(streams, false), hit(walk.chunks.size(), false);
    std::vector<int64_t> lostChunks(streams, 0), lostBytes(streams, 0);
    bool disagrees = false;
    std::vector<const IndexEntry*> inLost;
    for (const IndexEntry& e : index) {
        if (e.pos >= readable)
            continue;
        indexed[static_cast<size_t>(e.stream)] = true;
        // Lost ranges come in file order.
        const auto in =
            std::upper_bound(walk.lost.begin(), walk.lost.end(), e.pos,
                             [](int64_t p, const auto& range) { return p < range.first; });
        if (in != walk.lost.begin() && e.pos < std::prev(in)->second) {
            inLost.push_back(&e);
            continue;
        }
        const auto c = std::upper_bound(walk.chunks.begin(), walk.chunks.end(), e.pos,
                                        [](int64_t p, const StreamChunk& k) { return p < k.pos; });
        if (c == walk.chunks.begin() || std::prev(c)->stream != e.stream ||
            e.pos >= std::prev(c)->pos + 8 + std::prev(c)->size + 1) {
            disagrees = true;
            continue;
        }
        hit[static_cast<size_t>(std::prev(c) - walk.chunks.begin())] = true;
    }
    std::vector<int64_t> chunks(streams, 0), bytes(streams, 0);
    for (size_t k = 0; k < walk.chunks.size(); ++k) {
        const StreamChunk& c = walk.chunks[k];
        const auto s = static_cast<size_t>(c.stream);
        if (c.palette)
            continue;
        ++chunks[s];
        bytes[s] += c.size;
        if (walk.indexed && indexed[s] && c.size > 0 && !hit[k])
            disagrees = true;
    }
    // What was in the damaged bytes, if the index is to be believed: one
    // libavformat made as it read is not, as it misses what it could not
    // read.
    if (!disagrees && walk.indexed)
        for (const IndexEntry* e : inLost) {
            ++lostChunks[static_cast<size_t>(e->stream)];
            lostBytes[static_cast<size_t>(e->stream)] += e->size;
        }
    // The header's frame count against the chunks.
    std::string frames;
    for (size_t s = 0; s < streams; ++s) {
        const AVStream* st = context->streams[s];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && st->nb_frames > 0 &&
            st->nb_frames != chunks[s] && !m_cut && walk.lost.empty())
            frames = "its header announces " + std::to_string(st->nb_frames) +
                     " frames, its chunks hold " + std::to_string(chunks[s]);
    }
    // A file cut short is read as it is: the reader meets the cut.
    if (!disagrees && walk.mended == 0 && walk.lost.empty()) {
        m_damage = frames;
        return;
    }

    // Read again, in order, through the mended bytes.
    m_lost = !walk.lost.empty();
    std::vector<std::string> what;
    if (disagrees)
        what.push_back("its index does not match its chunks");
    if (walk.mended > 0)
        what.push_back(Count(walk.mended, "damaged chunk header", "damaged chunk headers") +
                       " mended");
    if (!walk.lost.empty())
        what.push_back("bytes " + std::to_string(walk.lost[0].first) + " to " +
                       std::to_string(walk.lost[0].second - 1) + " hold no readable chunk" +
                       (walk.lost.size() > 1 ? " (and " +
                                                   Count(static_cast<int64_t>(walk.lost.size()) - 1,
                                                         "more place", "more places") +
                                                   ")"
                                             : ""));
    if (!frames.empty())
        what.push_back(frames);
    std::string text;
    for (const std::string& w : what)
        text += (text.empty() ? "" : "; ") + w;
    std::string recovered, missing;
    for (size_t s = 0; s < streams; ++s) {
        const AVStream* st = context->streams[s];
        std::string part = Holding(st, chunks[s], bytes[s]);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && st->nb_frames == chunks[s])
            part = "all " + part;
        else if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && st->nb_frames > chunks[s])
            part = std::to_string(chunks[s]) + " of " + std::to_string(st->nb_frames) + " frames";
        recovered += (recovered.empty() ? "" : ", ") + part;
        if (lostChunks[s] > 0)
            missing += (missing.empty() ? "" : ", ") + Holding(st, lostChunks[s], lostBytes[s]);
    }
    text += ": read in file order, " + recovered + " recovered";
    if (m_lost)
        text +=
            missing.empty() ? "; what the unreadable bytes held is unknown" : "; lost: " + missing;
    else if (!m_cut)
        text += ", nothing lost";
    m_damage = text;

    m_format.reset();
    mended->patches = std::move(walk.patches);
    std::sort(mended->patches.begin(), mended->patches.end(),
              [](const Patch& a, const Patch& b) { return a.at < b.at; });
    if (avio_seek(mended->file, 0, SEEK_SET) < 0)
        throw ToolError(Where(input.path, -1, "cannot read it again from its start"));
    constexpr int kBuffer = 1 << 16;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBuffer));
    if (buffer == nullptr)
        throw std::bad_alloc();
    mended->io =
        avio_alloc_context(buffer, kBuffer, 0, mended.get(), &Mended::Read, nullptr, nullptr);
    if (mended->io == nullptr) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    AVFormatContext* again = avformat_alloc_context();
    if (again == nullptr)
        throw std::bad_alloc();
    again->pb = mended->io;
    again->flags |= AVFMT_FLAG_CUSTOM_IO;
    int r = avformat_open_input(&again, input.path.c_str(), av_find_input_format("avi"), nullptr);
    if (r < 0)
        throw ToolError(Where(input.path, -1, "cannot read: " + AvError(r)));
    m_mended = std::move(mended);
    m_format.reset(again);
    r = avformat_find_stream_info(again, nullptr);
    if (r < 0)
        throw ToolError(Where(input.path, -1, "cannot read: " + AvError(r)));
}

AviInput::~AviInput() = default;

// ---- TarvAviReader -------------------------------------------------------------

TarvAviReader::TarvAviReader(const InputSpec& input, bool keepGoing)
    : m_path(input.path), m_avi(input), m_keepGoing(keepGoing)
{
    const AVFormatContext* context = m_avi.Format();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* s = context->streams[i];
        const auto v = VariantByFourCC(s->codecpar->codec_tag);
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && v) {
            m_stream = static_cast<int>(i);
            m_variant = *v;
            m_width = s->codecpar->width;
            m_height = s->codecpar->height;
            m_countHint = s->nb_frames;
            m_rate = StreamRate(s);
            break;
        }
    }
    if (m_stream < 0)
        throw ToolError(Where(m_path, -1, "has no TRVY or TRVR video stream"));
    if (!SizeSupported(m_variant, m_width, m_height))
        throw ToolError(Where(m_path, -1,
                              "unsupported frame size " + std::to_string(m_width) + "x" +
                                  std::to_string(m_height)));
    if (m_avi.Lost() && !m_keepGoing)
        throw ToolError(
            Where(m_path, -1, m_avi.Damage() + " (tarv decode --keep-going reads on past it)"));
    m_soundEnd.assign(context->nb_streams, 0);
}

TarvAviReader::~TarvAviReader() = default;

// Less is rounding of the header's length.
constexpr double kSoundLost = 0.0005;

// The sound the header announces that was not read, the longest of the
// streams' shortfalls, in seconds.
double TarvAviReader::SoundLost() const
{
    const AVFormatContext* context = m_avi.Format();
    double lost = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* s = context->streams[i];
        const int64_t length = s->duration > 0 ? s->duration : s->nb_frames;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && length > m_soundEnd[i])
            lost =
                std::max(lost, static_cast<double>(length - m_soundEnd[i]) * av_q2d(s->time_base));
    }
    return lost;
}

void TarvAviReader::EndsShort(bool inside)
{
    // Every frame announced was read: what the file ends inside is sound.
    const bool sound = !inside && m_frames > 0 && m_frames >= m_countHint;
    const std::string where = inside  ? "the file ends inside"
                              : sound ? "the file ends inside the sound after"
                                      : "the file ends before";
    const double soundLost = SoundLost();
    const std::string soundText =
        soundLost >= kSoundLost ? Seconds(soundLost) + " of sound lost" : "";
    if (!m_keepGoing) {
        const std::string before = m_frames == 1
                                       ? "the frame before it"
                                       : "the " + std::to_string(m_frames) + " frames before it";
        if (sound)
            throw ToolError(Where(m_path, -1,
                                  where + " frame " + std::to_string(m_frames - 1) +
                                      (soundText.empty() ? "" : ": " + soundText) +
                                      " (tarv decode --keep-going keeps its " +
                                      Count(m_frames, "frame", "frames") +
                                      " and the sound before the cut)"));
        throw ToolError(Where(
            m_path, m_frames,
            (inside ? "damaged frame: " : "") + where + " it" +
                (inside ? ""
                        : ": its header announces " + std::to_string(m_countHint) + " frames") +
                (m_frames > 0 ? " (tarv decode --keep-going keeps " + before + ")" : "")));
    }
    m_ended = true;
    m_loss = "kept " + std::to_string(m_frames) +
             (m_countHint > m_frames ? " of " + std::to_string(m_countHint) : std::string()) +
             (m_frames == 1 && m_countHint <= m_frames ? " frame; " : " frames; ") + where +
             " frame " + std::to_string(sound ? m_frames - 1 : m_frames);
    if (!soundText.empty())
        m_loss += "; " + soundText;
    // A capture that crashed never wrote its counts.
    if (m_countHint <= 0)
        m_loss += "; its header does not say how long the recording was";
}

TarvAviReader::Chunk TarvAviReader::Next(std::vector<uint8_t>& payload, AVPacket* packet)
{
    av_packet_unref(packet);
    if (m_ended)
        return Chunk::End;
    const int r = av_read_frame(m_avi.Format(), packet);
    if (r == AVERROR_EOF) {
        // Fewer frames than the header announces, in a file that ends
        // before its declared end (or a pipe, whose end is not known); or a
        // file cut inside its chunks, after its last frame.
        if (m_frames < m_countHint ? m_avi.Cut() || !m_avi.Walked()
                                   : m_avi.Cut() && SoundLost() >= kSoundLost)
            EndsShort(false);
        m_ended = true;
        return Chunk::End;
    }
    if (r < 0)
        throw ToolError(Where(m_path, m_frames, "cannot read: " + AvError(r)));
    // A chunk the file ends inside, of any stream: nothing after it is read.
    if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
        const bool frame = packet->stream_index == m_stream;
        av_packet_unref(packet);
        EndsShort(frame);
        return Chunk::End;
    }
    if (packet->stream_index != m_stream) {
        const auto s = static_cast<size_t>(packet->stream_index);
        if (packet->pts != AV_NOPTS_VALUE && s < m_soundEnd.size())
            m_soundEnd[s] = std::max(m_soundEnd[s], packet->pts + packet->duration);
        return Chunk::Packet;
    }
    payload.assign(packet->data, packet->data + packet->size);
    av_packet_unref(packet);
    ++m_frames;
    return Chunk::Payload;
}

} // namespace tarv
