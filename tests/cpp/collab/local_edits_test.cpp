// Local edits written into the document: random edit sequences must
// project back to the model the same edits give directly, cell-level edits
// write only what they touch, and the sheet order follows the structure
// history through undo and redo; the undo manager makes each integrated
// commit one undo step.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "collab/hydration.h"
#include "collab/local_operations.h"
#include "collab/operation_writer.h"
#include "collab/projection.h"
#include "collab/undo_history.h"
#include "crdt/crdt.h"
#include "document_support.h"
#include "ops/apply.h"

namespace cmx::collab {
namespace {

using model::CellValue;

model::SheetChart frame(uint64_t index, uint32_t from_row, std::string part = "xl/charts/chart1.xml") {
  model::SheetChart c;
  c.part = std::move(part);
  c.drawing = "xl/drawings/drawing1.xml";
  c.anchor_index = index;
  c.anchor = model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {0, 0, from_row, 0}, {4, 0, from_row + 6, 0}};
  c.refs = {{model::ChartReferenceKind::Values, "Main!$A$1:$A$4"}};
  return c;
}

// Two sheets with values, a formula, styles, a merge, a hyperlink and a chart.
model::WorkbookModel small_workbook() {
  model::WorkbookModel book;
  book.styles.fonts = {model::Font{}, model::Font{}};
  book.styles.fonts[1].italic = true;
  book.styles.fills = {model::NoFill{}};
  book.styles.borders = {model::Border{}};
  book.styles.cell_xfs = {model::CellXf{0, 0, 0, 0, std::nullopt}, model::CellXf{1, 0, 0, 0, std::nullopt},
                          model::CellXf{0, 0, 0, 10, std::nullopt}};
  model::SheetModel main;
  main.name = "Main";
  main.cells.insert_or_assign({0, 0}, model::SheetCell{CellValue::number(1), {}, 1});
  main.cells.insert_or_assign({1, 0}, model::SheetCell{CellValue::text("two"), {}, std::nullopt});
  main.cells.insert_or_assign({2, 0}, model::SheetCell{CellValue::number(3), SharedString("A1+2"), 2});
  main.merges = {model::CellRange{{5, 0, false, false}, {5, 2, false, false}}};
  main.hyperlinks = {model::SheetHyperlink{{{1, 0, false, false}, {1, 0, false, false}}, "https://example.org/",
                                           std::nullopt, std::nullopt, std::nullopt}};
  main.charts = {frame(0, 8)};
  book.sheets.push_back(std::move(main));
  model::SheetModel side;
  side.name = "Side";
  side.cells.insert_or_assign({0, 1}, model::SheetCell{CellValue::boolean(true), {}, std::nullopt});
  book.sheets.push_back(std::move(side));
  return book;
}

OpenedReplica open_small() {
  auto opened = open_replica(small_workbook(), {DeclaredDimensions{}, DeclaredDimensions{}}, std::nullopt, 77);
  EXPECT_TRUE(opened.has_value()) << (opened ? "" : opened.error().text);
  return std::move(*opened);
}

model::WorkbookModel project(const Authority& authority) {
  auto projected = decode_document(authority, true);
  EXPECT_TRUE(projected.has_value()) << (projected ? "" : projected.error());
  return projected ? std::move(projected->model) : model::WorkbookModel{};
}

PreOperationStyles styles_before(const model::WorkbookModel& book, const std::vector<ops::WorkbookOp>& list) {
  PreOperationStyles styles;
  for (const ops::WorkbookOp& op : list) {
    const auto* set = std::get_if<ops::SetCell>(&op);
    if (set == nullptr) continue;
    std::optional<uint32_t> style;
    if (set->address.sheet < book.sheets.size()) {
      const auto& cells = book.sheets[set->address.sheet].cells;
      auto found = cells.find({set->address.cell.row, set->address.cell.col});
      if (found != cells.end()) style = found->second.style;
    }
    styles.emplace(StyledCell{set->address.sheet, set->address.cell.row, set->address.cell.col}, style);
  }
  return styles;
}

struct Written {
  model::WorkbookModel projection;  // the document's projection with the operations applied
  ops::InverseList inverse;
};

// What the local-operation path does: project, apply, write.
Result<Written, std::string> write(Authority& authority, const std::vector<ops::WorkbookOp>& list,
                                   LocalOrigin origin = LocalOrigin::kUser) {
  auto projected = decode_document(authority, false);
  if (!projected) return unexpected(projected.error());
  Written out{std::move(projected->model), {}};
  const PreOperationStyles pre = styles_before(out.projection, list);
  for (const ops::WorkbookOp& op : list) {
    auto inverse = ops::apply_op(out.projection, op);
    if (!inverse) return unexpected(std::string("apply refused"));
    out.inverse.insert(out.inverse.begin(), inverse->begin(), inverse->end());
  }
  CMX_TRY(write_operation(authority, out.projection, list, origin, pre));
  return out;
}

model::CellRange range(uint32_t r0, uint32_t c0, uint32_t r1, uint32_t c1) {
  return {{r0, c0, false, false}, {r1, c1, false, false}};
}

// Each styled cell's format, by its catalog id.
std::map<std::tuple<size_t, uint32_t, uint32_t>, CellFormatId> cell_format_ids(const model::WorkbookModel& book) {
  std::map<std::tuple<size_t, uint32_t, uint32_t>, CellFormatId> ids;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    for (const auto& [key, cell] : book.sheets[i].cells) {
      if (cell.style) ids[{i, key.row, key.col}] = cell_format_id_of_style(book.styles, *cell.style).value();
    }
  }
  return ids;
}

