// The frame every array function shares: the table of the 53 array-aware
// names and their handlers, the name tests the scalar evaluator uses to
// switch a call into array context, the argument readers of the handlers,
// and the hand-over to the built-in function of the same name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "formula/eval_result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// (output, argument expressions unevaluated, context): writes one result.
using ArrayFnHandler = void (*)(EvalResult& out, Args args, EvalContext& ctx);

inline constexpr size_t kArrayFunctionNameCount = 53;
// How many operator and argument levels the scalar evaluator searches for
// an array-only function below a built-in's argument.
inline constexpr uint32_t kArrayFunctionSearchDepth = 32;
// The longest function name after its prefixes (NETWORKDAYS.INTL).
inline constexpr size_t kMaxFunctionNameBytes = 16;

// A call name without "_xlfn." (and, only after it, "_xlws."), a..z upper-cased.
struct FunctionName {
  std::array<char, kMaxFunctionNameBytes> bytes{};
  size_t size = 0;
  std::string_view view() const { return {bytes.data(), size}; }
};
// Absent when nothing remains or more than kMaxFunctionNameBytes do; no
// such name is an array function or a built-in.
std::optional<FunctionName> normalise_function_name(std::string_view name);

// The 53 names in ascending byte order.
std::span<const std::string_view> array_function_names();
// The handler of an upper-case name without prefixes; null for other names.
ArrayFnHandler array_function(std::string_view upper_name);
// Whether the call name as written names an array function.
bool is_array_function_name(std::string_view name);
// Whether the expression calls, within `depth` operator and argument levels,
// a function that exists only as an array function (LET, FILTER, ...).
// Built-ins that are also array functions count only through their arguments.
bool uses_array_function(const Expr& expr, uint32_t depth);

// The top-left value of argument i in array context (the caller checks i).
model::CellValue arg_top_left(Args args, size_t i, EvalContext& ctx);
// Argument i in array context as (values, rows, cols): a single value is
// 1 × 1; an Error value gives its code; a lambda or a missing argument "#VALUE!".
Result<ArrayValue, model::CellErrorCode> arg_as_array(Args args, size_t i, EvalContext& ctx);
// The top-left value of argument i as a number; `fallback` for a missing
// argument or an Empty value. Not truncated.
Result<double, model::CellErrorCode> arg_number_or_default(Args args, size_t i, EvalContext& ctx,
                                                           double fallback);
// The top-left value of argument i; absent for a missing argument or Empty.
Result<std::optional<model::CellValue>, model::CellErrorCode> arg_optional_value(
    Args args, size_t i, EvalContext& ctx);
// The top-left value of argument i as a truth value; `fallback` when
// missing or Empty.
Result<bool, model::CellErrorCode> arg_bool_or_default(Args args, size_t i, EvalContext& ctx,
                                                       bool fallback);
// Arguments [first, end) as arrays, in order; the first error ends it.
Result<std::vector<ArrayValue>, model::CellErrorCode> collect_stack_arrays(Args args,
                                                                           size_t first,
                                                                           size_t end,
                                                                           EvalContext& ctx);

// Hands a call back to the built-in of that name when no argument needs
// array treatment: "#NAME?" for no built-in, "#NUM!" once the evaluation is
// limited, otherwise the argument nodes are paid for in cells and the
// built-in evaluates the arguments afresh.
EvalResult call_builtin_fallback(std::string_view name, Args args, EvalContext& ctx);

}  // namespace cmx::formula
