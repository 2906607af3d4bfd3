// Joining the texts of computed arrays, and splitting one text into a table.
#include "arrayfns/text_arrays.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arrayfns/shape.h"
#include "base/unicode.h"
#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/references.h"
#include "functions/text_split.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

// The longest joined text, in characters.
constexpr uint64_t kMaxJoinedChars = 32767;

// The values of args[first..] in order, arrays row-major; absent when no
// argument is an array (the built-in then answers).
Result<std::optional<std::vector<CellValue>>, CellErrorCode> flatten_array_args(
    Args args, size_t first, EvalContext& ctx) {
  std::vector<EvalResult> results;
  bool any_array = false;
  for (size_t i = first; i < args.size(); ++i) {
    results.push_back(eval_array(*args[i], ctx));
    any_array = any_array || results.back().is_array();
  }
  if (!any_array) return std::optional<std::vector<CellValue>>();
  std::vector<CellValue> values;
  for (EvalResult& r : results) {
    if (r.is_lambda()) return fail(CellErrorCode::Value);
    if (r.is_array()) {
      auto& array = std::get<ArrayValue>(r.value);
      std::ranges::move(array.values, std::back_inserter(values));
    } else {
      values.push_back(std::move(std::get<CellValue>(r.value)));
    }
  }
  return std::optional<std::vector<CellValue>>(std::move(values));
}

// Appends text while the running character total stays within the limit.
struct Joiner {
  std::string text;
  uint64_t chars = 0;
  Result<void, CellErrorCode> append(std::string_view piece) {
    chars += unicode::count_scalars(piece);
    if (chars > kMaxJoinedChars) return fail(CellErrorCode::Value);
    text += piece;
    return {};
  }
};

ArrayOutcome concat(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(auto values, flatten_array_args(args, 0, ctx));
  if (!values) return call_builtin_fallback("CONCAT", args, ctx);
  Joiner joined;
  for (const CellValue& v : *values) {
    CMX_ASSIGN_OR_RETURN(std::string text, value_to_text(v));
    CMX_TRY(joined.append(text));
  }
  return EvalResult::scalar(text_result(joined.text, ctx));
}

ArrayOutcome textjoin(Args args, EvalContext& ctx) {
  if (args.size() < 3) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(auto values, flatten_array_args(args, 2, ctx));
  if (!values) return call_builtin_fallback("TEXTJOIN", args, ctx);
  CMX_ASSIGN_OR_RETURN(std::string delimiter,
                       value_to_text(top_left_value(eval_array(*args[0], ctx))));
  CMX_ASSIGN_OR_RETURN(bool ignore_empty, arg_bool_or_default(args, 1, ctx, true));
  Joiner joined;
  bool first = true;
  for (const CellValue& v : *values) {
    if (ignore_empty && (v.is_empty() || (v.is_text() && v.as_text().empty()))) continue;
    if (!first) CMX_TRY(joined.append(delimiter));
    first = false;
    CMX_ASSIGN_OR_RETURN(std::string text, value_to_text(v));
    CMX_TRY(joined.append(text));
  }
  return EvalResult::scalar(text_result(joined.text, ctx));
}

Result<std::vector<std::string>, CellErrorCode> textsplit_delimiters(Args args, size_t i,
                                                                     EvalContext& ctx) {
  std::vector<std::string> delimiters;
  if (i >= args.size() || is_omitted(*args[i])) return delimiters;
  CMX_ASSIGN_OR_RETURN(ArrayValue array, arg_as_array(args, i, ctx));
  for (const CellValue& v : array.values) {
    if (v.is_error()) return fail(v.as_error());
    if (v.is_empty() || (v.is_text() && v.as_text().empty())) continue;
    CMX_ASSIGN_OR_RETURN(std::string text, value_to_text(v));
    delimiters.push_back(std::move(text));
  }
  return delimiters;
}

ArrayOutcome textsplit(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 6) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text,
                       value_to_text(top_left_value(eval_array(*args[0], ctx))));
  if (text.empty()) return fail(CellErrorCode::NA);
  CMX_ASSIGN_OR_RETURN(std::vector<std::string> col_delims, textsplit_delimiters(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(std::vector<std::string> row_delims, textsplit_delimiters(args, 2, ctx));
  CMX_ASSIGN_OR_RETURN(bool ignore_empty, arg_bool_or_default(args, 3, ctx, false));
  CMX_ASSIGN_OR_RETURN(double match_mode, arg_number_or_default(args, 4, ctx, 0));
  const bool ignore_case = match_mode != 0;
  CMX_ASSIGN_OR_RETURN(std::optional<CellValue> pad_arg, arg_optional_value(args, 5, ctx));
  const CellValue pad = pad_arg ? std::move(*pad_arg) : CellValue::error(CellErrorCode::NA);
  // floor(bytes × delimiters / 16) cells, saturating.
  uint64_t work = UINT64_MAX;
  const uint64_t delimiter_count = col_delims.size() + row_delims.size();
  if (__builtin_mul_overflow(uint64_t{text.size()}, delimiter_count, &work)) work = UINT64_MAX;
  if (!charge_cells(ctx, work / 16)) return fail(CellErrorCode::Num);
  std::vector<std::vector<std::string>> table = textsplit_split_columns(
      split_by_delimiters(text, row_delims, ignore_case), col_delims, ignore_case);
  if (ignore_empty) {
    for (auto& row : table) std::erase_if(row, [](const std::string& s) { return s.empty(); });
    std::erase_if(table, [](const std::vector<std::string>& row) { return row.empty(); });
  }
  const uint64_t rows = table.size();
  uint64_t cols = 0;
  for (const auto& row : table) cols = std::max<uint64_t>(cols, row.size());
  if (rows == 0 || cols == 0) return EvalResult::scalar(text_result("", ctx));
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (const auto& row : table) {
    for (uint64_t c = 0; c < cols; ++c) {
      CMX_TRY(push_array_value(builder, c < row.size() ? text_within_limit(row[c]) : pad));
    }
  }
  return make_array(rows, cols, std::move(builder));
}

}  // namespace

void array_fn_concat(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(concat(args, ctx));
}
void array_fn_textjoin(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(textjoin(args, ctx));
}
void array_fn_textsplit(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(textsplit(args, ctx));
}

}  // namespace cmx::formula