model::WorkbookModel without_styles(model::WorkbookModel book) {
  book.styles = {};
  for (model::SheetModel& sheet : book.sheets) {
    for (auto& [key, cell] : sheet.cells) cell.style.reset();
  }
  return book;
}

// A random edit over a small area of a random sheet.
// `style_count` bounds the style indices a cell may get.
ops::WorkbookOp random_op(std::mt19937& rng, const model::WorkbookModel& book, uint32_t style_count) {
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const uint32_t sheet = pick(static_cast<uint32_t>(book.sheets.size()));
  const uint32_t row = pick(8);
  const uint32_t col = pick(4);
  switch (pick(14)) {
    case 0:
    case 1:
    case 2: {
      model::SheetCell cell;
      switch (pick(4)) {
        case 0: cell.value = CellValue::number(pick(1000) / 8.0); break;
        case 1: cell.value = CellValue::text("t" + std::to_string(pick(50))); break;
        case 2:
          cell.formula = SharedString("A1*" + std::to_string(pick(9)));
          cell.value = CellValue::number(pick(7));
          break;
        default: break;  // the empty record removes the cell
      }
      if (pick(2) == 0) cell.style = pick(style_count);
      return ops::SetCell{cell, {sheet, {row, col, false, false}}};
    }
    case 3: return ops::MergeCells{sheet, range(row, col, row + pick(2), col + 1)};
    case 4: return ops::UnmergeCells{sheet, range(5, 0, 5, 2)};
    case 5: {
      ops::StylePatch patch;
      patch.bold = pick(2) == 0;
      if (pick(2) == 0) patch.fill_color = "#00ff00";
      return ops::PatchStyle{sheet, range(row, col, row + pick(3), col + pick(2)), patch};
    }
    case 6: {
      ops::NumberFormatMutation mutation{ops::NumberFormatMutationKind::Percent, {}};
      if (pick(2) == 0) mutation = {ops::NumberFormatMutationKind::Custom, "0.000"};
      return ops::SetNumberFormat{sheet, range(row, col, row + pick(2), col), mutation};
    }
    case 7:
      return ops::SetHyperlinks{sheet, {model::SheetHyperlink{range(row, col, row, col), std::nullopt, "Main!A1",
                                                              "go", std::nullopt}}};
    case 8: {
      std::vector<model::SheetChart> charts;
      // A part of its own: copies of one chart share their anchor.
      if (pick(2) == 0) charts.push_back(frame(pick(3), row, "xl/charts/chart" + std::to_string(rng()) + ".xml"));
      return ops::SetCharts{sheet, charts};
    }
    case 9: return ops::SetColumnWidth{sheet, col, pick(2) == 0 ? std::optional<double>(8.0 + pick(10)) : std::nullopt};
    case 10: return ops::SetRowHeight{sheet, row, pick(2) == 0 ? std::optional<double>(12.0 + pick(10)) : std::nullopt};
    case 11: return ops::InsertRows{sheet, row, 1 + pick(2)};
    case 12: return ops::DeleteColumns{sheet, col, 1};
    default:
      if (book.sheets.size() < 4 && pick(2) == 0) {
        return ops::InsertSheet{pick(static_cast<uint32_t>(book.sheets.size()) + 1),
                                "New" + std::to_string(pick(1000))};
      }
      if (book.sheets.size() > 1) return ops::RemoveSheet{sheet};
      return ops::InsertSheet{0, "Only" + std::to_string(pick(1000))};
  }
}

