// The package inventory of hand-made packages: the strict structure check
// rule by rule, pivot references, chart groups, the cautious fallback, the
// unreadable drawings, and hostile packages (relationship cycles, targets
// outside the package, ".." paths, duplicate content-type overrides, one
// pivot cache named by two tables).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_builder.h"
#include "reader/package_inventory.h"
#include "reader/package_structure.h"
#include "reader/pivot_refs.h"
#include "reader/source_package.h"

namespace cmx::reader {
namespace {

using testing::content_types;
using testing::override_entry;
using testing::Package;
using testing::Rel;
using testing::rels_part;
using testing::sheet_part;
using testing::workbook_part;

const std::string kMain(testing::kMainNs);
const std::string kDrawingNs = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
const std::string kChartNs = "http://schemas.openxmlformats.org/drawingml/2006/chart";
const std::string kPivotTableType = "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml";

std::string pivot_table(const std::string& location) {
  return "<pivotTableDefinition xmlns=\"" + kMain + "\" name=\"P\" cacheId=\"1\">" + location +
         "</pivotTableDefinition>";
}

std::string cache_definition(const std::string& source, const std::string& rid = " r:id=\"rId1\"") {
  return "<pivotCacheDefinition xmlns=\"" + kMain + "\" xmlns:r=\"" + std::string(testing::kOfficeRels) + "\"" + rid +
         ">" + source + "</pivotCacheDefinition>";
}

// Sheet1 hosts pivotTable1 (A3:C10 with two row pages and one column page)
// whose cache reads Data!A1:D20; the records belong to that cache.
Package pivot_package() {
  Package pkg;
  pkg.set("[Content_Types].xml",
          content_types(override_entry("/xl/pivotTables/pivotTable1.xml", kPivotTableType)));
  pkg.set("_rels/.rels", rels_part({{"rId1", "officeDocument", "xl/workbook.xml", ""}}));
  pkg.set("xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                           "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""}}));
  pkg.set("xl/worksheets/sheet1.xml", sheet_part());
  pkg.set("xl/worksheets/sheet2.xml", sheet_part());
  pkg.set("xl/worksheets/_rels/sheet1.xml.rels",
          rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""}}));
  pkg.set("xl/pivotTables/pivotTable1.xml",
          pivot_table("<location ref=\"A3:C10\" firstHeaderRow=\"1\" rowPageCount=\"2\" colPageCount=\" +1 \"/>"));
  pkg.set("xl/pivotTables/_rels/pivotTable1.xml.rels",
          rels_part({{"rId1", "pivotCacheDefinition", "../pivotCache/pivotCacheDefinition1.xml", ""}}));
  pkg.set("xl/pivotCache/pivotCacheDefinition1.xml",
          cache_definition("<cacheSource type=\"worksheet\"><worksheetSource ref=\"A1:D20\" sheet=\"Data\"/>"
                           "</cacheSource>"));
  pkg.set("xl/pivotCache/_rels/pivotCacheDefinition1.xml.rels",
          rels_part({{"rId1", "pivotCacheRecords", "pivotCacheRecords1.xml", ""}}));
  pkg.set("xl/pivotCache/pivotCacheRecords1.xml",
          "<pivotCacheRecords xmlns=\"" + kMain + "\" count=\"1\"><r><n v=\"1\"/></r></pivotCacheRecords>");
  return pkg;
}

// "label=Sheet!A1 Sheet!B2;label=?" with "?" for a group without a list.
std::string describe(const PackageInventory& inventory) {
  std::string out;
  for (const RetainedCellRefs& group : inventory) {
    if (!out.empty()) out += ";";
    out += group.label + "=";
    if (!group.refs) {
      out += "?";
      continue;
    }
    for (size_t i = 0; i < group.refs->size(); ++i) {
      out += (i ? " " : "") + (*group.refs)[i].sheet + "!" + model::format_cell_ref((*group.refs)[i].cell);
    }
  }
  return out;
}

std::string inventory_of(const Package& pkg) {
  auto opened = open_source_package(pkg.parts);
  if (!opened.has_value()) return "error: " + xml::parse_error_message(opened.error());
  return describe(opened->source.inventory);
}

