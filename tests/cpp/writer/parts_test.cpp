#include <gtest/gtest.h>

#include "model/address.h"
#include "writer/namespaces.h"
#include "writer/parts.h"
#include "xml/parse_error.h"

namespace cmx::writer {
namespace {

model::CellRange range(const char* text) { return *model::parse_range(text); }

model::SheetCell text_cell(const char* text) { return {model::CellValue::text(text), {}, {}}; }

std::string body_of(const Result<std::string, SpreadsheetParseError>& part) {
  EXPECT_TRUE(part.has_value());
  return part.has_value() ? *part : std::string();
}

size_t count_of(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

std::string sheet_xml(const model::SheetModel& sheet, const model::WorkbookModel& model) {
  const HyperlinkRelationshipPlan plan = plan_hyperlink_relationships(sheet.hyperlinks, {}, kRelHyperlink);
  return body_of(write_worksheet_part(sheet, model, kMainNs, kOfficeRelNs, plan));
}

TEST(WorksheetPart, ElementsOfOneSheet) {
  model::WorkbookModel model;
  model.shared_strings = {"a", "x", "b", "c", "x", "d", "e", "f", "g", "x"};
  struct Case {
    const char* name;
    std::function<void(model::SheetModel&)> build;
    std::vector<std::string> expected;  // fragments, in this order
  };
  const Case cases[] = {
      {"frozen two rows and one column",
       [](model::SheetModel& s) { s.freeze_pane = model::FreezePane{2, 1, {2, 1, false, false}}; },
       {R"(<sheetViews><sheetView workbookViewId="0"><pane xSplit="1" ySplit="2" topLeftCell="B3" )"
        R"(activePane="bottomRight" state="frozen"/></sheetView></sheetViews>)"}},
      {"frozen rows only",
       [](model::SheetModel& s) { s.freeze_pane = model::FreezePane{3, 0, {3, 0, false, false}}; },
       {R"(<pane ySplit="3" topLeftCell="A4" activePane="bottomLeft" state="frozen"/>)"}},
      {"row heights and hidden rows",
       [](model::SheetModel& s) {
         s.row_heights = {{0, 0.0}, {1, 15.75}};
       },
       {R"(<row r="1" ht="0" customHeight="1" hidden="1"></row><row r="2" ht="15.75" customHeight="1"></row>)"}},
      {"height rows merge with cell rows",
       [](model::SheetModel& s) {
         s.cells[{0, 0}] = {model::CellValue::number(1), {}, {}};
         s.cells[{19, 0}] = {model::CellValue::number(2), {}, {}};
         s.row_heights = {{9, 20.0}};
       },
       {R"(<row r="1"><c r="A1"><v>1</v></c></row><row r="10" ht="20" customHeight="1"></row>)"
        R"(<row r="20"><c r="A20"><v>2</v></c></row>)"}},
      {"text by its first index, inline when not listed",
       [](model::SheetModel& s) {
         s.cells[{0, 0}] = text_cell("x");
         s.cells[{0, 1}] = text_cell("not listed & <odd>");
       },
       {R"(<c r="A1" t="s"><v>1</v></c>)",
        R"(<c r="B1" t="inlineStr"><is><t xml:space="preserve">not listed &amp; &lt;odd&gt;</t></is></c>)"}},
      {"formula results and plain values",
       [](model::SheetModel& s) {
         s.cells[{0, 0}] = {model::CellValue::text("r"), SharedString("A2&\"q\""), 3};
         s.cells[{0, 1}] = {model::CellValue(), SharedString("NOW()"), {}};
         s.cells[{0, 2}] = {model::CellValue::boolean(true), {}, 0};
         s.cells[{0, 3}] = {model::CellValue::error(model::CellErrorCode::Div0), SharedString("1/0"), {}};
         s.cells[{0, 4}] = {model::CellValue(), {}, 2};
         s.cells[{0, 5}] = {model::CellValue::number(-0.0), {}, {}};
         s.cells[{0, 6}] = {model::CellValue::number(0.1), {}, {}};
       },
       {R"(<c r="A1" s="3" t="str"><f>A2&amp;&quot;q&quot;</f><v>r</v></c>)",
        R"(<c r="B1"><f>NOW()</f></c>)", R"(<c r="C1" s="0" t="b"><v>1</v></c>)",
        R"(<c r="D1" t="e"><f>1/0</f><v>#DIV/0!</v></c>)", R"(<c r="E1" s="2"></c>)",
        R"(<c r="F1"><v>0</v></c><c r="G1"><v>0.1</v></c>)"}},
      {"array formula",
       [](model::SheetModel& s) {
         s.cells[{0, 0}] = {model::CellValue::number(1), SharedString("A3:B4*2"), {}};
         s.cells[{0, 1}] = {model::CellValue::number(2), {}, {}};
         s.array_ranges[{0, 0}] = range("A1:B2");
         s.cells[{5, 5}] = {model::CellValue::number(3), SharedString("SUM(1)"), {}};
         s.array_ranges[{5, 5}] = range("F6");
       },
       {R"(<c r="A1"><f t="array" ref="A1:B2">A3:B4*2</f><v>1</v></c><c r="B1"><v>2</v></c>)",
        R"(<f t="array" ref="F6">SUM(1)</f>)"}},
      {"columns, merges and hyperlinks in sheet order",
       [](model::SheetModel& s) {
         s.col_widths = {{0, 12.5}, {3, 0.0}};
         s.merges = {range("C3"), range("$A$1:B2")};
         s.hyperlinks = {{range("A1"), "http://x.test/?a&b", "Sheet1!B2", "tip", "shown"},
                         {range("B1:B2"), {}, "Other!A1", {}, {}}};
       },
       {R"(<worksheet xmlns=")" + std::string(kMainNs) + R"(" xmlns:r=")" + std::string(kOfficeRelNs) + R"(">)",
        R"(<cols><col min="1" max="1" width="12.5" customWidth="1"/>)"
        R"(<col min="4" max="4" width="0" customWidth="1" hidden="1"/></cols><sheetData></sheetData>)",
        R"(<mergeCells count="2"><mergeCell ref="C3"/><mergeCell ref="A1:B2"/></mergeCells>)",
        R"(<hyperlinks><hyperlink ref="A1" r:id="rId1" location="Sheet1!B2" tooltip="tip" display="shown"/>)"
        R"(<hyperlink ref="B1:B2" location="Other!A1"/></hyperlinks></worksheet>)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::SheetModel sheet;
    sheet.name = "S";
    c.build(sheet);
    const std::string xml = sheet_xml(sheet, model);
    size_t at = 0;
    for (const std::string& fragment : c.expected) {
      const size_t found = xml.find(fragment, at);
      EXPECT_NE(found, std::string::npos) << fragment << "\nin\n" << xml;
      if (found != std::string::npos) at = found + fragment.size();
    }
  }
}

TEST(WorksheetPart, ColsFragmentStandsAlone) {
  model::SheetModel sheet;
  EXPECT_EQ(write_cols_fragment(sheet), "");
  sheet.col_widths = {{2, 9.140625}};
  EXPECT_EQ(write_cols_fragment(sheet), R"(<cols><col min="3" max="3" width="9.140625" customWidth="1"/></cols>)");
}

TEST(WorksheetPart, RecordedIndexWinsWhenItStillHoldsTheText) {
  const std::vector<std::string> list = {"a", "b", "c", "d", "x", "e", "f", "g", "h", "x"};
  const TextLookup lookup = build_text_lookup(list);
  const CellStringIndexMap recorded = {{{0, 0}, 9}, {{0, 1}, 2}, {{0, 2}, 99}};
  const SheetWriteContext context{&list, &lookup, &recorded};
  EXPECT_EQ(resolve_shared_string_index(text_cell("x"), {0, 0}, context), 9u);
  EXPECT_EQ(resolve_shared_string_index(text_cell("x"), {0, 1}, context), 4u);  // 2 holds "c"
  EXPECT_EQ(resolve_shared_string_index(text_cell("x"), {0, 2}, context), 4u);  // past the end
  EXPECT_EQ(resolve_shared_string_index(text_cell("x"), {0, 3}, context), 4u);
  EXPECT_EQ(resolve_shared_string_index(text_cell("zz"), {0, 3}, context), std::nullopt);
  model::SheetCell number{model::CellValue::number(1), {}, {}};
  EXPECT_EQ(resolve_shared_string_index(number, {0, 0}, context), std::nullopt);
}

TEST(WorksheetPart, HyperlinkPlanKeepsOtherRelationships) {
  const std::vector<opc::AttributeList> existing = {
      relationship_attributes("rId1", std::string(kOfficeRelNs) + "/drawing", "../drawings/d1.xml"),
      relationship_attributes("rId2", std::string(kRelHyperlink), "http://old")};
  const std::vector<model::SheetHyperlink> links = {
      {range("A1"), "http://a", {}, {}, {}}, {range("A2"), {}, "S!A1", {}, {}}, {range("A3"), "http://a", {}, {}, {}}};
  const HyperlinkRelationshipPlan plan = plan_hyperlink_relationships(links, existing, kRelHyperlink);
  ASSERT_EQ(plan.ids.size(), 3u);
  EXPECT_EQ(plan.ids[0], "rId2");
  EXPECT_EQ(plan.ids[1], std::nullopt);
  EXPECT_EQ(plan.ids[2], "rId3");
  ASSERT_EQ(plan.relationships.size(), 3u);
  EXPECT_EQ(plan.relationships[0], existing[0]);
  const opc::AttributeList expected = {
      {"Id", "rId2"}, {"Type", std::string(kRelHyperlink)}, {"Target", "http://a"}, {"TargetMode", "External"}};
  EXPECT_EQ(plan.relationships[1], expected);
}

TEST(StylesPart, TablesInOrder) {
  struct Case {
    const char* name;
    std::function<void(model::StyleSheet&)> build;
    std::string expected;  // the whole content of styleSheet
  };
  const Case cases[] = {
      {"nothing", [](model::StyleSheet&) {}, ""},
      {"one font",
       [](model::StyleSheet& s) { s.fonts.push_back({"Calibri", 11.0, false, false, false, false, {}}); },
       R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>)"},
      {"font flags before size",
       [](model::StyleSheet& s) {
         s.fonts.push_back({{}, 10.5, true, true, true, true, model::Color{model::ThemeColor{1, 0.0}}});
         s.fonts.push_back({});
       },
       R"(<fonts count="2"><font><b/><i/><u/><strike/><sz val="10.5"/><color theme="1"/></font>)"
       R"(<font></font></fonts>)"},
      {"fills",
       [](model::StyleSheet& s) {
         s.fills.push_back(model::NoFill{});
         s.fills.push_back(model::SolidFill{model::ThemeColor{4, 0.399975585192419}});
         s.fills.push_back(model::SolidFill{model::AutoColor{}});
       },
       R"(<fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="solid">)"
       R"(<fgColor theme="4" tint="0.399975585192419"/></patternFill></fill><fill><patternFill/></fill></fills>)"},
      {"border with a thin bottom",
       [](model::StyleSheet& s) {
         model::Border border;
         border.bottom = model::BorderEdge{model::BorderStyle::Thin, model::Color{model::AutoColor{}}};
         border.left = model::BorderEdge{model::BorderStyle::Hair, {}};
         s.borders.push_back(border);
       },
       R"(<borders count="1"><border><left style="hair"></left><right/><top/><bottom style="thin">)"
       R"(<color auto="1"/></bottom><diagonal/></border></borders>)"},
      {"cell formats",
       [](model::StyleSheet& s) {
         s.cell_xfs.push_back({{}, {}, {}, 14, {}});
         s.cell_xfs.push_back({1, 2, 3, {}, model::Alignment{{}, {}, true, false}});
         s.cell_xfs.push_back({{}, {}, {}, {}, model::Alignment{model::HorizontalAlignment::CenterContinuous,
                                                                model::VerticalAlignment::Top, false, true}});
       },
       R"(<cellXfs count="3"><xf numFmtId="14" fontId="0" fillId="0" borderId="0" applyNumberFormat="1" )"
       R"(applyFont="0" applyFill="0" applyBorder="0"/>)"
       R"(<xf numFmtId="0" fontId="1" fillId="2" borderId="3" applyNumberFormat="0" applyFont="1" applyFill="1" )"
       R"(applyBorder="1" applyAlignment="1"><alignment wrapText="1"/></xf>)"
       R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" applyNumberFormat="0" applyFont="0" applyFill="0" )"
       R"(applyBorder="0" applyAlignment="1"><alignment horizontal="centerContinuous" vertical="top" )"
       R"(shrinkToFit="1"/></xf></cellXfs>)"},
      {"number formats and palette",
       [](model::StyleSheet& s) {
         s.num_fmts.push_back({164, "0.00\" \"\"kg\"\";@"});
         s.indexed_colors = {"", "#00ff00", "123ABC"};
       },
       R"(<numFmts count="1"><numFmt numFmtId="164" formatCode="0.00&quot; &quot;&quot;kg&quot;&quot;;@"/>)"
       R"(</numFmts><colors><indexedColors><rgbColor/><rgbColor rgb="FF00FF00"/><rgbColor rgb="FF123ABC"/>)"
       R"(</indexedColors></colors>)"},
  };
  const std::string head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><styleSheet xmlns=")" +
                           std::string(kMainNs) + R"(">)";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::StyleSheet styles;
    c.build(styles);
    EXPECT_EQ(body_of(write_styles_part(styles, kMainNs)), head + c.expected + "</styleSheet>");
  }
}

TEST(ThemePart, SlotsAndFixedText) {
  model::StyleSheet styles;
  const std::string part = body_of(write_theme_part(styles, kDrawingMainNs));
  std::string slots;
  for (const char* value : {"000000", "FFFFFF", "44546A", "E7E6E6", "4472C4", "ED7D31", "A5A5A5", "FFC000",
                            "5B9BD5", "70AD47", "0563C1", "954F72"}) {
    EXPECT_NE(part.find(std::string(R"(<a:srgbClr val=")") + value + R"("/>)"), std::string::npos) << value;
  }
  EXPECT_EQ(count_of(part, "<a:srgbClr "), 12u);
  EXPECT_EQ(count_of(part, "<a:solidFill>"), 6u);
  EXPECT_EQ(count_of(part, "<a:ln/>"), 3u);
  EXPECT_EQ(count_of(part, "<a:effectStyle>"), 3u);
  EXPECT_EQ(count_of(part, "<a:latin "), 2u);
  EXPECT_NE(part.find(R"(<a:dk1><a:srgbClr val="000000"/></a:dk1><a:lt1>)"), std::string::npos);
  EXPECT_NE(part.find(R"(<a:latin typeface="Calibri"/><a:ea typeface=""/><a:cs typeface=""/>)"), std::string::npos);
  EXPECT_EQ(part.find('\n'), std::string::npos);

  styles.theme.colors[0] = "##abc";
  const std::string odd = body_of(write_theme_part(styles, kDrawingMainNs));
  EXPECT_NE(odd.find(R"(<a:dk1><a:srgbClr val="ABC"/>)"), std::string::npos);
  const std::string strict_ns = "http://purl.oclc.org/ooxml/drawingml/main";
  std::string strict = body_of(write_theme_part(styles, strict_ns));
  strict.replace(strict.find(strict_ns), strict_ns.size(), kDrawingMainNs);
  EXPECT_EQ(strict, odd);
}

TEST(SharedStringsPart, EveryTextIsAnItem) {
  const std::string part =
      body_of(write_shared_strings_part({"a", "a", " b ", "\x01", "_x0041_", "l\r\n"}, kMainNs));
  EXPECT_EQ(part, R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst xmlns=")" + std::string(kMainNs) +
                      R"(" count="6" uniqueCount="6"><si><t xml:space="preserve">a</t></si>)"
                      R"(<si><t xml:space="preserve">a</t></si><si><t xml:space="preserve"> b </t></si>)"
                      R"(<si><t xml:space="preserve">_x0001_</t></si>)"
                      R"(<si><t xml:space="preserve">_x005F_x0041_</t></si>)"
                      "<si><t xml:space=\"preserve\">l&#13;\n</t></si></sst>");
}

}  // namespace
}  // namespace cmx::writer

namespace cmx::writer {
namespace {

TEST(SharedStringPlan, ReusesSourceEntriesWhereCellsFindThem) {
  using Entries = std::vector<std::optional<uint64_t>>;
  struct Case {
    const char* name;
    std::vector<std::string> source;
    uint64_t items;
    std::vector<std::string> list;
    std::vector<std::pair<const char*, std::pair<const char*, uint64_t>>> cells;  // ref, text, recorded
    Entries entries;
    std::map<uint64_t, uint64_t> source_to_written;
    std::map<std::string, uint64_t> text_map;
  };
  const Case cases[] = {
      {"appended text", {"a", "b"}, 2, {"a", "b", "c"}, {{"A1", {"a", 0}}, {"A2", {"b", 1}}},
       {0, 1, std::nullopt}, {{0, 0}, {1, 1}}, {{"c", 2}}},
      {"duplicates both kept", {"x", "x"}, 2, {"x", "x"}, {{"A1", {"x", 0}}, {"A2", {"x", 1}}},
       {0, 1}, {{0, 0}, {1, 1}}, {}},
      {"third occurrence fresh first", {"x", "x"}, 2, {"x", "x", "x"}, {}, {std::nullopt, 0, 1},
       {{0, 1}, {1, 2}}, {{"x", 0}}},
      {"changed cell retains nothing", {"x", "y"}, 2, {"y"}, {{"A1", {"y", 0}}}, {1}, {{1, 0}}, {}},
      {"fewer items than texts", {"x", "y"}, 1, {"y", "x"}, {}, {std::nullopt, 0}, {{0, 1}}, {{"y", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::WorkbookModel model;
    model.shared_strings = c.list;
    model::SheetModel& sheet = model.sheets.emplace_back();
    std::vector<CellStringIndexMap> maps(1);
    for (const auto& [ref, cell] : c.cells) {
      const model::CellRef at = *model::parse_cell_ref(ref);
      sheet.cells[{at.row, at.col}] = text_cell(cell.first);
      maps[0][{at.row, at.col}] = cell.second;
    }
    auto plan = build_shared_string_plan(c.source, c.items, model, maps);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->entries, c.entries);
    EXPECT_EQ(plan->source_to_written, c.source_to_written);
    std::map<std::string, uint64_t> text_map(plan->text_map.begin(), plan->text_map.end());
    EXPECT_EQ(text_map, c.text_map);

    // Cells find their entries through the plan.
    const SheetWriteContext context{&model.shared_strings, nullptr, &maps[0], &*plan};
    for (const auto& [ref, cell] : c.cells) {
      const model::CellRef at = *model::parse_cell_ref(ref);
      const std::optional<uint64_t> index = resolve_shared_string_index(sheet.cells[{at.row, at.col}],
                                                                        {at.row, at.col}, context);
      if (!index) {
        // Every position of the text reuses a source entry that the cell no longer names.
        EXPECT_FALSE(text_map.contains(cell.first)) << ref;
        EXPECT_FALSE(c.source_to_written.contains(cell.second)) << ref;
        continue;
      }
      EXPECT_EQ(model.shared_strings[*index], cell.first) << ref;
    }
  }
}

TEST(SharedStringPlan, RefusesWhenUnchangedCellsNeedMoreEntriesThanTheList) {
  model::WorkbookModel model;
  model.shared_strings = {"x"};
  model::SheetModel& sheet = model.sheets.emplace_back();
  sheet.cells[{0, 0}] = text_cell("x");
  sheet.cells[{1, 0}] = text_cell("x");
  const std::vector<CellStringIndexMap> maps = {{{{0, 0}, 0}, {{1, 0}, 1}}};
  auto plan = build_shared_string_plan({"x", "x"}, 2, model, maps);
  ASSERT_FALSE(plan.has_value());
  EXPECT_EQ(xml::parse_error_message(plan.error()),
            "unsupported edit: shared string duplicates cannot retain every authored entry");
}

}  // namespace
}  // namespace cmx::writer