// Each edit is drawn against the model the earlier ones left; edits the
// model refuses (an overlapping merge, a bad sheet index) are not local
// operations and are dropped. `trial` ends as the directly edited model.
std::vector<ops::WorkbookOp> random_list(std::mt19937& rng, model::WorkbookModel& trial, uint32_t style_count) {
  std::vector<ops::WorkbookOp> list;
  const int count = 1 + static_cast<int>(rng() % 3);
  for (int i = 0; i < count; ++i) {
    ops::WorkbookOp op = random_op(rng, trial, style_count);
    if (ops::apply_op(trial, op).has_value()) list.push_back(std::move(op));
  }
  return list;
}

// A new format may land elsewhere in the style sheet, so cells compare by
// their formats.
void expect_same_content(const model::WorkbookModel& projected, const model::WorkbookModel& expected) {
  ASSERT_EQ(cell_format_ids(projected), cell_format_ids(expected));
  ASSERT_EQ(testing::model_difference(without_styles(projected), without_styles(expected)), "");
}

TEST(OperationWriter, RandomEditsProjectToTheDirectModel) {
  const auto base_style_count = static_cast<uint32_t>(small_workbook().styles.cell_xfs.size());
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    OpenedReplica opened = open_small();
    model::WorkbookModel direct = opened.projection.model;
    for (int step = 0; step < 40; ++step) {
      model::WorkbookModel trial = direct;
      // Formats the edits add may sit at other indices in the document's
      // style sheet; the base's formats sit at the same ones.
      const std::vector<ops::WorkbookOp> list = random_list(rng, trial, base_style_count);
      SCOPED_TRACE("step " + std::to_string(step));
      auto written = write(opened.authority, list);
      ASSERT_TRUE(written.has_value()) << written.error();
      direct = std::move(trial);
      const model::WorkbookModel projected = project(opened.authority);
      // The document holds what the edits made of its projection, and that
      // is the directly edited model.
      expect_same_content(projected, written->projection);
      expect_same_content(projected, direct);
      if (HasFatalFailure()) return;
    }
  }
}

