#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "model_compare.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"
#include "writer/new_package.h"
#include "xml/parse_error.h"

namespace cmx::writer {
namespace {

using writer_test::model_difference;

model::CellRange range(const char* text) { return *model::parse_range(text); }

std::vector<std::string> names_of(const std::vector<opc::PackagePart>& parts) {
  std::vector<std::string> names;
  for (const opc::PackagePart& part : parts) names.push_back(part.name);
  return names;
}

std::string part_text(const std::vector<opc::PackagePart>& parts, std::string_view name) {
  const std::optional<std::string_view> found = opc::find_package_part(parts, name);
  EXPECT_TRUE(found.has_value()) << name;
  return found ? std::string(*found) : std::string();
}

// Writes, zips, unzips and reads back.
Result<reader::WorkbookRead, std::string> round_trip(const model::WorkbookModel& model, uint32_t active = 0) {
  auto parts = write_new_package(model, active);
  if (!parts) return unexpected(xml::parse_error_message(parts.error()));
  auto archive = write_package_zip(*parts);
  if (!archive) return unexpected(archive.error());
  auto read_parts = opc::read_package_archive(*archive);
  if (!read_parts) return unexpected(opc::package_error_message(read_parts.error()));
  auto read = reader::read_workbook(*read_parts);
  if (!read) return unexpected(xml::parse_error_message(read.error()));
  return std::move(*read);
}

model::WorkbookModel one_sheet(const char* name = "Sheet1") {
  model::WorkbookModel model;
  model.sheets.emplace_back().name = name;
  return model;
}

TEST(NewPackage, PartListFollowsTheModel) {
  struct Case {
    const char* name;
    std::function<void(model::WorkbookModel&)> build;
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {"one empty sheet", [](model::WorkbookModel&) {},
       {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
        "xl/worksheets/sheet1.xml"}},
      {"shared strings and styles",
       [](model::WorkbookModel& m) {
         m.shared_strings = {"a"};
         m.styles.theme.colors[1] = "#FFFFFF";  // same colour, other case: not default
       },
       {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
        "xl/sharedStrings.xml", "xl/styles.xml", "xl/theme/theme1.xml", "xl/worksheets/sheet1.xml"}},
      {"external hyperlink on the second sheet",
       [](model::WorkbookModel& m) {
         m.sheets.emplace_back().name = "Two";
         m.sheets[0].hyperlinks.push_back({range("A1"), {}, "Two!A1", {}, {}});
         m.sheets[1].hyperlinks.push_back({range("A1"), "http://x.test", {}, {}, {}});
       },
       {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
        "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/_rels/sheet2.xml.rels"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::WorkbookModel model = one_sheet();
    c.build(model);
    auto parts = write_new_package(model, 0);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(names_of(*parts), c.parts);
    for (const opc::PackagePart& part : *parts) {
      EXPECT_TRUE(part.bytes.starts_with(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><)"));
      EXPECT_EQ(part.bytes.find('\n'), std::string::npos) << part.name;
    }
    auto again = write_new_package(model, 0);
    EXPECT_EQ(*again, *parts);
  }
}

TEST(NewPackage, ContentTypesAndRelationshipIds) {
  model::WorkbookModel model = one_sheet();
  model.sheets.emplace_back().name = "B";
  model.sheets.emplace_back().name = "C";
  model.shared_strings = {"x"};
  model.styles.fonts.emplace_back();
  auto parts = write_new_package(model, 0);
  ASSERT_TRUE(parts.has_value());
  const std::string rels = part_text(*parts, "xl/_rels/workbook.xml.rels");
  for (const char* fragment :
       {R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet3.xml"/>)",
        R"(<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)",
        R"(<Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)",
        R"(<Relationship Id="rId6" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/>)"}) {
    EXPECT_NE(rels.find(fragment), std::string::npos) << fragment;
  }
  const std::string types = part_text(*parts, "[Content_Types].xml");
  EXPECT_NE(types.find(R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml")"),
            std::string::npos);
  EXPECT_NE(types.find(R"(<Override PartName="/xl/worksheets/sheet3.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>)"),
            std::string::npos);

  model.shared_strings.clear();
  const std::string without = part_text(*write_new_package(model, 0), "xl/_rels/workbook.xml.rels");
  EXPECT_NE(without.find(R"(Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles")"),
            std::string::npos);
}

TEST(NewPackage, WorkbookPart) {
  model::WorkbookModel model = one_sheet("A&B");
  model.sheets.emplace_back().name = "Two";
  model.date_system = model::DateSystem::V1904;
  model.defined_names = {{"Local", "'A&B'!$A$1", 0, false}, {"Hidden", "1<2", {}, true}};
  const std::string workbook = part_text(*write_new_package(model, 2), "xl/workbook.xml");
  EXPECT_NE(workbook.find(R"(<workbookPr date1904="1"/><bookViews><workbookView activeTab="2"/></bookViews>)"
                          R"(<sheets><sheet name="A&amp;B" sheetId="1" r:id="rId1"/>)"
                          R"(<sheet name="Two" sheetId="2" r:id="rId2"/></sheets><definedNames>)"
                          R"(<definedName name="Local" localSheetId="0">&apos;A&amp;B&apos;!$A$1</definedName>)"
                          R"(<definedName name="Hidden" hidden="1">1&lt;2</definedName></definedNames></workbook>)"),
            std::string::npos)
      << workbook;
  model.date_system = model::DateSystem::V1900;
  const std::string plain = part_text(*write_new_package(model, 0), "xl/workbook.xml");
  EXPECT_EQ(plain.find("workbookPr"), std::string::npos);
  EXPECT_EQ(plain.find("bookViews"), std::string::npos);
}

TEST(NewPackage, Refusals) {
  struct Case {
    const char* name;
    std::function<void(model::WorkbookModel&)> build;
    const char* message;
  };
  const Case cases[] = {
      {"palette entry too short", [](model::WorkbookModel& m) { m.styles.indexed_colors = {"", "#1a2B3c", "1a2b3", "zz"}; },
       "malformed spreadsheetml: indexed palette color at index 2 must be empty or six hexadecimal RGB digits "
       "with an optional '#'"},
      {"chart", [](model::WorkbookModel& m) { m.sheets[0].charts.emplace_back(); },
       "unsupported edit: a chart can only be written back into the package it was read from"},
      {"control character in a formula",
       [](model::WorkbookModel& m) {
         m.sheets[0].cells[{0, 0}] = {model::CellValue::number(1), SharedString("\"a\x02\""), {}};
       },
       "unsupported edit: a rewrite carries U+0002, which xml cannot express"},
      {"U+FFFF in a sheet name", [](model::WorkbookModel& m) { m.sheets[0].name = "a\xEF\xBF\xBF"; },
       "unsupported edit: a rewrite carries U+FFFF, which xml cannot express"},
      {"control character in a hyperlink tooltip",
       [](model::WorkbookModel& m) { m.sheets[0].hyperlinks.push_back({range("A1"), {}, "S!A1", "\x7f\x01", {}}); },
       "unsupported edit: a rewrite carries U+0001, which xml cannot express"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::WorkbookModel model = one_sheet();
    c.build(model);
    auto parts = write_new_package(model, 0);
    ASSERT_FALSE(parts.has_value());
    EXPECT_EQ(xml::parse_error_message(parts.error()), c.message);
  }
}

// A formula's cached text is no escaped string: what XML cannot carry is left
// out, and the formula stays to compute it again.
TEST(NewPackage, FormulaTextXmlCannotCarryIsNotCached) {
  model::WorkbookModel model = one_sheet();
  model.sheets[0].cells[{0, 0}] = {model::CellValue::text("a\x1b"), SharedString("CHAR(27)"), {}};
  model.sheets[0].cells[{0, 1}] = {model::CellValue::text("b"), SharedString("\"b\""), {}};
  auto parts = write_new_package(model, 0);
  ASSERT_TRUE(parts.has_value());
  const std::string sheet = part_text(*parts, "xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find("<c r=\"A1\"><f>CHAR(27)</f></c>"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("<c r=\"B1\" t=\"str\"><f>&quot;b&quot;</f><v>b</v></c>"), std::string::npos) << sheet;
}

// Texts that XML cannot carry as they stand come back exactly.
TEST(NewPackage, TextsSurviveTheRoundTrip) {
  const std::vector<std::string> texts = {
      std::string("nul\0x", 5), "bell\x07", "\x01\x1f", "cr\r\nlf\n", "tab\t", "_x0041_", "_x005F_x0041_",
      "_X00e9_", "_xD83D_", "_x005F\x1fx0041_", "_x0041\x01", " padded ", "<&>\"'", "\xEF\xBF\xBE\xEF\xBF\xBF", "\xF0\x9F\x98\x80", ""};
  model::WorkbookModel model = one_sheet();
  for (size_t i = 0; i < texts.size(); ++i) {
    // Even rows from the shared-string list, odd rows inline.
    model.shared_strings.push_back(texts[i]);
    model.sheets[0].cells[{static_cast<uint32_t>(2 * i), 0}] = {model::CellValue::text(texts[i]), {}, {}};
    model.sheets[0].cells[{static_cast<uint32_t>(2 * i + 1), 0}] = {
        model::CellValue::text("inline " + texts[i]), {}, {}};
  }
  model.sheets[0].hyperlinks.push_back({range("B1"), {}, "Sheet1!A1", "line\nbreak\tand\rreturn", "  two  "});
  model.defined_names.push_back({"Spaced", "\"a\tb\nc\"", {}, false});
  auto read = round_trip(model);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(model_difference(model, read->model), "");
}

// Workbooks of every feature the new package carries, drawn at random from a
// fixed seed: write, read back, and the model is unchanged.
model::WorkbookModel generated_workbook(uint32_t seed) {
  std::mt19937 rng(seed);
  const auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  model::WorkbookModel model;
  model.date_system = pick(2) ? model::DateSystem::V1904 : model::DateSystem::V1900;
  const std::vector<std::string> words = {"alpha", "beta", "x & y", "<tag>", "quote\"s", "é ü 漢字", "a\nb",
                                          "_x000D_", "bell\x07", "  ", "12", "TRUE"};
  for (uint32_t i = 0; i < 8; ++i) model.shared_strings.push_back(words[pick(words.size())]);

  model::StyleSheet& styles = model.styles;
  if (pick(4) != 0) {
    styles.fonts.push_back({"Calibri", 11.0, false, false, false, false, {}});
    styles.fonts.push_back({"Arial", 10.5, true, true, true, true, model::Color{model::ThemeColor{4, -0.249977111117893}}});
    styles.fonts.push_back({{}, {}, false, false, false, false, model::Color{model::RgbColor{"#1f4e79"}}});
    styles.fills.push_back(model::NoFill{});
    styles.fills.push_back(model::SolidFill{model::IndexedColor{64}});
    styles.fills.push_back(model::SolidFill{model::RgbColor{"#ffc000"}});
    model::Border border;
    border.top = model::BorderEdge{model::BorderStyle::Double, model::Color{model::AutoColor{}}};
    border.right = model::BorderEdge{model::BorderStyle::Dashed, {}};
    styles.borders.push_back({});
    styles.borders.push_back(border);
    styles.num_fmts.push_back({164, "0.000"});
    styles.num_fmts.push_back({165, "[Red]#,##0;\"neg\" @"});
    styles.cell_xfs.push_back({0, 0, 0, 0, {}});
    styles.cell_xfs.push_back({1, 2, 1, 164, model::Alignment{model::HorizontalAlignment::Right, {}, true, false}});
    styles.cell_xfs.push_back({{}, {}, {}, 14, {}});
    styles.cell_xfs.push_back({2, {}, {}, 165, model::Alignment{{}, model::VerticalAlignment::Center, false, true}});
    if (pick(2)) styles.theme.colors[4] = "#123456";
    if (pick(2)) styles.indexed_colors = {"#000000", "#ffffff", "#ff0000"};
  }

  const uint32_t sheet_count = 1 + pick(3);
  for (uint32_t s = 0; s < sheet_count; ++s) {
    model::SheetModel& sheet = model.sheets.emplace_back();
    sheet.name = s == 0 ? "Data & more" : "Sheet " + std::to_string(s + 1);
    for (uint32_t n = 0; n < 60; ++n) {
      const model::CellKey key{pick(40), pick(12)};
      model::SheetCell cell;
      switch (pick(7)) {
        case 0: cell.value = model::CellValue::number(static_cast<double>(rng()) / 7.0 - 3e8); break;
        case 1: cell.value = model::CellValue::number(static_cast<double>(pick(100000)) - 500); break;
        case 2: cell.value = model::CellValue::text(model.shared_strings[pick(8)]); break;
        case 3: cell.value = model::CellValue::text(words[pick(words.size())] + " inline"); break;
        case 4: cell.value = model::CellValue::boolean(pick(2) == 1); break;
        case 5: cell.value = model::CellValue::error(static_cast<model::CellErrorCode>(pick(9))); break;
        default: break;
      }
      if (pick(3) == 0) cell.formula = SharedString(pick(2) ? "SUM(A1:B2)*2" : "IF(A1>0,\"a&b\",\"<c>\")");
      // A formula's text result is plain element content, which cannot carry a control.
      if (cell.formula && cell.value.is_text()) cell.value = model::CellValue::text("result <&>");
      if (cell.value.is_empty() && !cell.formula) cell.style = 0;
      if (pick(3) == 0 && !styles.cell_xfs.empty()) cell.style = pick(styles.cell_xfs.size());
      sheet.cells[key] = cell;
    }
    sheet.cells[{45, 0}] = {model::CellValue::number(6), SharedString("A1:B2*3"), {}};
    sheet.array_ranges[{45, 0}] = range("A46:B47");
    if (pick(2)) sheet.freeze_pane = model::FreezePane{1 + pick(3), pick(2), {0, 0, false, false}};
    if (sheet.freeze_pane) sheet.freeze_pane->top_left = {sheet.freeze_pane->rows, sheet.freeze_pane->cols, false, false};
    sheet.col_widths = {{0, 8.43}, {2, 0.0}, {5, 30.7109375}};
    sheet.row_heights = {{3, 30.0}, {50, 0.0}, {60, 12.75}};
    sheet.merges = {range("H50:I51"), range("K55")};
    sheet.hyperlinks = {{range("H50"), "https://example.test/a?b=c&d=e", {}, "go", "shown"},
                        {range("J52:J53"), {}, "'Data & more'!A1", {}, {}}};
  }
  model.defined_names = {{"Total", "'Data & more'!$A$1:$B$2", {}, false},
                         {"_xlnm.Print_Area", "'Data & more'!$A$1:$C$3", 0, true}};
  return model;
}

TEST(NewPackage, GeneratedWorkbooksReadBackUnchanged) {
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    const model::WorkbookModel model = generated_workbook(seed);
    const uint32_t active = seed % static_cast<uint32_t>(model.sheets.size());
    auto read = round_trip(model, active);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(model_difference(model, read->model), "");
    EXPECT_EQ(read->active_tab, active);
  }
}

// Every workbook of the shared corpus that our reader opens: read, write a
// new package, read again; what the new package carries must be unchanged.
// A sample by default; CMX_CORPUS_ALL=1 takes every file.
TEST(NewPackage, CorpusModelsSurviveANewPackage) {
  const std::filesystem::path corpus =
      std::filesystem::path(CMX_SOURCE_DIR) / "../shared/corpus";
  if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
    if (entry.path().extension() == ".xlsx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  const char* all = std::getenv("CMX_CORPUS_ALL");
  const size_t step = all != nullptr && std::string(all) == "1" ? 1 : 4;
  size_t checked = 0;
  for (size_t i = 0; i < files.size(); i += step) {
    SCOPED_TRACE(files[i].string());
    std::ifstream in(files[i], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    auto parts = opc::read_package_archive(bytes.str());
    if (!parts) continue;
    auto first = reader::read_workbook(*parts);
    if (!first) continue;
    model::WorkbookModel& model = first->model;
    for (model::SheetModel& sheet : model.sheets) sheet.charts.clear();
    auto again = round_trip(model, first->active_tab);
    if (!again && again.error().starts_with("unsupported edit: a rewrite carries")) continue;
    ASSERT_TRUE(again.has_value()) << again.error();
    EXPECT_EQ(model_difference(model, again->model), "");
    ++checked;
  }
  EXPECT_GT(checked, files.size() / step / 2);
  std::printf("corpus: %zu of %zu files checked\n", checked, files.size());
}

}  // namespace
}  // namespace cmx::writer
