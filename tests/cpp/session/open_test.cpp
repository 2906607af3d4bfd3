// Opening: a complete session from a hand-made package, one refusal per
// class, and the record's lifecycle (version text, listeners, source table).
#include <gtest/gtest.h>

#include <set>

#include "opc/zip_writer.h"
#include "session/open.h"
#include "session/recalc_requests.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::named_sheets;
using testing::Package;
using testing::zip;

std::string duplicate_entry_zip() {
  opc::ZipWriter writer;
  for (const opc::PackagePart& part : Package::basic().parts) EXPECT_TRUE(writer.add_deflated(part.name, part.bytes));
  EXPECT_TRUE(writer.add_deflated("xl/workbook.xml", "<x/>"));
  return writer.finish().value();
}

TEST(Open, RefusalsOnePerClass) {
  struct Case {
    std::string_view name;
    std::string bytes;
    std::optional<uint64_t> client_id;
    EngineErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {"not an archive", "PK\x03\x04 not really", {}, EngineErrorKind::Package, ""},
      // Names that repeat byte for byte also normalise alike, so the archive
      // reader refuses them before the session's own check.
      {"two entries of one name", duplicate_entry_zip(), {}, EngineErrorKind::Package,
       "duplicate normalized zip entry path: xl/workbook.xml"},
      {"no workbook part", zip(Package::basic().erase("xl/workbook.xml")), {}, EngineErrorKind::Spreadsheet, ""},
      {"sheets differing in case", zip(named_sheets({"Data", "DATA"})), {}, EngineErrorKind::InvalidOperation,
       "duplicate sheet name: DATA"},
      {"no sheets", zip(named_sheets({})), {}, EngineErrorKind::NoSheets, "workbook has no sheets"},
      {"client id 2^53", zip(Package::basic()), uint64_t{1} << 53, EngineErrorKind::InvalidClientId,
       "collaboration client ID 9007199254740992 exceeds 9007199254740991"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto session = bootstrap_session(c.bytes, true, c.client_id);
    ASSERT_FALSE(session);
    EXPECT_EQ(session.error().kind, c.kind) << engine_error_display(session.error());
    if (!c.message.empty()) {
      EXPECT_EQ(engine_error_display(session.error()), c.message);
    }
  }
}

TEST(Open, LargestClientIdIsAccepted) {
  auto session = bootstrap_session(zip(Package::basic()), true, (uint64_t{1} << 53) - 1);
  ASSERT_TRUE(session) << engine_error_display(session.error());
  EXPECT_TRUE(session.value()->collaborative());
}

TEST(Open, CompleteSession) {
  const std::string bytes = zip(named_sheets({"One", "Two"}));
  auto opened = bootstrap_session(bytes, /*keep_cached=*/true, std::nullopt);
  ASSERT_TRUE(opened) << engine_error_display(opened.error());
  WorkbookSession& session = *opened.value();
  ASSERT_EQ(session.model.sheets.size(), 2u);
  EXPECT_EQ(session.model.sheets[1].cells.at({0, 0}).value, model::CellValue::number(2));
  EXPECT_FALSE(session.collaborative());
  EXPECT_NE(session.engine, nullptr);
  EXPECT_TRUE(session.source_package.has_value());
  ASSERT_NE(session.source_bytes, nullptr);
  EXPECT_EQ(*session.source_bytes, bytes);
  EXPECT_EQ(session.revision, 0u);
  EXPECT_EQ(session.generation, 0u);
  EXPECT_FALSE(session.calculated);
  EXPECT_TRUE(session.last_calculation.changed.empty());
  EXPECT_EQ(session.active_sheet, 0u);
  // One entry per sheet in every source list, each taken from the package.
  EXPECT_EQ(session.sheet_sources.origins, (std::vector<SheetOrigin>{{1, 0}, {1, 1}}));
  EXPECT_EQ(session.sheet_sources.source_maps.size(), 2u);
  ASSERT_EQ(session.sheet_sources.move_maps.size(), 2u);
  EXPECT_EQ(session.sheet_sources.move_maps[1], identity_move_map());
  EXPECT_EQ(session.sheet_sources.added, (std::vector<uint8_t>{0, 0}));
  EXPECT_FALSE(session.view_cache.with([](auto& slot) { return slot.has_value(); }));

  auto uncached = bootstrap_session(bytes, /*keep_cached=*/false, std::nullopt);
  ASSERT_TRUE(uncached);
  EXPECT_EQ(uncached.value()->engine, nullptr);
}

// A cell's style index past the workbook's two formats refuses the
// workbook, the model's marker of no style (UINT32_MAX) as any other, alone
// or collaborative; a number past 32 bits is no index and is passed over.
TEST(Open, CellStyleIndicesPastTheFormats) {
  struct Case {
    const char* s;
    std::optional<uint32_t> style;  // of A1 when the workbook opens
    bool opens;
  };
  const Case cases[] = {
      {"0", 0u, true},
      {"1", 1u, true},
      {"2", {}, false},
      {"4294967294", {}, false},
      {"4294967295", {}, false},
      {"4294967296", std::nullopt, true},
  };
  for (const Case& c : cases) {
    for (const char* tag : {"<c ", "<c  "}) {
      for (const std::optional<uint64_t> client : {std::optional<uint64_t>(), std::optional<uint64_t>(5)}) {
        SCOPED_TRACE(std::string(c.s) + " after «" + tag + "»" + (client ? " collaborative" : ""));
        Package pkg = Package::basic();
        const std::string styles_open = "<styleSheet xmlns=\"" + std::string(reader::testing::kMainNs) + "\">";
        pkg.set("xl/_rels/workbook.xml.rels",
                reader::testing::rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                            {"rId2", "styles", "styles.xml", ""}}));
        pkg.set("xl/styles.xml", styles_open + "<fonts><font/><font><b/></font></fonts><cellXfs><xf fontId=\"0\"/>"
                                               "<xf fontId=\"1\"/></cellXfs></styleSheet>");
        pkg.set("xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) +
                                                "\"><sheetData><row r=\"1\">" + tag + "r=\"A1\" s=\"" + c.s +
                                                "\"><v>1</v></c></row></sheetData></worksheet>");
        auto session = bootstrap_session(zip(pkg), true, client);
        if (!c.opens) {
          ASSERT_FALSE(session);
          EXPECT_EQ(session.error().kind, EngineErrorKind::InvalidOperation);
          EXPECT_EQ(engine_error_display(session.error()), "workbook contains an invalid cell style index");
          continue;
        }
        ASSERT_TRUE(session) << engine_error_display(session.error());
        const model::SheetCell& a1 = session.value()->model.sheets[0].cells.at({0, 0});
        EXPECT_EQ(a1.value, model::CellValue::number(1));
        EXPECT_EQ(a1.style, c.style);
      }
    }
  }
}

