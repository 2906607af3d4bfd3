// The save plan (order, budget, pruning) and the part plans of a save: one
// plan for each kind of sheet, names and ids that never collide, the
// relationships namespace, and the matching of charts to their source.
#include <gtest/gtest.h>

#include "source_fixture.h"
#include "writer/namespaces.h"
#include "writer/part_plans.h"
#include "writer/save_plan.h"
#include "writer/xml_part_writer.h"

namespace cmx::writer {
namespace {

using reader::testing::content_types;
using reader::testing::Package;
using reader::testing::Rel;
using reader::testing::rels_part;
using reader::testing::sheet_part;
using reader::testing::workbook_part;

std::vector<std::string> names_of(const std::vector<SavedPart>& parts) {
  std::vector<std::string> out;
  for (const SavedPart& part : parts) out.push_back(part.name);
  return out;
}

std::string value_of(const opc::AttributeList& attributes, std::string_view name) {
  for (const opc::AttributePair& pair : attributes) {
    if (pair.name == name) return pair.value;
  }
  return "(none)";
}

TEST(SavePlan, ReplacesInPlaceAppendsAndRemoves) {
  const std::vector<opc::PackagePart> source = {{"[Content_Types].xml", "a"}, {"xl/workbook.xml", "bb"},
                                                {"xl/media/x.png", "ccc"}};
  SavePlan plan(source);
  ASSERT_TRUE(plan.put("XL/Workbook.xml", "new").has_value());
  ASSERT_TRUE(plan.put("xl/added.xml", "d").has_value());
  plan.remove("/xl/media/x.png");
  plan.remove("xl/absent.xml");
  plan.remove("[content_types].xml");
  ASSERT_TRUE(plan.put("[Content_Types].xml", "t").has_value());
  const std::vector<SavedPart> parts = std::move(plan).close();
  EXPECT_EQ(names_of(parts), (std::vector<std::string>{"xl/workbook.xml", "xl/added.xml", "[Content_Types].xml"}));
  EXPECT_EQ(parts[0].bytes, "new");
  // Unchanged parts stay views of the source's bytes.
  SavePlan untouched(source);
  const std::vector<SavedPart> same = std::move(untouched).close();
  EXPECT_EQ(same[2].bytes.data(), source[2].bytes.data());
}

TEST(SavePlan, BudgetIsTwiceTheSourcePlusTheAllowance) {
  const std::vector<opc::PackagePart> source = {{"a.xml", std::string(10, 'x')}};
  SavePlan plan(source, /*budget_floor=*/0);
  EXPECT_EQ(plan.budget(), 20 + kSaveBudgetAllowance);
  ASSERT_TRUE(plan.put("a.xml", std::string(20, 'y')).has_value());
  ASSERT_TRUE(plan.put("b.xml", std::string(kSaveBudgetAllowance - 1, 'z')).has_value());
  ASSERT_TRUE(plan.put("c.xml", "1").has_value());
  // Replacing a larger part refunds nothing.
  auto refused = plan.put("a.xml", "2");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(testing::error_text(refused.error()), "unsupported edit: generated parts exceeded the save budget");
}

TEST(SavePlan, PrunesWhatOnlyRemovedPartsReached) {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/_rels/sheet1.xml.rels", rels_part({{"rId1", "drawing", "../drawings/drawing1.xml", ""}}));
  pkg.set("xl/drawings/drawing1.xml", "<d/>");
  pkg.set("xl/drawings/_rels/drawing1.xml.rels", rels_part({{"rId1", "image", "../media/image1.png", ""},
                                                            {"rId2", "image", "/xl/media/image2.png", ""},
                                                            {"rId3", "hyperlink", "http://x", " TargetMode=\"External\""}}));
  pkg.set("xl/media/image1.png", "png");
  pkg.set("xl/media/image2.png", "png");
  pkg.set("xl/orphan.xml", "<o/>");
  {
    std::vector<std::pair<std::string_view, std::string_view>> parts;
    for (const opc::PackagePart& part : pkg.parts) parts.emplace_back(part.name, part.bytes);
    auto reached = reachable_part_keys(parts);
    ASSERT_TRUE(reached.has_value());
    EXPECT_TRUE(reached->contains("xl/media/image1.png"));
    EXPECT_TRUE(reached->contains("xl/media/image2.png"));
    EXPECT_FALSE(reached->contains("xl/orphan.xml"));
  }
  SavePlan plan(pkg.parts);
  plan.remove("xl/worksheets/sheet1.xml");
  plan.remove("xl/worksheets/_rels/sheet1.xml.rels");
  auto removed = prune_unreachable_parts(plan, pkg.parts);
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(*removed, (std::vector<std::string>{"xl/drawings/drawing1.xml", "xl/drawings/_rels/drawing1.xml.rels",
                                                "xl/media/image1.png", "xl/media/image2.png"}));
  EXPECT_TRUE(plan.contains("xl/orphan.xml"));

  // Without package relationships nothing but the content types is reached,
  // in the source as in the plan: nothing goes.
  pkg.erase("_rels/.rels");
  SavePlan bare(pkg.parts);
  auto none = prune_unreachable_parts(bare, pkg.parts);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
}

// Three sheets: a worksheet, a chart sheet and a second worksheet.
Package three_sheets() {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml",
          workbook_part("<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
                        "<sheet name=\"Chart\" sheetId=\"4\" state=\"hidden\" r:id=\"rId2\"/>"
                        "<sheet name=\"B\" sheetId=\"2\" r:id=\"rId3\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "chartsheet", "chartsheets/sheet1.xml", ""},
                                                   {"rId3", "worksheet", "worksheets/sheet3.xml", ""},
                                                   {"rId4", "styles", "styles.xml", ""}}));
  pkg.set("xl/styles.xml", "<styleSheet xmlns=\"" + std::string(reader::testing::kMainNs) + "\"/>");
  pkg.set("xl/chartsheets/sheet1.xml", "<chartsheet xmlns=\"" + std::string(reader::testing::kMainNs) + "\"/>");
  pkg.set("xl/worksheets/sheet3.xml", sheet_part("3"));
  return pkg;
}

