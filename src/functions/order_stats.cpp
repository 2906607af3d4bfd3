// Statistics of the sorted order and of frequencies: MEDIAN, MODE.SNGL,
// LARGE, SMALL, RANK.EQ, PERCENTILE.INC, QUARTILE.INC and TRIMMEAN.
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "base/saturate.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

// The data argument's numbers and the number argument after it; their
// errors in that order.
struct DataAndK {
  std::vector<double> numbers;
  double k = 0;
};
Result<DataAndK, CellErrorCode> data_and_k(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  DataAndK out;
  CMX_ASSIGN_OR_RETURN(out.numbers, collect_numbers(args.first(1), ctx));
  CMX_ASSIGN_OR_RETURN(out.k, arg_number(args, 1, ctx));
  return out;
}

void kth(CellValue& out, Args args, EvalContext& ctx, bool largest) {
  auto data = data_and_k(args, ctx);
  if (!data.has_value()) {
    out = CellValue::error(data.error());
    return;
  }
  const int64_t k = saturate_cast<int64_t>(data->k);
  const auto n = static_cast<int64_t>(data->numbers.size());
  if (k <= 0 || k > n) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  SortedPicker picker(data->numbers);
  out = finite_number(picker.at(static_cast<size_t>(largest ? n - k : k - 1)));
}

void percentile_at(CellValue& out, DataAndK& data, double k) {
  if (data.numbers.empty() || !(k >= 0 && k <= 1)) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  SortedPicker picker(data.numbers);
  out = finite_number(interpolate_picked(picker, k));
}

std::optional<double> mode_of(std::span<const double> numbers) {
  struct Seen {
    size_t first;
    double value;
    size_t count;
  };
  std::unordered_map<uint64_t, Seen> seen;
  for (size_t i = 0; i < numbers.size(); ++i) {
    double x = numbers[i] == 0 ? 0.0 : numbers[i];  // -0 counts as 0
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    auto [it, inserted] = seen.try_emplace(bits, Seen{i, numbers[i], 0});
    ++it->second.count;
  }
  const Seen* best = nullptr;
  for (const auto& [bits, s] : seen) {
    if (s.count < 2) continue;
    if (best == nullptr || s.count > best->count ||
        (s.count == best->count && s.first < best->first)) {
      best = &s;
    }
  }
  if (best == nullptr) return std::nullopt;
  return best->value;
}

}  // namespace

void fn_median(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
  } else if (numbers->empty()) {
    out = CellValue::error(CellErrorCode::Num);
  } else {
    SortedPicker picker(*numbers);
    out = finite_number(median_picked(picker));
  }
}

void fn_mode_sngl(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  std::optional<double> mode = mode_of(*numbers);
  out = mode ? finite_number(*mode) : CellValue::error(CellErrorCode::NA);
}

void fn_large(CellValue& out, Args args, EvalContext& ctx) { kth(out, args, ctx, true); }
void fn_small(CellValue& out, Args args, EvalContext& ctx) { kth(out, args, ctx, false); }

void fn_percentile_inc(CellValue& out, Args args, EvalContext& ctx) {
  auto data = data_and_k(args, ctx);
  if (!data.has_value()) {
    out = CellValue::error(data.error());
    return;
  }
  percentile_at(out, *data, data->k);
}

void fn_quartile_inc(CellValue& out, Args args, EvalContext& ctx) {
  auto data = data_and_k(args, ctx);
  if (!data.has_value()) {
    out = CellValue::error(data.error());
    return;
  }
  const int64_t q = saturate_cast<int64_t>(data->k);
  if (q < 0 || q > 4) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  percentile_at(out, *data, static_cast<double>(q) * 0.25);
}

void fn_rank_eq(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2 && args.size() != 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto number = arg_number(args, 0, ctx);
  if (!number.has_value()) {
    out = CellValue::error(number.error());
    return;
  }
  std::optional<SheetRange> range = eval_reference(*args[1], ctx);
  if (!range) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  bool ascending = false;
  if (args.size() == 3) {
    auto order = arg_number(args, 2, ctx);
    if (!order.has_value()) {
      out = CellValue::error(order.error());
      return;
    }
    ascending = *order != 0;
  }
  auto cells = read_range_values(clip_to_used(*range, ctx), ctx);
  if (!cells.has_value()) {
    out = CellValue::error(cells.error());
    return;
  }
  bool found = false;
  double ahead = 0;
  for (const CellValue* cell : *cells) {
    if (!cell->is_number()) continue;
    const double x = cell->as_number();
    found = found || x == *number;
    if (ascending ? x < *number : x > *number) ++ahead;
  }
  out = found ? CellValue::number(ahead + 1) : CellValue::error(CellErrorCode::NA);
}

void fn_trimmean(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto percent = arg_number(args, 1, ctx);
  if (!percent.has_value()) {
    out = CellValue::error(percent.error());
    return;
  }
  if (!(*percent >= 0 && *percent < 1)) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  auto numbers = collect_arg_numbers(args.first(1), ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  if (numbers->empty()) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  // The kept middle is summed in sorted order, so the whole list is sorted.
  sort_numbers(*numbers);
  const size_t n = numbers->size();
  const auto trim = static_cast<size_t>(std::floor((*percent * static_cast<double>(n)) * 0.5));
  const std::span<const double> kept(numbers->data() + trim, n - 2 * trim);
  out = finite_number(sum_in_order(kept) / static_cast<double>(kept.size()));
}

}  // namespace cmx::formula
