// FILTER, SORT, SORTBY and UNIQUE. Sorts move positions, never values: the
// values are copied once, into the result, after the order is known.
#include "arrayfns/filter_sort.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "arrayfns/shape.h"
#include "base/unicode.h"
#include "formula/array_eval.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

constexpr uint64_t kMaxSortCost = (uint64_t{1} << 60) - 1;
constexpr double kMaxSortIndex = 1048576;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

bool arity_outside(Args args, size_t least, size_t most) {
  return args.size() < least || args.size() > most;
}

// floor(keys × n × bit_length(n) / 16), saturating: the budget charge that
// keeps a sort inside a formula bounded by n log n.
Result<void, CellErrorCode> charge_sort_cost(EvalContext& ctx, uint64_t n, uint64_t keys) {
  const uint64_t bits = n == 0 ? 0 : static_cast<uint64_t>(std::bit_width(n));
  uint64_t product = 0;
  uint64_t cost = kMaxSortCost;
  if (!__builtin_mul_overflow(n, bits, &product) &&
      !__builtin_mul_overflow(product, keys, &product)) {
    cost = std::min(product / 16, kMaxSortCost);
  }
  if (!charge_cells(ctx, cost)) return fail(CellErrorCode::Num);
  return {};
}

// One key of a sort: the value of item i is values[offset + i * stride].
struct SortKey {
  const std::vector<CellValue>* values;
  uint64_t offset;
  uint64_t stride;
  bool descending;
  const CellValue& at(uint64_t item) const { return (*values)[offset + item * stride]; }
};

// Texts are lower-cased once per item rather than once per comparison.
std::vector<uint64_t> sorted_positions(uint64_t n, std::span<const SortKey> keys) {
  std::vector<std::vector<std::string>> lowered(keys.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    lowered[k].resize(n);
    for (uint64_t i = 0; i < n; ++i) {
      const CellValue& v = keys[k].at(i);
      if (v.is_text()) lowered[k][i] = unicode::to_lower(v.as_text());
    }
  }
  std::vector<uint64_t> order = indices_ascending(n);
  std::ranges::stable_sort(order, [&](uint64_t a, uint64_t b) {
    for (size_t k = 0; k < keys.size(); ++k) {
      const SortKey& key = keys[k];
      const CellValue& va = key.at(a);
      const CellValue& vb = key.at(b);
      int c;
      if (va.is_text() && vb.is_text()) {
        c = compare_lowered_text(lowered[k][a], lowered[k][b]);
        if (key.descending) c = -c;
      } else {
        c = compare_sort_keys(va, vb, key.descending);
      }
      if (c != 0) return c < 0;
    }
    return false;
  });
  return order;
}

ArrayOutcome filter(Args args, EvalContext& ctx) {
  if (arity_outside(args, 2, 3)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue include, arg_as_array(args, 1, ctx));
  PickAxis axis;
  if (include.rows == source.rows && include.cols == 1) {
    axis = PickAxis::Rows;
  } else if (include.rows == 1 && include.cols == source.cols) {
    axis = PickAxis::Cols;
  } else {
    return fail(CellErrorCode::Value);
  }
  std::vector<uint64_t> kept;
  for (uint64_t i = 0; i < include.values.size(); ++i) {
    const CellValue& v = include.values[i];
    if (v.is_error()) return fail(v.as_error());
    CMX_ASSIGN_OR_RETURN(bool keep, value_to_bool(v));
    if (keep) kept.push_back(i);
  }
  if (!kept.empty()) return pick_rows_cols(ctx, source, kept, axis);
  if (args.size() < 3) return fail(CellErrorCode::Calc);
  CellValue fallback = top_left_value(eval_array(*args[2], ctx));
  if (fallback.is_empty()) return fail(CellErrorCode::Calc);
  if (fallback.is_error()) return fail(fallback.as_error());
  return EvalResult::scalar(std::move(fallback));
}

