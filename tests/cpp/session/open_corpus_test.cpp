// Opening the shared corpus of real workbooks: every file gives a complete
// session or one error, and the refusals are the reader's own (same message)
// or validation's verdict on the reader's model, and what opens holds the
// cells, merges, widths and heights the reader read. A sample of every eighth
// file runs by default; CMX_FULL_CORPUS=1 opens every file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/validation.h"
#include "xml/part_template.h"

#include "corpus_files.h"

namespace cmx::session {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpus_files() { return cmx::testing::corpus_sample(8); }

using cmx::testing::file_bytes;

// What the reader alone says: its error message, or the validation verdict
// on its model ("ok" when both pass).
struct ReaderVerdict {
  bool reader_refused = false;
  std::string message = "ok";
  size_t sheets = 0;
  model::WorkbookModel model;
};

ReaderVerdict reader_alone(const std::string& bytes) {
  ReaderVerdict verdict;
  auto parts = opc::read_package_archive(bytes);
  if (!parts) return {true, opc::package_error_message(parts.error()), 0};
  auto opened = reader::open_source_package(std::move(parts.value()));
  if (!opened) return {true, xml::parse_error_message(opened.error()), 0};
  verdict.sheets = opened.value().model.sheets.size();
  verdict.model = opened.value().model;
  if (auto valid = validate_workbook_for_sharing(opened.value().model); !valid) {
    verdict.message = engine_error_display(valid.error());
  }
  return verdict;
}

// Whether the opened model differs from the one read in anything a cell
// edit can change other than which of several equal cell formats a cell's
// style index names.
bool differs_beyond_style_indexes(const model::WorkbookModel& opened, const model::WorkbookModel& read) {
  if (opened.shared_strings != read.shared_strings || opened.sheets.size() != read.sheets.size()) return true;
  for (size_t idx = 0; idx < opened.sheets.size(); ++idx) {
    const model::SheetModel& a = opened.sheets[idx];
    const model::SheetModel& b = read.sheets[idx];
    if (a.name != b.name || a.merges != b.merges || a.col_widths != b.col_widths || a.row_heights != b.row_heights ||
        a.cells.size() != b.cells.size()) {
      return true;
    }
    for (auto x = a.cells.begin(), y = b.cells.begin(); x != a.cells.end(); ++x, ++y) {
      if (x->first != y->first || x->second.formula != y->second.formula) return true;
      // NaN never comes out of a package, so value equality is exact here.
      if (!(x->second.value == y->second.value)) return true;
    }
  }
  return false;
}

// Messages grouped by their text up to the first colon.
std::string group_of(const std::string& message) { return message.substr(0, message.find(':')); }

TEST(OpenCorpus, EveryFileOpensOrGivesTheReadersRefusal) {
  const std::vector<fs::path> files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  uint64_t opened = 0;
  uint64_t refused = 0;
  uint64_t reader_refusals = 0;
  uint64_t reproduced = 0;
  std::map<std::string, uint64_t> groups;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = file_bytes(path);
    const ReaderVerdict verdict = reader_alone(bytes);
    auto session = bootstrap_session(bytes, /*keep_cached=*/true, std::nullopt);
    if (!session) {
      ++refused;
      const std::string message = engine_error_display(session.error());
      ++groups[std::string(engine_error_kind_name(session.error().kind)) + ": " + group_of(message)];
      EXPECT_EQ(message, verdict.message);
      if (verdict.reader_refused) ++reader_refusals;
      continue;
    }
    ++opened;
    EXPECT_EQ(verdict.message, "ok");
    const WorkbookSession& s = *session.value();
    EXPECT_EQ(s.model.sheets.size(), verdict.sheets);
    EXPECT_EQ(s.sheet_sources.origins.size(), s.model.sheets.size());
    EXPECT_EQ(s.sheet_sources.source_maps.size(), s.model.sheets.size());
    EXPECT_LT(s.active_sheet, s.model.sheets.size());
    EXPECT_EQ(s.version_id.size(), 32u);
    EXPECT_FALSE(differs_beyond_style_indexes(s.model, verdict.model));
    if (workbook_models_equal(s.model, verdict.model)) ++reproduced;
  }
  std::cout << "opened " << opened << ", refused " << refused << " (" << reader_refusals
            << " by the reader, the rest by validation) of " << files.size() << "\n";
  std::cout << "reproduced exactly " << reproduced << " of " << opened << "\n";
  for (const auto& [group, count] : groups) std::cout << "  " << count << "  " << group << "\n";
  EXPECT_GT(opened, files.size() * 9 / 10);
}

