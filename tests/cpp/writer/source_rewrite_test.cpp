// Rewrites of a save into the source package: the workbook part, the
// relationships and content types, the worksheet part and the shared
// strings, each from a source part holding markup the model does not know.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "source_fixture.h"
#include "writer/namespaces.h"
#include "writer/source_rewrites.h"

namespace cmx::writer {
namespace {

using reader::testing::content_types;
using reader::testing::override_entry;
using reader::testing::Package;
using reader::testing::rels_part;
using reader::testing::sheet_part;

const std::string kMain(reader::testing::kMainNs);
const std::string kRels(reader::testing::kOfficeRels);

std::string workbook_xml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<workbook xmlns=\"" + kMain +
         "\" xmlns:r=\"" + kRels +
         "\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" xmlns:x=\"urn:x\">" + body +
         "</workbook>";
}

struct WorkbookEdit {
  std::function<void(model::WorkbookModel&)> model;
  std::vector<model::SheetOrigin> origins;  // empty: every source sheet kept in order
  bool recalculate = false;
  uint32_t active_tab = 0;
};

Result<std::string, SpreadsheetParseError> rewrite_workbook(const std::string& source_xml, const WorkbookEdit& edit,
                                                           std::string* rels = nullptr) {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml", source_xml);
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""}}));
  pkg.set("xl/worksheets/sheet2.xml", sheet_part("2"));
  const reader::OpenedPackage opened = testing::open_package(pkg);
  model::WorkbookModel model = opened.model;
  if (edit.model) edit.model(model);
  std::vector<model::SheetOrigin> origins = edit.origins;
  if (origins.empty()) {
    for (uint32_t i = 0; i < model.sheets.size(); ++i) origins.push_back({1, i});
  }
  PlanAllocators allocators = make_plan_allocators(opened.source);
  auto plans = collect_sheet_part_plans(origins, model.sheets, opened.source, allocators, kRelWorksheet);
  if (!plans) return unexpected(plans.error());
  if (rels != nullptr) {
    auto written = rewrite_workbook_relationships(opened.source, *plans, {}, edit.recalculate);
    *rels = written ? *written : testing::error_text(written.error());
  }
  return rewrite_workbook_part(model, opened.source, *plans, edit.recalculate, edit.active_tab);
}