ArrayOutcome sort(Args args, EvalContext& ctx) {
  if (arity_outside(args, 1, 4)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(double index_arg, arg_number_or_default(args, 1, ctx, 1));
  if (!std::isfinite(index_arg) || index_arg < 1 || index_arg > kMaxSortIndex) {
    return fail(CellErrorCode::Value);
  }
  const auto index = static_cast<uint64_t>(std::trunc(index_arg)) - 1;
  CMX_ASSIGN_OR_RETURN(double order_arg, arg_number_or_default(args, 2, ctx, 1));
  CMX_ASSIGN_OR_RETURN(bool by_col, arg_bool_or_default(args, 3, ctx, false));
  const uint64_t n = by_col ? source.cols : source.rows;
  if (index >= (by_col ? source.rows : source.cols)) return fail(CellErrorCode::Value);
  CMX_TRY(charge_sort_cost(ctx, n, 1));
  // Rows are keyed by a column (step: one row); columns by a row (step: one).
  const SortKey key = by_col ? SortKey{&source.values, index * source.cols, 1, order_arg < 0}
                             : SortKey{&source.values, index, source.cols, order_arg < 0};
  const std::vector<uint64_t> order = sorted_positions(n, std::span(&key, 1));
  return pick_rows_cols(ctx, source, order, by_col ? PickAxis::Cols : PickAxis::Rows);
}

ArrayOutcome sortby(Args args, EvalContext& ctx) {
  if (args.size() < 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  const size_t key_count = (args.size() - 2) / 2 + 1;
  std::vector<ArrayValue> by_arrays;
  by_arrays.reserve(key_count);
  std::vector<SortKey> keys;
  keys.reserve(key_count);
  for (size_t j = 0; j < key_count; ++j) {
    CMX_ASSIGN_OR_RETURN(ArrayValue by, arg_as_array(args, 1 + 2 * j, ctx));
    if (by.rows != source.rows || by.cols != 1) return fail(CellErrorCode::Value);
    CMX_ASSIGN_OR_RETURN(double order_arg, arg_number_or_default(args, 2 + 2 * j, ctx, 1));
    by_arrays.push_back(std::move(by));
    keys.push_back(SortKey{nullptr, 0, 1, order_arg < 0});
  }
  // Pointers only once the vector no longer moves.
  for (size_t j = 0; j < key_count; ++j) keys[j].values = &by_arrays[j].values;
  CMX_TRY(charge_sort_cost(ctx, source.rows, key_count));
  const std::vector<uint64_t> order = sorted_positions(source.rows, keys);
  return pick_rows_cols(ctx, source, order, PickAxis::Rows);
}

ArrayOutcome unique(Args args, EvalContext& ctx) {
  if (arity_outside(args, 1, 3)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(bool by_col, arg_bool_or_default(args, 1, ctx, false));
  CMX_ASSIGN_OR_RETURN(bool exactly_once, arg_bool_or_default(args, 2, ctx, false));
  const uint64_t items = by_col ? source.cols : source.rows;
  const uint64_t length = by_col ? source.rows : source.cols;
  const uint64_t item_step = by_col ? 1 : source.cols;
  const uint64_t value_step = by_col ? source.cols : 1;
  // Key -> index into `firsts`; iteration order of the map is never used.
  absl::flat_hash_map<std::string, uint64_t> seen;
  std::vector<uint64_t> firsts;
  std::vector<uint64_t> counts;
  std::string key;
  for (uint64_t item = 0; item < items; ++item) {
    key.clear();
    for (uint64_t k = 0; k < length; ++k) {
      append_distinct_key_part(key, source.values[item * item_step + k * value_step]);
    }
    auto [it, inserted] = seen.try_emplace(key, firsts.size());
    if (inserted) {
      firsts.push_back(item);
      counts.push_back(1);
    } else {
      ++counts[it->second];
    }
  }
  std::vector<uint64_t> kept;
  for (size_t i = 0; i < firsts.size(); ++i) {
    if (!exactly_once || counts[i] == 1) kept.push_back(firsts[i]);
  }
  if (kept.empty()) return fail(CellErrorCode::NA);
  return pick_rows_cols(ctx, source, kept, by_col ? PickAxis::Cols : PickAxis::Rows);
}

}  // namespace

std::vector<uint64_t> indices_ascending(uint64_t n) {
  std::vector<uint64_t> out(n);
  std::iota(out.begin(), out.end(), uint64_t{0});
  return out;
}

std::vector<uint64_t> indices_descending(uint64_t n) {
  std::vector<uint64_t> out(n);
  for (uint64_t i = 0; i < n; ++i) out[i] = n - 1 - i;
  return out;
}

void insertion_sort_numbers(std::span<double> values) {
  // The total order as a signed integer order: negative values have every
  // bit but the sign flipped, so -0 lands just below +0.
  auto total = [](double x) {
    const auto bits = std::bit_cast<int64_t>(x);
    return bits < 0 ? bits ^ std::numeric_limits<int64_t>::max() : bits;
  };
  std::ranges::stable_sort(values, [&](double a, double b) { return total(a) < total(b); });
}

int compare_sort_keys(const CellValue& a, const CellValue& b, bool descending) {
  if (a.is_empty()) return b.is_empty() ? 0 : 1;
  if (b.is_empty()) return -1;
  int c;
  if (a.is_number() && b.is_number()) {
    c = a.as_number() < b.as_number() ? -1 : (b.as_number() < a.as_number() ? 1 : 0);
  } else {
    c = compare_values(a, b);
  }
  return descending ? -c : c;
}

void append_distinct_key_part(std::string& key, const CellValue& value) {
  switch (value.kind()) {
    case CellValue::Kind::Empty:
      key += "n:0";
      break;
    case CellValue::Kind::Number:
      key += "n:";
      key += number_to_text(value.as_number() + 0.0);
      break;
    case CellValue::Kind::Text: {
      const std::string lower = unicode::to_lower(value.as_text());
      key += "t:";
      key += std::to_string(lower.size());
      key += ':';
      key += lower;
      break;
    }
    case CellValue::Kind::Bool:
      key += value.as_bool() ? "b:1" : "b:0";
      break;
    case CellValue::Kind::Error:
      key += "e:";
      key += model::error_code_text(value.as_error());
      break;
  }
  key += '\x1f';
}

void array_fn_filter(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(filter(args, ctx));
}
void array_fn_sort(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(sort(args, ctx));
}
void array_fn_sortby(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(sortby(args, ctx));
}
void array_fn_unique(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(unique(args, ctx));
}

}  // namespace cmx::formula
