// Printing: minimal parentheses, canonical numbers and references, sheet
// quoting, table references, and the empty argument slot.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "formula/formula.h"
#include "tree_dump.h"

namespace cmx::formula {
namespace {

std::string reprint(std::string_view text) {
  auto parsed = parse_formula(text);
  if (!parsed) return "error: " + parsed.error().message();
  return expr_to_formula(**parsed);
}

struct Case {
  std::string_view text;
  std::string_view printed;
};

void run(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    SCOPED_TRACE(std::string(c->text));
    EXPECT_EQ(reprint(c->text), c->printed);
  }
}
#define RUN_CASES(cases) run(std::begin(cases), std::end(cases))

TEST(Printer, Parentheses) {
  const Case cases[] = {
      {"1+2*3", "1+2*3"},       {"(1+2)*3", "(1+2)*3"},     {"((1))", "1"},
      {"(1+2)+3", "1+2+3"},     {"1+(2+3)", "1+(2+3)"},     {"1-(2-3)", "1-(2-3)"},
      {"1=(2<3)", "1=(2<3)"},   {"(1=2)<3", "1=2<3"},       {"(1&2)+3", "(1&2)+3"},
      {"1+2&3", "1+2&3"},       {"1&(2&3)", "1&(2&3)"},     {"-2^2", "-2^2"},
      {"-(2^2)", "-(2^2)"},     {"2^-1", "2^-1"},           {"2^(3^2)", "2^(3^2)"},
      {"(2^3)^2", "2^3^2"},     {"(1+2)%", "(1+2)%"},       {"-(1+2)", "-(1+2)"},
      {"--1", "--1"},           {"+A1", "+A1"},             {"-1%", "-1%"},
      {"(2*3)^2", "(2*3)^2"},   {"2*(3/4)", "2*(3/4)"},     {"(2*3)/4", "2*3/4"},
      {"(-2)^2", "-2^2"},       {"SUM((1+2))", "SUM(1+2)"}, {"{(1<2)}", "{1<2}"},
      {"(A1:B2)", "A1:B2"},     {"A1:INDEX(B:B,3)", "A1:INDEX(B:B,3)"},
      {"(A1):(B2)", "A1:(B2)"}, {"1-2-3", "1-2-3"},         {"1-(-2)", "1--2"},
      // A sign or a range chain under "%" keeps its parentheses: -1% is
      // -(1%), and A1:B2:C3% would put "%" on C3 alone.
      {"(-1)%", "(-1)%"},       {"-1%", "-1%"},             {"(+A1)%%", "(+A1)%%"},
      {"(A1:B2:C3)%", "(A1:B2:C3)%"},                       {"(A1:B2)%", "A1:B2%"},
      // A call or table named like a cell keeps parentheses after a cell
      // and ":", or it would merge into a cell range and leave "(" behind.
      {"A1 : LOG10(2)", "A1:(LOG10(2))"},   {"A1:(I9(1))", "A1:(I9(1))"},
      {"A1 : B2[x]", "A1:(B2[[x]])"},       {"A:A:LOG10(2)", "A:A:LOG10(2)"},
      {"x1:LOG10(2)", "x1:LOG10(2)"},       {"A1:B2:LOG10(2)", "A1:B2:LOG10(2)"},
      {"A1:A1:LOG10(2)", "A1:A1:LOG10(2)"},
      {"x1:(y1:z1)", "x1:(y1:z1)"},         {"(x1:y1):z1", "x1:y1:z1"},
  };
  RUN_CASES(cases);
}

TEST(Printer, Normalisation) {
  const Case cases[] = {
      {" sum( a1 , 1.50 ) ", "sum(a1,1.5)"},
      {"true", "TRUE"},
      {"fAlSe", "FALSE"},
      {"1e3", "1000"},
      {".5", "0.5"},
      {"1e20", "100000000000000000000"},
      {"1e-7", "0.0000001"},
      {"0.1", "0.1"},
      {"999999999999999", "999999999999999"},
      {"1e15", "1000000000000000"},
      {"123456789012345678", "123456789012345680"},
      {"0.30000000000000004", "0.30000000000000004"},
      {"0.000", "0"},
      {"B2:A1", "A1:B2"},
      {"$B2:A$1", "$A1:B$2"},
      {"A1:A1", "A1:A1"},
      {"a:c", "A:C"},
      {"$C:a", "A:$C"},
      {"$3:1", "1:$3"},
      {"1:1", "1:1"},
      {"A1 : B2", "A1:(B2)"},
      {"\"say \"\"hi\"\"\"", "\"say \"\"hi\"\"\""},
      {"\"two\nlines\"", "\"two\nlines\""},
      {"{1,2;3,4}", "{1,2;3,4}"},
      {"{1+1}", "{1+1}"},
      {"{1;2;3}", "{1;2;3}"},
      {"#DIV/0!&#CALC!", "#DIV/0!&#CALC!"},
      {"Sheet1!Rate", "Sheet1!Rate"},
      {"_xlfn.CONCAT(A1,B1)", "_xlfn.CONCAT(A1,B1)"},
      {"NOW()", "NOW()"},
  };
  RUN_CASES(cases);
}

TEST(Printer, OmittedArgumentIsAnEmptySlot) {
  const Case cases[] = {
      {"IF(A1,,2)", "IF(A1,,2)"},
      {"VLOOKUP(x,A1:B5,2,)", "VLOOKUP(x,A1:B5,2,)"},
      {"IF(c,1,)", "IF(c,1,)"},
      {"F(,)", "F(,)"},
      {"F( , ,1)", "F(,,1)"},
  };
  RUN_CASES(cases);
  // And the reprinted text parses back to the same empty arguments.
  auto first = parse_formula("IF(A1,,2)");
  ASSERT_TRUE(first.has_value());
  auto second = parse_formula(expr_to_formula(**first));
  ASSERT_TRUE(second.has_value());
  EXPECT_TRUE(same_tree(*first, *second));
  EXPECT_TRUE(second.value()->as<node::Call>().args[1]->as<node::Literal>().value.is_empty());
}

TEST(Printer, SheetQuoting) {
  struct QuoteCase { std::string_view sheet; std::string_view prefix; };
  const QuoteCase cases[] = {
      {"Sheet1", "Sheet1!"},        {"Data_2024", "Data_2024!"}, {"_x", "_x!"},
      {"My Sheet", "'My Sheet'!"},  {"2024", "'2024'!"},        {"1abc", "'1abc'!"},
      {"A1", "'A1'!"},              {"XFD1048576", "'XFD1048576'!"},
      {"XFE1", "XFE1!"},            {"A1048577", "A1048577!"},   {"A0", "A0!"},
      {"It's", "'It''s'!"},         {"a1", "a1!"},               {"rc", "'rc'!"},
      {"R", "'R'!"},                {"c", "'c'!"},               {"R1C1", "'R1C1'!"},
      {"r2c", "'r2c'!"},            {"RC", "'RC'!"},             {"R12Cx", "'R12Cx'!"},
      {"Rx", "Rx!"},                {"CR", "CR!"},               {"Data.2024", "'Data.2024'!"},
      {"a-b", "'a-b'!"},            {"Ünï", "'Ünï'!"},           {"", "''!"},
      {"TRUE", "TRUE!"},            {"''", "''''''!"},
  };
  for (const QuoteCase& c : cases) {
    SCOPED_TRACE(std::string(c.sheet));
    EXPECT_EQ(quote_sheet_name(std::string(c.sheet)), c.prefix);
    // A reference on the sheet prints with that prefix and reads back.
    auto text = std::string(c.prefix) + "B2";
    auto parsed = parse_formula(text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().display();
    EXPECT_EQ(*(*parsed)->as<node::Ref>().sheet, c.sheet);
    EXPECT_EQ(expr_to_formula(**parsed), text);
  }
  EXPECT_EQ(quote_sheet_name(std::nullopt), "");
  const Case reprinted[] = {
      {"'Sheet1'!A1", "Sheet1!A1"},
      {"'R1C1'!A1", "'R1C1'!A1"},
      {"'A1'!B2", "'A1'!B2"},
      {"Data.2024!A1", "'Data.2024'!A1"},
      {"'My Sheet'!A:C", "'My Sheet'!A:C"},
      {"'x y'!Rate", "'x y'!Rate"},
  };
  RUN_CASES(reprinted);
}

TEST(Printer, TableReferences) {
  const Case cases[] = {
      {"Sales[Amount]", "Sales[[Amount]]"},
      {"Sales[[Amount]]", "Sales[[Amount]]"},
      {"Sales[@Amount]", "Sales[[#This Row],[Amount]]"},
      {"Sales[[#Headers],[Jan]:[Mar]]", "Sales[[#Headers],[Jan]:[Mar]]"},
      {"Sales[[Mar],[#headers]]", "Sales[[#Headers],[Mar]]"},
      {"Sales[]", "Sales[]"},
      {"Sales[#all]", "Sales[[#All]]"},
      {"Sales[a']b]", "Sales[[a']b]]"},
      {"Sales[it''s]", "Sales[[it''s]]"},
      {"Sales[x'#y]", "Sales[[x'#y]]"},
      {"Sales[a'[b]", "Sales[[a'[b]]"},
  };
  RUN_CASES(cases);
  EXPECT_EQ(escape_table_column("#'@[]x"), "'#'''@'[']x");
}

TEST(Printer, NodesNoParseProduces) {
  // Printing never fails, even for trees that a parse would not build.
  const auto neg = make_expr(node::Number{-2.5});
  EXPECT_EQ(expr_to_formula(*neg), "-2.5");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Number{-0.0})), "0");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{})), "\"\"");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{model::CellValue::number(1.5)})), "1.5");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{model::CellValue::text("a\"b")})), "\"a\"\"b\"");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{model::CellValue::boolean(true)})), "TRUE");
  EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{model::CellValue::error(model::CellErrorCode::Spill)})),
            "#SPILL!");
  // An array with columns 0 counts as one column; a short last row stays short.
  node::Array array;
  for (int i = 1; i <= 3; ++i) array.elements.push_back(make_expr(node::Number{double(i)}));
  array.columns = 0;
  EXPECT_EQ(expr_to_formula(*make_expr(array)), "{1;2;3}");
  array.columns = 2;
  EXPECT_EQ(expr_to_formula(*make_expr(array)), "{1,2;3}");
  const auto pct_of_unary = make_expr(node::Percent{make_expr(node::Unary{false, make_expr(node::Number{1})})});
  EXPECT_EQ(expr_to_formula(*pct_of_unary), "(-1)%");
  // A right-nested range operator keeps its parentheses.
  const auto a1 = make_expr(node::Name{std::nullopt, "x1"});
  const auto nested = make_expr(node::RangeOp{a1, make_expr(node::RangeOp{a1, a1})});
  EXPECT_EQ(expr_to_formula(*nested), "x1:(x1:x1)");
}

TEST(Printer, CanonicalNumbers) {
  struct NumCase { double value; std::string_view text; };
  const NumCase cases[] = {
      {0.0, "0"}, {-0.0, "0"}, {999999999999999.0, "999999999999999"}, {1e15, "1000000000000000"},
      {-2.5, "-2.5"}, {123456789012345678.0, "123456789012345680"}, {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"}, {0.1 + 0.2, "0.30000000000000004"},
      {1.5e-10, "0.00000000015"}, {1e20, "100000000000000000000"}, {-7.0, "-7"},
  };
  for (const NumCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(expr_to_formula(*make_expr(node::Number{c.value})), c.text);
    EXPECT_EQ(expr_to_formula(*make_expr(node::Literal{model::CellValue::number(c.value)})), c.text);
  }
}

}  // namespace
}  // namespace cmx::formula
