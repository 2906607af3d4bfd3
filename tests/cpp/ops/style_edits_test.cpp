// The style kinds: derivations, interning, the writing pass and its inverse.
#include <gtest/gtest.h>

#include <functional>

#include "model/style_equality.h"
#include "model/style_interning.h"
#include "ops/apply.h"

namespace cmx::ops {
namespace {

using model::CellFormat;
using model::CellKey;
using model::CellRange;
using model::SheetCell;
using model::WorkbookModel;

CellRange range(const char* text) { return model::parse_range(text).value(); }
CellKey key(const char* a1) {
  model::CellRef ref = model::parse_cell_ref(a1).value();
  return CellKey{ref.row, ref.col};
}

WorkbookModel one_sheet() {
  WorkbookModel model;
  model.sheets.resize(1);
  return model;
}

CellFormat format_at(const WorkbookModel& model, const char* a1) {
  const auto& cells = model.sheets[0].cells;
  auto it = cells.find(key(a1));
  return model::resolve_cell_format(model.styles, it == cells.end() ? std::nullopt : it->second.style);
}

InverseList apply_ok(WorkbookModel& model, const WorkbookOp& step) {
  auto result = apply_op(model, step);
  EXPECT_TRUE(result.has_value()) << ops_error_message(result.error());
  return result.has_value() ? result.value() : InverseList{};
}

PatchStyle patch_over(const char* where, StylePatch patch) { return PatchStyle{0, range(where), std::move(patch)}; }

StylePatch bold_patch() {
  StylePatch patch;
  patch.bold = true;
  return patch;
}

// "tblr" letters for the edges a cell has.
std::string edges(const CellFormat& format) {
  std::string out;
  if (format.border.top) out += 't';
  if (format.border.bottom) out += 'b';
  if (format.border.left) out += 'l';
  if (format.border.right) out += 'r';
  return out;
}

TEST(PatchStyle, BoldOnAnEmptyCellStoresAStyledEmptyRecord) {
  WorkbookModel model = one_sheet();
  InverseList inverse = apply_ok(model, patch_over("B2", bold_patch()));
  const auto& cells = model.sheets[0].cells;
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_TRUE(cells.at(key("B2")).value.is_empty());
  EXPECT_TRUE(format_at(model, "B2").font.bold);
  ASSERT_EQ(inverse.size(), 1u);
  EXPECT_EQ(std::get<SetCell>(inverse[0]).cell, SheetCell{});
  EXPECT_EQ(std::get<SetCell>(inverse[0]).address, (CellAddress{0, {1, 1, false, false}}));

  // Undo removes the record again; the interned entries stay.
  const size_t xfs = model.styles.cell_xfs.size();
  apply_ok(model, inverse[0]);
  EXPECT_TRUE(model.sheets[0].cells.empty());
  EXPECT_EQ(model.styles.cell_xfs.size(), xfs);
}

TEST(PatchStyle, Derivations) {
  struct Case {
    const char* name;
    StylePatch patch;
    std::function<void(const CellFormat&)> check;
  };
  StylePatch clear_then_bold = bold_patch();
  clear_then_bold.clear = {StylePatchField::Bold};
  StylePatch spaced;
  spaced.font_family = " Fira Sans ";
  StylePatch size_400;
  size_400.font_size = 400;
  StylePatch colours;
  colours.text_color = "ABCDEF";
  colours.fill_color = "#00Ff00";
  StylePatch aligned;
  aligned.horizontal_alignment = PatchHorizontal::Right;
  aligned.vertical_alignment = PatchVertical::Middle;
  aligned.text_wrapping = TextWrapping::Clip;
  const Case cases[] = {
      {"clear comes first", clear_then_bold, [](const CellFormat& f) { EXPECT_TRUE(f.font.bold); }},
      {"family kept untrimmed", spaced, [](const CellFormat& f) { EXPECT_EQ(f.font.name, " Fira Sans "); }},
      {"size 400", size_400, [](const CellFormat& f) { EXPECT_EQ(f.font.size_pt, 400.0); }},
      {"colours lower-cased", colours,
       [](const CellFormat& f) {
         ASSERT_TRUE(f.font.color.has_value());
         EXPECT_EQ(std::get<model::RgbColor>(*f.font.color).text, "#abcdef");
         EXPECT_EQ(std::get<model::RgbColor>(std::get<model::SolidFill>(f.fill).color).text, "#00ff00");
       }},
      {"alignment", aligned,
       [](const CellFormat& f) {
         EXPECT_EQ(f.alignment.h, model::HorizontalAlignment::Right);
         EXPECT_EQ(f.alignment.v, model::VerticalAlignment::Center);
         EXPECT_FALSE(f.alignment.wrap_text);
         EXPECT_TRUE(f.alignment.shrink_to_fit);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = one_sheet();
    apply_ok(model, patch_over("A1", c.patch));
    c.check(format_at(model, "A1"));
  }
}

TEST(PatchStyle, BorderPresets) {
  struct Case {
    const char* name;
    const char* where;
    BorderPatch border;
    std::vector<std::pair<const char*, const char*>> expected;  // cell, edges
  };
  const Case cases[] = {
      {"outer on one cell", "B2", {BorderPreset::Outer, {}, {}}, {{"B2", "tblr"}}},
      {"inner on one cell", "B2", {BorderPreset::Inner, {}, {}}, {{"B2", ""}}},
      {"inner on 2 by 2", "A1:B2", {BorderPreset::Inner, {}, {}},
       {{"A1", "br"}, {"B1", "bl"}, {"A2", "tr"}, {"B2", "tl"}}},
      {"outer on 3 by 3", "A1:C3", {BorderPreset::Outer, {}, {}},
       {{"A1", "tl"}, {"B1", "t"}, {"C1", "tr"}, {"B2", ""}, {"C3", "br"}}},
      {"horizontal", "A1:A3", {BorderPreset::Horizontal, {}, {}}, {{"A1", "b"}, {"A2", "tb"}, {"A3", "t"}}},
      {"vertical", "A1:C1", {BorderPreset::Vertical, {}, {}}, {{"A1", "r"}, {"B1", "lr"}, {"C1", "l"}}},
      {"left", "A1:B2", {BorderPreset::Left, {}, {}}, {{"A1", "l"}, {"B1", ""}, {"A2", "l"}}},
      {"right", "A1:B1", {BorderPreset::Right, {}, {}}, {{"A1", ""}, {"B1", "r"}}},
      {"top", "A1:A2", {BorderPreset::Top, {}, {}}, {{"A1", "t"}, {"A2", ""}}},
      {"bottom", "A1:A2", {BorderPreset::Bottom, {}, {}}, {{"A1", ""}, {"A2", "b"}}},
      {"all", "A1:B1", {BorderPreset::All, {}, {}}, {{"A1", "tblr"}, {"B1", "tblr"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = one_sheet();
    StylePatch patch;
    patch.border = c.border;
    apply_ok(model, patch_over(c.where, patch));
    for (const auto& [cell, expected] : c.expected) {
      SCOPED_TRACE(cell);
      EXPECT_EQ(edges(format_at(model, cell)), expected);
    }
  }
}

TEST(PatchStyle, BorderStyleWithoutPresetRestylesExistingEdges) {
  WorkbookModel model = one_sheet();
  StylePatch top;
  top.border = BorderPatch{BorderPreset::Top, BorderLine::Double, std::string("#112233")};
  apply_ok(model, patch_over("A1:B1", top));
  StylePatch dashed;
  dashed.border = BorderPatch{std::nullopt, BorderLine::Dashed, std::string("FF0000")};
  apply_ok(model, patch_over("A1:C1", dashed));
  const CellFormat a1 = format_at(model, "A1");
  EXPECT_EQ(edges(a1), "t");
  EXPECT_EQ(a1.border.top->style, model::BorderStyle::Dashed);
  EXPECT_EQ(std::get<model::RgbColor>(*a1.border.top->color).text, "#ff0000");
  EXPECT_EQ(edges(format_at(model, "C1")), "");
  EXPECT_FALSE(model.sheets[0].cells.contains(key("C1")));

  StylePatch none;
  none.border = BorderPatch{BorderPreset::None, BorderLine::Dotted, std::nullopt};
  apply_ok(model, patch_over("A1:B1", none));
  EXPECT_TRUE(model.sheets[0].cells.empty());  // styled empty records fall back to no record
}

TEST(PatchStyle, ClearingEveryAttributeRemovesTheRecord) {
  WorkbookModel model = one_sheet();
  StylePatch all;
  all.bold = all.italic = all.strikethrough = true;
  all.font_family = "Arial";
  all.font_size = 12;
  all.text_color = "#010203";
  all.fill_color = "#040506";
  all.border = BorderPatch{BorderPreset::All, {}, {}};
  all.horizontal_alignment = PatchHorizontal::Center;
  all.vertical_alignment = PatchVertical::Top;
  all.text_wrapping = TextWrapping::Wrap;
  apply_ok(model, patch_over("A1:B1", all));
  model.sheets[0].cells.at(key("B1")).value = model::CellValue::number(3);
  ASSERT_EQ(model.sheets[0].cells.size(), 2u);
  StylePatch reset;
  for (int f = 0; f <= static_cast<int>(StylePatchField::TextWrapping); ++f) {
    reset.clear.push_back(static_cast<StylePatchField>(f));
  }
  InverseList inverse = apply_ok(model, patch_over("A1:B1", reset));
  EXPECT_FALSE(model.sheets[0].cells.contains(key("A1")));
  ASSERT_TRUE(model.sheets[0].cells.contains(key("B1")));
  EXPECT_EQ(model.sheets[0].cells.at(key("B1")).style, std::nullopt);
  EXPECT_EQ(inverse.size(), 2u);
}

TEST(PatchStyle, InvertedRangeValidatesNothing) {
  WorkbookModel model = one_sheet();
  StylePatch bad;
  bad.font_size = 0.5;
  PatchStyle step{0, CellRange{{3, 3}, {1, 1}}, bad};
  auto result = apply_op(model, step);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result.value().empty());
  EXPECT_TRUE(model.styles.cell_xfs.empty());
}

TEST(PatchStyle, SameIndexGivesNoStepAndEmptyPatchReinterns) {
  WorkbookModel model = one_sheet();
  apply_ok(model, patch_over("A1", bold_patch()));
  EXPECT_TRUE(apply_ok(model, patch_over("A1", bold_patch())).empty());

  // Two equal formats under different indexes: an empty patch moves the cell
  // to the first, and a default format loses its index.
  model.styles.cell_xfs.push_back(model.styles.cell_xfs[0]);
  model.styles.cell_xfs.push_back(model::CellXf{});
  model.sheets[0].cells.insert_or_assign(key("B1"), SheetCell{model::CellValue::number(1), std::nullopt, 1u});
  model.sheets[0].cells.insert_or_assign(key("C1"), SheetCell{model::CellValue::number(2), std::nullopt, 2u});
  InverseList inverse = apply_ok(model, patch_over("A1:C1", StylePatch{}));
  EXPECT_EQ(model.sheets[0].cells.at(key("B1")).style, 0u);
  EXPECT_EQ(model.sheets[0].cells.at(key("C1")).style, std::nullopt);
  ASSERT_EQ(inverse.size(), 2u);
  EXPECT_EQ(std::get<SetCell>(inverse[0]).cell.style, 1u);
  EXPECT_EQ(std::get<SetCell>(inverse[1]).cell.style, 2u);
}

TEST(SetCellFormats, TilesFromTheTopLeft) {
  WorkbookModel model = one_sheet();
  CellFormat first;
  first.font.italic = true;
  CellFormat second;
  second.number_format = model::CustomPattern{"0.000"};
  InverseList inverse = apply_ok(model, SetCellFormats{0, range("B2:D4"), 1, 2, {first, second}});
  EXPECT_EQ(inverse.size(), 9u);
  for (const char* cell : {"B2", "D2", "B3", "D4"}) {
    SCOPED_TRACE(cell);
    EXPECT_TRUE(format_at(model, cell).font.italic);
  }
  for (const char* cell : {"C2", "C3", "C4"}) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(format_at(model, cell).number_format, model::NumberFormat(model::CustomPattern{"0.000"}));
  }
  // A grid larger than the range is cut.
  WorkbookModel cut = one_sheet();
  apply_ok(cut, SetCellFormats{0, range("A1"), 1, 2, {first, second}});
  EXPECT_EQ(cut.sheets[0].cells.size(), 1u);
  EXPECT_TRUE(format_at(cut, "A1").font.italic);
}

TEST(SetNumberFormat, DecimalStepsDependOnEachCell) {
  WorkbookModel model = one_sheet();
  apply_ok(model, SetNumberFormat{0, range("A1"), {NumberFormatMutationKind::Percent, ""}});
  apply_ok(model, SetNumberFormat{0, range("B1"), {NumberFormatMutationKind::Date, ""}});
  model.sheets[0].cells.insert_or_assign(key("A1"), SheetCell{model::CellValue::number(0.5), std::nullopt,
                                                               model.sheets[0].cells.at(key("A1")).style});
  apply_ok(model, SetNumberFormat{0, range("A1:C1"), {NumberFormatMutationKind::IncreaseDecimal, ""}});
  EXPECT_EQ(format_at(model, "A1").number_format, model::NumberFormat(model::CustomPattern{"0.000%"}));
  EXPECT_EQ(format_at(model, "B1").number_format, model::NumberFormat(model::BuiltinNumFmt{14}));
  EXPECT_EQ(format_at(model, "C1").number_format, model::NumberFormat(model::CustomPattern{"0.0"}));
  EXPECT_EQ(model.sheets[0].cells.at(key("A1")).value, model::CellValue::number(0.5));
}

TEST(StyleEdits, TableFullRefusalsChangeNothing) {
  struct Case {
    const char* name;
    bool fill_number_formats;  // else fill the cell formats up to the record limit
    WorkbookOp step;
    const char* message;
  };
  const Case cases[] = {
      {"no number-format id left", true, SetNumberFormat{0, range("A1:B2"), {NumberFormatMutationKind::Custom, "0.0"}},
       "number format table is full"},
      {"cell formats at the record limit", false, PatchStyle{0, range("A1:B2"), bold_patch()},
       "style table is full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = one_sheet();
    model.sheets[0].cells.insert_or_assign(key("A1"), SheetCell{model::CellValue::number(1), std::nullopt, 0u});
    model.styles.cell_xfs.push_back(model::CellXf{});
    if (c.fill_number_formats) {
      for (uint32_t id = 164; id <= 65535; ++id) model.styles.num_fmts.push_back({static_cast<uint16_t>(id), "x"});
    } else {
      model.styles.cell_xfs.resize(model::kMaxStyleRecords);
    }
    const WorkbookModel before = model;
    auto result = apply_op(model, c.step);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(ops_error_message(result.error()), c.message);
    EXPECT_TRUE(model::workbook_eq(model, before));
  }
}

}  // namespace
}  // namespace cmx::ops
