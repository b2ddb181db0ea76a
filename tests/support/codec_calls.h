// Frames through the codec objects' plain interface, with buffers sized as a
// caller sizes them.
#pragma once

#include "codec/codec.h"
#include "tests/support/bytes.h"
#include "variants/registry.h"

namespace tarv_test {

struct Compressed {
    tarv::Status status = tarv::Status::Error;
    // The compressed frame: the input's size, the variant's format code, and
    // sizeImage the payload's bytes.
    tarv::FrameFormat format;
    Bytes payload;
};

// One frame on an encoder of the variant that is already prepared, into a
// block of GetMaxCompressedSize bytes.
Compressed Compress(tarv::CEncoder& encoder, tarv::Variant v, const tarv::FrameFormat& input,
                    const Bytes& pixels);
// A fresh encoder of the variant, prepared for the input, then one frame.
Compressed CompressFresh(tarv::Variant v, const tarv::FrameFormat& input, const Bytes& pixels);

// One frame into `pixels`. The payload sits in a block of exactly
// compressed.sizeImage bytes (fewer when it is shorter), so that a read past
// it trips the sanitizers.
tarv::Status Decompress(tarv::CDecoder& decoder, const tarv::FrameFormat& compressed,
                        const Bytes& payload, const tarv::FrameFormat& output, Bytes& pixels);

} // namespace tarv_test
