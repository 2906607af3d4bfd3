// Criteria: the condition argument of the conditional built-ins, how a cell
// value is tested against it, and the (range, criterion) sets that yield the
// positions where every pair holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

enum class CriterionOp : uint8_t { Eq, Ne, Gt, Ge, Lt, Le };

struct Criterion {
  std::optional<double> number;  // the operand read as a number
  // The serial day of an operand that reads as a date and not as a number:
  // Number cells compare with it, every other value with the text.
  std::optional<double> date;
  std::string text;              // the operand, lower-cased
  std::u32string pattern;        // `text` as scalars, filled when has_wildcards
  bool has_wildcards = false;
  CriterionOp op = CriterionOp::Eq;
};

struct CriteriaPair {
  SheetRange range;
  Criterion criterion;
};

struct CriteriaSet {
  std::vector<CriteriaPair> pairs;  // every range of one shape
  std::optional<SheetRange> value_range;
  // Cells the clipping cut from the first criteria range; all of them empty.
  uint64_t clipped_cells = 0;
};

// The argument evaluated once as a scalar and turned into a criterion. An
// error value acts as the empty text, which matches Empty cells only.
Criterion parse_criterion(const Expr& arg, EvalContext& ctx);
// A date text operand without a year takes the year of `now_serial`.
Criterion criterion_from_value(const model::CellValue& value, std::optional<double> now_serial);

bool criterion_matches(const Criterion& c, const model::CellValue& value);
bool criterion_equals(const Criterion& c, const model::CellValue& value);

// "*" any run, "?" one scalar, "~x" the scalar x itself; exact comparison of
// scalars (callers lower-case both sides).
bool wildcard_match(std::u32string_view pattern, std::u32string_view text);
bool wildcard_match(std::string_view pattern, std::string_view text);

// `args` alternate criteria range and criterion. The ranges (and the value
// range) are evaluated and clipped together, then the criteria parsed.
// Absent when the count is odd or zero, a range is no reference, or the
// shapes differ; every caller answers "#VALUE!".
std::optional<CriteriaSet> build_criteria_set(Args args, const Expr* value_arg,
                                              EvalContext& ctx);

// SUMIF and AVERAGEIF: range, criterion, [value range]. The value range
// (the range itself when absent) keeps only its first cell and takes the
// range's shape; both are clipped together. A range that is no reference
// gives "#VALUE!", or its own error when `pass_range_error`.
Result<CriteriaSet, model::CellErrorCode> build_single_criterion_set(Args args,
                                                                     bool pass_range_error,
                                                                     EvalContext& ctx);

// Calls `visit(position)` for each row-major position of the first range at
// which every pair holds, in ascending order. A pair that fails ends its
// position before later ranges are read. "#NUM!" when the cell budget runs out.
template <typename Visit>
Result<void, model::CellErrorCode> for_each_match(const std::vector<CriteriaPair>& pairs,
                                                  EvalContext& ctx, Visit&& visit);

Result<std::vector<uint64_t>, model::CellErrorCode> matching_positions(
    const std::vector<CriteriaPair>& pairs, EvalContext& ctx);

// The Number cells of `value_range` at the matched positions, in order.
Result<std::vector<double>, model::CellErrorCode> collect_matched_numbers(
    const std::vector<CriteriaPair>& pairs, const SheetRange& value_range, EvalContext& ctx);

template <typename Visit>
Result<void, model::CellErrorCode> for_each_match(const std::vector<CriteriaPair>& pairs,
                                                  EvalContext& ctx, Visit&& visit) {
  if (pairs.empty()) return {};
  const uint64_t height = pairs.front().range.height;
  const uint64_t width = pairs.front().range.width;
  for (uint64_t row = 0; row < height; ++row) {
    for (uint64_t col = 0; col < width; ++col) {
      bool all = true;
      for (const CriteriaPair& pair : pairs) {
        CMX_ASSIGN_OR_RETURN(const model::CellValue* v, peek_range_cell(pair.range, row, col, ctx));
        if (!criterion_matches(pair.criterion, *v)) {
          all = false;
          break;
        }
      }
      if (all) CMX_TRY(visit(row * width + col, row, col));
    }
  }
  return {};
}

}  // namespace cmx::formula
