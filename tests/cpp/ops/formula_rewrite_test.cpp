// Texts that may not be plain formulas (chart series, defined names): piece
// by piece, through the parser where it can be trusted, else scanned in place.
#include <gtest/gtest.h>

#include "ops/formula_rewrite.h"

namespace cmx::ops {
namespace {

using model::StructuralKind;

TEST(FormulaRewrite, RemapFormulaText) {
  model::WorkbookModel model;
  for (const char* name : {"Sheet1", "Sheet2"}) model.sheets.emplace_back().name = name;
  model.defined_names.push_back({"Sales", "Sheet1!$A$1", std::nullopt, false});
  const ShiftContext context = make_shift_context(model, 0);
  const NameSet names = defined_name_set(model);
  const ReferenceTest home_first = [&](const std::optional<std::string>& qualifier) {
    return sheet_ref_touches_edited_sheet(qualifier, 0, context);
  };
  const StructuralShift top{StructuralKind::InsertRows, 0, 1};
  const StructuralShift at5{StructuralKind::InsertRows, 5, 1};
  const StructuralShift del5{StructuralKind::DeleteRows, 4, 1};
  const StructuralShift col{StructuralKind::InsertColumns, 0, 2};
  using V = RemapVerdict;
  struct Case {
    const char* text;
    StructuralShift shift;
    bool no_home;
    V verdict;
    const char* expected;
  };
  const Case cases[] = {
      {"(Sheet1!$A$1:$A$5,Sheet1!$C$7)", at5, false, V::Rewritten, "(Sheet1!$A$1:$A$5,Sheet1!$C$8)"},
      {"Sheet1!$A$1:$A$5, Sheet1!$C$7", at5, false, V::Rewritten, "Sheet1!$A$1:$A$5,Sheet1!$C$8"},
      {"=Sheet1!$B$10", top, false, V::Rewritten, "=Sheet1!$B$11"},
      {"Sheet2!A1", top, false, V::Unchanged, ""},
      {"Sheet1!A5#", top, false, V::Rewritten, "Sheet1!A6#"},
      {"Sheet1!A5#", del5, false, V::Rewritten, "#REF!"},
      {"Sheet1!$3:$5", top, false, V::Rewritten, "Sheet1!$4:$6"},
      {"Sheet1!B:C", col, false, V::Rewritten, "Sheet1!D:E"},
      {"Sheet1!B:C", top, false, V::Unchanged, ""},
      {"A1:A4", top, true, V::Ambiguous, ""},
      {"1:4", top, true, V::Ambiguous, ""},
      {"B:C", top, true, V::Unchanged, ""},
      {"A1", top, false, V::Rewritten, "A2"},
      {"Sheet1!#REF!", top, false, V::Unchanged, ""},
      {"Sheet1!A1 : Sheet1!A4", top, false, V::Rewritten, "Sheet1!A2 : Sheet1!A5"},
      {"Sheet1!A1:Sheet1!A4", del5, false, V::Unchanged, ""},
      {"Sheet1!A1:Sheet2!A4", top, false, V::Unsafe, ""},
      {"Sales", top, false, V::Unchanged, ""},
      {"net total", top, false, V::Unsafe, ""},
      {"Sheet1!A1 # 2", top, false, V::Unsafe, ""},
      {"Sheet1!A1[x]", top, false, V::Unsafe, ""},
      {"SUM((Sheet1!A1", top, false, V::Unsafe, ""},
      {"Table1[Amount]", top, false, V::Unsafe, ""},
      {"Sheet1!A1:INDEX(Sheet1!B:B,2),\"Sheet1!A1\"", top, false, V::Rewritten,
       "Sheet1!A2:INDEX(Sheet1!B:B,2),\"Sheet1!A1\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const RemapResult out = remap_formula_text(c.text, c.shift, home_first, c.no_home, names);
    EXPECT_EQ(out.verdict, c.verdict);
    EXPECT_EQ(out.text, c.expected);
  }
}

TEST(FormulaRewrite, SplitTopLevelArgs) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(split_top_level_args("A1,SUM(B1,C1),\"x,y\",{1,2},'a,b'!A1"),
            (Pieces{"A1", "SUM(B1,C1)", "\"x,y\"", "{1,2}", "'a,b'!A1"}));
  EXPECT_EQ(split_top_level_args(""), (Pieces{""}));
  EXPECT_EQ(split_top_level_args("\"open"), (Pieces{"\"open"}));
  EXPECT_FALSE(split_top_level_args("A1)"));
  EXPECT_FALSE(split_top_level_args("(A1"));
  EXPECT_FALSE(split_top_level_args("'open!A1"));
  EXPECT_FALSE(split_top_level_args("{1,2"));
}

}  // namespace
}  // namespace cmx::ops
