// Cell edits written straight into the document against the scratch replica
// they replace: twin replicas take the same random edits, one through
// set_cell and set_many_cells, the other through prepare_operation_commit and
// integrate_prepared_commit, and must agree on everything a caller can see.
#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "collab/cell_writes.h"
#include "collab/hydration.h"
#include "collab/local_operations.h"
#include "collab/projection.h"
#include "formula/engine_state.h"
#include "model/style_interning.h"
#include "session/collab_state.h"
#include "session/local_commit.h"
#include "session/model_copies.h"
#include "session/range_ops.h"
#include "session/remote_updates.h"
#include "session/set_cells.h"
#include "session/typed_input.h"
#include "session/undo_redo.h"
#include "session_test_util.h"

#include "corpus_files.h"

namespace cmx::session {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::zip;

// "Data": inputs in A, formulas reading them in B and C; "Notes" reads Data.
std::string book_bytes() {
  auto pkg = testing::named_sheets({"Data", "Notes"});
  const std::string ns(reader::testing::kMainNs);
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + ns +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c>"
              "<c r=\"C1\"><f>SUM(A1:A6)</f><v>4</v></c></row>"
              "<row r=\"2\"><c r=\"A2\"><v>3</v></c><c r=\"B2\" t=\"str\"><f>A2&amp;\"x\"</f><v>3x</v></c></row>"
              "</sheetData></worksheet>");
  pkg.set("xl/worksheets/sheet2.xml",
          "<worksheet xmlns=\"" + ns +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><f>Data!C1+1</f><v>5</v></c></row></sheetData></worksheet>");
  return zip(pkg);
}

// set_many_cells as it ran before cell writes went straight into the
// document: always through a scratch replica.
Result<EditReport, EngineError> scratch_set_many(WorkbookSession& s, uint32_t sheet,
                                                 const std::vector<CellEdit>& edits) {
  if (edits.empty()) return EditReport{};
  StagedEdit staged{clone_workbook_model(s.model), {}};
  ops::Batch forward;
  ops::Batch inverses;
  std::vector<model::CellAddress> edited;
  std::vector<std::optional<std::string>> formulas;
  for (const CellEdit& edit : edits) {
    if (edit.cell.row >= model::MAX_ROWS || edit.cell.col >= model::MAX_COLS) {
      return unexpected(EngineError::cell_out_of_range(edit.cell));
    }
    model::SheetCell content = parse_typed_cell_input(staged.model, sheet, edit.cell.row, edit.cell.col, edit.text);
    CMX_TRY(validate_cell_input(content));
    model::CellMap& cells = staged.model.sheets[sheet].cells;
    const model::CellKey key{edit.cell.row, edit.cell.col};
    auto found = cells.find(key);
    model::SheetCell previous = found == cells.end() ? model::SheetCell{} : found->second;
    if (content == previous) continue;
    if (model::is_empty_record(content)) {
      cells.erase(key);
    } else {
      cells.insert_or_assign(key, content);
    }
    formulas.push_back(content.formula ? std::optional<std::string>(content.formula->str()) : std::nullopt);
    const model::CellAddress at{sheet, edit.cell};
    inverses.push_back(ops::SetCell{std::move(previous), at});
    forward.push_back(ops::SetCell{std::move(content), at});
    edited.push_back(at);
  }
  if (forward.empty() || workbook_models_equal(staged.model, s.model)) return EditReport{};
  staged.undo_entry.assign(std::make_move_iterator(inverses.rbegin()), std::make_move_iterator(inverses.rend()));
  if (!s.engine) s.engine = formula::rebuild_graph(s.model);
  CMX_ASSIGN_OR_RETURN(PreparedCommit commit, prepare_operation_commit(s, std::move(forward), std::move(staged),
                                                                       collab::LocalOrigin::kUser, false,
                                                                       std::nullopt));
  CMX_ASSIGN_OR_RETURN(std::optional<Bytes> update, integrate_prepared_commit(s, std::move(commit)));
  EditReport report = reregister_and_recalculate(s, edited, formulas, std::nullopt);
  finish_local_commit(s, std::move(update));
  return report;
}

// apply_update as it ran before cell updates went straight into the
// document, for an update that leaves nothing waiting and an empty queue.
Result<EditReport, EngineError> scratch_apply_update(WorkbookSession& s, const Bytes& update) {
  const std::vector<model::SheetModel> before = s.model.sheets;
  CMX_ASSIGN_OR_RETURN(RemoteTrial trial, apply_remote_update(s, update, std::nullopt));
  if (!collab::replica_state_eq(trial.replica, *s.replica)) {
    return unexpected(EngineError::of(EngineErrorKind::CollaborativeStructureChanged));
  }
  EXPECT_FALSE(trial.pending);
  CMX_ASSIGN_OR_RETURN(auto integrated, integrate_remote_update(s, std::move(trial), std::nullopt));
  return remote_update_report(s, before, integrated.second);
}

std::string outcome_text(const Result<EditReport, EngineError>& result) {
  if (!result) return "error: " + engine_error_display(result.error());
  std::string text = result->applied ? "applied" : "nothing";
  for (const auto* list : {&result->changed, &result->cycles, &result->limited}) {
    text += " |";
    for (const model::CellAddress& cell : *list) {
      text += " " + std::to_string(cell.sheet) + "!" + model::format_cell_ref(cell.cell);
    }
  }
  return text;
}

// The partial projection of every stored cell, and of a few absent ones,
// is what the whole projection holds.
void expect_partial_projection_matches(const WorkbookSession& s) {
  auto whole = collab::decode_document(s.authority, false);
  ASSERT_TRUE(whole) << whole.error();
  std::vector<model::CellAddress> cells;
  for (uint32_t sheet = 0; sheet < whole->model.sheets.size(); ++sheet) {
    for (const auto& [key, cell] : whole->model.sheets[sheet].cells) cells.push_back({sheet, {key.row, key.col}});
    cells.push_back({sheet, {999, 3}});
  }
  auto catalog = collab::project_catalog(s.authority);
  ASSERT_TRUE(catalog);
  EXPECT_TRUE(model::stylesheet_eq(catalog->styles, whole->model.styles));
  auto partial = collab::project_cell_list(s.authority, cells, *catalog);
  ASSERT_TRUE(partial);
  for (const auto& [at, cell] : *partial) {
    const model::CellMap& map = whole->model.sheets[at.sheet].cells;
    auto found = map.find({at.cell.row, at.cell.col});
    ASSERT_EQ(cell.has_value(), found != map.end()) << model::format_cell_ref(at.cell);
    if (cell) {
      EXPECT_EQ(*cell, found->second) << model::format_cell_ref(at.cell);
    }
  }
}

struct Twins {
  std::unique_ptr<WorkbookSession> direct;
  std::unique_ptr<WorkbookSession> scratch;
  std::vector<Bytes> direct_events;
  std::vector<Bytes> scratch_events;
};

Twins open_twins(bool collaborative) {
  const std::optional<uint64_t> client = collaborative ? std::optional<uint64_t>(5) : std::nullopt;
  Twins twins{testing::open_session(book_bytes(), client), testing::open_session(book_bytes(), client), {}, {}};
  // A workbook that is not collaborative draws its client id at random: the
  // twin takes the same one, over the same state.
  ensure_document(*twins.direct);
  auto doc = crdt::Doc::create(twins.direct->authority.doc->client_id());
  EXPECT_TRUE(doc);
  EXPECT_TRUE(collab::hydrate_from_update(**doc, state_as_update(*twins.scratch)));
  twins.scratch->authority.doc = std::move(*doc);
  twins.direct->listeners->add([&events = twins.direct_events](ChangeEvent e) { events.push_back(e.update); });
  twins.scratch->listeners->add([&events = twins.scratch_events](ChangeEvent e) { events.push_back(e.update); });
  return twins;
}

void expect_twins_agree(Twins& t, const std::string& step) {
  SCOPED_TRACE(step);
  WorkbookSession& a = *t.direct;
  WorkbookSession& b = *t.scratch;
  EXPECT_TRUE(workbook_model_eq(a.model, b.model));
  for (size_t i = 0; i < a.model.sheets.size() && i < b.model.sheets.size(); ++i) {
    EXPECT_EQ(a.model.sheets[i].array_ranges, b.model.sheets[i].array_ranges);
  }
  EXPECT_EQ(state_as_update(a), state_as_update(b));
  EXPECT_EQ(t.direct_events, t.scratch_events);
  EXPECT_EQ(a.revision, b.revision);
  EXPECT_EQ(a.local_history.undo_stack.size(), b.local_history.undo_stack.size());
  EXPECT_EQ(a.local_history.redo_stack.size(), b.local_history.redo_stack.size());
  EXPECT_EQ(a.source_undo.size(), b.source_undo.size());
  EXPECT_EQ(a.authority.saved_undo.size(), b.authority.saved_undo.size());
  EXPECT_EQ(a.authority.saved_redo.size(), b.authority.saved_redo.size());
  EXPECT_EQ(a.authority.structure_undo, b.authority.structure_undo);
  EXPECT_EQ(a.authority.structure_redo, b.authority.structure_redo);
  EXPECT_EQ(a.last_calculation.changed, b.last_calculation.changed);
  // A bound still in force covers the state it bounds.
  if (!a.authority.bound_doc.expired() &&
      a.authority.bound_transactions == a.authority.doc->committed_transactions()) {
    EXPECT_GE(a.authority.bound_bytes, state_as_update(a).size());
  }
  expect_partial_projection_matches(a);
}

std::string random_text(std::mt19937& rng) {
  static const std::vector<std::string> kTexts = {
      "5", "-2.5", "", "hello", "=A1*3", "=SUM(A1:A6)", "TRUE", "#N/A", "'=quoted", "=Notes!A1+1", "0", "=A1*2", "=SEQUENCE(3)", "=A1:A2*2",
      std::string(300, 'w')};
  return kTexts[rng() % kTexts.size()];
}

model::CellRef random_cell(std::mt19937& rng) {
  return model::CellRef{static_cast<uint32_t>(rng() % 6), static_cast<uint32_t>(rng() % 4)};
}

class CellCommits : public ::testing::TestWithParam<bool> {};

TEST_P(CellCommits, MatchTheScratchReplicaOverRandomEdits) {
  const bool collaborative = GetParam();
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    Twins t = open_twins(collaborative);
    std::unique_ptr<WorkbookSession> peer = collaborative ? testing::open_session(book_bytes(), 9) : nullptr;
    std::vector<Bytes> sent;
    for (int step = 0; step < 60; ++step) {
      const uint32_t kind = rng() % 10;
      const uint32_t sheet = rng() % 2;
      std::string label = "step " + std::to_string(step) + " kind " + std::to_string(kind);
      Result<EditReport, EngineError> a = EditReport{};
      Result<EditReport, EngineError> b = EditReport{};
      if (kind <= 3) {
        const model::CellRef cell = random_cell(rng);
        const std::string text = random_text(rng);
        label += " set " + model::format_cell_ref(cell) + " " + text;
        a = set_cell(*t.direct, sheet, cell, text, std::nullopt);
        b = scratch_set_many(*t.scratch, sheet, {CellEdit{cell, text}});
      } else if (kind == 4) {
        std::vector<CellEdit> edits;
        for (uint32_t i = rng() % 5 + 1; i > 0; --i) edits.push_back(CellEdit{random_cell(rng), random_text(rng)});
        label += " set_many";
        a = set_many_cells(*t.direct, sheet, edits, std::nullopt);
        b = scratch_set_many(*t.scratch, sheet, edits);
      } else if (kind == 5 || kind == 6) {
        const UndoDirection direction = kind == 5 ? UndoDirection::Undo : UndoDirection::Redo;
        a = undo_redo(*t.direct, direction, std::nullopt);
        b = undo_redo(*t.scratch, direction, std::nullopt);
      } else if (kind == 7) {
        const model::CellRef from = random_cell(rng);
        const ops::WorkbookOp op = ops::SetNumberFormat{
            sheet, model::CellRange{from, model::CellRef{from.row + 1, from.col}},
            model::NumberFormatMutation{model::NumberFormatMutationKind::Custom, rng() % 2 ? "0.00%" : "#,##0"}};
        a = apply_range_operation(*t.direct, {op}, std::nullopt);
        b = apply_range_operation(*t.scratch, {op}, std::nullopt);
      } else if (kind == 8) {
        const ops::WorkbookOp op = ops::InsertSheet{1, "Extra" + std::to_string(step)};
        a = apply_range_operation(*t.direct, {op}, std::nullopt);
        b = apply_range_operation(*t.scratch, {op}, std::nullopt);
      } else if (peer) {
        // A peer's cell write, clear or formula; now and then an update sent
        // before, which changes nothing.
        const model::CellRef cell = random_cell(rng);
        const uint32_t what = rng() % 5;
        Bytes update;
        if (what == 4 && !sent.empty()) {
          update = sent[rng() % sent.size()];
          label += " resent";
        } else {
          model::SheetCell content{model::CellValue::number(step), {}, std::nullopt};
          if (what == 1) content = model::SheetCell{};
          if (what == 2) content.value = model::CellValue::text("peer " + std::to_string(step));
          if (what == 3) content = model::SheetCell{{}, SharedString("A1+" + std::to_string(step)), std::nullopt};
          const ops::SetCell set{content, model::CellAddress{sheet, cell}};
          auto written = collab::apply_local_operation(peer->authority, {set}, collab::LocalOrigin::kUser,
                                                       peer->model.styles);
          ASSERT_TRUE(written) << written.error().text;
          if (!written->has_value()) continue;
          update = **written;
          sent.push_back(update);
          label += " remote " + model::format_cell_ref(cell) + " kind " + std::to_string(what);
        }
        const bool bound_current = t.direct->authority.bound_transactions ==
                                   t.direct->authority.doc->committed_transactions();
        a = apply_update(*t.direct, update, std::nullopt);
        b = scratch_apply_update(*t.scratch, update);
        // A new write that found its bound current went straight in and kept it.
        if (bound_current && (what == 0 || what == 2 || what == 3) && a && a->applied) {
          EXPECT_EQ(t.direct->authority.bound_transactions, t.direct->authority.doc->committed_transactions()) << label;
        }
      }
      EXPECT_EQ(outcome_text(a), outcome_text(b)) << label;
      // The direct road ran: it keeps the state's bound in step.
      if (collaborative && kind <= 4 && a && a->applied) {
        EXPECT_EQ(t.direct->authority.bound_transactions, t.direct->authority.doc->committed_transactions()) << label;
      }
      expect_twins_agree(t, label);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CellCommits, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Collaborative" : "Local"; });

// A batch the partial projection cannot read, or a write that might pass a
// limit, goes the scratch road; nothing is written straight then.
TEST(CellCommits, DeclineWhatTheyCannotShowBeforehand) {
  auto s = testing::open_session(book_bytes(), 5);
  const ops::SetCell set{model::SheetCell{model::CellValue::number(7), {}, std::nullopt},
                         model::CellAddress{0, model::CellRef{3, 3}}};
  const Bytes before = state_as_update(*s);
  struct Case {
    std::string label;
    std::vector<ops::WorkbookOp> ops;
    uint64_t max_bytes;
    uint64_t max_entries;
  };
  const std::vector<Case> cases = {
      {"not only cell writes", {set, ops::InsertSheet{1, "X"}}, kMaxCollaborationBytes, 65536},
      {"state at the byte limit", {set}, before.size() + 100, 65536},
      {"state vector at its limit", {set}, kMaxCollaborationBytes, 1},
  };
  for (const Case& c : cases) {
    auto written = collab::write_cells_as_undo_step(s->authority, c.ops, s->model.styles, c.max_bytes, c.max_entries);
    ASSERT_TRUE(written) << c.label;
    EXPECT_FALSE(written->has_value()) << c.label;
    EXPECT_EQ(state_as_update(*s), before) << c.label;
  }
  auto written = collab::write_cells_as_undo_step(s->authority, {set}, s->model.styles, kMaxCollaborationBytes, 65536);
  ASSERT_TRUE(written && written->has_value());
  EXPECT_NE(state_as_update(*s), before);
  EXPECT_LE(state_as_update(*s).size(), before.size() + (**written).update.size());
}

// Formats new to the catalog may move the style indices of formats it held,
// and so the styles of cells nobody wrote: the model is then what the whole
// projection gives.
TEST(CellCommits, NewFormatsGiveTheWholeProjection) {
  for (const std::string pattern : {"0.000", "mm/dd", "#,##0.0;[Red]-#,##0.0", "@"}) {
    SCOPED_TRACE(pattern);
    auto s = testing::open_session(book_bytes(), 5);
    ASSERT_TRUE(set_cell(*s, 0, model::CellRef{4, 3}, "7", std::nullopt));
    model::StyleSheet styles = s->model.styles;
    model::CellFormat format = model::resolve_cell_format(styles, 0);
    format.number_format = model::CustomPattern{pattern};
    auto style = model::intern_format_custom_numfmt(styles, format, pattern);
    ASSERT_TRUE(style);
    const ops::SetCell set{model::SheetCell{model::CellValue::number(3), {}, *style},
                           model::CellAddress{0, model::CellRef{5, 3}}};
    auto committed = commit_cells_in_place(*s, {set}, styles);
    ASSERT_TRUE(committed) << engine_error_display(committed.error());
    ASSERT_TRUE(committed->has_value());
    auto whole = collab::decode_document(s->authority, false);
    ASSERT_TRUE(whole) << whole.error();
    EXPECT_TRUE(model::stylesheet_eq(s->model.styles, whole->model.styles));
    for (size_t i = 0; i < whole->model.sheets.size(); ++i) {
      for (const auto& [key, cell] : whole->model.sheets[i].cells) {
        const model::SheetCell& live = s->model.sheets[i].cells.at(key);
        EXPECT_EQ(live.style, cell.style) << model::format_cell_ref({key.row, key.col});
        if (!cell.formula) {
          EXPECT_EQ(live.value, cell.value) << model::format_cell_ref({key.row, key.col});
        }
      }
    }
    expect_partial_projection_matches(*s);
  }
}

// Near the size limit the direct road stands aside and the scratch replica
// refuses exactly as before: an edit that would take the whole state past
// 67,108,864 bytes fails and changes nothing; one that stays below applies.
TEST(CellCommits, TheStateLimitStillRefusesExactly) {
  constexpr size_t kLong = 30000;
  // `cells` texts of kLong characters, then one of each length in `extra`.
  auto open_with = [&](size_t cells, const std::vector<size_t>& extra) {
    std::string xml = "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) + "\"><sheetData>";
    for (size_t row = 1; row <= cells + extra.size(); ++row) {
      xml += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\" t=\"inlineStr\"><is><t>" +
             std::string(row > cells ? extra[row - cells - 1] : kLong, 'x') + "</t></is></c></row>";
    }
    auto pkg = testing::named_sheets({"Data"});
    pkg.set("xl/worksheets/sheet1.xml", xml + "</sheetData></worksheet>");
    return testing::open_session(zip(pkg), 5);
  };
  // Aim 10,000 bytes below the limit (opening checks a payload a little
  // larger than the state): estimate from two small workbooks, then let two
  // texts of 16,384 to 32,767 characters (whose length fields keep their
  // size) take up what the estimate missed.
  const size_t small = state_as_update(*open_with(100, {})).size();
  const size_t per_cell = (state_as_update(*open_with(200, {})).size() - small) / 100;
  const size_t target = kMaxCollaborationBytes - 10000;
  size_t cells = (target - small - 40000) / per_cell + 100;
  std::vector<size_t> extra = {20000, 20000};
  std::unique_ptr<WorkbookSession> s;
  size_t size = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    s = open_with(cells, extra);
    size = state_as_update(*s).size();
    if (size + 500 >= target && size <= target + 500) break;
    int64_t total = static_cast<int64_t>(extra[0] + extra[1]) + static_cast<int64_t>(target) - static_cast<int64_t>(size);
    if (total < 2 * 16384 + 1000) {
      --cells;
      total += static_cast<int64_t>(per_cell);
    } else if (total > 2 * 32767 - 1000) {
      ++cells;
      total -= static_cast<int64_t>(per_cell);
    }
    extra = {static_cast<size_t>(total / 2), static_cast<size_t>(total - total / 2)};
  }
  ASSERT_LE(size, kMaxCollaborationBytes - 9500);
  ASSERT_GE(size, kMaxCollaborationBytes - 10500);

  const Bytes before = state_as_update(*s);
  auto refused = set_cell(*s, 0, model::CellRef{0, 2}, std::string(12000, 'y'), std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, EngineErrorKind::CollaborationDataTooLarge);
  EXPECT_GT(refused.error().n0, kMaxCollaborationBytes);
  EXPECT_EQ(refused.error().n1, kMaxCollaborationBytes);
  EXPECT_EQ(state_as_update(*s), before);
  EXPECT_FALSE(s->model.sheets[0].cells.contains({0, 2}));

  // Within the limit but too close for the bound: the scratch replica applies it.
  const size_t room = kMaxCollaborationBytes - size;
  auto close = set_cell(*s, 0, model::CellRef{0, 2}, std::string(room - 200, 'y'), std::nullopt);
  ASSERT_TRUE(close) << engine_error_display(close.error());
  EXPECT_TRUE(close->applied);
  EXPECT_LE(state_as_update(*s).size(), kMaxCollaborationBytes);
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 2}).value, model::CellValue::text(std::string(room - 200, 'y')));
  expect_partial_projection_matches(*s);

  // A short edit far enough below goes straight in.
  const size_t settled = state_as_update(*s).size();
  auto small_edit = set_cell(*s, 0, model::CellRef{1, 2}, "1", std::nullopt);
  ASSERT_TRUE(small_edit && small_edit->applied);
  EXPECT_LE(state_as_update(*s).size(), kMaxCollaborationBytes);
  (void)settled;
  expect_partial_projection_matches(*s);
}