// The whole local path with operations built against the live model: every
// style index of the live style sheet, translated into the document's; the
// update of each edit brings a follower replica to the same state.
TEST(LocalOperations, RandomEditsReachTheDocumentAndAFollower) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed + 100);
    OpenedReplica opened = open_small();
    Authority follower{crdt::Doc::create(5).value(), opened.authority.base, 0};
    ASSERT_TRUE(hydrate_from_update(*follower.doc, opened.bootstrap_update).has_value());
    model::WorkbookModel direct = opened.projection.model;
    for (int step = 0; step < 40; ++step) {
      model::WorkbookModel trial = direct;
      const std::vector<ops::WorkbookOp> list =
          random_list(rng, trial, static_cast<uint32_t>(direct.styles.cell_xfs.size()));
      SCOPED_TRACE("step " + std::to_string(step));
      auto update = apply_local_operation(opened.authority, list, LocalOrigin::kUser, direct.styles);
      ASSERT_TRUE(update.has_value()) << update.error().text;
      direct = std::move(trial);
      if (*update) {
        ASSERT_TRUE(follower.doc->apply_update(**update).has_value());
      }
      follower.base = opened.authority.base;
      const model::WorkbookModel projected = project(opened.authority);
      expect_same_content(projected, direct);
      expect_same_content(project(follower), direct);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(OperationWriter, EmptyListWritesNothingAndStillRecordsAStep) {
  OpenedReplica opened = open_small();
  opened.authority.structure_redo.push_back(StructureStep{{"x"}, {"y"}});
  const auto before = opened.authority.doc->state_vector();
  ASSERT_TRUE(write(opened.authority, {}).has_value());
  EXPECT_EQ(opened.authority.doc->state_vector(), before);
  ASSERT_EQ(opened.authority.structure_undo.size(), 1u);
  EXPECT_EQ(opened.authority.structure_undo[0].before, opened.authority.structure_undo[0].after);
  EXPECT_TRUE(opened.authority.structure_redo.empty());
}

TEST(OperationWriter, UnchangedFormulaTextIsNotRewritten) {
  OpenedReplica opened = open_small();
  const auto before = opened.authority.doc->state_vector();
  // Same formula, a new cached result, same style: nothing to write.
  model::SheetCell cell{CellValue::number(42), SharedString("A1+2"), 2};
  ASSERT_TRUE(write(opened.authority, {ops::SetCell{cell, {0, {2, 0, false, false}}}}).has_value());
  EXPECT_EQ(opened.authority.doc->state_vector(), before);
  // Another formula text is written.
  cell.formula = SharedString("A1+3");
  ASSERT_TRUE(write(opened.authority, {ops::SetCell{cell, {0, {2, 0, false, false}}}}).has_value());
  EXPECT_NE(opened.authority.doc->state_vector(), before);
  EXPECT_EQ(*project(opened.authority).sheets[0].cells.at({2, 0}).formula, SharedString("A1+3"));
}

int64_t generation(const Authority& authority) {
  return *read_metadata_integer(*authority.doc->find_map(kMetadataRoot), kStructureGenerationKey);
}

TEST(OperationWriter, StructureGenerationCountsStructuralKinds) {
  OpenedReplica opened = open_small();
  Authority& authority = opened.authority;
  ASSERT_TRUE(write(authority, {ops::MergeCells{0, range(0, 2, 1, 3)}}).has_value());
  EXPECT_EQ(generation(authority), 1);
  model::ChartAnchor moved = model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {1, 0, 9, 0}, {5, 0, 15, 0}};
  ops::SetChartAnchor anchor{0, "xl/drawings/drawing1.xml#0", "xl/charts/chart1.xml", frame(0, 8).anchor, moved};
  ASSERT_TRUE(write(authority, {anchor}).has_value());
  EXPECT_EQ(generation(authority), 1);
  EXPECT_EQ(project(authority).sheets[0].charts[0].anchor, moved);
  ASSERT_TRUE(write(authority, {ops::InsertSheet{1, "Mid"}, ops::InsertRows{0, 0, 1}}).has_value());
  EXPECT_EQ(generation(authority), 3);
}

std::vector<std::string> order_of(const Authority& authority) {
  return read_sheet_order(*authority.doc->find_array(kSheetOrderRoot)).value();
}

