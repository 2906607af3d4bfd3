// Lifted calls: in array context a built-in whose parameters are scalars by
// nature runs once per element of its array arguments, and the results form
// an array of their broadcast shape. Also the size measure of trees that
// prices such calls, and deep copies of trees.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "formula/eval_result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// Summed argument sizes up to this many nodes are free per element.
inline constexpr uint64_t kFreeLiftedNodes = 8;

// Whether the built-in (upper-case name without prefixes) is lifted over
// every argument.
bool lifted_over_every_argument(std::string_view upper_name);
// The argument positions (from 0) lifted for the built-in; absent when it
// has no such list.
std::optional<std::span<const uint32_t>> liftable_args(std::string_view upper_name);

// Evaluates the lifted arguments (`positions`, or all when absent) in array
// context, broadcasts them and calls the built-in once per element, with the
// element in place of each lifted argument.
void call_lifted(EvalResult& out, BuiltinId id, Args args, EvalContext& ctx,
                 std::optional<std::span<const uint32_t>> positions);

// 1 per leaf, 1 plus the children for every inner node; saturating.
uint64_t expr_node_count(const Expr& expr);
ExprPtr clone_expr(const Expr& expr);

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}
inline uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

}  // namespace cmx::formula
