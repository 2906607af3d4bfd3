// Small text rules the sheet readers share: Unicode white-space trimming and
// the strict unsigned-number forms of indexes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cmx::reader {

// Unicode White_Space removed from both ends.
std::string_view trim_white_space(std::string_view text);

// An optional "+" and one or more ASCII digits, nothing else, without
// overflow past `max`.
std::optional<uint64_t> parse_plus_digits(std::string_view text, uint64_t max);

}  // namespace cmx::reader
