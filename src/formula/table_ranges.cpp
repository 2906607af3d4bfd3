// Table reference ranges: band rows and named columns of a table.
#include "formula/table_ranges.h"

#include <algorithm>

namespace cmx::formula {
namespace {

using model::CellErrorCode;

struct Rows {
  uint32_t first = 0;
  uint32_t last = 0;
};

std::optional<Rows> header_rows(const model::WorkbookTable& t) {
  if (t.header_rows == 0) return std::nullopt;
  uint32_t last = 0;
  if (__builtin_add_overflow(t.range.start.row, t.header_rows - 1, &last)) return std::nullopt;
  return Rows{t.range.start.row, std::min(t.range.end.row, last)};
}

std::optional<Rows> data_rows(const model::WorkbookTable& t) {
  uint32_t first = 0, last = 0;
  if (__builtin_add_overflow(t.range.start.row, t.header_rows, &first)) return std::nullopt;
  if (__builtin_sub_overflow(t.range.end.row, t.totals_rows, &last)) return std::nullopt;
  if (first > last) return std::nullopt;
  return Rows{first, last};
}

std::optional<Rows> totals_rows(const model::WorkbookTable& t) {
  if (t.totals_rows == 0 || t.range.end.row < t.totals_rows - 1) return std::nullopt;
  return Rows{t.range.end.row - t.totals_rows + 1, t.range.end.row};
}

Result<uint32_t, CellErrorCode> column_index(const model::WorkbookTable& t, const std::string& name) {
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (model::eq_ignore_ascii_case(t.columns[i], name)) {
      uint32_t col = 0;
      if (i > UINT32_MAX || __builtin_add_overflow(t.range.start.col, static_cast<uint32_t>(i), &col) ||
          col > t.range.end.col) {
        return unexpected(CellErrorCode::Ref);
      }
      return static_cast<uint32_t>(i);
    }
  }
  return unexpected(CellErrorCode::Ref);
}

}  // namespace

Result<model::CellRange, CellErrorCode> table_reference_range(
    const model::WorkbookTable& table, const TableSpec& spec,
    std::optional<model::CellRef> current_cell) {
  static const std::vector<TableBand> kDataOnly = {TableBand::Data};
  const std::vector<TableBand>& bands = spec.bands.empty() ? kDataOnly : spec.bands;
  uint32_t first_row = UINT32_MAX;
  uint32_t last_row = 0;
  for (TableBand band : bands) {
    std::optional<Rows> rows;
    switch (band) {
      case TableBand::All:
        rows = Rows{table.range.start.row, table.range.end.row};
        break;
      case TableBand::Headers:
        rows = header_rows(table);
        if (!rows) return unexpected(CellErrorCode::Ref);
        break;
      case TableBand::Data:
        rows = data_rows(table);
        if (!rows) return unexpected(CellErrorCode::Ref);
        break;
      case TableBand::Totals:
        rows = totals_rows(table);
        if (!rows) return unexpected(CellErrorCode::Ref);
        break;
      case TableBand::ThisRow: {
        std::optional<Rows> data = data_rows(table);
        if (!current_cell || !data || current_cell->row < data->first ||
            current_cell->row > data->last) {
          return unexpected(CellErrorCode::Value);
        }
        rows = Rows{current_cell->row, current_cell->row};
        break;
      }
    }
    first_row = std::min(first_row, rows->first);
    last_row = std::max(last_row, rows->last);
  }
  if (first_row > last_row) return unexpected(CellErrorCode::Ref);

  uint32_t first_col = table.range.start.col;
  uint32_t last_col = table.range.end.col;
  if (spec.first_column) {
    CMX_ASSIGN_OR_RETURN(uint32_t a, column_index(table, *spec.first_column));
    uint32_t lo = a, hi = a;
    if (spec.last_column) {
      CMX_ASSIGN_OR_RETURN(uint32_t b, column_index(table, *spec.last_column));
      lo = std::min(a, b);
      hi = std::max(a, b);
    }
    first_col = table.range.start.col + lo;
    last_col = table.range.start.col + hi;
  } else if (spec.last_column) {
    CMX_ASSIGN_OR_RETURN(uint32_t b, column_index(table, *spec.last_column));
    first_col = table.range.start.col;
    last_col = table.range.start.col + b;
  }
  return model::CellRange{model::CellRef{first_row, first_col, false, false},
                          model::CellRef{last_row, last_col, false, false}};
}

}  // namespace cmx::formula
