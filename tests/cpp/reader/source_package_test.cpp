// The source package record of hand-made packages: what it keeps of the
// workbook part, its relationships and content types, how each sheet finds
// its part (always as the workbook reader did), the calculation chain and
// the workbook-level parts; each refusal message; and the queries other
// subsystems ask of the record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_builder.h"
#include "reader/source_package.h"
#include "reader/source_queries.h"
#include "reader/workbook_reader.h"
#include "xml/part_template.h"

namespace cmx::reader {
namespace {

using testing::Package;
using testing::Rel;
using testing::rels_part;
using testing::sheet_part;
using testing::workbook_part;

std::string error_text(const Result<OpenedPackage, SpreadsheetParseError>& opened) {
  return opened.has_value() ? std::string("opened") : xml::parse_error_message(opened.error());
}

TEST(SourcePackage, KeepsWhatASaveNeeds) {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml",
          workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" state=\"hidden\" r:id=\"rId1\"/>",
                        "<workbookPr date1904=\"1\"/>") );
  const std::vector<opc::PackagePart> archive = pkg.parts;
  auto opened = open_source_package(pkg.parts);
  ASSERT_TRUE(opened.has_value()) << error_text(opened);
  const SourcePackage& source = opened->source;
  EXPECT_EQ(source.parts, archive);
  ASSERT_EQ(source.sheets.size(), 1u);
  const SourceSheet& sheet = source.sheets[0];
  EXPECT_EQ(sheet.part_name, "xl/worksheets/sheet1.xml");
  EXPECT_EQ(sheet.r_id, "rId1");
  EXPECT_EQ(sheet.rel_type, std::string(testing::kOfficeRels) + "/worksheet");
  EXPECT_EQ(sheet.sheet_id, 1u);
  EXPECT_EQ(sheet.start_tag, (opc::AttributeList{{"name", "Sheet1"}, {"sheetId", "1"}, {"state", "hidden"},
                                                 {"r:id", "rId1"}}));
  EXPECT_EQ(xml::join_part_template(sheet.template_), sheet_part());
  EXPECT_EQ(source.workbook_pr, (opc::AttributeList{{"date1904", "1"}}));
  EXPECT_TRUE(source.sheets_tag.empty());
  EXPECT_FALSE(source.calc_pr.has_value());
  ASSERT_EQ(source.content_types.size(), 3u);
  EXPECT_EQ(source.content_types[2].kind, "Override");
  EXPECT_EQ(source.content_types[2].attributes[0], (opc::AttributePair{"PartName", "/xl/workbook.xml"}));
  ASSERT_EQ(source.root_relationships.size(), 1u);
  EXPECT_EQ(source.root_relationships[0][2], (opc::AttributePair{"Target", "xl/workbook.xml"}));
  EXPECT_EQ(source.workbook_relationships.size(), 1u);
  EXPECT_FALSE(source.styles_part.has_value());
  EXPECT_TRUE(source.calc_chain.empty());
  EXPECT_TRUE(source.inventory.empty());
  ASSERT_EQ(source.base_model.sheets.size(), 1u);
  EXPECT_TRUE(source.base_model.sheets[0].cells == opened->model.sheets[0].cells);
  EXPECT_EQ(source.base_model.date_system, model::DateSystem::V1904);
  EXPECT_EQ(sheet_state_at(source.sheets, 0), SheetState::Hidden);
}