TEST(OperationWriter, UndoAndRedoFollowTheStructureHistory) {
  OpenedReplica opened = open_small();
  Authority& authority = opened.authority;
  const std::string replica_key = "replica:77:0";

  auto empty_undo = write(authority, {}, LocalOrigin::kUndo);
  ASSERT_FALSE(empty_undo.has_value());
  EXPECT_EQ(empty_undo.error(), "sheet-order undo history is empty");

  auto inserted = write(authority, {ops::InsertSheet{0, "First"}});
  ASSERT_TRUE(inserted.has_value()) << inserted.error();
  EXPECT_EQ(order_of(authority), (std::vector<std::string>{replica_key, "sheet:0", "sheet:1"}));
  auto removed = write(authority, {ops::RemoveSheet{2}});
  ASSERT_TRUE(removed.has_value()) << removed.error();
  EXPECT_EQ(order_of(authority), (std::vector<std::string>{replica_key, "sheet:0"}));

  // Undo the removal: the old key and its sheet come back.
  auto undone = write(authority, removed->inverse, LocalOrigin::kUndo);
  ASSERT_TRUE(undone.has_value()) << undone.error();
  EXPECT_EQ(order_of(authority), (std::vector<std::string>{replica_key, "sheet:0", "sheet:1"}));
  EXPECT_EQ(project(authority).sheets[2].cells.at({0, 1}).value, CellValue::boolean(true));
  // Undo the insertion, then redo it: the same replica key, no new one.
  auto undone_insert = write(authority, inserted->inverse, LocalOrigin::kUndo);
  ASSERT_TRUE(undone_insert.has_value()) << undone_insert.error();
  EXPECT_EQ(order_of(authority), (std::vector<std::string>{"sheet:0", "sheet:1"}));
  auto redone = write(authority, undone_insert->inverse, LocalOrigin::kRedo);
  ASSERT_TRUE(redone.has_value()) << redone.error();
  EXPECT_EQ(order_of(authority), (std::vector<std::string>{replica_key, "sheet:0", "sheet:1"}));
  EXPECT_EQ(authority.replica_sheet_counter, 1u);
  EXPECT_EQ(authority.structure_undo.size(), 1u);
  EXPECT_EQ(authority.structure_redo.size(), 1u);
  EXPECT_EQ(project(authority).sheets[0].name, "First");
}

TEST(OperationWriter, RefusalsLeaveDocumentAndHistoryAlone) {
  struct Case {
    const char* name;
    std::function<void(Authority&)> damage;
    std::vector<ops::WorkbookOp> list;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"redo without history", [](Authority&) {}, {}, "sheet-order redo history is empty"},
      {"undo against another order",
       [](Authority& a) { a.structure_undo.push_back({{"sheet:0"}, {"sheet:1", "sheet:0"}}); }, {},
       "sheet-order undo history does not match current state"},
      {"removal beyond the order", [](Authority&) {}, {ops::RemoveSheet{5}}, "sheet removal index 5 is out of range"},
      {"insertion beyond the order", [](Authority&) {}, {ops::InsertSheet{9, "Far"}},
       "sheet insertion index 9 is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedReplica opened = open_small();
    c.damage(opened.authority);
    const auto undo = opened.authority.structure_undo;
    const auto state = opened.authority.doc->state_vector();
    auto projected = decode_document(opened.authority, false);
    ASSERT_TRUE(projected.has_value());
    const LocalOrigin origin = std::string(c.name).starts_with("redo")   ? LocalOrigin::kRedo
                               : std::string(c.name).starts_with("undo") ? LocalOrigin::kUndo
                                                                          : LocalOrigin::kUser;
    auto written = write_operation(opened.authority, projected->model, c.list, origin, {});
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), c.error);
    EXPECT_EQ(opened.authority.doc->state_vector(), state);
    EXPECT_EQ(opened.authority.structure_undo, undo);
  }
}

}  // namespace
}  // namespace cmx::collab

namespace cmx::collab {
namespace {

const std::vector<model::DefinedName> kNewNames = {model::DefinedName{"Rate", "Main!$A$1", std::nullopt, false}};

TEST(LocalOperations, RefusedWriteKeepsTheAuthoredBase) {
  OpenedReplica opened = open_small();
  Authority& authority = opened.authority;
  const auto base = authority.base;
  const auto state = authority.doc->state_vector();
  // The names apply to the projection, then the writer refuses the undo.
  auto refused = apply_local_operation(authority, {ops::SetDefinedNames{kNewNames}}, LocalOrigin::kUndo,
                                       opened.projection.model.styles);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().text, "sheet-order undo history is empty");
  EXPECT_EQ(authority.base, base);
  EXPECT_TRUE(authority.base->defined_names.empty());
  EXPECT_EQ(authority.doc->state_vector(), state);

