// Every parse failure kind: a distinct non-empty message, and a real input
// that produces it at its documented offset.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "formula/formula.h"

namespace cmx::formula {
namespace {

constexpr int kKindCount = static_cast<int>(FormulaErrorKind::ExpectedArraySeparator) + 1;

TEST(FormulaErrorKinds, MessagesAreDistinct) {
  std::set<std::string> messages;
  for (int i = 0; i < kKindCount; ++i) {
    FormulaError error;
    error.kind = static_cast<FormulaErrorKind>(i);
    error.character = '?';
    error.token = TokenKind::RParen;
    error.text = "1e";
    const std::string message = error.message();
    EXPECT_FALSE(message.empty()) << i;
    EXPECT_TRUE(messages.insert(message).second) << message;
    EXPECT_EQ(message.back() == '.', false) << "no full stop: " << message;
  }
}

TEST(FormulaErrorKinds, EachIsProducedByAnInput) {
  struct Case { FormulaErrorKind kind; std::string text; uint32_t position; };
  std::string seventeen_items = "T[";
  for (int i = 0; i < 17; ++i) seventeen_items += "[#All]";
  seventeen_items += "]";
  std::string many_tokens = "{1";
  for (int i = 1; i < 5000; ++i) many_tokens += ",1";
  many_tokens += "}";
  const Case cases[] = {
      {FormulaErrorKind::LengthExceeded, std::string(32769, '1'), 32768},
      {FormulaErrorKind::TokenCountExceeded, many_tokens, static_cast<uint32_t>(many_tokens.size() - 1)},
      {FormulaErrorKind::EmptyFormula, " \t\r\n", 0},
      {FormulaErrorKind::UnexpectedCharacter, "1+?", 2},
      {FormulaErrorKind::MalformedNumber, "1+.", 2},
      {FormulaErrorKind::MalformedExponent, "1+2e-", 2},
      {FormulaErrorKind::NumberNotFinite, "1+" + std::string(400, '9'), 2},
      {FormulaErrorKind::UnterminatedString, "1&\"a\"\"", 2},
      {FormulaErrorKind::UnknownErrorLiteral, "1+#N/", 2},
      {FormulaErrorKind::UnterminatedSheetName, "1+'a''b", 2},
      {FormulaErrorKind::ExpectedBang, "1+'ab'A1", 6},
      {FormulaErrorKind::ExpectedReferenceOrName, "1+'ab'!", 2},
      {FormulaErrorKind::MalformedTableRef, "1+T[[a] b]", 2},
      {FormulaErrorKind::TableItemCountExceeded, seventeen_items, 0},
      {FormulaErrorKind::UnterminatedTableRef, "1+T[[a", 2},
      {FormulaErrorKind::UnknownTableBand, "1+T[#Everything]", 2},
      {FormulaErrorKind::TooManyTableColumns, "1+T[[a]:[b]:[c]]", 2},
      {FormulaErrorKind::TrailingToken, "1)", 1},
      {FormulaErrorKind::NestingTooDeep, std::string(101, '(') + "1" + std::string(101, ')'), 101},
      {FormulaErrorKind::UnexpectedEnd, "1*", 2},
      {FormulaErrorKind::UnexpectedToken, "1*}", 2},
      {FormulaErrorKind::ExpectedRParen, "(1;", 2},
      {FormulaErrorKind::ExpectedCommaOrRParen, "F(1;", 3},
      {FormulaErrorKind::ColonJoinsReferences, "A1:1", 2},
      {FormulaErrorKind::RaggedArray, "{1;2,3}", 6},
      {FormulaErrorKind::ExpectedArraySeparator, "{1)", 2},
  };
  ASSERT_EQ(std::size(cases), static_cast<size_t>(kKindCount));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    auto parsed = parse_formula(c.text);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().kind, c.kind) << parsed.error().display();
    EXPECT_EQ(parsed.error().position, c.position);
  }
}

TEST(FormulaErrorKinds, UnexpectedTokenNamesEveryKind) {
  const std::string_view names[] = {
      "Num", "Str", "Bool", "ErrLit", "Ident", "Name", "Ref", "Range", "ColumnRange", "RowRange",
      "TableRef", "Plus", "Minus", "Star", "Slash", "Caret", "Amp", "Percent", "Eq", "Ne", "Lt",
      "Le", "Gt", "Ge", "LParen", "RParen", "Comma", "Colon", "LBrace", "RBrace", "Semicolon"};
  ASSERT_EQ(std::size(names), static_cast<size_t>(kTokenKindCount));
  for (int i = 0; i < kTokenKindCount; ++i) {
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(i)), names[i]);
  }
}

}  // namespace
}  // namespace cmx::formula
