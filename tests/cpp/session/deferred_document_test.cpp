// A workbook opened without a client id computes its model from the workbook
// itself and builds its document only when something needs it. Both must be
// exactly what the round trip through the bootstrap document gives: the
// projection computed in place against the round trip on small workbooks
// that reach every rule, and whole sessions opened both ways over the shared
// corpus (models, errors, saves, document bytes, an edit and its undo).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "collab/base_fingerprint.h"
#include "collab/bootstrap_blocks.h"
#include "collab/bootstrap_projection.h"
#include "collab/document_support.h"
#include "collab/hydration.h"
#include "corpus_files.h"
#include "session/collab_state.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/save.h"
#include "session/set_cells.h"
#include "session/undo_redo.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using collab::testing::model_difference;
using model::CellValue;

// The projection of the whole round trip, with the array ranges that opening
// carries over; the error text when the document refuses the workbook.
Result<model::WorkbookModel, std::string> round_trip(const model::WorkbookModel& book) {
  auto opened = collab::open_replica(book, {}, std::nullopt, std::nullopt);
  if (!opened) return unexpected(opened.error().text);
  model::WorkbookModel projected = std::move(opened->projection.model);
  copy_sheets_for_staging(book.sheets, projected.sheets);
  return projected;
}

model::SheetCell cell(CellValue value, std::optional<std::string> formula = std::nullopt,
                      std::optional<uint32_t> style = std::nullopt) {
  model::SheetCell out{std::move(value), {}, style};
  if (formula) out.formula = SharedString(*formula);
  return out;
}

model::SheetChart chart(std::string drawing, uint64_t index, uint32_t from_row) {
  model::SheetChart c;
  c.part = "xl/charts/chart1.xml";
  c.drawing = std::move(drawing);
  c.anchor_index = index;
  c.anchor = model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {1, 0, from_row, 0}, {4, 0, from_row + 5, 0}};
  c.refs = {{model::ChartReferenceKind::Values, "Data!$A$1:$A$3"}};
  return c;
}

// Three formats, the third equal to the second once resolved.
model::WorkbookModel styled_book() {
  model::WorkbookModel book;
  book.styles.fonts = {model::Font{}, model::Font{}};
  book.styles.fonts[1].italic = true;
  book.styles.fills = {model::NoFill{}};
  book.styles.borders = {model::Border{}};
  book.styles.cell_xfs = {model::CellXf{0, 0, 0, 0, std::nullopt}, model::CellXf{1, 0, 0, 0, std::nullopt},
                          model::CellXf{1, 0, 0, 0, std::nullopt}};
  model::SheetModel sheet;
  sheet.name = "Data";
  book.sheets.push_back(std::move(sheet));
  return book;
}

model::CellMap& cells_of(model::WorkbookModel& book, size_t sheet = 0) { return book.sheets[sheet].cells; }

struct Case {
  std::string name;
  std::function<model::WorkbookModel()> make;
  bool computed;  // false: the round trip must be taken (and refuses this one)
};