// Each row changes the basic package and states the sheets' parts and ids,
// or the error that refuses it.
TEST(SourcePackage, SheetsAndRefusals) {
  const std::string chart_rel = std::string(testing::kOfficeRels) + "/chartsheet";
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> set;  // name, bytes ("" erases)
    std::string expected;  // "part#id,..." or the error message
  };
  const std::vector<Case> cases = {
      {"basic", {}, "xl/worksheets/sheet1.xml#1"},
      {"sheetId not a number",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"A\" sheetId=\"abc\" r:id=\"rId1\"/>")}},
       "xl/worksheets/sheet1.xml#1"},
      {"sheetId 7", {{"xl/workbook.xml", workbook_part("<sheet name=\"A\" sheetId=\"7\" r:id=\"rId1\"/>")}},
       "xl/worksheets/sheet1.xml#7"},
      {"nested sheet is no entry",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<x><sheet name=\"B\" sheetId=\"2\" r:id=\"rId1\"/></x>")}},
       "xl/worksheets/sheet1.xml#1"},
      {"no sheets element",
       {{"xl/workbook.xml", "<workbook xmlns=\"" + std::string(testing::kMainNs) + "\"/>"}}, ""},
      // The reader takes an external sheet from its default part; so does the record.
      {"external relationship falls back to the default part",
       {{"xl/_rels/workbook.xml.rels",
         rels_part({{"rId1", "worksheet", "remote/sheet1.xml", " TargetMode=\"External\""}})}},
       "xl/worksheets/sheet1.xml#1"},
      {"unknown relationship id falls back to the default part",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"A\" sheetId=\"1\" r:id=\"rId9\"/>")}},
       "xl/worksheets/sheet1.xml#1"},
      {"target resolved against xl",
       {{"xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "/xl/other/data.xml", ""}})},
        {"xl/other/data.xml", sheet_part()}},
       "xl/other/data.xml#1"},
      {"chart sheet with its own part",
       {{"xl/_rels/workbook.xml.rels", rels_part({{"rId1", "chartsheet", "chartsheets/sheet1.xml", ""}})},
        {"xl/chartsheets/sheet1.xml", "<chartsheet xmlns=\"" + std::string(testing::kMainNs) + "\"/>"}},
       "xl/chartsheets/sheet1.xml#1"},
      {"chart sheet without its part",
       {{"xl/_rels/workbook.xml.rels", rels_part({{"rId1", "chartsheet", "chartsheets/sheet1.xml", ""}})}},
       "missing part: xl/chartsheets/sheet1.xml"},
      {"no workbook part", {{"xl/workbook.xml", ""}}, "missing part: xl/workbook.xml"},
      {"sheet part missing", {{"xl/worksheets/sheet1.xml", ""}}, "missing part: xl/worksheets/sheet1.xml"},
      {"two sheets, one part",
       {{"xl/workbook.xml", workbook_part("<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"B\" sheetId=\"2\" r:id=\"rId2\"/>")},
        {"xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                  {"rId2", "worksheet", "/XL/worksheets/sheet1.xml", ""}})},
        {"XL/worksheets/sheet1.xml", sheet_part()}},
       "malformed spreadsheetml: duplicate sheet part XL/worksheets/sheet1.xml"},
      {"sheet part that is no xml", {{"xl/worksheets/sheet1.xml", "<worksheet"}}, "!"},
      {"content types that are no xml", {{"[Content_Types].xml", "<Types><Default/></Tpyes>"}}, "!"},
      {"root relationships that are no xml", {{"_rels/.rels", "<Relationships"}}, "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = Package::basic();
    for (const auto& [name, bytes] : c.set) {
      if (bytes.empty()) {
        pkg.erase(name);
      } else {
        pkg.set(name, bytes);
      }
    }
    auto opened = open_source_package(pkg.parts);
    if (c.expected == "!") {
      ASSERT_FALSE(opened.has_value());
      EXPECT_EQ(opened.error().kind, xml::ParseErrorKind::Xml) << error_text(opened);
      continue;
    }
    if (!opened.has_value()) {
      EXPECT_EQ(error_text(opened), c.expected);
      continue;
    }
    std::string got;
    for (const SourceSheet& sheet : opened->source.sheets) {
      if (!got.empty()) got += ",";
      got += sheet.part_name + "#" + std::to_string(sheet.sheet_id);
    }
    EXPECT_EQ(got, c.expected);
    // The model has one sheet per record sheet, read from the same part.
    ASSERT_EQ(opened->model.sheets.size(), opened->source.sheets.size());
  }
}

TEST(SourcePackage, CalcChainAndWorkbookParts) {
  struct Case {
    const char* label;
    std::vector<Rel> extra_rels;
    std::vector<std::string> extra_parts;
    std::string calc_chain;  // "name#id;..."
    std::string styles;      // "name#id" or "none"
  };
  const std::vector<Case> cases = {
      {"relationship to a missing chain", {{"rId7", "calcChain", "calcChain.xml", ""}}, {}, "xl/calcChain.xml#rId7",
       "none"},
      {"chain part without relationship", {}, {"xl/calcChain.xml"}, "xl/calcChain.xml#", "none"},
      {"two chains, one without target",
       {{"rId7", "calcChain", "/xl/c1.xml", ""}, {"rId8", "calcChain", "c2.xml", ""}},
       {},
       "xl/c1.xml#rId7;xl/c2.xml#rId8",
       "none"},
      {"styles relationship to a missing part, default present",
       {{"rId3", "styles", "other.xml", ""}},
       {"xl/styles.xml"},
       "",
       "xl/styles.xml#"},
      {"styles relationship", {{"rId3", "styles", "s/st.xml", ""}}, {"xl/s/st.xml"}, "", "xl/s/st.xml#rId3"},
  };
  const std::string styles = "<styleSheet xmlns=\"" + std::string(testing::kMainNs) + "\"/>";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg = Package::basic();
    std::vector<Rel> rels{{"rId1", "worksheet", "worksheets/sheet1.xml", ""}};
    rels.insert(rels.end(), c.extra_rels.begin(), c.extra_rels.end());
    pkg.set("xl/_rels/workbook.xml.rels", rels_part(rels));
    for (const std::string& name : c.extra_parts) {
      pkg.set(name, name.ends_with("calcChain.xml") ? "<calcChain/>" : styles);
    }
    auto opened = open_source_package(pkg.parts);
    ASSERT_TRUE(opened.has_value()) << error_text(opened);
    std::string chain;
    for (const RelatedPart& part : opened->source.calc_chain) {
      if (!chain.empty()) chain += ";";
      chain += part.name + "#" + part.id.value_or("");
    }
    EXPECT_EQ(chain, c.calc_chain);
    const auto& found = opened->source.styles_part;
    EXPECT_EQ(found ? found->name + "#" + found->id.value_or("") : "none", c.styles);
    EXPECT_EQ(opened->source.styles_template.has_value(), found.has_value());
  }
}

