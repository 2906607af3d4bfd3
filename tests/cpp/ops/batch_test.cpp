// Batches: all or nothing, inverse order, the undo history, and random
// batches undone and redone against model equality.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "model/style_interning.h"
#include "ops/apply.h"
#include "ops/batch.h"

namespace cmx::ops {
namespace {

using model::CellRange;
using model::SheetCell;
using model::WorkbookModel;

SheetCell number(double value) { return SheetCell{model::CellValue::number(value), std::nullopt, std::nullopt}; }
CellAddress at(SheetId sheet, uint32_t row, uint32_t col) { return CellAddress{sheet, {row, col, false, false}}; }

WorkbookModel sample_model() {
  WorkbookModel model;
  model.sheets.resize(2);
  model.sheets[0].name = "Data";
  model.sheets[1].name = "Notes";
  model.sheets[0].cells.insert_or_assign({0, 0}, number(1));
  model.sheets[0].cells.insert_or_assign(
      {1, 0}, SheetCell{model::CellValue::number(2), SharedString("A1*2"), std::nullopt});
  model.sheets[0].merges.push_back(model::parse_range("C1:D2").value());
  return model;
}

TEST(ApplyBatch, RefusedStepLeavesTheModelAsItWas) {
  WorkbookModel model = sample_model();
  const WorkbookModel before = model;
  StylePatch bad;
  bad.text_color = "#12345";
  const Batch batch = {SetCell{number(9), at(0, 0, 0)}, MergeCells{0, model::parse_range("A1:B2").value()},
                       PatchStyle{0, model::parse_range("A1:B2").value(), bad}, SetCell{number(8), at(0, 5, 5)}};
  auto result = apply_batch(model, batch);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(ops_error_message(result.error()), "invalid color #12345; expected #rrggbb");
  EXPECT_TRUE(model::workbook_eq(model, before));

  LocalHistory history;
  EXPECT_FALSE(apply_batch_with_undo(history, model, batch).has_value());
  EXPECT_TRUE(history.undo_stack.empty());
  EXPECT_TRUE(model::workbook_eq(model, before));
}

TEST(ApplyBatch, InverseRunsFromTheLastStep) {
  WorkbookModel model = sample_model();
  const WorkbookModel before = model;
  auto inverse = apply_batch(model, {SetCell{number(5), at(0, 0, 0)}, SetCell{number(6), at(0, 0, 0)}});
  ASSERT_TRUE(inverse.has_value());
  ASSERT_EQ(inverse.value().size(), 2u);
  EXPECT_EQ(std::get<SetCell>(inverse.value()[0]).cell, number(5));
  EXPECT_EQ(std::get<SetCell>(inverse.value()[1]).cell, number(1));
  auto redo = apply_batch(model, inverse.value());
  ASSERT_TRUE(redo.has_value());
  EXPECT_TRUE(model::workbook_eq(model, before));
  EXPECT_TRUE(apply_batch(model, redo.value()).has_value());
  EXPECT_EQ(model.sheets[0].cells.at({0, 0}), number(6));

  EXPECT_TRUE(apply_batch(model, {}).value().empty());
}

TEST(LocalHistory, UndoRedoMoveEntries) {
  WorkbookModel model = sample_model();
  const WorkbookModel original = model;
  LocalHistory history;
  ASSERT_TRUE(apply_batch_with_undo(history, model, {SetCell{number(7), at(1, 3, 3)}}).has_value());
  const WorkbookModel edited = model;
  // A batch that changes nothing still takes an entry.
  ASSERT_TRUE(apply_batch_with_undo(history, model, {MergeCells{0, model::parse_range("C1:D2").value()}}).has_value());
  EXPECT_EQ(history.undo_stack.size(), 2u);
  EXPECT_TRUE(history.undo_stack.back().empty());

  EXPECT_TRUE(undo(history, model).value());
  EXPECT_TRUE(undo(history, model).value());
  EXPECT_FALSE(undo(history, model).value());
  EXPECT_TRUE(model::workbook_eq(model, original));
  EXPECT_EQ(history.redo_stack.size(), 2u);
  EXPECT_TRUE(redo(history, model).value());
  EXPECT_TRUE(model::workbook_eq(model, edited));

  // A new edit after an undo forgets the redo entries.
  ASSERT_TRUE(apply_batch_with_undo(history, model, {SetCell{number(1), at(0, 9, 9)}}).has_value());
  EXPECT_TRUE(history.redo_stack.empty());
  clear_undo_redo(history);
  EXPECT_TRUE(history.undo_stack.empty());
  EXPECT_FALSE(redo(history, model).value());
}

// Random edits of every kind here, some refused. Each accepted batch undone
// gives back the model before it, except that interned style records stay
// (the tables before the batch are a prefix of the tables after); the undo's
// own inverse redoes the batch exactly.
class RandomEdits {
 public:
  explicit RandomEdits(uint32_t seed) : rng_(seed) {}

