// Opening a package: read_package_archive over an archive holding a deflated
// worksheet of 1,000,000 cells, so the figure is inflate plus CRC. Reports
// MB/s of inflated content.
#include <benchmark/benchmark.h>

#include <string>

#include "../tests/cpp/opc/zip_builder.h"
#include "opc/package_archive.h"

namespace {

const std::string& archive() {
  static const std::string zip = [] {
    std::string sheet = "<worksheet><sheetData>";
    for (int row = 1; row <= 100000; ++row) {
      const std::string r = std::to_string(row);
      sheet += "<row r=\"" + r + "\">";
      for (char col = 'A'; col <= 'J'; ++col) {
        sheet += "<c r=\"";
        sheet += col;
        sheet += r + "\"><v>" + std::to_string(row * 7 % 1000) + "</v></c>";
      }
      sheet += "</row>";
    }
    sheet += "</sheetData></worksheet>";
    return cmx::opc::testing::build_zip({{.name = "[Content_Types].xml", .content = "<Types/>"},
                                         {.name = "xl/worksheets/sheet1.xml", .content = sheet}});
  }();
  return zip;
}

void BM_ReadPackageArchive(benchmark::State& state) {
  const std::string& zip = archive();
  size_t inflated = 0;
  for (auto _ : state) {
    auto parts = cmx::opc::read_package_archive(zip);
    if (!parts.has_value()) {
      state.SkipWithError("archive refused");
      break;
    }
    inflated = 0;
    for (const auto& part : *parts) inflated += part.bytes.size();
    benchmark::DoNotOptimize(parts);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inflated));
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations() * inflated) / 1e6,
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadPackageArchive)->Unit(benchmark::kMillisecond);

}  // namespace
