#include "variants/registry.h"

#include "variants/rgb24/rgb24.h"
#include "variants/yuy2/yuy2.h"

#include <cstdlib>
#include <iterator>

namespace tarv {
namespace {

constexpr Variant kAll[] = {Variant::Yuy2, Variant::Rgb24};

// True for a value Info() has a case for; the switch has no default, so a
// value without one does not compile.
constexpr bool Known(Variant v)
{
    switch (v) {
    case Variant::Yuy2:
    case Variant::Rgb24:
        return true;
    }
    return false;
}

// kAll lists every known variant once, in the enum's order.
constexpr bool ListedInOrder()
{
    for (size_t i = 0; i < std::size(kAll); ++i)
        if (kAll[i] != static_cast<Variant>(i) || !Known(kAll[i]))
            return false;
    return !Known(static_cast<Variant>(std::size(kAll)));
}
static_assert(ListedInOrder(), "kAll must list every Variant once, in order");

} // namespace

std::span<const Variant> AllVariants()
{
    return kAll;
}

const VariantInfo& Info(Variant v)
{
    switch (v) {
    case Variant::Yuy2:
        return kYuy2;
    case Variant::Rgb24:
        return kRgb24;
    }
    std::abort(); // not a Variant: a caller's memory is damaged
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
