// Argument coercion and the number collectors.
#include "functions/arg_coercion.h"

#include <cmath>

#include "base/saturate.h"
#include "formula/array_eval.h"
#include "formula/lifted.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// A value given directly: converted, Empty adding nothing.
Result<void, CellErrorCode> add_single(const CellValue& v, std::vector<double>& numbers) {
  switch (v.kind()) {
    case CellValue::Kind::Empty:
      return {};
    case CellValue::Kind::Number:
      numbers.push_back(v.as_number());
      return {};
    case CellValue::Kind::Text: {
      std::optional<double> n = parse_number_text(v.as_text());
      if (!n) return unexpected(CellErrorCode::Value);
      numbers.push_back(*n);
      return {};
    }
    case CellValue::Kind::Bool:
      numbers.push_back(v.as_bool() ? 1 : 0);
      return {};
    case CellValue::Kind::Error:
      return unexpected(v.as_error());
  }
  return {};
}

// One of many values: only Numbers count, an Error ends the collection.
template <typename Value>
Result<void, CellErrorCode> add_many(const Value& v, std::vector<double>& numbers) {
  if (v.is_number()) numbers.push_back(v.as_number());
  if (v.is_error()) return unexpected(v.as_error());
  return {};
}

enum class Collect { Numbers, NumbersA };

Result<std::vector<double>, CellErrorCode> collect_from_values(Args args, EvalContext& ctx,
                                                               Collect mode) {
  std::vector<double> numbers;
  for (size_t i = 0; i < args.size(); ++i) {
    CMX_ASSIGN_OR_RETURN(ArgValues arg, arg_values(args, i, ctx));
    for (const CellValue& v : arg.values) {
      if (!arg.many_values) {
        CMX_TRY(add_single(v, numbers));
      } else if (mode == Collect::Numbers) {
        CMX_TRY(add_many(v, numbers));
      } else if (v.is_text()) {
        numbers.push_back(0);
      } else {
        CMX_TRY(add_single(v, numbers));
      }
    }
  }
  return numbers;
}

}  // namespace

Result<double, CellErrorCode> arg_number(Args args, size_t i, EvalContext& ctx) {
  CellValue v = eval_scalar(*args[i], ctx);
  if (v.is_text()) {
    if (std::optional<double> n = parse_number_text(v.as_text())) return *n;
    if (std::optional<double> day = parse_date_text(v.as_text(), ctx.now_serial)) {
      return std::floor(*day);
    }
    return unexpected(CellErrorCode::Value);
  }
  return value_to_number(v);
}

Result<int64_t, CellErrorCode> arg_integer(Args args, size_t i, EvalContext& ctx) {
  auto number = arg_number(args, i, ctx);
  if (number.has_value()) return saturate_cast<int64_t>(*number);
  const CellErrorCode failure = number.error();
  if (eval_reference(*args[i], ctx)) return unexpected(failure);
  CellValue v = top_left_value(eval_array(*args[i], ctx));
  switch (v.kind()) {
    case CellValue::Kind::Empty:
      return 0;
    case CellValue::Kind::Number:
      return saturate_cast<int64_t>(v.as_number());
    case CellValue::Kind::Text:
      if (std::optional<double> n = parse_number_text(v.as_text())) {
        return saturate_cast<int64_t>(*n);
      }
      return unexpected(failure);
    case CellValue::Kind::Bool:
      return v.as_bool() ? 1 : 0;
    case CellValue::Kind::Error:
      return unexpected(failure);
  }
  return unexpected(failure);
}

Result<std::vector<double>, CellErrorCode> collect_numbers(Args args, EvalContext& ctx) {
  std::vector<double> numbers;
  for (const ExprPtr& arg : args) {
    if (std::optional<SheetRange> range = eval_reference(*arg, ctx)) {
      CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(clip_to_used(*range, ctx), ctx));
      for (const CellValue* cell : cells) CMX_TRY(add_many(*cell, numbers));
      continue;
    }
    EvalResult result = eval_array(*arg, ctx);
    if (result.is_array()) {
      for (const CellValue& v : result.as_array().values) CMX_TRY(add_many(v, numbers));
      continue;
    }
    CMX_TRY(add_single(top_left_value(std::move(result)), numbers));
  }
  return numbers;
}

Result<ArgValues, CellErrorCode> arg_values(Args args, size_t i, EvalContext& ctx) {
  ArgValues out;
  if (std::optional<SheetRange> range = eval_reference(*args[i], ctx)) {
    CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(clip_to_used(*range, ctx), ctx));
    uint64_t bytes = 0;
    for (const CellValue* cell : cells) {
      if (cell->is_text()) bytes = saturating_add(bytes, cell->as_text().size());
    }
    if (!charge_bytes(ctx, bytes)) return unexpected(CellErrorCode::Num);
    out.values.reserve(cells.size());
    for (const CellValue* cell : cells) out.values.push_back(*cell);
    out.many_values = true;
    return out;
  }
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_array()) {
    out.values = std::move(std::get<ArrayValue>(result.value).values);
    out.many_values = true;
    return out;
  }
  out.values.push_back(top_left_value(std::move(result)));
  return out;
}

Result<std::vector<double>, CellErrorCode> collect_arg_numbers(Args args, EvalContext& ctx) {
  return collect_from_values(args, ctx, Collect::Numbers);
}

Result<std::vector<double>, CellErrorCode> collect_numbers_a(Args args, EvalContext& ctx) {
  return collect_from_values(args, ctx, Collect::NumbersA);
}

// --- Text, date and financial families ---

Result<int64_t, CellErrorCode> arg_truncated(Args args, size_t i, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(double number, arg_number(args, i, ctx));
  return saturate_cast<int64_t>(number);
}

bool arg_given(Args args, size_t i) {
  if (i >= args.size()) return false;
  const auto* literal = args[i]->get<node::Literal>();
  return literal == nullptr || !literal->value.is_empty();
}

}  // namespace cmx::formula
