// Setting cells: what applies and what does not, the report, the histories,
// the document kept in step, and refusals that leave everything as it was.
#include <gtest/gtest.h>

#include "collab/projection.h"
#include "session/local_commit.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/set_cells.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::Package;
using testing::zip;

constexpr std::string_view kMainNs = reader::testing::kMainNs;

// Sheet1: A1 = 1, B1 = A1*2 (cached 2), C1 = B1+1 (cached 3), A2 = 5.
std::string formula_package() {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + std::string(kMainNs) +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c>"
              "<c r=\"C1\"><f>B1+1</f><v>3</v></c></row><row r=\"2\"><c r=\"A2\"><v>5</v></c></row>"
              "</sheetData></worksheet>");
  return zip(pkg);
}

std::unique_ptr<WorkbookSession> open(const std::string& bytes, std::optional<uint64_t> client = std::nullopt) {
  return testing::open_session(bytes, client);
}

model::CellRef ref(std::string_view a1) { return model::parse_cell_ref(a1).value(); }

std::vector<std::string> texts(const std::vector<model::CellAddress>& cells) {
  std::vector<std::string> out;
  for (const model::CellAddress& cell : cells) out.push_back(model::format_cell_ref(cell.cell));
  return out;
}

// The session's document, built first when opening deferred it.
const crdt::Doc& document_of(const WorkbookSession& s) {
  ensure_document(s);
  return *s.authority.doc;
}

// Everything a refused edit must leave alone.
struct Snapshot {
  model::WorkbookModel model;
  std::vector<uint8_t> state_vector;
  size_t undo = 0;
  size_t redo = 0;
  size_t source_undo = 0;
  uint64_t revision = 0;
  size_t last_changed = 0;

  explicit Snapshot(const WorkbookSession& s)
      : model(clone_workbook_model(s.model)),
        state_vector(document_of(s).encode_state_vector()),
        undo(s.local_history.undo_stack.size()),
        redo(s.local_history.redo_stack.size()),
        source_undo(s.source_undo.size()),
        revision(s.revision),
        last_changed(s.last_calculation.changed.size()) {}

  void expect_same(const WorkbookSession& s) const {
    EXPECT_TRUE(workbook_model_eq(model, s.model));
    EXPECT_EQ(state_vector, document_of(s).encode_state_vector());
    EXPECT_EQ(undo, s.local_history.undo_stack.size());
    EXPECT_EQ(redo, s.local_history.redo_stack.size());
    EXPECT_EQ(source_undo, s.source_undo.size());
    EXPECT_EQ(revision, s.revision);
    EXPECT_EQ(last_changed, s.last_calculation.changed.size());
  }
};

// The document, projected, holds the same cells as the model.
void expect_document_matches(const WorkbookSession& s) {
  ensure_document(s);
  auto projected = collab::decode_document(s.authority, false);
  ASSERT_TRUE(projected) << projected.error();
  ASSERT_EQ(projected->model.sheets.size(), s.model.sheets.size());
  for (size_t i = 0; i < s.model.sheets.size(); ++i) {
    const model::CellMap& live = s.model.sheets[i].cells;
    const model::CellMap& doc = projected->model.sheets[i].cells;
    ASSERT_EQ(doc.size(), live.size());
    for (const auto& [key, cell] : live) {
      const auto found = doc.find(key);
      ASSERT_NE(found, doc.end());
      EXPECT_EQ(found->second.formula, cell.formula);
      if (!cell.formula) {
        EXPECT_EQ(found->second.value, cell.value);
      }
    }
  }
}

TEST(SetCell, AppliesOnceThenReportsNothing) {
  auto s = open(formula_package());
  std::vector<ChangeEvent> events;
  s->listeners->add([&](ChangeEvent e) { events.push_back(std::move(e)); });
  auto first = set_cell(*s, 0, ref("D4"), "5", std::nullopt);
  ASSERT_TRUE(first) << engine_error_display(first.error());
  EXPECT_TRUE(first->applied);
  EXPECT_EQ(s->revision, 1u);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].source, ChangeSource::Local);
  EXPECT_GT(events[0].update.size(), 2u);
  EXPECT_EQ(s->model.sheets[0].cells.at({3, 3}).value, model::CellValue::number(5));
  EXPECT_EQ(s->local_history.undo_stack.size(), 1u);
  EXPECT_EQ(s->source_undo.size(), 1u);
  EXPECT_TRUE(s->calculated);
  expect_document_matches(*s);

  const Snapshot before(*s);
  auto again = set_cell(*s, 0, ref("D4"), "5", std::nullopt);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->applied);
  EXPECT_TRUE(again->changed.empty() && again->cycles.empty() && again->limited.empty());
  before.expect_same(*s);
  EXPECT_EQ(events.size(), 1u);
}

