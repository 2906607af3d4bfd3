// Sheet qualifiers read out of formula text, the rename of a sheet in it, and
// the checks that keep a row or column edit from guessing.
#include <gtest/gtest.h>

#include "ops/sheet_qualifiers.h"

namespace cmx::ops {
namespace {

TEST(SheetQualifiers, RenameInFormulaText) {
  struct Case {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
    bool ambiguous;
  };
  const Case cases[] = {
      {"Sheet1!A1", "Sheet1", "My Sheet", "'My Sheet'!A1", false},
      {"'Sheet1'!B2", "Sheet1", "My Sheet", "'My Sheet'!B2", false},
      {"sheet1!C3", "Sheet1", "My Sheet", "'My Sheet'!C3", false},
      {"SUM(Jan:Sheet1!C3)", "Sheet1", "My Sheet", "SUM('Jan:My Sheet'!C3)", false},
      {"Sheet1!A1", "Sheet1", "O'Brien", "'O''Brien'!A1", false},
      {"Sheet1!A1", "Sheet1", "A1", "'A1'!A1", false},
      {"Sheet1!A1", "Sheet1", "R2C3", "'R2C3'!A1", false},
      {"Sheet1!A1", "Sheet1", "RC", "'RC'!A1", false},
      {"Sheet1!A1", "Sheet1", "2024", "'2024'!A1", false},
      {"Sheet1!A1", "Sheet1", "Données", "'Données'!A1", false},
      {"Sheet1!A1", "Sheet1", "Data_2", "Data_2!A1", false},
      {"Sheet1!A1", "Sheet1", "rowan", "rowan!A1", false},
      {"[1]Sheet1!A1+\"Sheet1!A1\"", "Sheet1", "New", "[1]Sheet1!A1+\"Sheet1!A1\"", false},
      {"Sheet1+1", "Sheet1", "New", "Sheet1+1", true},
      {"'Sheet1'", "Sheet1", "New", "'Sheet1'", true},
      {"SHEET1(2)", "Sheet1", "New", "SHEET1(2)", false},
      {"Sheet1!A1", "Sheet1", "Sheet1", "Sheet1!A1", false},
      {"SUM(Old!A1:B2,'Old'!C3)*Older!A1", "Old", "New", "SUM(New!A1:B2,New!C3)*Older!A1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " -> " + c.to);
    const RenamedText out = rename_sheet_in_formula_text(c.text, c.from, c.to);
    EXPECT_EQ(out.text, c.expected);
    EXPECT_EQ(out.ambiguous, c.ambiguous);
  }
}

TEST(SheetQualifiers, ScanRecordsOffsetsAndFlags) {
  const auto mentions = scan_sheet_qualifiers("SUM('A b'!A1,[2]X!B1,Jan:Mar!C1,\"Z!A1\",F (1))");
  std::vector<QualifierMention> qualifiers;
  std::vector<std::string> calls;
  for (const QualifierMention& mention : mentions) {
    if (mention.qualifier) qualifiers.push_back(mention);
    if (mention.call) calls.push_back(mention.first);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"SUM", "F"}));
  ASSERT_EQ(qualifiers.size(), 3u);  // nothing inside the text literal
  EXPECT_EQ(qualifiers[0].first, "A b");
  EXPECT_EQ(qualifiers[0].start, 4u);
  EXPECT_EQ(qualifiers[0].bang, 9u);
  EXPECT_FALSE(qualifiers[0].external);
  EXPECT_TRUE(qualifiers[1].external);
  EXPECT_EQ(qualifiers[1].first, "X");
  EXPECT_EQ(qualifiers[2].first, "Jan");
  EXPECT_EQ(qualifiers[2].last, "Mar");
  EXPECT_EQ(qualifiers[2].bang, 28u);
}

TEST(SheetQualifiers, SpansAndMentions) {
  model::WorkbookModel model;
  for (const char* name : {"Sheet1", "Sheet2", "Sheet3"}) model.sheets.emplace_back().name = name;
  const ShiftContext context = make_shift_context(model, 1);
  EXPECT_TRUE(mentions_sheet("Sheet1:Sheet3!A1", context));
  EXPECT_FALSE(mentions_sheet("Sheet1:Sheet9!A1", context));
  EXPECT_TRUE(mentions_sheet("Sheet2:Sheet9!A1", context));
  EXPECT_FALSE(mentions_sheet("[1]Sheet2!A1+Sheet3!A1", context));
  EXPECT_TRUE(has_unresolvable_span_on_sheet("SUM(Sheet2:Sheet9!A1)", context));
  EXPECT_TRUE(has_unresolvable_span_on_sheet("SUM('Sheet9:sheet2'!A1)", context));
  EXPECT_FALSE(has_unresolvable_span_on_sheet("SUM(Sheet1:Sheet9!A1)", context));
  EXPECT_FALSE(has_unresolvable_span_on_sheet("SUM(Sheet1:Sheet3!A1)", context));
}

TEST(SheetQualifiers, QualifierText) {
  EXPECT_EQ(format_sheet_qualifier("Jan", "Mar"), "Jan:Mar");
  EXPECT_EQ(format_sheet_qualifier("Jan", "Q 2"), "'Jan:Q 2'");
  EXPECT_EQ(format_sheet_qualifier("data", "DATA"), "data");
  EXPECT_FALSE(sheet_name_is_bare(""));
  EXPECT_FALSE(sheet_name_is_bare("xfd1"));
  EXPECT_FALSE(sheet_name_is_bare("r12c"));
  EXPECT_FALSE(sheet_name_is_bare("R1C1x"));
  EXPECT_TRUE(sheet_name_is_bare("Rates"));
  EXPECT_TRUE(sheet_name_is_bare("_x"));
}

}  // namespace
}  // namespace cmx::ops
