// The array-function table, the name tests and the argument readers.
#include "arrayfns/frame.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "arrayfns/array_aggregate.h"
#include "arrayfns/array_lookup.h"
#include "arrayfns/filter_sort.h"
#include "arrayfns/handlers.h"
#include "arrayfns/matrix.h"
#include "arrayfns/stacking.h"
#include "arrayfns/text_arrays.h"
#include "formula/array_eval.h"
#include "formula/lifted.h"
#include "formula/value_coercion.h"
#include "functions/dispatch.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

constexpr std::array<std::string_view, kArrayFunctionNameCount> kNames = {
    "ANCHORARRAY", "AVERAGE",   "BYCOL",    "BYROW",       "CHOOSECOLS", "CHOOSEROWS",
    "COLUMN",      "COLUMNS",   "CONCAT",   "CONCATENATE", "COUNT",      "COUNTA",
    "DROP",        "EXPAND",    "FILTER",   "FREQUENCY",   "HSTACK",     "IF",
    "IFERROR",     "IFNA",      "INDEX",    "LAMBDA",      "LET",        "LINEST",
    "MAKEARRAY",   "MAP",       "MATCH",    "MAX",         "MIN",        "MMULT",
    "PRODUCT",     "REDUCE",    "ROW",      "ROWS",        "SCAN",       "SEQUENCE",
    "SORT",        "SORTBY",    "SUM",      "SUMPRODUCT",  "TAKE",       "TEXTJOIN",
    "TEXTSPLIT",   "TOCOL",     "TOROW",    "TRANSPOSE",   "TREND",      "UNIQUE",
    "VSTACK",      "WRAPCOLS",  "WRAPROWS", "XLOOKUP",     "XMATCH",
};
static_assert(std::ranges::is_sorted(kNames));

constexpr size_t index_of(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return i;
  }
  return kNames.size();
}

constexpr std::array<ArrayFnHandler, kArrayFunctionNameCount> make_handlers() {
  std::array<ArrayFnHandler, kArrayFunctionNameCount> table{};
  // Shapes; names and lambdas; element-wise choice and INDEX.
  table[index_of("SEQUENCE")] = array_fn_sequence;
  table[index_of("TAKE")] = array_fn_take;
  table[index_of("DROP")] = array_fn_drop;
  table[index_of("EXPAND")] = array_fn_expand;
  table[index_of("CHOOSEROWS")] = array_fn_chooserows;
  table[index_of("CHOOSECOLS")] = array_fn_choosecols;
  table[index_of("TOCOL")] = array_fn_tocol;
  table[index_of("TOROW")] = array_fn_torow;
  table[index_of("WRAPROWS")] = array_fn_wraprows;
  table[index_of("WRAPCOLS")] = array_fn_wrapcols;
  table[index_of("TRANSPOSE")] = array_fn_transpose;
  table[index_of("LET")] = array_fn_let;
  table[index_of("LAMBDA")] = array_fn_lambda;
  table[index_of("MAKEARRAY")] = array_fn_makearray;
  table[index_of("MAP")] = array_fn_map;
  table[index_of("REDUCE")] = array_fn_reduce;
  table[index_of("SCAN")] = array_fn_scan;
  table[index_of("BYROW")] = array_fn_byrow;
  table[index_of("BYCOL")] = array_fn_bycol;
  table[index_of("IF")] = array_fn_if;
  table[index_of("IFERROR")] = array_fn_iferror;
  table[index_of("IFNA")] = array_fn_ifna;
  table[index_of("INDEX")] = array_fn_index;
  table[index_of("ANCHORARRAY")] = array_fn_anchorarray;
  // Filtering, sorting and distinct values.
  table[index_of("FILTER")] = array_fn_filter;
  table[index_of("SORT")] = array_fn_sort;
  table[index_of("SORTBY")] = array_fn_sortby;
  table[index_of("UNIQUE")] = array_fn_unique;
  // Stacking and the shapes of arrays and references.
  table[index_of("HSTACK")] = array_fn_hstack;
  table[index_of("VSTACK")] = array_fn_vstack;
  table[index_of("ROW")] = array_fn_row;
  table[index_of("COLUMN")] = array_fn_column;
  table[index_of("ROWS")] = array_fn_rows;
  table[index_of("COLUMNS")] = array_fn_columns;
  // Aggregates over computed arrays.
  table[index_of("SUM")] = array_fn_sum;
  table[index_of("PRODUCT")] = array_fn_product;
  table[index_of("MIN")] = array_fn_min;
  table[index_of("MAX")] = array_fn_max;
  table[index_of("AVERAGE")] = array_fn_average;
  table[index_of("COUNT")] = array_fn_count;
  table[index_of("COUNTA")] = array_fn_counta;
  table[index_of("SUMPRODUCT")] = array_fn_sumproduct;
  // Lookups over arrays.
  table[index_of("MATCH")] = array_fn_match;
  table[index_of("XMATCH")] = array_fn_xmatch;
  table[index_of("XLOOKUP")] = array_fn_xlookup;
  // Joining and splitting texts.
  // Two names, one function.
  table[index_of("CONCAT")] = array_fn_concat;
  table[index_of("CONCATENATE")] = array_fn_concat;
  table[index_of("TEXTJOIN")] = array_fn_textjoin;
  table[index_of("TEXTSPLIT")] = array_fn_textsplit;
  // Regression, matrix product and bin counts.
  table[index_of("LINEST")] = array_fn_linest;
  table[index_of("TREND")] = array_fn_trend;
  table[index_of("MMULT")] = array_fn_mmult;
  table[index_of("FREQUENCY")] = array_fn_frequency;
  return table;
}

