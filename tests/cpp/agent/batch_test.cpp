// Agent batches on a collaborative workbook: the replica's sheet keys name
// the sheets in answers, validation leaves the document alone, an apply is one step of
// the document's undo manager (none when untracked) and the document keeps
// the committed cells. Also the cap of listed cells.
#include <gtest/gtest.h>

#include <string>

#include "agent/batch.h"
#include "agent/requests.h"
#include "collab/projection.h"
#include "crdt/doc.h"
#include "crdt/crdt.h"
#include "json/reader.h"
#include "session/open.h"
#include "session/session_test_util.h"

namespace cmx::agent {
namespace {

using session::testing::Package;

std::unique_ptr<WorkbookSession> collaborative() {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) +
              "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1*2</f><v>2</v></c></row>"
              "</sheetData></worksheet>");
  auto opened = session::bootstrap_session(session::testing::zip(pkg), true, 91);
  EXPECT_TRUE(opened);
  return std::move(opened).value();
}

json::JsonObject answer_of(const Result<std::string, EngineError>& text) {
  EXPECT_TRUE(text);
  auto value = json::parse_json_value(*text);
  EXPECT_TRUE(value);
  return value->as_object();
}

std::string edit(const WorkbookSession& s, const std::string& history, const std::string& value) {
  const std::string key = s.replica->sheet_keys[0];
  return "{\"expectVersion\":\"" + session::session_version(s) + "\",\"history\":\"" + history +
         "\",\"steps\":[{\"op\":\"setCellInputs\",\"target\":{\"sheetId\":\"" + key +
         "\",\"range\":{\"kind\":\"a1\",\"a1\":\"A1\"}},\"inputs\":[[\"" + value + "\"]]}]}";
}

TEST(AgentBatch, CollaborativeSheetKeysAndUndoSteps) {
  auto s = collaborative();
  ASSERT_TRUE(s->collaborative());
  const std::string key = s->replica->sheet_keys.at(0);

  const auto vector_before = s->authority.doc->encode_state_vector();
  auto preview = answer_of(run_validate_edits_request(*s, edit(*s, "separate", "4")));
  EXPECT_TRUE(preview.find("wouldApply")->as_bool());
  EXPECT_EQ(s->authority.doc->encode_state_vector(), vector_before);
  EXPECT_EQ(s->revision, 0u);

  auto applied = answer_of(run_apply_edits_request(*s, edit(*s, "separate", "4")));
  ASSERT_TRUE(applied.find("applied")->as_bool());
  EXPECT_EQ(applied.find("changedSheets")->as_array().at(0).as_string(), key);
  EXPECT_EQ(s->authority.saved_undo.size(), 1u);
  EXPECT_TRUE(s->local_history.undo_stack.empty());
  EXPECT_EQ(s->model.sheets[0].cells.at({0, 1}).value, model::CellValue::number(8));

  ASSERT_TRUE(answer_of(run_apply_edits_request(*s, edit(*s, "none", "5"))).find("applied")->as_bool());
  EXPECT_EQ(s->authority.saved_undo.size(), 1u);
  EXPECT_EQ(s->revision, 2u);

  auto projected = collab::decode_document(s->authority, false);
  ASSERT_TRUE(projected);
  EXPECT_EQ(projected->model.sheets[0].cells.at({0, 0}).value, model::CellValue::number(5));
}

TEST(AgentBatch, PendingUpdatesRefuseEveryBatch) {
  auto s = collaborative();
  // A peer's second item, received without its first, waits in the document.
  auto peer = crdt::Doc::create(5).value();
  crdt::ArrayRef list = peer->get_or_create_array("peer").value();
  {
    crdt::Transaction txn(*peer);
    ASSERT_TRUE(list.insert(txn, 0, {crdt::Any::string("a")}));
  }
  const auto first = peer->encode_state_vector();
  {
    crdt::Transaction txn(*peer);
    ASSERT_TRUE(list.insert(txn, 1, {crdt::Any::string("b")}));
  }
  auto second = peer->encode_diff(first);
  ASSERT_TRUE(second);
  ASSERT_TRUE(s->authority.doc->apply_update(*second, "xlsx:remote"));
  ASSERT_TRUE(s->authority.doc->has_pending());
  const uint64_t revision = s->revision;
  for (const auto& run : {run_validate_edits_request, run_apply_edits_request}) {
    auto answer = answer_of(run(*s, edit(*s, "separate", "4")));
    const json::JsonObject& failure = answer.find("failure")->as_object();
    EXPECT_EQ(failure.find("code")->as_string(), "unsupported");
    EXPECT_EQ(failure.find("message")->as_string(), "the workbook holds updates that are not integrated yet");
    EXPECT_EQ(failure.find("stepIndex"), nullptr);
  }
  EXPECT_EQ(s->revision, revision);
}

TEST(AgentTargets, ListedCellsStopAtTenThousand) {
  const SheetKeys keys{"k0"};
  for (const size_t count : {size_t{10000}, size_t{10001}}) {
    std::vector<model::CellAddress> cells;
    for (uint32_t i = 0; i < count; ++i) cells.push_back(model::CellAddress{0, model::CellRef{i, 0}});
    cells.push_back(model::CellAddress{3, model::CellRef{0, 0}});  // a sheet without a key is left out
    const auto [locations, cut] = cell_locations_capped(keys, std::span(cells).first(count));
    EXPECT_EQ(locations.size(), 10000u);
    EXPECT_EQ(cut, count > 10000);
    EXPECT_EQ(locations.back().a1, "A10000");
  }
  const std::vector<model::CellAddress> keyless{{3, {0, 0}}, {0, {1, 1}}};
  const auto [locations, cut] = cell_locations_capped(keys, keyless);
  ASSERT_EQ(locations.size(), 1u);
  EXPECT_EQ(locations[0].a1, "B2");
  EXPECT_FALSE(cut);
}

}  // namespace
}  // namespace cmx::agent
