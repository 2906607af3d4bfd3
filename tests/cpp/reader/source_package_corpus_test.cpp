// The source package record over the shared corpus of real workbooks: every
// file that opens gets a record whose part list is the archive's, whose
// sheets are the very parts the workbook reader read (each sheet's part read
// again gives the same cells and the same shared-string side record), and
// whose inventory and structure check hold for it; and a lean record read
// with every worksheet sealed is the one read whole. A sample runs by default;
// CMX_FULL_CORPUS=1 runs every file.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "charts/drawing.h"
#include "opc/package_archive.h"
#include "reader/package_structure.h"
#include "reader/source_package.h"
#include "reader/source_queries.h"
#include "reader/workbook_reader.h"
#include "reader/worksheet.h"
#include "xml/part_template.h"

namespace cmx::reader {
namespace {

namespace fs = std::filesystem;

fs::path corpus_dir() { return fs::path(CMX_SOURCE_DIR).parent_path() / "shared" / "corpus"; }

std::vector<fs::path> corpus_files() {
  std::vector<fs::path> files;
  if (!fs::exists(corpus_dir())) return files;
  for (const auto& entry : fs::recursive_directory_iterator(corpus_dir())) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Tally {
  std::map<std::string, uint64_t> parts;  // by kind, over every record
  uint64_t opened = 0;
  uint64_t refused = 0;
  uint64_t structure_fallbacks = 0;
  uint64_t structure_failures = 0;
  uint64_t groups = 0;
  uint64_t pivot_groups_with_refs = 0;
  uint64_t sealed_sheets = 0;
};

std::string part_kind(std::string key) {
  for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (key.find("/_rels/") != std::string::npos) return "rels";
  if (key.starts_with("xl/charts/")) return "chart";
  if (key.starts_with("xl/drawings/")) return "drawing";
  if (key.starts_with("xl/pivottables/") || key.starts_with("xl/pivotcache/")) return "pivot";
  if (key.starts_with("xl/media/")) return "image";
  if (key.starts_with("xl/comments")) return "comments";
  if (key.starts_with("customxml/")) return "customXml";
  return "other";
}

// Widths and heights by their bits, since a part may write NaN.
template <typename Map>
std::vector<std::pair<uint32_t, uint64_t>> bits(const Map& sizes) {
  std::vector<std::pair<uint32_t, uint64_t>> out;
  for (const auto& [at, size] : sizes) out.emplace_back(at, std::bit_cast<uint64_t>(size));
  return out;
}

// A lean record with every worksheet sealed and read through a small window
// is the lean record of the parts read whole: model, record and refusal.
void check_sealed_read(const std::string& bytes, Tally& tally) {
  const ReadOptions options{.threads = 1, .lean = true, .stream_window = 4099};
  auto whole_parts = opc::read_package_archive(bytes);
  auto sealed_parts = opc::read_package_archive(bytes, opc::ArchiveOptions{.seal_worksheets_from = 1});
  ASSERT_EQ(whole_parts.has_value(), sealed_parts.has_value());
  if (!whole_parts.has_value()) return;
  std::vector<std::shared_ptr<opc::SealedPart>> sealed;
  for (const opc::PackagePart& part : *sealed_parts) {
    if (part.sealed) sealed.push_back(part.sealed);
  }
  tally.sealed_sheets += sealed.size();
  auto whole = open_source_package(std::move(*whole_parts), options);
  auto windowed = open_source_package(std::move(*sealed_parts), options);
  EXPECT_FALSE(opc::first_sealed_failure(sealed).has_value());
  ASSERT_EQ(whole.has_value(), windowed.has_value());
  if (!whole.has_value()) {
    EXPECT_EQ(whole.error(), windowed.error());
    return;
  }
  EXPECT_TRUE(model::workbook_eq(whole->model, windowed->model));
  const SourcePackage& a = whole->source;
  const SourcePackage& b = windowed->source;
  EXPECT_EQ(a.parts, b.parts);
  EXPECT_EQ(a.workbook_template, b.workbook_template);
  EXPECT_EQ(a.inventory, b.inventory);
  ASSERT_EQ(a.sheets.size(), b.sheets.size());
  for (size_t i = 0; i < a.sheets.size(); ++i) {
    EXPECT_EQ(a.sheets[i].template_, b.sheets[i].template_) << a.sheets[i].part_name;
    EXPECT_EQ(a.sheets[i].shared_string_cells, b.sheets[i].shared_string_cells);
    EXPECT_EQ(a.sheets[i].cell_notes.uncached_formula_cells, b.sheets[i].cell_notes.uncached_formula_cells);
    EXPECT_EQ(a.sheets[i].cell_notes.rich_inline_strings, b.sheets[i].cell_notes.rich_inline_strings);
  }
  ASSERT_EQ(whole->source_dimensions.size(), windowed->source_dimensions.size());
  for (size_t i = 0; i < whole->source_dimensions.size(); ++i) {
    const SourceDimensions& x = whole->source_dimensions[i];
    const SourceDimensions& y = windowed->source_dimensions[i];
    EXPECT_EQ(bits(x.column_widths), bits(y.column_widths));
    EXPECT_EQ(bits(x.row_heights), bits(y.row_heights));
    EXPECT_EQ(x.sheet_data_content, y.sheet_data_content);
  }
}

void check_file(const fs::path& path, Tally& tally) {
  SCOPED_TRACE(path.filename().string());
  const std::string bytes = file_bytes(path);
  check_sealed_read(bytes, tally);
  auto parts = opc::read_package_archive(bytes);
  if (!parts.has_value()) {
    ++tally.refused;
    return;
  }
  const std::vector<opc::PackagePart> archive = *parts;
  auto read = read_workbook(archive);
  auto opened = open_source_package(std::move(*parts));
  if (!opened.has_value()) {
    ++tally.refused;
    // The record refuses only what the reader refuses, or a sheet whose
    // own part is missing.
    if (read.has_value()) {
      EXPECT_EQ(opened.error().kind, xml::ParseErrorKind::MissingPart);
    }
    return;
  }
  ASSERT_TRUE(read.has_value());
  ++tally.opened;
  const SourcePackage& source = opened->source;
  {
    const opc::PartIndex index(source.parts);
    const PartContentTypes types = collect_part_content_types(source.parts, source.content_types);
    if (!check_package_structure(index, types, collect_sheet_part_names(source.sheets))) ++tally.structure_failures;
  }
  tally.groups += source.inventory.size();
  EXPECT_EQ(source.parts, archive);
  for (const opc::PackagePart& part : source.parts) ++tally.parts[part_kind(part.name)];

  // Templates give back their parts byte for byte (an empty-element root
  // comes back as a start and an end tag, ready for children).
  EXPECT_EQ(xml::join_part_template(source.workbook_template), *opc::find_package_part(source.parts, kWorkbookPart));
  const std::pair<const std::optional<RelatedPart>*, const std::optional<xml::PartTemplate>*> templated[] = {
      {&source.shared_strings_part, &source.shared_strings_template}, {&source.styles_part, &source.styles_template}};
  for (const auto& [part, made] : templated) {
    if (!part->has_value()) continue;
    ASSERT_TRUE(made->has_value()) << (*part)->name;
    const std::string_view bytes = *opc::find_package_part(source.parts, (*part)->name);
    const size_t last = bytes.find_last_not_of(" \t\r\n");
    if (last != std::string_view::npos && last > 0 && bytes.substr(last - 1, 2) == "/>") continue;
    EXPECT_EQ(xml::join_part_template(**made), bytes);
  }
  ASSERT_EQ(source.sheets.size(), opened->model.sheets.size());
  std::vector<SharedString> strings(opened->model.shared_strings.begin(), opened->model.shared_strings.end());
  for (size_t i = 0; i < source.sheets.size(); ++i) {
    const SourceSheet& sheet = source.sheets[i];
    const model::SheetModel& model_sheet = opened->model.sheets[i];
    SCOPED_TRACE(sheet.part_name);
    const std::optional<std::string_view> bytes = opc::find_package_part(source.parts, sheet.part_name);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(xml::join_part_template(sheet.template_), *bytes);
    if (!sheet_at_is_worksheet(source.sheets, i)) {
      std::vector<std::string> unread;
      auto charts = charts::read_sheet_charts(source.parts, sheet.part_name, unread);
      ASSERT_TRUE(charts.has_value());
      EXPECT_EQ(*charts, model_sheet.charts);
      continue;
    }
    SharedStringCells string_cells;
    SourceDimensions dimensions;
    CellTextNotes notes;
    auto again = read_worksheet(model_sheet.name, *bytes, strings, {}, string_cells, dimensions, notes);
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(again->cells == model_sheet.cells);
    EXPECT_EQ(string_cells, sheet.shared_string_cells);
  }

  // Each pivot part has exactly one group when the structure check passed;
  // otherwise every part has an unknown one.
  uint64_t pivot_parts = 0;
  for (const opc::PackagePart& part : source.parts) pivot_parts += part_kind(part.name) == "pivot";
  uint64_t pivot_groups = 0;
  for (const RetainedCellRefs& group : source.inventory) {
    if (part_kind(group.label) != "pivot") continue;
    ++pivot_groups;
    if (group.refs && !group.refs->empty()) ++tally.pivot_groups_with_refs;
  }
  if (source.inventory.size() == source.parts.size() && !source.parts.empty() && !source.inventory.front().refs &&
      source.inventory.front().label == source.parts.front().name) {
    ++tally.structure_fallbacks;
  } else {
    EXPECT_EQ(pivot_groups, pivot_parts);
  }
}

TEST(SourcePackageCorpus, EveryFileThatOpensGetsAFaithfulRecord) {
  const std::vector<fs::path> files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir();
  Tally tally;
  for (const fs::path& path : files) check_file(path, tally);
  EXPECT_GT(tally.opened, files.size() * 9 / 10);
  // The sample reaches every kind of part the record must carry.
  for (const char* kind : {"chart", "drawing", "pivot", "image", "comments", "customXml"}) {
    EXPECT_GT(tally.parts[kind], 0u) << kind;
  }
  EXPECT_GT(tally.pivot_groups_with_refs, 0u);
  EXPECT_GT(tally.sealed_sheets, files.size() / 2);
  std::cout << "opened " << tally.opened << ", refused " << tally.refused << ", fallbacks "
            << tally.structure_fallbacks << ", structure failures " << tally.structure_failures << ", groups "
            << tally.groups << "\n";
  for (const auto& [kind, count] : tally.parts) std::cout << kind << " " << count << "\n";
}

}  // namespace
}  // namespace cmx::reader
