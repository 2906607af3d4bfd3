#include "model/style_equality.h"

namespace cmx::model {

namespace {

bool optional_color_eq(const std::optional<Color>& a, const std::optional<Color>& b) {
  if (!a || !b) return !a && !b;
  return color_eq(*a, *b);
}

bool edge_eq(const std::optional<BorderEdge>& a, const std::optional<BorderEdge>& b) {
  if (!a || !b) return !a && !b;
  return a->style == b->style && optional_color_eq(a->color, b->color);
}

template <typename T, typename Eq>
bool tables_eq(const std::vector<T>& a, const std::vector<T>& b, Eq eq) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!eq(a[i], b[i])) return false;
  }
  return true;
}

template <typename T, typename Eq>
uint32_t find_first(const std::vector<T>& table, const T& record, Eq eq) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (eq(table[i], record)) return static_cast<uint32_t>(i);
  }
  return static_cast<uint32_t>(table.size());
}

}  // namespace

bool font_eq(const Font& a, const Font& b) {
  // Optional doubles compare their values with ==, so NaN never matches.
  return a.name == b.name && a.size_pt == b.size_pt && a.bold == b.bold && a.italic == b.italic &&
         a.underline == b.underline && a.strike == b.strike && optional_color_eq(a.color, b.color);
}

bool fill_eq(const Fill& a, const Fill& b) {
  if (a.index() != b.index()) return false;
  if (const auto* solid = std::get_if<SolidFill>(&a)) return color_eq(solid->color, std::get<SolidFill>(b).color);
  return true;
}

bool border_eq(const Border& a, const Border& b) {
  return edge_eq(a.left, b.left) && edge_eq(a.right, b.right) && edge_eq(a.top, b.top) &&
         edge_eq(a.bottom, b.bottom);
}

bool alignment_eq(const Alignment& a, const Alignment& b) { return a == b; }

bool cell_xfs_eq(const std::vector<CellXf>& a, const std::vector<CellXf>& b) { return a == b; }

bool cell_format_eq(const CellFormat& a, const CellFormat& b) {
  return font_eq(a.font, b.font) && fill_eq(a.fill, b.fill) && border_eq(a.border, b.border) &&
         a.number_format == b.number_format && alignment_eq(a.alignment, b.alignment);
}

bool stylesheet_eq(const StyleSheet& a, const StyleSheet& b) {
  return tables_eq(a.fonts, b.fonts, font_eq) && tables_eq(a.fills, b.fills, fill_eq) &&
         tables_eq(a.borders, b.borders, border_eq) && cell_xfs_eq(a.cell_xfs, b.cell_xfs) &&
         a.num_fmts == b.num_fmts && a.theme == b.theme && a.indexed_colors == b.indexed_colors;
}

uint32_t find_font(const std::vector<Font>& table, const Font& font) { return find_first(table, font, font_eq); }
uint32_t find_fill(const std::vector<Fill>& table, const Fill& fill) { return find_first(table, fill, fill_eq); }
uint32_t find_border(const std::vector<Border>& table, const Border& border) {
  return find_first(table, border, border_eq);
}
uint32_t find_cell_xf(const std::vector<CellXf>& table, const CellXf& xf) {
  return find_first(table, xf, [](const CellXf& a, const CellXf& b) { return a == b; });
}

}  // namespace cmx::model