TEST(Open, ActiveTabPastTheSheetsOpensTheFirst) {
  Package pkg = named_sheets({"One", "Two"});
  for (const auto& [tab, expected] : std::vector<std::pair<int, uint32_t>>{{1, 1}, {2, 0}, {7, 0}}) {
    SCOPED_TRACE(tab);
    pkg.set("xl/workbook.xml",
            reader::testing::workbook_part(
                "<sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Two\" sheetId=\"2\" r:id=\"rId2\"/>",
                "<bookViews><workbookView activeTab=\"" + std::to_string(tab) + "\"/></bookViews>"));
    auto session = bootstrap_session(zip(pkg), true, std::nullopt);
    ASSERT_TRUE(session) << engine_error_display(session.error());
    EXPECT_EQ(session.value()->active_sheet, expected);
  }
}

TEST(Open, VersionTextAndIdentifiers) {
  const std::string bytes = zip(Package::basic());
  std::set<std::string> ids;
  for (int round = 0; round < 20; ++round) {
    auto session = bootstrap_session(bytes, true, std::nullopt);
    ASSERT_TRUE(session);
    const std::string version = session_version(*session.value());
    ASSERT_EQ(version.size(), 34u);
    EXPECT_EQ(version.substr(32), "-0");
    const std::string id = session.value()->version_id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(id[12], '4');
    EXPECT_NE(std::string("89ab").find(id[16]), std::string::npos);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 20u);
}

TEST(Listeners, EachGetsItsOwnCopyInIdOrder) {
  ChangeListeners listeners;
  std::vector<std::string> calls;
  const uint64_t first = listeners.add([&](ChangeEvent event) {
    calls.push_back("a" + std::to_string(event.update.size()));
    event.update.clear();  // a listener's copy is its own
  });
  listeners.add([&](ChangeEvent event) {
    calls.push_back("b" + std::to_string(event.update.size()) + std::to_string(static_cast<int>(event.source)));
  });
  // A callback may remove a listener: nothing runs under the registry's lock.
  listeners.add([&](ChangeEvent) { listeners.remove(first); });
  notify_change_listeners(listeners, ChangeEvent{{1, 2, 3}, ChangeSource::Remote});
  notify_change_listeners(listeners, ChangeEvent{{}, ChangeSource::Recalculation});
  EXPECT_EQ(calls, (std::vector<std::string>{"a3", "b31", "b02"}));
  ChangeListeners none;
  notify_change_listeners(none, ChangeEvent{{1}, ChangeSource::Local});
}

TEST(Guarded, PoisonedMutexIsUsedAllTheSame) {
  Guarded<std::vector<int>> guarded;
  try {
    guarded.with([](std::vector<int>& data) {
      data.push_back(1);
      throw std::runtime_error("failed while held");
    });
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(guarded.poisoned());
  EXPECT_EQ(guarded.with([](std::vector<int>& data) {
    data.push_back(2);
    return data.size();
  }), 2u);
}

TEST(Session, SheetLookupByIndex) {
  auto session = bootstrap_session(zip(Package::basic()), true, std::nullopt);
  ASSERT_TRUE(session);
  EXPECT_TRUE(sheet_at_or_error(*session.value(), 0));
  auto missing = sheet_at_or_error(*session.value(), 1);
  ASSERT_FALSE(missing);
  EXPECT_EQ(engine_error_display(missing.error()), "sheet 1 out of range");
}

}  // namespace
}  // namespace cmx::session
