#include <algorithm>
#include <cmath>
#include <utility>

#include "export/walk.h"
#include "model/display_text.h"
#include "model/number_format.h"
#include "session/quoted_text.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;
using json::XlsxDiagnosticCode;
using json::XlsxFormulaResult;
using json::XlsxSeverity;

// The source line a current line came from, when it has one.
std::optional<uint32_t> source_line(const std::vector<session::IndexRun>& runs, uint32_t line) {
  auto it = std::upper_bound(runs.begin(), runs.end(), line,
                             [](uint32_t value, const session::IndexRun& run) { return value < run.current_start; });
  if (it == runs.begin()) return std::nullopt;
  --it;
  if (line - it->current_start >= it->len) return std::nullopt;
  return it->source_start + (line - it->current_start);
}

const session::SheetMoveMap* usable_move_map(const ExportSource& source, uint32_t index) {
  if (source.sources == nullptr || index >= source.sources->move_maps.size()) return nullptr;
  const std::optional<session::SheetMoveMap>& map = source.sources->move_maps[index];
  if (!map || (map->rows.empty() && map->cols.empty())) return nullptr;
  return &*map;
}

std::optional<model::CellKey> source_position(const session::SheetMoveMap* map, model::CellKey key) {
  if (map == nullptr) return std::nullopt;
  const std::optional<uint32_t> row = source_line(map->rows, key.row);
  const std::optional<uint32_t> col = source_line(map->cols, key.col);
  if (!row || !col) return std::nullopt;
  return model::CellKey{*row, *col};
}

// The raw text of section `wanted` of a format code: sections end at ";"
// outside quotes and brackets and not after a backslash.
std::string_view raw_section(std::string_view code, size_t wanted) {
  size_t section = 0;
  size_t begin = 0;
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const size_t close = code.find('"', i + 1);
      i = close == std::string_view::npos ? code.size() : close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      const size_t close = code.find(']', i + 1);
      i = close == std::string_view::npos ? code.size() : close;
    } else if (c == ';') {
      if (section == wanted) return code.substr(begin, i - begin);
      ++section;
      begin = i + 1;
    }
  }
  return section == wanted ? code.substr(begin) : std::string_view();
}

// A fraction section the display-text formatter does not render exactly:
// only numeric placeholders, quoted texts, spacers and fills, and a slash.
// Scanned as the format parser reads it, since its tokens do not say which
// literals were quoted.
bool section_is_approximated(std::string_view section) {
  bool slash = false;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"' || c == '[') {
      const size_t close = section.find(c == '"' ? '"' : ']', i + 1);
      i = close == std::string_view::npos ? section.size() : close;
    } else if (c == '_' || c == '*') {
      ++i;  // the spaced or repeated character, whatever it is
    } else if (c == '/') {
      slash = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < section.size() && (section[i + 1] == '+' || section[i + 1] == '-')) {
      ++i;
    } else if (!(c == '0' || c == '#' || c == '?' || c == '.' || c == ',' || c == '%' || c == '@')) {
      return false;  // an unquoted literal, an escaped character, a date part or General
    }
  }
  return slash;
}

bool format_is_approximated(std::string_view code, double value) {
  if (model::eq_ignore_ascii_case(code, "General")) return false;
  const model::ParsedNumberFormat parsed = model::parse_format_cached(code);
  const model::SectionChoice choice = model::select_format_section(parsed, value);
  return section_is_approximated(raw_section(code, choice.index));
}

json::XlsxExportValue export_value(const model::CellValue& value) {
  switch (value.kind()) {
    case model::CellValue::Kind::Empty:
      return json::XlsxValueEmpty{};
    case model::CellValue::Kind::Number:
      if (!std::isfinite(value.as_number())) return json::XlsxValueUnavailable{"non-finite number"};
      return json::XlsxValueNumber{value.as_number()};
    case model::CellValue::Kind::Text:
      return json::XlsxValueText{std::string(value.as_text())};
    case model::CellValue::Kind::Bool:
      return json::XlsxValueBool{value.as_bool()};
    case model::CellValue::Kind::Error:
      return json::XlsxValueError{value.as_error()};
  }
  return json::XlsxValueEmpty{};
}

