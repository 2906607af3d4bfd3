// Workbook validation: each rule at its boundary, the order of the checks,
// and the merge check's sweep against a pairwise reference on random lists.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "session/validation.h"

namespace cmx::session {
namespace {

model::WorkbookModel one_sheet(std::string name = "Sheet1") {
  model::WorkbookModel workbook;
  workbook.sheets.emplace_back();
  workbook.sheets.back().name = std::move(name);
  return workbook;
}

model::CellRange range(uint32_t r1, uint32_t c1, uint32_t r2, uint32_t c2) { return {{r1, c1}, {r2, c2}}; }

model::SheetChart chart(std::string part, std::string drawing, uint64_t index = 0) {
  model::SheetChart out;
  out.part = std::move(part);
  out.drawing = std::move(drawing);
  out.anchor_index = index;
  out.anchor = model::TwoCellAnchor{};
  return out;
}

std::string message(const Result<void, EngineError>& result) {
  return result ? std::string("ok") : engine_error_display(result.error());
}

TEST(Validation, Rules) {
  using Edit = std::function<void(model::WorkbookModel&)>;
  const auto cell = [](uint32_t row, uint32_t col, model::SheetCell value) {
    return [=](model::WorkbookModel& w) { w.sheets[0].cells[{row, col}] = value; };
  };
  const auto text_of = [](size_t chars, std::string_view unit) {
    std::string out;
    for (size_t i = 0; i < chars; ++i) out += unit;
    return model::SheetCell{model::CellValue::text(out), {}, {}};
  };
  const auto link = [](model::SheetHyperlink l) {
    return [=](model::WorkbookModel& w) { w.sheets[0].hyperlinks.push_back(l); };
  };
  const auto add_chart = [](model::SheetChart c) {
    return [=](model::WorkbookModel& w) { w.sheets[0].charts.push_back(c); };
  };
  const auto second_sheet = [](std::string name) {
    return [=](model::WorkbookModel& w) {
      w.sheets.emplace_back();
      w.sheets.back().name = name;
    };
  };
  struct Case {
    std::string_view name;
    Edit edit;
    std::string expected;
  };
  const Case cases[] = {
      // main path
      {"plain sheet", [](auto&) {}, "ok"},
      {"no sheets", [](model::WorkbookModel& w) { w.sheets.clear(); }, "workbook has no sheets"},
      // defined names
      {"name scope past the sheets",
       [](model::WorkbookModel& w) { w.defined_names.push_back({"n", "1", 1, false}); },
       "defined name n has an invalid sheet scope"},
      {"name formula at the limit",
       [](model::WorkbookModel& w) { w.defined_names.push_back({"n", std::string(32768, '1'), 0, false}); }, "ok"},
      {"name formula past the limit",
       [](model::WorkbookModel& w) { w.defined_names.push_back({"n", std::string(32769, '1'), {}, false}); },
       "defined name n has a formula above the length limit"},
      // freeze pane
      {"pane at the grid's end",
       [](model::WorkbookModel& w) { w.sheets[0].freeze_pane = model::FreezePane{1048576, 16384, {1048575, 16383}}; },
       "ok"},
      {"pane cell off the grid",
       [](model::WorkbookModel& w) { w.sheets[0].freeze_pane = model::FreezePane{1, 1, {1048576, 0}}; },
       "sheet Sheet1 has an invalid freeze pane"},
      // hyperlinks
      {"link with a location", link({range(0, 0, 0, 0), {}, "Sheet1!A1", {}, {}}), "ok"},
      {"link without destination", link({range(0, 0, 0, 0), "", {}, "tip", "shown"}),
       "hyperlink must have a destination"},
      {"link off the grid", link({range(0, 0, 1048576, 0), "x", {}, {}, {}}),
       "cell row 1048577, column 1 is out of range"},
      {"link inverted", link({range(2, 0, 1, 0), "x", {}, {}, {}}), "range start must be above and left of range end"},
      {"link field too long", link({range(0, 0, 0, 0), "x", {}, std::string(32768, 't'), {}}),
       "hyperlink field exceeds its length limit"},
      {"too many links",
       [](model::WorkbookModel& w) {
         w.sheets[0].hyperlinks.assign(65537, model::SheetHyperlink{range(0, 0, 0, 0), "x", {}, {}, {}});
       },
       "sheet contains too many hyperlinks"},
      // charts
      {"chart path ok", add_chart(chart("xl/charts/chart1.xml", "xl/drawings/drawing1.xml")), "ok"},
      {"chart without drawing", add_chart(chart("xl/charts/chart1.xml", "")), "chart must name its part and drawing"},
      {"chart path absolute", add_chart(chart("/xl/charts/chart1.xml", "d.xml")),
       "chart names /xl/charts/chart1.xml, which is not a package part path"},
      {"chart path doubled slash", add_chart(chart("xl//charts/chart1.xml", "d.xml")),
       "chart names xl//charts/chart1.xml, which is not a package part path"},
      {"chart path dot segment", add_chart(chart("xl/./chart1.xml", "d.xml")),
       "chart names xl/./chart1.xml, which is not a package part path"},
      {"chart path trailing slash", add_chart(chart("xl/charts/", "d.xml")),
       "chart names xl/charts/, which is not a package part path"},
      {"chart path backslash", add_chart(chart("xl\\charts\\c.xml", "d.xml")),
       "chart names xl\\charts\\c.xml, which is not a package part path"},
      {"drawing path bad", add_chart(chart("c.xml", "a/../d.xml")),
       "chart names a/../d.xml, which is not a package part path"},
      {"anchor index past 4095", add_chart(chart("c.xml", "d.xml", 4096)), "chart anchor index is out of range"},
      {"two charts one anchor",
       [](model::WorkbookModel& w) {
         w.sheets[0].charts = {chart("c1.xml", "d.xml", 2), chart("c2.xml", "d.xml", 2)};
       },
       "two charts claim the same drawing anchor"},
      {"same anchor on two sheets",
       [](model::WorkbookModel& w) {
         w.sheets[0].charts = {chart("c1.xml", "d.xml", 2)};
         w.sheets.emplace_back();
         w.sheets[1].name = "Two";
         w.sheets[1].charts = {chart("c2.xml", "d.xml", 2)};
       },
       "ok"},
      {"one-cell anchor off the grid",
       [](model::WorkbookModel& w) {
         model::SheetChart c = chart("c.xml", "d.xml");
         c.anchor = model::OneCellAnchor{{16384, 0, 0, 0}, {1, 1}};
         w.sheets[0].charts = {c};
       },
       "chart anchor is off the sheet grid"},
      {"chart reference with a control",
       [](model::WorkbookModel& w) {
         model::SheetChart c = chart("c.xml", "d.xml");
         c.refs.push_back({model::ChartReferenceKind::Values, std::string("Sheet1!A\x01", 9)});
         w.sheets[0].charts = {c};
       },
       "chart reference contains a character xml cannot carry"},
      {"chart reference with U+FFFE",
       [](model::WorkbookModel& w) {
         model::SheetChart c = chart("c.xml", "d.xml");
         c.refs.push_back({model::ChartReferenceKind::Values, "A\xEF\xBF\xBE"});
         w.sheets[0].charts = {c};
       },
       "chart reference contains a character xml cannot carry"},
      // sheet names
      {"31 characters", [](model::WorkbookModel& w) { w.sheets[0].name = std::string(31, 'a'); }, "ok"},
      {"31 multi-byte characters",
       [](model::WorkbookModel& w) {
         w.sheets[0].name.clear();
         for (int i = 0; i < 31; ++i) w.sheets[0].name += "\xC3\xA9";
       },
       "ok"},
      {"32 characters", [](model::WorkbookModel& w) { w.sheets[0].name = std::string(32, 'a'); },
       "invalid sheet name: \"" + std::string(32, 'a') + "\""},
      {"slash", [](model::WorkbookModel& w) { w.sheets[0].name = "Q1/Q2"; }, "invalid sheet name: \"Q1/Q2\""},
      {"ends in apostrophe", [](model::WorkbookModel& w) { w.sheets[0].name = "it'"; },
       "invalid sheet name: \"it'\""},
      {"apostrophe inside", [](model::WorkbookModel& w) { w.sheets[0].name = "it's"; }, "ok"},
      {"empty name", [](model::WorkbookModel& w) { w.sheets[0].name = ""; }, "invalid sheet name: \"\""},
      {"quoted form escapes", [](model::WorkbookModel& w) { w.sheets[0].name = std::string("a\"\\\t\x01?", 6); },
       "invalid sheet name: \"a\\\"\\\\\\t\\u{1}?\""},
      {"duplicate by case", second_sheet("SHEET1"), "duplicate sheet name: SHEET1"},
      {"duplicate by Unicode case",
       [](model::WorkbookModel& w) {
         w.sheets[0].name = "\xC3\x89t\xC3\xA9";  // Été
         w.sheets.emplace_back();
         w.sheets[1].name = "\xC3\xA9T\xC3\x89";  // éTÉ
       },
       "duplicate sheet name: \xC3\xA9T\xC3\x89"},
      // cells
      {"cell off the grid", cell(0, 16384, {model::CellValue::number(1), {}, {}}),
       "cell row 1, column 16385 is out of range"},
      {"nan number", cell(0, 0, {model::CellValue::number(std::nan("")), {}, {}}),
       "workbook contains a non-finite cell number"},
      {"text of 32767 characters", cell(0, 0, text_of(32767, "\xC3\xA9")), "ok"},
      {"text of 32768 characters", cell(0, 0, text_of(32768, "a")),
       "workbook contains cell text above the 32,767-character length limit"},
      {"formula of 32768 bytes", cell(0, 0, {{}, SharedString(std::string(32768, '1')), {}}), "ok"},
      {"formula of 32769 bytes", cell(0, 0, {{}, SharedString(std::string(32769, '1')), {}}),
       "workbook contains a formula above the length limit"},
      {"style 0 without formats", cell(0, 0, {model::CellValue::number(1), {}, 0u}), "ok"},
      {"style 1 without formats", cell(0, 0, {model::CellValue::number(1), {}, 1u}),
       "workbook contains an invalid cell style index"},
      // widths and heights
      {"width 255", [](model::WorkbookModel& w) { w.sheets[0].col_widths[3] = 255.0; }, "ok"},
      {"width 255.01", [](model::WorkbookModel& w) { w.sheets[0].col_widths[3] = 255.01; },
       "workbook contains an invalid column width"},
      {"width negative", [](model::WorkbookModel& w) { w.sheets[0].col_widths[3] = -1.0; },
       "workbook contains an invalid column width"},
      {"width infinite",
       [](model::WorkbookModel& w) { w.sheets[0].col_widths[3] = std::numeric_limits<double>::infinity(); },
       "workbook contains an invalid column width"},
      {"height 409.5", [](model::WorkbookModel& w) { w.sheets[0].row_heights[3] = 409.5; }, "ok"},
      {"height 409.6", [](model::WorkbookModel& w) { w.sheets[0].row_heights[3] = 409.6; },
       "workbook contains an invalid row height"},
      // merges
      {"merges apart", [](model::WorkbookModel& w) { w.sheets[0].merges = {range(0, 0, 1, 1), range(0, 2, 1, 3)}; },
       "ok"},
      {"merges sharing B2",
       [](model::WorkbookModel& w) { w.sheets[0].merges = {range(0, 0, 1, 1), range(1, 1, 2, 2)}; },
       "workbook contains overlapping merged ranges"},
      {"merge inverted", [](model::WorkbookModel& w) { w.sheets[0].merges = {range(1, 0, 0, 0)}; },
       "range start must be above and left of range end"},
      {"merge off the grid", [](model::WorkbookModel& w) { w.sheets[0].merges = {range(0, 0, 0, 16384)}; },
       "cell row 1, column 16385 is out of range"},
      // order: the earlier overlap wins over a later bad range, a bad range
      // wins over a later overlap
      {"overlap before a bad range",
       [](model::WorkbookModel& w) {
         w.sheets[0].merges = {range(0, 0, 1, 1), range(5, 0, 5, 16384), range(1, 1, 1, 1)};
       },
       "workbook contains overlapping merged ranges"},
      {"bad range before an overlap",
       [](model::WorkbookModel& w) {
         w.sheets[0].merges = {range(5, 0, 5, 16384), range(0, 0, 1, 1), range(1, 1, 1, 1)};
       },
       "cell row 6, column 16385 is out of range"},
      {"overlap with a later off-grid range",
       [](model::WorkbookModel& w) { w.sheets[0].merges = {range(0, 0, 1, 1), range(1, 1, 1, 16384)}; },
       "workbook contains overlapping merged ranges"},
      {"pane checked before names",
       [](model::WorkbookModel& w) {
         w.sheets[0].name = "a/b";
         w.sheets[0].freeze_pane = model::FreezePane{1048577, 0, {}};
       },
       "sheet a/b has an invalid freeze pane"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::WorkbookModel workbook = one_sheet();
    c.edit(workbook);
    EXPECT_EQ(message(validate_workbook_for_sharing(workbook)), c.expected);
  }
}

// The range-by-range check the sweep replaces, kept here as the reference.
Result<void, EngineError> pairwise_merges(const std::vector<model::CellRange>& merges) {
  for (size_t i = 0; i < merges.size(); ++i) {
    const model::CellRange& a = merges[i];
    for (const model::CellRef& corner : {a.start, a.end}) {
      if (corner.row >= model::MAX_ROWS || corner.col >= model::MAX_COLS) {
        return unexpected(EngineError::cell_out_of_range(corner));
      }
    }
    if (a.end.row < a.start.row || a.end.col < a.start.col) {
      return unexpected(EngineError::invalid_operation("range start must be above and left of range end"));
    }
    for (size_t j = i + 1; j < merges.size(); ++j) {
      const model::CellRange& b = merges[j];
      if (b.end.row < b.start.row || b.end.col < b.start.col) continue;  // holds no cell
      if (a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
          b.start.col <= a.end.col) {
        return unexpected(EngineError::invalid_operation("workbook contains overlapping merged ranges"));
      }
    }
  }
  return {};
}

TEST(Validation, MergeSweepMatchesPairwiseCheck) {
  std::mt19937 rng(24);
  for (int round = 0; round < 3000; ++round) {
    std::vector<model::CellRange> merges;
    const int count = 1 + static_cast<int>(rng() % 12);
    const uint32_t span = 4 + rng() % 20;
    for (int i = 0; i < count; ++i) {
      uint32_t r1 = rng() % span, c1 = rng() % span;
      uint32_t r2 = r1 + rng() % 3, c2 = c1 + rng() % 3;
      if (rng() % 25 == 0) std::swap(r1, r2);             // inverted now and then
      if (rng() % 40 == 0) c2 = model::MAX_COLS + rng() % 2;  // off the grid now and then
      merges.push_back(range(r1, c1, r2, c2));
    }
    const auto expected = pairwise_merges(merges);
    const auto actual = validate_merged_ranges(merges);
    ASSERT_EQ(message(actual), message(expected)) << "round " << round;
  }
}

TEST(Validation, ManyOneCellMergesAreCheckedBySweep) {
  // 200,000 one-cell merges: pairwise this is 2x10^10 comparisons.
  model::WorkbookModel workbook = one_sheet();
  for (uint32_t i = 0; i < 200000; ++i) workbook.sheets[0].merges.push_back(range(i, i % 7, i, i % 7));
  EXPECT_EQ(message(validate_workbook_for_sharing(workbook)), "ok");
  workbook.sheets[0].merges.push_back(range(199999, 0, 199999, 6));
  EXPECT_EQ(message(validate_workbook_for_sharing(workbook)), "workbook contains overlapping merged ranges");
}

}  // namespace
}  // namespace cmx::session
