#include "session/validation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "base/unicode.h"
#include "session/quoted_text.h"

namespace cmx::session {
namespace {

using model::CellRef;
using model::MAX_COLS;
using model::MAX_ROWS;

bool in_grid(const CellRef& cell) { return cell.row < MAX_ROWS && cell.col < MAX_COLS; }

bool in_order(const model::CellRange& range) {
  return range.end.row >= range.start.row && range.end.col >= range.start.col;
}

Result<void, EngineError> fail(std::string text) {
  return unexpected(EngineError::invalid_operation(std::move(text)));
}

// Both corners inside the grid (first corner first), then in order.
Result<void, EngineError> check_range_corners(const model::CellRange& range) {
  if (!in_grid(range.start)) return unexpected(EngineError::cell_out_of_range(range.start));
  if (!in_grid(range.end)) return unexpected(EngineError::cell_out_of_range(range.end));
  if (!in_order(range)) return fail("range start must be above and left of range end");
  return {};
}

bool xml_cannot_carry(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = unicode::decode_utf8(text, pos);
    if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return true;
    if (cp == 0xfffe || cp == 0xffff) return true;
  }
  return false;
}

Result<void, EngineError> validate_charts(const model::SheetModel& sheet) {
  if (sheet.charts.size() > kMaxSheetCharts) return fail("sheet contains too many charts");
  absl::flat_hash_set<std::pair<std::string_view, uint64_t>> anchors;
  for (const model::SheetChart& chart : sheet.charts) {
    if (chart.part.empty() || chart.drawing.empty()) return fail("chart must name its part and drawing");
    if (chart.part.size() > kMaxChartNameBytes || chart.drawing.size() > kMaxChartNameBytes ||
        chart.refs.size() > kMaxChartReferences) {
      return fail("chart exceeds the supported size");
    }
    for (const std::string* name : {&chart.part, &chart.drawing}) {
      if (!is_package_part_path(*name)) return fail("chart names " + *name + ", which is not a package part path");
    }
    if (chart.anchor_index > kMaxChartAnchorIndex) return fail("chart anchor index is out of range");
    if (!anchors.insert({chart.drawing, chart.anchor_index}).second) {
      return fail("two charts claim the same drawing anchor");
    }
    const auto cell_in_grid = [](const model::AnchorCell& cell) { return cell.row < MAX_ROWS && cell.col < MAX_COLS; };
    bool on_grid = true;
    if (const auto* two = std::get_if<model::TwoCellAnchor>(&chart.anchor)) {
      on_grid = cell_in_grid(two->from) && cell_in_grid(two->to);
    } else if (const auto* one = std::get_if<model::OneCellAnchor>(&chart.anchor)) {
      on_grid = cell_in_grid(one->from);
    }
    if (!on_grid) return fail("chart anchor is off the sheet grid");
    for (const model::ChartReference& ref : chart.refs) {
      if (ref.formula.size() > kMaxChartNameBytes) return fail("chart reference exceeds the supported length");
      if (xml_cannot_carry(ref.formula)) return fail("chart reference contains a character xml cannot carry");
    }
  }
  return {};
}

}  // namespace

Result<void, EngineError> validate_cell_for_sharing(const model::SheetCell& cell, size_t style_count) {
  if (cell.value.is_number() && !std::isfinite(cell.value.as_number())) {
    return fail("workbook contains a non-finite cell number");
  }
  if (cell.value.is_text()) {
    const std::string_view text = cell.value.as_text();
    // A text of at most the limit in bytes is short enough without counting.
    if (text.size() > kMaxCellTextChars && unicode::count_scalars(text) > kMaxCellTextChars) {
      return fail("workbook contains cell text above the 32,767-character length limit");
    }
  }
  if (cell.formula && cell.formula->view().size() > kMaxFormulaBytes) {
    return fail("workbook contains a formula above the length limit");
  }
  if (cell.style && *cell.style >= style_count) return fail("workbook contains an invalid cell style index");
  return {};
}