  auto accepted = apply_local_operation(authority, {ops::SetDefinedNames{kNewNames}}, LocalOrigin::kUser,
                                        opened.projection.model.styles);
  ASSERT_TRUE(accepted.has_value()) << accepted.error().text;
  EXPECT_EQ(authority.base->defined_names, kNewNames);
  EXPECT_TRUE(base->defined_names.empty());  // other holders keep the old base
  EXPECT_EQ(project(authority).defined_names, kNewNames);
}

TEST(LocalOperations, EditsThatChangeNothingGiveNoUpdate) {
  OpenedReplica opened = open_small();
  const model::StyleSheet& styles = opened.projection.model.styles;
  // A deletion first, so that the document has a delete set to leave out.
  auto cleared = apply_local_operation(
      opened.authority, {ops::SetCell{model::SheetCell{}, {0, {1, 0, false, false}}}}, LocalOrigin::kUser, styles);
  ASSERT_TRUE(cleared.has_value());
  EXPECT_TRUE(cleared->has_value());
  // The same formula and style with another cached result: a transaction
  // that writes nothing.
  model::SheetCell same{CellValue::number(99), SharedString("A1+2"), 2};
  auto idle = apply_local_operation(opened.authority, {ops::SetCell{same, {0, {2, 0, false, false}}}},
                                    LocalOrigin::kUser, styles);
  ASSERT_TRUE(idle.has_value());
  EXPECT_FALSE(idle->has_value());
}

TEST(LocalOperations, RefusalsCarryTheirTexts) {
  struct Case {
    const char* name;
    std::vector<ops::WorkbookOp> list;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"style beyond the source",
       {ops::SetCell{model::SheetCell{CellValue::number(1), {}, 9}, {0, {0, 0, false, false}}}},
       "cell style index 9 is out of range"},
      {"sheet the model lacks", {ops::MergeCells{7, range(0, 0, 1, 1)}},
       "cannot apply local operation to authored state: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedReplica opened = open_small();
    const auto state = opened.authority.doc->state_vector();
    auto result = apply_local_operation(opened.authority, c.list, LocalOrigin::kUser, opened.projection.model.styles);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, AuthorityError::Kind::kCollaborativeState);
    EXPECT_TRUE(result.error().text.starts_with(c.error)) << result.error().text;
    EXPECT_EQ(opened.authority.doc->state_vector(), state);
  }
}

TEST(LocalOperations, ScratchReplicaLeavesTheLiveOneAlone) {
  OpenedReplica opened = open_small();
  Authority& live = opened.authority;
  const auto state = live.doc->state_vector();
  const std::vector<ops::WorkbookOp> list = {ops::InsertSheet{2, "Extra"},
                                             ops::SetCell{model::SheetCell{CellValue::number(8), {}, std::nullopt},
                                                          {2, {0, 0, false, false}}}};
  auto outcome = dry_run_local_operation(live, list, LocalOrigin::kAgent, opened.projection.model.styles);
  ASSERT_TRUE(outcome.has_value()) << outcome.error().text;
  EXPECT_EQ(live.doc->state_vector(), state);
  EXPECT_EQ(live.replica_sheet_counter, 0u);
  EXPECT_TRUE(live.structure_undo.empty());
  EXPECT_EQ(outcome->replica_sheet_counter, 1u);
  ASSERT_TRUE(outcome->structure_step.has_value());
  EXPECT_EQ(outcome->structure_step->after, (std::vector<std::string>{"sheet:0", "sheet:1", "replica:77:0"}));
  EXPECT_EQ(outcome->model.sheets[2].cells.at({0, 0}).value, CellValue::number(8));

  // The update continues the live client's clock: applied to the live
  // document it gives the scratch outcome.
  ASSERT_TRUE(live.doc->apply_update(outcome->update).has_value());
  expect_same_content(project(live), outcome->model);
  EXPECT_EQ(encode_document_state(*live.doc).size(), outcome->state_size);

  // Nothing to write gives the empty update.
  auto idle = dry_run_local_operation(live, {}, LocalOrigin::kUser, opened.projection.model.styles);
  ASSERT_TRUE(idle.has_value());
  EXPECT_EQ(idle->update, (std::vector<uint8_t>{0, 0}));
}

}  // namespace
}  // namespace cmx::collab

