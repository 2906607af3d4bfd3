// Scalar evaluation: arithmetic over references, SUM over a filled range,
// defined names, and the text readers every coercion runs through.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "formula/value_coercion.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    for (uint32_t row = 0; row < 10'000; ++row) {
      model::set_sheet_cell(model.sheets[0], row, 0,
                            model::SheetCell{model::CellValue::number(row * 0.5), {}, {}});
      model::set_sheet_cell(model.sheets[0], row, 1,
                            model::SheetCell{model::CellValue::text("t"), {}, {}});
    }
    model.defined_names.push_back(model::DefinedName{"Rate", "=0.07", {}});
  }
};

void run_formula(benchmark::State& state, const char* text, int64_t cells_per_eval) {
  static Book book;
  ExprPtr tree = parse_formula(text).value();
  for (auto _ : state) {
    EvalContext ctx = new_context(book.source, 0, model::CellRef{0, 5, false, false}, 45000.0,
                                  nullptr, nullptr, model::DateSystem::V1900);
    benchmark::DoNotOptimize(eval_scalar(*tree, ctx));
  }
  state.SetItemsProcessed(state.iterations() * cells_per_eval);
}

void BM_Arithmetic(benchmark::State& state) {
  run_formula(state, "(A1+A2*3-A3/2)^2+IF(A4>1,A5,A6)", 6);
}
BENCHMARK(BM_Arithmetic);

void BM_SumRange(benchmark::State& state) { run_formula(state, "SUM(A1:B10000)", 20'000); }
BENCHMARK(BM_SumRange);

void BM_SumWholeColumn(benchmark::State& state) { run_formula(state, "SUM(A:A)", 10'000); }
BENCHMARK(BM_SumWholeColumn);

void BM_DefinedName(benchmark::State& state) { run_formula(state, "A1*(1+Rate)", 1); }
BENCHMARK(BM_DefinedName);

void BM_ParseNumberText(benchmark::State& state) {
  const std::vector<std::string> texts = {"12.5", " 1e3 ", "10%", "1 1/2", "12:30 PM", "abc",
                                          "-0.000123", "123456789"};
  for (auto _ : state) {
    for (const auto& t : texts) benchmark::DoNotOptimize(parse_number_text(t));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size()));
}
BENCHMARK(BM_ParseNumberText);

void BM_ParseDateText(benchmark::State& state) {
  const std::vector<std::string> texts = {"2024-01-15", "1/15/2024", "15-Jan-2024",
                                          "January 15, 2024", "Jan 2024", "not a date"};
  for (auto _ : state) {
    for (const auto& t : texts) benchmark::DoNotOptimize(parse_date_text(t, 45000.0));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size()));
}
BENCHMARK(BM_ParseDateText);

void BM_CompareTextCi(benchmark::State& state) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"apple", "APPLE"}, {"Region North", "region south"}, {"\xC3\x84pfel", "\xC3\xA4pfel"},
      {"item_10", "item_9"}};
  for (auto _ : state) {
    for (const auto& [a, b] : pairs) benchmark::DoNotOptimize(compare_text_ci(a, b));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
}
BENCHMARK(BM_CompareTextCi);

// ---- Rounding, elementary, unit conversion, logical and information
// bench/function_peer.py evaluates kMathLogicFormula on the same four cell
// values (A1:A4 hold 0, 0.5, 1 and 1.5) with the formulas package.
constexpr const char* kMathLogicFormula =
    "ROUND(A1*1.005,2)+MOD(A2,3)+SQRT(A3)+LOG(A4+1,2)+IF(AND(A1>1,NOT(ISBLANK(A2))),1,0)";

void BM_MathAndLogic(benchmark::State& state) { run_formula(state, kMathLogicFormula, 4); }
BENCHMARK(BM_MathAndLogic);

void BM_ConvertUnits(benchmark::State& state) {
  run_formula(state, "CONVERT(A2,\"kmi\",\"Nmi\")+CONVERT(A3,\"fah\",\"kel\")", 2);
}
BENCHMARK(BM_ConvertUnits);

void BM_AndOverRange(benchmark::State& state) { run_formula(state, "AND(A1:B10000)", 20'000); }
BENCHMARK(BM_AndOverRange);

}  // namespace