namespace {

Result<void, EngineError> validate_cells(const model::SheetModel& sheet, size_t style_count) {
  for (const auto& [key, cell] : sheet.cells) {
    if (key.row >= MAX_ROWS || key.col >= MAX_COLS) {
      return unexpected(EngineError::cell_out_of_range(CellRef{key.row, key.col}));
    }
    CMX_TRY(validate_cell_for_sharing(cell, style_count));
  }
  return {};
}

Result<void, EngineError> validate_sheet(const model::SheetModel& sheet, size_t style_count,
                                         absl::flat_hash_set<std::string>& lower_names) {
  if (sheet.freeze_pane) {
    const model::FreezePane& pane = *sheet.freeze_pane;
    if (pane.rows > MAX_ROWS || pane.cols > MAX_COLS || !in_grid(pane.top_left)) {
      return fail("sheet " + sheet.name + " has an invalid freeze pane");
    }
  }
  if (auto links = validate_hyperlink_list(sheet.hyperlinks); !links) return links;
  if (auto charts = validate_charts(sheet); !charts) return charts;
  if (!is_valid_sheet_name(sheet.name)) return fail("invalid sheet name: " + quote_text(sheet.name));
  if (!lower_names.insert(unicode::to_lower(sheet.name)).second) return fail("duplicate sheet name: " + sheet.name);
  if (auto cells = validate_cells(sheet, style_count); !cells) return cells;
  for (const auto& [col, width] : sheet.col_widths) {
    if (col >= MAX_COLS || !std::isfinite(width) || width < 0.0 || width > kMaxColumnWidth) {
      return fail("workbook contains an invalid column width");
    }
  }
  for (const auto& [row, height] : sheet.row_heights) {
    if (row >= MAX_ROWS || !std::isfinite(height) || height < 0.0 || height > kMaxRowHeight) {
      return fail("workbook contains an invalid row height");
    }
  }
  return validate_merged_ranges(sheet.merges);
}

// Counts of open intervals over compressed column positions, with range add
// and range maximum, so that "does any open range cover a column of this
// span" costs a logarithm.
class ColumnCoverage {
 public:
  explicit ColumnCoverage(size_t size) : size_(std::max<size_t>(size, 1)), max_(4 * size_), add_(4 * size_) {}
  void add(size_t first, size_t last, int64_t delta) { update(1, 0, size_ - 1, first, last, delta); }
  bool covered(size_t first, size_t last) const { return query(1, 0, size_ - 1, first, last) > 0; }

 private:
  void update(size_t node, size_t lo, size_t hi, size_t first, size_t last, int64_t delta) {
    if (last < lo || hi < first) return;
    if (first <= lo && hi <= last) {
      max_[node] += delta;
      add_[node] += delta;
      return;
    }
    const size_t mid = lo + (hi - lo) / 2;
    update(2 * node, lo, mid, first, last, delta);
    update(2 * node + 1, mid + 1, hi, first, last, delta);
    max_[node] = add_[node] + std::max(max_[2 * node], max_[2 * node + 1]);
  }
  int64_t query(size_t node, size_t lo, size_t hi, size_t first, size_t last) const {
    if (last < lo || hi < first) return INT64_MIN / 2;
    if (first <= lo && hi <= last) return max_[node];
    const size_t mid = lo + (hi - lo) / 2;
    return add_[node] + std::max(query(2 * node, lo, mid, first, last), query(2 * node + 1, mid + 1, hi, first, last));
  }
  size_t size_;
  std::vector<int64_t> max_;
  std::vector<int64_t> add_;
};

// Whether two ranges share a cell where at least one of them comes before
// `limit` in the list. Ranges out of order hold no cells and take no part.
// A row sweep: a range opens at its first row and closes after its last;
// ranges before `limit` and the others are counted apart, because a pair of
// two later ranges is never compared.
bool overlap_before(std::span<const model::CellRange> merges, size_t limit) {
  struct Event {
    uint64_t row;
    bool open;
    size_t index;
  };
  std::vector<Event> events;
  std::vector<uint32_t> cols;
  for (size_t idx = 0; idx < merges.size(); ++idx) {
    const model::CellRange& range = merges[idx];
    if (!in_order(range)) continue;
    events.push_back({range.start.row, true, idx});
    events.push_back({uint64_t{range.end.row} + 1, false, idx});
    cols.push_back(range.start.col);
    cols.push_back(range.end.col);
  }
  std::sort(cols.begin(), cols.end());
  cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
  // At one row, ranges that end close before ranges that start open.
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    if (a.row != b.row) return a.row < b.row;
    return a.open < b.open;
  });
  const auto col_pos = [&](uint32_t col) {
    return static_cast<size_t>(std::lower_bound(cols.begin(), cols.end(), col) - cols.begin());
  };
  ColumnCoverage early(cols.size());
  ColumnCoverage late(cols.size());
  for (const Event& event : events) {
    const model::CellRange& range = merges[event.index];
    const size_t first = col_pos(range.start.col);
    const size_t last = col_pos(range.end.col);
    const bool is_early = event.index < limit;
    if (event.open) {
      if (early.covered(first, last)) return true;
      if (is_early && late.covered(first, last)) return true;
    }
    (is_early ? early : late).add(first, last, event.open ? 1 : -1);
  }
  return false;
}

}  // namespace

