// Lexing: token kinds and offsets, numbers, strings, error literals, quoted
// sheets, references and names, structured references, and the limits.
#include <gtest/gtest.h>

#include <string>

#include "formula/formula.h"
#include "tree_dump.h"

namespace cmx::formula {
namespace {

using testing::parse_dump;

// Kinds and starts of the tokens, "Num@1 Colon@3", or the error.
std::string token_dump(std::string_view text) {
  auto tokens = lex_formula(text);
  if (!tokens) {
    return "error at " + std::to_string(tokens.error().position) + ": " + tokens.error().message();
  }
  std::string out;
  for (const Token& t : *tokens) {
    if (!out.empty()) out += ' ';
    out += std::string(token_kind_name(t.kind)) + "@" + std::to_string(t.start);
  }
  return out;
}

struct Case {
  std::string_view text;
  std::string_view expected;
};

TEST(Lexer, TokenKindsAndOffsets) {
  const Case cases[] = {
      {" 1 ", "Num@1"},
      {"1:3", "RowRange@0"},
      {"1 : $3", "RowRange@0"},
      {"1:A", "Num@0 Colon@1 Ident@2"},
      {"1.5:3", "Num@0 Colon@3 Num@4"},
      {"0:5", "Ident@0 Colon@1 Num@2"},
      {"<>", "Ne@0"},
      {"<=", "Le@0"},
      {">=", "Ge@0"},
      {"< =", "Lt@0 Eq@2"},
      {"=<", "Eq@0 Lt@1"},
      {"==", "Eq@0 Eq@1"},
      {"A1 B1", "Ref@0 Ref@3"},
      {"2x", "Num@0 Ident@1"},
      {"1.2.3", "Num@0 Num@3"},
      {"#N/AB", "ErrLit@0 Ident@4"},
      {"+-*/^&%=<>(),:{};", "Plus@0 Minus@1 Star@2 Slash@3 Caret@4 Amp@5 Percent@6 Eq@7 Ne@8 "
                            "LParen@10 RParen@11 Comma@12 Colon@13 LBrace@14 RBrace@15 Semicolon@16"},
      {"\tA1\r\n+\nB2", "Ref@1 Plus@5 Ref@7"},
      {"A1:B2C", "Ref@0 Colon@2 Ident@3"},
      {"A1: B2", "Ref@0 Colon@2 Ref@4"},
      {"A:XFE", "Ident@0 Colon@1 Ident@2"},
      {"rate:tax", "Ident@0 Colon@4 Ident@5"},
      {"Sheet1:Sheet3!A1", "Ident@0 Colon@6 Ref@7"},
      {"Sheet1!A1:Sheet1!B2", "Ref@0 Colon@9 Ref@10"},
      {"TRUE(", "Ident@0 LParen@4"},
      {"TRUE (1)", "Bool@0 LParen@5 Num@6 RParen@7"},
      {"Sheet1!TRUE", "Name@0"},
      {"TRUE!A1", "Ref@0"},
      {"€1", "error at 0: unexpected character '€'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(token_dump(c.text), c.expected);
  }
}

TEST(Lexer, Values) {
  const Case cases[] = {
      // Numbers
      {".5", "0.5"},
      {"5.", "5"},
      {"007", "7"},
      {"1e3", "1000"},
      {"1.5E-3", "0.0015"},
      {"1e-400", "0"},
      {"1E+2", "100"},
      {"1.e5", "100000"},
      {"00.10", "0.1"},
      // Strings: a doubled quote is one quote; line breaks stay
      {"\"a\"\"b\"", "Text(a\"b)"},
      {"\"\"", "Text()"},
      {"\"x\ny\"", "Text(x\ny)"},
      // Error literals
      {"#DIV/0!", "#DIV/0!"}, {"#N/A", "#N/A"},   {"#NAME?", "#NAME?"},
      {"#NULL!", "#NULL!"},   {"#NUM!", "#NUM!"}, {"#REF!", "#REF!"},
      {"#VALUE!", "#VALUE!"}, {"#SPILL!", "#SPILL!"}, {"#CALC!", "#CALC!"},
      // Booleans
      {"true", "TRUE"}, {"True", "TRUE"}, {"FALSE", "FALSE"},
      // References
      {"A1", "Ref(A1)"},
      {"$A$1", "Ref($A$1)"},
      {"XFD1048576", "Ref(XFD1048576)"},
      {"a1", "Name(a1)"},
      {"XFE1", "Name(XFE1)"},
      {"A0", "Name(A0)"},
      {"A1048577", "Name(A1048577)"},
      {"B2:A1", "Range(A1:B2)"},
      {"$B2:A$1", "Range($A1:B$2)"},
      {"A1:A1", "Range(A1:A1)"},
      {"'Q1 Data'!$B$2:C3", "Range[Q1 Data]($B$2:C3)"},
      {"Data!Rate", "Name[Data](Rate)"},
      {"Data.2024!B2", "Ref[Data.2024](B2)"},
      {"'It''s'!A1", "Ref[It's](A1)"},
      {"''!A1", "Ref[](A1)"},
      {"Sheet1!A:C", "Cols[Sheet1](A:C)"},
      {"Sheet1!1:3", "Rows[Sheet1](0:2)"},
      {"Ünïcode!A1", "Ref[Ünïcode](A1)"},
      {"straße", "Name(straße)"},
      {"x²", "Name(x²)"},
      {"\\path", "Name(\\path)"},
      {"_under", "Name(_under)"},
      // Whole columns and rows
      {"a:c", "Cols(A:C)"},
      {"A : C", "Cols(A:C)"},
      {"C:A", "Cols(A:C)"},
      {"$C:A", "Cols(A:$C)"},
      {"tax:fee", "Cols(FEE:TAX)"},
      {"XFD:A", "Cols(A:XFD)"},
      {"1:3", "Rows(0:2)"},
      {"$3:1", "Rows(0:$2)"},
      {"$1:$1048576", "Rows($0:$1048575)"},
      {"007:8", "Rows(6:7)"},
      {"1:1048577", "error at 1: ':' joins two references"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_dump(c.text), c.expected);
  }
}

TEST(Lexer, StructuredReferences) {
  const Case cases[] = {
      {"Sales[Amount]", "Table(Sales,<Amount>)"},
      {"Sales[@Amount]", "Table(Sales,#This Row,<Amount>)"},
      {"Sales[#Totals]", "Table(Sales,#Totals)"},
      {"Sales[[#Headers],[Jan]:[Mar]]", "Table(Sales,#Headers,<Jan>:<Mar>)"},
      {"Sales[[Jan],[Mar]]", "Table(Sales,<Jan>:<Mar>)"},
      {"Sales[[Jan][Mar]]", "Table(Sales,<Jan>:<Mar>)"},
      {"Sales[[#Data],[#Data]]", "Table(Sales,#Data,#Data)"},
      {"Sales[]", "Table(Sales)"},
      {"Sales[ ]", "Table(Sales)"},
      {"Sales[[ ]]", "Table(Sales)"},
      {"Sales[ Amount ]", "Table(Sales,<Amount>)"},
      {"Sales[\u00a0Amount\u3000]", "Table(Sales,<Amount>)"},
      {"Sales[#THIS ROW]", "Table(Sales,#This Row)"},
      {"Sales[#all]", "Table(Sales,#All)"},
      {"Sales[@]", "Table(Sales,#This Row)"},
      {"Sales[a']b]", "Table(Sales,<a]b>)"},
      {"Sales[a''b]", "Table(Sales,<a'b>)"},
      {"Sales['#Totals]", "Table(Sales,#Totals)"},
      {"Sales[[Total Sales],[#Totals]]", "Table(Sales,#Totals,<Total Sales>)"},
      {"TRUE[x]", "Table(TRUE,<x>)"},
      {"Sales[Amount]*2", "Mul(Table(Sales,<Amount>),2)"},
      {"Sales[", "error at 0: unterminated table reference"},
      {"Sales[abc", "error at 0: unterminated table reference"},
      {"Sales[a'", "error at 0: unterminated table reference"},
      {"Sales[[A]", "error at 0: malformed table reference"},
      {"Sales[[A]x]", "error at 0: malformed table reference"},
      {"Sales[[a],[b],[c]]", "error at 0: too many table columns"},
      {"Sales[#Foo]", "error at 0: unknown table band selector"},
      {"Sales[#thisrow]", "error at 0: unknown table band selector"},
      {"Sales[@@x]", "error at 0: unknown table band selector"},
      {"Sales[@ @x]", "error at 0: unknown table band selector"},
      {"Sales[@'@x]", "error at 0: unknown table band selector"},
      {"1+Sales[#Foo]", "error at 2: unknown table band selector"},
      {"[@Col]", "error at 0: unexpected character '['"},
      {"Sheet1!Tbl[Col]", "error at 10: unexpected character '['"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_dump(c.text), c.expected);
  }
}

TEST(Lexer, TableItemLimit) {
  std::string sixteen = "T[";
  for (int i = 0; i < 16; ++i) sixteen += "[#Data],";
  sixteen += "]";
  auto parsed = parse_formula(sixteen);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ((*parsed)->as<node::TableRef>().spec.bands.size(), 16u);
  std::string seventeen = "T[[#Data]," + sixteen.substr(2);
  EXPECT_EQ(parse_dump(seventeen), "error at 0: table reference item count exceeded cap");
}

TEST(Lexer, Failures) {
  const Case cases[] = {
      {"", "error at 0: empty formula"},
      {"   ", "error at 0: empty formula"},
      {".", "error at 0: malformed number ."},
      {"1+.e5", "error at 2: malformed number .e5"},
      {"1e", "error at 0: malformed number exponent"},
      {"1E+", "error at 0: malformed number exponent"},
      {"3east", "error at 0: malformed number exponent"},
      {"1e309", "error at 0: number is outside the finite range"},
      {"\"", "error at 0: unterminated string"},
      {"1&\"abc", "error at 2: unterminated string"},
      {"#n/a", "error at 0: unknown error literal"},
      {"#", "error at 0: unknown error literal"},
      {"#REF", "error at 0: unknown error literal"},
      {"A1#", "error at 2: unknown error literal"},
      {"'abc", "error at 0: unterminated sheet name"},
      {"'Sheet 1' !A1", "error at 9: expected '!' after quoted sheet name"},
      {"'Sheet 1'", "error at 9: expected '!' after quoted sheet name"},
      {"Sheet1!", "error at 0: expected reference or defined name"},
      {"Sheet1! A1", "error at 0: expected reference or defined name"},
      {"1+'My Sheet'!()", "error at 2: expected reference or defined name"},
      {"!=", "error at 0: unexpected character '!'"},
      {"@A1", "error at 0: unexpected character '@'"},
      {"1?", "error at 1: unexpected character '?'"},
      {"`", "error at 0: unexpected character '`'"},
      {"|", "error at 0: unexpected character '|'"},
      {"~", "error at 0: unexpected character '~'"},
      {"]", "error at 0: unexpected character ']'"},
      {"[1]Sheet1!A1", "error at 0: unexpected character '['"},
      {"\u00a0", "error at 0: unexpected character '\\u{a0}'"},
      {"\a", "error at 0: unexpected character '\\u{7}'"},
      {"\u200b", "error at 0: unexpected character '\\u{200b}'"},
      {"\u0301", "error at 0: unexpected character '\\u{301}'"},
      {"\ue000", "error at 0: unexpected character '\\u{e000}'"},
      {"²", "error at 0: unexpected character '²'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_dump(c.text), c.expected);
  }
}

TEST(Lexer, LengthLimit) {
  // Exactly 32,768 bytes are lexed (and then fail on their contents).
  std::string at_limit = "\"" + std::string(kMaxFormulaBytes - 2, 'x') + "\"";
  ASSERT_EQ(at_limit.size(), kMaxFormulaBytes);
  EXPECT_TRUE(parse_formula(at_limit).has_value());
  // One byte more fails at the limit without being scanned.
  std::string over = at_limit + "?";
  EXPECT_EQ(parse_dump(over), "error at 32768: formula length exceeded cap");
  EXPECT_EQ(parse_dump(std::string(100000, '?')), "error at 32768: formula length exceeded cap");
}

TEST(Lexer, TokenLimit) {
  // {1,...,1} with 5,000 ones has 10,001 tokens: the closing brace is the
  // 10,001st.
  std::string text = "{1";
  for (int i = 1; i < 5000; ++i) text += ",1";
  text += "}";
  EXPECT_EQ(parse_dump(text), "error at " + std::to_string(text.size() - 1) +
                                  ": formula token count exceeded cap");
  // 10,000 tokens lex.
  auto tokens = lex_formula(text.substr(0, text.size() - 1));
  ASSERT_TRUE(tokens.has_value());
  EXPECT_EQ(tokens->size(), kMaxFormulaTokens);
}

TEST(Lexer, TruncatedPrefixesFailCleanly) {
  // Every prefix of valid formulas either parses or fails with an offset
  // inside the text.
  const std::string_view formulas[] = {
      "IF(SUM('My Sheet'!$A$1:B2)>=10%,\"big \"\"one\"\"\",Sales[[#Headers],[Jan]:[Mar]])",
      "{1,2;3,4}&#N/A&-2^3^2&A:C&$1:$3&Sheet1!Rate",
  };
  for (std::string_view formula : formulas) {
    for (size_t len = 0; len <= formula.size(); ++len) {
      std::string_view prefix = formula.substr(0, len);
      SCOPED_TRACE(std::string(prefix));
      auto parsed = parse_formula(prefix);
      if (!parsed) {
        EXPECT_LE(parsed.error().position, prefix.size());
      }
    }
  }
}

}  // namespace
}  // namespace cmx::formula