bool structure_of(const Package& pkg) {
  const opc::PartIndex index(pkg.parts);
  auto types = read_content_type_entries(index.find("[Content_Types].xml").value_or("<Types/>"));
  const std::vector<opc::ContentTypeEntry> entries = types.has_value() ? *types : std::vector<opc::ContentTypeEntry>{};
  const PartContentTypes keyed = collect_part_content_types(pkg.parts, entries);
  auto opened = open_source_package(pkg.parts);
  EXPECT_TRUE(opened.has_value());
  if (!opened.has_value()) return false;
  return check_package_structure(index, keyed, collect_sheet_part_names(opened->source.sheets));
}

const std::string kPivotGroups =
    "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
    "xl/pivotCache/pivotCacheRecords1.xml=Data!D20";

std::string drawing(const std::string& anchor_body) {
  return "<xdr:wsDr xmlns:xdr=\"" + kDrawingNs + "\" xmlns:c=\"" + kChartNs + "\" xmlns:r=\"" +
         std::string(testing::kOfficeRels) + "\"><xdr:twoCellAnchor><xdr:from><xdr:col>0</xdr:col><xdr:row>0</xdr:row>"
         "</xdr:from><xdr:to><xdr:col>3</xdr:col><xdr:row>5</xdr:row></xdr:to>" + anchor_body +
         "</xdr:twoCellAnchor></xdr:wsDr>";
}

Package with_drawing(Package pkg, const std::string& body) {
  pkg.set("xl/worksheets/_rels/sheet1.xml.rels",
          rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""},
                     {"rId2", "drawing", "../drawings/drawing1.xml", ""}}));
  pkg.set("xl/drawings/drawing1.xml", body);
  return pkg;
}

