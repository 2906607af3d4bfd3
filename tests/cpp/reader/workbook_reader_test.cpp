#include "reader/workbook_reader.h"

#include <gtest/gtest.h>

#include "reader/sheet_entries.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using opc::PackagePart;

constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string workbook(const std::string& body) {
  return "<workbook xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + std::string(kRel) + "\">" + body +
         "</workbook>";
}

std::string sheet_tag(const std::string& name, const std::string& rid) {
  return "<sheet name=\"" + name + "\" sheetId=\"1\"" + (rid.empty() ? "" : " r:id=\"" + rid + "\"") + "/>";
}

std::string worksheet(const std::string& value) {
  return "<worksheet xmlns=\"" + std::string(kMain) + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>" + value +
         "</v></c></row></sheetData></worksheet>";
}

struct Rel {
  std::string id, type, target, extra;
};

std::string rels(const std::vector<Rel>& list) {
  std::string out = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const Rel& rel : list) {
    out += "<Relationship Id=\"" + rel.id + "\"";
    if (!rel.type.empty()) out += " Type=\"" + std::string(kRel) + "/" + rel.type + "\"";
    out += " Target=\"" + rel.target + "\"" + rel.extra + "/>";
  }
  return out + "</Relationships>";
}

struct Package {
  std::vector<PackagePart> parts;
  Package& add(std::string name, std::string bytes) {
    parts.push_back(PackagePart{std::move(name), std::move(bytes)});
    return *this;
  }
  Result<WorkbookRead, SpreadsheetParseError> read() const { return read_workbook(parts); }
};

std::string error_text(const Result<WorkbookRead, SpreadsheetParseError>& read) {
  return read.has_value() ? "ok" : xml::parse_error_message(read.error());
}

TEST(WorkbookReader, MissingWorkbookPart) {
  Package pkg;
  pkg.add("_rels/.rels", rels({{"rId1", "officeDocument", "xl/book.xml"}})).add("xl/book.xml", workbook(""));
  EXPECT_EQ(error_text(pkg.read()), "missing part: xl/workbook.xml");
}

TEST(WorkbookReader, SheetsInOrderWithOrWithoutPrefix) {
  Package pkg;
  pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("B", "rId2") +
                                      "<sheet name=\"A\" sheetId=\"2\" id=\"rId1\"/>" + sheet_tag("C", "") +
                                      "</sheets>"))
      .add("xl/_rels/workbook.xml.rels",
           rels({{"rId1", "worksheet", "worksheets/a.xml"}, {"rId2", "worksheet", "/xl/worksheets/b.xml"}}))
      .add("xl/worksheets/a.xml", worksheet("1"))
      .add("xl/worksheets/b.xml", worksheet("2"))
      .add("xl/worksheets/sheet3.xml", worksheet("3"));
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  ASSERT_EQ(read->model.sheets.size(), 3u);
  EXPECT_EQ(read->model.sheets[0].name, "B");
  EXPECT_EQ(testing::describe(read->model.sheets[0].cells), "A1=n:2");
  EXPECT_EQ(testing::describe(read->model.sheets[1].cells), "A1=n:1");
  EXPECT_EQ(testing::describe(read->model.sheets[2].cells), "A1=n:3");
  EXPECT_EQ(read->shared_string_cells.size(), 3u);
  EXPECT_EQ(read->cell_notes.size(), 3u);
  EXPECT_EQ(read->source_dimensions.size(), 3u);
}

TEST(WorkbookReader, EmptyAndRepeatedNamesAreNotRefusedHere) {
  Package pkg;
  pkg.add("xl/workbook.xml", workbook("<sheets/>"));
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(read->model.sheets.empty());

  Package twice;
  twice.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("S", "") + sheet_tag("S", "") + "</sheets>"))
      .add("xl/worksheets/sheet1.xml", worksheet("1"))
      .add("xl/worksheets/sheet2.xml", worksheet("2"));
  auto both = twice.read();
  ASSERT_TRUE(both.has_value());
  EXPECT_EQ(both->model.sheets.size(), 2u);
}