TEST(PartPlans, OnePlanForEachKindOfSheet) {
  const reader::OpenedPackage opened = testing::open_package(three_sheets());
  const reader::SourcePackage& source = opened.source;
  PlanAllocators allocators = make_plan_allocators(source);
  // B renamed and moved first, the chart sheet kept, A removed, then a copy
  // of B and a new sheet.
  std::vector<model::SheetModel> sheets(4);
  sheets[0].name = "B renamed";
  const std::vector<model::SheetOrigin> origins = {{1, 2}, {1, 1}, {1, 2}, {0, 0}};
  auto plans = collect_sheet_part_plans(origins, sheets, source, allocators, kRelWorksheet);
  ASSERT_TRUE(plans.has_value()) << testing::error_text(plans.error());
  struct Expected {
    bool from_source;
    std::string part;
    std::string id;
    uint32_t sheet_id;
    std::string state;
  };
  const Expected expected[] = {
      {true, "xl/worksheets/sheet3.xml", "rId3", 2, "(none)"},
      {true, "xl/chartsheets/sheet1.xml", "rId2", 4, "hidden"},
      {false, "xl/worksheets/sheet2.xml", "rId5", 5, "(none)"},
      {false, "xl/worksheets/sheet4.xml", "rId6", 6, "(none)"},
  };
  ASSERT_EQ(plans->size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const SheetPartPlan& plan = (*plans)[i];
    EXPECT_EQ(plan.from_source, expected[i].from_source);
    EXPECT_EQ(plan.part_name, expected[i].part);
    EXPECT_EQ(value_of(plan.relationship, "Id"), expected[i].id);
    EXPECT_EQ(plan.sheet_id, expected[i].sheet_id);
    EXPECT_EQ(value_of(plan.sheet_attributes, "state"), expected[i].state);
  }
  EXPECT_EQ(value_of((*plans)[2].relationship, "Target"), "worksheets/sheet2.xml");
  EXPECT_EQ(value_of((*plans)[2].relationship, "Type"), kRelWorksheet);
  EXPECT_EQ(kept_source_sheet_indices(*plans), (std::set<uint32_t>{1, 2}));

  // Package-level parts: the source's styles part by its relationship, new
  // shared strings and theme with the next free Ids.
  const PartRelationshipPlan styles = plan_styles_relationship(source, kRelStyles, allocators.relationship_ids);
  EXPECT_EQ(styles.part_name, "xl/styles.xml");
  EXPECT_EQ(value_of(styles.relationship, "Id"), "rId4");
  const PartRelationshipPlan strings =
      plan_shared_strings_relationship(source, kRelSharedStrings, allocators.relationship_ids);
  EXPECT_EQ(strings.part_name, "xl/sharedStrings.xml");
  EXPECT_EQ(strings.relationship,
            relationship_attributes("rId7", kRelSharedStrings, "sharedStrings.xml"));
}