namespace cmx::collab {
namespace {

model::SheetCell number(double value) { return model::SheetCell{CellValue::number(value), {}, std::nullopt}; }

// A collaborative single-cell set: a dry run, then the update integrated as
// one undo step.
void set_tracked(Authority& authority, const model::StyleSheet& styles, uint32_t row, double value) {
  auto outcome = dry_run_local_operation(authority, {ops::SetCell{number(value), {0, {row, 3, false, false}}}},
                                         LocalOrigin::kUser, styles);
  ASSERT_TRUE(outcome.has_value()) << outcome.error().text;
  auto integrated = integrate_update_as_undo_step(authority, outcome->update);
  ASSERT_TRUE(integrated.has_value()) << integrated.error().text;
  authority.base = outcome->base;
  authority.replica_sheet_counter = outcome->replica_sheet_counter;
}

std::optional<CellValue> value_at(const Authority& authority, uint32_t row) {
  const model::WorkbookModel book = project(authority);
  auto found = book.sheets[0].cells.find({row, 3});
  if (found == book.sheets[0].cells.end()) return std::nullopt;
  return found->second.value;
}

TEST(UndoHistory, EachIntegratedCommitIsOneUndoStep) {
  OpenedReplica opened = open_small();
  Authority& authority = opened.authority;
  const model::StyleSheet styles = opened.projection.model.styles;
  Authority follower{crdt::Doc::create(5).value(), authority.base, 0};
  ASSERT_TRUE(hydrate_from_update(*follower.doc, opened.bootstrap_update).has_value());

  // Empty stacks: nothing to undo, nothing changes.
  auto nothing = pop_undo_and_reproject(authority, false);
  ASSERT_TRUE(nothing.has_value());
  EXPECT_FALSE(nothing->has_value());

  // Two commits in quick succession stay two steps.
  set_tracked(authority, styles, 0, 1);
  set_tracked(authority, styles, 0, 2);
  EXPECT_EQ(authority.saved_undo.size(), 2u);
  ASSERT_TRUE(follower.doc->apply_update(encode_document_state(*authority.doc)).has_value());

  auto undone = pop_undo_and_reproject(authority, false);
  ASSERT_TRUE(undone.has_value()) << undone.error().text;
  ASSERT_TRUE(undone->has_value());
  EXPECT_EQ(value_at(authority, 0), CellValue::number(1));
  EXPECT_EQ((*undone)->projection.model.sheets[0].cells.at({0, 3}).value, CellValue::number(1));
  EXPECT_EQ(authority.saved_undo.size(), 1u);
  EXPECT_EQ(authority.saved_redo.size(), 1u);
  // The undo's update brings a follower along.
  ASSERT_TRUE(follower.doc->apply_update((*undone)->update).has_value());
  EXPECT_EQ(value_at(follower, 0), CellValue::number(1));

  auto redone = pop_undo_and_reproject(authority, true);
  ASSERT_TRUE(redone.has_value() && redone->has_value());
  EXPECT_EQ(value_at(authority, 0), CellValue::number(2));
  // A new commit after an undo empties the redo stack.
  ASSERT_TRUE(pop_undo_and_reproject(authority, false).has_value());
  set_tracked(authority, styles, 1, 7);
  EXPECT_TRUE(authority.saved_redo.empty());
  EXPECT_EQ(authority.saved_undo.size(), 2u);
}

TEST(UndoHistory, UndoLeavesAPeersChangeInPlace) {
  OpenedReplica opened = open_small();
  Authority& live = opened.authority;
  const model::StyleSheet styles = opened.projection.model.styles;
  Authority peer{crdt::Doc::create(9).value(), live.base, 0};
  ASSERT_TRUE(hydrate_from_update(*peer.doc, opened.bootstrap_update).has_value());

  set_tracked(live, styles, 0, 1);
  auto peer_update = apply_local_operation(peer, {ops::SetCell{number(5), {0, {4, 3, false, false}}}},
                                           LocalOrigin::kUser, styles);
  ASSERT_TRUE(peer_update.has_value() && peer_update->has_value());
  ASSERT_TRUE(live.doc->apply_update(**peer_update, "xlsx:remote").has_value());
  EXPECT_EQ(live.saved_undo.size(), 1u);  // a remote update is no step

  auto undone = pop_undo_and_reproject(live, false);
  ASSERT_TRUE(undone.has_value() && undone->has_value());
  EXPECT_EQ(value_at(live, 0), std::nullopt);
  EXPECT_EQ(value_at(live, 4), CellValue::number(5));
  auto again = pop_undo_and_reproject(live, false);
  ASSERT_TRUE(again.has_value());
  EXPECT_FALSE(again->has_value());
  EXPECT_EQ(value_at(live, 4), CellValue::number(5));
}

TEST(UndoHistory, RefusalsLeaveTheSavedStacks) {
  OpenedReplica opened = open_small();
  Authority& authority = opened.authority;
  set_tracked(authority, opened.projection.model.styles, 0, 1);
  const auto undo = authority.saved_undo;
  const auto state = authority.doc->state_vector();

  const std::vector<uint8_t> garbage = {0x05, 0xff, 0x01};
  auto refused = integrate_update_as_undo_step(authority, garbage);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, AuthorityError::Kind::kInvalidUpdate);
  EXPECT_EQ(authority.saved_undo, undo);
  EXPECT_EQ(authority.doc->state_vector(), state);

