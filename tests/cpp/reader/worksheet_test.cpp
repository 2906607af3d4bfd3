// The worksheet reader over small fixtures: cell positions and values, side
// records, rows, columns, panes, merges, formulas, hyperlinks and failures;
// then the limits over inputs generated here.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "reader/shared_strings.h"
#include "reader/worksheet.h"
#include "xml/part_template.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using model::CellKey;
using model::CellRange;
using model::CellRef;
using testing::describe;
using testing::fixture;
using xml::ParseErrorKind;

struct ReadSheet {
  std::vector<SharedString> strings{SharedString("zero"), SharedString("one"), SharedString("two")};
  opc::RelationshipMap rels;
  SharedStringCells string_cells;
  SourceDimensions dimensions;
  CellTextNotes notes;

  Result<model::SheetModel, SpreadsheetParseError> read(std::string_view bytes) {
    return read_worksheet("S", bytes, strings, rels, string_cells, dimensions, notes);
  }
};

std::string repeat(std::string_view piece, size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (size_t idx = 0; idx < count; ++idx) out += piece;
  return out;
}

std::string message_of(const Result<model::SheetModel, SpreadsheetParseError>& result) {
  return result.has_value() ? "ok" : xml::parse_error_message(result.error());
}

TEST(ReadWorksheet, CellValuesAndPositions) {
  struct Case {
    const char* fixture;
    const char* cells;
  };
  const Case cases[] = {
      // A cell with nothing stores nothing but still moves the next column on.
      {"cell_without_content", "C2=n:7"},
      {"style_only_cell", "A1=empty|s:3"},
      {"positions_in_row", "A3=n:1;E3=n:2;F3=n:3"},
      {"rows_without_r", "A1=n:1;A2=n:2;A7=n:7;A8=n:8"},
      {"cell_outside_row", "A1=n:1;B1=n:2"},
      {"row_plus", "A5=n:1"},
      {"cell_ref_last", "XFD1048576=n:1"},
      {"bool_cells", "A1=b:0;B1=b:1;C1=b:0"},
      {"error_cells", "A1=e:#N/A;B1=t:#n/a;C1=t: #N/A;D1=t:"},
      {"shared_string_cells", "A1=t:two;D1=t:zero"},
      {"str_cells", "A1=t:  a b  ;B1=t:"},
      {"inline_cells", "B1=t:plain;C1=t:rich"},
      {"inline_laid_out", "A1=t:NN ;B1=t:x"},
      // Cached numbers that are not finite read as #NUM!.
      {"number_cells", "A1=n:1.5;C1=n:-2000;D1=e:#NUM!;E1=e:#NUM!;F1=e:#NUM!;G1=e:#NUM!"},
      {"formula_only", "A1=empty|f:A1+1;B1=n:4|f:B1"},
      {"empty_formulas", "A1=empty|f:;B1=n:2|f:;C1=empty|f:|s:1;D1=n:3"},
      {"misplaced_children", "A1=n:6"},
      {"unclosed_cell_replaced", "B1=n:2"},
      {"shared_formulas", "B2=n:1|f:A1*2;B3=n:2|f:A2*2;B4=n:3|f:A3*2|s:1"},
      {"shared_formula_overridden", "B2=empty|f:A1*2;B3=empty|f:Z9"},
      {"array_formulas", "A1=n:1|f:B1:B3*2;B1=n:1|f:1;C1=n:1|f:1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    ReadSheet read;
    auto sheet = read.read(fixture(c.fixture));
    ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
    EXPECT_EQ(sheet->name, "S");
    EXPECT_EQ(describe(sheet->cells), c.cells);
  }
}

TEST(ReadWorksheet, SideRecords) {
  ReadSheet strings;
  ASSERT_TRUE(strings.read(fixture("shared_string_cells")).has_value());
  EXPECT_EQ(strings.string_cells, (SharedStringCells{{CellKey{0, 0}, 2}, {CellKey{0, 3}, 0}}));

  ReadSheet inline_text;
  ASSERT_TRUE(inline_text.read(fixture("inline_cells")).has_value());
  EXPECT_EQ(inline_text.notes.rich_inline_strings,
            (absl::btree_map<CellKey, std::string>{{CellKey{0, 2}, "rich"}}));
  ReadSheet laid_out;
  ASSERT_TRUE(laid_out.read(fixture("inline_laid_out")).has_value());
  EXPECT_EQ(laid_out.notes.rich_inline_strings, (absl::btree_map<CellKey, std::string>{{CellKey{0, 0}, "NN "}}));

  ReadSheet formulas;
  ASSERT_TRUE(formulas.read(fixture("formula_only")).has_value());
  EXPECT_EQ(formulas.notes.uncached_formula_cells, (absl::btree_set<CellKey>{CellKey{0, 0}}));

  ReadSheet arrays;
  auto sheet = arrays.read(fixture("array_formulas"));
  ASSERT_TRUE(sheet.has_value());
  // Only the anchored range of at most 262,144 cells is recorded.
  EXPECT_EQ(sheet->array_ranges.size(), 1u);
  EXPECT_EQ(sheet->array_ranges.at(CellKey{0, 0}), cant_fail(model::parse_range("A1:A3")));
}

TEST(ReadWorksheet, SharedStringCellsShareStorage) {
  // One long string referenced by many cells is stored once: copying it into
  // each cell would need 200 GB here.
  std::string part = "<worksheet><sheetData>" +
                     repeat("<row>" + repeat("<c t=\"s\"><v>0</v></c>", 10000) + "</row>", 20) +
                     "</sheetData></worksheet>";
  auto table = read_shared_strings("<sst><si><t>" + std::string(1 << 20, 'x') + "</t></si></sst>");
  ASSERT_TRUE(table.has_value());
  ReadSheet read;
  read.strings = table->items;
  auto sheet = read.read(part);
  ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
  ASSERT_EQ(sheet->cells.size(), 200000u);
  for (const auto& [key, cell] : sheet->cells) {
    ASSERT_TRUE(cell.value.shared_text().same_storage(read.strings[0]));
  }
  EXPECT_EQ(read.strings[0].use_count(), 200000u + 2);
}

TEST(ReadWorksheet, RowHeights) {
  ReadSheet read;
  auto sheet = read.read(fixture("row_heights"));
  ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
  EXPECT_EQ(sheet->row_heights, (std::map<uint32_t, double>{{1, 0.0}, {2, -4.0}, {3, 0.0}}));
  EXPECT_EQ(read.dimensions.row_heights,
            (absl::btree_map<uint32_t, double>{{1, 30.0}, {2, -4.0}}));
}

TEST(ReadWorksheet, Columns) {
  ReadSheet read;
  auto sheet = read.read(fixture("columns"));
  ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
  // min 3 / max 1 covers C only; hidden B has no source width; customWidth
  // alone is ignored; a nan width is 0 in the model.
  EXPECT_EQ(sheet->col_widths, (std::map<uint32_t, double>{{1, 0.0}, {2, 5.0}, {4, 0.0}}));
  ASSERT_EQ(read.dimensions.column_widths.size(), 2u);
  EXPECT_EQ(read.dimensions.column_widths.at(2), 5.0);
  EXPECT_TRUE(std::isnan(read.dimensions.column_widths.at(4)));
  EXPECT_EQ(sheet->column_styles, (std::vector<model::ColumnStyle>{{4, 5, 7}}));

  ReadSheet whole;
  sheet = whole.read(fixture("columns_whole_sheet"));
  ASSERT_TRUE(sheet.has_value());
  ASSERT_EQ(sheet->col_widths.size(), model::MAX_COLS);
  EXPECT_EQ(sheet->col_widths.at(16383), 0.0);
  ASSERT_EQ(whole.dimensions.column_widths.size(), model::MAX_COLS);
  EXPECT_EQ(whole.dimensions.column_widths.at(0), -4.0);
}

TEST(ReadWorksheet, LaterColumnsWin) {
  ReadSheet read;
  auto sheet = read.read(
      "<worksheet><cols><col min=\"1\" max=\"10\" width=\"1\"/><col min=\"3\" max=\"4\" width=\"2\"/>"
      "<col min=\"4\" max=\"6\" hidden=\"1\"/><col min=\"6\" max=\"6\" width=\"3\"/></cols></worksheet>");
  ASSERT_TRUE(sheet.has_value());
  EXPECT_EQ(sheet->col_widths, (std::map<uint32_t, double>{{0, 1}, {1, 1}, {2, 2}, {3, 0}, {4, 0},
                                                           {5, 3}, {6, 1}, {7, 1}, {8, 1}, {9, 1}}));
  EXPECT_EQ(read.dimensions.column_widths,
            (std::map<uint32_t, double>{{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 1}, {5, 3}, {6, 1},
                                        {7, 1}, {8, 1}, {9, 1}}));
}

TEST(ReadWorksheet, FrozenPane) {
  ReadSheet read;
  auto sheet = read.read(fixture("pane_split"));
  ASSERT_TRUE(sheet.has_value());
  // "split" and a fractional split are passed over; the first frozen one wins.
  ASSERT_TRUE(sheet->freeze_pane.has_value());
  EXPECT_EQ(*sheet->freeze_pane, (model::FreezePane{3, 0, CellRef{3, 0}}));

  sheet = read.read(fixture("pane_top_left"));
  ASSERT_TRUE(sheet.has_value());
  EXPECT_EQ(*sheet->freeze_pane, (model::FreezePane{model::MAX_ROWS, 2, CellRef{4, 2, true, true}}));

  sheet = read.read("<worksheet><pane state=\"frozen\" topLeftCell=\"B2\"/></worksheet>");
  ASSERT_TRUE(sheet.has_value());
  EXPECT_FALSE(sheet->freeze_pane.has_value());
}

TEST(ReadWorksheet, MergesAndFormat) {
  ReadSheet read;
  auto sheet = read.read(fixture("merges"));
  ASSERT_TRUE(sheet.has_value());
  EXPECT_EQ(sheet->merges, (std::vector<CellRange>{cant_fail(model::parse_range("A1:B2")),
                                                   cant_fail(model::parse_range("C3")),
                                                   cant_fail(model::parse_range("D4:E5"))}));

  sheet = read.read(fixture("sheet_format"));
  ASSERT_TRUE(sheet.has_value());
  EXPECT_EQ(sheet->default_row_height, 409.5);
  EXPECT_TRUE(sheet->custom_height);
  EXPECT_TRUE(sheet->zero_height);

  // The last element sets all three.
  sheet = read.read(fixture("sheet_format_too_tall"));
  ASSERT_TRUE(sheet.has_value());
  EXPECT_FALSE(sheet->default_row_height.has_value());
  EXPECT_FALSE(sheet->custom_height);
}

TEST(ReadWorksheet, Hyperlinks) {
  ReadSheet read;
  read.rels["rId1"] = {"https://example.com/", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink", true};
  read.rels["rId2"] = {"https://internal/", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink", false};
  read.rels["rId3"] = {"media/image1.png", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image", true};
  auto sheet = read.read(fixture("hyperlinks"));
  ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
  ASSERT_EQ(sheet->hyperlinks.size(), 3u);
  const model::SheetHyperlink& first = sheet->hyperlinks[0];
  EXPECT_EQ(first.range, cant_fail(model::parse_range("A1")));
  EXPECT_EQ(first.location, "Sheet2!B3");
  EXPECT_FALSE(first.external_target.has_value());
  EXPECT_FALSE(first.tooltip.has_value());
  const model::SheetHyperlink& second = sheet->hyperlinks[1];
  EXPECT_EQ(second.range, cant_fail(model::parse_range("A1:B2")));
  EXPECT_EQ(second.external_target, "https://example.com/");
  EXPECT_EQ(second.location, "Sheet1!A1");
  EXPECT_EQ(second.tooltip, "");
  EXPECT_EQ(second.display, "go");
  EXPECT_EQ(sheet->hyperlinks[2].external_target, "https://example.com/");
  EXPECT_FALSE(sheet->hyperlinks[2].location.has_value());
}

TEST(ReadWorksheet, Failures) {
  struct Case {
    const char* fixture;
    const char* message;
  };
  const Case cases[] = {
      {"date_cell", "malformed spreadsheetml: bad number 2024-01-01"},
      {"lower_case_ref", "malformed spreadsheetml: bad cell ref a1"},
      {"row_zero", "malformed spreadsheetml: index out of range 0"},
      {"row_past_grid", "malformed spreadsheetml: index out of range 1048577"},
      {"row_letters", "malformed spreadsheetml: bad index x"},
      {"row_overflow", "malformed spreadsheetml: bad index 4294967296"},
      {"cell_ref_past_grid", "malformed spreadsheetml: bad cell ref XFE1"},
      // Counting rows or cells past the grid is refused, not wrapped.
      {"row_counted_past_grid", "malformed spreadsheetml: index out of range 1048577"},
      {"cell_counted_past_grid", "malformed spreadsheetml: index out of range XFE1"},
      {"merge_lower_case", "malformed spreadsheetml: bad merge ref a1:b2"},
      {"hyperlink_lower_case", "malformed spreadsheetml: bad hyperlink ref b2"},
      {"eof_in_value", "malformed spreadsheetml: unexpected eof in text"},
      {"entity_in_value", "malformed spreadsheetml: unresolvable entity &nbsp;"},
      {"shared_formula_no_master", "malformed spreadsheetml: shared formula group has no master"},
      {"shared_formula_outside",
       "malformed spreadsheetml: shared formula is outside its master's range"},
      {"shared_formula_two_masters",
       "malformed spreadsheetml: shared formula group has multiple masters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    ReadSheet read;
    EXPECT_EQ(message_of(read.read(fixture(c.fixture))), c.message);
  }
}

TEST(ReadWorksheet, UndecodableAttributes) {
  struct Case {
    const char* name;
    const char* part;
    bool fails;
  };
  const Case cases[] = {
      {"cell ref", "<worksheet><c r=\"A\xff\"/></worksheet>", true},
      {"cell style", "<worksheet><c s=\"\xff\"/></worksheet>", true},
      {"cell type", "<worksheet><c t=\"\xff\"/></worksheet>", true},
      {"hyperlink tooltip", "<worksheet><hyperlink ref=\"A1\" location=\"x\" tooltip=\"\xff\"/></worksheet>",
       true},
      // A skipped hyperlink's remaining attributes are not read.
      {"skipped hyperlink", "<worksheet><hyperlink ref=\"A1\" tooltip=\"\xff\"/></worksheet>", false},
      {"value text", "<worksheet><c t=\"str\"><v>\xff</v></c></worksheet>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadSheet read;
    auto sheet = read.read(c.part);
    if (c.fails) {
      EXPECT_THAT(sheet, FailsWithKind(ParseErrorKind::Xml));
    } else {
      EXPECT_TRUE(sheet.has_value());
    }
  }
}

// A style index is read as any 32-bit number; the model's marker of no
// style, UINT32_MAX, is kept one below, still past every style sheet, so
// that opening refuses it as an invalid index rather than losing it. Larger
// numbers are no index and are passed over, as other texts are. The direct
// path (a plain tag) and the event path (a second space) agree.
TEST(ReadWorksheet, StyleIndicesAtTheTopOfTheRange) {
  struct Case {
    const char* s;
    const char* cells;
  };
  const Case cases[] = {
      {"0", "A1=n:1|s:0"},
      {"65536", "A1=n:1|s:65536"},
      {"4294967294", "A1=n:1|s:4294967294"},
      {"4294967295", "A1=n:1|s:4294967294"},
      {"4294967296", "A1=n:1"},
      {"18446744073709551615", "A1=n:1"},
      {"-1", "A1=n:1"},
  };
  for (const Case& c : cases) {
    for (const char* tag : {"<c ", "<c  "}) {
      SCOPED_TRACE(std::string(c.s) + " after «" + tag + "»");
      ReadSheet read;
      const std::string part = std::string("<worksheet><sheetData><row r=\"1\">") + tag + "r=\"A1\" s=\"" + c.s +
                               "\"><v>1</v></c></row></sheetData></worksheet>";
      auto sheet = read.read(part);
      ASSERT_TRUE(sheet.has_value()) << message_of(sheet);
      EXPECT_EQ(describe(sheet->cells), c.cells);
    }
  }
}

TEST(ReadWorksheet, EntitiesResolved) {
  ReadSheet read;
  auto sheet = read.read("<worksheet><c t=\"str\"><v>a&amp;b&#x41;<![CDATA[<c>]]></v></c></worksheet>");
  ASSERT_TRUE(sheet.has_value());
  EXPECT_EQ(describe(sheet->cells), "A1=t:a&bA<c>");
}

// The reader says where the content of the root's first sheetData sits, so
// that a part template can step over it; a template that does must equal
// one that reads every byte.
TEST(ReadWorksheet, SheetDataContentForTheTemplate) {
  const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  const std::string cells = "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>x</t></is></c></row>";
  struct Case {
    const char* label;
    std::string part;
    std::optional<std::string> content;  // absent: nothing to step over
  };
  const Case cases[] = {
      {"cells", "<worksheet " + ns + "><sheetData>" + cells + "</sheetData><mergeCells/></worksheet>", cells},
      {"prefixed", "<x:worksheet xmlns:x=\"urn:m\"><x:sheetData>" + cells + "</x:sheetData></x:worksheet>", cells},
      {"markup that looks like the end",
       "<worksheet><sheetData><!-- </sheetData> --><row><c t=\"str\"><v><![CDATA[</sheetData>]]></v></c></row>"
       "<?pi </sheetData>?></sheetData><cols/></worksheet>",
       "<!-- </sheetData> --><row><c t=\"str\"><v><![CDATA[</sheetData>]]></v></c></row><?pi </sheetData>?>"},
      {"declaration on sheetData itself", "<worksheet><sheetData xmlns:a=\"urn:a\">" + cells + "</sheetData></worksheet>",
       cells},
      {"declaration inside", "<worksheet><sheetData><row xmlns:a=\"urn:a\">" + cells + "</row></sheetData></worksheet>",
       std::nullopt},
      {"bad binding inside", "<worksheet><sheetData><c r=\"A1\" xmlns:xml=\"urn:x\"><v>1</v></c></sheetData></worksheet>",
       std::nullopt},
      {"first of two", "<worksheet><sheetData><row/></sheetData><sheetData>" + cells + "</sheetData></worksheet>",
       "<row/>"},
      {"not under the root", "<worksheet><ext><sheetData>" + cells + "</sheetData></ext></worksheet>", std::nullopt},
      {"empty element", "<worksheet><sheetData/><cols/></worksheet>", std::nullopt},
      {"empty content", "<worksheet><sheetData></sheetData></worksheet>", ""},
      {"no sheetData", "<worksheet>" + cells + "</worksheet>", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ReadSheet read;
    ASSERT_TRUE(read.read(c.part).has_value());
    const std::optional<xml::PartTextSpan> span = read.dimensions.sheet_data_content;
    if (c.content && std::string_view(*c.content).empty()) {
      ASSERT_TRUE(span.has_value());
      EXPECT_EQ(span->size, 0u);
    } else if (c.content) {
      ASSERT_TRUE(span.has_value());
      EXPECT_EQ(c.part.substr(span->offset, span->size), *c.content);
    } else if (span) {
      // An empty element may report a span of nothing; it steps over nothing.
      EXPECT_EQ(span->size, 0u);
    }
    for (const std::string_view left : {std::string_view(), std::string_view("sheetData")}) {
      auto scanned = xml::read_part_template(c.part, left);
      auto stepped = xml::read_part_template(c.part, left, span);
      ASSERT_EQ(scanned.has_value(), stepped.has_value());
      if (scanned) {
        EXPECT_TRUE(*scanned == *stepped);
      } else {
        EXPECT_EQ(xml::parse_error_message(scanned.error()), xml::parse_error_message(stepped.error()));
      }
    }
  }
}

TEST(ReadWorksheet, TruncatedPartsFailCleanly) {
  const std::string part = fixture("shared_formulas");
  ReadSheet whole;
  auto full = whole.read(part);
  ASSERT_TRUE(full.has_value());
  int failures = 0;
  for (size_t size = 0; size < part.size(); ++size) {
    SCOPED_TRACE(size);
    ReadSheet read;
    auto sheet = read.read(std::string_view(part).substr(0, size));
    if (!sheet.has_value()) {
      ++failures;
      EXPECT_TRUE(sheet.error().kind == ParseErrorKind::Xml ||
                  sheet.error().kind == ParseErrorKind::Malformed);
      continue;
    }
    // A prefix that reads holds only cells it closed, as the whole part has them.
    for (const auto& [key, cell] : sheet->cells) {
      ASSERT_TRUE(full->cells.contains(key));
      EXPECT_EQ(describe(cell), describe(full->cells.at(key)));
    }
  }
  // Cutting inside a tag, a value or a formula fails.
  EXPECT_GT(failures, 0);
}

// Limits, over parts generated here.


TEST(WorksheetLimits, Cells) {
  // Rows of 10,000 cells keep every position inside the grid.
  static_assert(MAX_SHEET_CELLS % 10000 == 0);
  const std::string part =
      "<worksheet>" + repeat("<row>" + repeat("<c/>", 10000) + "</row>", MAX_SHEET_CELLS / 10000);
  ReadSheet read;
  EXPECT_TRUE(read.read(part + "</worksheet>").has_value());
  EXPECT_THAT(read.read(part + "<row><c/></row></worksheet>"),
              FailsWithKind(ParseErrorKind::TooManyCells));
}

TEST(WorksheetLimits, Hyperlinks) {
  // Skipped elements count as well.
  std::string part = "<worksheet>" + repeat("<hyperlink/>", MAX_SHEET_HYPERLINKS);
  ReadSheet read;
  EXPECT_TRUE(read.read(part + "</worksheet>").has_value());
  EXPECT_THAT(read.read(part + "<hyperlink/></worksheet>"),
              FailsWithKind(ParseErrorKind::TooManyHyperlinks));
}

TEST(WorksheetLimits, ColumnEntries) {
  struct Case {
    const char* name;
    const char* element;
  };
  // Width-only and hidden-only entries count as well as styled ones: each
  // can cover every column.
  const Case cases[] = {
      {"styled", "<col style=\"1\"/>"},
      {"width only", "<col min=\"1\" max=\"16384\" width=\"2\"/>"},
      {"hidden only", "<col min=\"1\" max=\"16384\" hidden=\"1\"/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string part = "<worksheet><cols>" + repeat(c.element, MAX_COLUMN_STYLES);
    ReadSheet read;
    auto sheet = read.read(part + "</cols></worksheet>");
    ASSERT_TRUE(sheet.has_value());
    EXPECT_THAT(read.read(part + c.element + "</cols></worksheet>"),
                FailsWithKind(ParseErrorKind::TooManyColumnStyles));
  }
  // Ignored elements do not count.
  ReadSheet read;
  EXPECT_TRUE(read.read("<worksheet>" + repeat("<col min=\"1\" customWidth=\"1\"/>", MAX_COLUMN_STYLES + 1) +
                        "</worksheet>")
                  .has_value());
}

TEST(WorksheetLimits, Depth) {
  ReadSheet read;
  EXPECT_TRUE(read.read(repeat("<a>", 64) + repeat("</a>", 64)).has_value());
  EXPECT_THAT(read.read(repeat("<a>", 65) + repeat("</a>", 65)),
              FailsWithKind(ParseErrorKind::DepthExceeded));
}

}  // namespace
}  // namespace cmx::reader
