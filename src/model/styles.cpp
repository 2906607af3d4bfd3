#include "model/styles.h"

namespace cmx::model {

bool color_eq(const Color& a, const Color& b) {
  if (a.index() != b.index()) return false;
  if (auto* rgb = std::get_if<RgbColor>(&a)) return rgb->text == std::get<RgbColor>(b).text;
  if (auto* theme = std::get_if<ThemeColor>(&a)) {
    const auto& other = std::get<ThemeColor>(b);
    return theme->idx == other.idx && theme->tint == other.tint;
  }
  if (auto* indexed = std::get_if<IndexedColor>(&a)) {
    return indexed->index == std::get<IndexedColor>(b).index;
  }
  return true;  // both Auto
}

WorkbookTheme default_theme_colors() {
  return WorkbookTheme{{"#000000", "#ffffff", "#44546a", "#e7e6e6", "#4472c4", "#ed7d31",
                        "#a5a5a5", "#ffc000", "#5b9bd5", "#70ad47", "#0563c1", "#954f72"}};
}

namespace {

template <typename T>
T record_at(const std::vector<T>& table, std::optional<uint32_t> position) {
  if (position && *position < table.size()) return table[*position];
  return T{};
}

NumberFormat resolve_number_format(const StyleSheet& styles, std::optional<uint16_t> id) {
  if (!id) return BuiltinNumFmt{0};
  if (*id < kFirstCustomNumFmtId) return BuiltinNumFmt{*id};
  for (const CustomNumFmt& entry : styles.num_fmts) {
    if (entry.id == *id) return CustomPattern{entry.code};
  }
  return BuiltinNumFmt{*id};
}

}  // namespace

CellFormat resolve_cell_format(const StyleSheet& styles, std::optional<uint32_t> style) {
  if (!style || *style >= styles.cell_xfs.size()) return CellFormat{};
  const CellXf& xf = styles.cell_xfs[*style];
  CellFormat out;
  out.font = record_at(styles.fonts, xf.font);
  out.fill = record_at(styles.fills, xf.fill);
  out.border = record_at(styles.borders, xf.border);
  out.number_format = resolve_number_format(styles, xf.num_fmt_id);
  out.alignment = xf.alignment.value_or(Alignment{});
  return out;
}

}  // namespace cmx::model
