// The reference family: INDEX, OFFSET and INDIRECT as values and as ranges,
// the shape readers ROW, COLUMN, ROWS and COLUMNS, and CHOOSE, ADDRESS,
// FORMULATEXT, HYPERLINK and TRANSPOSE.
#include "functions/references.h"

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
#include "model/address.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

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
Answer line_number(Args args, EvalContext& ctx, bool row) {
  CMX_TRY(check_arity(args, 0, 1));
  std::optional<model::CellRef> cell;
  if (args.empty()) {
    cell = ctx.current_cell;
  } else if (std::optional<SheetRange> range = eval_reference(*args[0], ctx)) {
    cell = range->start;
  }
  if (!cell) return unexpected(CellErrorCode::Value);
  return CellValue::number(static_cast<double>(row ? cell->row : cell->col) + 1);
}

Answer line_count(Args args, EvalContext& ctx, bool rows) {
  CMX_TRY(check_arity(args, 1, 1));
  CMX_ASSIGN_OR_RETURN(const SheetRange range, arg_reference(args, 0, ctx));
  return CellValue::number(static_cast<double>(rows ? range.height : range.width));
}

Answer index_value(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 2, 3));
  CMX_ASSIGN_OR_RETURN(const SheetRange range, arg_reference(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t row, arg_integer(args, 1, ctx));
  int64_t col = 1;
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(col, arg_integer(args, 2, ctx));
  } else if (range.height == 1) {
    col = row;
    row = 1;
  } else if (range.width != 1) {
    return unexpected(CellErrorCode::Ref);
  }
  if (row <= 0 || col <= 0 || static_cast<uint64_t>(row) > range.height ||
      static_cast<uint64_t>(col) > range.width) {
    return unexpected(CellErrorCode::Ref);
  }
  return read_range_cell(range, static_cast<uint64_t>(row - 1), static_cast<uint64_t>(col - 1),
                         ctx);
}

Answer offset_value(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(const SheetRange range, offset_reference(args, ctx));
  if (range.height != 1 || range.width != 1) return unexpected(CellErrorCode::Value);
  return read_range_cell(range, 0, 0, ctx);
}

Answer indirect_value(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(const SheetRange range, indirect_reference(args, ctx));
  return read_range_cell(range, 0, 0, ctx);
}

Answer choose(Args args, EvalContext& ctx) {
  if (args.size() < 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(const double index, arg_number(args, 0, ctx));
  const double chosen = std::trunc(index);
  if (chosen < 1 || chosen > static_cast<double>(args.size() - 1)) {
    return unexpected(CellErrorCode::Value);
  }
  return eval_scalar(*args[static_cast<size_t>(chosen)], ctx);
}

Answer address(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 2, 5));
  auto row_arg = arg_number(args, 0, ctx);
  auto col_arg = arg_number(args, 1, ctx);
  CMX_TRY(row_arg);
  CMX_TRY(col_arg);
  const auto row = saturate_cast<int64_t>(*row_arg);
  const auto col = saturate_cast<int64_t>(*col_arg);
  int64_t abs_num = 1;
  if (args.size() >= 3 && !is_omitted(*args[2])) {
    CMX_ASSIGN_OR_RETURN(const double n, arg_number(args, 2, ctx));
    abs_num = saturate_cast<int64_t>(n);
    if (abs_num < 1 || abs_num > 4) return unexpected(CellErrorCode::Value);
  }
  bool a1 = true;
  if (args.size() >= 4 && !is_omitted(*args[3])) {
    CMX_ASSIGN_OR_RETURN(a1, value_to_bool(eval_scalar(*args[3], ctx)));
  }
  std::optional<std::string> sheet;
  if (args.size() == 5 && !is_omitted(*args[4])) {
    CMX_ASSIGN_OR_RETURN(sheet, value_to_text(eval_scalar(*args[4], ctx)));
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
      return unexpected(CellErrorCode::Value);
    }
    if (abs_col) text += '$';
    text += model::column_letters(static_cast<uint32_t>(col - 1));
    if (abs_row) text += '$';
    text += std::to_string(row);
  } else {
    r1c1_component(text, 'R', row, abs_row);
    r1c1_component(text, 'C', col, abs_col);
  }
  return text_result(text, ctx);
}

Answer formula_text(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 1, 1));
  std::optional<SheetRange> range = eval_reference(*args[0], ctx);
  if (!range) return unexpected(CellErrorCode::NA);
  std::optional<std::string_view> formula = ctx.source->cell_formula(range->sheet, range->start);
  if (!formula) return unexpected(CellErrorCode::NA);
  std::string_view body = *formula;
  if (!body.empty() && body.front() == '=') body.remove_prefix(1);
  const bool anchor = ctx.source->array_range(range->sheet, range->start).has_value();
  std::string text = anchor ? "{=" : "=";
  text += body;
  if (anchor) text += '}';
  // Checked like every built text: a formula at the length limit grows past
  // it by its "=" and must not become a cell value.
  return text_result(text, ctx);
}

Answer hyperlink(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 1, 2));
  CellValue location = eval_scalar(*args[0], ctx);
  if (location.is_error()) return location;
  CellValue shown = (args.size() == 1 || is_omitted(*args[1])) ? std::move(location)
                                                                 : eval_scalar(*args[1], ctx);
  if (shown.is_empty()) return CellValue::text("");
  return shown;
}

Answer transpose(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 1, 1));
  CellValue value;
  if (std::optional<SheetRange> range = eval_reference(*args[0], ctx)) {
    if (range->height != 1 || range->width != 1) {
      // A turned range is no single value: the cell keeps what it holds.
      count_unknown_call(ctx);
      return unexpected(CellErrorCode::Value);
    }
    CMX_ASSIGN_OR_RETURN(value, read_range_cell(*range, 0, 0, ctx));
  } else {
    value = eval_scalar(*args[0], ctx);
  }
  if (value.is_empty()) return CellValue::number(0);
  return value;
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
  CMX_TRY(check_arity(args, 2, 3));
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
  CMX_TRY(check_arity(args, 3, 5));
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
  CMX_TRY(check_arity(args, 1, 2));
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
  set_answer(out, index_value(args, ctx));
}

void fn_offset(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, offset_value(args, ctx));
}

void fn_indirect(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, indirect_value(args, ctx));
}

void fn_row(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, line_number(args, ctx, /*row=*/true));
}

void fn_column(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, line_number(args, ctx, /*row=*/false));
}

void fn_rows(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, line_count(args, ctx, /*rows=*/true));
}

void fn_columns(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, line_count(args, ctx, /*rows=*/false));
}

void fn_choose(CellValue& out, Args args, EvalContext& ctx) { set_answer(out, choose(args, ctx)); }

void fn_address(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, address(args, ctx));
}

void fn_formulatext(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, formula_text(args, ctx));
}

void fn_hyperlink(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, hyperlink(args, ctx));
}

void fn_transpose(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, transpose(args, ctx));
}

}  // namespace cmx::formula
