// Evaluation contexts: charges and their refusal, limits shared by clones
// and by the formulas of one recalculation, and the random sequence.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"

namespace cmx::formula {
namespace {

using namespace testing;

TEST(EvalContext, NewContextDefaults) {
  Workbook wb;
  wb.now = 45000.5;
  EvalContext ctx = wb.context(0, "$B$3");
  EXPECT_EQ(ctx.shared->cells_left, 1'100'000u);
  EXPECT_EQ(ctx.shared->bytes_left, 67'108'864u);
  EXPECT_FALSE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 0u);
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
  EXPECT_EQ(ctx.now_serial, 45000.5);
  ASSERT_TRUE(ctx.current_cell.has_value());
  EXPECT_EQ(*ctx.current_cell, (model::CellRef{2, 1, false, false}));  // flags dropped
  EXPECT_EQ(EvalBudget{}.cells, 10'000'000u);
  EXPECT_EQ(EvalBudget{}.bytes, 536'870'912u);
}

TEST(EvalContext, RefusedChargeSubtractsNothing) {
  Workbook wb;
  EvalContext ctx = wb.context();
  ctx.shared->cells_left = 10;
  EXPECT_FALSE(charge_cells(ctx, 11));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
  EXPECT_EQ(ctx.shared->cells_left, 10u);
  EXPECT_EQ(wb.budget->cells, kRecalcCellBudget);
  // A later, smaller charge still succeeds; the flag stays.
  EXPECT_TRUE(charge_cells(ctx, 10));
  EXPECT_EQ(ctx.shared->cells_left, 0u);
  EXPECT_EQ(wb.budget->cells, kRecalcCellBudget - 10);
  EXPECT_TRUE(ctx.shared->limited);

  // The shared budget refuses on its own; the formula's own is untouched.
  wb.budget->bytes = 5;
  const uint64_t own = ctx.shared->bytes_left;
  EXPECT_FALSE(charge_bytes(ctx, 6));
  EXPECT_EQ(ctx.shared->bytes_left, own);
  EXPECT_EQ(wb.budget->bytes, 5u);
  EXPECT_EQ(ctx.shared->limit_hits, 2u);
  EXPECT_TRUE(charge_bytes(ctx, 5));
  EXPECT_EQ(wb.budget->bytes, 0u);

  // Counters saturate.
  ctx.shared->limit_hits = UINT64_MAX;
  mark_limited(ctx);
  EXPECT_EQ(ctx.shared->limit_hits, UINT64_MAX);
}

TEST(EvalContext, ClonesShareEverySharedPart) {
  Workbook wb(2);
  EvalContext ctx = wb.context(0, "C7");
  EvalContext clone = clone_for_sheet(ctx, 1);
  EXPECT_EQ(clone.sheet, 1u);
  EXPECT_EQ(clone.current_cell, ctx.current_cell);
  ASSERT_TRUE(charge_cells(clone, 5));
  mark_limited(clone);
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 5);
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
  random_draw(clone);
  EXPECT_EQ(ctx.shared->random_state, clone.shared->random_state);
}

TEST(EvalContext, RangeOverEveryBudgetReadsNothing) {
  Workbook wb;
  wb.set(0, "A1", num(1));
  EvalContext ctx = wb.context();
  SheetRange all{0, {}, kGridRows, kGridCols};
  auto read = read_range_values(all, ctx);
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), CellErrorCode::Num);
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget);
  // A product past 64 bits is exhausted too.
  SheetRange huge{0, {}, UINT64_MAX / 2, 3};
  EXPECT_FALSE(read_range_values(huge, ctx).has_value());
  EXPECT_EQ(ctx.shared->limit_hits, 2u);
}

TEST(EvalContext, ManySingleReadsExhaustTheFormulaBudget) {
  Workbook wb;
  wb.set(0, "A1", num(7));
  EvalContext ctx = wb.context();
  auto tree = parse_formula("A1").value();
  // 1,100,000 reads succeed, the next one is refused.
  for (uint64_t i = 0; i < kFormulaCellBudget; ++i) {
    CellValue v = eval_scalar(*tree, ctx);
    if (!v.is_number()) FAIL() << "read " << i << " gave " << show(v);
  }
  EXPECT_FALSE(ctx.shared->limited);
  EXPECT_TRUE(same_value(eval_scalar(*tree, ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
}

TEST(EvalContext, FormulasShareTheRecalculationBudget) {
  // Each formula reads 6,000,000 cells in total would exceed its own budget,
  // so the shared budget is spent by several formulas of 1,000,000 cells
  // each: the first ten fit, the eleventh is refused without reading.
  Workbook wb;
  wb.set(0, "A1000000", num(2));
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval("SUM(A1:A1000000)", ctx), num(2)));
    EXPECT_FALSE(ctx.shared->limited);
    EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 1'000'000);
  }
  EXPECT_EQ(wb.budget->cells, 0u);
  EvalContext last = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(A1:A1000000)", last), err(CellErrorCode::Num)));
  EXPECT_TRUE(last.shared->limited);
  EXPECT_EQ(last.shared->cells_left, kFormulaCellBudget);
  // A formula without reads is unaffected.
  EvalContext other = wb.context();
  EXPECT_TRUE(same_value(wb.eval("1+1", other), num(2)));
  EXPECT_FALSE(other.shared->limited);
}

TEST(EvalContext, PerFormulaBudgetBeforeTheShared) {
  // One formula may read 1,000,000 cells once but not twice.
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(A1:A1000000)+SUM(B1:B1000000)", ctx),
                         err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 1'000'000);
  EXPECT_EQ(wb.budget->cells, kRecalcCellBudget - 1'000'000);
}

TEST(EvalContext, ConcatChargesThenRefusesLongText) {
  Workbook wb;
  std::string twenty_k(20'000, 'y');
  wb.set(0, "A1", txt(twenty_k));
  EvalContext ctx = wb.context();
  const uint64_t before = ctx.shared->bytes_left;
  EXPECT_TRUE(same_value(wb.eval("A1&A1", ctx), err(CellErrorCode::Value)));
  EXPECT_FALSE(ctx.shared->limited);
  // Two reads copy 20,000 bytes each, then the join charges 40,000.
  EXPECT_EQ(before - ctx.shared->bytes_left, 80'000u);
}

TEST(RandomDraw, SplitMix64Sequence) {
  Workbook wb;
  EvalContext ctx = wb.context();
  ctx.random_seed = 0;
  // SplitMix64 from state 0: the first two outputs, as 53-bit fractions.
  const uint64_t first = 0xE220A8397B1DCDAFULL;
  const uint64_t second = 0x6E789E6AA1B965F4ULL;
  EXPECT_EQ(random_draw(ctx), static_cast<double>(first >> 11) * 0x1.0p-53);
  EXPECT_EQ(random_draw(ctx), static_cast<double>(second >> 11) * 0x1.0p-53);
  EXPECT_EQ(ctx.shared->random_state, 2 * 0x9E3779B97F4A7C15ULL);

  // Without a seed, formulas start from different states and each continues
  // its own sequence.
  EvalContext a = wb.context();
  EvalContext b = wb.context();
  double a1 = random_draw(a);
  double b1 = random_draw(b);
  EXPECT_NE(a1, b1);
  double a2 = random_draw(a);
  EXPECT_NE(a1, a2);
  for (int i = 0; i < 1000; ++i) {
    double d = random_draw(a);
    ASSERT_GE(d, 0.0);
    ASSERT_LT(d, 1.0);
  }
}

}  // namespace
}  // namespace cmx::formula
