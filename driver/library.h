// The variant a codec library carries: its identity and its codec objects. A
// library links exactly one definition of ThisLibrary.
#pragma once

#include "variants/variant.h"

const tarv::VariantInfo& ThisLibrary();
