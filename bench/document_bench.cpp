// The collaborative document of a workbook of 10^6 cells: the authored base
// (its fingerprints), the bootstrap transaction and its one encoding, the
// replay into a replica, and the strict projection back into the model. With
// CMX_COLLAB_BENCH_UPDATE set, the bootstrap update is also written to that
// file for bench/document_peer.py, which runs pycrdt on it and prints ratios.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "collab/hydration.h"
#include "collab/projection.h"

using namespace cmx;
using namespace cmx::collab;

namespace {

// Ten columns: a styled number, a text, a formula with its cached value, a
// boolean, and six plain numbers.
model::WorkbookModel workbook_of(int64_t cells) {
  model::WorkbookModel book;
  book.styles.fonts = {model::Font{}, model::Font{}};
  book.styles.fonts[1].bold = true;
  book.styles.fills = {model::NoFill{}};
  book.styles.borders = {model::Border{}};
  book.styles.cell_xfs = {model::CellXf{0, 0, 0, 0, std::nullopt}, model::CellXf{1, 0, 0, 0, std::nullopt},
                          model::CellXf{0, 0, 0, 14, std::nullopt}, model::CellXf{1, 0, 0, 10, std::nullopt}};
  model::SheetModel sheet;
  sheet.name = "Data";
  const uint32_t rows = static_cast<uint32_t>(cells / 10);
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t col = 0; col < 10; ++col) {
      model::SheetCell cell;
      switch (col) {
        case 0: cell = {model::CellValue::number(row * 0.5), {}, row % 4}; break;
        case 1: cell.value = model::CellValue::text("item " + std::to_string(row)); break;
        case 2:
          cell.value = model::CellValue::number(row);
          cell.formula = SharedString("A" + std::to_string(row + 1) + "*2");
          break;
        case 3: cell.value = model::CellValue::boolean(row % 2 == 0); break;
        default: cell.value = model::CellValue::number(row * 10.0 + col); break;
      }
      sheet.cells.insert(sheet.cells.end(), {model::CellKey{row, col}, std::move(cell)});
    }
  }
  sheet.col_widths = {{0, 12.0}, {1, 30.0}};
  book.sheets.push_back(std::move(sheet));
  return book;
}

const model::WorkbookModel& workbook(int64_t cells) {
  static const model::WorkbookModel book = workbook_of(cells);
  return book;
}

void BM_AuthoredBase(benchmark::State& state) {
  const model::WorkbookModel& book = workbook(state.range(0));
  for (auto _ : state) {
    auto base = build_authored_base(book, {}, std::nullopt);
    benchmark::DoNotOptimize(base);
  }
}
BENCHMARK(BM_AuthoredBase)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_BootstrapDocument(benchmark::State& state) {
  const model::WorkbookModel& book = workbook(state.range(0));
  const AuthoredBase base = build_authored_base(book, {}, std::nullopt).value();
  std::vector<uint8_t> update;
  for (auto _ : state) {
    auto doc = build_bootstrap_document(book, base);
    if (!doc) state.SkipWithError("bootstrap failed");
    update = encode_document_state(**doc);
    benchmark::DoNotOptimize(update.data());
  }
  state.counters["update_bytes"] = static_cast<double>(update.size());
  state.counters["bytes_per_cell"] = static_cast<double>(update.size()) / static_cast<double>(state.range(0));
  if (const char* path = std::getenv("CMX_COLLAB_BENCH_UPDATE")) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(update.data()), static_cast<std::streamsize>(update.size()));
  }
}
BENCHMARK(BM_BootstrapDocument)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_HydrateReplica(benchmark::State& state) {
  const model::WorkbookModel& book = workbook(state.range(0));
  const AuthoredBase base = build_authored_base(book, {}, std::nullopt).value();
  const std::vector<uint8_t> update = encode_document_state(*build_bootstrap_document(book, base).value());
  for (auto _ : state) {
    auto doc = crdt::Doc::create(7).value();
    if (!hydrate_from_update(*doc, update)) state.SkipWithError("hydration failed");
    benchmark::DoNotOptimize(doc.get());
  }
}
BENCHMARK(BM_HydrateReplica)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ProjectStrict(benchmark::State& state) {
  const model::WorkbookModel& book = workbook(state.range(0));
  auto opened = open_replica(book, {}, std::nullopt, 7);
  if (!opened) {
    state.SkipWithError("open failed");
    return;
  }
  for (auto _ : state) {
    auto projection = decode_document(opened->authority, /*strict=*/true);
    if (!projection) state.SkipWithError("projection failed");
    benchmark::DoNotOptimize(projection);
  }
}
BENCHMARK(BM_ProjectStrict)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
