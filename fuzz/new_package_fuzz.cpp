// Fuzzes the new-package writer through the reader: whatever workbook the
// reader accepts is written as a new package and read again, and what the
// package carries must come back unchanged. An input that starts like a ZIP
// archive is opened as a package; any other input is cut at NUL bytes into
// the parts of a one-sheet package (workbook, its relationships, shared
// strings, styles, sheet). The writer may refuse only a text that no XML can
// carry.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/cpp/writer/model_compare.h"
#include "opc/package_archive.h"
#include "split_parts.h"
#include "reader/workbook_reader.h"
#include "writer/new_package.h"
#include "xml/parse_error.h"

using namespace cmx;

namespace {

constexpr std::array<std::string_view, 5> kPartNames = {
    "xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/sharedStrings.xml", "xl/styles.xml",
    "xl/worksheets/sheet1.xml"};

void check(const std::vector<opc::PackagePart>& parts) {
  auto read = reader::read_workbook(parts);
  if (!read.has_value()) return;
  model::WorkbookModel& model = read->model;
  for (model::SheetModel& sheet : model.sheets) sheet.charts.clear();
  auto written = writer::write_new_package(model, read->active_tab);
  if (!written.has_value()) {
    if (xml::parse_error_message(written.error()).starts_with("unsupported edit: a rewrite carries")) return;
    // A palette entry the reader kept but a package cannot name.
    if (written.error().kind == xml::ParseErrorKind::Malformed) return;
    std::fprintf(stderr, "refused: %s\n", xml::parse_error_message(written.error()).c_str());
    std::abort();
  }
  auto archive = writer::write_package_zip(*written);
  if (!archive.has_value()) std::abort();
  auto again_parts = opc::read_package_archive(*archive);
  if (!again_parts.has_value()) std::abort();
  auto again = reader::read_workbook(*again_parts);
  if (!again.has_value()) {
    std::fprintf(stderr, "unreadable: %s\n", xml::parse_error_message(again.error()).c_str());
    std::abort();
  }
  const std::string difference = writer_test::model_difference(model, again->model);
  if (!difference.empty()) {
    std::fprintf(stderr, "model changed: %s\n", difference.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    auto parts = opc::read_package_archive(input);
    if (parts.has_value()) check(*parts);
    return 0;
  }
  std::vector<opc::PackagePart> parts = fuzz::split_parts(input, kPartNames);
  check(parts);
  return 0;
}
