// The reference family: INDEX, OFFSET and INDIRECT as values and as ranges,
// the shape readers ROW, COLUMN, ROWS and COLUMNS, and CHOOSE, ADDRESS,
// FORMULATEXT, HYPERLINK and TRANSPOSE.
#include <cmath>
#include <string>

#include "base/saturate.h"
#include "base/unicode.h"
#include "formula/parser.h"
#include "formula/printer.h"
#include "formula/static_refs.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/references.h"
#include "model/address.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

CellValue error(CellErrorCode code) { return CellValue::error(code); }

void set_cell(CellValue& out, const Result<CellValue, CellErrorCode>& cell) {
  out = cell.has_value() ? *cell : error(cell.error());
}

// A non-negative index of INDEX's reference form; an omitted one is 0.
Result<int64_t, CellErrorCode> reference_index(Args args, size_t i, EvalContext& ctx) {
  if (is_omitted(*args[i])) return 0;
  CMX_ASSIGN_OR_RETURN(int64_t n, arg_integer(args, i, ctx));
  if (n < 0) return unexpected(CellErrorCode::Value);
  return n;
}

// An optional size of OFFSET: absent when not given or omitted.
Result<std::optional<int64_t>, CellErrorCode> offset_size(Args args, size_t i, EvalContext& ctx) {
  if (args.size() <= i || is_omitted(*args[i])) return std::optional<int64_t>();
  CMX_ASSIGN_OR_RETURN(int64_t n, arg_integer(args, i, ctx));
  return std::optional<int64_t>(n);
}

bool is_plain_reference(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Ref:
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
      return true;
    default:
      return false;
  }
}

// A sheet text that needs no quotes: letters, digits, "." and "_", not
// starting with an ASCII digit.
bool bare_sheet_text(std::string_view text) {
  if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = unicode::decode_utf8(text, pos);
    if (cp == '.' || cp == '_') continue;
    if (!unicode::is_alphabetic(cp) && !unicode::is_numeric(cp)) return false;
  }
  return true;
}

void r1c1_component(std::string& out, char letter, int64_t n, bool absolute) {
  out += letter;
  if (absolute) {
    out += std::to_string(n);
  } else if (n != 0) {
    out += '[';
    out += std::to_string(n);
    out += ']';
  }
}

// The line of ROW or COLUMN, 1-based: of the argument's first cell, or of
// the cell being evaluated.
void line_number(CellValue& out, Args args, EvalContext& ctx, bool row) {
  if (args.size() > 1) {
    out = error(CellErrorCode::Value);
    return;
  }
  std::optional<model::CellRef> cell;
  if (args.empty()) {
    cell = ctx.current_cell;
  } else if (std::optional<SheetRange> range = eval_reference(*args[0], ctx)) {
    cell = range->start;
  }
  if (!cell) {
    out = error(CellErrorCode::Value);
    return;
  }
  out = CellValue::number(static_cast<double>(row ? cell->row : cell->col) + 1);
}

void line_count(CellValue& out, Args args, EvalContext& ctx, bool rows) {
  if (args.size() != 1) {
    out = error(CellErrorCode::Value);
    return;
  }
  auto range = arg_reference(args, 0, ctx);
  if (!range.has_value()) {
    out = error(range.error());
    return;
  }
  out = CellValue::number(static_cast<double>(rows ? range->height : range->width));
}

}  // namespace

bool is_omitted(const Expr& arg) {
  const auto* literal = arg.get<node::Literal>();
  return literal != nullptr && literal->value.is_empty();
}

Result<SheetRange, CellErrorCode> arg_reference(Args args, size_t i, EvalContext& ctx) {
  if (std::optional<SheetRange> range = eval_reference(*args[i], ctx)) return *range;
  CellValue v = eval_scalar(*args[i], ctx);
  return unexpected(v.is_error() ? v.as_error() : CellErrorCode::Value);
}

Result<SheetRange, CellErrorCode> index_reference(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(SheetRange range, arg_reference(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t row, reference_index(args, 1, ctx));
  int64_t col = 0;
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(col, reference_index(args, 2, ctx));
  } else if (range.height == 1 && range.width > 1) {
    // One number over a single row counts along the row.
    col = row;
    row = 0;
  }
  if (static_cast<uint64_t>(col) > range.width || static_cast<uint64_t>(row) > range.height) {
    return unexpected(CellErrorCode::Ref);
  }
  if (row >= 1) {
    range.start.row += static_cast<uint32_t>(row - 1);
    range.height = 1;
  }
  if (col >= 1) {
    range.start.col += static_cast<uint32_t>(col - 1);
    range.width = 1;
  }
  range.start.abs_row = false;
  range.start.abs_col = false;
  return range;
}

