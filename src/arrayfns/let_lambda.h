// Function values: the closure LAMBDA makes, the arguments a call hands it,
// and invoke_lambda, through which MAP, REDUCE and the others run one.
// Read lambda_driven.cpp for the callers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formula/eval_context.h"
#include "formula/eval_result.h"
#include "formula/expr.h"

namespace cmx::formula {

// Captures no values: names in the body resolve against the bindings live
// when it runs.
struct LambdaClosure {
  std::vector<std::string> params;  // as written
  ExprPtr body;                     // trees are immutable, so sharing is a copy
  uint64_t cost = 0;                // cells charged per invocation
};

// One argument of an invocation: its value and, when it stands for cells,
// a reference the body can use where a range is needed.
struct LambdaArgument {
  EvalResult value;
  ExprPtr reference;
};

ScopeBinding make_scope_binding(std::string_view name, EvalResult value, ExprPtr reference);

// The body's result with the parameters bound to the arguments: "#VALUE!"
// for a count that differs from the parameters', "#NUM!" when the cost is
// refused (marked limited), kMaxLambdaDepth invocations deep or with the
// scope stack full (neither marked).
EvalResult invoke_lambda(const LambdaClosure& closure, std::vector<LambdaArgument> args,
                         EvalContext& ctx);

// Truncates the scope stack back to its length at construction, on every path.
class ScopeMark {
 public:
  explicit ScopeMark(EvalContext& ctx) : shared_(*ctx.shared), size_(shared_.scopes.size()) {}
  ~ScopeMark() {
    if (shared_.scopes.size() > size_) shared_.scopes.resize(size_);
  }
  ScopeMark(const ScopeMark&) = delete;
  ScopeMark& operator=(const ScopeMark&) = delete;

 private:
  EvalShared& shared_;
  size_t size_;
};

}  // namespace cmx::formula
