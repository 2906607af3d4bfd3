#include "charts/chart_cache.h"

#include <cmath>
#include <vector>

#include "base/number_text.h"
#include "model/number_format.h"
#include "xml/start_tag.h"

namespace cmx::charts {
namespace {

SpreadsheetParseError refuse(std::string text) { return SpreadsheetParseError::unsupported_edit(std::move(text)); }

SpreadsheetParseError refuse_reference(std::string_view formula, std::string_view reason) {
  return refuse("chart reference " + std::string(formula) + " " + std::string(reason));
}

// Non-finite numbers cannot be written into a cache, and a chart draws them as 0.
std::string cache_number_text(double value) {
  if (!std::isfinite(value)) return "0";
  return format_positional(value);
}

const model::SheetModel* find_sheet(std::span<const model::SheetModel> sheets, std::string_view name) {
  for (const model::SheetModel& sheet : sheets) {
    if (model::eq_ignore_ascii_case(sheet.name, name)) return &sheet;
  }
  return nullptr;
}

}  // namespace

Result<std::optional<std::string>, SpreadsheetParseError> chart_cache_point_text(const model::CellValue& value,
                                                                                 bool numeric, bool keep_authored) {
  using Kind = model::CellValue::Kind;
  const Kind kind = value.kind();
  if (kind == Kind::Empty) return std::optional<std::string>();
  if (numeric) {
    if (kind != Kind::Number) return std::optional<std::string>();
    return std::optional<std::string>(cache_number_text(value.as_number()));
  }
  if (kind == Kind::Text) return std::optional<std::string>(std::string(value.as_text()));
  if (!keep_authored) return unexpected(refuse("a string cache over non-text cells cannot be regenerated"));
  switch (kind) {
    case Kind::Number: return std::optional<std::string>(cache_number_text(value.as_number()));
    case Kind::Bool: return std::optional<std::string>(value.as_bool() ? "TRUE" : "FALSE");
    case Kind::Error: return std::optional<std::string>(std::string(model::error_code_text(value.as_error())));
    case Kind::Empty:
    case Kind::Text: break;
  }
  return std::optional<std::string>();
}

Result<std::string, SpreadsheetParseError> regenerate_chart_cache(const ChartCacheInfo& cache, std::string_view formula,
                                                                  std::span<const model::SheetModel> sheets,
                                                                  std::string_view default_sheet,
                                                                  ChartCachePointBudget& budget) {
  if (cache.element == "multiLvlStrCache") {
    return unexpected(refuse("a multi-level category cache cannot be regenerated"));
  }
  if (cache.unmodelled) {
    return unexpected(refuse("a chart cache that carries content beyond points and a format code cannot be regenerated"));
  }
  const bool numeric = cache.element == "numCache";
  const std::string_view trimmed = model::trim_unicode_white_space(formula);

  std::vector<model::CellValue> values;
  if (!trimmed.empty() && trimmed != "#REF!") {
    const std::optional<ChartSheetArea> split = split_chart_reference(trimmed);
    if (!split) return unexpected(refuse_reference(trimmed, "is not a single same-workbook area"));
    const std::string_view sheet_name = split->sheet ? std::string_view(*split->sheet) : default_sheet;
    const model::SheetModel* sheet = find_sheet(sheets, sheet_name);
    if (sheet == nullptr) return unexpected(refuse_reference(trimmed, "names a sheet this workbook does not hold"));
    const std::optional<model::CellRange> range = parse_chart_area(split->area);
    if (!range) return unexpected(refuse_reference(trimmed, "is not a cell range"));
    const uint64_t rows = uint64_t{range->end.row} - range->start.row + 1;
    const uint64_t cols = uint64_t{range->end.col} - range->start.col + 1;
    if (rows >= 2 && cols >= 2) return unexpected(refuse_reference(trimmed, "spans more than one row and column"));
    // Tested on the range's size before a single cell is read.
    if (rows * cols > std::min(budget.max_points, budget.remaining_points)) {
      return unexpected(refuse_reference(trimmed, "would hold more points than a chart can carry"));
    }
    values.reserve(rows * cols);
    for (uint32_t row = range->start.row; row <= range->end.row; ++row) {
      for (uint32_t col = range->start.col; col <= range->end.col; ++col) {
        const auto found = sheet->cells.find(model::CellKey{row, col});
        values.push_back(found == sheet->cells.end() ? model::CellValue() : found->second.value);
      }
    }
  }
  budget.remaining_points -= values.size();

  if (budget.keep_authored && cache.point_count > 0) {
    bool all_empty = true;
    for (const model::CellValue& value : values) all_empty = all_empty && value.is_empty();
    if (all_empty) {
      return unexpected(refuse("a chart cache over cells the grid reads as empty keeps its authored values"));
    }
  }

  std::vector<std::optional<std::string>> points;
  points.reserve(values.size());
  for (const model::CellValue& value : values) {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> point, chart_cache_point_text(value, numeric, budget.keep_authored));
    points.push_back(std::move(point));
  }
  if (budget.keep_authored) {
    bool missing_before = false;
    for (const std::optional<std::string>& point : points) {
      if (point && missing_before) {
        return unexpected(refuse("a chart cache with a gap between points keeps its authored values"));
      }
      missing_before = missing_before || !point;
    }
  }

  const std::string& p = cache.prefix;
  std::string out;
  if (cache.format_code) {
    CMX_ASSIGN_OR_RETURN(const std::string code, xml::escape_xml_value(*cache.format_code));
    out += "<" + p + "formatCode>" + code + "</" + p + "formatCode>";
  }
  out += "<" + p + "ptCount val=\"" + format_u64(points.size()) + "\"/>";
  for (size_t idx = 0; idx < points.size(); ++idx) {
    if (!points[idx]) continue;
    CMX_ASSIGN_OR_RETURN(const std::string text, xml::escape_xml_value(*points[idx]));
    out += "<" + p + "pt idx=\"" + format_u64(idx) + "\"><" + p + "v>" + text + "</" + p + "v></" + p + "pt>";
  }
  return out;
}

}  // namespace cmx::charts