// Real workbooks: the partial projection of every cell is the whole one's,
// and a few cell edits written straight in leave the replica exactly as the
// scratch replica does (a sample of every 10th file; CMX_FULL_CORPUS=1 takes
// every file).
TEST(CellCommits, CorpusWorkbooksAgreeWithTheScratchReplica) {
  size_t compared = 0;
  for (const auto& path : cmx::testing::corpus_sample(10)) {
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = cmx::testing::file_bytes(path);
    auto direct = bootstrap_session(bytes, true, 5);
    if (!direct) continue;  // refusals are the opening tests' business
    auto scratch = bootstrap_session(bytes, true, 5);
    ASSERT_TRUE(scratch);
    Twins t{std::move(*direct), std::move(*scratch), {}, {}};
    expect_partial_projection_matches(*t.direct);
    for (uint32_t sheet = 0; sheet < t.direct->model.sheets.size(); ++sheet) {
      if (!check_editable_worksheet(*t.direct, sheet)) continue;
      // A far cell, the first stored one, and one below the last.
      std::vector<CellEdit> edits = {{model::CellRef{2000, 30}, "=1+2"}};
      const model::CellMap& cells = t.direct->model.sheets[sheet].cells;
      if (!cells.empty()) {
        edits.push_back({model::CellRef{cells.begin()->first.row, cells.begin()->first.col}, "41"});
        const model::CellKey last = cells.rbegin()->first;
        edits.push_back({model::CellRef{std::min(last.row + 1, model::MAX_ROWS - 1), last.col}, "text"});
      }
      for (const CellEdit& edit : edits) {
        auto a = set_cell(*t.direct, sheet, edit.cell, edit.text, std::nullopt);
        auto b = scratch_set_many(*t.scratch, sheet, {edit});
        EXPECT_EQ(outcome_text(a), outcome_text(b));
        // It went straight in: the state's bound is still in force.
        if (a && a->applied) {
          EXPECT_EQ(t.direct->authority.bound_transactions, t.direct->authority.doc->committed_transactions());
        }
      }
      auto a = set_many_cells(*t.direct, sheet, edits, std::nullopt);
      auto b = scratch_set_many(*t.scratch, sheet, edits);
      EXPECT_EQ(outcome_text(a), outcome_text(b));
    }
    expect_twins_agree(t, "after the edits");
    ++compared;
    if (::testing::Test::HasFailure()) return;
  }
  std::cout << "compared " << compared << " corpus workbooks\n";
}

}  // namespace
}  // namespace cmx::session
