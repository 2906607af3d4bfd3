// Equality of style records and tables, and the first-equal searches that
// interning builds on. Floating fields compare numerically: 0.0 equals -0.0
// and a NaN equals nothing, not even itself.
#pragma once

#include <cstdint>
#include <vector>

#include "model/styles.h"

namespace cmx::model {

bool font_eq(const Font& a, const Font& b);
bool fill_eq(const Fill& a, const Fill& b);
// Each edge absent on both sides, or present on both with equal style and colour.
bool border_eq(const Border& a, const Border& b);
// An absent `h` or `v` differs from every present value.
bool alignment_eq(const Alignment& a, const Alignment& b);
bool cell_xfs_eq(const std::vector<CellXf>& a, const std::vector<CellXf>& b);
// Resolved formats, part by part.
bool cell_format_eq(const CellFormat& a, const CellFormat& b);

// The five tables, the theme and the palette; the caches play no part.
bool stylesheet_eq(const StyleSheet& a, const StyleSheet& b);

// The position of the first equal record, or the table's length.
uint32_t find_font(const std::vector<Font>& table, const Font& font);
uint32_t find_fill(const std::vector<Fill>& table, const Fill& fill);
uint32_t find_border(const std::vector<Border>& table, const Border& border);
uint32_t find_cell_xf(const std::vector<CellXf>& table, const CellXf& xf);

}  // namespace cmx::model
