// Tarv AVI files read back: the Tarv stream in order, damaged files mended.
#pragma once

#include "tools/shared/ffmpeg.h"
#include "variants/frame_coder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarv {

// An AVI file opened for reading in order. One whose chunks, index and header
// agree is read by libavformat as it stands. One where they disagree is read
// as its movi lists hold it, never through the index: chunk headers are
// mended where the index or the chunks around them tell what they were, and
// what holds no readable chunk is skipped and named. Pipes and devices are
// read as they come.
class AviInput {
public:
    explicit AviInput(const InputSpec& input);
    ~AviInput();
    AviInput(const AviInput&) = delete;
    AviInput& operator=(const AviInput&) = delete;

    AVFormatContext* Format() const { return m_format.get(); }
    // What disagrees and what was recovered, one line; empty when all agree.
    const std::string& Damage() const { return m_damage; }
    // Chunks that no reading gives back: frames or sound are missing.
    bool Lost() const { return m_lost; }
    // The file ends inside a chunk or before the end its header declares.
    bool Cut() const { return m_cut; }
    // Whether the file's chunks were walked (a file, not a pipe or device).
    bool Walked() const { return m_walked; }

private:
    struct Mended;
    std::unique_ptr<Mended> m_mended; // outlives m_format, which reads through it
    FormatPtr m_format;
    std::string m_damage;
    bool m_lost = false, m_cut = false, m_walked = false;
};

// The Tarv stream of an AVI file, its geometry and payloads in order, and the
// packets of its other streams between them.
class TarvAviReader {
public:
    // With `keepGoing`, a file cut short ends at its last whole frame, and
    // chunks that cannot be read are skipped: Loss() names what is missing.
    // Without it, both are errors.
    explicit TarvAviReader(const InputSpec& input, bool keepGoing = false);
    ~TarvAviReader();

    // What Next() read: a chunk of the Tarv stream (its payload), a packet
    // of another stream, or the end.
    enum class Chunk { End, Payload, Packet };
    // The next payload, or a packet of another stream in `packet`.
    Chunk Next(std::vector<uint8_t>& payload, AVPacket* packet);

    const std::string& Path() const { return m_path; }
    const AVFormatContext* Format() const { return m_avi.Format(); }
    int StreamIndex() const { return m_stream; }
    Variant GetVariant() const { return m_variant; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    AVRational FrameRate() const { return m_rate; }
    int64_t FrameCountHint() const { return m_countHint; }
    int64_t FramesRead() const { return m_frames; }
    // The file's damage, as AviInput::Damage() says it.
    const std::string& Damage() const { return m_avi.Damage(); }
    // Chunks were skipped (only with `keepGoing`).
    bool Lost() const { return m_avi.Lost(); }
    // After the end, with `keepGoing`: what could not be read (frames, sound,
    // where the file ends), one line; empty when nothing is missing.
    const std::string& Loss() const { return m_loss; }

private:
    // The file ends inside frame m_frames, or before it: an error, or the
    // end with `keepGoing`.
    void EndsShort(bool inside);
    double SoundLost() const;

    std::string m_path;
    AviInput m_avi;
    bool m_keepGoing = false;
    bool m_ended = false;
    std::string m_loss;
    std::vector<int64_t> m_soundEnd; // per stream: where its packets read end
    int m_stream = -1;
    Variant m_variant = Variant::Yuy2;
    int m_width = 0, m_height = 0;
    AVRational m_rate{25, 1};
    int64_t m_countHint = 0;
    int64_t m_frames = 0;
};

} // namespace tarv
