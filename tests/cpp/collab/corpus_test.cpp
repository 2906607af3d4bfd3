// Real workbooks: every cell format of a corpus style sheet gets an id whose
// catalog reads back onto the same style sheet without interning anything,
// the sheets' hyperlink and chart texts read back as the same lists, and the
// fingerprints are stable. A sample by default; CMX_COLLAB_FULL_CORPUS=1 for all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "collab/base_fingerprint.h"
#include "collab/cell_formats.h"
#include "collab/hydration.h"
#include "crdt/crdt.h"
#include "json/json.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"
#include "document_support.h"

namespace cmx::collab {
namespace {

using testing::corpus_root;
using testing::OpenedWorkbook;

// Refused workbooks are the reader's tests.
const std::vector<OpenedWorkbook>& opened() {
  static const std::vector<OpenedWorkbook> all = [] {
    std::vector<OpenedWorkbook> books;
    for (const auto& path : testing::corpus_sample()) {
      if (auto book = testing::open_workbook_file(path.string())) books.push_back(std::move(*book));
    }
    return books;
  }();
  return all;
}

const std::vector<model::WorkbookModel>& models() {
  static const std::vector<model::WorkbookModel> all = [] {
    std::vector<model::WorkbookModel> copies;
    for (const OpenedWorkbook& book : opened()) copies.push_back(book.model);
    return copies;
  }();
  return all;
}

TEST(CollabCorpus, CatalogOfAWorkbookReadsBackOntoIt) {
  if (models().empty()) GTEST_SKIP() << "no workbook corpus at " << corpus_root();
  size_t formats = 0;
  for (const model::WorkbookModel& workbook : models()) {
    const model::StyleSheet& styles = workbook.styles;
    auto doc = crdt::Doc::create(3).value();
    crdt::MapRef catalog = doc->get_or_create_map("xlsx:cell-formats").value();
    std::vector<CellFormatId> ids;
    {
      crdt::Transaction txn(*doc);
      for (uint32_t i = 0; i < styles.cell_xfs.size(); ++i) {
        EncodedCellFormat encoded = encode_cell_format(model::resolve_cell_format(styles, i));
        EXPECT_EQ(cell_format_id_of_style(styles, i).value(), encoded.id);
        ASSERT_TRUE(catalog.set(txn, encoded.id, crdt::Any::string(encoded.text)).has_value());
        ids.push_back(encoded.id);
      }
    }
    auto read = read_cell_format_catalog(catalog, styles);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(read->styles.cell_xfs.size(), styles.cell_xfs.size());
    EXPECT_EQ(read->styles.num_fmts, styles.num_fmts);
    for (uint32_t i = 0; i < ids.size(); ++i) {
      std::optional<uint32_t> style = read->style_of.at(ids[i]);
      ASSERT_TRUE(style.has_value());
      EXPECT_LE(*style, i);  // the lowest equal index
      EXPECT_EQ(ids[*style], ids[i]);
      EXPECT_TRUE(cell_format_eq(model::resolve_cell_format(read->styles, style),
                                 model::resolve_cell_format(styles, i)));
    }
    formats += ids.size();
  }
  EXPECT_GT(formats, 0u);
}

TEST(CollabCorpus, SheetTextsReadBack) {
  if (models().empty()) GTEST_SKIP() << "no workbook corpus at " << corpus_root();
  size_t links = 0, charts = 0;
  for (const model::WorkbookModel& workbook : models()) {
    for (const model::SheetModel& sheet : workbook.sheets) {
      auto links_back = json::decode_sheet_hyperlinks(json::sheet_hyperlinks_to_json(sheet.hyperlinks));
      ASSERT_TRUE(links_back.has_value()) << links_back.error();
      EXPECT_EQ(*links_back, sheet.hyperlinks);
      auto charts_back = json::decode_sheet_charts(json::sheet_charts_to_json(sheet.charts));
      ASSERT_TRUE(charts_back.has_value()) << charts_back.error();
      EXPECT_EQ(*charts_back, sheet.charts);
      links += sheet.hyperlinks.size();
      charts += sheet.charts.size();
    }
  }
  EXPECT_GT(links + charts, 0u);
}

TEST(CollabCorpus, FingerprintsAreStableAndVersioned) {
  if (models().empty()) GTEST_SKIP() << "no workbook corpus at " << corpus_root();
  std::set<std::string> seen;
  for (const model::WorkbookModel& workbook : models()) {
    std::set<std::string> versions;
    for (uint32_t version = 3; version <= 6; ++version) {
      auto first = compute_base_fingerprint(workbook, version, version > 3, true);
      auto second = compute_base_fingerprint(model::WorkbookModel(workbook), version, version > 3, true);
      ASSERT_TRUE(first.has_value() && second.has_value());
      EXPECT_EQ(*first, *second);
      EXPECT_EQ(first->text.size(), 64u);
      EXPECT_GE(first->bootstrap_client_id, 1u);
      EXPECT_LT(first->bootstrap_client_id, uint64_t{1} << 53);
      versions.insert(first->text);
    }
    EXPECT_EQ(versions.size(), 4u);  // each version has its own domain
    seen.insert(versions.begin(), versions.end());
  }
  // Distinct workbooks of the corpus get distinct fingerprints, unless equal.
  EXPECT_GT(seen.size(), models().size());
}

// The document an opened workbook becomes projects back into the workbook,
// up to what the document cannot carry (equal formats under two indexes,
// array-formula ranges); its bootstrap is the same bytes on every open, and
// it is current for the migration.
TEST(CollabCorpus, BootstrapThenProjectionGivesTheWorkbookBack) {
  if (opened().empty()) GTEST_SKIP() << "no workbook corpus at " << corpus_root();
  size_t cells = 0;
  for (const OpenedWorkbook& book : opened()) {
    SCOPED_TRACE(book.source);
    auto first = open_replica(book.model, book.declared, book.declared_styles, std::nullopt);
    ASSERT_TRUE(first.has_value()) << first.error().text;
    const model::WorkbookModel expected = testing::expected_projection(book.model);
    EXPECT_EQ(testing::model_difference(first->projection.model, expected), "");
    EXPECT_EQ(first->projection.replica.sheet_keys, sheet_key_list(book.model.sheets.size()));

    auto second = open_replica(book.model, book.declared, book.declared_styles, std::nullopt);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(first->bootstrap_update == second->bootstrap_update);
    EXPECT_TRUE(replica_state_eq(first->projection.replica, second->projection.replica));

    auto migrated = hydrate_document(first->authority);
    ASSERT_TRUE(migrated.has_value()) << migrated.error();
    EXPECT_FALSE(*migrated);
    for (const model::SheetModel& sheet : book.model.sheets) cells += sheet.cells.size();
  }
  EXPECT_GT(cells, 0u);
}

}  // namespace
}  // namespace cmx::collab