TEST(SetCell, ReportsDependentsButNotTheEditedCell) {
  auto s = open(formula_package());
  auto report = set_cell(*s, 0, ref("A1"), "10", std::nullopt);
  ASSERT_TRUE(report) << engine_error_display(report.error());
  EXPECT_EQ(texts(report->changed), (std::vector<std::string>{"B1", "C1"}));
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 1}).value, model::CellValue::number(20));
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 2}).value, model::CellValue::number(21));

  // A retyped formula applies (its typed value is Empty) and is recalculated;
  // the report leaves it out while the last calculation keeps it.
  auto retyped = set_cell(*s, 0, ref("B1"), "=A1*2", std::nullopt);
  ASSERT_TRUE(retyped);
  EXPECT_TRUE(retyped->applied);
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 1}).value, model::CellValue::number(20));
  EXPECT_EQ(texts(s->last_calculation.changed), (std::vector<std::string>{"B1"}));
  EXPECT_TRUE(retyped->changed.empty());

  // A new formula over a range is registered and recalculated at once.
  auto sum = set_cell(*s, 0, ref("E1"), "=SUM(A1:A2)", std::nullopt);
  ASSERT_TRUE(sum);
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 4}).value, model::CellValue::number(15));
  auto feed = set_cell(*s, 0, ref("A2"), "7", std::nullopt);
  ASSERT_TRUE(feed);
  EXPECT_EQ(texts(feed->changed), (std::vector<std::string>{"E1"}));
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 4}).value, model::CellValue::number(17));
  expect_document_matches(*s);
}

TEST(SetCell, ClearingAPlainCellRemovesIt) {
  auto s = open(formula_package());
  ASSERT_TRUE(set_cell(*s, 0, ref("A2"), "", std::nullopt));
  EXPECT_FALSE(s->model.sheets[0].cells.contains({1, 0}));
  expect_document_matches(*s);
}

TEST(SetCell, RefusalsLeaveEverythingAsItWas) {
  auto s = open(formula_package());
  ASSERT_TRUE(set_cell(*s, 0, ref("A1"), "3", std::nullopt));
  struct Case {
    std::string name;
    uint32_t sheet;
    model::CellRef cell;
    std::string text;
    EngineErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {"sheet past the end", 1, ref("A1"), "1", EngineErrorKind::SheetOutOfRange, "sheet 1 out of range"},
      {"row past the grid", 0, model::CellRef{model::MAX_ROWS, 0}, "1", EngineErrorKind::CellOutOfRange, ""},
      {"column past the grid", 0, model::CellRef{0, model::MAX_COLS}, "1", EngineErrorKind::CellOutOfRange, ""},
      {"text too long", 0, ref("A1"), std::string(32768, 'x'), EngineErrorKind::InvalidOperation,
       "cell text exceeds the 32,767-character length limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Snapshot before(*s);
    auto refused = set_cell(*s, c.sheet, c.cell, c.text, std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, c.kind);
    if (!c.message.empty()) {
      EXPECT_EQ(engine_error_display(refused.error()), c.message);
    }
    before.expect_same(*s);
  }
}

TEST(SetCell, OnlyWorksheetsAreEditable) {
  Package pkg = Package::basic();
  pkg.set("xl/workbook.xml", reader::testing::workbook_part("<sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
                                                            "<sheet name=\"Chart\" sheetId=\"2\" r:id=\"rId2\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels",
          reader::testing::rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                      {"rId2", "chartsheet", "chartsheets/sheet1.xml", ""}}));
  pkg.set("xl/chartsheets/sheet1.xml", "<chartsheet xmlns=\"" + std::string(kMainNs) + "\"/>");
  auto s = open(zip(pkg));
  ASSERT_EQ(s->model.sheets.size(), 2u);
  const Snapshot before(*s);
  auto refused = set_cell(*s, 1, ref("A1"), "1", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(engine_error_display(refused.error()), "sheet 1 is not an editable worksheet");
  auto many = set_many_cells(*s, 1, {{ref("A1"), "1"}}, std::nullopt);
  ASSERT_FALSE(many);
  EXPECT_EQ(engine_error_display(many.error()), "sheet 1 is not an editable worksheet");
  // An empty list is answered before the sheet is looked at.
  auto empty = set_many_cells(*s, 1, {}, std::nullopt);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->applied);
  before.expect_same(*s);
  EXPECT_TRUE(set_cell(*s, 0, ref("A1"), "1", std::nullopt));
}