Result<SheetRange, CellErrorCode> offset_reference(Args args, EvalContext& ctx) {
  if (args.size() < 3 || args.size() > 5) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(SheetRange range, arg_reference(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t rows, arg_integer(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t cols, arg_integer(args, 2, ctx));
  CMX_ASSIGN_OR_RETURN(std::optional<int64_t> height, offset_size(args, 3, ctx));
  CMX_ASSIGN_OR_RETURN(std::optional<int64_t> width, offset_size(args, 4, ctx));
  model::CellRange base{range.start,
                        model::CellRef{static_cast<uint32_t>(range.start.row + range.height - 1),
                                       static_cast<uint32_t>(range.start.col + range.width - 1),
                                       false, false}};
  std::optional<model::CellRange> moved = offset_range(base, rows, cols, height, width);
  if (!moved) return unexpected(CellErrorCode::Ref);
  return SheetRange{range.sheet, moved->start, uint64_t{moved->end.row} - moved->start.row + 1,
                    uint64_t{moved->end.col} - moved->start.col + 1};
}

Result<SheetRange, CellErrorCode> indirect_reference(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 2) return unexpected(CellErrorCode::Value);
  if (args.size() == 2) {
    // Only A1 texts are read; a FALSE flag asks for the other style.
    CMX_ASSIGN_OR_RETURN(bool a1, value_to_bool(eval_scalar(*args[1], ctx)));
    if (!a1) return unexpected(CellErrorCode::Ref);
  }
  CellValue text = eval_scalar(*args[0], ctx);
  if (text.is_error()) return unexpected(text.as_error());
  if (!text.is_text()) return unexpected(CellErrorCode::Ref);
  auto parsed = parse_formula(text.as_text());
  if (!parsed.has_value() || !is_plain_reference(**parsed)) {
    return unexpected(CellErrorCode::Ref);
  }
  std::optional<SheetRange> range = eval_reference(**parsed, ctx);
  if (!range) return unexpected(CellErrorCode::Ref);
  return *range;
}

void fn_index(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) {
    out = error(CellErrorCode::Value);
    return;
  }
  auto range = arg_reference(args, 0, ctx);
  if (!range.has_value()) {
    out = error(range.error());
    return;
  }
  auto row = arg_integer(args, 1, ctx);
  if (!row.has_value()) {
    out = error(row.error());
    return;
  }
  int64_t r = *row;
  int64_t c = 1;
  if (args.size() == 3) {
    auto col = arg_integer(args, 2, ctx);
    if (!col.has_value()) {
      out = error(col.error());
      return;
    }
    c = *col;
  } else if (range->height == 1) {
    c = r;
    r = 1;
  } else if (range->width != 1) {
    out = error(CellErrorCode::Ref);
    return;
  }
  if (r <= 0 || c <= 0 || static_cast<uint64_t>(r) > range->height ||
      static_cast<uint64_t>(c) > range->width) {
    out = error(CellErrorCode::Ref);
    return;
  }
  set_cell(out, read_range_cell(*range, static_cast<uint64_t>(r - 1),
                                static_cast<uint64_t>(c - 1), ctx));
}

void fn_offset(CellValue& out, Args args, EvalContext& ctx) {
  auto range = offset_reference(args, ctx);
  if (!range.has_value()) {
    out = error(range.error());
  } else if (range->height != 1 || range->width != 1) {
    out = error(CellErrorCode::Value);
  } else {
    set_cell(out, read_range_cell(*range, 0, 0, ctx));
  }
}

void fn_indirect(CellValue& out, Args args, EvalContext& ctx) {
  auto range = indirect_reference(args, ctx);
  if (!range.has_value()) {
    out = error(range.error());
    return;
  }
  set_cell(out, read_range_cell(*range, 0, 0, ctx));
}

void fn_row(CellValue& out, Args args, EvalContext& ctx) { line_number(out, args, ctx, true); }

void fn_column(CellValue& out, Args args, EvalContext& ctx) {
  line_number(out, args, ctx, false);
}

void fn_rows(CellValue& out, Args args, EvalContext& ctx) { line_count(out, args, ctx, true); }

void fn_columns(CellValue& out, Args args, EvalContext& ctx) {
  line_count(out, args, ctx, false);
}

