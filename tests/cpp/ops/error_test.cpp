// Every edit error's message and debugging form.
#include <gtest/gtest.h>

#include <set>

#include "ops/error.h"

namespace cmx::ops {
namespace {

TEST(OpsError, MessagesAndDebugForms) {
  struct Case {
    OpsError error;
    const char* message;
    const char* debug;
  };
  const Case cases[] = {
      {OpsError::sheet_not_found(3), "sheet 3 not found", "SheetNotFound(3)"},
      {OpsError::sheet_index_out_of_range(7), "sheet index 7 out of range", "SheetIndexOutOfRange(7)"},
      {OpsError::formula_not_rewritable(0, {0, 1, false, false}), "formula at sheet 0, B1 cannot be safely rewritten",
       "FormulaNotRewritable { sheet: 0, cell: B1 }"},
      {OpsError::with_text(OpsErrorKind::DefinedNameNotRewritable, "Total"),
       "defined name Total cannot be safely rewritten", "DefinedNameNotRewritable { name: \"Total\" }"},
      {OpsError::with_text(OpsErrorKind::ChartRefNotRewritable, "xl/charts/chart1.xml"),
       "chart reference in xl/charts/chart1.xml cannot be safely rewritten",
       "ChartRefNotRewritable { part: \"xl/charts/chart1.xml\" }"},
      {OpsError::with_text(OpsErrorKind::ChartAnchorNotMovable, "xl/charts/chart1.xml"),
       "the anchor of xl/charts/chart1.xml would leave the sheet grid",
       "ChartAnchorNotMovable { part: \"xl/charts/chart1.xml\" }"},
      {OpsError::with_text(OpsErrorKind::ChartNotFound, "xl/drawings/drawing1.xml#0"),
       "no chart frame on this sheet is named xl/drawings/drawing1.xml#0",
       "ChartNotFound { frame: \"xl/drawings/drawing1.xml#0\" }"},
      {OpsError::with_text(OpsErrorKind::ChartFrameShifted, "d#2"),
       "chart frame d#2 does not hold the chart part and anchor this op was recorded against; its drawing has changed",
       "ChartFrameShifted { frame: \"d#2\" }"},
      {OpsError::of(OpsErrorKind::NumFmtTableFull), "number format table is full", "NumFmtTableFull"},
      {OpsError::invalid_style("font size must be between 1 and 400"), "font size must be between 1 and 400",
       "InvalidStyle(\"font size must be between 1 and 400\")"},
      {OpsError::of(OpsErrorKind::StyleTableFull), "style table is full", "StyleTableFull"},
      {OpsError::with_text(OpsErrorKind::TableNotMovable, "Sales"), "table Sales cannot follow this edit",
       "TableNotMovable { table: \"Sales\" }"},
  };
  std::set<OpsErrorKind> kinds;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ops_error_message(c.error), c.message);
    EXPECT_EQ(ops_error_debug(c.error), c.debug);
    kinds.insert(c.error.kind);
  }
  EXPECT_EQ(kinds.size(), static_cast<size_t>(kOpsErrorKindCount));
}

}  // namespace
}  // namespace cmx::ops
