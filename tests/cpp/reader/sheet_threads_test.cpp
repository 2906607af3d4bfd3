// Big sheets read on several threads: the opened package (model, record of
// the package as read, side records) is the one a read on one thread gives,
// and a failure is the one the sheets in order would meet first.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "package_builder.h"
#include "reader/sheet_threads.h"
#include "reader/source_package.h"

namespace cmx::reader {
namespace {

using testing::Package;
using testing::Rel;

// A worksheet of about `rows` × 10 cells of every common shape, plus cells
// the direct path leaves to events; over kThreadedSheetBytes from ~2,500 rows.
std::string big_sheet(int rows, int seed, const std::string& extra_cell = "") {
  std::string out = "<worksheet xmlns=\"" + std::string(testing::kMainNs) +
                    "\" xmlns:r=\"" + std::string(testing::kOfficeRels) + "\"><sheetData>";
  for (int row = 1; row <= rows; ++row) {
    const std::string r = std::to_string(row);
    out += "<row r=\"" + r + "\">";
    out += "<c r=\"A" + r + "\"><v>" + std::to_string(row * seed) + ".25</v></c>";
    out += "<c r=\"B" + r + "\" t=\"s\"><v>" + std::to_string((row + seed) % 3) + "</v></c>";
    out += "<c r=\"C" + r + "\" t=\"inlineStr\"><is><t>text " + std::to_string(row % 97) + "</t></is></c>";
    out += "<c r=\"D" + r + "\"><f>A" + r + "*2</f><v>" + std::to_string(row * seed * 2) + ".5</v></c>";
    out += "<c r=\"E" + r + "\" s=\"1\"/>";
    out += "<c r=\"F" + r + "\" t=\"b\"><v>1</v></c>";
    out += "<c r=\"G" + r + "\"><f t=\"shared\" ref=\"G" + r + ":H" + r + "\" si=\"" + std::to_string(row) +
           "\">A" + r + "+1</f><v>1</v></c><c r=\"H" + r + "\"><f t=\"shared\" si=\"" + std::to_string(row) +
           "\"/><v>2</v></c>";
    out += "<c r=\"I" + r + "\" t=\"inlineStr\"><is><r><t>ri</t></r><r><t>ch</t></r></is></c>";
    out += "<c r=\"J" + r + "\"><f>1+1</f></c>";
    if (row == rows / 2) out += extra_cell;
    out += "</row>";
  }
  return out + "</sheetData><mergeCells count=\"1\"><mergeCell ref=\"K1:L2\"/></mergeCells></worksheet>";
}

// Sheets S1..S4 in xl/worksheets/sheetN.xml with the given parts (an empty
// text leaves the part out) and a shared-string table.
Package package_of(const std::vector<std::string>& sheets) {
  Package pkg = Package::basic();
  std::string entries;
  std::vector<Rel> rels;
  for (size_t i = 0; i < sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    entries += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels.push_back({"rId" + n, "worksheet", "worksheets/sheet" + n + ".xml", ""});
    if (!sheets[i].empty()) pkg.set("xl/worksheets/sheet" + n + ".xml", sheets[i]);
  }
  rels.push_back({"rId99", "sharedStrings", "sharedStrings.xml", ""});
  pkg.set("xl/workbook.xml", testing::workbook_part(entries));
  pkg.set("xl/_rels/workbook.xml.rels", testing::rels_part(rels));
  pkg.set("xl/sharedStrings.xml", "<sst xmlns=\"" + std::string(testing::kMainNs) +
                                      "\"><si><t>zero</t></si><si><t>one</t></si><si><t>two</t></si></sst>");
  return pkg;
}

std::string outcome(const Result<OpenedPackage, SpreadsheetParseError>& opened) {
  return opened.has_value() ? "ok" : xml::parse_error_message(opened.error());
}

void expect_same_on_every_thread_count(const Package& pkg) {
  auto one = open_source_package(pkg.parts, ReadOptions{1});
  ASSERT_TRUE(one.has_value()) << outcome(one);
  ASSERT_GE(one->model.sheets.back().cells.size(), size_t{27000});
  for (unsigned threads : {0u, 2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    auto many = open_source_package(pkg.parts, ReadOptions{threads});
    ASSERT_TRUE(many.has_value()) << outcome(many);
    EXPECT_TRUE(model::workbook_eq(one->model, many->model));
    EXPECT_TRUE(model::workbook_eq(one->source.base_model, many->source.base_model));
    EXPECT_EQ(one->model.sheets, many->model.sheets);
    EXPECT_EQ(one->source.base_model.sheets, many->source.base_model.sheets);
    ASSERT_EQ(one->source.sheets.size(), many->source.sheets.size());
    for (size_t i = 0; i < one->source.sheets.size(); ++i) {
      const SourceSheet& a = one->source.sheets[i];
      const SourceSheet& b = many->source.sheets[i];
      EXPECT_EQ(a.part_name, b.part_name);
      EXPECT_TRUE(a.template_ == b.template_);
      EXPECT_EQ(a.shared_string_cells, b.shared_string_cells);
      EXPECT_EQ(a.cell_notes.uncached_formula_cells, b.cell_notes.uncached_formula_cells);
      EXPECT_EQ(a.cell_notes.rich_inline_strings, b.cell_notes.rich_inline_strings);
    }
    ASSERT_EQ(one->source_dimensions.size(), many->source_dimensions.size());
    for (size_t i = 0; i < one->source_dimensions.size(); ++i) {
      EXPECT_EQ(one->source_dimensions[i].row_heights, many->source_dimensions[i].row_heights);
      EXPECT_EQ(one->source_dimensions[i].column_widths, many->source_dimensions[i].column_widths);
    }
  }
}

TEST(SheetThreads, SameOpenedPackageOnEveryThreadCount) {
  ASSERT_GT(big_sheet(2600, 5).size(), kThreadedSheetBytes);
  // Several big sheets, and one big sheet beside a small one.
  for (const Package& pkg : {package_of({big_sheet(3000, 3), testing::sheet_part("7"), big_sheet(2600, 5),
                                         big_sheet(2800, 7)}),
                             package_of({testing::sheet_part("7"), big_sheet(2700, 9)})}) {
    SCOPED_TRACE(pkg.parts.size());
    expect_same_on_every_thread_count(pkg);
  }
}

TEST(SheetThreads, FirstFailureInSheetOrder) {
  const std::string bad_number = "<c r=\"Z9\"><v>abc</v></c>";
  const std::string bad_ref = "<c r=\"9Z\"><v>1</v></c>";
  // Unbound on the template's pass only: the worksheet reader reads it.
  const std::string bad_binding = "<c r=\"Z8\" xmlns:xml=\"urn:x\"><v>1</v></c>";
  struct Case {
    const char* label;
    std::vector<std::string> sheets;
  };
  const Case cases[] = {
      {"two big sheets fail", {big_sheet(2600, 1), big_sheet(2600, 2, bad_number), big_sheet(2600, 3, bad_ref)}},
      {"small sheet fails first", {testing::sheet_part("x"), big_sheet(2600, 2, bad_ref), big_sheet(2600, 3)}},
      {"missing part first", {big_sheet(2600, 1), "", big_sheet(2600, 3, bad_number)}},
      {"template fails", {big_sheet(2600, 1), big_sheet(2600, 2, bad_binding), big_sheet(2600, 3, bad_binding)}},
      {"template after cells", {big_sheet(2600, 1, bad_binding), big_sheet(2600, 2), big_sheet(2600, 3, bad_ref)}},
      {"template of one big sheet fails", {testing::sheet_part("7"), big_sheet(2600, 2, bad_binding)}},
      {"small sheet before one big", {testing::sheet_part("x"), big_sheet(2600, 2, bad_binding)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Package pkg = package_of(c.sheets);
    const std::string one = outcome(open_source_package(pkg.parts, ReadOptions{1}));
    EXPECT_NE(one, "ok");
    // The cells read fine: the binding inside sheetData is the template's to refuse.
    const std::string_view label = c.label;
    if (label == "template fails" || label == "template of one big sheet fails") {
      EXPECT_NE(one.find("namespace binding"), std::string::npos) << one;
    }
    for (unsigned threads : {0u, 3u}) {
      EXPECT_EQ(outcome(open_source_package(pkg.parts, ReadOptions{threads})), one);
      EXPECT_EQ(outcome(open_source_package(pkg.parts, ReadOptions{.threads = threads, .lean = true})), one);
    }
  }
}

TEST(SheetThreads, JobsRunOnceAndFailuresReachTheCaller) {
  std::vector<int> runs(100, 0);
  run_sheet_jobs(runs.size(), 4, [&](size_t at) { ++runs[at]; });
  EXPECT_EQ(runs, std::vector<int>(100, 1));
  EXPECT_THROW(run_sheet_jobs(10, 3,
                              [](size_t at) {
                                if (at == 5) throw std::runtime_error("job");
                              }),
               std::runtime_error);
  EXPECT_EQ(sheet_threads(ReadOptions{0}, 1), 1u);
  EXPECT_EQ(sheet_threads(ReadOptions{1}, 5), 1u);
  EXPECT_EQ(sheet_threads(ReadOptions{3}, 5), 3u);
  EXPECT_EQ(sheet_threads(ReadOptions{8}, 2), 2u);
}

}  // namespace
}  // namespace cmx::reader