std::vector<Case> cases() {
  const double inf = std::numeric_limits<double>::infinity();
  return {
      {"empty sheet", [] { return styled_book(); }, true},
      {"styled empty cells, duplicate formats and records without anything",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue(), std::nullopt, 2);
         cells_of(book)[{0, 1}] = cell(CellValue::number(1), std::nullopt, 2);
         cells_of(book)[{0, 2}] = cell(CellValue(), std::nullopt, 0);
         cells_of(book)[{3, 3}] = cell(CellValue());  // never written, dropped
         return book;
       },
       true},
      {"values of every kind, negative zero and non-BMP text",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue::number(-0.0));
         cells_of(book)[{0, 1}] = cell(CellValue::number(0.1));
         cells_of(book)[{0, 2}] = cell(CellValue::number(1e300));
         cells_of(book)[{1, 0}] = cell(CellValue::text("\xF0\x9F\x98\x80 emoji \xF0\x90\x8D\x88"));
         cells_of(book)[{1, 1}] = cell(CellValue::boolean(false));
         cells_of(book)[{1, 2}] = cell(CellValue::error(model::CellErrorCode::Calc));
         cells_of(book)[{1048575, 16383}] = cell(CellValue::text(""));
         return book;
       },
       true},
      {"shared formulas, array formulas and cached results",
       [] {
         model::WorkbookModel book = styled_book();
         model::SheetModel& sheet = book.sheets[0];
         for (uint32_t row = 0; row < 4; ++row) {
           sheet.cells[{row, 1}] = cell(CellValue::number(row), "A" + std::to_string(row + 1) + "*2", 1);
         }
         sheet.cells[{5, 0}] = cell(CellValue(), "SUM(A1:A4)");
         sheet.cells[{6, 0}] = cell(CellValue::number(1), "{1,2}");
         sheet.array_ranges[{6, 0}] = model::CellRange{{6, 0, false, false}, {6, 1, false, false}};
         // An anchor without its formula loses its range.
         sheet.cells[{8, 0}] = cell(CellValue::number(3));
         sheet.array_ranges[{8, 0}] = model::CellRange{{8, 0, false, false}, {9, 0, false, false}};
         sheet.array_ranges[{12, 0}] = model::CellRange{{12, 0, false, false}, {12, 2, false, false}};
         return book;
       },
       true},
      {"many sheets sharing one chart, panes, widths, merges, hyperlinks",
       [] {
         model::WorkbookModel book = styled_book();
         book.sheets.clear();
         for (uint32_t i = 0; i < 120; ++i) {
           model::SheetModel sheet;
           sheet.name = "S" + std::to_string(i);
           sheet.cells[{i, 0}] = cell(CellValue::number(i), std::nullopt, i % 3);
           sheet.col_widths = {{0, 8.5}, {16383, 0.0}};
           sheet.row_heights = {{1048575, 30.0}};
           sheet.merges = {model::CellRange{{1, 1, false, true}, {2, 2, true, false}}};
           sheet.freeze_pane = model::FreezePane{2, 1, {2, 1, false, false}};
           sheet.hyperlinks = {model::SheetHyperlink{{{0, 0, false, false}, {0, 0, false, false}}, std::nullopt,
                                                     "S0!A1", "tip \xE2\x82\xAC", std::nullopt}};
           sheet.charts = {chart("xl/drawings/drawing1.xml", 0, i)};
           sheet.column_styles = {model::ColumnStyle{0, 3, 1}};
           sheet.default_row_height = 12.0;
           book.sheets.push_back(std::move(sheet));
         }
         return book;
       },
       true},
      {"a style sheet without cell formats and no styled cell",
       [] {
         model::WorkbookModel book = styled_book();
         book.styles.cell_xfs.clear();
         cells_of(book)[{0, 0}] = cell(CellValue::number(1));
         return book;
       },
       true},
      {"style index 0 without cell formats",
       [] {
         model::WorkbookModel book = styled_book();
         book.styles.cell_xfs.clear();
         cells_of(book)[{0, 0}] = cell(CellValue::number(1), std::nullopt, 0);
         return book;
       },
       false},
      {"style index out of range",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue(), std::nullopt, 3);
         return book;
       },
       false},
      {"infinite number",
       [inf] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue::number(-inf));
         return book;
       },
       false},
      {"NaN cached result",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue::number(std::nan("")), "1/0");
         return book;
       },
       false},
      {"text that is not UTF-8",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue::text("\xED\xA0\x80"));
         return book;
       },
       false},
      {"formula that is not UTF-8",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{0, 0}] = cell(CellValue(), "\"\xC3\"");
         return book;
       },
       false},
      {"sheet name that is not UTF-8",
       [] {
         model::WorkbookModel book = styled_book();
         book.sheets[0].name = "\xFF";
         return book;
       },
       false},
      {"cell key out of bounds",
       [] {
         model::WorkbookModel book = styled_book();
         cells_of(book)[{1048576, 0}] = cell(CellValue::number(1));
         return book;
       },
       false},
      {"column width key out of bounds",
       [] {
         model::WorkbookModel book = styled_book();
         book.sheets[0].col_widths = {{16384, 3.0}};
         return book;
       },
       false},
      {"infinite row height",
       [inf] {
         model::WorkbookModel book = styled_book();
         book.sheets[0].row_heights = {{3, inf}};
         return book;
       },
       false},
      {"freeze pane out of bounds",
       [] {
         model::WorkbookModel book = styled_book();
         book.sheets[0].freeze_pane = model::FreezePane{1, 16385, {1, 0, false, false}};
         return book;
       },
       false},
      {"cell format whose colour does not read back",
       [] {
         model::WorkbookModel book = styled_book();
         book.styles.fills.push_back(model::SolidFill{model::RgbColor{"#FF0000"}});
         book.styles.cell_xfs.push_back(model::CellXf{0, 1, 0, 0, std::nullopt});
         return book;
       },
       false},
  };
}

