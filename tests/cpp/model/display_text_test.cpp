// The format code of a stored cell's style and its display text.
#include <gtest/gtest.h>

#include <string>

#include "model/display_text.h"

namespace cmx::model {
namespace {

StyleSheet styles_with(std::vector<std::optional<uint16_t>> ids, std::vector<CustomNumFmt> customs) {
  StyleSheet styles;
  for (auto id : ids) styles.cell_xfs.push_back(CellXf{.num_fmt_id = id});
  styles.num_fmts = std::move(customs);
  return styles;
}

TEST(CellFormatCode, Lookup) {
  // Positions: 0 no id, 1 built-in 4, 2 built-in 7, 3 custom 200, 4 custom 164, 5 built-in 49, 6 id 50.
  const StyleSheet styles = styles_with({std::nullopt, 4, 7, 200, 164, 49, 50},
                                        {{7, "0.000"}, {164, "yyyy"}, {200, "0.0"}, {200, "0.00"}});
  struct Case { std::optional<uint32_t> style; const char* code; };
  const Case cases[] = {
      {std::nullopt, "General"},
      {0, "General"},
      {1, "#,##0.00"},
      {2, "General"},  // no built-in code, and the declared custom id 7 is not consulted
      {3, "0.0"},      // the first of two customs with the same id
      {4, "yyyy"},
      {5, "@"},
      {6, "General"},
      {7, "General"},  // beyond the table
      {UINT32_MAX, "General"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style ? std::to_string(*c.style) : "none");
    EXPECT_EQ(cell_format_code(styles, c.style), c.code);
  }
  EXPECT_EQ(cell_format_code(styles_with({201}, {{200, "0"}}), 0), "General");
}

TEST(CellDisplayText, Cells) {
  const StyleSheet styles = styles_with({14, 4, 7, 200, 38}, {{7, "0.000"}, {200, "0.0"}, {200, "0.00"}});
  struct Case {
    const char* name;
    SheetCell cell;
    DateSystem system;
    const char* text;
  };
  const Case cases[] = {
      {"formula with empty cached value", {CellValue(), SharedString("A1+1"), 1}, DateSystem::V1900, ""},
      {"number without style", {CellValue::number(1234.5), std::nullopt, std::nullopt}, DateSystem::V1900,
       "1234.5"},
      {"style beyond the table", {CellValue::number(0.5), std::nullopt, 99}, DateSystem::V1900, "0.5"},
      {"id 14, 1904 serial 0", {CellValue::number(0), std::nullopt, 0}, DateSystem::V1904, "1/1/04"},
      {"id 14, 1900 serial 1", {CellValue::number(1), std::nullopt, 0}, DateSystem::V1900, "1/1/00"},
      {"grouping and decimals", {CellValue::number(1234567.891), std::nullopt, 1}, DateSystem::V1900,
       "1,234,567.89"},
      {"id 7 with a declared custom 7", {CellValue::number(2.5), std::nullopt, 2}, DateSystem::V1900, "2.5"},
      {"first custom of two with id 200", {CellValue::number(2.25), std::nullopt, 3}, DateSystem::V1900,
       "2.3"},
      {"colour dropped", {CellValue::number(-5), std::nullopt, 4}, DateSystem::V1900, "(5)"},
      {"error under a date code", {CellValue::error(CellErrorCode::Div0), std::nullopt, 0},
       DateSystem::V1900, "#DIV/0!"},
      {"error under a number code", {CellValue::error(CellErrorCode::Div0), std::nullopt, 1},
       DateSystem::V1900, "#DIV/0!"},
      {"bool", {CellValue::boolean(true), std::nullopt, 1}, DateSystem::V1900, "TRUE"},
      {"text under a number code", {CellValue::text("abc"), std::nullopt, 1}, DateSystem::V1900, "abc"},
      {"formula cached number", {CellValue::number(45292), SharedString("TODAY()"), 0}, DateSystem::V1900,
       "1/1/24"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cell_display_text(styles, c.system, c.cell), c.text);
  }
}

}  // namespace
}  // namespace cmx::model
