// Which parts are charts, which sheet shows each, whether a save can rewrite
// one, and which cells a chart that cannot be rewritten reads.
#include "charts/chart_inventory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cmx::charts {
namespace {

const std::string kC = "http://schemas.openxmlformats.org/drawingml/2006/chart";

std::string chart(const std::string& body, const std::string& extra = "") {
  return "<c:chartSpace xmlns:c=\"" + kC + "\"><c:chart><c:plotArea><c:barChart>" + body +
         "</c:barChart></c:plotArea></c:chart>" + extra + "</c:chartSpace>";
}

std::string ser(const std::string& ref, const std::string& cache = "<c:numCache/>") {
  return "<c:ser><c:val><c:numRef><c:f>" + ref + "</c:f>" + cache + "</c:numRef></c:val></c:ser>";
}

model::SheetModel sheet_showing(const std::string& name, std::vector<std::string> charts) {
  model::SheetModel sheet;
  sheet.name = name;
  for (std::string& part : charts) sheet.charts.push_back(model::SheetChart{std::move(part), "d", 0, {}, {}});
  return sheet;
}

TEST(ChartPartInventory, WhichPartsAreCharts) {
  const std::vector<opc::PackagePart> parts{
      {"/XL/Charts/Chart3.XML", chart("")},
      {"xl/charts/_rels/chart3.xml.rels", "<Relationships/>"},
      {"xl/drawings/extra.xml", chart("")},
      {"xl/charts/colors1.xml", "<x/>"},
      {"xl/charts/chartEx1.xml", "<cx:chartSpace xmlns:cx=\"urn:x\"/>"},
  };
  const KeyedContentTypes overrides{
      {"xl/drawings/extra.xml", "application/vnd.openxmlformats-officedocument.drawingml.CHART+xml"},
      {"xl/charts/chartex1.xml", "application/vnd.ms-office.chartex+xml"}};
  auto entries = collect_chart_part_refs(parts, overrides, {});
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(*entries, (std::vector<ChartPartEntry>{{"XL/Charts/Chart3.XML", std::nullopt, false},
                                                   {"xl/drawings/extra.xml", std::nullopt, false},
                                                   {"xl/charts/chartEx1.xml", std::nullopt, false}}));
}

TEST(ChartPartInventory, RewritableOrNot) {
  struct Case {
    const char* label;
    std::string chart;
    bool not_rewritable;
  };
  const std::vector<Case> cases = {
      {"column of three", chart(ser("Sheet1!$A$1:$A$3")), false},
      {"two dimensions", chart(ser("Sheet1!$A$1:$B$3")), true},
      {"65,536 cells", chart(ser("Sheet1!$A$1:$A$65536")), false},
      {"65,537 cells", chart(ser("Sheet1!$A$1:$A$65537")), true},
      {"without a cache any area passes", chart(ser("Sheet1!$A$1:$B$3", "")), false},
      {"multi-level cache", chart(ser("Sheet1!$A$1:$A$3", "<c:multiLvlStrCache/>")), true},
      {"#REF! passes", chart(ser("#REF!")), false},
      {"union refused", chart(ser("(Sheet1!$A$1,Sheet1!$A$3)")), true},
      {"pivot source", chart(ser("Sheet1!$A$1:$A$3"), "<c:pivotSource/>"), true},
      {"external data", chart(ser("Sheet1!$A$1:$A$3"), "<c:externalData/>"), true},
      {"sqref anywhere", chart(ser("Sheet1!$A$1:$A$3"), "<x:sqref xmlns:x=\"urn:x\"/>"), true},
      {"formula in another namespace", chart(ser("Sheet1!$A$1:$A$3"), "<x:f xmlns:x=\"urn:x\"/>"), true},
      {"chartex element",
       chart(ser("Sheet1!$A$1:$A$3"), "<cx:x xmlns:cx=\"http://schemas.microsoft.com/office/drawing/2014/chartex\"/>"),
       true},
      {"root in another namespace", "<c:chartSpace xmlns:c=\"urn:x\"/>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<opc::PackagePart> parts{{"xl/charts/chart1.xml", c.chart}};
    const std::vector<model::SheetModel> sheets{sheet_showing("Sheet1", {"/xl/charts/chart1.xml"})};
    auto entries = collect_chart_part_refs(parts, {}, sheets);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].sheet, "Sheet1");
    EXPECT_EQ((*entries)[0].not_rewritable, c.not_rewritable);
  }
}

TEST(ChartPartInventory, SheetShownByAndErrors) {
  const std::vector<opc::PackagePart> parts{{"xl/charts/chart1.xml", chart(ser("Sheet1!$A$1:$B$3"))}};
  const std::vector<model::SheetModel> two{sheet_showing("A", {"xl/charts/chart1.xml"}),
                                           sheet_showing("B", {"xl/charts/chart1.xml"})};
  auto entries = collect_chart_part_refs(parts, {}, two);
  ASSERT_TRUE(entries.has_value());
  EXPECT_FALSE((*entries)[0].sheet.has_value());
  const std::vector<model::SheetModel> twice{sheet_showing("A", {"xl/charts/chart1.xml", "xl/charts/chart1.xml"})};
  EXPECT_FALSE((*collect_chart_part_refs(parts, {}, twice))[0].sheet.has_value());

  const std::vector<opc::PackagePart> broken{{"xl/charts/chart1.xml", "<c:chartSpace"}};
  auto failed = collect_chart_part_refs(broken, {}, two);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().kind, xml::ParseErrorKind::Xml);
  // Not named by any frame: not read, so not refused.
  EXPECT_TRUE(collect_chart_part_refs(broken, {}, {}).has_value());
}

TEST(ChartPartInventory, CellsOfAChart) {
  using Refs = std::vector<std::pair<std::string, model::CellRange>>;
  const model::CellRange a1_b3{{0, 0, false, false}, {2, 1, false, false}};
  struct Case {
    const char* label;
    std::string chart;
    std::optional<std::string> default_sheet;
    ChartCellRefs expected;
  };
  const std::vector<Case> cases = {
      {"sheet named", chart(ser("'My ''Sheet'!$B$3:$A$1") + ser("#REF!") + ser(" ")), std::nullopt,
       Refs{{"My 'Sheet", a1_b3}}},
      {"default sheet", chart(ser("$A$1:$B$3")), std::string("Host"), Refs{{"Host", a1_b3}}},
      {"no sheet, no default", chart(ser("$A$1:$B$3")), std::nullopt, std::nullopt},
      {"area that does not parse", chart(ser("Sheet1!A1:ZZZZ9")), std::nullopt, std::nullopt},
      {"unmodelled content", chart(ser("Sheet1!$A$1"), "<c:pivotSource/>"), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto refs = inventory_chart_parts(c.chart, c.default_sheet);
    ASSERT_TRUE(refs.has_value());
    EXPECT_EQ(*refs, c.expected);
  }
  EXPECT_FALSE(inventory_chart_parts("<c:chartSpace", std::nullopt).has_value());
}

TEST(ChartPartInventory, RelationshipIdsInUse) {
  const std::vector<opc::AttributeList> rels{{{"Id", "rId1"}, {"x:Id", "rId9"}}, {{"Target", "a"}}, {{"p:Id", "rId2"}}};
  absl::flat_hash_set<std::string> ids{"rId0"};
  collect_relationship_ids(rels, ids);
  EXPECT_EQ(ids, (absl::flat_hash_set<std::string>{"rId0", "rId1", "rId2"}));
}

}  // namespace
}  // namespace cmx::charts
