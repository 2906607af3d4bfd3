// Merging peers' updates into a collaborative replica, and what a replica
// tells its peers. Updates come from a second replica of the same workbook
// whose document is edited directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "collab/layout.h"
#include "collab/local_operations.h"
#include "crdt/crdt.h"
#include "session/collab_state.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/remote_updates.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::zip;

// A1 = 1, B1 = A1*2 on "Data"; a second sheet "Notes".
std::string book_bytes() {
  auto pkg = testing::named_sheets({"Data", "Notes"});
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c></row>"
              "</sheetData></worksheet>");
  return zip(pkg);
}

std::unique_ptr<WorkbookSession> open_replica(std::optional<uint64_t> client) {
  auto opened = bootstrap_session(book_bytes(), true, client);
  EXPECT_TRUE(opened.has_value()) << (opened ? "" : engine_error_debug(opened.error()));
  return std::move(opened).value();
}

// The update of one cell edit written straight into `peer`'s document.
Bytes edit(WorkbookSession& peer, uint32_t sheet, uint32_t row, uint32_t col, double value) {
  ops::SetCell set{model::SheetCell{model::CellValue::number(value), {}, std::nullopt},
                   model::CellAddress{sheet, model::CellRef{row, col}}};
  auto update = collab::apply_local_operation(peer.authority, {set}, collab::LocalOrigin::kUser, peer.model.styles);
  EXPECT_TRUE(update.has_value() && update->has_value());
  return **update;
}

double number_at(const WorkbookSession& s, uint32_t sheet, uint32_t row, uint32_t col) {
  const auto& cells = s.model.sheets.at(sheet).cells;
  auto found = cells.find({row, col});
  return found == cells.end() || !found->second.value.is_number() ? -1 : found->second.value.as_number();
}

std::vector<std::string> texts(const std::vector<model::CellAddress>& cells) {
  std::vector<std::string> out;
  for (const auto& c : cells) out.push_back(std::to_string(c.sheet) + "!" + model::format_cell_ref(c.cell));
  return out;
}

TEST(RemoteUpdates, NonCollaborativeWorkbookRefusesEveryUpdate) {
  auto plain = open_replica(std::nullopt);
  for (const Bytes& update : {Bytes{}, Bytes{0, 0}, Bytes{0xff}}) {
    auto refused = apply_update(*plain, update, std::nullopt);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, EngineErrorKind::NotCollaborative);
  }
  EXPECT_FALSE(is_collaborative(*plain));
  EXPECT_LE(client_id(*plain), kMaxClientId);
}

TEST(RemoteUpdates, IntegratesRecalculatesAndIgnoresARepeat) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes update = edit(*sender, 0, 0, 0, 5);
  const std::string id = replica->version_id;

  auto report = apply_update(*replica, update, std::nullopt);
  ASSERT_TRUE(report.has_value()) << engine_error_debug(report.error());
  EXPECT_TRUE(report->applied);
  EXPECT_EQ(texts(report->changed), (std::vector<std::string>{"0!A1", "0!B1"}));
  EXPECT_EQ(number_at(*replica, 0, 0, 1), 10);
  EXPECT_EQ(version(*replica), id + "-1");

  auto again = apply_update(*replica, update, std::nullopt);
  ASSERT_TRUE(again.has_value());
  EXPECT_FALSE(again->applied);
  EXPECT_TRUE(again->changed.empty());
  EXPECT_EQ(version(*replica), id + "-1");
  EXPECT_EQ(state_vector(*replica), state_vector(*sender)) << "both hold the bootstrap and the one edit";
}

