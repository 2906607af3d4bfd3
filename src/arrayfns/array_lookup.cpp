// Lookups in array context: a lookup value may be an array (one answer per
// element) and the searched vector may be any computed array. Searches are
// linear; every lookup after the first pays its comparisons in cells.
#include "arrayfns/array_lookup.h"

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arrayfns/shape.h"
#include "base/unicode.h"
#include "formula/array_eval.h"
#include "formula/lifted.h"
#include "formula/value_coercion.h"
#include "functions/criteria.h"
#include "functions/references.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

// The first lookup of a call is free; later ones pay their comparisons.
struct ComparisonCharge {
  bool first = true;
  Result<void, CellErrorCode> pay(EvalContext& ctx, uint64_t comparisons) {
    if (first) {
      first = false;
      return {};
    }
    if (!charge_cells(ctx, comparisons)) return fail(CellErrorCode::Num);
    return {};
  }
};

// Lookup values in array context: a scalar error ends the call.
Result<ArrayValue, CellErrorCode> lookup_values(Args args, EvalContext& ctx) {
  return arg_as_array(args, 0, ctx);
}

Result<int64_t, CellErrorCode> mode_arg(Args args, size_t i, EvalContext& ctx, double fallback) {
  CMX_ASSIGN_OR_RETURN(double x, arg_number_or_default(args, i, ctx, fallback));
  if (!std::isfinite(x)) return fail(CellErrorCode::Value);
  return static_cast<int64_t>(std::trunc(std::clamp(x, -1e9, 1e9)));
}

Result<void, CellErrorCode> check_modes(int64_t match_mode, int64_t search_mode) {
  const bool match_ok = match_mode >= -1 && match_mode <= 2;
  const bool search_ok =
      search_mode == 1 || search_mode == -1 || search_mode == 2 || search_mode == -2;
  if (!match_ok || !search_ok) return fail(CellErrorCode::Value);
  return {};
}

std::optional<std::string> lowered_text(const CellValue& v) {
  if (v.is_error()) return std::nullopt;
  auto text = value_to_text(v);
  if (!text.has_value()) return std::nullopt;
  return unicode::to_lower(*text);
}

// MATCH's walk: the 1-based position, or none.
std::optional<uint64_t> match_walk(std::span<const CellValue> vector, const CellValue& wanted,
                                   int64_t type, uint64_t& comparisons) {
  const uint64_t n = vector.size();
  if (n == 0) return std::nullopt;
  if (type == 0) {
    for (uint64_t i = 0; i < n; ++i) {
      ++comparisons;
      if (compare_values(vector[i], wanted) == 0) return i + 1;
    }
    return std::nullopt;
  }
  // Ascending types walk while values do not exceed the wanted one,
  // descending ones while they are not below it.
  const int stop = type > 0 ? 1 : -1;
  ++comparisons;
  if (compare_values(vector[0], wanted) == stop) return std::nullopt;
  uint64_t i = 1;
  for (; i < n; ++i) {
    ++comparisons;
    if (compare_values(vector[i], wanted) == stop) break;
  }
  return i;
}

ArrayOutcome match(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return fail(CellErrorCode::Value);
  if (eval_reference(*args[1], ctx)) {
    static constexpr uint32_t kLookupValueOnly[] = {0};
    EvalResult out;
    call_lifted(out, builtin_id_from_name("MATCH"), args, ctx,
                std::span<const uint32_t>(kLookupValueOnly));
    return out;
  }
  CMX_ASSIGN_OR_RETURN(ArrayValue wanted, lookup_values(args, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue vector, arg_as_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(double type_arg, arg_number_or_default(args, 2, ctx, 1));
  if (!std::isfinite(type_arg)) return fail(CellErrorCode::Num);
  const auto type = static_cast<int64_t>(std::trunc(std::clamp(type_arg, -2.0, 2.0)));
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, wanted.rows, wanted.cols));
  ComparisonCharge charge;
  for (const CellValue& v : wanted.values) {
    uint64_t comparisons = 0;
    std::optional<uint64_t> position = match_walk(vector.values, v, type, comparisons);
    CMX_TRY(charge.pay(ctx, comparisons));
    CMX_TRY(push_array_value(builder, position ? CellValue::number(static_cast<double>(*position))
                                               : CellValue::error(CellErrorCode::NA)));
  }
  return make_array(wanted.rows, wanted.cols, std::move(builder));
}

ArrayOutcome xmatch(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 4) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue wanted, lookup_values(args, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue vector, arg_as_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t match_mode, mode_arg(args, 2, ctx, 0));
  CMX_ASSIGN_OR_RETURN(int64_t search_mode, mode_arg(args, 3, ctx, 1));
  CMX_TRY(check_modes(match_mode, search_mode));
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, wanted.rows, wanted.cols));
  ComparisonCharge charge;
  for (const CellValue& v : wanted.values) {
    const SearchOutcome hit = xmatch_search(vector.values, v, match_mode, search_mode);
    CMX_TRY(charge.pay(ctx, hit.comparisons));
    CMX_TRY(push_array_value(builder, hit.found
                                          ? CellValue::number(static_cast<double>(hit.index + 1))
                                          : CellValue::error(CellErrorCode::NA)));
  }
  return make_array(wanted.rows, wanted.cols, std::move(builder));
}

