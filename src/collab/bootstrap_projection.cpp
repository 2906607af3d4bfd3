#include "collab/bootstrap_projection.h"

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/unicode.h"
#include "collab/cell_formats.h"
#include "collab/layout.h"
#include "collab/projection.h"
#include "crdt/id.h"
#include "json/sheet_records.h"

namespace cmx::collab {
namespace {

// What one sheet becomes, decided before anything changes.
struct SheetPlan {
  std::vector<model::SheetHyperlink> hyperlinks;
  std::vector<model::SheetChart> charts;
  bool rewrite_cells = false;
};

bool finite_sizes(const std::map<uint32_t, double>& sizes, uint32_t limit) {
  for (const auto& [index, size] : sizes) {
    if (index >= limit || !std::isfinite(size)) return false;
  }
  return true;
}

bool readable_pane(const std::optional<model::FreezePane>& pane) {
  return !pane || (pane->rows <= kSheetRows && pane->cols <= kSheetCols && pane->top_left.row < kSheetRows &&
                   pane->top_left.col < kSheetCols);
}

// The style a cell's index reads back as: the lowest index whose format has
// the same id, or none.
using StyleRemap = std::vector<std::optional<uint32_t>>;

// Checks every cell; counts the document entries they make.
bool plan_cells(const model::SheetModel& sheet, const StyleRemap& remap, SheetPlan& plan, uint64_t& entries) {
  for (const auto& [key, cell] : sheet.cells) {
    if (key.row >= kSheetRows || key.col >= kSheetCols) return false;
    switch (cell.value.kind()) {
      case model::CellValue::Kind::Number:
        if (!std::isfinite(cell.value.as_number())) return false;
        break;
      case model::CellValue::Kind::Text:
        if (!unicode::is_valid_utf8(cell.value.as_text())) return false;
        break;
      default:
        break;
    }
    const bool content = cell.formula || !cell.value.is_empty();
    if (cell.formula && !unicode::is_valid_utf8(cell.formula->view())) return false;
    entries += content ? 1 : 0;
    if (!cell.style) {
      plan.rewrite_cells |= !content;
      continue;
    }
    if (*cell.style >= remap.size()) return false;
    ++entries;
    const std::optional<uint32_t>& style = remap[*cell.style];
    plan.rewrite_cells |= style != cell.style;
  }
  return true;
}

void rewrite_cells(model::CellMap& cells, const StyleRemap& remap) {
  for (auto it = cells.begin(); it != cells.end();) {
    model::SheetCell& cell = it->second;
    if (cell.style) cell.style = remap[*cell.style];
    if (!cell.formula && cell.value.is_empty() && !cell.style) {
      it = cells.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

bool project_bootstrap_in_place(model::WorkbookModel& workbook) {
  // The catalog as the bootstrap writes it, read back as the projection does.
  const model::StyleSheet& styles = workbook.styles;
  std::map<CellFormatId, std::string> entries;
  std::vector<CellFormatId> ids;
  ids.reserve(styles.cell_xfs.size());
  EncodedCellFormat fallback = encode_cell_format(default_cell_format());
  entries.emplace(fallback.id, std::move(fallback.text));
  for (size_t i = 0; i < styles.cell_xfs.size(); ++i) {
    if (i > std::numeric_limits<uint32_t>::max()) return false;
    EncodedCellFormat encoded = encode_cell_format(model::resolve_cell_format(styles, static_cast<uint32_t>(i)));
    if (!unicode::is_valid_utf8(encoded.text)) return false;
    ids.push_back(encoded.id);
    entries.emplace(std::move(encoded.id), std::move(encoded.text));
  }
  auto catalog = read_cell_format_texts(entries, styles);
  if (!catalog) return false;
  StyleRemap remap;
  remap.reserve(ids.size());
  for (const CellFormatId& id : ids) remap.push_back(catalog->style_of.at(id));

  // Root entries: the catalog, three metadata keys, the sheet order (one
  // clock per sheet) and one map per sheet.
  uint64_t clocks = entries.size() + 3 + 2 * uint64_t{workbook.sheets.size()};
  std::vector<SheetPlan> plans(workbook.sheets.size());
  for (size_t i = 0; i < workbook.sheets.size(); ++i) {
    const model::SheetModel& sheet = workbook.sheets[i];
    SheetPlan& plan = plans[i];
    if (!unicode::is_valid_utf8(sheet.name)) return false;
    if (!finite_sizes(sheet.col_widths, kSheetCols) || !finite_sizes(sheet.row_heights, kSheetRows)) return false;
    if (!readable_pane(sheet.freeze_pane)) return false;
    const std::string hyperlinks = json::sheet_hyperlinks_to_json(sheet.hyperlinks);
    const std::string charts = json::sheet_charts_to_json(sheet.charts);
    if (!unicode::is_valid_utf8(hyperlinks) || !unicode::is_valid_utf8(charts)) return false;
    auto read_links = json::decode_sheet_hyperlinks(hyperlinks);
    auto read_charts = json::decode_sheet_charts(charts);
    if (!read_links || !read_charts) return false;
    plan.hyperlinks = std::move(*read_links);
    plan.charts = std::move(*read_charts);
    // Nine keys of the sheet map, then its entries.
    clocks += 9 + sheet.col_widths.size() + sheet.row_heights.size();
    if (!plan_cells(sheet, remap, plan, clocks)) return false;
  }
  if (clocks > crdt::kMaxClock) return false;

  // Nothing below can fail.
  workbook.styles = std::move(catalog->styles);
  for (size_t i = 0; i < workbook.sheets.size(); ++i) {
    model::SheetModel& sheet = workbook.sheets[i];
    SheetPlan& plan = plans[i];
    sheet.hyperlinks = std::move(plan.hyperlinks);
    sheet.charts = std::move(plan.charts);
    if (plan.rewrite_cells) rewrite_cells(sheet.cells, remap);
    std::erase_if(sheet.array_ranges, [&](const auto& entry) {
      auto anchor = sheet.cells.find(entry.first);
      return anchor == sheet.cells.end() || !anchor->second.formula;
    });
  }
  unify_shared_chart_anchors(workbook.sheets);
  return true;
}

Result<ReplicaState, std::string> bootstrap_replica_state(const crdt::Doc& replica,
                                                          const model::WorkbookModel& projected) {
  auto lock = replica.read_lock();
  ReplicaState state;
  state.sheet_keys = sheet_key_list(projected.sheets.size());
  append_sheet_structure(state, projected);
  crdt::Branch* sheets = replica.find_root(kSheetsRoot);
  if (sheets == nullptr) return unexpected(std::string("missing sheet map"));
  for (const std::string& key : state.sheet_keys) {
    auto value = crdt::MapRef(sheets).get(key);
    if (!value || value->kind != crdt::ValueKind::kMap) return unexpected("sheet " + key + " is not a map");
    CMX_ASSIGN_OR_RETURN(SheetMapIds ids, read_sheet_map_ids(value->as_map()));
    state.sheet_map_ids.emplace(key, std::move(ids));
  }
  return state;
}

}  // namespace cmx::collab
