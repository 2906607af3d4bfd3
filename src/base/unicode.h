// Unicode facade: case mapping, character properties and scalar counting of
// UTF-8 text. ICU does the work; ASCII text takes a fast path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cmx::unicode {

// Full lower-case mapping (multi-character results, context-sensitive final
// sigma), not case folding: "ß" stays "ß". Ill-formed bytes pass through.
std::string to_lower(std::string_view text);
// Full upper-case mapping: "ß" becomes "SS".
std::string to_upper(std::string_view text);

bool is_alphabetic(char32_t cp);
// General categories Nd, Nl and No.
bool is_numeric(char32_t cp);
bool is_white_space(char32_t cp);

// Number of Unicode scalar values; each ill-formed byte counts as one.
size_t count_scalars(std::string_view text);
bool is_valid_utf8(std::string_view text);
bool is_ascii(std::string_view text);

// Decodes the scalar at `pos` and advances `pos`; an ill-formed byte decodes
// as U+FFFD and advances one byte. `pos` must be below text.size().
char32_t decode_utf8(std::string_view text, size_t& pos);
void append_utf8(std::string& out, char32_t cp);

// `text` with each ill-formed byte replaced by U+FFFD; well-formed text is
// copied unchanged.
std::string to_valid_utf8(std::string_view text);

}  // namespace cmx::unicode
