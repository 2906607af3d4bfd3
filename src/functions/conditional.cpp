// The conditional aggregates: COUNTIF, COUNTIFS, AVERAGEIF, AVERAGEIFS,
// MAXIFS and MINIFS, over criteria sets.
#include <algorithm>

#include "functions/criteria.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

const CellValue kEmpty;

CellValue mean_of_matched(Result<std::vector<double>, CellErrorCode> numbers) {
  if (!numbers.has_value()) return CellValue::error(numbers.error());
  if (numbers->empty()) return CellValue::error(CellErrorCode::Div0);
  return finite_number(sum_in_order(*numbers) / static_cast<double>(numbers->size()));
}

// AVERAGEIFS, MAXIFS and MINIFS: a value range, then criteria pairs.
Result<std::vector<double>, CellErrorCode> matched_values(Args args, EvalContext& ctx) {
  if (args.size() < 3) return unexpected(CellErrorCode::Value);
  std::optional<CriteriaSet> set = build_criteria_set(args.subspan(1), args[0].get(), ctx);
  if (!set) return unexpected(CellErrorCode::Value);
  return collect_matched_numbers(set->pairs, *set->value_range, ctx);
}

void extreme_ifs(CellValue& out, Args args, EvalContext& ctx, bool largest) {
  auto numbers = matched_values(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
  } else if (numbers->empty()) {
    out = CellValue::number(0);
  } else {
    out = finite_number(largest ? *std::max_element(numbers->begin(), numbers->end())
                                : *std::min_element(numbers->begin(), numbers->end()));
  }
}

}  // namespace

void fn_countifs(CellValue& out, Args args, EvalContext& ctx) {
  std::optional<CriteriaSet> set = build_criteria_set(args, nullptr, ctx);
  if (!set) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  uint64_t count = 0;
  auto done = for_each_match(set->pairs, ctx,
                             [&](uint64_t, uint64_t, uint64_t) -> Result<void, CellErrorCode> {
                               ++count;
                               return {};
                             });
  if (!done.has_value()) {
    out = CellValue::error(done.error());
    return;
  }
  // The clipped-away cells are empty: they count when every criterion
  // accepts an empty cell.
  bool empty_matches = std::all_of(set->pairs.begin(), set->pairs.end(), [](const CriteriaPair& p) {
    return criterion_matches(p.criterion, kEmpty);
  });
  if (empty_matches) count += set->clipped_cells;
  out = CellValue::number(static_cast<double>(count));
}

void fn_countif(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  fn_countifs(out, args, ctx);
}

void fn_averageif(CellValue& out, Args args, EvalContext& ctx) {
  auto set = build_single_criterion_set(args, /*pass_range_error=*/false, ctx);
  if (!set.has_value()) {
    out = CellValue::error(set.error());
    return;
  }
  out = mean_of_matched(collect_matched_numbers(set->pairs, *set->value_range, ctx));
}

void fn_averageifs(CellValue& out, Args args, EvalContext& ctx) {
  out = mean_of_matched(matched_values(args, ctx));
}

void fn_maxifs(CellValue& out, Args args, EvalContext& ctx) {
  extreme_ifs(out, args, ctx, /*largest=*/true);
}
void fn_minifs(CellValue& out, Args args, EvalContext& ctx) {
  extreme_ifs(out, args, ctx, /*largest=*/false);
}

}  // namespace cmx::formula
