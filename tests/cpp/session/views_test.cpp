// Cached views, the model slot, the source record's line moves, and
// recalculation requests.
#include <gtest/gtest.h>

#include "session/open.h"
#include "session/recalc_requests.h"
#include "session/views.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::named_sheets;
using testing::Package;
using testing::zip;

std::unique_ptr<WorkbookSession> open_basic(const Package& pkg = named_sheets({"One", "Two"})) {
  auto session = bootstrap_session(zip(pkg), true, std::nullopt);
  EXPECT_TRUE(session);
  return std::move(session.value());
}

bool cached(WorkbookSession& session) {
  return session.view_cache.with([](std::optional<ViewCache>& slot) { return slot.has_value(); });
}

ops::WorkbookOp set_cell(uint32_t sheet, uint32_t row, uint32_t col, model::SheetCell cell) {
  return ops::SetCell{std::move(cell), {sheet, {row, col}}};
}

TEST(ViewExtent, Boundaries) {
  const model::GridMetrics metrics;
  const ViewExtent empty = compute_view_extent(std::nullopt, std::nullopt, metrics);
  EXPECT_FLOAT_EQ(empty.content_width, static_cast<float>(model::col_left_px(metrics, 26)));
  EXPECT_FLOAT_EQ(empty.content_height, static_cast<float>(model::row_top_px(metrics, 50)));
  const ViewExtent last_row =
      compute_view_extent(model::CellRange{{0, 0}, {1048575, 16383}}, std::nullopt, metrics);
  EXPECT_FLOAT_EQ(last_row.content_height, static_cast<float>(model::row_top_px(metrics, 1048576)));
  EXPECT_FLOAT_EQ(last_row.content_width, static_cast<float>(model::col_left_px(metrics, 16384)));
  const ViewExtent pane =
      compute_view_extent(model::CellRange{{0, 0}, {1, 1}}, model::FreezePane{2, 1, {10, 4}}, metrics);
  EXPECT_EQ(pane.frozen_rows, 2u);
  EXPECT_EQ(pane.frozen_cols, 1u);
  EXPECT_FLOAT_EQ(pane.scroll_x, static_cast<float>(model::col_left_px(metrics, 4) - model::col_left_px(metrics, 1)));
  EXPECT_FLOAT_EQ(pane.scroll_y, static_cast<float>(model::row_top_px(metrics, 10) - model::row_top_px(metrics, 2)));
  EXPECT_FLOAT_EQ(pane.content_height, static_cast<float>(model::row_top_px(metrics, 12)));
}

TEST(ViewCache, FillsOnceAndRefusesABadActiveSheet) {
  auto session = open_basic();
  auto view = refresh_view_cache(*session);
  ASSERT_TRUE(view);
  EXPECT_EQ(view.value().sheet_keys, (std::vector<std::string>{"sheet:0", "sheet:1"}));
  EXPECT_EQ(view.value().sheet_names, (std::vector<std::string>{"One", "Two"}));
  EXPECT_TRUE(cached(*session));
  clear_view_cache(*session);
  session->active_sheet = 2;
  auto refused = refresh_view_cache(*session);
  ASSERT_FALSE(refused);
  EXPECT_EQ(engine_error_display(refused.error()), "sheet 2 out of range");
  EXPECT_FALSE(cached(*session));
}

