// GoogleTest checks that several suites make.
#pragma once

#include "codec/codec.h"
#include "tests/support/headers.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>

namespace tarv_test {

// An input format, with an output format or none, and whether a codec takes them.
struct FormatCase {
    const char* name;
    tarv::FrameFormat in;
    std::optional<tarv::FrameFormat> out;
    bool accepted;
};

inline void ExpectFormats(const tarv::CCodec& codec, std::span<const FormatCase> cases)
{
    EXPECT_EQ(codec.CheckFormat(nullptr, nullptr), 0);
    for (const FormatCase& c : cases)
        EXPECT_EQ(codec.CheckFormat(&c.in, c.out ? &*c.out : nullptr) != 0, c.accepted) << c.name;
}

// Names the cases of a suite over the variant table by the variants' names.
inline std::string VariantName(const testing::TestParamInfo<tarv::Variant>& p)
{
    return tarv::Info(p.param).name;
}

} // namespace tarv_test
