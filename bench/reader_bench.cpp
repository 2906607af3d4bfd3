// Worksheet streaming over a generated part of 1,000,000 cells (1,000 rows of
// 1,000): numbers, shared-string cells, and a shared formula per row; and the
// shared-strings reader over 100,000 items.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "model/address.h"
#include "reader/shared_strings.h"
#include "reader/worksheet.h"

using namespace cmx;

namespace {

constexpr uint32_t kRows = 1000;
constexpr uint32_t kCols = 1000;

// Columns cycle through a number, a shared-string cell and a styled number;
// the last column holds a shared formula over the row.
std::string make_sheet_part() {
  std::string part =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  for (uint32_t row = 0; row < kRows; ++row) {
    const std::string row_text = format_u64(row + 1);
    part += "<row r=\"" + row_text + "\" spans=\"1:1000\">";
    for (uint32_t col = 0; col < kCols; ++col) {
      const std::string ref = model::column_letters(col) + row_text;
      if (col + 1 == kCols) {
        part += "<c r=\"" + ref + "\"><f t=\"shared\" si=\"0\"" +
                (row == 0 ? " ref=\"ALL1:ALL1000\">SUM(A1:C1)" : ">") + "</f><v>6</v></c>";
      } else if (col % 3 == 0) {
        part += "<c r=\"" + ref + "\"><v>" + format_shortest(row * 0.25 + col) + "</v></c>";
      } else if (col % 3 == 1) {
        part += "<c r=\"" + ref + "\" t=\"s\"><v>" + format_u64((row + col) % 1000) + "</v></c>";
      } else {
        part += "<c r=\"" + ref + "\" s=\"1\"><v>" + format_u64(row * col) + "</v></c>";
      }
    }
    part += "</row>";
  }
  part += "</sheetData></worksheet>";
  return part;
}

void BM_ReadWorksheet(benchmark::State& state) {
  const std::string part = make_sheet_part();
  std::vector<SharedString> strings;
  for (int idx = 0; idx < 1000; ++idx) strings.emplace_back("text " + format_u64(idx));
  const opc::RelationshipMap rels;
  for (auto _ : state) {
    reader::SharedStringCells string_cells;
    reader::SourceDimensions dimensions;
    reader::CellTextNotes notes;
    auto sheet = reader::read_worksheet("Sheet1", part, strings, rels, string_cells, dimensions, notes);
    if (!sheet.has_value() || sheet->cells.size() != uint64_t{kRows} * kCols) {
      state.SkipWithError("worksheet did not read");
      break;
    }
    benchmark::DoNotOptimize(sheet);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kCols);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(part.size()));
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(kRows) * kCols, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadWorksheet)->Unit(benchmark::kMillisecond);

void BM_ReadSharedStrings(benchmark::State& state) {
  std::string part = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
  for (int idx = 0; idx < 100000; ++idx) {
    part += idx % 10 == 0 ? "<si><r><t>rich </t></r><r><rPr><b/></rPr><t>" + format_u64(idx) + "</t></r></si>"
                          : "<si><t>item number " + format_u64(idx) + "</t></si>";
  }
  part += "</sst>";
  for (auto _ : state) {
    auto table = reader::read_shared_strings(part);
    benchmark::DoNotOptimize(table);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(part.size()));
}
BENCHMARK(BM_ReadSharedStrings)->Unit(benchmark::kMillisecond);

std::string read_file(const char* path) {
  std::string out;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return out;
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, got);
  std::fclose(file);
  return out;
}

// The shared strings are read once outside the timing, as a workbook read
// does before its sheets; the timing covers the worksheet part alone.
void BM_ReadSheetFile(benchmark::State& state, std::string part, std::vector<SharedString> strings) {
  const opc::RelationshipMap rels;
  size_t cells = 0;
  for (auto _ : state) {
    reader::SharedStringCells string_cells;
    reader::SourceDimensions dimensions;
    reader::CellTextNotes notes;
    auto sheet = reader::read_worksheet("Sheet1", part, strings, rels, string_cells, dimensions, notes);
    if (!sheet.has_value()) {
      state.SkipWithError("worksheet did not read");
      break;
    }
    cells = sheet->cells.size();
    benchmark::DoNotOptimize(sheet);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(part.size()));
  state.counters["cells"] = static_cast<double>(cells);
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* path = std::getenv("CMX_SHEET_PART")) {
    std::vector<SharedString> strings;
    if (const char* sst_path = std::getenv("CMX_SHARED_STRINGS_PART")) {
      auto table = reader::read_shared_strings(read_file(sst_path));
      if (table.has_value()) strings = std::move(table->items);
    }
    benchmark::RegisterBenchmark("BM_ReadSheetFile", BM_ReadSheetFile, read_file(path), std::move(strings))
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
