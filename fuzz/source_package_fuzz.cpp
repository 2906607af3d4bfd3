// Fuzzes the source package record and the package inventory. An input that
// starts like a ZIP archive is opened as a package; any other input is cut
// at NUL bytes into the parts of a small package with pivot tables, a
// drawing and a chart, and its first piece is also handed to the record's
// own part readers. Opening may refuse, never crash; what opens keeps one
// record sheet per model sheet, and every group that keeps a list names
// exactly one sheet of the workbook in each reference. An archive read with
// its worksheets sealed and inflated through a window gives the lean record
// or the refusal of the one read whole.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "opc/package_archive.h"
#include "split_parts.h"
#include "reader/package_structure.h"
#include "reader/source_package.h"
#include "reader/source_queries.h"

using namespace cmx;

namespace {

constexpr std::array<std::string_view, 14> kPartNames = {
    "[Content_Types].xml",
    "xl/workbook.xml",
    "xl/_rels/workbook.xml.rels",
    "xl/worksheets/sheet1.xml",
    "xl/worksheets/_rels/sheet1.xml.rels",
    "xl/pivotTables/pivotTable1.xml",
    "xl/pivotTables/_rels/pivotTable1.xml.rels",
    "xl/pivotCache/pivotCacheDefinition1.xml",
    "xl/pivotCache/_rels/pivotCacheDefinition1.xml.rels",
    "xl/pivotCache/pivotCacheRecords1.xml",
    "xl/drawings/drawing1.xml",
    "xl/drawings/_rels/drawing1.xml.rels",
    "xl/charts/chart1.xml",
    "_rels/.rels",
};

void check_opened(std::vector<opc::PackagePart> parts) {
  auto opened = reader::open_source_package(std::move(parts));
  if (!opened.has_value()) return;
  const reader::SourcePackage& source = opened->source;
  if (source.sheets.size() != opened->model.sheets.size()) std::abort();
  const reader::SheetNameCounts names(opened->model.sheets);
  for (const reader::RetainedCellRefs& group : source.inventory) {
    if (!group.refs) continue;
    for (const reader::RetainedCellRef& ref : *group.refs) {
      if (names.count(ref.sheet) != 1) std::abort();
      if (ref.cell.row >= model::MAX_ROWS || ref.cell.col >= model::MAX_COLS) std::abort();
      (void)reader::retained_ref_blocking_row_edit(source.inventory, ref.sheet, ref.cell.row);
    }
  }
  for (size_t i = 0; i <= source.sheets.size(); ++i) {
    (void)reader::sheet_state_at(source.sheets, i);
    (void)reader::sheet_at_is_worksheet(source.sheets, i);
  }
}

// The lean record as a session opens it, with the worksheets sealed or not:
// the package's refusal, the reader's, or the model and record.
struct LeanOpen {
  std::optional<std::string> refusal;
  std::optional<reader::OpenedPackage> opened;
};

LeanOpen open_lean(std::string_view input, bool seal) {
  LeanOpen out;
  auto parts = opc::read_package_archive(input, opc::ArchiveOptions{.seal_worksheets_from = seal ? 1u : 0u});
  if (!parts.has_value()) {
    out.refusal = opc::package_error_message(parts.error());
    return out;
  }
  std::vector<std::shared_ptr<opc::SealedPart>> sealed;
  for (const opc::PackagePart& part : *parts) {
    if (part.sealed) sealed.push_back(part.sealed);
  }
  auto opened = reader::open_source_package(std::move(*parts),
                                            reader::ReadOptions{.threads = 1, .lean = true, .stream_window = 61});
  if (std::optional<opc::PackageError> broken = opc::first_sealed_failure(sealed)) {
    out.refusal = opc::package_error_message(*broken);
  } else if (!opened.has_value()) {
    out.refusal = xml::parse_error_message(opened.error());
  } else {
    out.opened = std::move(*opened);
  }
  return out;
}

void check_sealed(std::string_view input) {
  const LeanOpen whole = open_lean(input, false);
  const LeanOpen sealed = open_lean(input, true);
  if (whole.refusal != sealed.refusal || whole.opened.has_value() != sealed.opened.has_value()) std::abort();
  if (!whole.opened) return;
  if (!model::workbook_eq(whole.opened->model, sealed.opened->model)) std::abort();
  const reader::SourcePackage& a = whole.opened->source;
  const reader::SourcePackage& b = sealed.opened->source;
  if (!(a.parts == b.parts) || !(a.inventory == b.inventory) || a.sheets.size() != b.sheets.size()) std::abort();
  for (size_t i = 0; i < a.sheets.size(); ++i) {
    if (!(a.sheets[i].template_ == b.sheets[i].template_)) std::abort();
    if (!(a.sheets[i].shared_string_cells == b.sheets[i].shared_string_cells)) std::abort();
  }
}

void check_alone(std::string_view text) {
  (void)reader::parse_fragment_start_tag(text);
  (void)reader::read_rels_attribute_lists(text);
  if (auto entries = reader::read_content_type_entries(text)) {
    for (const opc::ContentTypeEntry& entry : *entries) {
      if (entry.kind != "Default" && entry.kind != "Override") std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    auto parts = opc::read_package_archive(input);
    if (parts.has_value()) check_opened(std::move(*parts));
    check_sealed(input);
    return 0;
  }
  std::vector<opc::PackagePart> parts = fuzz::split_parts(input, kPartNames);
  check_alone(parts.front().bytes);
  check_opened(std::move(parts));
  return 0;
}