TEST(WorkbookReader, DefinedNames) {
  Package pkg;
  pkg.add("xl/workbook.xml",
          workbook("<definedNames><definedName name=\"a\" localSheetId=\"-1\">A1</definedName>"
                   "<definedName name=\"b\" localSheetId=\"abc\">B1</definedName>"
                   "<definedName name=\"c\" localSheetId=\"+2\" hidden=\"TRUE\">C1</definedName>"
                   "<definedName name=\"d\" hidden=\"1\">D1</definedName><definedName name=\"e\"/>"
                   "<definedName name=\"n\">Sheet1!<![CDATA[$A$1]]></definedName>"
                   "<definedName>x&amp;y</definedName></definedNames>"));
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  const std::vector<model::DefinedName> expected = {
      {"a", "A1", std::nullopt, false}, {"b", "B1", std::nullopt, false}, {"c", "C1", 2u, false},
      {"d", "D1", std::nullopt, true},  {"e", "", std::nullopt, false},   {"n", "Sheet1!$A$1", std::nullopt, false},
      {"", "x&y", std::nullopt, false},
  };
  EXPECT_EQ(read->model.defined_names, expected);

  Package unclosed;
  unclosed.add("xl/workbook.xml", "<workbook><definedNames><definedName name=\"x\">A1");
  EXPECT_EQ(error_text(unclosed.read()), "malformed spreadsheetml: unexpected eof in text");
}

TEST(WorkbookReader, DefinedNameCap) {
  for (const uint64_t count : {MAX_DEFINED_NAMES, MAX_DEFINED_NAMES + 1}) {
    SCOPED_TRACE(count);
    std::string names;
    for (uint64_t i = 0; i < count; ++i) names += "<definedName name=\"n\">1</definedName>";
    Package pkg;
    pkg.add("xl/workbook.xml", workbook("<definedNames>" + names + "</definedNames>"));
    auto read = pkg.read();
    if (count == MAX_DEFINED_NAMES) {
      ASSERT_TRUE(read.has_value());
      EXPECT_EQ(read->model.defined_names.size(), count);
    } else {
      EXPECT_EQ(error_text(read), "defined name count exceeded cap");
    }
  }
}

TEST(WorkbookReader, DateSystemAndActiveTab) {
  struct Case {
    std::string body;
    model::DateSystem system;
    uint32_t active_tab;
  };
  using model::DateSystem;
  const std::vector<Case> cases = {
      {"<workbookPr date1904=\"1\"/>", DateSystem::V1904, 0},
      {"<workbookPr date1904=\"on\"/>", DateSystem::V1904, 0},
      {"<workbookPr date1904=\"true\"/>", DateSystem::V1904, 0},
      {"<workbookPr date1904=\"True\"/>", DateSystem::V1900, 0},
      {"<workbookPr date1904=\"yes\"/>", DateSystem::V1900, 0},
      {"<workbookPr date1904=\"0\"/>", DateSystem::V1900, 0},
      {"<workbookPr date1904=\"1\"/><workbookPr/>", DateSystem::V1904, 0},
      {"<bookViews><workbookView/><workbookView activeTab=\"2\"/></bookViews>", DateSystem::V1900, 0},
      {"<bookViews><workbookView activeTab=\"+3\"/></bookViews>", DateSystem::V1900, 3},
      {"<bookViews><workbookView activeTab=\"x\"/></bookViews>", DateSystem::V1900, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Package pkg;
    pkg.add("xl/workbook.xml", workbook(c.body));
    auto read = pkg.read();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->model.date_system, c.system);
    EXPECT_EQ(read->active_tab, c.active_tab);
  }
}

TEST(WorkbookReader, SheetPartNames) {
  struct Case {
    const char* label;
    std::vector<Rel> rels;
    std::string part;  // where the single sheet's cells come from; empty: fails
    std::string error;
  };
  const std::vector<Case> cases = {
      {"absolute target", {{"rId1", "worksheet", "/xl/worksheets/sheet1.xml"}}, "xl/worksheets/sheet1.xml", ""},
      {"relative target", {{"rId1", "worksheet", "worksheets/sheet1.xml"}}, "xl/worksheets/sheet1.xml", ""},
      {"dotted target", {{"rId1", "worksheet", "./worksheets/../worksheets/sheet1.xml"}}, "xl/worksheets/sheet1.xml",
       ""},
      {"no type", {{"rId1", "", "other.xml"}}, "xl/other.xml", ""},
      {"unknown id", {{"rId9", "worksheet", "other.xml"}}, "xl/worksheets/sheet1.xml", ""},
      {"external", {{"rId1", "worksheet", "remote/sheet1.xml", " TargetMode=\"External\""}},
       "xl/worksheets/sheet1.xml", ""},
      {"missing part", {{"rId1", "worksheet", "gone.xml"}}, "", "missing part: xl/gone.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg;
    pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("S", "rId1") + "</sheets>"))
        .add("xl/_rels/workbook.xml.rels", rels(c.rels))
        .add("xl/worksheets/sheet1.xml", worksheet("1"))
        .add("xl/other.xml", worksheet("2"));
    auto read = pkg.read();
    if (c.part.empty()) {
      EXPECT_EQ(error_text(read), c.error);
      continue;
    }
    ASSERT_TRUE(read.has_value()) << error_text(read);
    EXPECT_EQ(testing::describe(read->model.sheets[0].cells), c.part == "xl/other.xml" ? "A1=n:2" : "A1=n:1");
  }

  Package third;
  third.add("xl/workbook.xml",
            workbook("<sheets>" + sheet_tag("a", "") + sheet_tag("b", "") + sheet_tag("c", "rId7") + "</sheets>"))
      .add("xl/worksheets/sheet1.xml", worksheet("1"))
      .add("xl/worksheets/sheet2.xml", worksheet("1"));
  EXPECT_EQ(error_text(third.read()), "missing part: xl/worksheets/sheet3.xml");
}