TEST(ViewCache, KeptOrDroppedByEdits) {
  model::StyleSheet styles;
  const model::SheetCell plain{model::CellValue::number(5), {}, {}};
  const model::SheetCell styled{model::CellValue::number(5), {}, 0u};
  struct Case {
    std::string_view name;
    std::vector<ops::WorkbookOp> ops;
    bool kept;
  };
  const Case cases[] = {
      {"value typed into an existing cell", {set_cell(0, 0, 0, plain)}, true},
      {"only the style changes", {set_cell(0, 0, 0, styled)}, false},
      {"a new cell with the default font", {set_cell(0, 6, 6, plain)}, true},
      {"clearing a cell inside the used range", {set_cell(0, 1, 1, {})}, true},
      {"clearing a cell on the used range's border", {set_cell(0, 2, 2, {})}, false},
      {"a cell on another sheet", {set_cell(1, 0, 0, styled)}, true},
      {"a width on another sheet", {ops::SetColumnWidth{1, 0, 20.0}}, true},
      {"a width on the active sheet", {ops::SetColumnWidth{0, 0, 20.0}}, false},
      {"defined names", {ops::SetDefinedNames{}}, true},
      {"a merge on the active sheet", {ops::MergeCells{0, {{0, 0}, {0, 1}}}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto session = open_basic();
    model::SheetModel& sheet = session->model.sheets[0];
    sheet.cells[{1, 1}] = plain;
    sheet.cells[{2, 2}] = plain;
    ASSERT_TRUE(refresh_view_cache(*session));
    const CellStyleStates before = collect_view_cell_states(*session, c.ops);
    for (const ops::WorkbookOp& op : c.ops) {
      if (const auto* step = std::get_if<ops::SetCell>(&op)) {
        auto& cells = session->model.sheets[step->address.sheet].cells;
        const model::CellKey key{step->address.cell.row, step->address.cell.col};
        if (model::is_empty_record(step->cell)) {
          cells.erase(key);
        } else {
          cells[key] = step->cell;
        }
      }
    }
    update_view_cache(*session, c.ops, before);
    EXPECT_EQ(cached(*session), c.kept);
  }
}

TEST(ViewCache, NewCellWidensTheUsedRange) {
  auto session = open_basic();
  ASSERT_TRUE(refresh_view_cache(*session));
  const std::vector<ops::WorkbookOp> ops = {set_cell(0, 99, 3, {model::CellValue::number(1), {}, {}})};
  const CellStyleStates before = collect_view_cell_states(*session, ops);
  session->model.sheets[0].cells[{99, 3}] = {model::CellValue::number(1), {}, {}};
  update_view_cache(*session, ops, before);
  const auto used = session->view_cache.with([](std::optional<ViewCache>& slot) { return slot->used_range; });
  ASSERT_TRUE(used);
  EXPECT_EQ(used->end.row, 99u);
  EXPECT_EQ(used->end.col, 3u);
  auto view = refresh_view_cache(*session);
  const model::GridMetrics metrics = model::compute_grid_metrics(session->model.sheets[0], session->model.styles);
  EXPECT_FLOAT_EQ(view.value().extent.content_height, static_cast<float>(model::row_top_px(metrics, 101)));
}

TEST(ViewCache, NothingIsCollectedWhileAbsent) {
  auto session = open_basic();
  EXPECT_TRUE(collect_view_cell_states(*session, {set_cell(0, 0, 0, {})}).empty());
}

TEST(InstallModel, CountsAGenerationAndEmptiesTheChartCache) {
  auto session = open_basic();
  session->chart_cache.with([](ParsedChartCache& cache) { cache["xl/charts/chart1.xml"] = nullptr; });
  model::WorkbookModel next = session->model;
  next.sheets[0].name = "Renamed";
  install_model(*session, std::move(next));
  EXPECT_EQ(session->generation, 1u);
  EXPECT_EQ(session->model.sheets[0].name, "Renamed");
  EXPECT_TRUE(session->chart_cache.with([](ParsedChartCache& cache) { return cache.empty(); }));
}

TEST(SourceTable, MoveMapRuns) {
  const std::vector<IndexRun> identity = identity_move_map().rows;
  const auto inserted = move_index_runs(identity, model::MAX_ROWS, /*insert=*/true, 5, 3);
  EXPECT_EQ(inserted, (std::vector<IndexRun>{{0, 5, 0}, {5, 1048568, 8}}));
  const auto deleted = move_index_runs(inserted, model::MAX_ROWS, /*insert=*/false, 5, 3);
  EXPECT_EQ(deleted, (std::vector<IndexRun>{{0, 1048573, 0}}));
  // Deleting inside a run keeps both sides; inserting at 0 moves everything.
  EXPECT_EQ(move_index_runs(std::vector<IndexRun>{{0, 100, 0}}, 100, false, 10, 5),
            (std::vector<IndexRun>{{0, 10, 0}, {15, 85, 10}}));
  EXPECT_EQ(move_index_runs(std::vector<IndexRun>{{0, 100, 0}}, 100, true, 0, 10),
            (std::vector<IndexRun>{{0, 90, 10}}));
}

TEST(SourceTable, CellOriginsMoveWithLines) {
  CellOriginMap map{{{0, 0}, 1}, {{5, 2}, 2}, {{1048575, 0}, 3}};
  move_cell_origins(map, LineAxis::Rows, /*insert=*/true, 3, 1);
  EXPECT_EQ(map, (CellOriginMap{{{0, 0}, 1}, {{6, 2}, 2}}));  // the last row's origin falls off the grid
  move_cell_origins(map, LineAxis::Columns, /*insert=*/false, 1, 2);
  EXPECT_EQ(map, (CellOriginMap{{{0, 0}, 1}}));
}

TEST(SourceTable, SheetsInsertedAndRemovedKeepListsAligned) {
  auto session = open_basic();
  SheetSourceTable& table = session->sheet_sources;
  insert_source_sheet(table, 1);
  insert_source_sheet(table, 9);
  EXPECT_EQ(table.origins, (std::vector<SheetOrigin>{{1, 0}, {0, 0}, {1, 1}, {0, 0}}));
  EXPECT_EQ(table.added, (std::vector<uint8_t>{0, 1, 0, 1}));
  EXPECT_FALSE(table.move_maps[1].has_value());
  remove_source_sheet(table, 0);
  remove_source_sheet(table, 7);
  EXPECT_EQ(table.origins.size(), 3u);
  EXPECT_EQ(table.source_maps.size(), 3u);
  EXPECT_EQ(table.move_maps.size(), 3u);
  EXPECT_EQ(table.added, (std::vector<uint8_t>{1, 0, 1}));
}

Package formula_package(const std::string& cells) {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) +
                                          "\"><sheetData>" + cells + "</sheetData></worksheet>");
  return pkg;
}