TEST(PackageStructure, EachRule) {
  const std::string ct = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  const std::string sheet_rels_ns_less =
      "<Relationships xmlns=\"" + std::string(testing::kPackageRels) + "\"><Relationship xmlns=\"\" Id=\"rId1\" Type=\"" +
      std::string(testing::kOfficeRels) + "/pivotTable\" Target=\"../pivotTables/pivotTable1.xml\"/></Relationships>";
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> set;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"regular package", {}, true},
      {"empty Types", {{"[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"}}, true},
      {"Types without namespace", {{"[Content_Types].xml", "<Types><Default Extension=\"xml\" ContentType=\"a\"/></Types>"}}, true},
      {"Types in a foreign namespace", {{"[Content_Types].xml", "<Types xmlns=\"urn:x\"/>"}}, false},
      {"no content types", {{"[Content_Types].xml", ""}}, false},
      {"overrides differing in case",
       {{"[Content_Types].xml", content_types(override_entry("/xl/a.xml", ct) + override_entry("/XL/A.xml", ct))}}, false},
      {"override of a lone slash", {{"[Content_Types].xml", content_types(override_entry("/", ct))}}, false},
      {"override without slash", {{"[Content_Types].xml", content_types(override_entry("xl/a.xml", ct))}}, false},
      {"default extension with a slash",
       {{"[Content_Types].xml", content_types("<Default Extension=\"a/b\" ContentType=\"x\"/>")}}, false},
      {"defaults differing in case",
       {{"[Content_Types].xml", content_types("<Default Extension=\"XML\" ContentType=\"x\"/>")}}, false},
      {"other child", {{"[Content_Types].xml", content_types("<Extra ContentType=\"x\"/>")}}, false},
      {"content type of spaces", {{"[Content_Types].xml", content_types(override_entry("/xl/a.xml", "  "))}}, false},
      {"child with a child",
       {{"[Content_Types].xml", content_types("<Override PartName=\"/a\" ContentType=\"x\"><x/></Override>")}}, false},
      {"TargetMode external in lower case",
       {{"xl/_rels/workbook.xml.rels",
         rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""}, {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                    {"rId3", "hyperlink", "http://x", " TargetMode=\"external\""}})}},
       false},
      {"TargetMode External",
       {{"xl/_rels/workbook.xml.rels",
         rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""}, {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                    {"rId3", "hyperlink", "http://x", " TargetMode=\"External\""}})}},
       true},
      {"relationship without namespace", {{"xl/worksheets/_rels/sheet1.xml.rels", sheet_rels_ns_less}}, false},
      {"non-standard drawing type",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""},
                    {"rId2", "urn:mine/drawing", "../drawings/drawing1.xml", ""}})}},
       false},
      {"worksheet type with any prefix",
       {{"xl/_rels/workbook.xml.rels",
         rels_part({{"rId1", "urn:mine/worksheet", "worksheets/sheet1.xml", ""},
                    {"rId2", "worksheet", "worksheets/sheet2.xml", ""}})}},
       true},
      {"one Id twice in a part",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""}, {"rId1", "image", "x.png", ""}})}},
       false},
      {"relationship without Target",
       {{"xl/worksheets/_rels/sheet1.xml.rels", rels_part({{"rId1", "pivotTable", "", ""}})}}, false},
      {"missing drawing",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""},
                    {"rId2", "drawing", "../drawings/none.xml", ""}})}},
       true},
      {"second sheets element",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\"/>",
                                          "<sheets/>")}},
       false},
      {"sheet element elsewhere",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\"/>",
                                          "<extLst><sheet/></extLst>")}},
       false},
      {"sheet with two id attributes",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\" id=\"x\"/>")}},
       false},
      {"unprefixed sheet id",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" id=\"rId1\"/>"
                                          "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\"/>")}},
       true},
      {"pivot relationship part unreadable", {{"xl/pivotTables/_rels/pivotTable1.xml.rels", "<Relationships"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = pivot_package();
    for (const auto& [name, bytes] : c.set) {
      if (bytes.empty()) {
        pkg.erase(name);
      } else {
        pkg.set(name, bytes);
      }
    }
    EXPECT_EQ(structure_of(pkg), c.passes);
  }
}

TEST(PackageStructure, Drawings) {
  const std::string chart = "<xdr:graphicFrame><a:graphic xmlns:a=\"urn:a\"><a:graphicData><c:chart r:id=\"rId1\"/>"
                            "</a:graphicData></a:graphic></xdr:graphicFrame>";
  struct Case {
    const char* label;
    std::string drawing;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"one chart per anchor", drawing(chart), true},
      {"two charts in one anchor", drawing("<xdr:grpSp>" + chart + chart + "</xdr:grpSp>"), false},
      {"chart without id counts one", drawing("<c:chart/>"), true},
      {"root other than wsDr", "<root><c:chart xmlns:c=\"" + kChartNs + "\"/><c:chart xmlns:c=\"" + kChartNs + "\"/></root>", true},
      {"name not well formed", "<a:b:c xmlns:a=\"urn:a\"/>", false},
      {"not xml", "<wsDr", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(structure_of(with_drawing(pivot_package(), c.drawing)), c.passes);
  }
}

TEST(PackageStructure, PivotPartTest) {
  const PartContentTypes types{
      {"xl/pivottables/_rels/pivottable1.xml.rels",
       "APPLICATION/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml"},
      {"xl/other.xml", "application/xml"}};
  EXPECT_TRUE(is_pivot_part("/XL/PivotTables/PivotTable9.XML", {}));
  EXPECT_TRUE(is_pivot_part("xl/pivotCache/x.bin", {}));
  EXPECT_FALSE(is_pivot_part("xl/pivotTables/_rels/pivotTable2.xml.rels", types));
  EXPECT_TRUE(is_pivot_part("xl/pivotTables/_rels/pivotTable1.xml.rels", types));
  EXPECT_FALSE(is_pivot_part("xl/other.xml", types));
  EXPECT_FALSE(is_pivot_part("xl/charts/chart1.xml", types));
}

TEST(PackageInventory, PivotReferences) {
  const std::string records = "xl/pivotCache/pivotCacheRecords1.xml";
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> set;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"regular pivot table", {}, kPivotGroups},
      {"page counts clamp at the grid's edge",
       {{"xl/pivotTables/pivotTable1.xml", pivot_table("<location ref=\"XFC1048570:XFD1048576\" rowPageCount=\"9\" "
                                                       "colPageCount=\"4294967295\"/>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!XFD1048576;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
       "xl/pivotCache/pivotCacheRecords1.xml=Data!D20"},
      {"page count not a number",
       {{"xl/pivotTables/pivotTable1.xml", pivot_table("<location ref=\"A1:B2\" rowPageCount=\"-1\"/>")}},
       "xl/pivotTables/pivotTable1.xml=?;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
       "xl/pivotCache/pivotCacheRecords1.xml=Data!D20"},
      {"two locations",
       {{"xl/pivotTables/pivotTable1.xml", pivot_table("<location ref=\"A1\"/><location ref=\"A1\"/>")}},
       "xl/pivotTables/pivotTable1.xml=?;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
       "xl/pivotCache/pivotCacheRecords1.xml=Data!D20"},
      {"alternate content",
       {{"xl/pivotTables/pivotTable1.xml", pivot_table("<location ref=\"A1\"/><mc:AlternateContent xmlns:mc=\"urn:mc\"/>")}},
       "xl/pivotTables/pivotTable1.xml=?;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
       "xl/pivotCache/pivotCacheRecords1.xml=Data!D20"},
      {"source on a sheet the workbook lacks",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource><worksheetSource ref=\"A1:B2\" sheet=\"Nope\"/></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=?;" + records + "=?"},
      {"source sheet named in another case",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource><worksheetSource ref=\"B2\" sheet=\"DATA\"/></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=DATA!B2;" + records +
           "=DATA!B2"},
      {"source by name",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource><worksheetSource name=\"Table1\"/></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=?;" + records + "=?"},
      {"consolidation",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource type=\"consolidation\"><consolidation><pages/><rangeSets>"
                          "<rangeSet ref=\"A1:B2\" sheet=\"Data\"/><rangeSet ref=\"C3\" sheet=\"Sheet1\"/>"
                          "</rangeSets></consolidation></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=Data!B2 Sheet1!C3;" +
           records + "=Data!B2 Sheet1!C3"},
      {"consolidation with two rangeSets",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource type=\"consolidation\"><consolidation><rangeSets/><rangeSets/>"
                          "</consolidation></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=?;" + records + "=?"},
      {"scenario source",
       {{"xl/pivotCache/pivotCacheDefinition1.xml", cache_definition("<cacheSource type=\"scenario\"><x/></cacheSource>")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=?;" + records + "=?"},
      {"records without their definition's id",
       {{"xl/pivotCache/pivotCacheDefinition1.xml",
         cache_definition("<cacheSource><worksheetSource ref=\"A1:D20\" sheet=\"Data\"/></cacheSource>", "")}},
       "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;" + records + "=?"},
      {"pivot table on no sheet",
       {{"xl/worksheets/_rels/sheet1.xml.rels", rels_part({})}},
       "xl/pivotTables/pivotTable1.xml=?;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;" + records + "=Data!D20"},
      // Targets are resolved, never followed: a cycle is just another name.
      {"relationship cycles",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable1.xml", ""}, {"rId2", "worksheet", "sheet1.xml", ""}})},
        {"xl/pivotCache/_rels/pivotCacheRecords1.xml.rels",
         rels_part({{"rId1", "pivotCacheDefinition", "pivotCacheDefinition1.xml", ""}})},
        {"xl/pivotTables/_rels/pivotTable1.xml.rels",
         rels_part({{"rId1", "pivotTable", "pivotTable1.xml", ""},
                    {"rId2", "pivotCacheDefinition", "../pivotCache/pivotCacheDefinition1.xml", ""}})}},
       kPivotGroups},
      {"target outside the package",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "../../../../../pivotTables/pivotTable1.xml", ""}})}},
       "xl/pivotTables/pivotTable1.xml=?;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;" + records + "=Data!D20"},
      {"dot-dot path back into the package",
       {{"xl/worksheets/_rels/sheet1.xml.rels",
         rels_part({{"rId1", "pivotTable", "./../x/../PIVOTTABLES/./pivotTable1.xml", ""}})}},
       kPivotGroups},
      {"duplicate content-type overrides",
       {{"[Content_Types].xml", content_types(override_entry("/xl/pivotTables/pivotTable1.xml", kPivotTableType) +
                                              override_entry("/xl/pivotTables/pivotTable1.xml", kPivotTableType))}},
       "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = pivot_package();
    for (const auto& [name, bytes] : c.set) pkg.set(name, bytes);
    std::string expected = c.expected;
    if (expected == "*") {
      // The fallback: every part, unknown.
      expected.clear();
      for (const opc::PackagePart& part : pkg.parts) expected += (expected.empty() ? "" : ";") + part.name + "=?";
    }
    EXPECT_EQ(inventory_of(pkg), expected);
  }
}

