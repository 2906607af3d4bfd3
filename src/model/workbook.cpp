#include "model/workbook.h"

#include "base/number_text.h"
#include "base/unicode.h"
#include "model/style_equality.h"

namespace cmx::model {

std::string chart_frame_key(const SheetChart& chart) {
  return chart.drawing + "#" + format_u64(chart.anchor_index);
}

bool workbook_eq(const WorkbookModel& a, const WorkbookModel& b) {
  return a.sheets == b.sheets && a.defined_names == b.defined_names && a.shared_strings == b.shared_strings &&
         stylesheet_eq(a.styles, b.styles) && a.tables == b.tables && a.date_system == b.date_system;
}

bool eq_ignore_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::optional<uint32_t> find_sheet_index_ci(const std::vector<SheetModel>& sheets,
                                            std::string_view name) {
  std::string wanted = unicode::to_lower(name);
  for (size_t i = 0; i < sheets.size(); ++i) {
    const std::string& candidate = sheets[i].name;
    bool equal = unicode::is_ascii(candidate) && unicode::is_ascii(wanted)
                     ? eq_ignore_ascii_case(candidate, wanted)
                     : unicode::to_lower(candidate) == wanted;
    if (equal) return static_cast<uint32_t>(i);
  }
  return std::nullopt;
}

const DefinedName* find_defined_name(const std::vector<DefinedName>& names, uint32_t sheet,
                                     std::string_view name) {
  for (const DefinedName& entry : names) {
    if (entry.local_sheet == sheet && eq_ignore_ascii_case(entry.name, name)) return &entry;
  }
  for (const DefinedName& entry : names) {
    if (!entry.local_sheet && eq_ignore_ascii_case(entry.name, name)) return &entry;
  }
  return nullptr;
}

const WorkbookTable* find_table(const std::vector<WorkbookTable>& tables, std::string_view name) {
  for (const WorkbookTable& table : tables) {
    if (eq_ignore_ascii_case(table.name, name)) return &table;
  }
  return nullptr;
}

std::optional<CellRangeItem> cell_range_iter_next(CellRangeIter& iter) {
  const CellKey last{iter.range.end.row, iter.range.end.col};
  const uint32_t c0 = iter.range.start.col;
  const uint32_t c1 = iter.range.end.col;
  while (iter.active) {
    if (last < iter.next) return std::nullopt;
    ++iter.probes;
    auto found = iter.cells->lower_bound(iter.next);
    if (found == iter.cells->end() || last < found->first) {
      iter.active = false;
      return std::nullopt;
    }
    const CellKey key = found->first;
    if (key.col < c0) {
      iter.next = CellKey{key.row, c0};
      continue;
    }
    if (key.col > c1) {
      if (key.row < last.row) {
        iter.next = CellKey{key.row + 1, c0};
        continue;
      }
      iter.active = false;
      return std::nullopt;
    }
    if (key.col < c1) {
      iter.next = CellKey{key.row, key.col + 1};
    } else if (key.row < last.row) {
      iter.next = CellKey{key.row + 1, c0};
    } else {
      iter.active = false;
    }
    return CellRangeItem{CellRef{key.row, key.col, false, false}, &found->second};
  }
  return std::nullopt;
}

bool chart_frame_matches(const SheetChart& chart, std::string_view part,
                         const ChartAnchor& anchor) {
  return chart.part == part && chart.anchor == anchor;
}

}  // namespace cmx::model
