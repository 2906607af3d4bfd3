// Shared formulas: the text translation table, the helper text functions,
// registration and expansion with their failures and byte limits.
#include <gtest/gtest.h>

#include <string>

#include "reader/shared_formulas.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using model::CellKey;
using model::SheetCell;

std::string malformed_text(const SpreadsheetParseError& error) {
  EXPECT_EQ(error.kind, xml::ParseErrorKind::Malformed);
  return error.payload;
}

TEST(TranslateSharedFormula, MovesRelativeReferences) {
  struct Case {
    const char* name;
    const char* text;
    int64_t rows;
    int64_t cols;
    const char* expected;
  };
  const Case cases[] = {
      {"plain", "A1*2", 1, 0, "A2*2"},
      {"two rows", "A1*2", 2, 0, "A3*2"},
      {"absolute both", "$A$1+A1", 1, 0, "$A$1+A2"},
      {"mixed", "A$1+$A1", 1, 0, "A$1+$A2"},
      {"mixed across", "A$1+$A1", 1, 1, "B$1+$A2"},
      {"column range keeps rows", "SUM(A:A)", 1, 0, "SUM(A:A)"},
      {"column range moves right", "SUM(A:A)", 0, 1, "SUM(B:B)"},
      {"absolute column range", "SUM($A:A)", 0, 1, "SUM($A:B)"},
      {"row range", "SUM(1:1)", 1, 0, "SUM(2:2)"},
      {"absolute row range", "SUM($1:1)", 1, 0, "SUM($1:2)"},
      {"function name kept", "LOG10(A1)", 1, 0, "LOG10(A2)"},
      {"function name then space", "LOG10 (A1)", 1, 0, "LOG10 (A2)"},
      {"cell-like name moves", "LOG10+1", 1, 0, "LOG11+1"},
      {"sheet prefix", "Sheet2!A1", 1, 0, "Sheet2!A2"},
      {"quoted sheet", "'My Sheet'!A1", 1, 0, "'My Sheet'!A2"},
      {"quoted sheet with bang", "'a!b'!A1", 1, 0, "'a!b'!A2"},
      {"3d span", "Sheet1:Sheet3!A1", 1, 0, "Sheet1:Sheet3!A2"},
      {"string literal", "\"A1\"&A1", 1, 0, "\"A1\"&A2"},
      {"doubled quote", "\"a\"\"A1\"&A1", 1, 0, "\"a\"\"A1\"&A2"},
      {"unterminated literal", "A1&\"A1", 1, 0, "A2&\"A1"},
      {"spaced range", "A1 : B2", 1, 0, "A2 : B3"},
      {"range", "SUM(A1:B2)", 1, 1, "SUM(B2:C3)"},
      {"lower case moves upper", "a1+1", 1, 0, "A2+1"},
      {"lower case unmoved keeps case", "$a$1+1", 1, 0, "$a$1+1"},
      {"structured reference", "Table1[Col]", 1, 0, "Table1[Col]"},
      {"boolean", "TRUE", 1, 0, "TRUE"},
      {"external book", "[1]Sheet1!A1", 1, 0, "[1]Sheet1!A2"},
      {"off the top", "A1", -1, 0, "#REF!"},
      {"off the top with sheet", "Sheet2!A1", -1, 0, "Sheet2!#REF!"},
      {"off the left", "A1", 0, -1, "#REF!"},
      {"off the bottom", "A1048576", 1, 0, "#REF!"},
      {"off the right", "XFD1", 0, 1, "#REF!"},
      {"column range off the grid", "XFD:XFD", 0, 1, "#REF!:#REF!"},
      {"number untouched", "1.5E+3*A1", 1, 0, "1.5E+3*A2"},
      {"unicode space delimits", "A1\u3000+B1", 1, 0, "A2\u3000+B2"},
      {"non-ascii name", "Σ1+A1", 1, 0, "Σ1+A2"},
      {"empty", "", 1, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto moved = translate_shared_formula(c.text, c.rows, c.cols, SHARED_FORMULA_MAX_BYTES);
    ASSERT_TRUE(moved.has_value()) << moved.error().payload;
    EXPECT_EQ(*moved, c.expected);
  }
}

TEST(TranslateSharedFormula, CapBoundsTheOutput) {
  // "A9" becomes "A10": one byte longer than the input.
  auto fits = translate_shared_formula("A9", 1, 0, 3);
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(*fits, "A10");
  auto over = translate_shared_formula("A9", 1, 0, 2);
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(malformed_text(over.error()), "shared formula expansion exceeds the byte limit");
  EXPECT_FALSE(translate_shared_formula("\"abc\"", 0, 0, 4).has_value());
}

TEST(FormulaTextFunctions, Delimiters) {
  for (char32_t ch : std::u32string(U" @#%&()*+,-/;<=>^{}\t\n\u00a0\u3000")) {
    SCOPED_TRACE(static_cast<uint32_t>(ch));
    EXPECT_TRUE(is_formula_delimiter(ch));
  }
  for (char32_t ch : std::u32string(U":!$.'\"[]A1_\u00e9")) {
    SCOPED_TRACE(static_cast<uint32_t>(ch));
    EXPECT_FALSE(is_formula_delimiter(ch));
  }
}

TEST(FormulaTextFunctions, SplitOutsideQuotes) {
  EXPECT_EQ(split_outside_quotes("A1:B2", ':'), (std::vector<size_t>{2}));
  EXPECT_EQ(split_outside_quotes("'a:b'!A1:B2", ':'), (std::vector<size_t>{8}));
  EXPECT_EQ(split_outside_quotes("'a'':b'!A1:B2", ':'), (std::vector<size_t>{10}));
  EXPECT_EQ(split_outside_quotes("[a:[b]:c]x:y", ':'), (std::vector<size_t>{10}));
  EXPECT_EQ(split_outside_quotes("[a']b]:x", ':'), (std::vector<size_t>{6}));
  EXPECT_EQ(split_outside_quotes("a:'b:c", ':'), (std::vector<size_t>{1}));
  EXPECT_EQ(split_outside_quotes("a:[b:c", ':'), (std::vector<size_t>{1}));

  auto split = split_sheet_prefix("'x!y'!A1");
  EXPECT_EQ(split.prefix, "'x!y'!");
  EXPECT_EQ(split.rest, "A1");
  split = split_sheet_prefix("A1");
  EXPECT_EQ(split.prefix, "");
  EXPECT_EQ(split.rest, "A1");
}

TEST(FormulaTextFunctions, AxisReferences) {
  EXPECT_EQ(parse_column_ref("xfd")->index, 16383u);
  EXPECT_TRUE(parse_column_ref("$B")->absolute);
  EXPECT_FALSE(parse_column_ref("XFE"));
  EXPECT_FALSE(parse_column_ref("A1"));
  EXPECT_FALSE(parse_column_ref("$"));
  EXPECT_FALSE(parse_column_ref(""));
  EXPECT_EQ(parse_row_ref("1048576")->index, 1048575u);
  EXPECT_TRUE(parse_row_ref("$3")->absolute);
  EXPECT_FALSE(parse_row_ref("0"));
  EXPECT_FALSE(parse_row_ref("1048577"));
  EXPECT_FALSE(parse_row_ref("+1"));

  EXPECT_EQ(parse_group_index(" 7 "), 7u);
  EXPECT_EQ(parse_group_index("+7"), 7u);
  EXPECT_EQ(parse_group_index("4294967295"), 4294967295u);
  EXPECT_FALSE(parse_group_index("4294967296"));
  EXPECT_FALSE(parse_group_index("-1"));
  EXPECT_FALSE(parse_group_index(""));
  EXPECT_FALSE(parse_group_index("1.0"));
}

// A master in B2 with A1*2 over `ref`, and cells stored at `stored`.
struct Sheet {
  SharedFormulaTable table;
  model::CellMap cells;
  TextArena texts;
  void store(uint32_t row, uint32_t col, std::string_view formula) {
    cells[CellKey{row, col}] = SheetCell{{}, SharedString(formula), std::nullopt};
  }
  Result<void, SpreadsheetParseError> add(uint32_t row, uint32_t col, std::string_view text,
                                          const char* si, const char* ref = nullptr) {
    store(row, col, text);
    std::optional<std::string_view> ref_text;
    if (ref) ref_text = ref;
    return register_shared_formula(table, row, col, text, std::string_view(si), ref_text);
  }
  std::string formula(uint32_t row, uint32_t col) const {
    return cells.at(CellKey{row, col}).formula->str();
  }
};

TEST(ExpandSharedFormulas, FillsDependents) {
  Sheet sheet;
  ASSERT_TRUE(sheet.add(1, 1, "A1*2", "0", "B2:B4").has_value());
  ASSERT_TRUE(sheet.add(2, 1, "", "0").has_value());
  ASSERT_TRUE(sheet.add(3, 1, "", " +0 ").has_value());
  ASSERT_TRUE(expand_shared_formulas(sheet.table, sheet.cells, sheet.texts).has_value());
  EXPECT_EQ(sheet.formula(1, 1), "A1*2");
  EXPECT_EQ(sheet.formula(2, 1), "A2*2");
  EXPECT_EQ(sheet.formula(3, 1), "A3*2");
  EXPECT_EQ(sheet.table.budget, FORMULA_BYTE_BUDGET - 12);
}

TEST(ExpandSharedFormulas, MasterBelowDependent) {
  Sheet sheet;
  ASSERT_TRUE(sheet.add(1, 1, "", "0").has_value());
  ASSERT_TRUE(sheet.add(2, 1, "A1+Sheet2!A1", "0", "B2:B4").has_value());
  ASSERT_TRUE(expand_shared_formulas(sheet.table, sheet.cells, sheet.texts).has_value());
  EXPECT_EQ(sheet.formula(1, 1), "#REF!+Sheet2!#REF!");
}

TEST(ExpandSharedFormulas, PlainFormulaCancelsDependent) {
  Sheet sheet;
  ASSERT_TRUE(sheet.add(1, 1, "A1*2", "0", "B2:B4").has_value());
  ASSERT_TRUE(sheet.add(2, 1, "", "0").has_value());
  sheet.store(2, 1, "C7");
  remove_shared_dependent(sheet.table, 2, 1);
  ASSERT_TRUE(expand_shared_formulas(sheet.table, sheet.cells, sheet.texts).has_value());
  EXPECT_EQ(sheet.formula(2, 1), "C7");
}

TEST(SharedFormulaFailures, Registration) {
  // Each registration failure, with the table state that provokes it.
  struct RegCase {
    const char* name;
    bool prior_master;
    uint32_t row;
    uint32_t col;
    std::string text;
    std::optional<std::string_view> si;
    std::optional<std::string_view> ref;
    const char* expected;
  };
  const std::string longest(SHARED_FORMULA_MAX_BYTES, '1');
  const RegCase reg_cases[] = {
      {"no si", false, 1, 1, "A1", std::nullopt, "B2:B4", "shared formula has no valid group index"},
      {"bad si", false, 1, 1, "A1", "x", "B2:B4", "shared formula has no valid group index"},
      {"bad range", false, 1, 1, "A1", "0", "b2:b4", "shared formula has an invalid range"},
      {"master outside", false, 0, 0, "A1", "0", "B2:B4", "shared formula has an invalid master"},
      {"blank master", false, 1, 1, " \t", "0", "B2:B4", "shared formula has an invalid master"},
      {"two masters", true, 2, 1, "A1", "0", "B2:B4", "shared formula group has multiple masters"},
      {"too long", false, 1, 1, longest + "1", "0", "B2:B4",
       "shared formula exceeds the formula length limit"},
  };
  for (const RegCase& c : reg_cases) {
    SCOPED_TRACE(c.name);
    SharedFormulaTable table;
    if (c.prior_master) {
      ASSERT_TRUE(register_shared_formula(table, 1, 1, "A1", "0", "B2:B4"));
    }
    auto result = register_shared_formula(table, c.row, c.col, c.text, c.si, c.ref);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(malformed_text(result.error()), c.expected);
  }
  // The longest master text is accepted.
  SharedFormulaTable table;
  EXPECT_TRUE(register_shared_formula(table, 1, 1, longest, "0", "B2:B4").has_value());
}

TEST(SharedFormulaFailures, Expansion) {
  {
    Sheet sheet;
    ASSERT_TRUE(sheet.add(2, 1, "", "5").has_value());
    auto result = expand_shared_formulas(sheet.table, sheet.cells, sheet.texts);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(malformed_text(result.error()), "shared formula group has no master");
  }
  {
    Sheet sheet;
    ASSERT_TRUE(sheet.add(1, 1, "A1*2", "0", "B2:B4").has_value());
    ASSERT_TRUE(sheet.add(4, 1, "", "0").has_value());
    auto result = expand_shared_formulas(sheet.table, sheet.cells, sheet.texts);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(malformed_text(result.error()), "shared formula is outside its master's range");
  }
  {
    Sheet sheet;
    ASSERT_TRUE(sheet.add(1, 1, "A1*2", "0", "B2:B4").has_value());
    ASSERT_TRUE(sheet.add(2, 1, "", "0").has_value());
    sheet.cells.erase(CellKey{2, 1});
    auto result = expand_shared_formulas(sheet.table, sheet.cells, sheet.texts);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(malformed_text(result.error()), "shared formula cell is missing");
  }
}

TEST(SharedFormulaLimits, BudgetStopsExpansion) {
  // A 32,000-byte master over a 2,000-row block would expand to 64 MB; the
  // budget stops it after about a thousand rows.
  Sheet sheet;
  std::string text = "A100000";
  while (text.size() + 8 <= 32000) text += "+A100000";
  ASSERT_TRUE(sheet.add(0, 1, text, "0", "B1:B2000").has_value());
  for (uint32_t row = 1; row < 2000; ++row) ASSERT_TRUE(sheet.add(row, 1, "", "0").has_value());
  auto result = expand_shared_formulas(sheet.table, sheet.cells, sheet.texts);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(malformed_text(result.error()), "shared formula expansion exceeds the byte limit");
  EXPECT_LT(sheet.table.budget, 40000u);
}

TEST(SharedFormulaLimits, MasterTextsChargeTheBudget) {
  SharedFormulaTable table;
  table.budget = 5;
  EXPECT_TRUE(register_shared_formula(table, 0, 0, "A1+B1", "0", "A1").has_value());
  EXPECT_EQ(table.budget, 0u);
  auto result = register_shared_formula(table, 1, 0, "C1", "1", "A2");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(malformed_text(result.error()), "shared formula expansion exceeds the byte limit");
}

}  // namespace
}  // namespace cmx::reader