TEST(PackageInventory, OneCacheNamedByTwoTables) {
  Package pkg = pivot_package();
  pkg.set("xl/worksheets/_rels/sheet2.xml.rels",
          rels_part({{"rId1", "pivotTable", "../pivotTables/pivotTable2.xml", ""},
                     {"rId2", "pivotTable", "../pivotTables/pivotTable1.xml", ""}}));
  pkg.set("xl/pivotTables/pivotTable2.xml", pivot_table("<location ref=\"F1:G4\"/>"));
  pkg.set("xl/pivotTables/_rels/pivotTable2.xml.rels",
          rels_part({{"rId1", "pivotCacheDefinition", "../pivotCache/pivotCacheDefinition1.xml", ""}}));
  EXPECT_EQ(inventory_of(pkg),
            "xl/pivotTables/pivotTable1.xml=Sheet1!D12 Data!D12;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
            "xl/pivotCache/pivotCacheRecords1.xml=Data!D20;xl/pivotTables/pivotTable2.xml=Data!G4");

  // Two definitions claiming one records part: it belongs to neither.
  pkg.set("xl/pivotCache/pivotCacheDefinition2.xml",
          cache_definition("<cacheSource><worksheetSource ref=\"A1:A2\" sheet=\"Sheet1\"/></cacheSource>"));
  pkg.set("xl/pivotCache/_rels/pivotCacheDefinition2.xml.rels",
          rels_part({{"rId1", "pivotCacheRecords", "pivotCacheRecords1.xml", ""}}));
  EXPECT_EQ(inventory_of(pkg),
            "xl/pivotTables/pivotTable1.xml=Sheet1!D12 Data!D12;xl/pivotCache/pivotCacheDefinition1.xml=Data!D20;"
            "xl/pivotCache/pivotCacheRecords1.xml=?;xl/pivotTables/pivotTable2.xml=Data!G4;"
            "xl/pivotCache/pivotCacheDefinition2.xml=Sheet1!A2");
}

