// Formula parsing and printing over a realistic mix of workbook formulas:
// plain arithmetic, aggregates over ranges, lookups across sheets,
// conditionals with text, structured references and array constants.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "formula/formula.h"

using namespace cmx::formula;

namespace {

// One generated column of formulas per template, rows varying the references.
std::vector<std::string> formula_mix() {
  std::vector<std::string> out;
  for (int row = 2; row < 130; ++row) {
    const std::string r = std::to_string(row);
    out.push_back("B" + r + "*C" + r);
    out.push_back("SUM(D2:D" + r + ")");
    out.push_back("IF(E" + r + ">0,E" + r + "*1.1,\"none\")");
    out.push_back("VLOOKUP($A" + r + ",'Price List'!$A$1:$D$500,3,FALSE)");
    out.push_back("ROUND(AVERAGE(F" + r + ":K" + r + "),2)");
    out.push_back("IFERROR(INDEX(Data!B:B,MATCH(A" + r + ",Data!A:A,0)),\"\")");
    out.push_back("Sales[[#This Row],[Amount]]*(1+Rate)");
    out.push_back("SUMIFS(Sales[Amount],Sales[Region],$B$1,Sales[Month],\">=\"&DATE(2024,1,1))");
    out.push_back("TEXT(G" + r + ",\"0.00%\")&\" of \"&H" + r);
    out.push_back("-(A" + r + "-B" + r + ")^2/2+SQRT(ABS(C" + r + "))");
    out.push_back("AND(A" + r + "<>\"\",OR(B" + r + "=1,B" + r + "=2),NOT(ISBLANK(C" + r + ")))");
    out.push_back("SUMPRODUCT({1,2,3;4,5,6}*A1:C2)");
    out.push_back("A" + r);
    out.push_back("_xlfn.XLOOKUP(A" + r + ",Sheet2!A:A,Sheet2!C:C,#N/A,0,1)");
  }
  return out;
}

size_t total_bytes(const std::vector<std::string>& formulas) {
  size_t bytes = 0;
  for (const auto& f : formulas) bytes += f.size();
  return bytes;
}

void BM_ParseFormulaMix(benchmark::State& state) {
  const std::vector<std::string> formulas = formula_mix();
  for (auto _ : state) {
    for (const std::string& text : formulas) {
      auto parsed = parse_formula(text);
      benchmark::DoNotOptimize(parsed);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * formulas.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_bytes(formulas)));
}
BENCHMARK(BM_ParseFormulaMix);

void BM_PrintFormulaMix(benchmark::State& state) {
  std::vector<ExprPtr> trees;
  for (const std::string& text : formula_mix()) trees.push_back(*parse_formula(text));
  for (auto _ : state) {
    for (const ExprPtr& tree : trees) {
      std::string text = expr_to_formula(*tree);
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * trees.size()));
}
BENCHMARK(BM_PrintFormulaMix);

void BM_BuiltinIdFromName(benchmark::State& state) {
  const std::string_view names[] = {"SUM", "vlookup", "_xlfn.XLOOKUP", "NETWORKDAYS.INTL",
                                    "IFERROR", "Foo", "_xlfn._xlws.SORT", "NORM.DIST"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(builtin_id_from_name(names[i++ & 7]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuiltinIdFromName);

}  // namespace