TEST(SourcePackage, TemplateChildrenByRootNamespace) {
  const std::string ns = std::string(testing::kMainNs);
  auto made = xml::read_part_template("<x:workbook xmlns:x=\"" + ns + "\" xmlns:o=\"urn:other\"><o:calcPr a=\"1\"/>"
                                      "<x:calcPr b=\"2\"/><calcPr c=\"3\"/><x:calcPr d=\"4\"/></x:workbook>");
  ASSERT_TRUE(made.has_value());
  const xml::PartTemplateChild* child = find_template_child(*made, "calcPr");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->text, "<x:calcPr b=\"2\"/>");
  EXPECT_EQ(find_template_children(*made, "calcPr").size(), 2u);
  auto bare = xml::read_part_template("<workbook><x:calcPr xmlns:x=\"" + ns + "\"/><calcPr/></workbook>");
  ASSERT_TRUE(bare.has_value());
  ASSERT_NE(find_template_child(*bare, "calcPr"), nullptr);
  EXPECT_EQ(find_template_child(*bare, "calcPr")->text, "<calcPr/>");
}

TEST(SourcePackage, FragmentStartTags) {
  struct Case {
    const char* fragment;
    std::string expected;  // "name=value;..." or the error message
  };
  const std::vector<Case> cases = {
      {"  <sheets/>", ""},
      {"<!-- c --><calcPr calcId=\"1\" fullCalcOnLoad=\"&amp;\">x</calcPr>", "calcId=1;fullCalcOnLoad=&"},
      {"text only", "malformed spreadsheetml: xml fragment has no element"},
      {"", "malformed spreadsheetml: xml fragment has no element"},
      {"<a b=\"1\" b=\"2\"/>", "!"},
      {"<a b=\"&bogus;\"/>", "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fragment);
    auto attributes = parse_fragment_start_tag(c.fragment);
    if (c.expected == "!") {
      ASSERT_FALSE(attributes.has_value());
      EXPECT_EQ(attributes.error().kind, xml::ParseErrorKind::Xml);
      continue;
    }
    if (!attributes.has_value()) {
      EXPECT_EQ(xml::parse_error_message(attributes.error()), c.expected);
      continue;
    }
    std::string got;
    for (const opc::AttributePair& attr : *attributes) got += (got.empty() ? "" : ";") + attr.name + "=" + attr.value;
    EXPECT_EQ(got, c.expected);
  }
}

// Every cut of a start tag is refused: an empty or blank prefix has no
// element, any other one is a syntax error of the reader.
TEST(SourcePackage, TruncatedFragments) {
  const std::string tag = "  <calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>";
  for (size_t length = 0; length < tag.size(); ++length) {
    SCOPED_TRACE(length);
    auto attributes = parse_fragment_start_tag(tag.substr(0, length));
    ASSERT_FALSE(attributes.has_value());
    EXPECT_EQ(attributes.error().kind, length <= 2 ? xml::ParseErrorKind::Malformed : xml::ParseErrorKind::Xml);
  }
  EXPECT_TRUE(parse_fragment_start_tag(tag).has_value());
}

// Every part of a package cut at every byte: the record opens or refuses
// with a stated error, and what opens still describes the parts it was given.
TEST(SourcePackage, TruncatedParts) {
  const Package whole = Package::basic();
  for (size_t part_idx = 0; part_idx < whole.parts.size(); ++part_idx) {
    const std::string& bytes = whole.parts[part_idx].bytes;
    for (size_t length = 0; length < bytes.size(); ++length) {
      SCOPED_TRACE(whole.parts[part_idx].name + " cut at " + std::to_string(length));
      Package pkg = whole;
      pkg.parts[part_idx].bytes.resize(length);
      auto opened = open_source_package(pkg.parts);
      if (!opened.has_value()) {
        const xml::ParseErrorKind kind = opened.error().kind;
        EXPECT_TRUE(kind == xml::ParseErrorKind::Xml || kind == xml::ParseErrorKind::Malformed ||
                    kind == xml::ParseErrorKind::MissingPart)
            << error_text(opened);
        continue;
      }
      EXPECT_EQ(opened->source.parts, pkg.parts);
      EXPECT_EQ(opened->source.sheets.size(), opened->model.sheets.size());
    }
  }
}

TEST(SourcePackage, RelationshipAndContentTypeListsAsWritten) {
  auto rels = read_rels_attribute_lists(
      "<Relationships><Relationship Target=\"a\" Id=\"r1\"/><x><p:Relationship xmlns:p=\"u\" Type=\"t\"/></x>"
      "<Other Id=\"r2\"/></Relationships>");
  ASSERT_TRUE(rels.has_value());
  EXPECT_EQ(*rels, (std::vector<opc::AttributeList>{{{"Target", "a"}, {"Id", "r1"}},
                                                     {{"xmlns:p", "u"}, {"Type", "t"}}}));
  auto types = read_content_type_entries(
      "<Types><Override PartName=\"/xl/workbook.xml\" ContentType=\"c\"/><default Extension=\"x\"/>"
      "<Default Extension=\"xml\" ContentType=\"d\"/></Types>");
  ASSERT_TRUE(types.has_value());
  ASSERT_EQ(types->size(), 2u);
  EXPECT_EQ((*types)[0], (opc::ContentTypeEntry{"Override", {{"PartName", "/xl/workbook.xml"}, {"ContentType", "c"}}}));
  EXPECT_EQ((*types)[1].kind, "Default");
}

TEST(SourceQueries, EditGuards) {
  const model::CellRef row9_col2{9, 2, false, false};
  const std::vector<RetainedCellRefs> one{{"pivot", std::vector<RetainedCellRef>{{"Sheet1", row9_col2}}}};
  const std::vector<RetainedCellRefs> unknown_first{{"unknown", std::nullopt},
                                                    {"pivot", std::vector<RetainedCellRef>{{"Sheet1", row9_col2}}}};
  const std::vector<RetainedCellRefs> empty_list{{"empty", std::vector<RetainedCellRef>{}}};
  const std::vector<RetainedCellRefs> two{{"first", std::vector<RetainedCellRef>{{"Sheet1", row9_col2}}},
                                          {"second", std::vector<RetainedCellRef>{{"Sheet1", row9_col2}}}};
  const std::vector<RetainedCellRefs> umlaut{{"u", std::vector<RetainedCellRef>{{"\xC3\x84" "1", row9_col2}}}};
  struct Case {
    const char* label;
    const std::vector<RetainedCellRefs>* groups;
    const char* sheet;
    bool rows;
    uint32_t at;
    const char* blocked;  // nullptr: none
  };
  const std::vector<Case> cases = {
      {"row at the corner", &one, "SHEET1", true, 9, "pivot"},
      {"row before", &one, "Sheet1", true, 0, "pivot"},
      {"row after", &one, "Sheet1", true, 10, nullptr},
      {"other sheet", &one, "Sheet2", true, 0, nullptr},
      {"column at the corner", &one, "sheet1", false, 2, "pivot"},
      {"column after", &one, "Sheet1", false, 3, nullptr},
      {"unknown blocks any sheet", &unknown_first, "Other", true, 1000, "unknown"},
      {"empty list blocks nothing", &empty_list, "Sheet1", true, 0, nullptr},
      {"first blocking group wins", &two, "Sheet1", false, 0, "first"},
      {"non-ASCII letters keep their case", &umlaut, "\xC3\xA4" "1", true, 0, nullptr},
      {"non-ASCII letters identical", &umlaut, "\xC3\x84" "1", true, 0, "u"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::optional<std::string_view> got = c.rows ? retained_ref_blocking_row_edit(*c.groups, c.sheet, c.at)
                                                       : retained_ref_blocking_column_edit(*c.groups, c.sheet, c.at);
    if (c.blocked == nullptr) {
      EXPECT_FALSE(got.has_value());
    } else {
      EXPECT_EQ(got, std::optional<std::string_view>(c.blocked));
    }
  }
}

TEST(SourceQueries, SheetStateAndKind) {
  struct Case {
    opc::AttributeList start_tag;
    std::optional<std::string> rel_type;
    SheetState state;
    bool worksheet;
  };
  const std::string base = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::vector<Case> cases = {
      {{{"name", "A"}, {"state", "veryHidden"}}, base + "worksheet", SheetState::VeryHidden, true},
      {{{"x:state", "hidden"}}, std::nullopt, SheetState::Hidden, true},
      {{{"state", "VeryHidden"}}, base + "chartsheet", SheetState::Other, false},
      {{{"state", ""}}, base + "dialogsheet", SheetState::Other, false},
      {{{"state", "visible"}, {"state", "hidden"}}, std::string("worksheet"), SheetState::Visible, true},
      {{}, std::string(""), SheetState::Visible, false},
  };
  std::vector<SourceSheet> sheets;
  for (const Case& c : cases) {
    SourceSheet sheet;
    sheet.start_tag = c.start_tag;
    sheet.rel_type = c.rel_type;
    sheets.push_back(std::move(sheet));
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sheet_state_at(sheets, i), cases[i].state);
    EXPECT_EQ(sheet_at_is_worksheet(sheets, i), cases[i].worksheet);
  }
  EXPECT_EQ(sheet_state_at(sheets, sheets.size()), SheetState::NoSheet);
  EXPECT_EQ(static_cast<int>(SheetState::NoSheet), 255);
  EXPECT_TRUE(sheet_at_is_worksheet(sheets, sheets.size()));
}

}  // namespace
}  // namespace cmx::reader