void fn_choose(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2) {
    out = error(CellErrorCode::Value);
    return;
  }
  auto index = arg_number(args, 0, ctx);
  if (!index.has_value()) {
    out = error(index.error());
    return;
  }
  const double chosen = std::trunc(*index);
  if (chosen < 1 || chosen > static_cast<double>(args.size() - 1)) {
    out = error(CellErrorCode::Value);
    return;
  }
  out = eval_scalar(*args[static_cast<size_t>(chosen)], ctx);
}

void fn_address(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 5) {
    out = error(CellErrorCode::Value);
    return;
  }
  auto row_arg = arg_number(args, 0, ctx);
  auto col_arg = arg_number(args, 1, ctx);
  if (!row_arg.has_value() || !col_arg.has_value()) {
    out = error(!row_arg.has_value() ? row_arg.error() : col_arg.error());
    return;
  }
  const auto row = saturate_cast<int64_t>(*row_arg);
  const auto col = saturate_cast<int64_t>(*col_arg);
  int64_t abs_num = 1;
  if (args.size() >= 3 && !is_omitted(*args[2])) {
    auto n = arg_number(args, 2, ctx);
    if (!n.has_value()) {
      out = error(n.error());
      return;
    }
    abs_num = saturate_cast<int64_t>(*n);
    if (abs_num < 1 || abs_num > 4) {
      out = error(CellErrorCode::Value);
      return;
    }
  }
  bool a1 = true;
  if (args.size() >= 4 && !is_omitted(*args[3])) {
    auto flag = value_to_bool(eval_scalar(*args[3], ctx));
    if (!flag.has_value()) {
      out = error(flag.error());
      return;
    }
    a1 = *flag;
  }
  std::optional<std::string> sheet;
  if (args.size() == 5 && !is_omitted(*args[4])) {
    auto text = value_to_text(eval_scalar(*args[4], ctx));
    if (!text.has_value()) {
      out = error(text.error());
      return;
    }
    sheet = std::move(*text);
  }
  const bool abs_row = abs_num == 1 || abs_num == 2;
  const bool abs_col = abs_num == 1 || abs_num == 3;
  std::string text;
  if (sheet) {
    text = bare_sheet_text(*sheet) ? *sheet : "'" + double_quote_char(*sheet, '\'') + "'";
    text += '!';
  }
  if (a1) {
    if (row < 1 || row > static_cast<int64_t>(kGridRows) || col < 1 ||
        col > static_cast<int64_t>(kGridCols)) {
      out = error(CellErrorCode::Value);
      return;
    }
    if (abs_col) text += '$';
    text += model::column_letters(static_cast<uint32_t>(col - 1));
    if (abs_row) text += '$';
    text += std::to_string(row);
  } else {
    r1c1_component(text, 'R', row, abs_row);
    r1c1_component(text, 'C', col, abs_col);
  }
  out = text_result(text, ctx);
}

void fn_formulatext(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = error(CellErrorCode::Value);
    return;
  }
  std::optional<SheetRange> range = eval_reference(*args[0], ctx);
  std::optional<std::string_view> formula;
  if (range) formula = ctx.source->cell_formula(range->sheet, range->start);
  if (!formula) {
    out = error(CellErrorCode::NA);
    return;
  }
  std::string_view body = *formula;
  if (!body.empty() && body.front() == '=') body.remove_prefix(1);
  const bool anchor = ctx.source->array_range(range->sheet, range->start).has_value();
  std::string text = anchor ? "{=" : "=";
  text += body;
  if (anchor) text += '}';
  // Checked like every built text: a formula at the length limit grows past
  // it by its "=" and must not become a cell value.
  out = text_result(text, ctx);
}

void fn_hyperlink(CellValue& out, Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 2) {
    out = error(CellErrorCode::Value);
    return;
  }
  CellValue location = eval_scalar(*args[0], ctx);
  if (location.is_error()) {
    out = std::move(location);
    return;
  }
  CellValue shown = (args.size() == 1 || is_omitted(*args[1])) ? std::move(location)
                                                                 : eval_scalar(*args[1], ctx);
  out = shown.is_empty() ? CellValue::text("") : std::move(shown);
}

void fn_transpose(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = error(CellErrorCode::Value);
    return;
  }
  if (std::optional<SheetRange> range = eval_reference(*args[0], ctx)) {
    if (range->height == 1 && range->width == 1) {
      set_cell(out, read_range_cell(*range, 0, 0, ctx));
    } else {
      // A turned range is no single value: the cell keeps what it holds.
      count_unknown_call(ctx);
      out = error(CellErrorCode::Value);
    }
  } else {
    out = eval_scalar(*args[0], ctx);
  }
  if (out.is_empty()) out = CellValue::number(0);
}

}  // namespace cmx::formula
