// The variant table: every variant of the family, with its facts, in one place.
#pragma once

#include "variants/variant.h"

#include <optional>
#include <span>
#include <string_view>

namespace tarv {

// Every variant, in a fixed order.
std::span<const Variant> AllVariants();
const VariantInfo& Info(Variant v);
std::optional<Variant> VariantByName(std::string_view name);
std::optional<Variant> VariantByFourCC(uint32_t fourcc);

} // namespace tarv
