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
#include "crdt/crdt.h"
#include "json/json.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"

namespace cmx::collab {
namespace {

namespace fs = std::filesystem;

fs::path corpus_root() {
  if (const char* dir = std::getenv("CMX_CORPUS_DIR")) return dir;
  // The shared folder stands beside the source tree.
  return fs::path(CMX_SOURCE_DIR).parent_path() / "shared" / "corpus";
}

std::vector<model::WorkbookModel> corpus_models() {
  std::vector<model::WorkbookModel> models;
  const fs::path root = corpus_root();
  if (!fs::is_directory(root)) return models;
  std::vector<fs::path> books;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") books.push_back(entry.path());
  }
  std::sort(books.begin(), books.end());
  const bool full = std::getenv("CMX_COLLAB_FULL_CORPUS") != nullptr;
  for (size_t i = 0; i < books.size(); ++i) {
    if (!full && i % 10 != 0) continue;
    std::ifstream in(books[i], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto parts = opc::read_package_archive(bytes);
    if (!parts) continue;
    auto read = reader::read_workbook(*parts);
    if (!read) continue;  // refused workbooks are the reader's tests
    models.push_back(std::move(read->model));
  }
  return models;
}

const std::vector<model::WorkbookModel>& models() {
  static const std::vector<model::WorkbookModel> all = corpus_models();
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

}  // namespace
}  // namespace cmx::collab
