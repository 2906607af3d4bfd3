// A worksheet read through a window gives what the whole part gives: the
// model, the side records and every refusal, over every reader fixture and
// windows from one byte up; and the bytes it keeps template the part as the
// whole part does.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/worksheet.h"
#include "reader_test_util.h"
#include "xml/part_template.h"

namespace cmx::reader {
namespace {

using testing::describe;
using testing::fixture;

class ChunkSource final : public ByteSource {
 public:
  ChunkSource(std::string_view text, size_t chunk) : text_(text), chunk_(chunk) {}
  size_t read(char* out, size_t max) override {
    const size_t n = std::min({max, chunk_, text_.size() - at_});
    std::memcpy(out, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string_view text_;
  size_t chunk_;
  size_t at_ = 0;
};

struct Read {
  Result<model::SheetModel, SpreadsheetParseError> sheet = model::SheetModel();
  SharedStringCells string_cells;
  SourceDimensions dimensions;
  CellTextNotes notes;
};

std::vector<std::string> fixture_names() {
  std::vector<std::string> names;
  const auto dir = std::filesystem::path(CMX_SOURCE_DIR) / "tests/fixtures/reader";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".xml") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Widths and heights by their bits, since a part may write NaN.
template <typename Map>
std::vector<std::pair<uint32_t, uint64_t>> bits(const Map& sizes) {
  std::vector<std::pair<uint32_t, uint64_t>> out;
  for (const auto& [at, size] : sizes) out.emplace_back(at, std::bit_cast<uint64_t>(size));
  return out;
}

void expect_same(const Read& whole, const Read& windowed) {
  ASSERT_EQ(whole.sheet.has_value(), windowed.sheet.has_value());
  if (!whole.sheet.has_value()) {
    EXPECT_EQ(whole.sheet.error(), windowed.sheet.error());
    return;
  }
  EXPECT_EQ(describe(whole.sheet->cells), describe(windowed.sheet->cells));
  EXPECT_EQ(whole.sheet->cells, windowed.sheet->cells);
  EXPECT_EQ(bits(whole.sheet->col_widths), bits(windowed.sheet->col_widths));
  EXPECT_EQ(bits(whole.sheet->row_heights), bits(windowed.sheet->row_heights));
  EXPECT_EQ(whole.sheet->column_styles, windowed.sheet->column_styles);
  EXPECT_EQ(whole.sheet->merges, windowed.sheet->merges);
  EXPECT_EQ(whole.sheet->hyperlinks, windowed.sheet->hyperlinks);
  EXPECT_EQ(whole.sheet->array_ranges, windowed.sheet->array_ranges);
  EXPECT_EQ(whole.sheet->freeze_pane, windowed.sheet->freeze_pane);
  EXPECT_EQ(whole.sheet->default_row_height, windowed.sheet->default_row_height);
  EXPECT_EQ(whole.sheet->custom_height, windowed.sheet->custom_height);
  EXPECT_EQ(whole.sheet->zero_height, windowed.sheet->zero_height);
  EXPECT_EQ(whole.string_cells, windowed.string_cells);
  EXPECT_EQ(whole.notes.uncached_formula_cells, windowed.notes.uncached_formula_cells);
  EXPECT_EQ(whole.notes.rich_inline_strings, windowed.notes.rich_inline_strings);
  EXPECT_EQ(bits(whole.dimensions.column_widths), bits(windowed.dimensions.column_widths));
  EXPECT_EQ(bits(whole.dimensions.row_heights), bits(windowed.dimensions.row_heights));
  EXPECT_EQ(whole.dimensions.sheet_data_content, windowed.dimensions.sheet_data_content);
}

TEST(WorksheetWindow, EveryFixtureReadsAsFromTheWholePart) {
  const std::vector<SharedString> strings = {SharedString("zero"), SharedString("one"), SharedString("two")};
  opc::RelationshipMap rels;
  rels["rId1"] = {"https://example.com/", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink",
                  true};
  size_t templated = 0;
  for (const std::string& name : fixture_names()) {
    SCOPED_TRACE(name);
    const std::string bytes = fixture(name);
    Read whole;
    whole.sheet = read_worksheet("S", bytes, strings, rels, whole.string_cells, whole.dimensions, whole.notes);
    for (const size_t window : {size_t{1}, size_t{7}, size_t{64}, size_t{5000}, xml::kStreamWindow}) {
      SCOPED_TRACE(window);
      ChunkSource source(bytes, 1 + window % 13);
      Read windowed;
      windowed.sheet = read_worksheet("S", source, strings, rels, windowed.string_cells, windowed.dimensions,
                                      windowed.notes, window);
      expect_same(whole, windowed);
      if (!windowed.sheet.has_value() || !windowed.dimensions.part_outside_cells) continue;
      // The kept bytes are the part without the cells, and template it.
      const std::string& kept = *windowed.dimensions.part_outside_cells;
      const std::optional<xml::PartTextSpan> cells = whole.dimensions.sheet_data_content;
      const xml::CutPart cut{kept, cells ? cells->offset : 0, cells ? cells->size : 0};
      std::string rebuilt = kept;
      rebuilt.insert(cut.cut_at, bytes.substr(cut.cut_at, cut.cut_size));
      EXPECT_EQ(rebuilt, bytes);
      auto expected = xml::read_part_template(bytes, "sheetData", cells);
      auto made = xml::read_cut_part_template(cut, "sheetData");
      if (!expected.has_value()) {
        EXPECT_TRUE(!made || (!made->has_value() && made->error() == expected.error()));
        continue;
      }
      ASSERT_TRUE(made.has_value());
      ASSERT_TRUE(made->has_value());
      EXPECT_TRUE(**made == *expected);
      ++templated;
    }
  }
  EXPECT_GT(templated, 100u);
}

TEST(WorksheetWindow, ACutElsewhereThanTheCellsIsNotTemplated) {
  const std::string part = "<worksheet><cols/><sheetData><row r=\"1\"/></sheetData><merges/></worksheet>";
  const size_t content = part.find("<row");
  const size_t size = part.find("</sheetData>") - content;
  std::string kept = part;
  kept.erase(content, size);
  auto made = xml::read_cut_part_template(xml::CutPart{kept, content, size}, "sheetData");
  ASSERT_TRUE(made.has_value() && made->has_value());
  EXPECT_TRUE(**made == *xml::read_part_template(part, "sheetData", xml::PartTextSpan{content, size}));
  // The same bytes said to be cut one byte off, or inside another child.
  EXPECT_FALSE(xml::read_cut_part_template(xml::CutPart{kept, content + 1, size}, "sheetData").has_value());
  std::string other = part;
  other.erase(part.find("<cols/>") + 1, 4);
  EXPECT_FALSE(xml::read_cut_part_template(xml::CutPart{other, part.find("<cols/>") + 1, 4}, "sheetData").has_value());
}

}  // namespace
}  // namespace cmx::reader