bool row_hidden(const model::SheetModel& sheet, uint32_t row) {
  const auto found = sheet.row_heights.find(row);
  if (found != sheet.row_heights.end()) return found->second <= 0;
  return sheet.zero_height;
}

bool column_hidden(const model::SheetModel& sheet, uint32_t col) {
  const auto found = sheet.col_widths.find(col);
  return found != sheet.col_widths.end() && found->second <= 0;
}

enum SheetFlag { kFormulaCache, kResultMissing, kCalculationFailure, kValueUnavailable, kApproximate, kRichText };

struct CellWalk {
  ExportContext& context;
  uint32_t index;
  const model::SheetModel& sheet;
  const XlsxAnchor& anchor;
  const reader::SourceSheet* from_source;
  const session::SheetMoveMap* move_map;
  bool flags[6] = {false, false, false, false, false, false};
  std::optional<model::CellRef> last;

  Step visit() { return count_visit(context, anchor); }

  Result<XlsxFormulaResult, ExportStop> formula_result(model::CellKey key, const model::SheetCell& cell) {
    const CellTriple triple{index, key.row, key.col};
    if (context.cycle_cells.contains(triple)) return XlsxFormulaResult::Cycle;
    if (context.limited_cells.contains(triple)) return XlsxFormulaResult::Limited;
    const bool empty = cell.value.is_empty();
    const bool calculated = context.source->calculated;
    if (empty) {
      for (const auto& [start, range] : sheet.array_ranges) {
        if (Step stop = visit()) return unexpected(*stop);
        if (key.row >= range.start.row && key.row <= range.end.row && key.col >= range.start.col &&
            key.col <= range.end.col) {
          return XlsxFormulaResult::Uncertain;
        }
      }
    }
    const XlsxFormulaResult stored =
        empty && calculated ? XlsxFormulaResult::Uncertain : XlsxFormulaResult::Unverified;
    if (from_source == nullptr) return empty ? XlsxFormulaResult::Uncertain : XlsxFormulaResult::Unverified;
    const auto& uncached = from_source->cell_notes.uncached_formula_cells;
    if (uncached.empty()) return stored;
    const std::optional<model::CellKey> at = source_position(move_map, key);
    if (!at) return XlsxFormulaResult::Uncertain;
    if (uncached.contains(*at)) return calculated ? XlsxFormulaResult::Uncertain : XlsxFormulaResult::Missing;
    return stored;
  }

  bool carried_runs(model::CellKey key, std::string_view text) const {
    const ExportSource& source = *context.source;
    if (source.package != nullptr && source.sources != nullptr && index < source.sources->source_maps.size()) {
      const session::CellOriginMap& origins = source.sources->source_maps[index];
      const auto found = origins.find(key);
      if (found != origins.end() && source.package->rich_string_items.contains(found->second) &&
          found->second < source.model->shared_strings.size() &&
          source.model->shared_strings[found->second] == text) {
        return true;
      }
    }
    if (from_source == nullptr || from_source->cell_notes.rich_inline_strings.empty()) return false;
    if (move_map == nullptr) return true;
    const std::optional<model::CellKey> at = source_position(move_map, key);
    if (!at) return false;
    const auto found = from_source->cell_notes.rich_inline_strings.find(*at);
    return found != from_source->cell_notes.rich_inline_strings.end() && found->second == text;
  }

  void queue(std::vector<json::XlsxExportDiagnostic>& queued, SheetFlag flag, XlsxDiagnosticCode code,
             XlsxSeverity severity, const XlsxAnchor& cell_anchor, std::string message) {
    if (flags[flag]) return;
    flags[flag] = true;
    queued.push_back(json::XlsxExportDiagnostic{code, severity, cell_anchor, std::move(message)});
  }

