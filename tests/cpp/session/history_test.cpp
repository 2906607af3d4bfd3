// Undo and redo over long random runs of cell, style, number-format,
// structural and proposal edits, each state checked against the same edits
// replayed on a freshly opened workbook; a refused undo step changes neither
// the document nor the model; a collaborative undo takes back only the local
// change.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "collab/local_operations.h"
#include "collab/projection.h"
#include "model/display_text.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/proposals.h"
#include "session/range_ops.h"
#include "session/set_cells.h"
#include "session/undo_redo.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::Package;
using testing::zip;

// Sheet1: A1 = 1, B1 = A1*2, C1 = B1+1, F1 = 3, A2 = 5, F2 = 4; and an empty
// Sheet2. Typed formulas read only column F onwards, so no edit makes a
// cycle (whose values a full and an incremental pass may settle apart).
std::string history_package() {
  Package pkg = testing::named_sheets({"Sheet1", "Sheet2"});
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c>"
              "<c r=\"C1\"><f>B1+1</f><v>3</v></c><c r=\"F1\"><v>3</v></c></row><row r=\"2\"><c r=\"A2\"><v>5</v></c>"
              "<c r=\"F2\"><v>4</v></c></row>"
              "</sheetData></worksheet>");
  return zip(pkg);
}

std::unique_ptr<WorkbookSession> open(const std::string& bytes, std::optional<uint64_t> client = std::nullopt) {
  return testing::open_session(bytes, client);
}

model::CellRange range_of(uint32_t r0, uint32_t c0, uint32_t r1, uint32_t c1) {
  return model::CellRange{model::CellRef{r0, c0}, model::CellRef{r1, c1}};
}

// One user action, replayable on any session.
struct Action {
  int kind = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  uint32_t row2 = 0;
  uint32_t col2 = 0;
  std::string text;
  bool flag = false;
};

Result<EditReport, EngineError> perform(WorkbookSession& s, const Action& a) {
  switch (a.kind) {
    case 0:
      return set_cell(s, 0, model::CellRef{a.row, a.col}, a.text, 1.0);
    case 1:
      return set_many_cells(s, 0, {{model::CellRef{a.row, a.col}, a.text}, {model::CellRef{a.row2, a.col2}, "=F2+1"}},
                            1.0);
    case 2: {
      model::StylePatch patch;
      patch.bold = a.flag;
      if (!a.flag) patch.fill_color = "#ff0000";
      return apply_range_operation(s, {ops::PatchStyle{0, range_of(a.row, a.col, a.row2, a.col2), patch}}, 1.0);
    }
    case 3: {
      const auto kind = a.flag ? model::NumberFormatMutationKind::Percent : model::NumberFormatMutationKind::Custom;
      return apply_range_operation(
          s, {ops::SetNumberFormat{0, range_of(a.row, a.col, a.row2, a.col2), {kind, "0.0"}}}, 1.0);
    }
    case 4:
      if (a.flag) return apply_range_operation(s, {ops::InsertRows{0, a.row, 1}}, 1.0);
      return apply_range_operation(s, {ops::DeleteRows{0, a.row, 1}}, 1.0);
    case 5:
      if (a.flag) return apply_range_operation(s, {ops::InsertColumns{0, a.col, 1}}, 1.0);
      return apply_range_operation(s, {ops::DeleteColumns{0, a.col, 1}}, 1.0);
    default: {
      auto staged = propose(s, "bot", {{0, model::CellRef{a.row, a.col}, a.text}}, std::nullopt, 1.0);
      if (!staged) return unexpected(staged.error());
      return accept_proposal(s, staged->id, false, 1.0);
    }
  }
}

Action random_action(std::mt19937& rng) {
  static const char* const inputs[] = {"7", "=F1+F2", "hello", "", "=SUM(F1:F3)", "2.5", "=F2*2", "TRUE"};
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  Action a;
  a.kind = static_cast<int>(pick(7));
  a.row = pick(4);
  a.col = pick(4);
  a.row2 = a.row + pick(2);
  a.col2 = a.col + pick(2);
  a.text = inputs[pick(8)];
  a.flag = pick(2) == 0;
  return a;
}