// A session keeps the lean record; it must be the complete record without
// what a save reads again, and a save's re-read must give the complete one.
TEST(OpenCorpus, LeanRecordIsTheCompleteOneWithoutWhatASaveReadsAgain) {
  const std::vector<fs::path> files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  uint64_t compared = 0;
  uint64_t left_texts = 0;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = file_bytes(path);
    auto parts = opc::read_package_archive(bytes);
    if (!parts) continue;
    auto complete = reader::open_source_package(parts.value());
    auto lean = reader::open_source_package(parts.value(), reader::ReadOptions{.threads = 0, .lean = true});
    ASSERT_EQ(complete.has_value(), lean.has_value());
    if (!complete) {
      EXPECT_EQ(xml::parse_error_message(lean.error()), xml::parse_error_message(complete.error()));
      continue;
    }
    ++compared;
    const reader::SourcePackage& full = complete->source;
    const reader::SourcePackage& kept = lean->source;
    EXPECT_TRUE(model::workbook_eq(lean->model, complete->model));
    EXPECT_TRUE(model::workbook_eq(kept.base_model, model::WorkbookModel{}));
    EXPECT_TRUE(model::workbook_eq(full.base_model, complete->model));
    EXPECT_TRUE(kept.lean);
    EXPECT_FALSE(full.lean);
    ASSERT_EQ(kept.parts.size(), full.parts.size());
    for (size_t at = 0; at < full.parts.size(); ++at) {
      EXPECT_EQ(kept.parts[at].name, full.parts[at].name);
      const bool left = reader::left_in_archive(kept, kept.parts[at].name);
      EXPECT_FALSE(reader::left_in_archive(full, full.parts[at].name));
      EXPECT_EQ(kept.parts[at].bytes, left ? std::string() : full.parts[at].bytes) << full.parts[at].name;
    }
    ASSERT_EQ(kept.sheets.size(), full.sheets.size());
    for (size_t at = 0; at < full.sheets.size(); ++at) {
      EXPECT_EQ(kept.sheets[at].part_name, full.sheets[at].part_name);
      const std::string_view part = *opc::find_package_part(full.parts, full.sheets[at].part_name);
      xml::PartTemplate restored = kept.sheets[at].template_;
      for (xml::PartTemplateChild& child : restored.children) {
        if (!child.left_in_part) continue;
        ++left_texts;
        EXPECT_EQ(child.name, "sheetData");
        EXPECT_TRUE(child.text.empty());
        child.text = std::string(part.substr(child.left_in_part->offset, child.left_in_part->size));
        child.left_in_part.reset();
      }
      EXPECT_TRUE(restored == full.sheets[at].template_);
      // The record's templates stepped over the cells the reader had read.
      auto scanned = xml::read_part_template(part);
      ASSERT_TRUE(scanned.has_value()) << xml::parse_error_message(scanned.error());
      EXPECT_TRUE(*scanned == full.sheets[at].template_);
    }
    EXPECT_TRUE(kept.inventory == full.inventory);
    EXPECT_EQ(kept.rich_string_items, full.rich_string_items);

    auto session = bootstrap_session(bytes, /*keep_cached=*/true, std::nullopt);
    if (!session) continue;
    ASSERT_TRUE(session.value()->source_package->lean);
    const reader::SourcePackage again = complete_source_package(*session.value());
    EXPECT_FALSE(again.lean);
    EXPECT_EQ(again.parts, full.parts);
    EXPECT_TRUE(model::workbook_eq(again.base_model, full.base_model));
  }
  std::cout << "compared " << compared << " records, " << left_texts << " sheetData texts left in their parts\n";
  EXPECT_GT(left_texts, compared / 2);
}

}  // namespace
}  // namespace cmx::session
