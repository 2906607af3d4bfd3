// Answer records: receipts, the recalculation summary and refusals as value
// trees, their key order, and the compact receipt against its tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using testing::RandomRecords;

const RangeTarget kA1{"s", RangeAddressA1{"B2"}};

TEST(AnswerRecords, Refusals) {
  struct Case {
    std::string_view name;
    AgentRefusal refusal;
    std::string_view expected;
  };
  const Case cases[] = {
      {"code and message only", {"3-1", RefusalCode::StaleVersion, {}, {}, {}, "the workbook changed since the expected version"},
       R"({"failure":{"code":"stale-version","message":"the workbook changed since the expected version"},"version":"3-1"})"},
      {"colliding steps", {"v", RefusalCode::OverlappingSteps, 2, 0, {}, "step 2 writes what step 0 already writes in the same cells"},
       R"({"failure":{"code":"overlapping-steps","conflictingStepIndex":0,"message":"step 2 writes what step 0 already writes in the same cells","stepIndex":2},"version":"v"})"},
      {"with a target", {"v", RefusalCode::MissingTarget, 0, {}, kA1, "no sheet has the id s"},
       R"({"failure":{"code":"missing-target","message":"no sheet has the id s","stepIndex":0,"target":{"range":{"a1":"B2","kind":"a1"},"sheetId":"s"}},"version":"v"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JsonValue tree = refusal_to_json_value(c.refusal);
    tree.as_object().insert("ok", JsonValue(false));
    std::string expected(c.expected);
    expected.insert(expected.find(R"(,"version")"), R"(,"ok":false)");
    EXPECT_EQ(json_value_to_string(tree), expected);
  }
  const std::string_view texts[] = {"stale-version", "missing-target", "content-mismatch", "overlapping-steps",
                                    "locked-target", "unsupported",    "invalid-step",     "limit-exceeded"};
  for (size_t i = 0; i < kRefusalCodeCount; ++i) EXPECT_EQ(refusal_code_text(static_cast<RefusalCode>(i)), texts[i]);
}

TEST(AnswerRecords, ReceiptsAndCalculation) {
  JsonObject answer;
  StepReceipt unchanged{1, false, kA1, {}};
  StepReceipt changed{0, true, kA1, {make_cell_location("s", 1, 1)}};
  const StepReceipt receipts[] = {changed, unchanged};
  value_map_insert_receipts(answer, receipts);
  value_map_insert_calculation(answer, CalculationSummary{});
  EXPECT_EQ(json_value_to_string(JsonValue(answer)),
            R"({"calculation":{"changed":[],"cycleCells":[],"limitedCells":[],"truncated":false},)"
            R"("receipts":[{"changed":true,"changedCells":[{"a1":"B2","col":1,"row":1,"sheetId":"s"}],"stepIndex":0,)"
            R"("target":{"range":{"a1":"B2","kind":"a1"},"sheetId":"s"}},)"
            R"({"changed":false,"changedCells":[],"stepIndex":1,"target":{"range":{"a1":"B2","kind":"a1"},"sheetId":"s"}}]})");
  JsonObject summary;
  value_map_insert_calculation(summary, CalculationSummary{{make_cell_location("s", 0, 0)}, {}, {make_cell_location("t", 2, 27)}, true});
  EXPECT_EQ(json_value_to_string(JsonValue(summary)),
            R"({"calculation":{"changed":[{"a1":"A1","col":0,"row":0,"sheetId":"s"}],"cycleCells":[],)"
            R"("limitedCells":[{"a1":"AB3","col":27,"row":2,"sheetId":"t"}],"truncated":true}})");
}

TEST(AnswerRecords, CompactReceiptListMeasuresTheTree) {
  RandomRecords rnd(4304);
  for (int i = 0; i < 200; ++i) {
    std::vector<StepReceipt> receipts(rnd.below(4));
    for (StepReceipt& r : receipts) {
      r.step_index = static_cast<uint32_t>(rnd.u64());
      r.target = testing::random_target(rnd);
      for (uint32_t n = rnd.below(3); n > 0; --n) {
        r.changed_cells.push_back(make_cell_location(rnd.text(), rnd.below(1048576), rnd.below(16384)));
      }
      r.changed = !r.changed_cells.empty();
    }
    // The measuring text: the receipts, comma-separated, inside an array.
    auto write = [&](auto& w) {
      w.begin_array();
      for (const StepReceipt& r : receipts) {
        w.begin_element();
        write_step_receipt(w, r);
      }
      w.end_array();
    };
    bool counts_match = false;
    std::string text = testing::written_and_counted(write, counts_match);
    EXPECT_TRUE(counts_match);
    JsonObject object;
    value_map_insert_receipts(object, receipts);
    const JsonValue& tree = *object.find("receipts");
    EXPECT_EQ(json_value_length(tree), text.size());
    auto reread = parse_json_value(text);
    ASSERT_TRUE(reread.has_value()) << text;
    EXPECT_EQ(*reread, tree);
  }
}

}  // namespace
}  // namespace cmx::json