// Stored content and how it looks, style indexes resolved.
// The document keeps no calculated results: `with_results` false compares
// formula cells by their text only.
void expect_same_workbook(const model::WorkbookModel& live, const model::WorkbookModel& replay, const std::string& where,
                          bool with_results = true) {
  ASSERT_EQ(live.sheets.size(), replay.sheets.size()) << where;
  for (size_t i = 0; i < live.sheets.size(); ++i) {
    const model::CellMap& a = live.sheets[i].cells;
    const model::CellMap& b = replay.sheets[i].cells;
    ASSERT_EQ(a.size(), b.size()) << where;
    for (const auto& [key, cell] : a) {
      const auto found = b.find(key);
      ASSERT_NE(found, b.end()) << where << " row " << key.row << " col " << key.col;
      const model::SheetCell& other = found->second;
      EXPECT_EQ(cell.formula, other.formula) << where;
      if (cell.formula && !with_results) continue;
      EXPECT_EQ(cell.value, other.value) << where << " row " << key.row << " col " << key.col;
      EXPECT_EQ(model::cell_display_text(live.styles, live.date_system, cell),
                model::cell_display_text(replay.styles, replay.date_system, other))
          << where;
      EXPECT_EQ(model::cell_format_code(live.styles, cell.style), model::cell_format_code(replay.styles, other.style))
          << where;
      const auto font = [](const model::WorkbookModel& w, const model::SheetCell& c) -> std::optional<bool> {
        if (!c.style || !w.styles.cell_xfs[*c.style].font) return std::nullopt;
        return w.styles.fonts[*w.styles.cell_xfs[*c.style].font].bold;
      };
      EXPECT_EQ(font(live, cell), font(replay, other)) << where;
      const auto fill = [](const model::WorkbookModel& w, const model::SheetCell& c) -> std::optional<uint32_t> {
        return c.style ? w.styles.cell_xfs[*c.style].fill : std::nullopt;
      };
      EXPECT_EQ(fill(live, cell).has_value(), fill(replay, other).has_value()) << where;
    }
  }
}