TEST(WorkbookRewrite, RecomputedElementsInPlaceEverythingElseAsRead) {
  const std::string head =
      "<fileVersion appName=\"x\"/><workbookPr defaultThemeVersion=\"1\"/>"
      "<mc:AlternateContent><mc:Choice Requires=\"x\"><x:absPath url=\"u\"/></mc:Choice></mc:AlternateContent>"
      "<!-- kept --><bookViews><workbookView xWindow=\"5\"><extLst/></workbookView></bookViews>";
  const std::string sheets =
      "<sheets><sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Two\" sheetId=\"3\" state=\"hidden\" "
      "r:id=\"rId2\"/></sheets>";
  const std::string names =
      "<definedNames><definedName name=\"Sales\" comment=\"c\">One!$A$1:$A$3</definedName>"
      "<definedName name=\"Local\" localSheetId=\"1\">Two!$B$1</definedName></definedNames>";
  const std::string tail = "<calcPr calcId=\"191029\" fullCalcOnLoad=\"0\"/><x:foreign/><extLst><ext uri=\"e\"/></extLst>";
  const std::string source = workbook_xml(head + sheets + names + tail);
  struct Case {
    const char* name;
    WorkbookEdit edit;
    std::string expected;  // the body between the root's tags
  };
  const Case cases[] = {
      {"nothing changed", {}, head + sheets + names + tail},
      {"1904 dates and a recalculation",
       {[](model::WorkbookModel& m) { m.date_system = model::DateSystem::V1904; }, {}, true, 0},
       "<fileVersion appName=\"x\"/><workbookPr defaultThemeVersion=\"1\" date1904=\"1\"/>"
       "<mc:AlternateContent><mc:Choice Requires=\"x\"><x:absPath url=\"u\"/></mc:Choice></mc:AlternateContent>"
       "<!-- kept --><bookViews><workbookView xWindow=\"5\"><extLst/></workbookView></bookViews>" +
           sheets + names + "<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/><x:foreign/><extLst><ext uri=\"e\"/></extLst>"},
      {"a sheet renamed, another added, the second active",
       {[](model::WorkbookModel& m) {
          m.sheets[0].name = "A & <\"B\">";
          m.sheets.emplace_back().name = "New";
        },
        {{1, 0}, {1, 1}, {0, 0}}, false, 1},
       "<fileVersion appName=\"x\"/><workbookPr defaultThemeVersion=\"1\"/>"
       "<mc:AlternateContent><mc:Choice Requires=\"x\"><x:absPath url=\"u\"/></mc:Choice></mc:AlternateContent>"
       "<!-- kept --><bookViews><workbookView xWindow=\"5\" activeTab=\"1\"><extLst/></workbookView></bookViews>"
       "<sheets><sheet name=\"A &amp; &lt;&quot;B&quot;&gt;\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Two\" "
       "sheetId=\"3\" state=\"hidden\" r:id=\"rId2\"/><sheet name=\"New\" sheetId=\"4\" r:id=\"rId3\"/></sheets>" +
           names + tail},
      {"a name one row off is patched; only localSheetId and the text change",
       {[](model::WorkbookModel& m) {
          m.defined_names[0].formula = "One!$A$2:$A$4";
          m.defined_names[1].local_sheet = 0;
        }},
       head + sheets +
           "<definedNames><definedName name=\"Sales\" comment=\"c\">One!$A$2:$A$4</definedName>"
           "<definedName name=\"Local\" localSheetId=\"0\">Two!$B$1</definedName></definedNames>" +
           tail},
      {"a removed name goes; with every name gone the element goes",
       {[](model::WorkbookModel& m) { m.defined_names.clear(); }}, head + sheets + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto written = rewrite_workbook(source, c.edit);
    ASSERT_TRUE(written.has_value()) << testing::error_text(written.error());
    EXPECT_EQ(*written, workbook_xml(c.expected));
  }
}

TEST(WorkbookRewrite, ElementsTheSourceLacksGoInTheirPlace) {
  const std::string sheets =
      "<sheets><sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Two\" sheetId=\"2\" r:id=\"rId2\"/>"
      "</sheets>";
  auto written = rewrite_workbook(workbook_xml("<x:foreign/>" + sheets + "<extLst/>"),
                                  {[](model::WorkbookModel& m) { m.date_system = model::DateSystem::V1904; }, {}, true, 1});
  ASSERT_TRUE(written.has_value()) << testing::error_text(written.error());
  EXPECT_EQ(*written, workbook_xml("<x:foreign/><workbookPr date1904=\"1\"/><bookViews><workbookView activeTab=\"1\"/>"
                                   "</bookViews>" + sheets + "<calcPr fullCalcOnLoad=\"1\"/><extLst/>"));
}

TEST(WorkbookRewrite, NamesItCannotPlaceAreRefusedNotLeftStale) {
  const std::string sheets = "<sheets><sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"/></sheets>";
  const std::string branch =
      "<mc:AlternateContent><mc:Choice Requires=\"x\"><definedNames><definedName name=\"Sales\">One!$A$1</definedName>"
      "</definedNames></mc:Choice></mc:AlternateContent>";
  const std::string uneven =
      "<definedNames><definedName name=\"Sales\">One!$A$1</definedName><x:wrap><definedName name=\"Other\">One!$B$1"
      "</definedName></x:wrap></definedNames>";
  for (const std::string& body : {sheets + branch, sheets + uneven}) {
    SCOPED_TRACE(body);
    const std::string source = workbook_xml(body);
    // Unchanged names keep the source bytes.
    auto same = rewrite_workbook(source, {});
    ASSERT_TRUE(same.has_value()) << testing::error_text(same.error());
    EXPECT_EQ(*same, source);
    auto moved = rewrite_workbook(source, {[](model::WorkbookModel& m) { m.defined_names.at(0).formula = "One!$A$2"; }});
    ASSERT_FALSE(moved.has_value());
    EXPECT_EQ(testing::error_text(moved.error()),
              "unsupported edit: xl/workbook.xml keeps its defined names where a save cannot rewrite them");
  }
}

TEST(PackageRewrites, RelationshipsAndContentTypesFollowThePlans) {
  Package pkg = Package::basic();
  pkg.set("[Content_Types].xml",
          content_types(override_entry("/xl/workbook.xml", "wb") + override_entry("/xl/worksheets/sheet1.xml", "ws1") +
                        override_entry("/xl/worksheets/sheet2.xml", "ws2") +
                        override_entry("/XL/Worksheets/Sheet1.xml", "dup") +
                        override_entry("/xl/calcChain.xml", "cc") + override_entry("/xl/drawings/d.xml", "dr") +
                        override_entry("/xl/sharedStrings.xml", "ss")));
  pkg.set("xl/workbook.xml", reader::testing::workbook_part("<sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"/>"
                                                            "<sheet name=\"Two\" sheetId=\"2\" r:id=\"rId2\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                                                   {"rId3", "calcChain", "calcChain.xml", ""},
                                                   {"rId4", "sharedStrings", "sharedStrings.xml", ""},
                                                   {"rId5", "externalLink", "externalLinks/e.xml", ""}}));
  pkg.set("xl/worksheets/sheet2.xml", sheet_part("2"));
  pkg.set("xl/calcChain.xml", "<calcChain/>");
  pkg.set("xl/sharedStrings.xml", "<sst xmlns=\"" + kMain + "\"/>");
  pkg.set("_rels/.rels", rels_part({{"rId7", "metadata/core-properties", "docProps/core.xml", ""}}));
  const reader::OpenedPackage opened = testing::open_package(pkg);
  // Sheet Two removed, a new sheet added, no shared strings written, a
  // styles part gained.
  std::vector<model::SheetModel> sheets(2);
  PlanAllocators allocators = make_plan_allocators(opened.source);
  auto plans = collect_sheet_part_plans(std::vector<model::SheetOrigin>{{1, 0}, {0, 0}}, sheets, opened.source,
                                        allocators, kRelWorksheet);
  ASSERT_TRUE(plans.has_value());
  const PartRelationshipPlan styles = plan_styles_relationship(opened.source, kRelStyles, allocators.relationship_ids);
  const PackagePartPlans parts{nullptr, &styles, nullptr};

  auto rels = rewrite_workbook_relationships(opened.source, *plans, parts, true);
  ASSERT_TRUE(rels.has_value());
  EXPECT_EQ(*rels, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" +
                       rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                  {"rId5", "externalLink", "externalLinks/e.xml", ""},
                                  {"rId6", "worksheet", "worksheets/sheet3.xml", ""},
                                  {"rId7", "styles", "styles.xml", ""}}));
  auto kept = rewrite_workbook_relationships(opened.source, *plans, parts, false);
  ASSERT_TRUE(kept.has_value());
  EXPECT_NE(kept->find("calcChain.xml"), std::string::npos);

  auto root = rewrite_package_relationships(opened.source.root_relationships);
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(*root, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" +
                       rels_part({{"rId7", "metadata/core-properties", "docProps/core.xml", ""},
                                  {"rId1", "officeDocument", "xl/workbook.xml", ""}}));

  const std::vector<std::string> removed = {"xl/worksheets/sheet2.xml", "xl/drawings/d.xml"};
  auto types = rewrite_content_types(opened.source, *plans, parts, true, removed);
  ASSERT_TRUE(types.has_value());
  EXPECT_EQ(*types,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>" +
                content_types(override_entry("/xl/workbook.xml", "wb") + override_entry("/xl/worksheets/sheet1.xml", "ws1") +
                              override_entry("/xl/styles.xml",
                                             "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml") +
                              override_entry("/xl/worksheets/sheet3.xml", "ws1")));
}

}  // namespace
}  // namespace cmx::writer

