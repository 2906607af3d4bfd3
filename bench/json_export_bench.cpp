// Structured export documents: writing, counting and reading back one sheet
// of 20,000 cells (the document bench/json_export_peer.py builds for Python's
// json), in bytes per second.
#include <benchmark/benchmark.h>

#include <string>

#include "json/json.h"

namespace {

using namespace cmx::json;

XlsxStructuredContent make_document(size_t cells) {
  XlsxSheetIdentity sheet{"sheet:0", 0, "Data \"2024\""};
  XlsxExportSheet out;
  out.id = "s0";
  out.anchor = XlsxAnchorSheet{sheet};
  out.used_range = "A1:T1000";
  out.selected_range = out.used_range;
  out.cells.reserve(cells);
  for (size_t i = 0; i < cells; ++i) {
    XlsxExportCell cell;
    std::string a1 = cmx::model::column_letters(static_cast<uint32_t>(i % 20)) + std::to_string(i / 20 + 1);
    cell.id = "s0!" + a1;
    cell.anchor = XlsxAnchorCell{sheet, a1};
    if (i % 3 == 0) {
      cell.value = XlsxValueText{"name " + std::to_string(i) + " caf\xc3\xa9"};
    } else {
      cell.value = XlsxValueNumber{static_cast<double>(i) * 0.37};
    }
    if (i % 5 == 0) cell.formula = "SUM(A1:A" + std::to_string(i + 1) + ")";
    cell.display_text = std::to_string(i);
    cell.number_format = "General";
    out.cells.push_back(std::move(cell));
  }
  XlsxStructuredContent doc;
  doc.sheets.push_back(std::move(out));
  return doc;
}

const XlsxStructuredContent& document() {
  static const XlsxStructuredContent doc = make_document(20000);
  return doc;
}

void BM_ExportDocumentWrite(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = structured_content_to_json(document());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ExportDocumentWrite);

void BM_ExportDocumentCount(benchmark::State& state) {
  uint64_t bytes = 0;
  for (auto _ : state) {
    bytes = count_structured_content_bytes(document());
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ExportDocumentCount);

void BM_ExportDocumentRead(benchmark::State& state) {
  const std::string text = structured_content_to_json(document());
  for (auto _ : state) {
    auto doc = decode_structured_content(text);
    if (!doc) state.SkipWithError("document did not read back");
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ExportDocumentRead);

}  // namespace