TEST(WorkbookReader, OnlyDirectChildrenOfSheetsAreSheets) {
  Package pkg;
  pkg.add("xl/workbook.xml",
          workbook("<sheets>" + sheet_tag("A", "") + "<x>" + sheet_tag("nested", "") + "</x></sheets>" +
                   "<extLst><ext>" + sheet_tag("stray", "") + "</ext></extLst>"))
      .add("xl/worksheets/sheet1.xml", worksheet("1"));
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  ASSERT_EQ(read->model.sheets.size(), 1u);
  EXPECT_EQ(read->model.sheets[0].name, "A");
}

TEST(WorkbookReader, DuplicateSheetPartsAreRefused) {
  Package pkg;
  pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("A", "rId1") + sheet_tag("B", "rId2") + "</sheets>"))
      .add("xl/_rels/workbook.xml.rels",
           rels({{"rId1", "worksheet", "worksheets/sheet1.xml"}, {"rId2", "worksheet", "/xl/worksheets/sheet1.xml"}}))
      .add("xl/worksheets/sheet1.xml", worksheet("1"));
  EXPECT_EQ(error_text(pkg.read()), "malformed spreadsheetml: duplicate sheet part xl/worksheets/sheet1.xml");

  // A sheet without a relationship falls back on a name another sheet took.
  Package fallback;
  fallback.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("A", "rId1") + sheet_tag("B", "") + "</sheets>"))
      .add("xl/_rels/workbook.xml.rels", rels({{"rId1", "worksheet", "worksheets/sheet2.xml"}}))
      .add("xl/worksheets/sheet2.xml", worksheet("1"));
  EXPECT_EQ(error_text(fallback.read()), "malformed spreadsheetml: duplicate sheet part xl/worksheets/sheet2.xml");

  Package charts;
  charts.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("A", "rId1") + sheet_tag("B", "rId2") + "</sheets>"))
      .add("xl/_rels/workbook.xml.rels",
           rels({{"rId1", "chartsheet", "chartsheets/sheet1.xml"}, {"rId2", "chartsheet", "chartsheets/sheet1.xml"}}));
  EXPECT_EQ(error_text(charts.read()), "malformed spreadsheetml: duplicate sheet part xl/chartsheets/sheet1.xml");
}

TEST(WorkbookReader, ChartSheetsHaveChartsAndNoCells) {
  const std::string drawing =
      "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
      "xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" xmlns:r=\"" +
      std::string(kRel) +
      "\"><xdr:absoluteAnchor><xdr:pos x=\"0\" y=\"0\"/><xdr:ext cx=\"9\" cy=\"8\"/><xdr:graphicFrame>"
      "<c:chart r:id=\"rId1\"/></xdr:graphicFrame></xdr:absoluteAnchor></xdr:wsDr>";
  Package pkg;
  pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("C", "rId1") + sheet_tag("E", "rId2") + "</sheets>"))
      .add("xl/_rels/workbook.xml.rels",
           rels({{"rId1", "chartsheet", "chartsheets/sheet1.xml"},
                 {"rId2", "chartsheet", "http://x/y.xml", " TargetMode=\"External\""}}))
      .add("xl/chartsheets/_rels/sheet1.xml.rels", rels({{"rId1", "drawing", "../drawings/drawing1.xml"}}))
      .add("xl/drawings/drawing1.xml", drawing)
      .add("xl/drawings/_rels/drawing1.xml.rels", rels({{"rId1", "chart", "../charts/chart1.xml"}}))
      .add("xl/charts/chart1.xml",
           "<c:chartSpace xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\"/>");
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  ASSERT_EQ(read->model.sheets.size(), 2u);
  EXPECT_TRUE(read->model.sheets[0].cells.empty());
  ASSERT_EQ(read->model.sheets[0].charts.size(), 1u);
  EXPECT_EQ(read->model.sheets[0].charts[0].part, "xl/charts/chart1.xml");
  EXPECT_EQ(read->model.sheets[0].charts[0].anchor,
            model::ChartAnchor(model::AbsoluteAnchor{{0, 0}, {9, 8}}));
  EXPECT_TRUE(read->model.sheets[1].charts.empty());
  EXPECT_TRUE(read->unreadable_drawings.empty());
}