TEST(RemoteUpdates, QueuesAnUpdateUntilItsPredecessorArrives) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes first = edit(*sender, 0, 0, 0, 5);
  const Bytes second = edit(*sender, 1, 2, 2, 7);

  auto waiting = apply_update(*replica, second, std::nullopt);
  ASSERT_TRUE(waiting.has_value()) << engine_error_debug(waiting.error());
  EXPECT_FALSE(waiting->applied);
  ASSERT_EQ(replica->pending_updates.size(), 1u);
  // Re-sending it replaces its queued copy.
  ASSERT_TRUE(apply_update(*replica, second, std::nullopt).has_value());
  ASSERT_EQ(replica->pending_updates.size(), 1u);

  auto both = apply_update(*replica, first, std::nullopt);
  ASSERT_TRUE(both.has_value()) << engine_error_debug(both.error());
  EXPECT_TRUE(both->applied);
  EXPECT_EQ(texts(both->changed), (std::vector<std::string>{"0!A1", "0!B1", "1!C3"}));
  EXPECT_TRUE(replica->pending_updates.empty());
  EXPECT_EQ(state_vector(*replica), state_vector(*sender));
}

TEST(RemoteUpdates, AChainSentInReverseConvergesThroughTheQueue) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  std::vector<Bytes> chain;
  for (uint32_t i = 0; i < 48; ++i) chain.push_back(edit(*sender, 1, i, 0, i));
  for (size_t i = chain.size(); i-- > 1;) {
    auto queued = apply_update(*replica, chain[i], std::nullopt);
    ASSERT_TRUE(queued.has_value());
    EXPECT_FALSE(queued->applied);
  }
  EXPECT_EQ(replica->pending_updates.size(), chain.size() - 1);
  auto all = apply_update(*replica, chain[0], std::nullopt);
  ASSERT_TRUE(all.has_value()) << engine_error_debug(all.error());
  EXPECT_EQ(all->changed.size(), chain.size());
  EXPECT_TRUE(replica->pending_updates.empty());
  EXPECT_EQ(state_vector(*replica), state_vector(*sender));
  for (uint32_t i = 0; i < chain.size(); ++i) EXPECT_EQ(number_at(*replica, 1, i, 0), i);
}

TEST(RemoteUpdates, AQueuedUpdateThatFailsOnRetryIsReportedAndDropped) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes first = edit(*sender, 0, 0, 0, 5);
  // A cell value outside the layout, written after the first edit.
  Bytes broken;
  {
    crdt::Doc& doc = *sender->authority.doc;
    const uint64_t sub = doc.observe_after_transaction(
        [&](crdt::Doc& changed, const crdt::TransactionEvent& event) { broken = changed.encode_transaction_update(event); });
    {
      crdt::Transaction txn(doc, "test");
      crdt::MapRef sheets(doc.find_root(collab::kSheetsRoot));
      crdt::MapRef contents = sheets.get("sheet:0")->as_map().get(collab::kContentsKey)->as_map();
      ASSERT_TRUE(contents.set(txn, "3:3", crdt::Any::string("broken")).has_value());
    }
    doc.unobserve(sub);
  }
  auto queued = apply_update(*replica, broken, std::nullopt);
  ASSERT_TRUE(queued.has_value()) << engine_error_debug(queued.error());
  ASSERT_EQ(replica->pending_updates.size(), 1u);

  auto reported = apply_update(*replica, first, std::nullopt);
  ASSERT_FALSE(reported.has_value());
  EXPECT_EQ(reported.error().kind, EngineErrorKind::CollaborativeState);
  EXPECT_TRUE(replica->pending_updates.empty());
  // The predecessor's integration stays.
  EXPECT_EQ(number_at(*replica, 0, 0, 1), 10);
  EXPECT_EQ(replica->revision, 1u);
}

TEST(RemoteUpdates, RetriesFollowIntegrationsAndSkipUnreachableEntries) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes first = edit(*sender, 0, 0, 0, 5);
  ASSERT_TRUE(apply_update(*replica, first, std::nullopt).has_value());
  // Undecodable entries: one a retry would try (its client's first clock is
  // reached), one it cannot reach yet.
  replica->pending_updates.push_back(PendingUpdate{{1, 2, 3}, {{11, 0}}, false});
  replica->pending_updates.push_back(PendingUpdate{{4, 5, 6}, {{11, 500}}, false});

  // Nothing integrated: the queue was already tried against this state.
  auto repeat = apply_update(*replica, first, std::nullopt);
  ASSERT_TRUE(repeat.has_value());
  EXPECT_EQ(replica->pending_updates.size(), 2u);

  // An integration retries the reachable entry, drops it and reports why.
  auto next = apply_update(*replica, edit(*sender, 0, 4, 0, 3), std::nullopt);
  ASSERT_FALSE(next.has_value());
  EXPECT_EQ(next.error().kind, EngineErrorKind::InvalidUpdate);
  ASSERT_EQ(replica->pending_updates.size(), 1u);
  EXPECT_EQ(replica->pending_updates[0].bytes, (Bytes{4, 5, 6}));
  EXPECT_EQ(number_at(*replica, 0, 4, 0), 3) << "the integration stays";
}