TEST(PackageInventory, Fallback) {
  const std::string chartex_upper = "APPLICATION/VND.MS-OFFICE.CHARTEX+XML";
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> erase;
    bool all_unknown;
  };
  const std::vector<Case> cases = {
      {"no content types, no pivot or chart part", {}, {"[Content_Types].xml"}, false},
      {"no content types, a chart part by name", {{"XL/Charts/Chart9.xml", "<x/>"}}, {"[Content_Types].xml"}, true},
      {"failed check, chartex type in capitals",
       {{"[Content_Types].xml", "<Types><Override PartName=\"/a\" ContentType=\"" + chartex_upper +
                                    "\"/><Override PartName=\"/A\" ContentType=\"x\"/></Types>"}},
       {},
       true},
      {"failed check, nothing retained",
       {{"[Content_Types].xml", "<Types><Override PartName=\"/a\" ContentType=\"x\"/>"
                                "<Override PartName=\"/A\" ContentType=\"x\"/></Types>"}},
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = Package::basic();
    for (const auto& [name, bytes] : c.set) pkg.set(name, bytes);
    for (const std::string& name : c.erase) pkg.erase(name);
    std::string expected;
    if (c.all_unknown) {
      for (const opc::PackagePart& part : pkg.parts) expected += (expected.empty() ? "" : ";") + part.name + "=?";
    }
    EXPECT_EQ(inventory_of(pkg), expected);
  }
}

TEST(PackageInventory, GroupsKeepListsOnlyForUniqueSheets) {
  std::vector<model::SheetModel> sheets(3);
  sheets[0].name = "Data";
  sheets[1].name = "data";
  sheets[2].name = "Other";
  const model::CellRef a1{0, 0, false, false};
  EXPECT_TRUE(make_retained_group("g", std::vector<RetainedCellRef>{{"OTHER", a1}}, sheets).refs.has_value());
  EXPECT_FALSE(make_retained_group("g", std::vector<RetainedCellRef>{{"DATA", a1}}, sheets).refs.has_value());
  EXPECT_FALSE(make_retained_group("g", std::vector<RetainedCellRef>{{"Nope", a1}}, sheets).refs.has_value());
  EXPECT_FALSE(make_retained_group("g", std::vector<RetainedCellRef>{{"Other", a1}}, {}).refs.has_value());
  EXPECT_TRUE(make_retained_group("g", std::vector<RetainedCellRef>{}, {}).refs.has_value());
}