TEST(WorkbookReader, SharedStringsStylesAndTablesByRelationship) {
  const std::string strings =
      "<sst xmlns=\"" + std::string(kMain) + "\"><si><t>plain</t></si><si><r><t>rich</t></r></si></sst>";
  const std::string styles = "<styleSheet xmlns=\"" + std::string(kMain) +
                             "\"><fonts><font><b/></font></fonts><cellXfs><xf fontId=\"0\"/></cellXfs></styleSheet>";
  const std::string sheet = "<worksheet xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + std::string(kRel) +
                            "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\" t=\"s\" "
                            "s=\"0\"><v>0</v></c></row></sheetData><tableParts><tablePart r:id=\"rId1\"/>"
                            "</tableParts></worksheet>";
  Package pkg;
  pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("S", "rId1") + "</sheets>"))
      .add("xl/_rels/workbook.xml.rels",
           rels({{"rId1", "worksheet", "worksheets/sheet1.xml"}, {"rId2", "sharedStrings", "strings.xml"},
                 {"rId3", "styles", "s/st.xml"}}))
      .add("xl/worksheets/sheet1.xml", sheet)
      .add("xl/worksheets/_rels/sheet1.xml.rels", rels({{"rId1", "table", "../tables/table1.xml"}}))
      .add("xl/tables/table1.xml", "<table xmlns=\"" + std::string(kMain) +
                                       "\" name=\"T\" displayName=\"Tbl\" ref=\"A1:B3\"><tableColumns>"
                                       "<tableColumn name=\"x\"/><tableColumn name=\"y\"/></tableColumns></table>")
      .add("xl/strings.xml", strings)
      .add("xl/s/st.xml", styles)
      .add("xl/styles.xml", "<styleSheet><fonts><font/><font/></fonts></styleSheet>");
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  EXPECT_EQ(read->model.shared_strings, (std::vector<std::string>{"plain", "rich"}));
  EXPECT_EQ(read->rich_string_items, (std::set<uint64_t>{1}));
  EXPECT_EQ(testing::describe(read->model.sheets[0].cells), "A1=t:rich;B1=t:plain|s:0");
  EXPECT_EQ(read->shared_string_cells[0].size(), 2u);
  ASSERT_EQ(read->model.styles.fonts.size(), 1u);
  EXPECT_TRUE(read->model.styles.fonts[0].bold);
  EXPECT_TRUE(read->style_copy.has_value());
  ASSERT_EQ(read->model.tables.size(), 1u);
  EXPECT_EQ(read->model.tables[0].name, "Tbl");
  EXPECT_EQ(read->model.tables[0].sheet, 0u);
}

TEST(WorkbookReader, SharedStringsRelationshipToAMissingPart) {
  Package pkg;
  pkg.add("xl/workbook.xml", workbook(""))
      .add("xl/_rels/workbook.xml.rels", rels({{"rId1", "sharedStrings", "gone.xml"}}))
      .add("xl/sharedStrings.xml", "<sst><si><t>x</t></si></sst>");
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(read->model.shared_strings.empty());
}

TEST(WorkbookReader, ErrorsOfInnerReadersEndTheRead) {
  struct Case {
    const char* label;
    std::string name, bytes;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"workbook rels", "xl/_rels/workbook.xml.rels", "<Relationships><x></y>", "xml error"},
      {"styles", "xl/styles.xml", "<styleSheet><colors><indexedColors><rgbColor rgb=\"q\"/></indexedColors></colors>"
                                  "</styleSheet>", "xml error: invalid indexed palette color"},
      {"sheet rels", "xl/worksheets/_rels/sheet1.xml.rels", "<a></b>", "xml error"},
      {"sheet", "xl/worksheets/sheet1.xml", "<worksheet><sheetData><row><c r=\"A0\"/></row></sheetData></worksheet>",
       "malformed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg;
    pkg.add("xl/workbook.xml", workbook("<sheets>" + sheet_tag("S", "") + "</sheets>")).add(c.name, c.bytes);
    if (c.name != "xl/worksheets/sheet1.xml") pkg.add("xl/worksheets/sheet1.xml", worksheet("1"));
    const std::string text = error_text(pkg.read());
    EXPECT_EQ(text.substr(0, c.error.size()), c.error) << text;
  }
}