  WorkbookOp step() {
    const SheetId sheet = pick(20) == 0 ? 2 : pick(2);  // sheet 2 does not exist
    switch (pick(12)) {
      case 0:
      case 1:
      case 2: return SetCell{cell(), CellAddress{sheet, {row(), col(), pick(2) == 0, false}}};
      case 3: return SetColumnWidth{sheet, col(), maybe(static_cast<double>(pick(30)))};
      case 4: return SetRowHeight{sheet, row(), maybe(static_cast<double>(pick(60)))};
      case 5:
        return SetFreezePane{sheet, pick(2) ? std::nullopt
                                            : std::optional(model::FreezePane{pick(3), pick(3), {pick(3), pick(3)}})};
      case 6: return MergeCells{sheet, range()};
      case 7: return UnmergeCells{sheet, range()};
      case 8: return PatchStyle{sheet, range(), patch()};
      case 9:
        return SetNumberFormat{sheet, range(),
                               {static_cast<NumberFormatMutationKind>(pick(11)), pick(2) ? "0.0#" : "[Red]0"}};
      case 10: {
        const uint32_t rows = 1 + pick(2);
        const uint32_t columns = 1 + pick(2);
        std::vector<model::CellFormat> formats(rows * columns);
        for (auto& f : formats) {
          f.font.bold = pick(2);
          if (pick(3) == 0) f.number_format = model::CustomPattern{pick(2) ? "0.00" : "#,##0"};
        }
        return SetCellFormats{sheet, range(), rows, pick(10) == 0 ? columns + 1 : columns, formats};
      }
      default: {
        std::vector<model::DefinedName> names;
        for (uint32_t i = pick(3); i > 0; --i) names.push_back({"N" + std::to_string(pick(4)), "Data!$A$1", {}, false});
        return SetDefinedNames{names};
      }
    }
  }

  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

 private:
  template <typename T>
  std::optional<T> maybe(T value) {
    return pick(3) == 0 ? std::nullopt : std::optional<T>(value);
  }
  // A small corner of the grid and its far edge.
  uint32_t row() { return pick(4) == 0 ? model::MAX_ROWS - 1 - pick(2) : pick(6); }
  uint32_t col() { return pick(4) == 0 ? model::MAX_COLS - 1 : pick(5); }
  SheetCell cell() {
    switch (pick(4)) {
      case 0: return SheetCell{};
      case 1: return number(pick(100));
      case 2: return SheetCell{model::CellValue::text("t" + std::to_string(pick(5))), SharedString("1+1"), std::nullopt};
      default: return SheetCell{model::CellValue{}, std::nullopt, pick(3)};
    }
  }
  CellRange range() {
    const uint32_t r = pick(5), c = pick(4);
    // Now and then an inverted range, which is stored or skipped as it stands.
    if (pick(12) == 0) return CellRange{{r + 1, c + 1}, {r, c}};
    return CellRange{{r, c, pick(5) == 0, false}, {r + pick(3), c + pick(3)}};
  }
  StylePatch patch() {
    StylePatch p;
    if (pick(2)) p.bold = pick(2);
    if (pick(4) == 0) p.font_size = pick(8) == 0 ? 401.0 : 8.0 + pick(10);
    if (pick(4) == 0) p.text_color = pick(8) == 0 ? "#12" : "#A0B0C0";
    if (pick(4) == 0) p.fill_color = "00ff00";
    if (pick(3) == 0) {
      p.border = BorderPatch{pick(2) ? std::optional(static_cast<BorderPreset>(pick(10))) : std::nullopt,
                             static_cast<BorderLine>(pick(4)), std::nullopt};
    }
    if (pick(4) == 0) p.horizontal_alignment = static_cast<PatchHorizontal>(pick(3));
    if (pick(4) == 0) p.clear = {static_cast<StylePatchField>(pick(11))};
    return p;
  }

  std::mt19937 rng_;
};

// Merge order is not restored: an undone unmerge appends its range again.
void sort_merges(WorkbookModel& model) {
  for (auto& sheet : model.sheets) {
    std::sort(sheet.merges.begin(), sheet.merges.end(), [](const CellRange& a, const CellRange& b) {
      return model::format_range(a) < model::format_range(b);
    });
  }
}

void expect_undone(const WorkbookModel& got, const WorkbookModel& original) {
  WorkbookModel trimmed = got;
  WorkbookModel expected = original;
  const model::StyleTableLengths lengths = model::style_table_lengths(original.styles);
  const model::StyleTableLengths grown = model::style_table_lengths(got.styles);
  EXPECT_GE(grown.fonts, lengths.fonts);
  EXPECT_GE(grown.cell_xfs, lengths.cell_xfs);
  EXPECT_GE(grown.num_fmts, lengths.num_fmts);
  model::rollback_stylesheet(trimmed.styles, lengths);
  sort_merges(trimmed);
  sort_merges(expected);
  EXPECT_TRUE(model::workbook_eq(trimmed, expected));
}

TEST(ApplyBatch, RandomBatchesUndoToTheOriginal) {
  RandomEdits edits(19);
  WorkbookModel model = sample_model();
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    Batch batch;
    for (uint32_t n = 1 + edits.pick(5); n > 0; --n) batch.push_back(edits.step());
    const WorkbookModel before = model;
    auto inverse = apply_batch(model, batch);
    if (!inverse.has_value()) {
      ++refused;
      ASSERT_TRUE(model::workbook_eq(model, before)) << ops_error_message(inverse.error());
      continue;
    }
    ++accepted;
    const WorkbookModel after = model;
    auto redo = apply_batch(model, inverse.value());
    ASSERT_TRUE(redo.has_value()) << ops_error_message(redo.error());
    expect_undone(model, before);
    ASSERT_TRUE(apply_batch(model, redo.value()).has_value());
    ASSERT_TRUE(model::workbook_eq(model, after));
    // No stored empty record survives any of it.
    for (const auto& sheet : model.sheets) {
      for (const auto& [key, cell] : sheet.cells) ASSERT_FALSE(model::is_empty_record(cell));
    }
  }
  // Both paths ran often.
  EXPECT_GT(accepted, 100);
  EXPECT_GT(refused, 50);
}

}  // namespace
}  // namespace cmx::ops