TEST(Recalculation, RevisionMovesOnlyWhenResultsChange) {
  auto session = open_basic(formula_package(
      "<row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\"><f>A1*3</f><v>6</v></c><c r=\"C1\"><f>NOW()</f><v>1</v></c>"
      "</row>"));
  std::vector<ChangeSource> heard;
  session->listeners->add([&](ChangeEvent event) {
    EXPECT_TRUE(event.update.empty());
    heard.push_back(event.source);
  });
  const formula::RecalcResult first = recalculate_workbook(*session, 45000.5);
  EXPECT_EQ(first.changed.size(), 1u);  // NOW() moved; A1*3 kept its cached 6
  EXPECT_EQ(session->revision, 1u);
  EXPECT_EQ(session_version(*session), session->version_id + "-1");
  EXPECT_TRUE(session->calculated);
  EXPECT_EQ(session->generation, 1u);
  EXPECT_EQ(session->model.sheets[0].cells.at({0, 2}).value, model::CellValue::number(45000.5));
  const formula::RecalcResult again = recalculate_workbook(*session, 45000.5);
  EXPECT_TRUE(again.changed.empty());
  EXPECT_EQ(session->revision, 1u);
  EXPECT_EQ(session->generation, 2u);
  EXPECT_EQ(heard, (std::vector<ChangeSource>{ChangeSource::Recalculation}));
  EXPECT_EQ(session->last_calculation.changed.size(), 0u);
}

TEST(Recalculation, NoFormulasNoChange) {
  auto session = open_basic();
  const formula::RecalcResult result = recalculate_workbook(*session, std::nullopt);
  EXPECT_TRUE(result.changed.empty() && result.cycles.empty() && result.limited.empty());
  EXPECT_EQ(session->revision, 0u);
  EXPECT_NE(session->engine, nullptr);
}

TEST(Recalculation, ACycleSetThatChangesCountsOnceThenNot) {
  auto session = open_basic(formula_package(
      "<row r=\"1\"><c r=\"A1\"><f>B1</f><v>0</v></c><c r=\"B1\"><f>A1</f><v>0</v></c></row>"));
  recalculate_workbook(*session, std::nullopt);
  EXPECT_FALSE(session->last_calculation.cycles.empty());
  const uint64_t after_first = session->revision;
  EXPECT_EQ(after_first, 1u);
  recalculate_workbook(*session, std::nullopt);
  EXPECT_EQ(session->revision, after_first);
}