TEST(DeferredDocument, ProjectionInPlaceIsTheRoundTrip) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const model::WorkbookModel book = c.make();
    model::WorkbookModel in_place = book;
    const bool computed = collab::project_bootstrap_in_place(in_place);
    auto expected = round_trip(book);
    EXPECT_EQ(computed, c.computed);
    if (!computed) {
      // Left as it was, bit for bit (a NaN included), for the round trip to
      // report its error.
      EXPECT_EQ(collab::compute_base_fingerprint(in_place, 6, true, true).value(),
                collab::compute_base_fingerprint(book, 6, true, true).value());
      EXPECT_FALSE(expected.has_value());
      continue;
    }
    ASSERT_TRUE(expected.has_value()) << expected.error();
    EXPECT_EQ(model_difference(in_place, *expected), "");
  }
}

// The replica hydrated straight from the workbook holds exactly what the
// replayed encoded bootstrap holds, and refuses exactly what it refuses.
TEST(DeferredDocument, DirectHydrationIsTheEncodedReplay) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const model::WorkbookModel book = c.make();
    auto base = collab::build_authored_base(book, {}, std::nullopt);
    ASSERT_TRUE(base) << base.error();
    auto direct = crdt::Doc::create(99).value();
    const bool direct_ok = collab::hydrate_bootstrap(*direct, book, *base);
    auto replayed = crdt::Doc::create(99).value();
    bool replayed_ok = false;
    if (auto bootstrap = collab::build_bootstrap_document(book, *base)) {
      replayed_ok = collab::hydrate_from_update(*replayed, collab::encode_document_state(**bootstrap)).has_value();
    }
    EXPECT_EQ(direct_ok, replayed_ok);
    if (c.computed) {
      EXPECT_TRUE(direct_ok);
    }
    if (direct_ok && replayed_ok) {
      EXPECT_TRUE(direct->encode_state_as_update() == replayed->encode_state_as_update());
      EXPECT_EQ(direct->state_vector(), replayed->state_vector());
      EXPECT_EQ(direct->roots().size(), replayed->roots().size());
    }
  }
}

std::string testing_package() { return testing::zip(testing::named_sheets({"Data", "More"})); }

std::string display(const EngineError& error) {
  return std::string(engine_error_kind_name(error.kind)) + ": " + engine_error_display(error);
}

// The same call on both sessions: equal errors, or equal reports.
template <typename F>
void same_outcome(WorkbookSession& lazy, WorkbookSession& eager, F&& call) {
  auto a = call(lazy);
  auto b = call(eager);
  ASSERT_EQ(a.has_value(), b.has_value());
  if (!a) {
    EXPECT_EQ(display(a.error()), display(b.error()));
    return;
  }
  EXPECT_EQ(a->applied, b->applied);
  EXPECT_EQ(a->changed, b->changed);
  EXPECT_EQ(a->cycles, b->cycles);
}

constexpr uint64_t kPeer = 4242;

