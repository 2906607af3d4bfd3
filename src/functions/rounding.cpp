// Rounding and integer functions: ROUND and its directed forms scale by a
// power of ten, round and scale back in plain double arithmetic, so the
// scaled value alone decides (ROUND(2.675, 2) is 2.68, ROUND(1.005, 2) is 1).
#include <cmath>
#include <cstdint>

#include "base/saturate.h"
#include "functions/handlers.h"
#include "functions/numeric_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// The largest double below 0.5: adding it instead of 0.5 keeps
// 0.49999999999999994 itself from rounding up.
constexpr double kJustBelowHalf = 0.49999999999999994;

double half_away(double q) { return std::trunc(q + std::copysign(kJustBelowHalf, q)); }

// 10^n by repeated squaring over the bits of |n|, reciprocal for negative n.
// Not the library pow: its last bit is part of the results.
double power_of_ten(int32_t n) {
  uint64_t exponent = n < 0 ? -static_cast<int64_t>(n) : n;
  double base = 10.0;
  double result = (exponent & 1) ? base : 1.0;
  while (exponent > 1) {
    exponent >>= 1;
    base *= base;
    if (exponent & 1) result *= base;
  }
  return n < 0 ? 1.0 / result : result;
}

// A digits count: truncated, saturated to 64 bits, then its low 32 bits.
int32_t digits_count(double digits) {
  auto wide = static_cast<uint64_t>(saturate_cast<int64_t>(digits));
  return static_cast<int32_t>(static_cast<uint32_t>(wide));
}

enum class Direction { HalfAway, Up, Down };

double round_scaled(double y, Direction direction) {
  switch (direction) {
    case Direction::HalfAway:
      return half_away(y);
    case Direction::Up:
      return y < 0 ? std::floor(y) : std::ceil(y);
    case Direction::Down:
      return std::trunc(y);
  }
  return y;
}

// ROUND and its directed forms. The digits are not evaluated when the number
// fails; a scale that overflows or underflows ends in a non-finite "#NUM!".
void round_to_digits(CellValue& out, Args args, EvalContext& ctx, Direction direction,
                     size_t min_args) {
  if (args.size() < min_args || args.size() > 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto x = arg_number(args, 0, ctx);
  if (!x.has_value()) {
    out = CellValue::error(x.error());
    return;
  }
  double scale = 1.0;
  if (args.size() == 2) {
    auto digits = arg_number(args, 1, ctx);
    if (!digits.has_value()) {
      out = CellValue::error(digits.error());
      return;
    }
    scale = power_of_ten(digits_count(*digits));
  }
  out = number_result(round_scaled(*x * scale, direction) / scale);
}

// CEILING and FLOOR: a zero significance gives 0; a negative one with a
// positive number has no answer.
template <typename Round>
CellValue to_significance(double number, double significance, Round round) {
  if (significance == 0) return CellValue::number(0);
  if (significance < 0 && number > 0) return CellValue::error(CellErrorCode::Num);
  return number_result(round(number / significance) * significance);
}

}  // namespace

void fn_round(CellValue& out, Args args, EvalContext& ctx) {
  round_to_digits(out, args, ctx, Direction::HalfAway, 2);
}

void fn_roundup(CellValue& out, Args args, EvalContext& ctx) {
  round_to_digits(out, args, ctx, Direction::Up, 1);
}

void fn_rounddown(CellValue& out, Args args, EvalContext& ctx) {
  round_to_digits(out, args, ctx, Direction::Down, 1);
}

void fn_mround(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double number, double multiple) {
    if (multiple == 0) return CellValue::number(0);
    if (number != 0 && (number < 0) != (multiple < 0)) return CellValue::error(CellErrorCode::Num);
    return number_result(half_away(number / multiple) * multiple);
  });
}

void fn_int(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::floor(x); });
}

void fn_ceiling(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double number, double significance) {
    return to_significance(number, significance, [](double q) { return std::ceil(q); });
  });
}

void fn_floor(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double number, double significance) {
    return to_significance(number, significance, [](double q) { return std::floor(q); });
  });
}

void fn_mod(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double number, double divisor) {
    if (divisor == 0) return CellValue::error(CellErrorCode::Div0);
    return number_result(number - std::floor(number / divisor) * divisor);
  });
}

void fn_quotient(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double numerator, double denominator) {
    if (denominator == 0) return CellValue::error(CellErrorCode::Div0);
    return number_result(std::trunc(numerator / denominator));
  });
}

void fn_sign(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0; });
}

void fn_abs(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::fabs(x); });
}

}  // namespace cmx::formula