TEST(PartPlans, KeptSheetWithoutItsRelationshipGetsANewOne) {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml", workbook_part("<sheet name=\"S\" sheetId=\"7\" r:id=\"rId9\"/>"));
  const reader::OpenedPackage opened = testing::open_package(pkg);
  PlanAllocators allocators = make_plan_allocators(opened.source);
  auto plan = plan_worksheet_part({1, 0}, opened.source, allocators, kRelWorksheet);
  ASSERT_TRUE(plan.has_value());
  EXPECT_TRUE(plan->from_source);
  EXPECT_EQ(plan->part_name, opened.source.sheets[0].part_name);
  EXPECT_EQ(plan->sheet_id, 7u);
  EXPECT_EQ(value_of(plan->relationship, "Id"), "rId2");
}

TEST(PartPlans, SheetIdsRunOutOnlyWhenAllAreUsed) {
  const reader::OpenedPackage opened = testing::open_package(Package::basic());
  PlanAllocators allocators = make_plan_allocators(opened.source);
  allocators.next_sheet_id = uint64_t{1} << 32;
  auto low = plan_worksheet_part({}, opened.source, allocators, kRelWorksheet);
  ASSERT_TRUE(low.has_value());
  EXPECT_EQ(low->sheet_id, 2u);  // 1 is the source sheet's
}

TEST(PartPlans, RelationshipNamespace) {
  const std::string strict_rels = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  struct Case {
    const char* name;
    std::string r_namespace;  // what the workbook root binds r to
    std::string rel_type;
    std::string expected;
  };
  const Case cases[] = {
      {"declared on the root under a prefix", strict_rels, "worksheet", strict_rels},
      {"from the relationship types", "urn:r", strict_rels + "/worksheet", strict_rels},
      {"neither family: transitional", "urn:r", "urn:other/worksheet", std::string(kOfficeRelNs)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Package pkg = Package::basic();
    pkg.set("xl/workbook.xml", "<workbook xmlns=\"" + std::string(reader::testing::kMainNs) +
                                   "\" xmlns:r=\"" + c.r_namespace + "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", c.rel_type, "worksheets/sheet1.xml", ""}}));
    const reader::OpenedPackage opened = testing::open_package(pkg);
    auto chosen = choose_relationship_namespace(opened.source);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, c.expected);
  }
  EXPECT_TRUE(capped_relationship_namespace(std::string(1024, 'x')).has_value());
  auto long_ns = capped_relationship_namespace(std::string(1025, 'x'));
  ASSERT_FALSE(long_ns.has_value());
  EXPECT_EQ(testing::error_text(long_ns.error()),
            "unsupported edit: relationship namespace exceeds the generated-attribute cap");
}

model::SheetChart chart(std::string part, std::string drawing, uint64_t anchor) {
  model::SheetChart out;
  out.part = std::move(part);
  out.drawing = std::move(drawing);
  out.anchor_index = anchor;
  return out;
}

TEST(PartPlans, ChartsMatchTheirSource) {
  const std::vector<model::SheetChart> source = {chart("xl/charts/chart1.xml", "xl/drawings/drawing1.xml", 0)};
  auto same = match_chart_origin(source[0], "S", source);
  ASSERT_TRUE(same.has_value());
  EXPECT_EQ(*same, &source[0]);
  auto moved = match_chart_origin(chart("xl/charts/chart1.xml", "xl/drawings/drawing1.xml", 1), "S", source);
  ASSERT_FALSE(moved.has_value());
  EXPECT_EQ(testing::error_text(moved.error()),
            "unsupported edit: chart xl/charts/chart1.xml no longer names the drawing and anchor it was read from");
  auto foreign = match_chart_origin(chart("xl/charts/chart9.xml", "xl/drawings/drawing1.xml", 0), "S", source);
  ASSERT_FALSE(foreign.has_value());
  EXPECT_TRUE(testing::error_text(foreign.error())
                  .starts_with("unsupported edit: chart xl/charts/chart9.xml was not read from sheet S, and"));
}

TEST(PartPlans, ASecondUseOfASourceSheetCannotCarryItsCharts) {
  const reader::OpenedPackage opened = testing::open_package(Package::basic());
  PlanAllocators allocators = make_plan_allocators(opened.source);
  std::vector<model::SheetModel> sheets(2);
  sheets[1].name = "Copy";
  sheets[1].charts.push_back(chart("xl/charts/chart1.xml", "xl/drawings/drawing1.xml", 0));
  const std::vector<model::SheetOrigin> origins = {{1, 0}, {1, 0}};
  auto plans = collect_sheet_part_plans(origins, sheets, opened.source, allocators, kRelWorksheet);
  ASSERT_FALSE(plans.has_value());
  EXPECT_TRUE(testing::error_text(plans.error())
                  .starts_with("unsupported edit: chart xl/charts/chart1.xml was not read from sheet Copy, and"));
}

}  // namespace
}  // namespace cmx::writer