  Authority bare{crdt::Doc::create(3).value(), authority.base, 0};
  bare.saved_undo = undo;
  auto missing = pop_undo_and_reproject(bare, false);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().text, "missing sheet map");
  EXPECT_EQ(bare.saved_undo, undo);
}

TEST(Staging, UpdatesCheckAgainstTheStateTheyWereStagedOn) {
  OpenedReplica opened = open_small();
  Authority& live = opened.authority;
  const model::StyleSheet styles = opened.projection.model.styles;
  const std::vector<uint8_t> base = encode_document_state(*live.doc);
  auto first = dry_run_local_operation(live, {ops::SetCell{number(1), {0, {0, 3, false, false}}}},
                                       LocalOrigin::kUser, styles);
  ASSERT_TRUE(first.has_value());
  // A second edit staged on the state after the first needs its blocks.
  auto later_doc = crdt::Doc::create(41).value();
  ASSERT_TRUE(hydrate_from_update(*later_doc, base).has_value());
  ASSERT_TRUE(later_doc->apply_update(first->update).has_value());
  const std::vector<uint8_t> later = encode_document_state(*later_doc);
  auto second = apply_on_scratch_replica(live, {ops::SetCell{number(2), {0, {0, 3, false, false}}}},
                                         LocalOrigin::kUser, styles, later);
  ASSERT_TRUE(second.has_value()) << second.error().text;

  const auto state = live.doc->state_vector();
  auto on_base = stage_update_untracked(*live.doc, base, first->update);
  ASSERT_TRUE(on_base.has_value()) << on_base.error().text;
  EXPECT_TRUE(*on_base);
  auto ahead = stage_update_untracked(*live.doc, base, second->update);
  ASSERT_TRUE(ahead.has_value()) << ahead.error().text;
  EXPECT_FALSE(*ahead);
  auto on_later = stage_update_untracked(*live.doc, later, second->update);
  ASSERT_TRUE(on_later.has_value());
  EXPECT_TRUE(*on_later);
  EXPECT_EQ(live.doc->state_vector(), state);
  EXPECT_TRUE(live.saved_undo.empty());

  auto bad_base = stage_update_untracked(*live.doc, std::vector<uint8_t>{0x07}, first->update);
  ASSERT_FALSE(bad_base.has_value());
  EXPECT_EQ(bad_base.error().kind, AuthorityError::Kind::kCollaborativeState);
}

}  // namespace
}  // namespace cmx::collab
