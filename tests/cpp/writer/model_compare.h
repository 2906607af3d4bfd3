// What a new package carries of a workbook, compared field by field: the
// first difference as text, or empty when the two agree. Tables, column
// styles, sheet defaults and charts are not written, so not compared.
#pragma once

#include <cmath>
#include <sstream>
#include <string>

#include "model/address.h"
#include "model/workbook.h"

namespace cmx::writer_test {

inline bool same_double(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

inline bool same_color(const std::optional<model::Color>& a, const std::optional<model::Color>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->index() != b->index()) return false;
  if (const auto* ta = std::get_if<model::ThemeColor>(&*a)) {
    const auto& tb = std::get<model::ThemeColor>(*b);
    return ta->idx == tb.idx && (ta->tint == tb.tint || (std::isnan(ta->tint) && std::isnan(tb.tint)));
  }
  return model::color_eq(*a, *b);
}

inline bool same_font(const model::Font& a, const model::Font& b) {
  return a.name == b.name && a.size_pt == b.size_pt && a.bold == b.bold && a.italic == b.italic &&
         a.underline == b.underline && a.strike == b.strike && same_color(a.color, b.color);
}

inline bool same_fill(const model::Fill& a, const model::Fill& b) {
  if (a.index() != b.index()) return false;
  const auto* sa = std::get_if<model::SolidFill>(&a);
  return sa == nullptr || same_color(sa->color, std::get<model::SolidFill>(b).color);
}

inline bool same_edge(const std::optional<model::BorderEdge>& a, const std::optional<model::BorderEdge>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->style == b->style && same_color(a->color, b->color));
}

inline bool same_border(const model::Border& a, const model::Border& b) {
  return same_edge(a.left, b.left) && same_edge(a.right, b.right) && same_edge(a.top, b.top) &&
         same_edge(a.bottom, b.bottom);
}

template <typename T, typename Eq>
bool same_list(const std::vector<T>& a, const std::vector<T>& b, Eq eq) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!eq(a[i], b[i])) return false;
  }
  return true;
}

inline std::string cell_text(const model::SheetCell& cell) {
  std::ostringstream out;
  out << "kind " << static_cast<int>(cell.value.kind());
  if (cell.value.is_text()) out << " '" << cell.value.as_text() << "'";
  if (cell.value.is_number()) out << " " << cell.value.as_number();
  if (cell.formula) out << " f='" << cell.formula->view() << "'";
  if (cell.style) out << " s=" << *cell.style;
  return out.str();
}

inline std::string sheet_difference(const model::SheetModel& a, const model::SheetModel& b) {
  if (a.name != b.name) return "name '" + a.name + "' vs '" + b.name + "'";
  auto ia = a.cells.begin();
  auto ib = b.cells.begin();
  for (; ia != a.cells.end() && ib != b.cells.end(); ++ia, ++ib) {
    const std::string where = model::format_cell_ref(model::CellRef{ia->first.row, ia->first.col});
    if (ia->first != ib->first) {
      return "cell " + where + " vs " + model::format_cell_ref(model::CellRef{ib->first.row, ib->first.col});
    }
    const model::SheetCell& ca = ia->second;
    const model::SheetCell& cb = ib->second;
    const bool value_same = ca.value.kind() == cb.value.kind() &&
                            (!ca.value.is_number() || same_double(ca.value.as_number(), cb.value.as_number())) &&
                            (ca.value.is_number() || ca.value == cb.value);
    if (!value_same || ca.formula != cb.formula || ca.style != cb.style) {
      return "cell " + where + ": " + cell_text(ca) + " vs " + cell_text(cb);
    }
  }
  if (a.cells.size() != b.cells.size()) return "cell count " + std::to_string(a.cells.size()) + " vs " +
                                                std::to_string(b.cells.size());
  if (a.hyperlinks != b.hyperlinks) return "hyperlinks";
  if (a.merges != b.merges) return "merges";
  if (a.col_widths != b.col_widths) return "column widths";
  if (a.row_heights != b.row_heights) return "row heights";
  if (a.array_ranges != b.array_ranges) return "array ranges";
  if (a.freeze_pane != b.freeze_pane) return "freeze pane";
  return {};
}

inline std::string model_difference(const model::WorkbookModel& a, const model::WorkbookModel& b) {
  if (a.sheets.size() != b.sheets.size()) return "sheet count";
  for (size_t i = 0; i < a.sheets.size(); ++i) {
    std::string diff = sheet_difference(a.sheets[i], b.sheets[i]);
    if (!diff.empty()) return "sheet " + std::to_string(i) + ": " + diff;
  }
  if (a.defined_names != b.defined_names) return "defined names";
  if (a.shared_strings != b.shared_strings) return "shared strings";
  if (a.date_system != b.date_system) return "date system";
  const model::StyleSheet& sa = a.styles;
  const model::StyleSheet& sb = b.styles;
  if (!same_list(sa.fonts, sb.fonts, same_font)) return "fonts";
  if (!same_list(sa.fills, sb.fills, same_fill)) return "fills";
  if (!same_list(sa.borders, sb.borders, same_border)) return "borders";
  if (sa.cell_xfs != sb.cell_xfs) return "cell formats";
  if (sa.num_fmts != sb.num_fmts) return "number formats";
  if (sa.theme != sb.theme) return "theme";
  if (sa.indexed_colors != sb.indexed_colors) return "indexed palette";
  return {};
}

}  // namespace cmx::writer_test