  Step cell(model::CellKey key, const model::SheetCell& stored, const KeptMerge* merge) {
    if (context.cells_exported >= context.max_cells) return stop_with(anchor, StopReason::MaxCells, last);
    const model::WorkbookModel& model = *context.source->model;
    const model::CellRef ref{key.row, key.col, false, false};
    const std::string a1 = model::format_cell_ref(ref);
    const json::XlsxSheetIdentity& identity = std::get<json::XlsxAnchorSheet>(anchor).sheet;
    json::XlsxExportCell record;
    record.id = "s" + std::to_string(index) + "!" + a1;
    record.anchor = json::XlsxAnchorCell{identity, a1};
    record.value = export_value(stored.value);
    if (stored.formula) record.formula = std::string(stored.formula->view());
    record.display_text = model::cell_display_text(model.styles, model.date_system, stored);
    record.number_format = model::cell_format_code(model.styles, stored.style);
    if (stored.formula) {
      Result<XlsxFormulaResult, ExportStop> result = formula_result(key, stored);
      if (!result) {
        ExportStop stop = result.error();
        stop.place = last;
        return stop;
      }
      record.formula_result = result.value();
    }
    if (merge != nullptr) {
      record.merge = json::XlsxCellMerge{merge->text,
                                         merge->range.start.row == key.row && merge->range.start.col == key.col};
    }
    std::vector<json::XlsxExportDiagnostic> queued;
    if (stored.formula) {
      queue(queued, kFormulaCache, XlsxDiagnosticCode::FormulaCacheUnverified, XlsxSeverity::Info, record.anchor,
            "Formula results on this sheet are the stored values; the export does not recalculate or verify them.");
    }
    if (record.formula_result == XlsxFormulaResult::Missing || record.formula_result == XlsxFormulaResult::Uncertain) {
      queue(queued, kResultMissing, XlsxDiagnosticCode::FormulaResultMissing, XlsxSeverity::Warning, record.anchor,
            "This formula has no stored result, or none that can be confirmed; its value is what the engine holds, "
            "not a result the file stored. Each cell's formulaResult says which formulas this applies to.");
    }
    if (record.formula_result == XlsxFormulaResult::Cycle || record.formula_result == XlsxFormulaResult::Limited) {
      queue(queued, kCalculationFailure, XlsxDiagnosticCode::CalculationFailure, XlsxSeverity::Warning,
            record.anchor,
            "The last calculation left this formula in a circular reference or at an evaluation limit; each cell's "
            "formulaResult says which.");
    }
    if (std::holds_alternative<json::XlsxValueUnavailable>(record.value)) {
      queue(queued, kValueUnavailable, XlsxDiagnosticCode::ValueUnavailable, XlsxSeverity::Warning, record.anchor,
            "This cell holds a value JSON cannot carry.");
    }
    if (const auto* number = std::get_if<json::XlsxValueNumber>(&record.value)) {
      if (!flags[kApproximate] && format_is_approximated(record.number_format, number->value)) {
        queue(queued, kApproximate, XlsxDiagnosticCode::FormattingApproximate, XlsxSeverity::Info, record.anchor,
              "The number format " + session::quote_text(record.number_format) +
                  " is only approximated, so displayText falls back to General here and wherever this sheet uses "
                  "it.");
      }
    }
    if (const auto* text = std::get_if<json::XlsxValueText>(&record.value)) {
      if (!flags[kRichText] && carried_runs(key, text->value)) {
        queue(queued, kRichText, XlsxDiagnosticCode::RichTextOmitted, XlsxSeverity::Info, record.anchor,
              "Text formatting runs inside cells on this sheet are not exported; the text is.");
      }
    }
    if (context.content.diagnostics.size() + queued.size() > kMaxDiagnostics) {
      return stop_with(anchor, StopReason::Diagnostic, last);
    }
    uint64_t cost = 0;
    json::count_export_cell_bytes(record, cost);
    cost += 1;
    for (const json::XlsxExportDiagnostic& diagnostic : queued) {
      json::count_export_diagnostic_bytes(diagnostic, cost);
      cost += 1;
    }
    if (context.bytes_used + cost > context.byte_limit) {
      // What was queued for this cell was not written, so it may be raised later.
      return stop_with(anchor, StopReason::MaxBytes, last);
    }
    context.bytes_used += cost;
    for (json::XlsxExportDiagnostic& diagnostic : queued) context.content.diagnostics.push_back(std::move(diagnostic));
    context.cells_exported += 1;
    context.content.sheets.back().cells.push_back(std::move(record));
    last = ref;
    return std::nullopt;
  }
};

}  // namespace

