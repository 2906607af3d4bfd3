// Lifted calls, tree sizes and tree copies.
#include "formula/lifted.h"

#include <algorithm>
#include <array>

#include "formula/array_eval.h"
#include "functions/dispatch.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// Sorted for binary search.
constexpr std::array<std::string_view, 79> kLiftedEverywhere = {
    "ABS",        "ACOS",     "ASIN",       "ATAN",      "ATAN2",   "CEILING",   "CHAR",
    "CLEAN",      "CODE",     "COS",        "COSH",      "DATE",    "DATEDIF",   "DAY",
    "DEGREES",    "EDATE",    "EOMONTH",    "EXACT",     "EXP",     "FIND",      "FLOOR",
    "HOUR",       "IFS",      "INT",        "ISBLANK",   "ISERR",   "ISERROR",   "ISEVEN",
    "ISLOGICAL",  "ISNA",     "ISNUMBER",   "ISODD",     "ISOWEEKNUM", "ISTEXT", "LEFT",
    "LEN",        "LN",       "LOG",        "LOG10",     "LOWER",   "MID",       "MINUTE",
    "MOD",        "MONTH",    "MROUND",     "N",         "NOT",     "NUMBERVALUE", "POWER",
    "PROPER",     "QUOTIENT", "RADIANS",    "REPLACE",   "REPT",    "RIGHT",     "ROUND",
    "ROUNDDOWN",  "ROUNDUP",  "SEARCH",     "SECOND",    "SIGN",    "SIN",       "SINH",
    "SQRT",       "SUBSTITUTE", "T",        "TAN",       "TANH",    "TEXT",      "TEXTAFTER",
    "TEXTBEFORE", "TIME",     "TRIM",       "TRUNC",     "UPPER",   "VALUE",     "WEEKDAY",
    "WEEKNUM",    "YEAR",
};
static_assert(std::ranges::is_sorted(kLiftedEverywhere));

constexpr std::array<uint32_t, 1> kFirst = {0};
constexpr std::array<uint32_t, 1> kSecond = {1};
constexpr std::array<uint32_t, 5> kCriteriaAfterRange = {2, 4, 6, 8, 10};
constexpr std::array<uint32_t, 5> kCountCriteria = {1, 3, 5, 7, 9};

struct LiftedPositions {
  std::string_view name;
  std::span<const uint32_t> positions;
};

constexpr std::array<LiftedPositions, 18> kLiftedAt = {{
    {"AVERAGEIF", kSecond},
    {"AVERAGEIFS", kCriteriaAfterRange},
    {"COUNTIF", kSecond},
    {"COUNTIFS", kCountCriteria},
    {"HLOOKUP", kFirst},
    {"LARGE", kSecond},
    {"MAXIFS", kCriteriaAfterRange},
    {"MINIFS", kCriteriaAfterRange},
    {"PERCENTILE", kSecond},
    {"PERCENTILE.INC", kSecond},
    {"QUARTILE", kSecond},
    {"QUARTILE.INC", kSecond},
    {"RANK", kFirst},
    {"RANK.EQ", kFirst},
    {"SMALL", kSecond},
    {"SUMIF", kSecond},
    {"SUMIFS", kCriteriaAfterRange},
    {"VLOOKUP", kFirst},
}};

constexpr bool lifted_at_sorted() {
  for (size_t i = 1; i < kLiftedAt.size(); ++i) {
    if (!(kLiftedAt[i - 1].name < kLiftedAt[i].name)) return false;
  }
  return true;
}
static_assert(lifted_at_sorted());

template <typename... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

ExprPtr clone_ptr(const ExprPtr& expr) { return expr ? clone_expr(*expr) : nullptr; }

}  // namespace

bool lifted_over_every_argument(std::string_view upper_name) {
  return std::ranges::binary_search(kLiftedEverywhere, upper_name);
}

std::optional<std::span<const uint32_t>> liftable_args(std::string_view upper_name) {
  for (const LiftedPositions& entry : kLiftedAt) {
    if (entry.name == upper_name) return entry.positions;
  }
  return std::nullopt;
}

