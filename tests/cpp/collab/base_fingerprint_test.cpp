// The base fingerprint: the stream of an empty sheet built by hand for every
// schema version, which model changes move the digest and which do not, and
// the bootstrap client id of a digest.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "collab/base_fingerprint.h"
#include "document_support.h"
#include "json/json.h"

namespace cmx::collab {
namespace {

// The stream's own encodings, written out independently of the library.
struct Bytes {
  std::string out;
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  }
  void prefixed(std::string_view s) {
    u64(s.size());
    out.append(s);
  }
};

model::WorkbookModel one_empty_sheet() {
  model::WorkbookModel workbook;
  workbook.sheets.emplace_back().name = "Sheet1";
  return workbook;
}

std::string fingerprint(const model::WorkbookModel& workbook, uint32_t version, bool names = true,
                        bool column_styles = true) {
  auto result = compute_base_fingerprint(workbook, version, names, column_styles);
  return result.has_value() ? result->text : result.error();
}

TEST(BaseFingerprint, EmptySheetStreamPerVersion) {
  model::WorkbookModel workbook = one_empty_sheet();
  const std::string styles = json::stylesheet_to_json(workbook.styles);
  for (uint32_t version = 3; version <= 6; ++version) {
    for (bool names : {false, true}) {
      SCOPED_TRACE(std::to_string(version) + (names ? " with names" : ""));
      Bytes stream;
      stream.out.append(fingerprint_domain(version));
      stream.prefixed(std::string(R"(["V1900",)") + (names ? "[]," : "") + "[]," + styles + "]");
      stream.u64(1);
      stream.prefixed("Sheet1");
      for (int i = 0; i < 4; ++i) stream.u64(0);  // cells, merges, widths, heights
      if (version >= 4) stream.out.push_back('\0');
      if (version >= 5) stream.prefixed("[]");
      if (version >= 6) stream.prefixed("[]");
      Sha256Digest digest = sha256(stream.out);
      auto result = compute_base_fingerprint(workbook, version, names, true);
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(result->text, lower_hex(digest));
      EXPECT_EQ(result->bootstrap_client_id, bootstrap_client_id_of(digest));
    }
  }
}

TEST(BaseFingerprint, UnsupportedVersions) {
  for (uint32_t version : {0u, 2u, 7u}) {
    EXPECT_EQ(fingerprint(one_empty_sheet(), version),
              "unsupported schema version " + std::to_string(version) + "; supported versions are 3 through 6");
  }
}

TEST(BaseFingerprint, DomainStrings) {
  for (uint32_t a = 3; a <= 6; ++a) {
    EXPECT_EQ(fingerprint_domain(a).size(), 24u);
    for (char c : fingerprint_domain(a)) EXPECT_TRUE(c > 0x20 && c < 0x7f);
    for (uint32_t b = 3; b < a; ++b) EXPECT_NE(fingerprint_domain(a), fingerprint_domain(b));
  }
}

TEST(BaseFingerprint, WhatMovesTheDigest) {
  model::WorkbookModel base = one_empty_sheet();
  base.sheets.emplace_back().name = "Sheet2";
  base.shared_strings = {"a"};
  base.sheets[0].cells[{0, 0}] = model::SheetCell{model::CellValue::number(12), std::nullopt, std::nullopt};

  struct Case {
    std::string_view name;
    void (*change)(model::WorkbookModel&);
    // Per version 3..6: whether the change moves the fingerprint.
    bool moves[4];
  };
  const Case cases[] = {
      {"number becomes the same digits as text",
       [](model::WorkbookModel& w) { w.sheets[0].cells[{0, 0}].value = model::CellValue::text("12"); },
       {true, true, true, true}},
      {"formula with an empty cached value",
       [](model::WorkbookModel& w) {
         w.sheets[0].cells[{0, 0}] = model::SheetCell{model::CellValue(), SharedString("1+1"), std::nullopt};
       },
       {true, true, true, true}},
      {"style index", [](model::WorkbookModel& w) { w.sheets[0].cells[{0, 0}].style = 0; }, {true, true, true, true}},
      {"unused shared string", [](model::WorkbookModel& w) { w.shared_strings.push_back("b"); }, {true, true, true, true}},
      {"date system", [](model::WorkbookModel& w) { w.date_system = model::DateSystem::V1904; }, {true, true, true, true}},
      {"merge", [](model::WorkbookModel& w) { w.sheets[1].merges.push_back({{0, 0}, {1, 1}}); }, {true, true, true, true}},
      {"column width", [](model::WorkbookModel& w) { w.sheets[1].col_widths[3] = 9.5; }, {true, true, true, true}},
      {"row height", [](model::WorkbookModel& w) { w.sheets[1].row_heights[3] = 20.0; }, {true, true, true, true}},
      {"style table", [](model::WorkbookModel& w) { w.styles.fonts.push_back(model::Font{}); }, {true, true, true, true}},
      {"frozen pane", [](model::WorkbookModel& w) { w.sheets[0].freeze_pane = model::FreezePane{1, 0, {1, 0}}; },
       {false, true, true, true}},
      {"hyperlink",
       [](model::WorkbookModel& w) {
         w.sheets[0].hyperlinks.push_back(model::SheetHyperlink{{{0, 0}, {0, 0}}, std::nullopt, "S!A1", {}, {}});
       },
       {false, false, true, true}},
      {"chart",
       [](model::WorkbookModel& w) {
         w.sheets[0].charts.push_back(model::SheetChart{"p", "d", 0, model::AbsoluteAnchor{}, {}});
       },
       {false, false, false, true}},
      {"column style run", [](model::WorkbookModel& w) { w.sheets[1].column_styles.push_back({0, 3, 0}); },
       {false, false, false, true}},
      {"defined name",
       [](model::WorkbookModel& w) { w.defined_names.push_back(model::DefinedName{"x", "1", std::nullopt, false}); },
       {true, true, true, true}},
      {"array formula range", [](model::WorkbookModel& w) { w.sheets[0].array_ranges[{0, 0}] = {{0, 0}, {1, 0}}; },
       {false, false, false, false}},
      {"table", [](model::WorkbookModel& w) { w.tables.push_back(model::WorkbookTable{}); }, {false, false, false, false}},
      {"row height of the sheet header", [](model::WorkbookModel& w) { w.sheets[0].default_row_height = 30.0; },
       {false, false, false, false}},
  };
  for (const Case& c : cases) {
    model::WorkbookModel changed = base;
    c.change(changed);
    for (uint32_t version = 3; version <= 6; ++version) {
      SCOPED_TRACE(std::string(c.name) + " at version " + std::to_string(version));
      EXPECT_EQ(fingerprint(changed, version) != fingerprint(base, version), c.moves[version - 3]);
    }
  }
}

TEST(BaseFingerprint, Switches) {
  model::WorkbookModel workbook = one_empty_sheet();
  // The names switch changes the text even without names: [] is present.
  for (uint32_t version = 3; version <= 6; ++version) {
    EXPECT_NE(fingerprint(workbook, version, true), fingerprint(workbook, version, false));
  }
  // The column-styles switch matters only at version 6, and only when some
  // sheet has runs; then every sheet's runs text enters.
  workbook.sheets.emplace_back().name = "Sheet2";
  for (uint32_t version = 3; version <= 6; ++version) {
    EXPECT_EQ(fingerprint(workbook, version, true, true), fingerprint(workbook, version, true, false));
  }
  workbook.sheets[1].column_styles.push_back({2, 4, 7});
  for (uint32_t version = 3; version <= 5; ++version) {
    EXPECT_EQ(fingerprint(workbook, version, true, true), fingerprint(workbook, version, true, false));
  }
  EXPECT_NE(fingerprint(workbook, 6, true, true), fingerprint(workbook, 6, true, false));

  // The runs text by hand: sheet 1 contributes [] and sheet 2 its run.
  const std::string styles = json::stylesheet_to_json(workbook.styles);
  Bytes stream;
  stream.out.append(fingerprint_domain(6));
  stream.prefixed(R"(["V1900",[],[],)" + styles + "]");
  stream.u64(2);
  for (const char* name : {"Sheet1", "Sheet2"}) {
    stream.prefixed(name);
    for (int i = 0; i < 4; ++i) stream.u64(0);
    stream.out.push_back('\0');
    stream.prefixed("[]");
    stream.prefixed("[]");
    stream.prefixed(std::string(name) == "Sheet1" ? "[]" : R"([{"first":2,"last":4,"xf":7}])");
  }
  EXPECT_EQ(fingerprint(workbook, 6, true, true), lower_hex(sha256(stream.out)));
}

TEST(BaseFingerprint, CellAndRangeEncodings) {
  model::WorkbookModel workbook = one_empty_sheet();
  model::SheetModel& sheet = workbook.sheets[0];
  sheet.cells[{2, 1}] = model::SheetCell{model::CellValue::error(model::CellErrorCode::NA), SharedString("NA()"), 5};
  sheet.cells[{0, 3}] = model::SheetCell{model::CellValue::boolean(true), std::nullopt, std::nullopt};
  sheet.merges.push_back({{0, 0, true, false}, {1, 2, false, true}});
  sheet.col_widths[1] = 0.5;
  sheet.row_heights[0] = 15.0;
  workbook.defined_names.push_back(model::DefinedName{"n", "Sheet1!$A$1", 0, true});

  Bytes stream;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) stream.out.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto byte = [&](uint8_t v) { stream.out.push_back(static_cast<char>(v)); };
  stream.out.append(fingerprint_domain(3));
  stream.prefixed(R"(["V1900",[{"name":"n","formula":"Sheet1!$A$1","local_sheet":0,"hidden":true}],[],)" +
                  json::stylesheet_to_json(workbook.styles) + "]");
  stream.u64(1);
  stream.prefixed("Sheet1");
  stream.u64(2);
  u32(0), u32(3), byte(3), byte(1), byte(0), byte(0);  // (0, 3): true, no formula, no style
  u32(2), u32(1), byte(4), stream.prefixed("#N/A"), byte(1), stream.prefixed("NA()"), byte(1), u32(5);
  stream.u64(1);
  u32(0), u32(0), byte(1), byte(0), u32(1), u32(2), byte(0), byte(1);
  stream.u64(1);
  u32(1), stream.u64(std::bit_cast<uint64_t>(0.5));
  stream.u64(1);
  u32(0), stream.u64(std::bit_cast<uint64_t>(15.0));
  EXPECT_EQ(fingerprint(workbook, 3), lower_hex(sha256(stream.out)));
}

