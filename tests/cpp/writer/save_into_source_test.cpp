#include "writer/save_into_source.h"

#include <gtest/gtest.h>

#include <functional>

#include "opc/part_names.h"
#include "source_fixture.h"
#include "source_save_support.h"
#include "xml/tree_queries.h"

namespace cmx::writer {
namespace {

using reader::testing::Package;
using reader::testing::rels_part;
using testing::HeldWorkbook;

constexpr std::string_view kStylesType = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";

// Sheet1, Sheet2 and Sheet3, each with one number in A1, and a calculation chain.
Package three_sheets() {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml",
          reader::testing::workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                         "<sheet name=\"Sheet2\" sheetId=\"2\" r:id=\"rId2\"/>"
                                         "<sheet name=\"Sheet3\" sheetId=\"3\" r:id=\"rId3\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                                                   {"rId3", "worksheet", "worksheets/sheet3.xml", ""},
                                                   {"rId4", "calcChain", "calcChain.xml", ""}}));
  pkg.set("xl/worksheets/sheet2.xml", reader::testing::sheet_part("2"));
  pkg.set("xl/worksheets/sheet3.xml", reader::testing::sheet_part("3"));
  pkg.set("xl/calcChain.xml", "<calcChain xmlns=\"" + std::string(reader::testing::kMainNs) + "\"/>");
  return pkg;
}

HeldWorkbook hold(const Package& pkg) { return HeldWorkbook(testing::open_package(pkg)); }

std::optional<std::string_view> part_of(const std::vector<SavedPart>& parts, std::string_view name) {
  for (const SavedPart& part : parts) {
    if (part.name == name) return part.bytes;
  }
  return std::nullopt;
}

// The names of the parts whose bytes differ from the source's, or that are
// new; the relationships and content types, which any structural save
// writes again, left out.
std::vector<std::string> changed_parts(const HeldWorkbook& held, const std::vector<SavedPart>& parts) {
  std::vector<std::string> changed;
  for (const SavedPart& part : parts) {
    if (part.name == "[Content_Types].xml" || part.name.find("_rels/") != std::string::npos) continue;
    if (opc::find_package_part(held.opened.source.parts, part.name) != std::optional<std::string_view>(part.bytes)) {
      changed.push_back(part.name);
    }
  }
  return changed;
}

TEST(SaveIntoSource, UnchangedSaveIsTheSourceParts) {
  const HeldWorkbook held = hold(three_sheets());
  const auto saved = held.save();
  ASSERT_TRUE(saved.has_value());
  ASSERT_EQ(saved->size(), held.opened.source.parts.size());
  for (size_t index = 0; index < saved->size(); ++index) {
    EXPECT_EQ((*saved)[index].name, held.opened.source.parts[index].name);
    // Borrowed, not copied: the very bytes of the source record.
    EXPECT_EQ((*saved)[index].bytes.data(), held.opened.source.parts[index].bytes.data());
  }
}

TEST(SaveIntoSource, SharedStringsPartSpelledInAnotherCase) {
  // The relationship says "sharedStrings.xml", the package holds "SharedStrings.xml".
  Package pkg = three_sheets();
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                                                   {"rId3", "worksheet", "worksheets/sheet3.xml", ""},
                                                   {"rId4", "sharedStrings", "sharedStrings.xml", ""}}));
  pkg.set("xl/SharedStrings.xml", "<sst xmlns=\"" + std::string(reader::testing::kMainNs) + "\"><si><t>kept</t></si></sst>");
  pkg.set("xl/worksheets/sheet2.xml",
          testing::worksheet("<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></sheetData>"));
  HeldWorkbook held = hold(pkg);
  EXPECT_EQ(held.model.shared_strings, std::vector<std::string>{"kept"});
  ASSERT_TRUE(held.opened.source.shared_strings_part.has_value());
  EXPECT_EQ(held.opened.source.shared_strings_part->name, "xl/SharedStrings.xml");

  // An edit elsewhere keeps the part that the untouched sheet points into.
  ASSERT_TRUE(held.set_a1());
  const auto saved = held.save();
  ASSERT_TRUE(saved.has_value()) << xml::parse_error_message(saved.error());
  EXPECT_EQ(part_of(*saved, "xl/SharedStrings.xml"), opc::find_package_part(pkg.parts, "xl/SharedStrings.xml"));
  std::vector<opc::PackagePart> parts;
  for (const SavedPart& part : *saved) parts.push_back({part.name, std::string(part.bytes)});
  const HeldWorkbook again(testing::open_package(Package{std::move(parts)}));
  ASSERT_EQ(again.model.sheets.size(), 3u);
  EXPECT_EQ(again.model.sheets[1].cells.at(model::CellKey{0, 0}).value, model::CellValue::text("kept"));
}