constexpr std::array<ArrayFnHandler, kArrayFunctionNameCount> kHandlers = make_handlers();

}  // namespace

std::optional<FunctionName> normalise_function_name(std::string_view name) {
  if (auto rest = strip_prefix_ci(name, "_xlfn.")) {
    name = *rest;
    if (auto further = strip_prefix_ci(name, "_xlws.")) name = *further;
  }
  if (name.empty() || name.size() > kMaxFunctionNameBytes) return std::nullopt;
  FunctionName out;
  out.size = name.size();
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    out.bytes[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

CellValue arg_top_left(Args args, size_t i, EvalContext& ctx) {
  return top_left_value(eval_array(*args[i], ctx));
}

std::span<const std::string_view> array_function_names() { return kNames; }

ArrayFnHandler array_function(std::string_view upper_name) {
  auto it = std::ranges::lower_bound(kNames, upper_name);
  if (it == kNames.end() || *it != upper_name) return nullptr;
  return kHandlers[static_cast<size_t>(it - kNames.begin())];
}

bool is_array_function_name(std::string_view name) {
  std::optional<FunctionName> upper = normalise_function_name(name);
  return upper && array_function(upper->view()) != nullptr;
}

bool uses_array_function(const Expr& expr, uint32_t depth) {
  if (depth == 0) return false;
  switch (expr.kind()) {
    case Expr::Kind::Unary:
      return uses_array_function(*expr.as<node::Unary>().operand, depth - 1);
    case Expr::Kind::Percent:
      return uses_array_function(*expr.as<node::Percent>().operand, depth - 1);
    case Expr::Kind::Binary: {
      const auto& bin = expr.as<node::Binary>();
      return uses_array_function(*bin.left, depth - 1) ||
             uses_array_function(*bin.right, depth - 1);
    }
    case Expr::Kind::RangeOp: {
      const auto& op = expr.as<node::RangeOp>();
      return uses_array_function(*op.left, depth - 1) ||
             uses_array_function(*op.right, depth - 1);
    }
    case Expr::Kind::Call: {
      const auto& call = expr.as<node::Call>();
      if (call.id == kNotBuiltin && is_array_function_name(call.name)) return true;
      return std::ranges::any_of(
          call.args, [&](const ExprPtr& arg) { return uses_array_function(*arg, depth - 1); });
    }
    default:
      return false;
  }
}

Result<ArrayValue, CellErrorCode> arg_as_array(Args args, size_t i, EvalContext& ctx) {
  if (i >= args.size()) return unexpected(CellErrorCode::Value);
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_lambda()) return unexpected(CellErrorCode::Value);
  if (result.is_array()) return std::get<ArrayValue>(std::move(result.value));
  CellValue& v = std::get<CellValue>(result.value);
  if (v.is_error()) return unexpected(v.as_error());
  ArrayValue one;
  one.values.push_back(std::move(v));
  one.rows = 1;
  one.cols = 1;
  return one;
}

Result<double, CellErrorCode> arg_number_or_default(Args args, size_t i, EvalContext& ctx,
                                                    double fallback) {
  if (i >= args.size()) return fallback;
  CellValue v = arg_top_left(args, i, ctx);
  if (v.is_empty()) return fallback;
  return value_to_number(v);
}

Result<std::optional<CellValue>, CellErrorCode> arg_optional_value(Args args, size_t i,
                                                                   EvalContext& ctx) {
  if (i >= args.size()) return std::optional<CellValue>();
  CellValue v = arg_top_left(args, i, ctx);
  if (v.is_empty()) return std::optional<CellValue>();
  if (v.is_error()) return unexpected(v.as_error());
  return std::optional<CellValue>(std::move(v));
}

Result<bool, CellErrorCode> arg_bool_or_default(Args args, size_t i, EvalContext& ctx,
                                                bool fallback) {
  if (i >= args.size()) return fallback;
  CellValue v = arg_top_left(args, i, ctx);
  if (v.is_empty()) return fallback;
  return value_to_bool(v);
}

Result<std::vector<ArrayValue>, CellErrorCode> collect_stack_arrays(Args args, size_t first,
                                                                    size_t end,
                                                                    EvalContext& ctx) {
  std::vector<ArrayValue> arrays;
  for (size_t i = first; i < end; ++i) {
    CMX_ASSIGN_OR_RETURN(ArrayValue array, arg_as_array(args, i, ctx));
    arrays.push_back(std::move(array));
  }
  return arrays;
}

EvalResult call_builtin_fallback(std::string_view name, Args args, EvalContext& ctx) {
  const BuiltinId id = builtin_id_from_name(name);
  if (id == kNotBuiltin) return EvalResult::error(CellErrorCode::Name);
  if (ctx.shared->limited) {
    bump(ctx.shared->limit_hits);
    return EvalResult::error(CellErrorCode::Num);
  }
  uint64_t nodes = 0;
  for (const ExprPtr& arg : args) {
    nodes = saturating_add(nodes, expr_node_count(*arg));
  }
  if (!charge_cells(ctx, nodes)) return EvalResult::error(CellErrorCode::Num);
  CellValue out;
  call_builtin(out, id, args, ctx);
  return EvalResult::scalar(std::move(out));
}

}  // namespace cmx::formula