TEST(SetMany, OneUndoEntryForTheWholeList) {
  auto s = open(formula_package());
  std::vector<ChangeEvent> events;
  s->listeners->add([&](ChangeEvent e) { events.push_back(std::move(e)); });
  auto report = set_many_cells(*s, 0, {{ref("A1"), "1"}, {ref("A1"), "2"}, {ref("D1"), "=A1+A2"}}, std::nullopt);
  ASSERT_TRUE(report) << engine_error_display(report.error());
  EXPECT_TRUE(report->applied);
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 0}).value, model::CellValue::number(2));
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 3}).value, model::CellValue::number(7));
  EXPECT_EQ(texts(report->changed), (std::vector<std::string>{"B1", "C1"}));
  EXPECT_EQ(s->revision, 1u);
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(s->local_history.undo_stack.size(), 1u);
  EXPECT_EQ(s->source_undo.size(), 1u);
  expect_document_matches(*s);

  // Applying the one entry restores A1 as it was before the call.
  model::WorkbookModel undone = clone_workbook_model(s->model);
  ASSERT_TRUE(ops::apply_batch(undone, s->local_history.undo_stack.back()));
  EXPECT_EQ(undone.sheets[0].cells.at({0, 0}).value, model::CellValue::number(1));
  EXPECT_FALSE(undone.sheets[0].cells.contains({0, 3}));
}

TEST(SetMany, WrittenAndWrittenBackAppliesNothing) {
  auto s = open(formula_package());
  const Snapshot before(*s);
  auto report = set_many_cells(*s, 0, {{ref("A2"), "x"}, {ref("A2"), "5"}}, std::nullopt);
  ASSERT_TRUE(report);
  EXPECT_FALSE(report->applied);
  before.expect_same(*s);
}

TEST(SetMany, ARefusalAnywhereAppliesNone) {
  auto s = open(formula_package());
  struct Case {
    std::string name;
    std::vector<CellEdit> edits;
    EngineErrorKind kind;
  };
  const Case cases[] = {
      {"last edit too long", {{ref("A1"), "7"}, {ref("D1"), "x"}, {ref("E1"), std::string(40000, 'y')}},
       EngineErrorKind::InvalidOperation},
      {"cell off the grid", {{ref("A1"), "7"}, {model::CellRef{0, model::MAX_COLS}, "1"}},
       EngineErrorKind::CellOutOfRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Snapshot before(*s);
    auto refused = set_many_cells(*s, 0, c.edits, std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, c.kind);
    before.expect_same(*s);
  }
  auto out_of_range = set_many_cells(*s, 3, {{ref("A1"), "1"}}, std::nullopt);
  ASSERT_FALSE(out_of_range);
  EXPECT_EQ(out_of_range.error().kind, EngineErrorKind::SheetOutOfRange);
}

TEST(SetCell, CollaborativeEditIsOneDocumentUndoStep) {
  auto s = open(formula_package(), 77);
  ASSERT_TRUE(s->collaborative());
  std::vector<ChangeEvent> events;
  s->listeners->add([&](ChangeEvent e) { events.push_back(std::move(e)); });
  auto one = set_cell(*s, 0, ref("A1"), "4", std::nullopt);
  ASSERT_TRUE(one) << engine_error_display(one.error());
  EXPECT_EQ(texts(one->changed), (std::vector<std::string>{"B1", "C1"}));
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 1}).value, model::CellValue::number(8));
  auto many = set_many_cells(*s, 0, {{ref("A2"), "6"}, {ref("B2"), "=A2*A1"}}, std::nullopt);
  ASSERT_TRUE(many) << engine_error_display(many.error());
  EXPECT_EQ(s->model.sheets[0].cells.at({1, 1}).value, model::CellValue::number(24));
  EXPECT_EQ(s->authority.saved_undo.size(), 2u);
  EXPECT_TRUE(s->local_history.undo_stack.empty());
  EXPECT_TRUE(s->source_undo.empty());
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(s->revision, 2u);
  expect_document_matches(*s);
}

TEST(LocalCommit, EmptyUpdateStillCountsARevision) {
  auto s = open(formula_package());
  int calls = 0;
  s->listeners->add([&](ChangeEvent) { ++calls; });
  finish_local_commit(*s, std::nullopt);
  EXPECT_EQ(s->revision, 1u);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(is_empty_update(std::vector<uint8_t>{0, 0}));
  EXPECT_FALSE(is_empty_update(std::vector<uint8_t>{0, 0, 0}));
}

}  // namespace
}  // namespace cmx::session
