// Interning: finding, or appending, the style records and the cell-format
// index that describe a resolved CellFormat; the lookup caches that keep it
// fast on large tables; and the rollback of a failed edit's appends.
// Read style_equality.h first.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "model/styles.h"

namespace cmx::model {

enum class InternError : uint8_t {
  NumFmtTableFull,  // every custom number-format id from 164 to 65,535 is taken
  StyleTableFull,   // a table would pass the record limit the styles reader accepts
};

// Below this many cell formats interning searches linearly; from it on it
// goes through the lookup caches.
inline constexpr size_t kLookupCacheThreshold = 128;

// A rollback mark: the five table lengths before an edit's first interning.
struct StyleTableLengths {
  size_t fonts = 0;
  size_t fills = 0;
  size_t borders = 0;
  size_t cell_xfs = 0;
  size_t num_fmts = 0;
  friend bool operator==(const StyleTableLengths&, const StyleTableLengths&) = default;
};
StyleTableLengths style_table_lengths(const StyleSheet& styles);

// Truncates each table longer than its mark; the caches notice at next use.
void rollback_stylesheet(StyleSheet& styles, const StyleTableLengths& mark);

// The position of a cell format that resolves to `format` with built-in
// number format `id`. Fails only with StyleTableFull, and then leaves the
// tables as they were.
Result<uint32_t, InternError> intern_format_builtin_numfmt(StyleSheet& styles, const CellFormat& format,
                                                           uint16_t id);

// The same with a custom code: an entry of num_fmts is reused (the first with
// that code, id 164 or more, first to carry its id) or appended under the
// smallest free id. Fails with NumFmtTableFull or StyleTableFull, and then
// leaves the tables as they were.
Result<uint32_t, InternError> intern_format_custom_numfmt(StyleSheet& styles, const CellFormat& format,
                                                          std::string_view code);

// The record searches behind both once the number-format id is known
// (absent for none): through the caches, and plainly. Both give the same
// position and leave the same tables.
Result<uint32_t, InternError> intern_with_lookup_caches(StyleSheet& styles, const CellFormat& format,
                                                        std::optional<uint16_t> num_fmt_id);
Result<uint32_t, InternError> intern_with_linear_search(StyleSheet& styles, const CellFormat& format,
                                                        std::optional<uint16_t> num_fmt_id);

// Record keys: every field in declaration order, floats by bit pattern with
// -0.0 as 0.0. Absent when a floating field is NaN: such a record never
// equals anything and stays out of the caches.
std::optional<uint64_t> hash_color_key(const Color& color);
std::optional<uint64_t> hash_font_key(const Font& font);
std::optional<uint64_t> hash_fill_key(const Fill& fill);
std::optional<uint64_t> border_lookup_key(const Border& border);
uint64_t hash_cell_xf(const CellXf& xf);

}  // namespace cmx::model
