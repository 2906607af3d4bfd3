// Fuzzes a collaborative replica with peers' bytes: the input, cut at NUL
// bytes, is a run of updates applied in order to a fresh replica, and also a
// state vector handed to diff. Either may be refused, never crash; a refused
// first update leaves the replica's state vector as it was, and whatever is
// integrated keeps the workbook valid.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crdt/crdt.h"
#include "session/collab_state.h"
#include "session/open.h"
#include "session/remote_updates.h"
#include "session/validation.h"
#include "writer/new_package.h"

using namespace cmx;

namespace {

const std::string& package() {
  static const std::string zipped = [] {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/package/2006/relationships";
    const std::string office = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::vector<opc::PackagePart> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>"},
        {"_rels/.rels", "<Relationships xmlns=\"" + rel + "\"><Relationship Id=\"rId1\" Type=\"" + office +
                            "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + office +
                                "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships xmlns=\"" + rel + "\"><Relationship Id=\"rId1\" Type=\"" +
                                           office + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml",
         "<worksheet xmlns=\"" + main +
             "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c></row>"
             "</sheetData></worksheet>"},
    };
    return writer::write_package_zip(parts).value();
  }();
  return zipped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto opened = session::bootstrap_session(package(), true, 77);
  if (!opened) std::abort();
  session::WorkbookSession& replica = *opened.value();
  const std::span<const uint8_t> input(data, size);

  (void)session::diff(replica, input);

  size_t start = 0;
  bool first = true;
  while (start <= size) {
    size_t end = start;
    while (end < size && data[end] != 0) ++end;
    const std::vector<uint8_t> before = session::state_vector(replica);
    auto applied = session::apply_update(replica, input.subspan(start, end - start), std::nullopt);
    if (!applied && first && session::state_vector(replica) != before) std::abort();
    if (!session::validate_workbook_for_sharing(replica.model)) std::abort();
    if (!crdt::decode_state_vector(session::state_vector(replica))) std::abort();
    first = false;
    start = end + 1;
  }
  return 0;
}
