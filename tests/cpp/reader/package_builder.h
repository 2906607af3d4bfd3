// Small hand-made packages for the tests of the source package record and
// the inventory: a valid one-sheet workbook to start from, parts replaced,
// added or removed by name, archive order kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "opc/package_archive.h"

namespace cmx::reader::testing {

inline constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kOfficeRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRels = "http://schemas.openxmlformats.org/package/2006/relationships";

struct Rel {
  std::string id;
  std::string type;  // the last segment of an officeDocument type, or a whole URI
  std::string target;
  std::string extra;  // more attributes, written as given
};

inline std::string rels_part(const std::vector<Rel>& rels) {
  std::string out = "<Relationships xmlns=\"" + std::string(kPackageRels) + "\">";
  for (const Rel& rel : rels) {
    const std::string type = rel.type.find(':') == std::string::npos ? std::string(kOfficeRels) + "/" + rel.type : rel.type;
    out += "<Relationship Id=\"" + rel.id + "\" Type=\"" + type + "\" Target=\"" + rel.target + "\"" + rel.extra + "/>";
  }
  return out + "</Relationships>";
}

inline std::string workbook_part(const std::string& sheets_body, const std::string& other = "") {
  return "<workbook xmlns=\"" + std::string(kMainNs) + "\" xmlns:r=\"" + std::string(kOfficeRels) + "\">" + other +
         "<sheets>" + sheets_body + "</sheets></workbook>";
}

inline std::string sheet_part(const std::string& value = "1") {
  return "<worksheet xmlns=\"" + std::string(kMainNs) + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>" + value +
         "</v></c></row></sheetData></worksheet>";
}

inline std::string content_types(const std::string& overrides) {
  return "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
         overrides + "</Types>";
}

inline std::string override_entry(const std::string& part, const std::string& type) {
  return "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
}

struct Package {
  std::vector<opc::PackagePart> parts;

  // One sheet "Sheet1" in xl/worksheets/sheet1.xml, every part well laid out.
  static Package basic() {
    Package pkg;
    pkg.set("[Content_Types].xml",
            content_types(override_entry("/xl/workbook.xml",
                                         "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml")));
    pkg.set("_rels/.rels", rels_part({{"rId1", "officeDocument", "xl/workbook.xml", ""}}));
    pkg.set("xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"));
    pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""}}));
    pkg.set("xl/worksheets/sheet1.xml", sheet_part());
    return pkg;
  }

  Package& set(const std::string& name, std::string bytes) {
    for (opc::PackagePart& part : parts) {
      if (part.name == name) {
        part.bytes = std::move(bytes);
        return *this;
      }
    }
    parts.push_back(opc::PackagePart{name, std::move(bytes)});
    return *this;
  }
  Package& erase(const std::string& name) {
    std::erase_if(parts, [&](const opc::PackagePart& part) { return part.name == name; });
    return *this;
  }
};

}  // namespace cmx::reader::testing
