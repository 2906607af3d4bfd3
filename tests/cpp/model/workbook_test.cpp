// Workbook lookups: sheet names, defined names, tables, the range iterator
// and chart-frame matching; a cell record's packed layout and its optional
// style index.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "model/workbook.h"

namespace cmx::model {
namespace {

std::vector<SheetModel> sheets_named(std::initializer_list<const char*> names) {
  std::vector<SheetModel> sheets;
  for (const char* name : names) {
    SheetModel sheet;
    sheet.name = name;
    sheets.push_back(std::move(sheet));
  }
  return sheets;
}

TEST(FindSheetIndexCi, FullLowerCaseFirstMatchWins) {
  auto sheets = sheets_named({"Data", "Sheet1", "SHEET1", "Ärger", "Straße", "ΟΔΟΣ", "İstanbul"});
  struct Case { const char* name; std::optional<uint32_t> index; };
  const Case cases[] = {
      {"sheet1", 1u},         // the leftmost of two that differ in case
      {"SHEET1", 1u},
      {"data", 0u},
      {"ärger", 3u},          // non-ASCII letters lower-case too
      {"ÄRGER", 3u},
      {"STRASSE", std::nullopt},  // lower-casing, not case folding
      {"straße", 4u},
      {"οδος", 5u},           // final sigma of the stored name lower-cases to ς
      {"οδοσ", std::nullopt},
      {"i̇stanbul", 6u},      // İ lower-cases to i + combining dot
      {"istanbul", std::nullopt},
      {"Sheet2", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find_sheet_index_ci(sheets, c.name), c.index);
  }
}

TEST(EqIgnoreAsciiCase, OnlyAsciiLettersFold) {
  EXPECT_TRUE(eq_ignore_ascii_case("TOTAL", "total"));
  EXPECT_TRUE(eq_ignore_ascii_case("", ""));
  EXPECT_FALSE(eq_ignore_ascii_case("Ärger", "ärger"));
  EXPECT_FALSE(eq_ignore_ascii_case("a", "ab"));
  EXPECT_FALSE(eq_ignore_ascii_case("@", "`"));  // 0x40 and 0x60 differ by 32 but are not letters
  EXPECT_FALSE(eq_ignore_ascii_case("[", "{"));
}

TEST(FindDefinedName, LocalBeforeGlobalAsciiCase) {
  std::vector<DefinedName> names = {
      {"X", "Sheet1!$A$1", std::nullopt, false},
      {"x", "Sheet3!$B$2", 2u, false},
      {"OnlyLocal", "1", 1u, false},
      {"Ärger", "2", std::nullopt, false},
      {"TOTAL", "3", std::nullopt, true},
  };
  EXPECT_EQ(find_defined_name(names, 2, "X"), &names[1]);
  EXPECT_EQ(find_defined_name(names, 0, "x"), &names[0]);
  EXPECT_EQ(find_defined_name(names, 1, "onlylocal"), &names[2]);
  EXPECT_EQ(find_defined_name(names, 0, "OnlyLocal"), nullptr);
  EXPECT_EQ(find_defined_name(names, 0, "total"), &names[4]);
  EXPECT_EQ(find_defined_name(names, 0, "ärger"), nullptr);
  EXPECT_EQ(find_defined_name(names, 0, "Ärger"), &names[3]);
}

TEST(FindTable, AnySheetAsciiCase) {
  std::vector<WorkbookTable> tables(2);
  tables[0].name = "Other";
  tables[1].name = "Sales";
  tables[1].sheet = 3;
  EXPECT_EQ(find_table(tables, "SALES"), &tables[1]);
  EXPECT_EQ(find_table(tables, "Sale"), nullptr);
}

SheetModel sheet_with(std::initializer_list<const char*> refs) {
  SheetModel sheet;
  for (const char* ref : refs) {
    CellRef cell = parse_cell_ref(ref).value();
    sheet.cells[CellKey{cell.row, cell.col}] = SheetCell{CellValue::text(ref), std::nullopt, std::nullopt};
  }
  return sheet;
}

std::vector<std::string> walk(const SheetModel& sheet, const char* range, uint64_t* probes) {
  CellRangeIter iter(parse_range(range).value(), sheet.cells);
  std::vector<std::string> seen;
  while (auto item = cell_range_iter_next(iter)) {
    EXPECT_FALSE(item->ref.abs_row || item->ref.abs_col);
    EXPECT_EQ(item->cell->value.as_text(), format_cell_ref(item->ref));
    seen.push_back(format_cell_ref(item->ref));
  }
  EXPECT_FALSE(iter.active);
  *probes = iter.probes;
  // Once inactive, the end is reported without another search.
  EXPECT_FALSE(cell_range_iter_next(iter).has_value());
  EXPECT_EQ(iter.probes, *probes);
  return seen;
}

TEST(CellRangeIter, YieldsRowMajorAndCountsSearches) {
  struct Case {
    const char* name;
    std::initializer_list<const char*> cells;
    const char* range;
    std::vector<std::string> expected;
    uint64_t probes;
  };
  const Case cases[] = {
      {"jumps over a cell right of the band", {"A2", "B2", "D2", "C3", "B4"}, "B2:C3", {"B2", "C3"}, 3},
      {"empty rectangle", {"A1", "Z9"}, "C3:D4", {}, 1},
      {"empty sheet", {}, "A1:XFD1048576", {}, 1},
      {"cells left of the band", {"A1", "A2", "B2"}, "B1:B2", {"B2"}, 2},
      {"last cell at the corner", {"B2", "C3"}, "B2:C3", {"B2", "C3"}, 2},
      {"single cell", {"C3"}, "C3", {"C3"}, 1},
      {"whole row band", {"A1", "XFD1", "A2"}, "A1:XFD1", {"A1", "XFD1"}, 2},
      {"cell past the last row", {"B2", "B9"}, "A1:C3", {"B2"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet = sheet_with(c.cells);
    uint64_t probes = 0;
    EXPECT_EQ(walk(sheet, c.range, &probes), c.expected);
    EXPECT_EQ(probes, c.probes);
  }
}

TEST(ChartFrameMatches, ComparesPartAndWholeAnchor) {
  SheetChart chart;
  chart.part = "xl/charts/chart1.xml";
  chart.drawing = "xl/drawings/drawing1.xml";
  chart.anchor_index = 0;
  chart.anchor = TwoCellAnchor{ChartAnchorEditMode::TwoCell, {1, 10, 2, 20}, {5, 0, 9, 0}};
  EXPECT_TRUE(chart_frame_matches(chart, "xl/charts/chart1.xml", chart.anchor));
  EXPECT_FALSE(chart_frame_matches(chart, "xl/charts/chart2.xml", chart.anchor));
  EXPECT_FALSE(chart_frame_matches(
      chart, chart.part, TwoCellAnchor{ChartAnchorEditMode::OneCell, {1, 10, 2, 20}, {5, 0, 9, 0}}));
  EXPECT_FALSE(chart_frame_matches(
      chart, chart.part, TwoCellAnchor{ChartAnchorEditMode::TwoCell, {1, 10, 2, 21}, {5, 0, 9, 0}}));
  EXPECT_FALSE(chart_frame_matches(chart, chart.part, OneCellAnchor{{1, 10, 2, 20}, {100, 100}}));
  SheetChart moved = chart;
  moved.drawing = "xl/drawings/drawing9.xml";
  moved.anchor_index = 4;
  EXPECT_TRUE(chart_frame_matches(moved, chart.part, chart.anchor));
  EXPECT_EQ(chart_frame_key(moved), "xl/drawings/drawing9.xml#4");
  SheetChart absolute = chart;
  absolute.anchor = AbsoluteAnchor{{5, 6}, {7, 8}};
  EXPECT_TRUE(chart_frame_matches(absolute, chart.part, AbsoluteAnchor{{5, 6}, {7, 8}}));
  EXPECT_FALSE(chart_frame_matches(absolute, chart.part, AbsoluteAnchor{{5, 6}, {7, 9}}));
  EXPECT_EQ(anchor_kind(absolute.anchor), ChartAnchorKind::Absolute);
}

TEST(WorkbookModel, DeepCopyKeepsValuesButNotStyleCaches) {
  WorkbookModel model;
  model.sheets = sheets_named({"A"});
  model.sheets[0].cells[CellKey{0, 0}] = SheetCell{CellValue::text("shared"), SharedString("1+1"), 3u};
  model.styles.fonts.push_back(Font{});
  model.styles.caches.font_lookup.positions[42] = 0;
  model.styles.caches.font_lookup.in_line_length = 1;
  WorkbookModel copy = model;
  EXPECT_EQ(copy.sheets[0].cells.at(CellKey{0, 0}), model.sheets[0].cells.at(CellKey{0, 0}));
  EXPECT_EQ(copy.styles.fonts.size(), 1u);
  EXPECT_TRUE(copy.styles.caches.font_lookup.positions.empty());
  EXPECT_EQ(copy.styles.caches.font_lookup.in_line_length, 0u);
  copy.styles = model.styles;  // copy assignment resets too
  EXPECT_TRUE(copy.styles.caches.font_lookup.positions.empty());
  copy.sheets[0].cells.at(CellKey{0, 0}).value = CellValue::number(1);
  EXPECT_EQ(model.sheets[0].cells.at(CellKey{0, 0}).value.as_text(), "shared");
}

TEST(CellValue, VariantsAndErrorTexts) {
  const char* texts[] = {"#DIV/0!", "#N/A", "#NAME?", "#NULL!", "#NUM!", "#REF!", "#VALUE!", "#SPILL!", "#CALC!"};
  for (int i = 0; i < kCellErrorCodeCount; ++i) {
    auto code = static_cast<CellErrorCode>(i);
    EXPECT_EQ(error_code_text(code), texts[i]);
    EXPECT_EQ(error_code_from_text(texts[i]), code);
  }
  EXPECT_FALSE(error_code_from_text("#n/a").has_value());
  EXPECT_EQ(CellValue().kind(), CellValue::Kind::Empty);
  EXPECT_EQ(CellValue::number(-0.0), CellValue::number(0.0));
  EXPECT_NE(CellValue::number(1), CellValue::boolean(true));
  EXPECT_NE(CellValue::text(""), CellValue());
  EXPECT_EQ(CellValue::text("a"), CellValue::text(std::string("a")));
  EXPECT_EQ(CellValue::error(CellErrorCode::Spill).as_error(), CellErrorCode::Spill);
  EXPECT_EQ(sizeof(CellValue), 16u);
}

}  // namespace
}  // namespace cmx::model

namespace cmx::model {
namespace {

TEST(WorkbookEq, FieldByFieldWithoutCaches) {
  WorkbookModel base;
  base.sheets.resize(1);
  base.sheets[0].cells.insert_or_assign(CellKey{0, 0}, SheetCell{CellValue::number(1), std::nullopt, std::nullopt});
  base.styles.fonts.push_back(Font{});
  base.styles.caches.font_lookup.positions[7] = 0;
  struct Case {
    const char* name;
    void (*change)(WorkbookModel&);
    bool equal;
  };
  const Case cases[] = {
      {"copy", [](WorkbookModel&) {}, true},
      {"caches emptied", [](WorkbookModel& m) { m.styles.caches = StyleLookupCaches(); }, true},
      {"cell value", [](WorkbookModel& m) { m.sheets[0].cells.begin()->second.value = CellValue::number(2); }, false},
      {"stored empty record", [](WorkbookModel& m) { m.sheets[0].cells.insert_or_assign(CellKey{5, 5}, SheetCell{}); },
       false},
      {"merge", [](WorkbookModel& m) { m.sheets[0].merges.push_back(CellRange{}); }, false},
      {"row height", [](WorkbookModel& m) { m.sheets[0].row_heights[3] = 0.0; }, false},
      {"font size -0.0 against absent", [](WorkbookModel& m) { m.styles.fonts[0].size_pt = -0.0; }, false},
      {"palette", [](WorkbookModel& m) { m.styles.indexed_colors.push_back("#000000"); }, false},
      {"date system", [](WorkbookModel& m) { m.date_system = DateSystem::V1904; }, false},
      {"defined name", [](WorkbookModel& m) { m.defined_names.push_back({"X", "1", std::nullopt, false}); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel other = base;
    c.change(other);
    EXPECT_EQ(workbook_eq(base, other), c.equal);
    EXPECT_EQ(workbook_eq(other, base), c.equal);
  }
}

}  // namespace
}  // namespace cmx::model

namespace cmx::model {
namespace {

// Every state, however it was reached, answers and compares as the
// std::optional<uint32_t> it replaces, from either side of ==.
TEST(OptionalStyleIndex, AgreesWithStdOptional) {
  using Std = std::optional<uint32_t>;
  const Std states[] = {std::nullopt, 0u, 1u, 7u, uint32_t{kMaxStyleRecords}, UINT32_MAX - 1};
  auto built = [](const Std& state) {
    std::vector<OptionalStyleIndex> out;
    out.emplace_back(state);
    OptionalStyleIndex assigned = 5u;
    assigned = state;
    out.push_back(assigned);
    OptionalStyleIndex direct = state ? OptionalStyleIndex(*state) : OptionalStyleIndex(std::nullopt);
    out.push_back(direct);
    OptionalStyleIndex reassigned = state ? OptionalStyleIndex() : OptionalStyleIndex(3u);
    if (state) {
      reassigned = *state;
    } else {
      reassigned.reset();
    }
    out.push_back(reassigned);
    OptionalStyleIndex braced = 9u;
    if (!state) braced = {};
    if (state) braced = OptionalStyleIndex{*state};
    out.push_back(braced);
    return out;
  };
  // Compared against, not built: an optional holding the marker equals nothing.
  std::vector<Std> others(std::begin(states), std::end(states));
  others.push_back(UINT32_MAX);
  for (size_t i = 0; i < std::size(states); ++i) {
    const Std& state = states[i];
    for (const OptionalStyleIndex& a : built(state)) {
      SCOPED_TRACE(i);
      ASSERT_EQ(a.has_value(), state.has_value());
      EXPECT_EQ(static_cast<bool>(a), state.has_value());
      EXPECT_EQ(Std(a), state);
      EXPECT_EQ(a.value_or(42), state.value_or(42));
      if (a) {
        EXPECT_EQ(*a, *state);
      }
      EXPECT_EQ(a == std::nullopt, !state);
      EXPECT_EQ(std::nullopt == a, !state);
      EXPECT_EQ(a != std::nullopt, state.has_value());
      EXPECT_FALSE(a == UINT32_MAX);
      for (const Std& other : others) {
        const bool equal = state == other;
        EXPECT_EQ(a == other, equal) << i << " vs " << other.value_or(0);
        EXPECT_EQ(other == a, equal);
        EXPECT_EQ(a != other, !equal);
        EXPECT_EQ(other != a, !equal);
        if (other) {
          EXPECT_EQ(a == *other, equal);
          EXPECT_EQ(*other == a, equal);
        }
      }
      for (size_t j = 0; j < std::size(states); ++j) {
        for (const OptionalStyleIndex& b : built(states[j])) EXPECT_EQ(a == b, i == j) << i << " vs " << j;
      }
    }
  }
}

// The marker is never taken in as an index: storing it would drop a style
// without a word.
TEST(OptionalStyleIndexDeathTest, MarkerIsNoIndex) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint32_t marker = OptionalStyleIndex::kAbsent;
  EXPECT_DEATH((void)OptionalStyleIndex{marker}, "broken invariant");
  EXPECT_DEATH((void)OptionalStyleIndex(std::optional<uint32_t>(marker)), "broken invariant");
  EXPECT_DEATH(
      {
        SheetCell cell;
        cell.style = std::optional<uint32_t>(marker);
      },
      "broken invariant");
}

// The style sits in the value's tail padding and the formula after it; the
// constructor still takes value, formula, style. Writing any value, however
// it is written, leaves the other two members as they were.
TEST(SheetCell, StyleInTheValuesTailPadding) {
  SheetCell cell{CellValue::number(1), SharedString("A1+1"), 7u};
  const auto offset = [&](const void* member) {
    return static_cast<size_t>(static_cast<const std::byte*>(member) - reinterpret_cast<const std::byte*>(&cell));
  };
  EXPECT_EQ(offset(&cell.value), 0u);
  EXPECT_EQ(offset(&cell.style), 12u);
  EXPECT_EQ(offset(&cell.formula), 16u);
  EXPECT_EQ(cell.value, CellValue::number(1));
  EXPECT_EQ(cell.formula, OptionalSharedString("A1+1"));
  EXPECT_EQ(cell.style, 7u);

  const CellValue values[] = {CellValue(),         CellValue::number(-2.5),
                              CellValue::text(""), CellValue::text("a text that is longer than sixteen bytes"),
                              CellValue::boolean(true), CellValue::error(CellErrorCode::Calc)};
  for (const CellValue& before : values) {
    for (const CellValue& after : values) {
      for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(before.kind()) << " to "
                                        << static_cast<int>(after.kind()) << " way " << way);
        SheetCell c{before, SharedString("SUM(B:B)"), OptionalStyleIndex(UINT32_MAX - 1)};
        switch (way) {
          case 0: c.value = after; break;
          case 1: c.value = CellValue(after); break;
          case 2: c = SheetCell{after, *c.formula, c.style}; break;
          default: {
            CellValue moved = after;
            std::swap(c.value, moved);
          }
        }
        EXPECT_EQ(c.value, after);
        EXPECT_EQ(c.style, UINT32_MAX - 1);
        ASSERT_TRUE(c.formula);
        EXPECT_EQ(c.formula->view(), "SUM(B:B)");
        // And back, through a copy and a move of the whole record.
        SheetCell copy = c;
        SheetCell moved = std::move(c);
        EXPECT_EQ(copy, moved);
        moved.value = before;
        EXPECT_EQ(moved.style, UINT32_MAX - 1);
        EXPECT_EQ(moved.formula, copy.formula);
      }
    }
  }

  // Absent members through braces, as positional initialisation gave them.
  const SheetCell bare{CellValue::boolean(false), {}, {}};
  EXPECT_FALSE(bare.formula);
  EXPECT_FALSE(bare.style);
  EXPECT_EQ(SheetCell{}, (SheetCell{CellValue(), std::nullopt, std::nullopt}));
  EXPECT_TRUE(is_empty_record(SheetCell{}));
  EXPECT_FALSE(is_empty_record(SheetCell{CellValue(), std::nullopt, 0u}));
}

}  // namespace
}  // namespace cmx::model
