// Defined names: scope, self-reference, nesting depth, remembered values;
// and scope bindings.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"
#include "formula/names.h"

namespace cmx::formula {
namespace {

using namespace testing;

TEST(DefinedNames, LocalBeforeGlobalAndEvaluationSheet) {
  Workbook wb(3);
  wb.set(0, "A1", num(1));
  wb.set(1, "A1", num(2));
  wb.set(2, "A1", num(3));
  wb.define("Rate", "A1");
  wb.define("Rate", "=A1*100", /*local=*/1);
  wb.define("MyName", "A1", /*local=*/1);
  struct Case {
    std::string_view formula;
    uint32_t sheet;
    CellValue want;
  };
  const Case cases[] = {
      {"Rate", 0, num(1)},                // global, on the formula's sheet
      {"rate", 1, num(200)},              // local to Sheet2 wins there
      {"Sheet3!Rate", 0, num(3)},         // global, looked up and read on Sheet3
      {"Sheet2!Rate", 0, num(200)},       // the local one of Sheet2
      {"Sheet2!MyName", 0, num(2)},       // A1 read on Sheet2
      {"MyName", 0, err(CellErrorCode::Name)},
      {"Sheet9!Rate", 0, err(CellErrorCode::Ref)},
      {"Missing", 0, err(CellErrorCode::Name)},
      {"SUM(Rate)", 2, num(3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EXPECT_TRUE(same_value(wb.eval(c.formula, c.sheet), c.want));
  }
}

TEST(DefinedNames, SelfReferenceIsNameError) {
  Workbook wb;
  wb.define("Total", "Total+1");
  wb.define("A", "B");
  wb.define("B", "A");
  wb.define("Broken", "1+");
  EXPECT_TRUE(same_value(wb.eval("Total"), err(CellErrorCode::Name)));
  EXPECT_TRUE(same_value(wb.eval("A"), err(CellErrorCode::Name)));
  EXPECT_TRUE(same_value(wb.eval("B"), err(CellErrorCode::Name)));
  EXPECT_TRUE(same_value(wb.eval("Broken"), err(CellErrorCode::Name)));
  // The stack is empty again afterwards.
  EvalContext ctx = wb.context();
  (void)wb.eval("A+Total", ctx);
  EXPECT_TRUE(ctx.shared->name_stack.empty());
}

TEST(DefinedNames, ChainOf300StopsAt256) {
  Workbook wb;
  auto name = [](int i) {
    std::string n = "chain_";
    n += std::to_string(i);
    return n;
  };
  for (int i = 1; i <= 300; ++i) wb.define(name(i), i == 300 ? "42" : name(i + 1));
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("chain_1", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->name_stack.empty());
  // Every name above the refused one remembers the error; the ones below
  // were never reached.
  auto& values = ctx.shared->name_values;
  EXPECT_EQ(values.size(), 256u);
  EXPECT_TRUE(same_value(values.at(NameKey{0, "chain_1"}).value, err(CellErrorCode::Num)));
  EXPECT_TRUE(same_value(values.at(NameKey{0, "chain_256"}).value, err(CellErrorCode::Num)));
  EXPECT_EQ(values.count(NameKey{0, "chain_257"}), 0u);
  // From lower down the chain there is room enough.
  EXPECT_TRUE(same_value(wb.eval("CHAIN_45"), num(42)));
  EXPECT_TRUE(same_value(wb.eval("Chain_44"), err(CellErrorCode::Num)));
}

TEST(DefinedNames, RememberedWithinOneFormula) {
  Workbook wb;
  wb.define("Odd", "FOO()");
  wb.define("Big", "SUM(A1:A1000)");
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("Odd", ctx), err(CellErrorCode::Name)));
  EXPECT_TRUE(same_value(wb.eval("IF(TRUE,Odd)", ctx), err(CellErrorCode::Name)));
  // Evaluated once, but the unknown call counts at each use.
  EXPECT_EQ(ctx.shared->unknown_calls, 2u);
  EvalContext sums = wb.context();
  EXPECT_TRUE(same_value(wb.eval("Big+Big+Big", sums), num(-0.0)));
  // One resolution cell and one range read: the later uses are remembered.
  EXPECT_EQ(sums.shared->cells_left, kFormulaCellBudget - 1 - 1000);
  // Names parse once through the cache.
  EXPECT_EQ(wb.cache.size(), 2u);
}

TEST(DefinedNames, ResolutionChargesACell) {
  Workbook wb;
  wb.define("One", "1");
  EvalContext ctx = wb.context();
  ctx.shared->cells_left = 0;
  EXPECT_TRUE(same_value(wb.eval("One", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
}

TEST(DefinedNames, AsciiCaseOnlyForNames) {
  Workbook wb;
  wb.define("\xC3\x84rger", "1");  // Ärger
  EXPECT_TRUE(same_value(wb.eval("\xC3\x84RGER"), num(1)));
  EXPECT_TRUE(same_value(wb.eval("\xC3\xA4rger"), err(CellErrorCode::Name)));  // ärger
}

TEST(ScopeBindings, InnermostFirstAndQualifiedNamesSkipThem) {
  Workbook wb;
  wb.define("x", "99");
  EvalContext ctx = wb.context();
  auto scalar = [](double v) {
    return std::make_shared<const EvalResult>(EvalResult::scalar(num(v)));
  };
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ScopeBinding{"x", scalar(1), nullptr}));
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ScopeBinding{"X", scalar(2), nullptr}));
  EXPECT_TRUE(same_value(wb.eval("x", ctx), num(2)));
  EXPECT_TRUE(same_value(wb.eval("Sheet1!x", ctx), num(99)));
  // A binding without a reference is no range; one with a reference is.
  EXPECT_TRUE(same_value(wb.eval("SUM(x)", ctx), num(2)));
  ScopeBinding ranged{"r", scalar(5), parse_formula("A1:A3").value()};
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ranged));
  auto tree = parse_formula("r").value();
  EXPECT_EQ(eval_reference(*tree, ctx), (SheetRange{0, {0, 0, false, false}, 3, 1}));
  // Arrays give their first element, empty arrays "#N/A", lambdas "#VALUE!".
  auto array = std::make_shared<const EvalResult>(
      EvalResult{ArrayValue{{txt("first"), num(2)}, 1, 2}});
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ScopeBinding{"arr", array, nullptr}));
  auto empty = std::make_shared<const EvalResult>(EvalResult{ArrayValue{}});
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ScopeBinding{"none", empty, nullptr}));
  auto lambda = std::make_shared<const EvalResult>(
      EvalResult{std::shared_ptr<const LambdaClosure>()});
  ASSERT_TRUE(push_binding(ctx.shared->scopes, ScopeBinding{"fn", lambda, nullptr}));
  EXPECT_TRUE(same_value(wb.eval("arr", ctx), txt("first")));
  EXPECT_TRUE(same_value(wb.eval("none", ctx), err(CellErrorCode::NA)));
  EXPECT_TRUE(same_value(wb.eval("fn", ctx), err(CellErrorCode::Value)));
}