TEST(BaseFingerprint, BootstrapClientId) {
  Sha256Digest digest{};
  digest[0] = 0xAB;  // never matters
  digest[1] = 0xE0;  // the top three bits of the second byte never matter
  EXPECT_EQ(bootstrap_client_id_of(digest), 1u);
  digest[1] = 0xE1;
  EXPECT_EQ(bootstrap_client_id_of(digest), uint64_t{1} << 48);
  digest.fill(0xFF);
  EXPECT_EQ(bootstrap_client_id_of(digest), (uint64_t{1} << 53) - 1);
  digest.fill(0);
  digest[7] = 0x2A;
  digest[8] = 0xFF;  // beyond the first eight bytes
  EXPECT_EQ(bootstrap_client_id_of(digest), 42u);
}

// Many fingerprints in one walk are each the one computed alone, over the
// corpus sample (column style runs, panes, hyperlinks and charts included).
TEST(BaseFingerprint, OneWalkForManyGivesEachAlone) {
  std::vector<FingerprintRequest> requests;
  for (uint32_t version = 3; version <= 6; ++version) {
    for (bool names : {true, false}) {
      for (bool column_styles : {true, false}) requests.push_back({version, names, column_styles});
    }
  }
  auto books = testing::corpus_sample();
  size_t checked = 0;
  for (const auto& path : books) {
    auto book = testing::open_workbook_file(path.string());
    if (!book) continue;
    ++checked;
    SCOPED_TRACE(path.filename().string());
    auto together = compute_base_fingerprints(book->model, requests);
    ASSERT_TRUE(together.has_value());
    ASSERT_EQ(together->size(), requests.size());
    for (size_t i = 0; i < requests.size(); ++i) {
      auto alone = compute_base_fingerprint(book->model, requests[i].schema_version, requests[i].include_defined_names,
                                            requests[i].include_column_styles);
      EXPECT_EQ((*together)[i], alone.value()) << "request " << i;
    }
  }
  EXPECT_EQ(compute_base_fingerprints(one_empty_sheet(), std::vector<FingerprintRequest>{{7, true, true}})
                .error(),
            "unsupported schema version 7; supported versions are 3 through 6");
  if (!books.empty()) {
    EXPECT_GT(checked, books.size() / 2);
  }
}

}  // namespace
}  // namespace cmx::collab
