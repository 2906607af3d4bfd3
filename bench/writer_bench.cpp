// A new package of 200,000 cells (10,000 rows of 20: numbers in even columns,
// texts from a 5,000-entry shared-string list in odd ones), written from the
// model to ZIP bytes; and the same with the model built first, as a program
// that fills a fresh workbook cell by cell pays. bench/write_workbooks.py sets
// these beside xlsxwriter and openpyxl on the same content.
#include <benchmark/benchmark.h>

#include <string>

#include "base/number_text.h"
#include "writer/new_package.h"
#include "writer/parts.h"

using namespace cmx;

namespace {

constexpr uint32_t kCols = 20;
constexpr uint32_t kStrings = 5000;

model::WorkbookModel make_model(uint32_t cells) {
  model::WorkbookModel model;
  model.shared_strings.reserve(kStrings);
  for (uint32_t i = 0; i < kStrings; ++i) model.shared_strings.push_back("text " + format_u64(i));
  std::vector<SharedString> texts(model.shared_strings.begin(), model.shared_strings.end());
  model::SheetModel& sheet = model.sheets.emplace_back();
  sheet.name = "Data";
  const uint32_t rows = cells / kCols;
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t col = 0; col < kCols; ++col) {
      model::SheetCell cell;
      if (col % 2 == 0) {
        cell.value = model::CellValue::number(row * 1.25 + col);
      } else {
        cell.value = model::CellValue::text(texts[(row * kCols + col) % kStrings]);
      }
      sheet.cells.emplace_hint(sheet.cells.end(), model::CellKey{row, col}, std::move(cell));
    }
  }
  return model;
}

size_t write(const model::WorkbookModel& model) {
  auto parts = writer::write_new_package(model, 0);
  if (!parts) std::abort();
  auto archive = writer::write_package_zip(*parts);
  if (!archive) std::abort();
  return archive->size();
}

void BM_WriteNewPackage(benchmark::State& state) {
  const model::WorkbookModel model = make_model(static_cast<uint32_t>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) bytes = write(model);
  state.counters["cells/s"] = benchmark::Counter(static_cast<double>(state.range(0)) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
  state.counters["archive_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WriteNewPackage)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_BuildAndWriteNewPackage(benchmark::State& state) {
  for (auto _ : state) {
    const model::WorkbookModel model = make_model(static_cast<uint32_t>(state.range(0)));
    benchmark::DoNotOptimize(write(model));
  }
  state.counters["cells/s"] = benchmark::Counter(static_cast<double>(state.range(0)) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildAndWriteNewPackage)->Arg(200000)->Unit(benchmark::kMillisecond);

// The worksheet part alone, without deflate: the serialisation floor.
void BM_WorksheetPart(benchmark::State& state) {
  const model::WorkbookModel model = make_model(static_cast<uint32_t>(state.range(0)));
  const writer::TextLookup lookup = writer::build_text_lookup(model.shared_strings);
  const writer::HyperlinkRelationshipPlan plan;
  for (auto _ : state) {
    auto part = writer::write_worksheet_part(model.sheets[0], model, "m", "r", plan, &lookup);
    benchmark::DoNotOptimize(part->size());
  }
  state.counters["cells/s"] = benchmark::Counter(static_cast<double>(state.range(0)) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WorksheetPart)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