TEST(ScopeBindings, AtMost1024Live) {
  std::vector<ScopeBinding> scopes;
  for (size_t i = 0; i < kMaxScopeBindings; ++i) {
    std::string name = "v";
    name += std::to_string(i);
    ASSERT_TRUE(push_binding(scopes, ScopeBinding{name, nullptr, nullptr}));
  }
  EXPECT_FALSE(push_binding(scopes, ScopeBinding{"late", nullptr, nullptr}));
  EXPECT_EQ(scopes.size(), kMaxScopeBindings);
  EXPECT_EQ(find_scope_binding(false, "LATE", scopes), std::nullopt);
  EXPECT_EQ(find_scope_binding(false, "V7", scopes)->name, "v7");
  EXPECT_EQ(find_scope_binding(true, "v7", scopes), std::nullopt);
}

TEST(DefinedNames, RowInsideANameIsTheFormulaCell) {
  // The formula cell stays the current cell on whatever sheet a name runs.
  Workbook wb(2);
  wb.define("Here", "A1", /*local=*/1);
  EvalContext ctx = wb.context(0, "D9");
  EvalContext clone = clone_for_sheet(ctx, 1);
  EXPECT_EQ(clone.current_cell, ctx.current_cell);
  wb.set(1, "A1", num(4));
  EXPECT_TRUE(same_value(wb.eval("Sheet2!Here", ctx), num(4)));
}

}  // namespace
}  // namespace cmx::formula

namespace cmx::formula {
namespace {

using namespace testing;

TEST(DefinedNames, DeepFormulasInADeepChain) {
  // Every name nests as deep as the parser allows and the chain as deep as
  // the name limit allows: far past the evaluator's depth limit, which
  // refuses with "#NUM!" instead of running off the thread's stack.
  Workbook wb;
  auto name = [](int i) {
    std::string n = "deep_";
    n += std::to_string(i);
    return n;
  };
  std::string open, close;
  int depth = 0;
  while (parse_formula(open + "-(1" + close + ")").has_value() && depth < 200) {
    open += "-(";
    close += ")";
    ++depth;
  }
  ASSERT_GT(depth, 10);
  open.resize(open.size() - 2);
  close.resize(close.size() - 1);
  for (int i = 1; i <= 256; ++i) {
    std::string body = i == 256 ? std::string("1") : name(i + 1);
    wb.define(name(i), open + body + close);
    ASSERT_TRUE(parse_formula(open + body + close).has_value()) << i;
  }
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval(name(1), ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->eval_depth, 0u);
  EXPECT_TRUE(ctx.shared->name_stack.empty());
  // The same names from lower down the chain stay within the limit.
  EvalContext near_end = wb.context();
  CellValue v = wb.eval(name(256 - kMaxEvalDepth / (depth + 2)), near_end);
  ASSERT_TRUE(v.is_number()) << show(v);
  EXPECT_EQ(std::fabs(v.as_number()), 1.0);
  EXPECT_FALSE(near_end.shared->limited);
}

}  // namespace
}  // namespace cmx::formula
