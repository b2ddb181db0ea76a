// Payloads are part of the format: files written today must decode tomorrow,
// and faster code must write the very same bytes. These hashes were recorded
// from the plain reference implementation; a change here is a format change.
#include "tests/support/codec_calls.h"
#include "tests/support/frames.h"
#include "tests/support/headers.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace tarv;
using namespace tarv_test;

uint64_t Fnv1a(const Bytes& b)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (const uint8_t byte : b)
        h = (h ^ byte) * 0x100000001B3ull;
    return h;
}

struct Golden {
    bool yuy2;
    int32_t width, height;
    Content content;
    uint32_t bytes; // of the payload, the compressed frame's bytes after the header
    uint64_t hash;
};

TEST(GoldenPayloads, StayByteForByteTheSame)
{
    const Golden golden[] = {
#include "golden_payloads.inc"
    };
    for (const Golden& g : golden) {
        SCOPED_TRACE(testing::Message() << (g.yuy2 ? "TRVY " : "TRVR ") << g.width << "x"
                                        << g.height << " content " << static_cast<int>(g.content));
        const Variant v = g.yuy2 ? Variant::Yuy2 : Variant::Rgb24;
        const FrameFormat in = RawFormat(v, g.width, g.height);
        const Compressed c = CompressFresh(v, in, Frame(in, g.content, 1234));
        ASSERT_EQ(c.status, Status::Ok);
        EXPECT_EQ(c.payload.size(), g.bytes);
        const uint64_t hash = Fnv1a(c.payload);
        EXPECT_EQ(hash, g.hash) << std::hex << "0x" << hash;
    }
}

} // namespace