TEST(SheetEntries, DirectChildrenWithTheirStartTags) {
  auto entries = read_sheet_entries(workbook(
      "<sheets><sheet name=\"A&amp;B\" sheetId=\"7\" r:id=\"rId1\" state=\"hidden\"/>"
      "<sheet name=\"C\" sheetId=\"abc\"/><a><sheet name=\"deep\"/></a></sheets><sheet name=\"outside\"/>"));
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "A&B");
  EXPECT_EQ((*entries)[0].sheet_id, 7u);
  EXPECT_EQ((*entries)[0].r_id, "rId1");
  EXPECT_EQ((*entries)[0].start_tag,
            (opc::AttributeList{{"name", "A&B"}, {"sheetId", "7"}, {"r:id", "rId1"}, {"state", "hidden"}}));
  EXPECT_EQ((*entries)[1].sheet_id, std::nullopt);
  EXPECT_EQ((*entries)[1].r_id, std::nullopt);
}

TEST(SheetEntries, OnePartNameRule) {
  opc::RelationshipMap rels;
  rels["rId1"] = opc::RelationshipTarget{"worksheets/a.xml", "x/worksheet", false};
  rels["rId2"] = opc::RelationshipTarget{"remote/b.xml", "x/worksheet", true};
  SheetEntry entry;
  EXPECT_EQ(sheet_part_name(sheet_relationship(entry, rels), 0), "xl/worksheets/sheet1.xml");
  entry.r_id = "rId1";
  EXPECT_EQ(sheet_part_name(sheet_relationship(entry, rels), 0), "xl/worksheets/a.xml");
  entry.r_id = "rId2";
  EXPECT_EQ(sheet_part_name(sheet_relationship(entry, rels), 4), "xl/worksheets/sheet5.xml");
  entry.r_id = "rId3";
  EXPECT_EQ(sheet_relationship(entry, rels), nullptr);
}

// Sheets that share a table part and an unreadable drawing: the workbook
// reads the table once and lists the drawing once, however many sheets or
// relationships name them, so the per-part caps bound the whole package.
TEST(WorkbookReader, PartsNamedByManySheetsAreReadOnce) {
  std::string table = "<table xmlns=\"" + std::string(kMain) + "\" ref=\"A1:B2\" name=\"T\"><tableColumns>";
  for (int i = 0; i < 2000; ++i) table += "<tableColumn name=\"c\"/>";
  table += "</tableColumns></table>";
  std::vector<Rel> sheet_rels{{"rIdD", "drawing", "../drawings/shared.xml"}};
  for (int i = 0; i < 300; ++i) sheet_rels.push_back({"rId" + std::to_string(i), "table", "../tables/shared.xml"});
  std::string sheets;
  std::vector<Rel> book_rels;
  Package pkg;
  for (int i = 1; i <= 40; ++i) {
    const std::string n = std::to_string(i);
    sheets += sheet_tag("S" + n, "rId" + n);
    book_rels.push_back({"rId" + n, "worksheet", "worksheets/sheet" + n + ".xml"});
    pkg.add("xl/worksheets/sheet" + n + ".xml", worksheet(n));
    pkg.add("xl/worksheets/_rels/sheet" + n + ".xml.rels", rels(sheet_rels));
  }
  pkg.add("xl/workbook.xml", workbook("<sheets>" + sheets + "</sheets>"));
  pkg.add("xl/_rels/workbook.xml.rels", rels(book_rels));
  pkg.add("xl/tables/shared.xml", table);
  pkg.add("xl/drawings/shared.xml", "<not closed");
  auto read = pkg.read();
  ASSERT_TRUE(read.has_value()) << error_text(read);
  ASSERT_EQ(read->model.sheets.size(), 40u);
  ASSERT_EQ(read->model.tables.size(), 1u);
  EXPECT_EQ(read->model.tables[0].sheet, 0u);
  EXPECT_EQ(read->model.tables[0].columns.size(), 2000u);
  EXPECT_EQ(read->unreadable_drawings, std::vector<std::string>{"xl/drawings/shared.xml"});
}

}  // namespace
}  // namespace cmx::reader
