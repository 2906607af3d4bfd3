// Fuzzes opening a workbook into a session. An input that starts like a ZIP
// archive is opened as it is; any other input is cut at NUL bytes into the
// parts of a small package, zipped, and opened. Opening may refuse, never
// crash; what opens passes validation and keeps one source entry per sheet.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "session/open.h"
#include "session/validation.h"
#include "writer/new_package.h"

using namespace cmx;

namespace {

constexpr std::array<std::string_view, 6> kPartNames = {
    "[Content_Types].xml",      "_rels/.rels",  "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
    "xl/worksheets/sheet1.xml", "xl/styles.xml",
};

void check(std::string_view bytes) {
  auto opened = session::bootstrap_session(bytes, /*keep_cached=*/true, std::nullopt);
  if (!opened) return;
  const session::WorkbookSession& s = *opened.value();
  const size_t sheets = s.model.sheets.size();
  if (s.sheet_sources.origins.size() != sheets || s.sheet_sources.source_maps.size() != sheets ||
      s.sheet_sources.move_maps.size() != sheets || s.active_sheet >= sheets) {
    std::abort();
  }
  if (!session::validate_workbook_for_sharing(s.model)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    check(input);
    return 0;
  }
  std::vector<opc::PackagePart> parts;
  size_t start = 0;
  for (std::string_view name : kPartNames) {
    if (start > input.size()) break;
    const size_t end = std::min(input.find('\0', start), input.size());
    parts.push_back({std::string(name), std::string(input.substr(start, end - start))});
    start = end + 1;
  }
  auto zipped = writer::write_package_zip(parts);
  if (zipped) check(zipped.value());
  return 0;
}