TEST(RemoteUpdates, QueueLimitsRefuseOnlyWaitingUpdates) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes first = edit(*sender, 0, 0, 0, 5);
  const Bytes second = edit(*sender, 0, 1, 0, 6);
  // Entries no state reaches: a retry leaves them alone.
  replica->pending_updates.assign(kMaxPendingUpdates, PendingUpdate{{1, 2, 3}, {{999, 1000}}, false});

  auto refused = apply_update(*replica, second, std::nullopt);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), EngineError::with_numbers(EngineErrorKind::CollaborationPendingUpdatesTooMany, 4097, 4096));
  auto taken = apply_update(*replica, first, std::nullopt);
  ASSERT_TRUE(taken.has_value()) << engine_error_debug(taken.error());
  EXPECT_TRUE(taken->applied);
  EXPECT_EQ(replica->pending_updates.size(), kMaxPendingUpdates);

  replica->pending_updates.assign(1, PendingUpdate{Bytes(kMaxCollaborationBytes - 3, 0), {{999, 1000}}, false});
  auto too_much = apply_update(*replica, edit(*sender, 0, 3, 0, 1), std::nullopt);
  ASSERT_FALSE(too_much.has_value());
  EXPECT_EQ(too_much.error().kind, EngineErrorKind::CollaborationDataTooLarge);
}

TEST(RemoteUpdates, HostileUpdatesChangeNothing) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  const Bytes good = edit(*sender, 0, 0, 0, 5);
  struct Case {
    const char* name;
    Bytes update;
    EngineErrorKind kind;
  };
  std::vector<Case> cases = {
      {"empty", {}, EngineErrorKind::InvalidUpdate},
      {"truncated", Bytes(good.begin(), good.end() - 3), EngineErrorKind::InvalidUpdate},
      {"trailing", [&] { Bytes b = good; b.push_back(0); return b; }(), EngineErrorKind::InvalidUpdate},
      {"huge count", {0xff, 0xff, 0xff, 0xff, 0x0f}, EngineErrorKind::InvalidUpdate},
  };
  const Bytes sv = state_vector(*replica);
  const std::string before = version(*replica);
  for (const Case& c : cases) {
    auto refused = apply_update(*replica, c.update, std::nullopt);
    ASSERT_FALSE(refused.has_value()) << c.name;
    EXPECT_EQ(refused.error().kind, c.kind) << c.name;
    EXPECT_EQ(state_vector(*replica), sv) << c.name;
    EXPECT_EQ(version(*replica), before) << c.name;
    EXPECT_TRUE(replica->pending_updates.empty()) << c.name;
  }
}

TEST(RemoteUpdates, FrozenStructureChangesAreRefused) {
  auto sender = open_replica(11);
  auto replica = open_replica(22);
  auto renamed = collab::apply_local_operation(sender->authority, {ops::RenameSheet{1, "Other"}},
                                               collab::LocalOrigin::kUser, sender->model.styles);
  ASSERT_TRUE(renamed.has_value() && renamed->has_value());
  const Bytes sv = state_vector(*replica);
  auto refused = apply_update(*replica, **renamed, std::nullopt);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, EngineErrorKind::CollaborativeStructureChanged);
  EXPECT_EQ(state_vector(*replica), sv);
  EXPECT_EQ(replica->model.sheets[1].name, "Notes");
}

