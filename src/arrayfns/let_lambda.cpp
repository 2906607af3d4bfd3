// LET, LAMBDA, and running a lambda with arguments.
#include "arrayfns/let_lambda.h"

#include <memory>
#include <utility>

#include "arrayfns/handlers.h"
#include "formula/array_eval.h"
#include "formula/lifted.h"
#include "formula/names.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;

// A plain name as a binding's or parameter's name; null for anything else.
const node::Name* plain_name(const Expr& expr) {
  const auto* name = expr.get<node::Name>();
  if (name == nullptr || name->scope.has_value()) return nullptr;
  return name;
}

bool is_reference_expr(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Ref:
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
    case Expr::Kind::TableRef:
      return true;
    default:
      return false;
  }
}

EvalResult let(Args args, EvalContext& ctx) {
  if (args.size() < 3 || args.size() % 2 == 0) return EvalResult::error(CellErrorCode::Value);
  ScopeMark mark(ctx);
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    const node::Name* name = plain_name(*args[i]);
    if (name == nullptr) return EvalResult::error(CellErrorCode::Name);
    EvalResult value = eval_array(*args[i + 1], ctx);
    ExprPtr reference = is_reference_expr(*args[i + 1]) ? args[i + 1] : nullptr;
    if (!push_binding(ctx.shared->scopes,
                      make_scope_binding(name->name, std::move(value), std::move(reference)))) {
      return EvalResult::error(CellErrorCode::Num);
    }
  }
  return eval_array(*args.back(), ctx);
}

EvalResult lambda(Args args) {
  if (args.empty()) return EvalResult::error(CellErrorCode::Value);
  auto closure = std::make_shared<LambdaClosure>();
  closure->params.reserve(args.size() - 1);
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const node::Name* name = plain_name(*args[i]);
    if (name == nullptr) return EvalResult::error(CellErrorCode::Name);
    closure->params.push_back(name->name);
  }
  closure->body = args.back();
  const uint64_t weight = saturating_add(closure->params.size(), expr_node_count(*closure->body));
  closure->cost = weight > 8 ? weight - 8 : 0;
  return EvalResult{std::shared_ptr<const LambdaClosure>(std::move(closure))};
}

// Counts one invocation in progress for as long as it runs.
class LambdaDepth {
 public:
  explicit LambdaDepth(EvalShared& shared) : shared_(shared) { ++shared_.lambda_depth; }
  ~LambdaDepth() {
    if (shared_.lambda_depth > 0) --shared_.lambda_depth;
  }
  LambdaDepth(const LambdaDepth&) = delete;
  LambdaDepth& operator=(const LambdaDepth&) = delete;

 private:
  EvalShared& shared_;
};

}  // namespace

ScopeBinding make_scope_binding(std::string_view name, EvalResult value, ExprPtr reference) {
  return ScopeBinding{std::string(name), std::make_shared<const EvalResult>(std::move(value)),
                      std::move(reference)};
}

EvalResult invoke_lambda(const LambdaClosure& closure, std::vector<LambdaArgument> args,
                         EvalContext& ctx) {
  if (args.size() != closure.params.size()) return EvalResult::error(CellErrorCode::Value);
  if (!charge_cells(ctx, closure.cost)) return EvalResult::error(CellErrorCode::Num);
  EvalShared& shared = *ctx.shared;
  if (shared.lambda_depth >= kMaxLambdaDepth) return EvalResult::error(CellErrorCode::Num);
  LambdaDepth depth(shared);
  ScopeMark mark(ctx);
  for (size_t i = 0; i < args.size(); ++i) {
    if (!push_binding(shared.scopes, make_scope_binding(closure.params[i],
                                                        std::move(args[i].value),
                                                        std::move(args[i].reference)))) {
      return EvalResult::error(CellErrorCode::Num);
    }
  }
  return eval_array(*closure.body, ctx);
}

void array_fn_let(EvalResult& out, Args args, EvalContext& ctx) { out = let(args, ctx); }
void array_fn_lambda(EvalResult& out, Args args, EvalContext&) { out = lambda(args); }

}  // namespace cmx::formula
