#include "reference/range_coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using tarv::CRangeCoderStream;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xCD;
constexpr size_t kGuardBytes = 16;

// An operation on the sink: a byte value for PutByte, or one of these.
constexpr int kCarry = -1;
constexpr int kFlush = -2;

void Apply(CRangeCoderStream& sink, const std::vector<int>& ops)
{
    for (int op : ops) {
        if (op == kCarry) {
            sink.Carry();
        } else if (op == kFlush) {
            sink.Flush();
        } else {
            sink.PutByte(static_cast<uint8_t>(op));
        }
    }
}

// Runs `ops` on a sink bound to a large buffer and returns what it wrote.
Bytes Written(const std::vector<int>& ops)
{
    Bytes buffer(64, kGuard);
    CRangeCoderStream sink;
    EXPECT_EQ(sink.Attach(buffer.data(), buffer.size()), 1);
    Apply(sink, ops);
    EXPECT_FALSE(sink.Refused());
    buffer.resize(static_cast<size_t>(sink.Length()));
    return buffer;
}

TEST(RangeCoderStream, PutByteFFWithNothingHeldWritesAtOnce)
{
    Bytes buffer(4, kGuard);
    CRangeCoderStream sink;
    ASSERT_EQ(sink.Attach(buffer.data(), buffer.size()), 1);
    sink.PutByte(0xFF);
    EXPECT_EQ(sink.Length(), 1u);
    EXPECT_EQ(buffer[0], 0xFF);
    sink.PutByte(0xFF);
    EXPECT_EQ(sink.Length(), 2u);
    EXPECT_EQ(buffer[1], 0xFF);
}

TEST(RangeCoderStream, HoldsNewestByteAndFFRunUntilSettled)
{
    Bytes buffer(8, kGuard);
    CRangeCoderStream sink;
    ASSERT_EQ(sink.Attach(buffer.data(), buffer.size()), 1);
    sink.PutByte(0x12);
    EXPECT_EQ(sink.Length(), 0u);
    sink.PutByte(0xFF);
    sink.PutByte(0xFF);
    EXPECT_EQ(sink.Length(), 0u);
    sink.PutByte(0x34); // settles 12 FF FF, holds 34
    EXPECT_EQ(sink.Length(), 3u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{0x12, 0xFF, 0xFF}));
    sink.Flush();
    EXPECT_EQ(sink.Length(), 4u);
    EXPECT_EQ(buffer[3], 0x34);
}

TEST(RangeCoderStream, SequencesProduceExpectedBytes)
{
    struct Case {
        const char* name;
        std::vector<int> ops;
        Bytes expected;
    };
    const Case cases[] = {
        {"carry into lone held byte", {0x7F, kCarry, kFlush}, {0x80}},
        {"carry through FF run",
         {0x12, 0xFF, 0xFF, kCarry, 0x34, kFlush},
         {0x13, 0x00, 0x00, 0x34}},
        {"flush writes held FF run", {0x12, 0xFF, kFlush}, {0x12, 0xFF}},
        {"second flush writes nothing", {0x12, 0xFF, kFlush, kFlush}, {0x12, 0xFF}},
        {"flush with nothing held", {kFlush}, {}},
        {"carry k=0", {0x41, kCarry, kFlush}, {0x42}},
        {"carry k=1", {0x41, 0xFF, kCarry, kFlush}, {0x42, 0x00}},
        {"carry k=4",
         {0x41, 0xFF, 0xFF, 0xFF, 0xFF, kCarry, kFlush},
         {0x42, 0x00, 0x00, 0x00, 0x00}},
        // The zero left behind by a carry is still held, so a second carry reaches it.
        {"second carry reaches held zero",
         {0x41, 0xFF, 0xFF, kCarry, kCarry, kFlush},
         {0x42, 0x00, 0x01}},
        {"carry then FF run again", {0x41, 0xFF, kCarry, 0xFF, kCarry, kFlush}, {0x42, 0x01, 0x00}},
        {"carry into FE makes held FF", {0xFE, kCarry, 0x10, kFlush}, {0xFF, 0x10}},
        {"bytes before held pass unchanged",
         {0x00, 0x01, 0xFF, 0x02, kCarry, kFlush},
         {0x00, 0x01, 0xFF, 0x03}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Written(c.ops), c.expected);
    }
}