bool is_package_part_path(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  size_t segment_start = 0;
  for (size_t pos = 0; pos <= name.size(); ++pos) {
    if (pos == name.size() || name[pos] == '/') {
      const std::string_view segment = name.substr(segment_start, pos - segment_start);
      if (segment.empty() || segment == "." || segment == "..") return false;
      segment_start = pos + 1;
    }
  }
  size_t pos = 0;
  while (pos < name.size()) {
    const char32_t cp = unicode::decode_utf8(name, pos);
    if (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f)) return false;
    if (cp == '\\' || cp == '"' || cp == '<' || cp == '>') return false;
  }
  return true;
}

bool is_valid_sheet_name(std::string_view name) {
  if (name.empty() || unicode::count_scalars(name) > kMaxSheetNameChars) return false;
  if (name.front() == '\'' || name.back() == '\'') return false;
  return name.find_first_of("*/:?[\\]") == std::string_view::npos;
}

Result<void, EngineError> validate_hyperlink_list(std::span<const model::SheetHyperlink> hyperlinks) {
  if (hyperlinks.size() > kMaxSheetHyperlinks) return fail("sheet contains too many hyperlinks");
  for (const model::SheetHyperlink& link : hyperlinks) {
    if (auto corners = check_range_corners(link.range); !corners) return corners;
    const bool has_target = link.external_target && !link.external_target->empty();
    const bool has_location = link.location && !link.location->empty();
    if (!has_target && !has_location) return fail("hyperlink must have a destination");
    for (const auto* field : {&link.external_target, &link.location, &link.tooltip, &link.display}) {
      if (*field && (*field)->size() > kMaxHyperlinkFieldBytes) return fail("hyperlink field exceeds its length limit");
    }
  }
  return {};
}

Result<void, EngineError> validate_merged_ranges(std::span<const model::CellRange> merges) {
  size_t first_bad = merges.size();
  Result<void, EngineError> corner_failure;
  for (size_t idx = 0; idx < merges.size(); ++idx) {
    corner_failure = check_range_corners(merges[idx]);
    if (!corner_failure) {
      first_bad = idx;
      break;
    }
  }
  // Checked range by range, an overlap is reported at the earlier range of
  // the pair; it wins when that range comes before the first bad one.
  if (overlap_before(merges, first_bad)) return fail("workbook contains overlapping merged ranges");
  return corner_failure;
}

Result<void, EngineError> validate_workbook_for_sharing(const model::WorkbookModel& workbook) {
  if (workbook.sheets.empty()) return unexpected(EngineError::of(EngineErrorKind::NoSheets));
  for (const model::DefinedName& name : workbook.defined_names) {
    if (name.local_sheet && *name.local_sheet >= workbook.sheets.size()) {
      return fail("defined name " + name.name + " has an invalid sheet scope");
    }
    if (name.formula.size() > kMaxFormulaBytes) {
      return fail("defined name " + name.name + " has a formula above the length limit");
    }
  }
  // An empty table of cell formats still has the default format.
  const size_t style_count = std::max<size_t>(workbook.styles.cell_xfs.size(), 1);
  absl::flat_hash_set<std::string> lower_names;
  for (const model::SheetModel& sheet : workbook.sheets) {
    if (auto result = validate_sheet(sheet, style_count, lower_names); !result) return result;
  }
  return {};
}

Result<void, std::string_view> check_chart_anchor_values(const model::ChartAnchor& anchor) {
  constexpr int64_t kMaxEmu = int64_t{1} << 40;
  constexpr std::string_view kOffset = "anchor offset is out of range";
  constexpr std::string_view kExtent = "anchor extent is not positive";
  auto extent_ok = [&](const model::AnchorExtent& extent) {
    return extent.cx >= 1 && extent.cx <= kMaxEmu && extent.cy >= 1 && extent.cy <= kMaxEmu;
  };
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&anchor)) {
    for (const model::AnchorCell* cell : {&two->from, &two->to}) {
      if (cell->colOff > kMaxEmu || cell->rowOff > kMaxEmu) return unexpected(kOffset);
    }
    const bool cols_after = std::pair(two->to.col, two->to.colOff) > std::pair(two->from.col, two->from.colOff);
    const bool rows_after = std::pair(two->to.row, two->to.rowOff) > std::pair(two->from.row, two->from.rowOff);
    if (!cols_after || !rows_after) return unexpected(std::string_view("anchor corners are inverted or coincident"));
  } else if (const auto* one = std::get_if<model::OneCellAnchor>(&anchor)) {
    if (one->from.colOff > kMaxEmu || one->from.rowOff > kMaxEmu) return unexpected(kOffset);
    if (!extent_ok(one->extent)) return unexpected(kExtent);
  } else {
    const auto& absolute = std::get<model::AbsoluteAnchor>(anchor);
    if (absolute.pos.x > kMaxEmu || absolute.pos.y > kMaxEmu) return unexpected(kOffset);
    if (!extent_ok(absolute.extent)) return unexpected(kExtent);
  }
  return {};
}

}  // namespace cmx::session