TEST(PackageInventory, UnreadableDrawings) {
  const opc::PartIndex index(pivot_package().parts);
  Package pkg = pivot_package();
  const opc::PartIndex parts(pkg.parts);
  auto types = read_content_type_entries(*parts.find("[Content_Types].xml"));
  ASSERT_TRUE(types.has_value());
  const PartContentTypes keyed = collect_part_content_types(pkg.parts, *types);
  std::vector<model::SheetModel> sheets(2);
  sheets[0].name = "Sheet1";
  sheets[1].name = "Data";
  const std::vector<std::string> sheet_parts{"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"};
  const std::vector<std::string> unreadable{"xl/drawings/d.xml", "xl/pivotCache/pivotCacheDefinition1.xml",
                                            "xl/drawings/d.xml"};
  auto inventory = build_package_inventory(parts, keyed, *types, sheets, sheet_parts, unreadable);
  ASSERT_TRUE(inventory.has_value());
  EXPECT_EQ(describe(*inventory),
            "xl/pivotTables/pivotTable1.xml=Sheet1!D12;xl/pivotCache/pivotCacheDefinition1.xml=?;"
            "xl/pivotCache/pivotCacheRecords1.xml=Data!D20;xl/drawings/d.xml=?");
}

std::string chart_part(const std::string& body, const std::string& extra = "") {
  return "<c:chartSpace xmlns:c=\"" + kChartNs + "\"><c:chart><c:plotArea><c:barChart>" + body +
         "</c:barChart></c:plotArea></c:chart>" + extra + "</c:chartSpace>";
}

std::string series(const std::string& ref, const std::string& cache = "<c:numCache/>") {
  return "<c:ser><c:val><c:numRef><c:f>" + ref + "</c:f>" + cache + "</c:numRef></c:val></c:ser>";
}

TEST(PackageInventory, ChartGroups) {
  const std::string frame = "<xdr:graphicFrame><a:graphic xmlns:a=\"urn:a\"><a:graphicData><c:chart r:id=\"rId1\"/>"
                            "</a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>";
  struct Case {
    const char* label;
    std::string chart;
    std::string expected_chart_group;  // empty: none
  };
  const std::vector<Case> cases = {
      {"rewritable column", chart_part(series("Data!$A$1:$A$3")), ""},
      {"two-dimensional area", chart_part(series("Data!$A$1:$B$3")), "xl/charts/chart1.xml=Data!B3"},
      {"without sheet, read against the host", chart_part(series("$A$1:$B$3")), "xl/charts/chart1.xml=Sheet1!B3"},
      {"external data", chart_part(series("Data!$A$1:$A$3"), "<c:externalData r:id=\"x\" xmlns:r=\"urn:r\"/>"),
       "xl/charts/chart1.xml=?"},
      {"reference to a missing sheet", chart_part(series("Gone!$A$1:$B$3")), "xl/charts/chart1.xml=?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = with_drawing(pivot_package(), drawing(frame));
    pkg.set("xl/drawings/_rels/drawing1.xml.rels", rels_part({{"rId1", "chart", "../charts/chart1.xml", ""}}));
    pkg.set("xl/charts/chart1.xml", c.chart);
    std::string expected = kPivotGroups;
    if (!c.expected_chart_group.empty()) expected += ";" + c.expected_chart_group;
    EXPECT_EQ(inventory_of(pkg), expected);
  }
  // A chart that does not decode is unreadable to the workbook reader, and
  // so unknown to the inventory.
  Package broken = with_drawing(pivot_package(), drawing(frame));
  broken.set("xl/drawings/_rels/drawing1.xml.rels", rels_part({{"rId1", "chart", "../charts/chart1.xml", ""}}));
  broken.set("xl/charts/chart1.xml", std::string("\xFF\xFE<\x00", 4));
  EXPECT_EQ(inventory_of(broken), kPivotGroups + ";xl/charts/chart1.xml=?");
}

}  // namespace
}  // namespace cmx::reader