TEST(RangeCoderStream, CarryKeepsLastByteOfRunHeld)
{
    for (uint32_t k : {0u, 1u, 2u, 7u}) {
        SCOPED_TRACE(k);
        Bytes buffer(16, kGuard);
        CRangeCoderStream sink;
        ASSERT_EQ(sink.Attach(buffer.data(), buffer.size()), 1);
        sink.PutByte(0x41);
        for (uint32_t i = 0; i < k; ++i)
            sink.PutByte(0xFF);
        sink.Carry();
        // Written: 42 and k - 1 zeros; one byte (42 or the last zero) is still held.
        EXPECT_EQ(sink.Length(), k);
        sink.Flush();
        ASSERT_EQ(sink.Length(), k + 1);
        Bytes expected(k + 1, 0x00);
        expected[0] = 0x42;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(k) + 1), expected);
        EXPECT_EQ(buffer[k + 1], kGuard);
    }
}

TEST(RangeCoderStream, AttachBindsOnlyOnceAndRejectsBadBuffers)
{
    Bytes first(4, kGuard);
    Bytes second(4, kGuard);
    {
        CRangeCoderStream sink;
        EXPECT_EQ(sink.Attach(nullptr, 4), 0);
        EXPECT_EQ(sink.Attach(first.data(), 0), 0);
        // The refused calls left the sink unbound.
        ASSERT_EQ(sink.Attach(first.data(), first.size()), 1);
        EXPECT_EQ(sink.Attach(second.data(), second.size()), 0);
        EXPECT_EQ(sink.Attach(nullptr, 0), 0);
        sink.PutByte(0xFF);
        sink.PutByte(0x21);
        sink.Flush();
        EXPECT_EQ(sink.Length(), 2u);
    }
    EXPECT_EQ(first, (Bytes{0xFF, 0x21, kGuard, kGuard}));
    EXPECT_EQ(second, Bytes(4, kGuard));
}

TEST(RangeCoderStream, UnattachedSinkWritesNothing)
{
    CRangeCoderStream sink;
    sink.PutByte(0xFF);
    sink.PutByte(0x12);
    sink.PutByte(0x34);
    sink.Flush();
    EXPECT_EQ(sink.Length(), 0u);
    EXPECT_TRUE(sink.Refused());
}

TEST(RangeCoderStream, DestructorFlushesHeldBytes)
{
    Bytes buffer(4, kGuard);
    {
        CRangeCoderStream sink;
        ASSERT_EQ(sink.Attach(buffer.data(), buffer.size()), 1);
        sink.PutByte(0x12);
        sink.PutByte(0xFF);
        sink.PutByte(0xFF);
        EXPECT_EQ(sink.Length(), 0u);
    }
    EXPECT_EQ(buffer, (Bytes{0x12, 0xFF, 0xFF, kGuard}));
}

TEST(RangeCoderStream, FullBufferRefusesWithoutOverrun)
{
    struct Case {
        const char* name;
        std::vector<int> ops;
        uint64_t capacity;
        Bytes kept;
        bool refused;
    };
    const Case cases[] = {
        {"exact fill", {0x01, 0x02, kFlush}, 2, {0x01, 0x02}, false},
        {"one too many", {0x01, 0x02, 0x03, kFlush}, 2, {0x01, 0x02}, true},
        {"unheld FF past end", {0xFF, 0xFF, 0xFF}, 2, {0xFF, 0xFF}, true},
        {"held FF run past end", {0x01, 0xFF, 0xFF, 0xFF, kFlush}, 2, {0x01, 0xFF}, true},
        {"carry run past end",
         {0x01, 0xFF, 0xFF, 0xFF, kCarry, 0x05, kFlush},
         3,
         {0x02, 0x00, 0x00},
         true},
        {"many bytes into one", {0x10, 0x11, 0x12, 0x13, 0x14, kFlush}, 1, {0x10}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer(static_cast<size_t>(c.capacity + kGuardBytes), kGuard);
        CRangeCoderStream sink;
        ASSERT_EQ(sink.Attach(buffer.data(), c.capacity), 1);
        Apply(sink, c.ops);
        sink.Flush();
        EXPECT_EQ(sink.Refused(), c.refused);
        EXPECT_EQ(sink.Length(), c.kept.size());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(c.capacity)), c.kept);
        EXPECT_EQ(Bytes(buffer.begin() + static_cast<long>(c.capacity), buffer.end()),
                  Bytes(kGuardBytes, kGuard));
    }
}

} // namespace
