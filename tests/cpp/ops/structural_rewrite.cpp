// Test-only driver: opens an .xlsx with the package and workbook readers,
// applies row, column and sheet edits as one batch, and writes the result as
// a new package, so that pytest can read it with openpyxl. Steps:
//   insert-rows:SHEET:AT:COUNT   delete-rows:SHEET:AT:COUNT
//   insert-columns:SHEET:AT:COUNT   delete-columns:SHEET:AT:COUNT
//   insert-sheet:INDEX:NAME   remove-sheet:INDEX   rename-sheet:SHEET:NAME
// Prints {"ok":true} or {"ok":false,"error":"..."} (a refusal exits 0); a
// usage or file error exits 2. Chart frames are left out of the package.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../workbook_driver.h"
#include "ops/batch.h"
#include "writer/new_package.h"
#include "xml/parse_error.h"

namespace {

using namespace cmx;
using driver::print_refusal;

// Sheet names cannot hold ":", so every field ends at the next one.
std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    out.push_back(text.substr(start, colon - start));
  }
  out.push_back(text.substr(start));
  return out;
}

std::optional<ops::WorkbookOp> parse_step(const std::string& text) {
  const std::vector<std::string> f = split(text);
  try {
    auto n = [&](size_t i) { return static_cast<uint32_t>(std::stoul(f.at(i))); };
    const std::string& kind = f.at(0);
    if (kind == "insert-rows") return ops::InsertRows{n(1), n(2), n(3)};
    if (kind == "delete-rows") return ops::DeleteRows{n(1), n(2), n(3)};
    if (kind == "insert-columns") return ops::InsertColumns{n(1), n(2), n(3)};
    if (kind == "delete-columns") return ops::DeleteColumns{n(1), n(2), n(3)};
    if (kind == "insert-sheet") return ops::InsertSheet{n(1), f.at(2)};
    if (kind == "remove-sheet") return ops::RemoveSheet{n(1)};
    if (kind == "rename-sheet") return ops::RenameSheet{n(1), f.at(2)};
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: structural_rewrite in.xlsx out.xlsx step...\n");
    return 2;
  }
  ops::Batch batch;
  for (int i = 3; i < argc; ++i) {
    auto step = parse_step(argv[i]);
    if (!step) {
      std::fprintf(stderr, "bad step %s\n", argv[i]);
      return 2;
    }
    batch.push_back(std::move(*step));
  }
  const std::optional<std::string> bytes = driver::read_file(argv[1]);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  auto read = driver::open_workbook(*bytes);
  if (!read) {
    print_refusal(read.error());
    return 0;
  }
  for (model::SheetModel& sheet : read->model.sheets) sheet.charts.clear();
  auto applied = ops::apply_batch(read->model, batch);
  if (!applied) {
    print_refusal(ops::ops_error_message(applied.error()));
    return 0;
  }
  const uint32_t active = std::min<uint32_t>(read->active_tab, static_cast<uint32_t>(read->model.sheets.size() - 1));
  auto written = writer::write_new_package(read->model, active);
  if (!written) {
    print_refusal(xml::parse_error_message(written.error()));
    return 0;
  }
  auto archive = writer::write_package_zip(*written);
  if (!archive) {
    print_refusal(archive.error());
    return 0;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out.write(archive->data(), static_cast<std::streamsize>(archive->size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 2;
  }
  std::printf("{\"ok\":true}\n");
  return 0;
}
