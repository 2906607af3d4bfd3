// Saves into the source package over the shared corpus of real workbooks.
// Unchanged: the saved parts are the source parts, in archive order, byte
// for byte. One cell set (and, on every fifth file, restyled; on every
// other, with the sheet's moves forgotten so that its cells are written from
// the model): only the parts
// that must change differ; every other part is kept byte for byte, only the
// calculation chain (and an empty shared-strings part) is gone, and the saved
// package reads back as the edited workbook. A sample runs by default; CMX_FULL_CORPUS=1 runs every file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "corpus_files.h"
#include "model_compare.h"
#include "opc/part_names.h"
#include "opc/relationships.h"
#include "source_save_support.h"

namespace cmx::writer {
namespace {

namespace fs = std::filesystem;

// Parts a one-cell edit may rewrite: the package's spine and the edited sheet.
std::set<std::string> rewritable_parts(const testing::HeldWorkbook& held, bool restyled) {
  std::set<std::string> keys = {"[content_types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"};
  const reader::SourcePackage& source = held.opened.source;
  for (size_t index = 0; index < source.sheets.size() && index < held.model.sheets.size(); ++index) {
    if (held.model.sheets[index] != held.opened.model.sheets[index]) {
      keys.insert(opc::part_name_key(source.sheets[index].part_name));
    }
  }
  if (restyled && source.styles_part) keys.insert(opc::part_name_key(source.styles_part->name));
  return keys;
}

TEST(SourceSaveCorpus, UnchangedPartsStayByteForByte) {
  const std::vector<fs::path> files = cmx::testing::corpus_sample(9);
  if (files.empty()) GTEST_SKIP() << "no corpus";
  size_t saved_count = 0;
  for (size_t file_idx = 0; file_idx < files.size(); ++file_idx) {
    const fs::path& path = files[file_idx];
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = cmx::testing::file_bytes(path);
    auto held = testing::hold_workbook(bytes);
    if (!held) continue;  // the reader's tests cover refusals
    const reader::SourcePackage& source = held->opened.source;

    auto unchanged = held->save();
    ASSERT_TRUE(unchanged.has_value()) << xml::parse_error_message(unchanged.error());
    ASSERT_EQ(unchanged->size(), source.parts.size());
    for (size_t index = 0; index < source.parts.size(); ++index) {
      EXPECT_EQ((*unchanged)[index].name, source.parts[index].name);
      // Borrowed from the record: nothing was parsed or written.
      EXPECT_EQ((*unchanged)[index].bytes.data(), source.parts[index].bytes.data()) << source.parts[index].name;
    }

    const bool restyled = file_idx % 5 == 0;
    if (file_idx % 2 == 1) held->forget_moves();
    if (!held->set_a1()) continue;
    if (restyled) {
      ASSERT_TRUE(held->restyle_a1());
    }
    auto edited = held->save();
    ASSERT_TRUE(edited.has_value()) << xml::parse_error_message(edited.error());
    const std::set<std::string> rewritable = rewritable_parts(*held, restyled);
    // The calculation chain goes after an edit, and so does a shared-strings
    // part without a single string.
    std::set<std::string> dropped;
    for (const reader::RelatedPart& chain : source.calc_chain) {
      dropped.insert(opc::part_name_key(chain.name));
      dropped.insert(opc::part_name_key(opc::rels_part_name(chain.name)));
    }
    if (held->model.shared_strings.empty()) {
      for (const opc::AttributeList& rel : source.workbook_relationships) {
        if (!opc::relationship_type_is(rel, "sharedStrings")) continue;
        for (const opc::AttributePair& attr : rel) {
          if (attr.name == "Target") dropped.insert(opc::part_name_key(opc::resolve_relationship_target("xl", attr.value)));
        }
      }
    }
    std::vector<opc::PackagePart> reread;
    size_t next = 0;
    for (const opc::PackagePart& part : source.parts) {
      const std::string key = opc::part_name_key(part.name);
      if (dropped.contains(key)) continue;
      ASSERT_LT(next, edited->size()) << part.name << " is missing";
      const SavedPart& out = (*edited)[next++];
      ASSERT_EQ(out.name, part.name);
      if (!rewritable.contains(key)) {
        EXPECT_TRUE(out.bytes == part.bytes) << part.name << " changed";
      }
      reread.push_back(opc::PackagePart{out.name, std::string(out.bytes)});
    }
    EXPECT_EQ(next, edited->size()) << "parts were added";
    auto again = reader::open_source_package(std::move(reread));
    ASSERT_TRUE(again.has_value()) << xml::parse_error_message(again.error());
    EXPECT_EQ(writer_test::model_difference(again->model, held->model), "");
    ++saved_count;
  }
  EXPECT_GT(saved_count, 0u);
}

}  // namespace
}  // namespace cmx::writer
