// Typed cell input: one table of what a user types, under which cell format,
// and the content, format code and display text that results.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/display_text.h"
#include "session/typed_input.h"

namespace cmx::session {
namespace {

// Styles: 0 General, 1 built-in text (49), 2 custom "@", 3 custom "@@",
// 4 custom "@ ", 5 built-in 14 (a date), 6 built-in 10 (0.00%), 7 an id no
// custom format carries, 8 is past the table.
model::WorkbookModel styled_workbook() {
  model::WorkbookModel workbook;
  workbook.sheets.resize(1);
  workbook.sheets[0].name = "S";
  workbook.styles.num_fmts = {{164, "@"}, {165, "@@"}, {166, "@ "}};
  for (const std::optional<uint16_t> id : {std::optional<uint16_t>(), std::optional<uint16_t>(49),
                                           std::optional<uint16_t>(164), std::optional<uint16_t>(165),
                                           std::optional<uint16_t>(166), std::optional<uint16_t>(14),
                                           std::optional<uint16_t>(10), std::optional<uint16_t>(170)}) {
    model::CellXf xf;
    xf.num_fmt_id = id;
    workbook.styles.cell_xfs.push_back(xf);
  }
  for (uint32_t style = 0; style <= 8; ++style) {
    model::SheetCell cell;
    cell.value = model::CellValue::text("old");
    cell.style = style;
    workbook.sheets[0].cells.insert_or_assign(model::CellKey{style, 0}, cell);
  }
  return workbook;
}

enum class Kind { Empty, Number, Text, Bool, Formula };

TEST(TypedInput, TableOfInputs) {
  struct Case {
    std::optional<uint32_t> style;  // row of the styled cell, none for an empty cell
    std::string input;
    Kind kind;
    std::string text;  // the text, formula text or boolean word
    double number;
    std::string display;
  };
  const std::string nbsp = "\xC2\xA0";
  const std::string ideographic_space = "\xE3\x80\x80";
  const Case cases[] = {
      {{}, "", Kind::Empty, "", 0, ""},
      {0, "", Kind::Empty, "", 0, ""},
      {{}, "5", Kind::Number, "", 5, "5"},
      {{}, " 42 ", Kind::Number, "", 42, "42"},
      {{}, "42" + nbsp, Kind::Number, "", 42, "42"},
      {{}, ideographic_space + "7\t\n", Kind::Number, "", 7, "7"},
      {{}, "+.5", Kind::Number, "", 0.5, "0.5"},
      {{}, "5.", Kind::Number, "", 5, "5"},
      {{}, "05.250", Kind::Number, "", 5.25, "5.25"},
      {{}, "1E3", Kind::Number, "", 1000, "1000"},
      {{}, "-2.5e-1", Kind::Number, "", -0.25, "-0.25"},
      {{}, "0.1", Kind::Number, "", 0.1, "0.1"},
      {{}, "1e-400", Kind::Number, "", 0, "0"},
      {{}, "1,5", Kind::Text, "1,5", 0, "1,5"},
      {{}, "1,000", Kind::Text, "1,000", 0, "1,000"},
      {{}, "50%", Kind::Text, "50%", 0, "50%"},
      {{}, "$5", Kind::Text, "$5", 0, "$5"},
      {{}, "0x1A", Kind::Text, "0x1A", 0, "0x1A"},
      {{}, "1/2", Kind::Text, "1/2", 0, "1/2"},
      {{}, "2024-01-15", Kind::Text, "2024-01-15", 0, "2024-01-15"},
      {{}, "12:30", Kind::Text, "12:30", 0, "12:30"},
      {{}, "1 000", Kind::Text, "1 000", 0, "1 000"},
      {{}, "1_000", Kind::Text, "1_000", 0, "1_000"},
      {{}, "1e", Kind::Text, "1e", 0, "1e"},
      {{}, ".", Kind::Text, ".", 0, "."},
      {{}, "-", Kind::Text, "-", 0, "-"},
      {{}, "12abc", Kind::Text, "12abc", 0, "12abc"},
      {{}, "inf", Kind::Text, "inf", 0, "inf"},
      {{}, "-Infinity", Kind::Text, "-Infinity", 0, "-Infinity"},
      {{}, "NaN", Kind::Text, "NaN", 0, "NaN"},
      {{}, "1e400", Kind::Text, "1e400", 0, "1e400"},
      {{}, "   ", Kind::Text, "   ", 0, "   "},
      {{}, "TRUE", Kind::Bool, "TRUE", 0, "TRUE"},
      {{}, "false", Kind::Bool, "FALSE", 0, "FALSE"},
      {{}, "FaLsE", Kind::Bool, "FALSE", 0, "FALSE"},
      {{}, "true ", Kind::Text, "true ", 0, "true "},
      {{}, " true", Kind::Text, " true", 0, " true"},
      {{}, "yes", Kind::Text, "yes", 0, "yes"},
      {{}, "#N/A", Kind::Text, "#N/A", 0, "#N/A"},
      {{}, "'", Kind::Text, "", 0, ""},
      {{}, "''x", Kind::Text, "'x", 0, "'x"},
      {{}, "'=A1", Kind::Text, "=A1", 0, "=A1"},
      {{}, "'12", Kind::Text, "12", 0, "12"},
      {{}, "'true", Kind::Text, "true", 0, "true"},
      {{}, "=1+2", Kind::Formula, "1+2", 0, ""},
      {{}, "= 1+2", Kind::Formula, " 1+2", 0, ""},
      {{}, "=SUM(A1:A3)", Kind::Formula, "SUM(A1:A3)", 0, ""},
      {{}, "=", Kind::Text, "=", 0, "="},
      {{}, "=1+", Kind::Text, "=1+", 0, "=1+"},
      {{}, "=SUM(", Kind::Text, "=SUM(", 0, "=SUM("},
      {1, "=A1", Kind::Text, "=A1", 0, "=A1"},
      {1, "'abc", Kind::Text, "abc", 0, "abc"},
      {1, "TRUE", Kind::Text, "TRUE", 0, "TRUE"},
      {1, "12", Kind::Text, "12", 0, "12"},
      {1, "'", Kind::Text, "", 0, ""},
      {1, "", Kind::Empty, "", 0, ""},
      {2, "=1+2", Kind::Text, "=1+2", 0, "=1+2"},
      {2, "12", Kind::Text, "12", 0, "12"},
      {3, "12", Kind::Number, "", 12, "1212"},
      {4, "12", Kind::Number, "", 12, "12 "},
      {5, "45306", Kind::Number, "", 45306, "1/15/24"},
      {5, "2024-01-15", Kind::Text, "2024-01-15", 0, "2024-01-15"},
      {6, "0.5", Kind::Number, "", 0.5, "50.00%"},
      {6, "50%", Kind::Text, "50%", 0, "50%"},
      {7, "12", Kind::Number, "", 12, "12"},
      {8, "12", Kind::Number, "", 12, "12"},
  };
  const model::WorkbookModel workbook = styled_workbook();
  for (const Case& c : cases) {
    SCOPED_TRACE("style " + (c.style ? std::to_string(*c.style) : std::string("none")) + " input «" + c.input + "»");
    // Styled cells sit in column A at the row of their style; column B is empty.
    const uint32_t row = c.style.value_or(0);
    const uint32_t col = c.style ? 0 : 1;
    const model::SheetCell cell = parse_typed_cell_input(workbook, 0, row, col, c.input);
    EXPECT_EQ(cell.style, c.style);
    switch (c.kind) {
      case Kind::Empty:
        EXPECT_TRUE(cell.value.is_empty());
        EXPECT_FALSE(cell.formula);
        break;
      case Kind::Number:
        ASSERT_TRUE(cell.value.is_number());
        EXPECT_EQ(cell.value.as_number(), c.number);
        EXPECT_FALSE(cell.formula);
        break;
      case Kind::Text:
        ASSERT_TRUE(cell.value.is_text());
        EXPECT_EQ(cell.value.as_text(), c.text);
        EXPECT_FALSE(cell.formula);
        break;
      case Kind::Bool:
        ASSERT_TRUE(cell.value.is_bool());
        EXPECT_EQ(cell.value.as_bool(), c.text == "TRUE");
        EXPECT_FALSE(cell.formula);
        break;
      case Kind::Formula:
        ASSERT_TRUE(cell.formula);
        EXPECT_EQ(cell.formula->view(), c.text);
        EXPECT_TRUE(cell.value.is_empty());
        break;
    }
    EXPECT_EQ(model::cell_display_text(workbook.styles, workbook.date_system, cell), c.display);
    EXPECT_TRUE(validate_cell_input(cell));
  }
}

TEST(TypedInput, NegativeZeroKeepsItsSign) {
  const model::SheetCell cell = parse_typed_cell_input(model::WorkbookModel{}, 0, 0, 0, "-0");
  ASSERT_TRUE(cell.value.is_number());
  EXPECT_TRUE(std::signbit(cell.value.as_number()));
}

TEST(TypedInput, UnknownSheetOrCellHasNoStyle) {
  const model::WorkbookModel workbook = styled_workbook();
  EXPECT_EQ(parse_typed_cell_input(workbook, 7, 1, 0, "x").style, std::nullopt);
  EXPECT_EQ(parse_typed_cell_input(workbook, 0, 100, 0, "x").style, std::nullopt);
}

TEST(TypedInput, ValidationLimits) {
  struct Case {
    std::string name;
    model::SheetCell cell;
    std::string message;  // empty: passes
  };
  const auto text = [](std::string value) {
    model::SheetCell cell;
    cell.value = model::CellValue::text(value);
    return cell;
  };
  const auto number = [](double value) {
    model::SheetCell cell;
    cell.value = model::CellValue::number(value);
    return cell;
  };
  const auto formula = [](size_t bytes) {
    model::SheetCell cell;
    cell.formula = SharedString(std::string(bytes, '1'));
    return cell;
  };
  std::string two_byte_chars;
  for (int i = 0; i < 32767; ++i) two_byte_chars += "\xC3\xA9";
  const Case cases[] = {
      {"32,767 ASCII characters", text(std::string(32767, 'a')), ""},
      {"32,768 ASCII characters", text(std::string(32768, 'a')), "cell text exceeds the 32,767-character length limit"},
      {"32,767 two-byte characters", text(two_byte_chars), ""},
      {"32,768 two-byte characters", text(two_byte_chars + "\xC3\xA9"), "cell text exceeds the 32,767-character length limit"},
      {"infinity", number(HUGE_VAL), "cell number must be finite"},
      {"NaN", number(std::nan("")), "cell number must be finite"},
      {"formula of 32,768 bytes", formula(32768), ""},
      {"formula of 32,769 bytes", formula(32769), "formula exceeds the length limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto checked = validate_cell_input(c.cell);
    if (c.message.empty()) {
      EXPECT_TRUE(checked);
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.error().kind, EngineErrorKind::InvalidOperation);
      EXPECT_EQ(checked.error().text, c.message);
    }
  }
}

}  // namespace
}  // namespace cmx::session