// The if_not_found value, evaluated on the first miss and kept.
struct NotFound {
  Args args;
  std::optional<CellValue> value;
  const CellValue& get(EvalContext& ctx) {
    if (!value) {
      if (args.size() < 4 || is_omitted(*args[3])) {
        value = CellValue::error(CellErrorCode::NA);
      } else {
        value = top_left_value(eval_array(*args[3], ctx));
      }
    }
    return *value;
  }
};

ArrayOutcome xlookup(Args args, EvalContext& ctx) {
  if (args.size() < 3 || args.size() > 6) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue wanted, lookup_values(args, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue looked, arg_as_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue returned, arg_as_array(args, 2, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t match_mode, mode_arg(args, 4, ctx, 0));
  CMX_ASSIGN_OR_RETURN(int64_t search_mode, mode_arg(args, 5, ctx, 1));
  CMX_TRY(check_modes(match_mode, search_mode));
  const uint64_t n = looked.values.size();
  if (looked.rows >= 2 && looked.cols >= 2) return fail(CellErrorCode::Value);
  bool vertical;
  if (looked.cols == 1 && returned.rows == n) {
    vertical = true;
  } else if (returned.rows != n && returned.cols != n) {
    return fail(CellErrorCode::Value);
  } else {
    vertical = returned.rows == n && !(looked.rows == 1 && returned.cols == n);
  }
  NotFound not_found{args, std::nullopt};
  const uint64_t line_length = vertical ? returned.cols : returned.rows;
  auto element = [&](uint64_t hit, uint64_t k) -> const CellValue& {
    return vertical ? returned.values[hit * returned.cols + k]
                    : returned.values[k * returned.cols + hit];
  };
  if (line_length == 1) {
    CMX_ASSIGN_OR_RETURN(ArrayBuilder builder,
                         reserve_array_cells(ctx, wanted.rows, wanted.cols));
    ComparisonCharge charge;
    for (const CellValue& v : wanted.values) {
      const SearchOutcome hit = xmatch_search(looked.values, v, match_mode, search_mode);
      CMX_TRY(charge.pay(ctx, hit.comparisons));
      CMX_TRY(push_array_value(builder, hit.found ? element(hit.index, 0) : not_found.get(ctx)));
    }
    return make_array(wanted.rows, wanted.cols, std::move(builder));
  }
  // A whole row or column answers only the first lookup value.
  const SearchOutcome hit = xmatch_search(looked.values, wanted.values.front(), match_mode,
                                          search_mode);
  if (!hit.found) return EvalResult::scalar(not_found.get(ctx));
  const uint64_t rows = vertical ? 1 : line_length;
  const uint64_t cols = vertical ? line_length : 1;
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t k = 0; k < line_length; ++k) CMX_TRY(push_array_value(builder, element(hit.index, k)));
  return make_array(rows, cols, std::move(builder));
}

}  // namespace

SearchOutcome xmatch_search(std::span<const CellValue> vector, const CellValue& wanted,
                            int64_t match_mode, int64_t search_mode) {
  const uint64_t n = vector.size();
  const bool backwards = search_mode < 0;
  SearchOutcome out;
  if (match_mode == 2) {
    std::optional<std::string> pattern = lowered_text(wanted);
    for (uint64_t step = 0; step < n; ++step) {
      const uint64_t i = backwards ? n - 1 - step : step;
      ++out.comparisons;
      if (!pattern) continue;
      std::optional<std::string> text = lowered_text(vector[i]);
      if (text && wildcard_match(*pattern, *text)) {
        out.found = true;
        out.index = i;
        return out;
      }
    }
    return out;
  }
  std::optional<uint64_t> candidate;
  for (uint64_t step = 0; step < n; ++step) {
    const uint64_t i = backwards ? n - 1 - step : step;
    ++out.comparisons;
    const int c = compare_values(vector[i], wanted);
    if (c == 0) {
      out.found = true;
      out.index = i;
      return out;
    }
    if (match_mode == 0 || c != static_cast<int>(match_mode)) continue;
    // Closer means greater below the wanted value and smaller above it; of
    // equal candidates the one met first stays.
    if (!candidate ||
        compare_values(vector[i], vector[*candidate]) == -static_cast<int>(match_mode)) {
      candidate = i;
    }
  }
  if (candidate) {
    out.found = true;
    out.index = *candidate;
  }
  return out;
}

void array_fn_match(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(match(args, ctx));
}
void array_fn_xmatch(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(xmatch(args, ctx));
}
void array_fn_xlookup(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(xlookup(args, ctx));
}

}  // namespace cmx::formula
