// Built-in functions evaluated one call at a time: text, date, working-day
// and financial formulas over a few input cells. bench/functions_peer.py
// runs the same formulas through the formulas package and prints ratios.
#include <benchmark/benchmark.h>

#include <string>

#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

// Keep in step with INPUTS in functions_peer.py.
struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  void set(uint32_t row, model::CellValue v) {
    model::set_sheet_cell(model.sheets[0], row, 0, model::SheetCell{std::move(v), {}, {}});
  }
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    set(0, model::CellValue::text("  h\xC3\xA9llo   w\xC3\xB6rld \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 "));
    set(1, model::CellValue::number(1234.5));
    set(2, model::CellValue::number(2024));
    set(3, model::CellValue::number(45322));
    set(4, model::CellValue::number(47000));
    set(5, model::CellValue::number(0.01));
  }
};

// Keep in step with the formulas the peer script reads from our names.
const char* const kFormulas[] = {
    "LEN(A1)",
    "MID(A1,3,5)",
    "SEARCH(\"W\xC3\x96\",A1)",
    "SUBSTITUTE(A1,\"l\",\"L\")",
    "UPPER(A1)",
    "PROPER(A1)",
    "TRIM(A1)",
    "TEXT(A2,\"#,##0.00\")",
    "DATE(A3,14,35)",
    "EDATE(A4,13)",
    "YEARFRAC(A4,A5,1)",
    "DATEDIF(A4,A5,\"md\")",
    "NETWORKDAYS(A4,A5)",
    "WORKDAY(A4,500)",
    "FV(A6,120,-100,1000,1)",
    "PMT(A6,360,250000)",
    "NPV(A6,-1000,500,600,700)",
};

void run_formula(benchmark::State& state, const char* text) {
  static Book book;
  ExprPtr tree = parse_formula(text).value();
  for (auto _ : state) {
    EvalContext ctx = new_context(book.source, 0, model::CellRef{0, 5, false, false}, 45000.0,
                                  nullptr, nullptr, model::DateSystem::V1900);
    benchmark::DoNotOptimize(eval_scalar(*tree, ctx));
  }
  state.SetItemsProcessed(state.iterations());
}

const bool kRegistered = [] {
  for (const char* formula : kFormulas) {
    benchmark::RegisterBenchmark((std::string("BM_Function/") + formula).c_str(), run_formula,
                                 formula);
  }
  return true;
}();

}  // namespace