TEST(SaveIntoSource, CellsBesideAnEditKeepTheirBytes) {
  // Rich inline strings laid out over several lines share the row of the edited A1.
  const std::string rich =
      "<c r=\"B1\" s=\"0\" t=\"inlineStr\">\n <is>\n  <r>\n   <rPr><b val=\"1\"/></rPr>\n"
      "   <t xml:space=\"preserve\">Bold </t>\n  </r>\n  <r><t>plain</t></r>\n </is>\n</c>";
  const std::string second = "<c r=\"C1\" t=\"inlineStr\"><is><r><rPr><i/></rPr><t>it</t></r></is></c>";
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml", testing::worksheet("<sheetData>\n<row r=\"1\">\n<c r=\"A1\"><v>1</v></c>\n" +
                                                         rich + "\n" + second + "\n</row>\n</sheetData>"));
  HeldWorkbook held = hold(pkg);
  ASSERT_EQ(held.model.sheets.size(), 1u);
  EXPECT_EQ(held.model.sheets[0].cells.at(model::CellKey{0, 1}).value, model::CellValue::text("Bold plain"));
  ASSERT_TRUE(held.set_a1());
  const auto saved = held.save();
  ASSERT_TRUE(saved.has_value()) << xml::parse_error_message(saved.error());
  const std::optional<std::string_view> sheet = part_of(*saved, "xl/worksheets/sheet1.xml");
  ASSERT_TRUE(sheet.has_value());
  EXPECT_NE(sheet->find("<v>4242</v>"), std::string_view::npos) << *sheet;
  EXPECT_NE(sheet->find("\n" + rich + "\n" + second + "\n</row>"), std::string_view::npos) << *sheet;
}

