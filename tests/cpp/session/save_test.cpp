// Saving: a workbook without a source package as a fresh package that opens
// again with every edit, the refusals, and saves that repeat byte for byte.
#include <gtest/gtest.h>

#include "session/open.h"
#include "session/save.h"
#include "session/set_cells.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::named_sheets;
using testing::zip;

// Opened from a package, then cut loose from it as a workbook made in the
// session would be.
std::unique_ptr<WorkbookSession> detached(const std::vector<std::string>& names) {
  auto opened = bootstrap_session(zip(named_sheets(names)), true, std::nullopt);
  EXPECT_TRUE(opened) << engine_error_display(opened.error());
  std::unique_ptr<WorkbookSession> s = std::move(opened).value();
  s->source_package.reset();
  s->source_bytes.reset();
  for (SheetOrigin& origin : s->sheet_sources.origins) origin = SheetOrigin{};
  return s;
}

model::CellRef ref(std::string_view a1) { return model::parse_cell_ref(a1).value(); }

TEST(Save, NewPackageKeepsEveryEditAndRepeatsExactly) {
  auto s = detached({"One", "Two"});
  s->active_sheet = 1;
  ASSERT_TRUE(set_many_cells(*s, 0, {{ref("A1"), "2.5"}, {ref("B1"), "=A1*4"}, {ref("C3"), "'007"},
                                     {ref("D1"), "TRUE"}},
                             std::nullopt));
  ASSERT_TRUE(set_cell(*s, 1, ref("B2"), "=One!B1+1", std::nullopt));
  auto saved = save_workbook(*s);
  ASSERT_TRUE(saved) << engine_error_display(saved.error());
  auto again = save_workbook(*s);
  ASSERT_TRUE(again);
  EXPECT_EQ(*saved, *again);

  auto reopened = bootstrap_session(*saved, true, std::nullopt);
  ASSERT_TRUE(reopened) << engine_error_display(reopened.error());
  const WorkbookSession& r = *reopened.value();
  EXPECT_EQ(r.active_sheet, 1u);
  ASSERT_EQ(r.model.sheets.size(), 2u);
  for (size_t sheet = 0; sheet < 2; ++sheet) {
    const model::CellMap& before = s->model.sheets[sheet].cells;
    const model::CellMap& after = r.model.sheets[sheet].cells;
    ASSERT_EQ(after.size(), before.size()) << "sheet " << sheet;
    for (const auto& [key, cell] : before) {
      const auto found = after.find(key);
      ASSERT_NE(found, after.end());
      EXPECT_EQ(found->second.value, cell.value);
      EXPECT_EQ(found->second.formula, cell.formula);
    }
  }
  EXPECT_EQ(r.model.sheets[0].cells.at({0, 1}).value, model::CellValue::number(10));
  EXPECT_EQ(r.model.sheets[1].cells.at({1, 1}).value, model::CellValue::number(11));
  EXPECT_EQ(r.model.sheets[0].cells.at({2, 2}).value, model::CellValue::text("007"));
}

TEST(Save, Refusals) {
  struct Case {
    std::string name;
    std::function<void(WorkbookSession&)> spoil;
    EngineErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {"charts without a source package",
       [](WorkbookSession& s) {
         model::SheetChart chart;
         chart.part = "xl/charts/chart1.xml";
         chart.drawing = "xl/drawings/drawing1.xml";
         s.model.sheets[0].charts.push_back(chart);
       },
       EngineErrorKind::InvalidOperation,
       "charts can only be preserved from a source package, and this workbook has none"},
      {"two sheets of one name", [](WorkbookSession& s) { s.model.sheets[1].name = "one"; },
       EngineErrorKind::InvalidOperation, "duplicate sheet name: one"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = detached({"One", "Two"});
    c.spoil(*s);
    auto saved = save_workbook(*s);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().kind, c.kind);
    EXPECT_EQ(engine_error_display(saved.error()), c.message);
  }
}

}  // namespace
}  // namespace cmx::session