TEST(RemoteUpdates, ABootstrapReplicaAdoptsAPeersWholeDocument) {
  auto sender = open_replica(11);
  (void)edit(*sender, 0, 0, 0, 5);
  auto replica = open_replica(22);
  replica->proposals.push_back(nullptr);
  const std::string id = replica->version_id;
  std::vector<ChangeEvent> events;
  replica->listeners->add([&](ChangeEvent e) { events.push_back(std::move(e)); });

  auto adopted = apply_update(*replica, state_as_update(*sender), std::nullopt);
  ASSERT_TRUE(adopted.has_value()) << engine_error_debug(adopted.error());
  EXPECT_TRUE(adopted->applied);
  EXPECT_EQ(texts(adopted->changed), (std::vector<std::string>{"0!A1", "0!B1"}));
  EXPECT_NE(replica->version_id, id);
  EXPECT_EQ(replica->revision, 0u);
  EXPECT_TRUE(replica->proposals.empty());
  EXPECT_EQ(client_id(*replica), 22u);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].source, ChangeSource::Local);
  EXPECT_EQ(events[0].update, state_as_update(*replica));
  // The adopted replica then exchanges incrementally.
  auto next = apply_update(*replica, edit(*sender, 0, 0, 0, 6), std::nullopt);
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(number_at(*replica, 0, 0, 1), 12);
}

TEST(RemoteUpdates, ChartsMovedByAPeerMustKeepValidAnchors) {
  auto replica = open_replica(22);
  const model::TwoCellAnchor pinned{model::ChartAnchorEditMode::TwoCell, {0, 0, 8, 0}, {4, 0, 14, 0}};
  replica->pinned_charts["xl/drawings/drawing1.xml#0"] = pinned;
  auto with_anchor = [&](model::ChartAnchor anchor) {
    model::WorkbookModel candidate = clone_workbook_model(replica->model);
    model::SheetChart chart;
    chart.part = "xl/charts/chart1.xml";
    chart.drawing = "xl/drawings/drawing1.xml";
    chart.anchor = anchor;
    chart.refs = {{model::ChartReferenceKind::Values, "Data!$A$1:$A$4"}};
    candidate.sheets[0].charts.push_back(chart);
    return candidate;
  };
  struct Case {
    const char* name;
    model::ChartAnchor anchor;
    std::string error;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"pinned", pinned, ""},
      {"moved", model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {1, 0, 2, 0}, {5, 0, 9, 0}}, ""},
      {"inverted", model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {5, 0, 2, 0}, {1, 0, 9, 0}},
       "remote update repins xl/charts/chart1.xml: anchor corners are inverted or coincident"},
      {"coincident", model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {1, 7, 2, 0}, {1, 7, 9, 0}},
       "remote update repins xl/charts/chart1.xml: anchor corners are inverted or coincident"},
      {"far offset", model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {1, (int64_t{1} << 40) + 1, 2, 0}, {5, 0, 9, 0}},
       "remote update repins xl/charts/chart1.xml: anchor offset is out of range"},
      {"empty extent", model::OneCellAnchor{{1, 0, 2, 0}, {0, 10}},
       "remote update repins xl/charts/chart1.xml: anchor extent is not positive"},
  };
  for (const Case& c : cases) {
    auto checked = check_remote_repins(*replica, with_anchor(c.anchor));
    if (c.error.empty()) {
      EXPECT_TRUE(checked.has_value()) << c.name << ": " << engine_error_debug(checked.error());
    } else {
      ASSERT_FALSE(checked.has_value()) << c.name;
      EXPECT_EQ(checked.error(), EngineError::invalid_operation(c.error)) << c.name;
    }
  }
  replica->source_package.reset();
  auto unsourced = check_remote_repins(*replica, with_anchor(pinned));
  ASSERT_FALSE(unsourced.has_value());
  EXPECT_EQ(unsourced.error(), EngineError::invalid_operation(
                                   "charts can only be preserved from a source package, and this workbook has none"));
}