TEST(UndoRedo, RandomRunsMatchAReplayFromScratch) {
  const std::string bytes = history_package();
  for (const uint32_t seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    auto live = open(bytes);
    std::vector<Action> done;
    std::vector<Action> undone;
    for (int step = 0; step < 60; ++step) {
      const uint32_t roll = rng() % 10;
      std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
      if (roll < 3 || roll == 3) {
        const bool undo = roll < 3;
        auto report = undo_redo(*live, undo ? UndoDirection::Undo : UndoDirection::Redo, 1.0);
        ASSERT_TRUE(report) << engine_error_display(report.error());
        std::vector<Action>& from = undo ? done : undone;
        std::vector<Action>& to = undo ? undone : done;
        EXPECT_EQ(report->applied, !from.empty()) << where;
        if (!from.empty()) {
          to.push_back(from.back());
          from.pop_back();
        }
        where += undo ? " undo" : " redo";
      } else {
        const Action action = random_action(rng);
        auto report = perform(*live, action);
        if (!report) continue;  // refused edits change nothing, which the replay also checks
        if (report->applied) {
          done.push_back(action);
          undone.clear();
        }
        where += " action " + std::to_string(action.kind);
      }
      EXPECT_EQ(live->local_history.undo_stack.size(), done.size()) << where;
      EXPECT_EQ(live->local_history.redo_stack.size(), undone.size()) << where;
      auto replay = open(bytes);
      for (const Action& action : done) {
        auto replayed = perform(*replay, action);
        ASSERT_TRUE(replayed && replayed->applied) << where;
      }
      expect_same_workbook(live->model, replay->model, where);
      // The document written by every step and undo projects to the same cells.
      auto projected = collab::decode_document(live->authority, false);
      ASSERT_TRUE(projected) << projected.error();
      expect_same_workbook(live->model, projected->model, where + " document", false);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(UndoRedo, ARefusedModelStepLeavesTheDocumentAlone) {
  auto s = open(history_package());
  ASSERT_TRUE(set_cell(*s, 0, model::CellRef{3, 3}, "9", std::nullopt));
  // An undo entry whose last step the model refuses: a colour that is no colour.
  model::StylePatch patch;
  patch.text_color = "red";
  s->local_history.undo_stack.back().push_back(ops::PatchStyle{0, range_of(0, 0, 0, 0), patch});
  const std::vector<uint8_t> state = s->authority.doc->encode_state_vector();
  const size_t structure_undo = s->authority.structure_undo.size();
  const size_t structure_redo = s->authority.structure_redo.size();
  const model::WorkbookModel before = clone_workbook_model(s->model);
  const uint64_t revision = s->revision;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto refused = undo_redo(*s, UndoDirection::Undo, std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, EngineErrorKind::Operation);
    EXPECT_EQ(s->authority.doc->encode_state_vector(), state);
    EXPECT_EQ(s->authority.structure_undo.size(), structure_undo);
    EXPECT_EQ(s->authority.structure_redo.size(), structure_redo);
    EXPECT_TRUE(workbook_model_eq(before, s->model));
    EXPECT_EQ(s->local_history.undo_stack.size(), 1u);
    EXPECT_TRUE(s->local_history.redo_stack.empty());
    EXPECT_EQ(s->revision, revision);
  }
}

TEST(UndoRedo, StructuralUndoDropsProposalsAndACellUndoKeepsThem) {
  auto s = open(history_package());
  ASSERT_TRUE(apply_range_operation(*s, {ops::InsertRows{0, 0, 1}}, std::nullopt));
  ASSERT_TRUE(set_cell(*s, 0, model::CellRef{5, 0}, "1", std::nullopt));
  ASSERT_TRUE(propose(*s, "bot", {{0, model::CellRef{6, 0}, "2"}}, std::nullopt, std::nullopt));
  ASSERT_TRUE(undo_redo(*s, UndoDirection::Undo, std::nullopt));
  EXPECT_EQ(s->proposals.size(), 1u);
  ASSERT_TRUE(undo_redo(*s, UndoDirection::Undo, std::nullopt));
  EXPECT_TRUE(s->proposals.empty());
  EXPECT_EQ(s->proposal_counter, 1u);
}

TEST(UndoRedo, CollaborativeUndoTakesBackOnlyTheLocalChange) {
  const std::string bytes = history_package();
  auto a = open(bytes, 101);
  ASSERT_TRUE(a->collaborative());
  ASSERT_TRUE(set_cell(*a, 0, model::CellRef{3, 0}, "40", std::nullopt));
  // A peer writes B4 on its own replica of A's document; A integrates it.
  auto peer_doc = crdt::Doc::create(202);
  ASSERT_TRUE(peer_doc);
  collab::Authority peer{std::shared_ptr<crdt::Doc>(std::move(*peer_doc)), a->authority.base,
                         a->authority.replica_sheet_counter, {}, {}};
  ASSERT_TRUE(peer.doc->apply_update(collab::encode_document_state(*a->authority.doc)));
  const ops::Batch remote{ops::SetCell{model::SheetCell{model::CellValue::number(50), std::nullopt, std::nullopt},
                                       model::CellAddress{0, model::CellRef{3, 1}}}};
  auto update = collab::apply_local_operation(peer, remote, collab::LocalOrigin::kUser, a->model.styles);
  ASSERT_TRUE(update && update->has_value());
  ASSERT_TRUE(a->authority.doc->apply_update(**update, "remote"));
  auto projected = collab::decode_document(a->authority, false);
  ASSERT_TRUE(projected);
  a->model = std::move(projected->model);

  auto undone = undo_redo(*a, UndoDirection::Undo, std::nullopt);
  ASSERT_TRUE(undone) << engine_error_display(undone.error());
  EXPECT_TRUE(undone->applied);
  const model::CellMap& cells = a->model.sheets[0].cells;
  EXPECT_FALSE(cells.contains(model::CellKey{3, 0}));
  ASSERT_TRUE(cells.contains(model::CellKey{3, 1}));
  EXPECT_EQ(cells.at(model::CellKey{3, 1}).value, model::CellValue::number(50));
  ASSERT_EQ(undone->changed.size(), 1u);
  EXPECT_EQ(undone->changed[0].cell, (model::CellRef{3, 0}));
  EXPECT_EQ(history_depths(*a).undo, 0u);
  EXPECT_EQ(history_depths(*a).redo, 1u);
  auto redone = undo_redo(*a, UndoDirection::Redo, std::nullopt);
  ASSERT_TRUE(redone && redone->applied);
  EXPECT_EQ(a->model.sheets[0].cells.at(model::CellKey{3, 0}).value, model::CellValue::number(40));
  EXPECT_EQ(a->model.sheets[0].cells.at(model::CellKey{3, 1}).value, model::CellValue::number(50));
}

TEST(RangeOperation, ChecksInOrder) {
  auto s = open(history_package());
  struct Case {
    model::CellRange range;
    uint32_t sheet;
    EngineErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {range_of(0, 0, 0, 99999), 0, EngineErrorKind::CellOutOfRange, "cell row 1, column 100000 is out of range"},
      {range_of(1, 0, 0, 0), 9, EngineErrorKind::InvalidOperation, "range start must be above and left of range end"},
      {range_of(0, 0, 0, 0), 9, EngineErrorKind::SheetOutOfRange, "sheet 9 out of range"},
      {range_of(0, 0, 316, 315), 0, EngineErrorKind::RangeTooLarge, "range 317x316 exceeds the 100000-cell copy cap"},
  };
  for (const Case& c : cases) {
    auto checked = check_editable_range(*s, c.sheet, c.range);
    ASSERT_FALSE(checked) << c.message;
    EXPECT_EQ(checked.error().kind, c.kind);
    EXPECT_EQ(engine_error_display(checked.error()), c.message);
  }
  auto wide = check_editable_range(*s, 0, range_of(0, 0, 99999, 0));
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->rows, 100000u);
  EXPECT_TRUE(validate_operation(s->model, ops::MergeCells{0, range_of(0, 0, 999, 999)}));
  EXPECT_TRUE(validate_operation(s->model, ops::SetColumnWidth{0, 3, 255.0}));
  const std::pair<ops::WorkbookOp, std::string> refused[] = {
      {ops::SetColumnWidth{0, 3, 255.5}, "column width must be between 0 and 255"},
      {ops::SetColumnWidth{0, 16384, std::nullopt}, "column 16385 is out of range"},
      {ops::InsertRows{0, 5, 0}, "row operation count must be positive"},
      {ops::DeleteColumns{0, 16000, 400}, "column operation exceeds sheet bounds"},
      {ops::RemoveSheet{2}, "sheet index 2 out of range"},
      {ops::SetCharts{0, {}}, "restore sheet operations are internal"},
  };
  for (const auto& [op, message] : refused) {
    auto checked = validate_operation(s->model, op);
    ASSERT_FALSE(checked) << message;
    EXPECT_EQ(engine_error_display(checked.error()), message);
  }
  EXPECT_TRUE(validate_operation(s->model, ops::InsertSheet{2, "Third"}));
  // A row pushed off the grid's end refuses the insertion; an empty last row lets it pass.
  EXPECT_TRUE(apply_range_operation(*s, {ops::InsertRows{0, 1048575, 1}}, std::nullopt));
  ASSERT_TRUE(set_cell(*s, 0, model::CellRef{1048575, 0}, "1", std::nullopt));
  auto pushed = apply_range_operation(*s, {ops::InsertRows{0, 1048575, 1}}, std::nullopt);
  ASSERT_FALSE(pushed);
  EXPECT_EQ(engine_error_display(pushed.error()), "row insertion would discard content at the sheet boundary");
}

TEST(RangeOperation, ChartFrameMoves) {
  auto s = open(history_package());
  const model::TwoCellAnchor placed{model::ChartAnchorEditMode::TwoCell, {1, 0, 1, 0}, {4, 0, 8, 0}};
  s->model.sheets[0].charts.push_back(model::SheetChart{"xl/charts/chart1.xml", "xl/drawings/drawing1.xml", 0, placed, {}});
  const std::string frame = "xl/drawings/drawing1.xml#0";
  const auto move = [&](model::ChartAnchor to, std::string name = "",
                        std::optional<model::ChartAnchor> recorded = std::nullopt) {
    return validate_operation(s->model, ops::SetChartAnchor{0, name.empty() ? frame : name, "xl/charts/chart1.xml",
                                                            recorded.value_or(placed), to});
  };
  model::TwoCellAnchor moved = placed;
  moved.from.row = 3;
  moved.to.row = 10;
  EXPECT_TRUE(move(moved));
  model::TwoCellAnchor inverted = placed;
  inverted.to = inverted.from;
  model::TwoCellAnchor far = placed;
  far.to.colOff = (int64_t{1} << 40) + 1;
  model::TwoCellAnchor other_mode = placed;
  other_mode.edit_as = model::ChartAnchorEditMode::OneCell;
  const std::pair<Result<void, EngineError>, std::string> refused[] = {
      {move(moved, "xl/drawings/drawing1.xml#1"), "no chart frame on this sheet is named xl/drawings/drawing1.xml#1"},
      {move(moved, "", model::ChartAnchor{moved}), "the chart frame " + frame},
      {move(model::AbsoluteAnchor{{0, 0}, {10, 10}}), "chart " + frame + " is pinned to the sheet and cannot be moved"},
      {move(model::OneCellAnchor{{1, 0, 1, 0}, {10, 10}}), "chart " + frame + " cannot change its anchor kind"},
      {move(other_mode), "chart " + frame + " cannot change how it follows a grid edit"},
      {move(inverted), "anchor corners are inverted or coincident"},
      {move(far), "anchor offset is out of range"},
  };
  for (const auto& [result, message] : refused) {
    ASSERT_FALSE(result) << message;
    if (result.error().kind == EngineErrorKind::ChartFrameShifted) {
      EXPECT_EQ(result.error().text, frame);
    } else {
      EXPECT_EQ(engine_error_display(result.error()), message);
    }
  }
}

// Two sheets that share a drawing hold one anchor element: an edit that moves
// it on one sheet only is refused and leaves the workbook as it was, while an
// anchor in a drawing of its own moves freely.
TEST(RangeOperation, ASharedChartAnchorMustStayTheSameOnEverySheet) {
  const model::TwoCellAnchor placed{model::ChartAnchorEditMode::TwoCell, {1, 0, 1, 0}, {4, 0, 8, 0}};
  model::TwoCellAnchor moved = placed;
  moved.from.row = 3;
  moved.to.row = 10;
  const std::string shared = "anchor 0 of xl/drawings/drawing1.xml is held by two sheets that disagree on where it sits";
  struct Case {
    const char* second_drawing;
    ops::WorkbookOp op;
    std::string refusal;  // empty: applied
  };
  const Case cases[] = {
      {"xl/drawings/drawing1.xml", ops::InsertRows{0, 0, 2}, shared},
      {"xl/drawings/drawing1.xml", ops::DeleteColumns{0, 0, 1}, shared},
      {"xl/drawings/drawing1.xml",
       ops::SetChartAnchor{0, "xl/drawings/drawing1.xml#0", "xl/charts/chart1.xml", placed, moved}, shared},
      {"xl/drawings/drawing2.xml", ops::InsertRows{0, 0, 2}, ""},
  };
  for (const Case& c : cases) {
    auto s = open(history_package());
    s->model.sheets[0].charts.push_back(
        model::SheetChart{"xl/charts/chart1.xml", "xl/drawings/drawing1.xml", 0, placed, {}});
    s->model.sheets[1].charts.push_back(model::SheetChart{"xl/charts/chart1.xml", c.second_drawing, 0, placed, {}});
    const model::WorkbookModel before = clone_workbook_model(s->model);
    const uint64_t revision = s->revision;
    auto result = apply_range_operation(*s, {c.op}, std::nullopt);
    if (c.refusal.empty()) {
      ASSERT_TRUE(result) << c.second_drawing << ": " << engine_error_display(result.error());
      EXPECT_TRUE(result->applied);
      EXPECT_EQ(s->local_history.undo_stack.size(), 1u);
      EXPECT_FALSE(s->model.sheets[0].charts[0].anchor == s->model.sheets[1].charts[0].anchor);
      continue;
    }
    ASSERT_FALSE(result) << c.refusal;
    EXPECT_EQ(result.error().kind, EngineErrorKind::InvalidOperation);
    EXPECT_EQ(engine_error_display(result.error()), c.refusal);
    EXPECT_TRUE(workbook_model_eq(s->model, before));
    EXPECT_EQ(s->revision, revision);
    EXPECT_TRUE(s->local_history.undo_stack.empty());
  }
}

TEST(RangeOperation, ACollaborativeWorkbookRefusesStructureBeforeAnything) {
  auto s = open(history_package(), 303);
  const uint64_t revision = s->revision;
  auto refused = apply_range_operation(
      *s,
      {ops::SetCell{model::SheetCell{model::CellValue::number(1), std::nullopt, std::nullopt},
                    model::CellAddress{0, model::CellRef{0, 0}}},
       ops::MergeCells{0, range_of(0, 0, 1, 1)}},
      std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, EngineErrorKind::CollaborativeStructureOperation);
  EXPECT_EQ(s->revision, revision);
  model::StylePatch patch;
  patch.italic = true;
  auto styled = apply_range_operation(*s, {ops::PatchStyle{0, range_of(0, 0, 0, 0), patch}}, std::nullopt);
  ASSERT_TRUE(styled) << engine_error_display(styled.error());
  EXPECT_TRUE(styled->applied);
  auto again = apply_range_operation(*s, {ops::PatchStyle{0, range_of(0, 0, 0, 0), patch}}, std::nullopt);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->applied);
  EXPECT_EQ(s->revision, revision + 1);
}

}  // namespace
}  // namespace cmx::session
