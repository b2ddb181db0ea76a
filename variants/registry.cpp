#include "variants/registry.h"

#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

namespace tarv {
namespace {

constexpr Variant kAll[] = {Variant::Yuy2, Variant::Rgb24};

} // namespace

std::span<const Variant> AllVariants()
{
    return kAll;
}

const VariantInfo& Info(Variant v)
{
    return v == Variant::Yuy2 ? kYuy2 : kRgb24;
}

std::optional<Variant> VariantByName(std::string_view name)
{
    for (const Variant v : kAll)
        if (name == Info(v).name)
            return v;
    return std::nullopt;
}

std::optional<Variant> VariantByFourCC(uint32_t fourcc)
{
    for (const Variant v : kAll)
        if (fourcc == Info(v).fourccValue)
            return v;
    return std::nullopt;
}

} // namespace tarv
