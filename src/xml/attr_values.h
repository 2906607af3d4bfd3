// Attribute texts turned into booleans, numbers, counts, cell references and
// error codes. None trims and none fails: an unusable text reads as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "model/address.h"
#include "model/cell_value.h"

namespace cmx::xml {

using AttrText = std::optional<std::string_view>;

// True exactly for "1", "on" and "true".
bool attr_bool(AttrText text);
// A decimal float with optional sign, bare point and exponent, or inf,
// infinity and nan in any case; overflow gives an infinity.
std::optional<double> attr_float(AttrText text);
// A non-negative whole float clamped to `limit`; 0 for anything else.
uint32_t attr_clamped_count(AttrText text, uint32_t limit);
// An A1 reference, "$" flags kept; upper-case letters only.
std::optional<model::CellRef> attr_cell_ref(AttrText text);
// One of the nine error texts, byte for byte.
std::optional<model::CellErrorCode> parse_error_literal(std::string_view text);

}  // namespace cmx::xml
