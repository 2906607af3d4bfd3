// A test-only driver that pytest runs to set our record of a package beside
// Python's zipfile and openpyxl (tests/python/test_source_package.py). For
// each file named on the command line it prints one JSON line: the parts in
// archive order, the sheets with their parts and states, and the inventory
// groups with their references; or the error that refused the file.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "json/writer.h"
#include "model/address.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "reader/source_queries.h"

using namespace cmx;

namespace {

void str(std::string& out, std::string_view text) { json::append_json_string(out, text); }

// [[name, value], ...] in the order written.
void attributes(std::string& out, const opc::AttributeList& list) {
  out += "[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ",";
    out += "[";
    str(out, list[i].name);
    out += ",";
    str(out, list[i].value);
    out += "]";
  }
  out += "]";
}

std::string dump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string out = "{\"file\":";
  str(out, path);
  auto parts = opc::read_package_archive(bytes);
  if (!parts.has_value()) {
    out += ",\"error\":";
    str(out, "Package: " + opc::package_error_message(parts.error()));
    return out + "}";
  }
  auto opened = reader::open_source_package(std::move(*parts));
  if (!opened.has_value()) {
    out += ",\"error\":";
    str(out, std::string(xml::parse_error_kind_name(opened.error().kind)) + ": " +
                 xml::parse_error_message(opened.error()));
    return out + "}";
  }
  const reader::SourcePackage& source = opened->source;
  out += ",\"parts\":[";
  for (size_t i = 0; i < source.parts.size(); ++i) {
    if (i > 0) out += ",";
    str(out, source.parts[i].name);
  }
  out += "],\"content_types\":[";
  for (size_t i = 0; i < source.content_types.size(); ++i) {
    if (i > 0) out += ",";
    out += "[";
    str(out, source.content_types[i].kind);
    out += ",";
    attributes(out, source.content_types[i].attributes);
    out += "]";
  }
  out += "],\"workbook_relationships\":[";
  for (size_t i = 0; i < source.workbook_relationships.size(); ++i) {
    if (i > 0) out += ",";
    attributes(out, source.workbook_relationships[i]);
  }
  out += "],\"sheets\":[";
  for (size_t i = 0; i < source.sheets.size(); ++i) {
    if (i > 0) out += ",";
    out += "{\"name\":";
    str(out, opened->model.sheets[i].name);
    out += ",\"part\":";
    str(out, source.sheets[i].part_name);
    out += ",\"state\":" + std::to_string(static_cast<int>(reader::sheet_state_at(source.sheets, i)));
    out += ",\"worksheet\":";
    out += reader::sheet_at_is_worksheet(source.sheets, i) ? "true" : "false";
    out += "}";
  }
  out += "],\"inventory\":[";
  for (size_t i = 0; i < source.inventory.size(); ++i) {
    const reader::RetainedCellRefs& group = source.inventory[i];
    if (i > 0) out += ",";
    out += "{\"label\":";
    str(out, group.label);
    out += ",\"refs\":";
    if (!group.refs) {
      out += "null}";
      continue;
    }
    out += "[";
    for (size_t r = 0; r < group.refs->size(); ++r) {
      if (r > 0) out += ",";
      out += "[";
      str(out, (*group.refs)[r].sheet);
      out += ",";
      str(out, model::format_cell_ref((*group.refs)[r].cell));
      out += "]";
    }
    out += "]}";
  }
  return out + "]}";
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::cout << dump(argv[i]) << "\n";
  return 0;
}