TEST(DeferredDocument, CorpusOpensAlikeBothWays) {
  const auto files = cmx::testing::corpus_sample(1);
  if (files.empty()) GTEST_SKIP() << "no corpus";
  uint64_t opened = 0;
  uint64_t refused = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = cmx::testing::file_bytes(path);
    auto lazy_opened = bootstrap_session(bytes, true, std::nullopt, DocumentTiming::kDeferred);
    auto eager_opened = bootstrap_session(bytes, true, std::nullopt, DocumentTiming::kEager);
    ASSERT_EQ(lazy_opened.has_value(), eager_opened.has_value());
    if (!lazy_opened) {
      ++refused;
      EXPECT_EQ(display(lazy_opened.error()), display(eager_opened.error()));
      continue;
    }
    ++opened;
    WorkbookSession& lazy = *lazy_opened.value();
    WorkbookSession& eager = *eager_opened.value();
    EXPECT_EQ(model_difference(lazy.model, eager.model), "");
    const model::WorkbookModel lazy_start = clone_workbook_model(lazy.model);
    EXPECT_EQ(lazy.pinned_charts, eager.pinned_charts);
    EXPECT_EQ(lazy.active_sheet, eager.active_sheet);

    // Reading and saving need no document.
    auto lazy_saved = save_workbook(lazy);
    auto eager_saved = save_workbook(eager);
    ASSERT_EQ(lazy_saved.has_value(), eager_saved.has_value());
    if (lazy_saved) {
      EXPECT_TRUE(*lazy_saved == *eager_saved);
    } else {
      EXPECT_EQ(display(lazy_saved.error()), display(eager_saved.error()));
    }
    EXPECT_EQ(lazy.authority.doc, nullptr);

    // Under the eager session's replica id, so that what the replicas write
    // compares byte for byte.
    lazy.deferred->replica_client_id = client_id(eager);
    EXPECT_TRUE(state_as_update(lazy) == state_as_update(eager));
    ASSERT_NE(lazy.authority.doc, nullptr);
    EXPECT_EQ(state_vector(lazy), state_vector(eager));
    EXPECT_EQ(lazy.authority.base->base_fingerprint, eager.authority.base->base_fingerprint);
    EXPECT_EQ(lazy.authority.base->accepted_fingerprints, eager.authority.base->accepted_fingerprints);
    EXPECT_EQ(client_id(lazy), client_id(eager));

    same_outcome(lazy, eager, [](WorkbookSession& s) { return set_cell(s, 0, {0, 0, false, false}, "42", 0.0); });
    EXPECT_EQ(model_difference(lazy.model, eager.model), "");
    EXPECT_TRUE(state_as_update(lazy) == state_as_update(eager));
    same_outcome(lazy, eager, [](WorkbookSession& s) { return undo_redo(s, UndoDirection::Undo, 0.0); });
    EXPECT_EQ(model_difference(lazy.model, eager.model), "");
    EXPECT_TRUE(state_as_update(lazy) == state_as_update(eager));

    // Collaborative: hydrated straight from the workbook, or replayed.
    auto direct_opened = bootstrap_session(bytes, true, kPeer, DocumentTiming::kDeferred);
    auto replayed_opened = bootstrap_session(bytes, true, kPeer, DocumentTiming::kEager);
    ASSERT_EQ(direct_opened.has_value(), replayed_opened.has_value());
    if (!direct_opened) {
      EXPECT_EQ(display(direct_opened.error()), display(replayed_opened.error()));
      continue;
    }
    WorkbookSession& direct = *direct_opened.value();
    WorkbookSession& replayed = *replayed_opened.value();
    EXPECT_EQ(model_difference(direct.model, replayed.model), "");
    EXPECT_EQ(model_difference(direct.model, lazy_start), "");
    ASSERT_TRUE(direct.replica && replayed.replica);
    EXPECT_TRUE(collab::replica_state_eq(*direct.replica, *replayed.replica));
    EXPECT_TRUE(state_as_update(direct) == state_as_update(replayed));
    same_outcome(direct, replayed, [](WorkbookSession& s) { return set_cell(s, 0, {0, 0, false, false}, "42", 0.0); });
    EXPECT_TRUE(state_as_update(direct) == state_as_update(replayed));
  }
  std::cout << "opened " << opened << " both ways, refused " << refused << " alike, of " << files.size() << "\n";
}

TEST(DeferredDocument, FirstEditBuildsTheDocument) {
  const std::string bytes = testing_package();
  auto opened = bootstrap_session(bytes, true, std::nullopt);
  ASSERT_TRUE(opened);
  WorkbookSession& s = *opened.value();
  EXPECT_EQ(s.authority.doc, nullptr);
  auto edited = set_cell(s, 0, {1, 1, false, false}, "7", 0.0);
  ASSERT_TRUE(edited) << display(edited.error());
  ASSERT_NE(s.authority.doc, nullptr);
  EXPECT_NE(client_id(s), s.authority.base->bootstrap_client_id);
}

TEST(DeferredDocument, SharedReadersBuildOneDocument) {
  const std::string bytes = testing_package();
  auto opened = bootstrap_session(bytes, true, std::nullopt);
  ASSERT_TRUE(opened);
  const WorkbookSession& s = *opened.value();
  std::vector<std::vector<uint8_t>> states(4);
  std::vector<std::thread> readers;
  for (auto& state : states) readers.emplace_back([&s, &state] { state = state_as_update(s); });
  for (std::thread& reader : readers) reader.join();
  for (const auto& state : states) EXPECT_EQ(state, states[0]);
  EXPECT_FALSE(states[0].empty());
}

}  // namespace
}  // namespace cmx::session