Step walk_cells(ExportContext& context, uint32_t index, const model::CellRange& selection,
                const std::vector<KeptMerge>& merges, const XlsxAnchor& anchor) {
  const model::SheetModel& sheet = context.source->model->sheets[index];
  const reader::SourceSheet* from_source = source_sheet_of(*context.source, index);
  CellWalk walk{context, index, sheet, anchor, from_source, usable_move_map(*context.source, index)};
  const bool skip_rows = !context.content.included.hidden_rows;
  const bool skip_cols = !context.content.included.hidden_columns && !sheet.col_widths.empty();

  std::vector<const KeptMerge*> ordered;
  ordered.reserve(merges.size());
  for (const KeptMerge& merge : merges) ordered.push_back(&merge);
  std::sort(ordered.begin(), ordered.end(), [](const KeptMerge* a, const KeptMerge* b) {
    return std::tie(a->range.start.row, a->range.start.col) < std::tie(b->range.start.row, b->range.start.col);
  });
  size_t next_merge = 0;
  std::vector<const KeptMerge*> active;
  uint32_t active_row = 0;
  bool any_row = false;

  const uint32_t c0 = selection.start.col;
  const uint32_t c1 = selection.end.col;
  const model::CellKey last_key{selection.end.row, c1};
  if (Step stop = walk.visit()) return stop;
  auto it = sheet.cells.lower_bound(model::CellKey{selection.start.row, c0});
  while (it != sheet.cells.end() && !(last_key < it->first)) {
    const model::CellKey key = it->first;
    if (Step stop = walk.visit()) {
      stop->place = walk.last;
      return stop;
    }
    auto reposition = [&](model::CellKey at) -> Step {
      if (Step stop = walk.visit()) {
        stop->place = walk.last;
        return stop;
      }
      it = sheet.cells.lower_bound(at);
      return std::nullopt;
    };
    if (key.col < c0) {
      if (Step stop = reposition(model::CellKey{key.row, c0})) return stop;
      continue;
    }
    if (key.col > c1 || (skip_rows && row_hidden(sheet, key.row))) {
      if (key.row >= selection.end.row) break;
      if (Step stop = reposition(model::CellKey{key.row + 1, c0})) return stop;
      continue;
    }
    if (skip_cols && column_hidden(sheet, key.col)) {
      ++it;
      continue;
    }
    if (!any_row || key.row != active_row) {
      any_row = true;
      active_row = key.row;
      while (next_merge < ordered.size() && ordered[next_merge]->range.start.row <= key.row) {
        active.push_back(ordered[next_merge++]);
      }
      std::erase_if(active, [&](const KeptMerge* merge) { return merge->range.end.row < key.row; });
    }
    const KeptMerge* covering = nullptr;
    for (const KeptMerge* merge : active) {
      if (merge->range.start.col <= key.col && key.col <= merge->range.end.col) {
        covering = merge;
        break;
      }
    }
    if (Step stop = walk.cell(key, it->second, covering)) return stop;
    ++it;
  }
  return std::nullopt;
}

}  // namespace cmx::exports