TEST(SaveIntoSource, RewritesOnlyWhatTheEditNeeds) {
  struct Case {
    const char* name;
    std::function<void(HeldWorkbook&)> edit;
    std::vector<std::string> changed;
    std::vector<std::string> gone;
  };
  const std::vector<Case> cases = {
      {"active sheet changed", [](HeldWorkbook& h) { h.opened.active_tab = 2; }, {"xl/workbook.xml"}, {}},
      {"a sheet renamed without a cell edit",
       [](HeldWorkbook& h) { h.model.sheets[2].name = "Third"; }, {"xl/workbook.xml"}, {}},
      {"a column width set without a cell edit",
       [](HeldWorkbook& h) { h.model.sheets[0].col_widths[3] = 20.0; }, {"xl/worksheets/sheet1.xml"}, {}},
      {"one cell edited: the chain goes",
       [](HeldWorkbook& h) {
         h.model.sheets[1].cells[{0, 0}].value = model::CellValue::number(7);
         h.edited = true;
       },
       {"xl/workbook.xml", "xl/worksheets/sheet2.xml"},
       {"xl/calcChain.xml"}},
      {"a sheet removed: its part goes",
       [](HeldWorkbook& h) {
         h.model.sheets.erase(h.model.sheets.begin() + 1);
         h.origins.erase(h.origins.begin() + 1);
         h.string_indexes.erase(h.string_indexes.begin() + 1);
       },
       {"xl/workbook.xml"},
       {"xl/worksheets/sheet2.xml"}},
      {"a font added to a package without styles: styles and theme appear",
       [](HeldWorkbook& h) {
         h.model.styles.fonts.push_back(model::Font{"Arial", 10.0, false, false, false, false, std::nullopt});
         h.edited = true;
       },
       {"xl/styles.xml", "xl/theme/theme1.xml", "xl/workbook.xml"},
       {"xl/calcChain.xml"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldWorkbook held = hold(three_sheets());
    c.edit(held);
    const auto saved = held.save();
    ASSERT_TRUE(saved.has_value()) << testing::error_text(saved.error());
    std::vector<std::string> changed = changed_parts(held, *saved);
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, c.changed);
    for (const std::string& name : c.gone) EXPECT_FALSE(part_of(*saved, name).has_value()) << name;
  }
}

TEST(SaveIntoSource, StylesWithoutThemeNeverGainOne) {
  Package pkg = three_sheets();
  const std::string styles = "<styleSheet xmlns=\"" + std::string(reader::testing::kMainNs) +
                             "\"><fonts count=\"1\"><font><sz val=\"11\"/></font></fonts></styleSheet>";
  pkg.set("xl/styles.xml", styles);
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""},
                                                   {"rId3", "worksheet", "worksheets/sheet3.xml", ""},
                                                   {"rId5", "styles", "styles.xml", ""}}));
  pkg.set("[Content_Types].xml",
          reader::testing::content_types(
              reader::testing::override_entry("/xl/workbook.xml",
                                              "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml") +
              reader::testing::override_entry("/xl/styles.xml", std::string(kStylesType))));
  HeldWorkbook held = hold(pkg);
  held.model.styles.fonts[0].bold = true;
  held.edited = true;
  const auto saved = held.save();
  ASSERT_TRUE(saved.has_value()) << testing::error_text(saved.error());
  EXPECT_FALSE(part_of(*saved, "xl/theme/theme1.xml").has_value());
  const std::optional<std::string_view> written = part_of(*saved, "xl/styles.xml");
  ASSERT_TRUE(written.has_value());
  EXPECT_NE(written->find("<font><b/><sz val=\"11\"/></font>"), std::string_view::npos) << *written;
}

TEST(SaveIntoSource, StrictWorkbookGetsAStrictTheme) {
  Package pkg = Package::basic();
  const std::string strict = std::string(xml::kSpreadsheetMainStrictNs);
  pkg.set("xl/workbook.xml", "<workbook xmlns=\"" + strict + "\" xmlns:r=\"" +
                                 std::string(reader::testing::kOfficeRels) +
                                 "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + strict + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>");
  HeldWorkbook held = hold(pkg);
  held.model.styles.fonts.push_back(model::Font{"Arial", 10.0, false, false, false, false, std::nullopt});
  held.edited = true;
  const auto saved = held.save();
  ASSERT_TRUE(saved.has_value()) << testing::error_text(saved.error());
  const std::optional<std::string_view> theme = part_of(*saved, "xl/theme/theme1.xml");
  ASSERT_TRUE(theme.has_value());
  EXPECT_NE(theme->find("http://purl.oclc.org/ooxml/drawingml/main"), std::string_view::npos);
  EXPECT_EQ(theme->find("http://schemas.openxmlformats.org/drawingml/2006/main"), std::string_view::npos);
}

TEST(SaveIntoSource, Refusals) {
  struct Case {
    const char* name;
    std::function<void(HeldWorkbook&)> edit;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"more sheets than origins",
       [](HeldWorkbook& h) { h.model.sheets.push_back(model::SheetModel{"Extra"}); },
       "malformed spreadsheetml: sheet origin count does not match workbook"},
      {"a palette entry that is not a colour",
       [](HeldWorkbook& h) { h.model.styles.indexed_colors = {"#12345"}; },
       "malformed spreadsheetml: indexed palette color at index 0 must be empty or six hexadecimal RGB digits with an "
       "optional '#'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldWorkbook held = hold(three_sheets());
    c.edit(held);
    const auto saved = held.save();
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(testing::error_text(saved.error()), c.message);
  }
}