namespace cmx::writer {
namespace {

const std::string kSheetHead =
    "<sheetPr><tabColor rgb=\"FF0000FF\"/></sheetPr><dimension ref=\"A1:B2\"/>"
    "<sheetViews><sheetView workbookViewId=\"0\"><selection activeCell=\"B2\"/></sheetView>"
    "<sheetView workbookViewId=\"1\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
const std::string kCols = "<cols><col min=\"3\" max=\"3\" width=\"12\" style=\"5\" customWidth=\"1\"/></cols>";
const std::string kData = "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>";
const std::string kSheetTail =
    "<x:unknown xmlns:x=\"urn:x\"/><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
    "header=\"0.3\" footer=\"0.3\"/><mc:AlternateContent "
    "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"><mc:Choice Requires=\"x\">"
    "<legacyDrawing r:id=\"rId9\" xmlns:r=\"urn:r\"/></mc:Choice></mc:AlternateContent><extLst><ext uri=\"u\"/></extLst>";

struct SheetEdit {
  std::function<void(model::SheetModel&)> edit;
  bool with_moves = true;
};

Result<WorksheetRewrite, SpreadsheetParseError> rewrite_sheet(const std::string& body, const SheetEdit& edit) {
  const reader::OpenedPackage opened = testing::open_sheet(body);
  model::WorkbookModel model = opened.model;
  if (edit.edit) edit.edit(model.sheets.at(0));
  const model::SheetMoveMap moves = testing::identity_moves();
  const CellStringIndexMap strings;
  return rewrite_worksheet_part(model.sheets[0], model, &opened.source.base_model.sheets.at(0),
                                opened.source.sheets.at(0), opened.source, strings, nullptr,
                                edit.with_moves ? &moves : nullptr);
}

TEST(WorksheetRewrite, OnlyTheElementsThatChangedAreWritten) {
  const std::string source = kSheetHead + kCols + kData + kSheetTail;
  struct Case {
    const char* name;
    SheetEdit edit;
    std::string expected;
  };
  const std::string pane = "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>";
  const Case cases[] = {
      {"a value: only sheetData changes",
       {[](model::SheetModel& s) { s.cells[{0, 0}].value = model::CellValue::number(2); }},
       kSheetHead + kCols + "<sheetData><row r=\"1\"><c r=\"A1\"><v>2</v></c></row></sheetData>" + kSheetTail},
      {"a frozen pane goes into every view, before its selection",
       {[](model::SheetModel& s) { s.freeze_pane = model::FreezePane{1, 0, {1, 0, false, false}}; }},
       "<sheetPr><tabColor rgb=\"FF0000FF\"/></sheetPr><dimension ref=\"A1:B2\"/><sheetViews><sheetView "
       "workbookViewId=\"0\">" + pane + "<selection activeCell=\"B2\"/></sheetView><sheetView workbookViewId=\"1\">" +
           pane + "</sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>" + kCols + kData + kSheetTail},
      {"merges go before the first element ranked after them",
       {[](model::SheetModel& s) { s.merges.push_back(*model::parse_range("A1:B2")); }},
       kSheetHead + kCols + kData + "<x:unknown xmlns:x=\"urn:x\"/><mergeCells count=\"1\"><mergeCell ref=\"A1:B2\"/>"
       "</mergeCells>" + kSheetTail.substr(std::string("<x:unknown xmlns:x=\"urn:x\"/>").size())},
      {"without a move map the column's style stays with the regenerated cols",
       {[](model::SheetModel& s) { s.col_widths[2] = 20; }, false},
       kSheetHead + "<cols><col min=\"3\" max=\"3\" width=\"20\" style=\"5\" customWidth=\"1\"/></cols>" + kData +
           kSheetTail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto written = rewrite_sheet(source, c.edit);
    ASSERT_TRUE(written.has_value()) << testing::error_text(written.error());
    EXPECT_EQ(written->text, testing::worksheet(c.expected));
    EXPECT_FALSE(written->relationships.has_value());
  }
}

TEST(WorksheetRewrite, HyperlinksAndTheirRelationships) {
  auto written = rewrite_sheet(kData, {[](model::SheetModel& s) {
                                 model::SheetHyperlink link;
                                 link.range = *model::parse_range("A1");
                                 link.external_target = "https://example.com/?a&b";
                                 s.hyperlinks.push_back(link);
                               }});
  ASSERT_TRUE(written.has_value()) << testing::error_text(written.error());
  EXPECT_EQ(written->text, testing::worksheet(kData + "<hyperlinks xmlns:r=\"" + kRels +
                                              "\"><hyperlink ref=\"A1\" r:id=\"rId1\"/></hyperlinks>"));
  ASSERT_TRUE(written->relationships.has_value());
  ASSERT_EQ(written->relationships->size(), 1u);
  EXPECT_EQ((*written->relationships)[0][2].value, "https://example.com/?a&b");
}

TEST(WorksheetRewrite, ElementsInsideAlternateContentAreRefused) {
  const std::string body =
      kData + "<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">"
              "<mc:Choice Requires=\"x\"><mergeCells count=\"1\"><mergeCell ref=\"A1:B1\"/></mergeCells></mc:Choice>"
              "</mc:AlternateContent>";
  auto written = rewrite_sheet(body, {[](model::SheetModel& s) { s.merges.clear(); }});
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(testing::error_text(written.error()), "unsupported edit: mergeCells lives inside an mc:AlternateContent branch");
}

TEST(WorksheetRewrite, APartThatIsNoWorksheetIsRefused) {
  // The reader takes such a part as an empty sheet; cells spliced into it
  // would not read back.
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml", "<f t=\"x\">text</f>");
  const reader::OpenedPackage opened = testing::open_package(pkg);
  model::WorkbookModel model = opened.model;
  model.sheets.at(0).cells[{0, 0}] = {model::CellValue::number(1), {}, {}};
  const model::SheetMoveMap moves = testing::identity_moves();
  auto written = rewrite_worksheet_part(model.sheets[0], model, &opened.source.base_model.sheets.at(0),
                                        opened.source.sheets.at(0), opened.source, {}, nullptr, &moves);
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(testing::error_text(written.error()),
            "unsupported edit: xl/worksheets/sheet1.xml holds no worksheet a save can rewrite");
}

TEST(WorksheetRewrite, ColumnStylesCountAsAChange) {
  model::SheetModel base;
  base.column_styles.push_back({2, 2, 5});
  model::SheetModel sheet = base;
  EXPECT_TRUE(sheet_matches_baseline(sheet, base));
  sheet.name = "renamed";
  sheet.array_ranges[{0, 0}] = *model::parse_range("A1:A2");
  EXPECT_TRUE(sheet_matches_baseline(sheet, base));
  sheet.column_styles.clear();
  EXPECT_FALSE(sheet_matches_baseline(sheet, base));
  sheet = base;
  sheet.cells[{0, 0}] = {model::CellValue::number(std::nan("")), {}, {}};
  base.cells[{0, 0}] = sheet.cells[{0, 0}];
  EXPECT_TRUE(sheet_matches_baseline(sheet, base));
}

TEST(SharedStringsSave, KeepsRewritesOrRemovesThePart) {
  const std::string sst_head = "<sst xmlns=\"" + kMain + "\" count=\"2\" uniqueCount=\"2\">";
  const std::string rich = "<si><r><rPr><b/></rPr><t>a</t></r></si>";
  Package pkg = Package::basic();
  pkg.set("xl/sharedStrings.xml", sst_head + rich + "<si><t>b</t></si></sst>");
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "sharedStrings", "sharedStrings.xml", ""}}));
  pkg.set("xl/worksheets/sheet1.xml",
          testing::worksheet("<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v>"
                             "</c></row></sheetData>"));
  const reader::OpenedPackage opened = testing::open_package(pkg);
  const reader::SourcePackage& source = opened.source;
  ASSERT_EQ(source.base_model.shared_strings, (std::vector<std::string>{"a", "b"}));
  std::set<std::string> ids = make_plan_allocators(source).relationship_ids;
  const PartRelationshipPlan part = plan_shared_strings_relationship(source, kRelSharedStrings, ids);

  model::WorkbookModel model = opened.model;
  model.shared_strings.push_back("c\x01");
  std::vector<CellStringIndexMap> maps;
  maps.emplace_back(source.sheets[0].shared_string_cells.begin(), source.sheets[0].shared_string_cells.end());
  auto string_plan = build_shared_string_plan(source.base_model.shared_strings,
                                              source.shared_strings_template->children.size(), model, maps);
  ASSERT_TRUE(string_plan.has_value());

  SavePlan plan(source.parts);
  ASSERT_TRUE(save_shared_strings_part(plan, model.shared_strings, source, &part, kMainNs, &*string_plan).has_value());
  EXPECT_EQ(plan.find("xl/sharedStrings.xml"),
            "<sst xmlns=\"" + kMain + "\" count=\"3\" uniqueCount=\"3\">" + rich +
                "<si><t>b</t></si><si><t xml:space=\"preserve\">c_x0001_</t></si></sst>");

  SavePlan unchanged(source.parts);
  ASSERT_TRUE(save_shared_strings_part(unchanged, opened.model.shared_strings, source, &part, kMainNs, nullptr)
                  .has_value());
  // Left as read: still the source's own bytes.
  EXPECT_EQ(unchanged.find("xl/sharedStrings.xml")->data(),
            opc::find_package_part(source.parts, "xl/sharedStrings.xml")->data());

  SavePlan emptied(source.parts);
  ASSERT_TRUE(save_shared_strings_part(emptied, {}, source, nullptr, kMainNs, nullptr).has_value());
  EXPECT_FALSE(emptied.contains("xl/sharedStrings.xml"));

  auto missing = save_shared_strings_part(plan, model.shared_strings, source, &part, kMainNs, nullptr);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(testing::error_text(missing.error()), "malformed spreadsheetml: shared string identity plan is missing");

  // A package without the part gains one written fresh.
  const reader::OpenedPackage bare = testing::open_package(Package::basic());
  std::set<std::string> bare_ids = make_plan_allocators(bare.source).relationship_ids;
  const PartRelationshipPlan fresh = plan_shared_strings_relationship(bare.source, kRelSharedStrings, bare_ids);
  SavePlan gained(bare.source.parts);
  ASSERT_TRUE(save_shared_strings_part(gained, {"x"}, bare.source, &fresh, kMainNs, nullptr).has_value());
  EXPECT_EQ(gained.find("xl/sharedStrings.xml"), *write_shared_strings_part({"x"}, kMainNs));
}

}  // namespace
}  // namespace cmx::writer