TEST(Recalculation, FirstCalculationOfUncachedFormulasCounts) {
  auto session = open_basic(
      formula_package("<row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\"><f>A1*0+0</f></c></row>"));
  // The uncached formula's result is Empty, and stays a value that compares
  // as changed or not; the marker alone moves the revision.
  session->model.sheets[0].cells[{0, 1}].value = model::CellValue::number(0);
  const formula::RecalcResult result = recalculate_workbook(*session, std::nullopt);
  EXPECT_TRUE(result.changed.empty());
  EXPECT_EQ(session->revision, 1u);
  recalculate_workbook(*session, std::nullopt);
  EXPECT_EQ(session->revision, 1u);
}

}  // namespace
}  // namespace cmx::session

namespace cmx::session {
namespace {

TEST(ViewCache, SheetListEditsDropItOnAnySheet) {
  const std::vector<ops::WorkbookOp> edits[] = {
      {ops::RenameSheet{1, "Other"}}, {ops::InsertSheet{5, "New"}}, {ops::RemoveSheet{1}}, {ops::InsertRows{0, 3, 1}}};
  for (const auto& ops : edits) {
    auto session = open_basic();
    ASSERT_TRUE(refresh_view_cache(*session));
    update_view_cache(*session, ops, {});
    EXPECT_FALSE(cached(*session));
  }
  auto session = open_basic();
  ASSERT_TRUE(refresh_view_cache(*session));
  update_view_cache(*session, {ops::InsertRows{1, 3, 1}}, {});
  EXPECT_TRUE(cached(*session));
}

TEST(SourceRecord, FollowsSheetRowAndColumnEdits) {
  auto session = open_basic();
  session->sheet_sources.source_maps[0] = CellOriginMap{{{0, 0}, 7}, {{4, 1}, 8}};
  const std::vector<std::string> before = {"One", "Two"};
  rebuild_sheet_cell_maps(*session, before,
                          {ops::InsertRows{0, 2, 3}, ops::InsertSheet{1, "Mid"}, ops::DeleteColumns{0, 0, 1}});
  const SheetSourceTable& table = session->sheet_sources;
  EXPECT_EQ(table.origins, (std::vector<SheetOrigin>{{1, 0}, {0, 0}, {1, 1}}));
  EXPECT_EQ(table.added, (std::vector<uint8_t>{0, 1, 0}));
  EXPECT_EQ(table.source_maps[0], (CellOriginMap{{{7, 0}, 8}}));
  EXPECT_EQ(table.move_maps[0]->rows, (std::vector<IndexRun>{{0, 2, 0}, {2, 1048571, 5}}));
  EXPECT_EQ(table.move_maps[0]->cols, (std::vector<IndexRun>{{1, 16383, 0}}));
  EXPECT_FALSE(session->retained_refs_moved);  // nothing retained refers to the sheet
  rebuild_sheet_cell_maps(*session, {"One", "Mid", "Two"}, {ops::InsertRows{9, 0, 1}});
  EXPECT_TRUE(session->retained_refs_moved);  // a sheet past the list counts as a hit
  rebuild_sheet_cell_maps(*session, {"One", "Mid", "Two"}, {ops::RemoveSheet{1}});
  EXPECT_EQ(table.origins, (std::vector<SheetOrigin>{{1, 0}, {1, 1}}));
}

TEST(SourceRecord, RetainedReferencesMarkTheMove) {
  auto session = open_basic();
  session->source_package->inventory.push_back(
      {"xl/pivotTables/pivotTable1.xml", std::vector<reader::RetainedCellRef>{}});
  session->source_package->inventory.back().refs->push_back({"two", {10, 2}});
  rebuild_sheet_cell_maps(*session, {"One", "Two"}, {ops::InsertRows{1, 11, 1}});
  EXPECT_FALSE(session->retained_refs_moved);  // below the referenced row
  rebuild_sheet_cell_maps(*session, {"One", "Two"}, {ops::InsertColumns{1, 2, 1}});
  EXPECT_TRUE(session->retained_refs_moved);
}

}  // namespace
}  // namespace cmx::session