// A part that references cells of Sheet1 (a pivot cache, say) stays valid as
// long as Sheet1 keeps its name and its place among the source sheets.
TEST(SaveIntoSource, RetainedReferencesRefuseMovesOfTheirSheets) {
  struct Case {
    const char* name;
    bool any_sheet;  // a group without a reference list
    std::function<void(HeldWorkbook&)> edit;
    bool refused;
  };
  auto swap = [](HeldWorkbook& h, size_t a, size_t b) {
    std::swap(h.model.sheets[a], h.model.sheets[b]);
    std::swap(h.origins[a], h.origins[b]);
    std::swap(h.string_indexes[a], h.string_indexes[b]);
  };
  auto append = [](HeldWorkbook& h) {
    h.model.sheets.push_back(model::SheetModel{"New"});
    h.origins.push_back(model::SheetOrigin{});
    h.string_indexes.emplace_back();
  };
  auto rename_first = [](HeldWorkbook& h) { h.model.sheets[0].name = "Renamed"; };
  const std::vector<Case> cases = {
      {"other sheets swapped", false, [&](HeldWorkbook& h) { swap(h, 1, 2); }, false},
      {"a sheet appended", false, append, false},
      {"Sheet1 renamed", false, rename_first, true},
      {"Sheet1 moved behind Sheet2", false, [&](HeldWorkbook& h) { swap(h, 0, 1); }, true},
      {"Sheet1 removed", false,
       [](HeldWorkbook& h) {
         h.model.sheets.erase(h.model.sheets.begin());
         h.origins.erase(h.origins.begin());
         h.string_indexes.erase(h.string_indexes.begin());
       },
       true},
      {"any rename, group without references", true,
       [](HeldWorkbook& h) { h.model.sheets[2].name = "Other"; }, true},
      {"rows moved under the group", false, [](HeldWorkbook& h) { h.opened.active_tab = 1; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldWorkbook held = hold(three_sheets());
    std::optional<std::vector<reader::RetainedCellRef>> refs;
    if (!c.any_sheet) refs = std::vector<reader::RetainedCellRef>{{"sheet1", model::CellRef{4, 1, false, false}}};
    held.opened.source.inventory = {reader::RetainedCellRefs{"xl/pivotCache/pivotCacheDefinition1.xml", refs}};
    c.edit(held);
    const auto saved = held.save();
    if (!c.refused) {
      EXPECT_TRUE(saved.has_value()) << testing::error_text(saved.error());
      continue;
    }
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error(), SpreadsheetParseError::unsupported_edit(
                                 "xl/pivotCache/pivotCacheDefinition1.xml references sheets or cells this save would "
                                 "move, and it cannot be rewritten"));
  }
  HeldWorkbook held = hold(three_sheets());
  held.opened.source.inventory = {reader::RetainedCellRefs{"xl/pivotCache/pivotCacheDefinition1.xml", std::nullopt}};
  held.opened.active_tab = 1;
  const SourceSaveInputs inputs{held.origins, held.string_indexes, held.move_maps, true, true, 1};
  EXPECT_FALSE(save_into_source(held.model, held.opened.source, inputs).has_value());
}

TEST(SaveIntoSource, BudgetHasAFloor) {
  const std::vector<opc::PackagePart> small = {{"a.xml", std::string(10, 'x')}};
  EXPECT_EQ(SavePlan(small).budget(), uint64_t{1} << 30);
  // A 70 MB part fits a save of a small source.
  SavePlan plan(small);
  EXPECT_TRUE(plan.put("xl/worksheets/sheet1.xml", std::string(70u << 20, 'x')).has_value());
}

}  // namespace
}  // namespace cmx::writer
