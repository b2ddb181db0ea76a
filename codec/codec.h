// The codec object shared by every encoder and decoder, and the frame pipeline.
//
// A codec object is configured for one frame size by Prepare (the query
// messages): it checks the formats with the variant, allocates the range
// coder's frequency table and builds the plane geometry and two sample buffers.
// Frames then reuse that memory: split, predict and encode, or decode,
// unpredict and merge.
//
// The planar sample buffer is part of the compressed format. Planes lie back to
// back; each row is rowBytes(width) / 2 samples long (2 * width rounded up to a
// multiple of 16 bytes), and the samples past the width (the row tail) are coded
// but carry nothing. Which planes a variant stores, and after which PlaneInfo,
// is the variant's choice.
#pragma once

#include "codec/format.h"
#include "entropy/range_coder.h"

#include <cstdint>

namespace tarv {

// Geometry of one plane.
struct PlaneInfo {
    int32_t width;  // samples per row
    int32_t height; // rows
    int32_t stride; // bytes from one row to the next, a multiple of 16
    uint32_t size;  // bytes of the whole plane: stride * height
};

// An owned array of samples. `count` is meaningful only while `data` is present.
class SampleBuffer {
public:
    SampleBuffer() = default;
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;
    ~SampleBuffer() { Free(); }

    // Allocates n zeroed samples unless an array is present, which is returned
    // as it is. Returns null when n is negative, 2n does not fit in 32 bits, or
    // the allocation fails.
    uint16_t* Allocate(int64_t n);
    void Free();

    uint16_t* data = nullptr;
    int32_t count = 0;
};

// Largest value any geometry quantity or buffer size may take.
inline constexpr int64_t kMaxFrameQuantity = INT32_MAX;

// half(n): n / 2 rounded up. PlaneRowBytes(w): bytes of a plane row of w
// 16-bit samples, 2w rounded up to a multiple of 16.
constexpr int64_t HalfUp(int64_t n)
{
    return n / 2 + n % 2;
}
constexpr int64_t PlaneRowBytes(int64_t w)
{
    return (2 * w + 15) / 16 * 16;
}

// Fills the three plane records for a width x height frame: full size,
// half width, half width and half height. False (records untouched) when a
// dimension is negative or a stride or plane size exceeds kMaxFrameQuantity.
bool ComputePlanes(int64_t width, int64_t height, PlaneInfo planes[3]);

class CCodec {
public:
    CCodec();
    CCodec(const CCodec&) = delete;
    CCodec& operator=(const CCodec&) = delete;
    virtual ~CCodec();

    // Samples each buffer holds, given the three planes' sample counts.
    // Computed exactly in 64 bits so that no header can wrap it.
    virtual int64_t BufferSampleCount(int64_t plane0, int64_t plane1, int64_t plane2) const = 0;
    // Nonzero when the input format, with the output format or none, is acceptable.
    virtual int CheckFormat(const FrameFormat* input, const FrameFormat* output) const = 0;

    // Builds the geometry and buffers for the format's size: 1 on success, 0 on
    // failure (nothing allocated). The same size with buffers present is a no-op.
    int Setup(const FrameFormat* format);
    // Frees both buffers and zeroes the geometry and the stored format.
    void Reset();
    // Configures the object for a stream: Ok, Error (no input), BadFormat
    // (refused, nothing changes) or Memory (left unconfigured).
    Status Prepare(const FrameFormat* input, const FrameFormat* output);

    const PlaneInfo& Plane(int index) const { return m_plane[index]; }
    const SampleBuffer& Samples() const { return m_samples; }
    const SampleBuffer& Scratch() const { return m_scratch; }
    const FrameFormat& Format() const { return m_format; }
    bool HasTable() const { return m_coder.HasTable(); }

protected:
    // True when a width x height frame (both at least 0) has a geometry whose
    // strides, plane sizes, sample count, buffer bytes and largest compressed
    // frame (buffer bytes plus the largest table) all fit in kMaxFrameQuantity.
    bool FrameFits(int64_t width, int64_t height) const;

    CRangeCoder16 m_coder;
    SampleBuffer m_samples;
    SampleBuffer m_scratch;
    PlaneInfo m_plane[3] = {};
    FrameFormat m_format = {};
};

class CEncoder : public CCodec {
public:
    // Largest compressed frame for this size, in bytes. Callers check the
    // format first, so the size fits.
    virtual uint32_t GetMaxCompressedSize(int32_t width, int32_t height) const = 0;
    // Widen the packed input into the planes of `samples`.
    virtual int SplitPlanes(uint16_t* samples, const uint8_t* input, const FrameFormat* format) = 0;
    // Turn every plane into residuals, with `scratch` between the passes.
    virtual int Predict(uint16_t* samples, uint16_t* scratch) = 0;

    // Compresses one packed frame of the configured size, described by `input`
    // (sizeImage nonzero), into `output`. `length` is the room at `output` in
    // and the payload's bytes out; a payload never takes more than
    // GetMaxCompressedSize. BadFormat for a frame the configuration does not
    // take, Error when a stage fails or the payload does not fit.
    Status Compress(const FrameFormat& input, const uint8_t* pixels, uint8_t* output,
                    uint32_t& length);
    // End of a compression stream: gives back the buffers and the table.
    void EndStream();
};

class CDecoder : public CCodec {
public:
    // Bytes of a decompressed frame of this size.
    virtual uint32_t GetDecompressedSize(int32_t width, int32_t height) const = 0;
    // Narrow the planes of `samples` into the packed output.
    virtual int MergePlanes(uint8_t* output, const uint16_t* samples,
                            const FrameFormat* format) = 0;
    // Turn the residuals of every plane back into samples.
    virtual int Unpredict(uint16_t* samples, uint16_t* scratch) = 0;

    // Decompresses the payload of `input` (a compressed frame of the configured
    // size, sizeImage its bytes) into packed pixels of the `output` format,
    // whose height may have either sign. BadFormat for formats or sizes the
    // configuration does not take, Error for a damaged payload.
    Status Decompress(const FrameFormat& input, const uint8_t* payload, const FrameFormat& output,
                      uint8_t* pixels);
};

} // namespace tarv