void call_lifted(EvalResult& out, BuiltinId id, Args args, EvalContext& ctx,
                 std::optional<std::span<const uint32_t>> positions) {
  auto is_lifted = [&](size_t i) {
    return !positions || std::ranges::find(*positions, i) != positions->end();
  };
  std::vector<std::optional<EvalResult>> lifted(args.size());
  uint64_t rows = 1;
  uint64_t cols = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!is_lifted(i)) continue;
    lifted[i] = eval_array(*args[i], ctx);
    rows = std::max(rows, lifted[i]->rows());
    cols = std::max(cols, lifted[i]->cols());
  }

  if (rows == 1 && cols == 1) {
    if (ctx.shared->limited) {
      mark_limited(ctx);
      out = EvalResult::error(CellErrorCode::Num);
      return;
    }
    uint64_t nodes = 0;
    for (const ExprPtr& arg : args) nodes = saturating_add(nodes, expr_node_count(*arg));
    if (!charge_cells(ctx, nodes)) {
      out = EvalResult::error(CellErrorCode::Num);
      return;
    }
    lifted.clear();
    CellValue value;
    call_builtin(value, id, args, ctx);
    out = EvalResult::scalar(std::move(value));
    return;
  }

  uint64_t cells = 0;
  if (__builtin_mul_overflow(rows, cols, &cells) || cells > kMaxArrayCells) {
    out = EvalResult::error(CellErrorCode::Num);
    return;
  }
  // Every element call re-evaluates the arguments that are not lifted.
  uint64_t size = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    size = saturating_add(size, lifted[i] ? 1 : expr_node_count(*args[i]));
  }
  const uint64_t cost = saturating_mul(size > kFreeLiftedNodes ? size - kFreeLiftedNodes : 0,
                                       cells);
  if (!charge_cells(ctx, cost)) {
    out = EvalResult::error(CellErrorCode::Num);
    return;
  }
  // Trees never change once built, so sharing the arguments that stay is as
  // good as copying them; only the lifted slots are replaced per element.
  std::vector<ExprPtr> working(args.begin(), args.end());
  if (!charge_cells(ctx, cells)) {
    out = EvalResult::error(CellErrorCode::Num);
    return;
  }
  ArrayBuilder builder(ctx, cells);
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      for (size_t i = 0; i < args.size(); ++i) {
        if (lifted[i]) working[i] = make_expr(node::Literal{array_element_at(*lifted[i], r, c)});
      }
      CellValue value;
      call_builtin(value, id, working, ctx);
      auto pushed = push_array_value(builder, std::move(value));
      if (!pushed.has_value()) {
        out = EvalResult::error(pushed.error());
        return;
      }
      if (ctx.shared->limited) {
        mark_limited(ctx);
        out = EvalResult::error(CellErrorCode::Num);
        return;
      }
    }
  }
  out = make_array(rows, cols, std::move(builder));
}

uint64_t expr_node_count(const Expr& expr) {
  return std::visit(
      Overloaded{
          [](const node::Array& a) {
            uint64_t n = 1;
            for (const ExprPtr& e : a.elements) n = saturating_add(n, expr_node_count(*e));
            return n;
          },
          [](const node::Unary& u) { return saturating_add(1, expr_node_count(*u.operand)); },
          [](const node::Percent& p) { return saturating_add(1, expr_node_count(*p.operand)); },
          [](const node::Binary& b) {
            return saturating_add(1, saturating_add(expr_node_count(*b.left),
                                                    expr_node_count(*b.right)));
          },
          [](const node::RangeOp& b) {
            return saturating_add(1, saturating_add(expr_node_count(*b.left),
                                                    expr_node_count(*b.right)));
          },
          [](const node::Call& call) {
            uint64_t n = 1;
            for (const ExprPtr& e : call.args) n = saturating_add(n, expr_node_count(*e));
            return n;
          },
          [](const auto&) { return uint64_t{1}; },
      },
      expr.node);
}

ExprPtr clone_expr(const Expr& expr) {
  return std::visit(
      Overloaded{
          [](const node::Array& a) {
            node::Array copy{{}, a.columns};
            copy.elements.reserve(a.elements.size());
            for (const ExprPtr& e : a.elements) copy.elements.push_back(clone_ptr(e));
            return make_expr(std::move(copy));
          },
          [](const node::Unary& u) { return make_expr(node::Unary{u.plus, clone_ptr(u.operand)}); },
          [](const node::Percent& p) { return make_expr(node::Percent{clone_ptr(p.operand)}); },
          [](const node::Binary& b) {
            return make_expr(node::Binary{b.op, clone_ptr(b.left), clone_ptr(b.right)});
          },
          [](const node::RangeOp& b) {
            return make_expr(node::RangeOp{clone_ptr(b.left), clone_ptr(b.right)});
          },
          [](const node::Call& call) {
            node::Call copy{call.name, call.id, {}};
            copy.args.reserve(call.args.size());
            for (const ExprPtr& e : call.args) copy.args.push_back(clone_ptr(e));
            return make_expr(std::move(copy));
          },
          [](const auto& leaf) { return make_expr(leaf); },
      },
      expr.node);
}

}  // namespace cmx::formula