TEST(CollaborationState, StateVectorIsSortedAndGrowsWithEdits) {
  auto replica = open_replica(5);
  const Bytes fresh = state_vector(*replica);
  ASSERT_FALSE(fresh.empty());
  EXPECT_EQ(fresh[0], 1) << "only the bootstrap client";
  (void)edit(*replica, 0, 4, 4, 1);
  auto decoded = crdt::decode_state_vector(state_vector(*replica));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->size(), 2u);
  EXPECT_EQ(decoded->get(5), 1u);
  // Entries in ascending client order: the client ids read from the bytes.
  const Bytes sv = state_vector(*replica);
  crdt::Decoder reader(sv);
  ASSERT_EQ(reader.read_var_uint().value(), 2u);
  const uint64_t a = reader.read_var_uint().value();
  (void)reader.read_var_uint();
  const uint64_t b = reader.read_var_uint().value();
  EXPECT_LT(a, b);
}

TEST(CollaborationState, DiffChecksThePeersStateVector) {
  auto replica = open_replica(5);
  struct Case {
    const char* name;
    Bytes input;
    std::string text;
  };
  auto varint = [](uint64_t v) {
    Bytes out;
    for (; v >= 0x80; v >>= 7) out.push_back(static_cast<uint8_t>(v | 0x80));
    out.push_back(static_cast<uint8_t>(v));
    return out;
  };
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "state vector is empty"},
      {"truncated count", {0x80}, "invalid state vector entry count"},
      {"too many", join({varint(65537), Bytes(200000, 1)}), "state vector contains 65537 entries, exceeds the 65536-entry limit"},
      {"short payload", {0x02, 0x01, 0x01}, "state vector entry count exceeds its payload"},
      {"client too large", join({{1}, varint(uint64_t{1} << 53), {0}}), "client ID exceeds the 53-bit Yjs limit"},
      {"duplicate", {2, 7, 1, 7, 2}, "state vector contains a duplicate client"},
      {"clock too large", join({{1, 7}, varint(uint64_t{1} << 31)}), "clock exceeds the supported i32 range"},
      {"trailing", {1, 7, 1, 0}, "state vector contains trailing bytes"},
  };
  for (const Case& c : cases) {
    auto refused = diff(*replica, c.input);
    ASSERT_FALSE(refused.has_value()) << c.name;
    EXPECT_EQ(refused.error(), EngineError::with_text(EngineErrorKind::InvalidStateVector, c.text)) << c.name;
  }
  auto whole = diff(*replica, Bytes{0});
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(*whole, state_as_update(*replica));
  auto nothing = diff(*replica, state_vector(*replica));
  ASSERT_TRUE(nothing.has_value());
  auto decoded = crdt::decode_update(*nothing);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(decoded->clients.empty());
  // 65,536 entries pass the count checks.
  Bytes full = varint(65536);
  for (uint64_t client = 1; client <= 65536; ++client) {
    const Bytes id = varint(client);
    full.insert(full.end(), id.begin(), id.end());
    full.push_back(0);
  }
  EXPECT_TRUE(diff(*replica, full).has_value());
}

TEST(ChangedCells, ListsEveryStoredDifferenceInOrder) {
  model::SheetModel a, b;
  a.cells.insert_or_assign({0, 0}, model::SheetCell{model::CellValue::number(1), {}, {}});
  a.cells.insert_or_assign({0, 1}, model::SheetCell{model::CellValue::number(std::nan("")), {}, {}});
  a.cells.insert_or_assign({2, 0}, model::SheetCell{model::CellValue::text("x"), {}, 1});
  b = a;
  b.cells.insert_or_assign({2, 0}, model::SheetCell{model::CellValue::text("x"), {}, 2});
  b.cells.insert_or_assign({1, 5}, model::SheetCell{model::CellValue::boolean(true), {}, {}});
  model::SheetModel c;
  c.cells.insert_or_assign({0, 0}, model::SheetCell{model::CellValue::number(1), SharedString("1"), {}});
  EXPECT_EQ(texts(changed_cells_between({a, a}, {b, c})),
            (std::vector<std::string>{"0!B1", "0!F2", "0!A3", "1!A1", "1!B1", "1!A3"}));
  EXPECT_EQ(texts(changed_cells_between({a}, {})), (std::vector<std::string>{"0!A1", "0!B1", "0!A3"}));
}

}  // namespace
}  // namespace cmx::session
