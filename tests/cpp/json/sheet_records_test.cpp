// A sheet's hyperlink and chart texts: exact writers, readers with their
// limits and refusals, anchor cells, and round trips over random lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using model::SheetChart;
using model::SheetHyperlink;
using testing::RandomRecords;

struct Case {
  std::string_view name;
  std::string input;
  std::string expected;  // the list written again, or the error text
};

std::string hyperlinks_again(std::string_view text) {
  auto links = decode_sheet_hyperlinks(text);
  if (!links) return links.error();
  return sheet_hyperlinks_to_json(*links);
}

std::string charts_again(std::string_view text) {
  auto charts = decode_sheet_charts(text);
  if (!charts) return charts.error();
  return sheet_charts_to_json(*charts);
}

constexpr std::string_view kA1 = R"({"start":{"row":0,"col":0},"end":{"row":0,"col":0}})";

std::string link_text(std::string_view range, std::string_view rest) {
  return std::string(R"({"range":)") + std::string(range) + std::string(rest) + "}";
}

TEST(SheetRecords, HyperlinkTexts) {
  SheetHyperlink link;
  link.range = model::CellRange{{6, 1, false, true}, {7, 2, true, false}};
  link.external_target = "https://example.com/a\"b";
  link.display = "\xc3\xa9";
  std::vector<SheetHyperlink> links{link};
  EXPECT_EQ(sheet_hyperlinks_to_json(links),
            R"([{"range":{"start":{"row":6,"col":1,"abs_col":true},"end":{"row":7,"col":2,"abs_row":true}},)"
            R"("external_target":"https://example.com/a\"b","location":null,"tooltip":null,"display":"é"}])");
  EXPECT_EQ(sheet_hyperlinks_to_json({}), "[]");

  const std::string location_only = "[" + link_text(kA1, R"(,"external_target":null,"location":"S!A1","tooltip":null,"display":null)") + "]";
  const std::string prefix = "sheet hyperlinks are invalid: ";
  const std::string long_field(32767, 'x');
  const Case cases[] = {
      {"empty list", "[]", "[]"},
      {"empty text", "", prefix + "EOF while parsing a value at line 1 column 0"},
      {"blank text", "   ", prefix + "EOF while parsing a value at line 1 column 3"},
      {"location only", location_only, location_only},
      {"optional members left out", "[" + link_text(kA1, R"(,"location":"S!A1")") + "]", location_only},
      {"unknown members skipped", "[" + link_text(kA1, R"(,"location":"S!A1","rel":{"id":[1,2]})") + "]", location_only},
      {"range and cells as arrays", R"([{"range":[[0,0],{"row":0,"col":0,"other":1}],"location":"S!A1"}])", location_only},
      {"empty target with a location", "[" + link_text(kA1, R"(,"external_target":"","location":"S!A1")") + "]",
       "[" + link_text(kA1, R"(,"external_target":"","location":"S!A1","tooltip":null,"display":null)") + "]"},
      {"no destination", "[" + link_text(kA1, R"(,"external_target":"","location":""})") + "]",
       prefix + "sheet hyperlink has no destination at line 1 column 97"},
      {"last cell of the grid", R"([{"range":[[0,0],[1048575,16383]],"location":"x"}])",
       R"([{"range":{"start":{"row":0,"col":0},"end":{"row":1048575,"col":16383}},"external_target":null,"location":"x","tooltip":null,"display":null}])"},
      {"column past the grid", R"([{"range":[[0,0],[0,16384]],"location":"x"}])",
       prefix + "sheet hyperlink range is out of bounds at line 1 column 43"},
      {"row past the grid", R"([{"range":[[0,0],[1048576,0]],"location":"x"}])",
       prefix + "sheet hyperlink range is out of bounds at line 1 column 45"},
      {"end above start", R"([{"range":[[2,0],[1,0]],"location":"x"}])",
       prefix + "sheet hyperlink range is out of bounds at line 1 column 39"},
      {"end left of start", R"([{"range":[[0,2],[0,1]],"location":"x"}])",
       prefix + "sheet hyperlink range is out of bounds at line 1 column 39"},
      {"short cell", R"([{"range":[[3],[4,4]],"location":"x"}])",
       prefix + "invalid length 1, expected struct CellRef with 4 elements at line 1 column 14"},
      {"short range", R"([{"range":[[3,3]],"location":"x"}])",
       prefix + "invalid length 1, expected struct CellRange with 2 elements at line 1 column 17"},
      {"missing range", R"([{"location":"x"}])", prefix + "missing field `range` at line 1 column 17"},
      {"range without start", R"([{"range":{"end":[0,0]},"location":"x"}])", prefix + "missing field `start` at line 1 column 23"},
      {"cell without row", R"([{"range":{"start":{"col":0},"end":[0,0]},"location":"x"}])",
       prefix + "missing field `row` at line 1 column 28"},
      {"repeated member", R"([{"location":"x","location":"y"}])", prefix + "duplicate field `location` at line 1 column 27"},
      {"field at its limit", "[" + link_text(kA1, R"(,"location":")" + long_field + "\"") + "]",
       "[" + link_text(kA1, R"(,"external_target":null,"location":")" + long_field + R"(","tooltip":null,"display":null)") + "]"},
      {"field past its limit counted decoded", "[" + link_text(kA1, R"(,"location":"x","tooltip":")" + long_field + "\\u0041\"") + "]",
       prefix + "sheet hyperlink field exceeds its length limit at line 1 column 32862"},
      {"element not an object", "[5]", prefix + "invalid type: integer `5`, expected a sheet hyperlink at line 1 column 2"},
      {"element as array", "[[]]", prefix + "invalid type: sequence, expected a sheet hyperlink at line 1 column 1"},
      {"not a list", "{}", prefix + "invalid type: map, expected an array of sheet hyperlinks at line 1 column 0"},
      {"cell not a record", R"([{"range":{"start":"A1"}}])",
       prefix + "invalid type: string \"A1\", expected struct CellRef at line 1 column 23"},
      {"target not a string", R"([{"external_target":1}])", prefix + "invalid type: integer `1`, expected a string at line 1 column 21"},
      {"trailing text", "[] x", prefix + "trailing characters at line 1 column 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hyperlinks_again(c.input), c.expected);
  }
}

TEST(SheetRecords, HyperlinkLimits) {
  std::string oversized(kMaxSheetHyperlinksTextBytes + 1, ' ');
  EXPECT_EQ(hyperlinks_again(oversized), "sheet hyperlink state exceeds its size limit");
  const std::string element = R"({"range":[[0,0],[0,0]],"location":"x"})";
  std::string text = "[";
  for (size_t i = 0; i < kMaxSheetHyperlinks; ++i) text += (i ? "," : "") + element;
  auto full = decode_sheet_hyperlinks(text + "]");
  ASSERT_TRUE(full.has_value()) << full.error();
  EXPECT_EQ(full->size(), kMaxSheetHyperlinks);
  auto over = decode_sheet_hyperlinks(text + "," + element + "]");
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().rfind("sheet hyperlinks are invalid: sheet has too many hyperlinks at line 1 column ", 0), 0u)
      << over.error();
}

constexpr std::string_view kTwoCell =
    R"({"part":"xl/charts/chart1.xml","drawing":"xl/drawings/drawing1.xml","anchorIndex":0,)"
    R"("anchor":{"kind":"twoCell","from":{"col":1,"colOff":0,"row":2,"rowOff":-5},"to":{"col":8,"colOff":12700,"row":20,"rowOff":0},"edit_as":"oneCell"},)"
    R"("refs":[{"kind":"values","formula":"Sheet1!$B$2:$B$9"},{"kind":"title","formula":"\"T\""}]})";

std::string chart_with(std::string_view anchor, std::string_view refs = "[]") {
  return std::string(R"([{"part":"p","drawing":"d","anchorIndex":3,"anchor":)") + std::string(anchor) +
         R"(,"refs":)" + std::string(refs) + "}]";
}

TEST(SheetRecords, ChartTexts) {
  SheetChart chart;
  chart.part = "p";
  chart.drawing = "d";
  chart.anchor_index = 3;
  chart.anchor = model::AbsoluteAnchor{{-1, 2}, {914400, -3}};
  chart.refs = {{model::ChartReferenceKind::SeriesName, "S!$A$1"}, {model::ChartReferenceKind::Other, ""}};
  std::vector<SheetChart> charts{chart};
  const std::string absolute = chart_with(R"({"kind":"absolute","pos":{"x":-1,"y":2},"extent":{"cx":914400,"cy":-3}})",
                                          R"([{"kind":"seriesName","formula":"S!$A$1"},{"kind":"other","formula":""}])");
  EXPECT_EQ(sheet_charts_to_json(charts), absolute);
  chart.anchor = model::OneCellAnchor{{1, 2, 3, 4}, {5, 6}};
  chart.refs.clear();
  charts[0] = chart;
  const std::string one_cell =
      chart_with(R"({"kind":"oneCell","from":{"col":1,"colOff":2,"row":3,"rowOff":4},"extent":{"cx":5,"cy":6}})");
  EXPECT_EQ(sheet_charts_to_json(charts), one_cell);

  const std::string two_cell = "[" + std::string(kTwoCell) + "]";
  const std::string prefix = "sheet charts are invalid: ";
  const std::string long_text(32767, 'f');
  const Case cases[] = {
      {"empty list", "[]", "[]"},
      {"empty text", "", prefix + "EOF while parsing a value at line 1 column 0"},
      {"two-cell anchor", two_cell, two_cell},
      {"one-cell anchor with unused members", chart_with(R"({"extent":[5,6],"to":[9,9,9,9],"edit_as":"absolute","kind":"oneCell","from":[1,2,3,4]})"), one_cell},
      {"absolute anchor drops from", chart_with(R"({"kind":"absolute","from":[0,0,0,0],"pos":[-1,2],"extent":{"cy":-3,"cx":914400,"z":1}})",
                                                R"([{"kind":"seriesName","formula":"S!$A$1","x":0},{"formula":"","kind":"other"}])"),
       absolute},
      {"largest anchor index", R"([{"part":"p","drawing":"d","anchorIndex":18446744073709551615,"anchor":{"kind":"absolute","pos":[0,0],"extent":[0,0]},"refs":[]}])",
       R"([{"part":"p","drawing":"d","anchorIndex":18446744073709551615,"anchor":{"kind":"absolute","pos":{"x":0,"y":0},"extent":{"cx":0,"cy":0}},"refs":[]}])"},
      {"two-cell without edit mode", chart_with(R"({"kind":"twoCell","from":[0,0,0,0],"to":[0,0,0,0]})"),
       prefix + "missing field `edit_as` at line 1 column 102"},
      {"two-cell without to", chart_with(R"({"kind":"twoCell","from":[0,0,0,0],"edit_as":"twoCell"})"),
       prefix + "missing field `to` at line 1 column 107"},
      {"absolute without pos", chart_with(R"({"kind":"absolute","extent":[0,0]})"), prefix + "missing field `pos` at line 1 column 86"},
      {"anchor without kind", chart_with(R"({"pos":[0,0],"extent":[0,0]})"), prefix + "missing field `kind` at line 1 column 80"},
      {"unknown anchor kind", chart_with(R"({"kind":"TwoCell"})"), prefix + "unknown chart anchor kind at line 1 column 69"},
      {"anchor kind not a string", chart_with(R"({"kind":0})"), prefix + "invalid type: integer `0`, expected a chart anchor kind at line 1 column 61"},
      {"unknown edit mode", chart_with(R"({"edit_as":"move"})"), prefix + "unknown chart anchor edit mode at line 1 column 69"},
      {"anchor not an object", chart_with("[0]"), prefix + "invalid type: sequence, expected a chart anchor at line 1 column 52"},
      {"short position", chart_with(R"({"pos":[1]})"), prefix + "invalid length 1, expected struct AnchorPos with 2 elements at line 1 column 62"},
      {"position without y", chart_with(R"({"pos":{"x":1}})"), prefix + "missing field `y` at line 1 column 66"},
      {"short extent", chart_with(R"({"extent":[]})"), prefix + "invalid length 0, expected struct AnchorExtent with 2 elements at line 1 column 64"},
      {"reference kind capitalised", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", R"([{"kind":"Values","formula":"x"}])"),
       prefix + "unknown chart reference kind at line 1 column 123"},
      {"reference kind not a string", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", R"([{"kind":2,"formula":"x"}])"),
       prefix + "invalid type: integer `2`, expected a chart reference kind at line 1 column 116"},
      {"reference without kind or formula", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", "[{}]"),
       prefix + "missing field `kind` at line 1 column 109"},
      {"reference formula too long", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", R"([{"kind":"values","formula":")" + long_text + "f\"}]"),
       prefix + "sheet chart reference exceeds its length limit at line 1 column 32904"},
      {"references not a list", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", "{}"),
       prefix + "invalid type: map, expected an array of chart references at line 1 column 106"},
      {"reference not an object", chart_with(R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})", "[1]"),
       prefix + "invalid type: integer `1`, expected a chart reference at line 1 column 108"},
      {"part too long", R"([{"part":")" + long_text + "ff\"}]", prefix + "sheet chart exceeds its size limit at line 1 column 32780"},
      {"part at its limit", R"([{"part":")" + long_text + "\"}]", prefix + "missing field `drawing` at line 1 column 32779"},
      {"missing part", R"([{"drawing":"d"}])", prefix + "missing field `part` at line 1 column 16"},
      {"drawing missing before the empty part", R"([{"part":""}])", prefix + "missing field `drawing` at line 1 column 12"},
      {"empty part before a missing index", R"([{"part":"","drawing":"d"}])",
       prefix + "sheet chart does not name its part and drawing at line 1 column 26"},
      {"missing anchor index", R"([{"part":"p","drawing":"d"}])", prefix + "missing field `anchorIndex` at line 1 column 27"},
      {"missing refs", R"([{"part":"p","drawing":"d","anchorIndex":0,"anchor":{"kind":"absolute","pos":[0,0],"extent":[0,0]}}])",
       prefix + "missing field `refs` at line 1 column 99"},
      {"negative anchor index", R"([{"anchorIndex":-1}])", prefix + "invalid value: integer `-1`, expected u64 at line 1 column 18"},
      {"fractional anchor index", R"([{"anchorIndex":1.5}])", prefix + "invalid type: floating point `1.5`, expected u64 at line 1 column 19"},
      {"repeated member", R"([{"part":"p","part":"p"}])", prefix + "duplicate field `part` at line 1 column 19"},
      {"element not an object", R"(["p"])", prefix + "invalid type: string \"p\", expected a sheet chart at line 1 column 4"},
      {"not a list", "null", prefix + "invalid type: null, expected an array of sheet charts at line 1 column 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(charts_again(c.input), c.expected);
  }
}

TEST(SheetRecords, ChartLimits) {
  std::string exact = "[]" + std::string(kMaxSheetChartsTextBytes - 2, ' ');
  EXPECT_EQ(charts_again(exact), "[]");
  EXPECT_EQ(charts_again(exact + " "), "sheet chart state exceeds its size limit");

  const std::string element = R"({"part":"p","drawing":"d","anchorIndex":0,"anchor":{"kind":"absolute","pos":[0,0],"extent":[0,0]},"refs":[]})";
  std::string text = "[";
  for (size_t i = 0; i < kMaxSheetCharts; ++i) text += (i ? "," : "") + element;
  auto full = decode_sheet_charts(text + "]");
  ASSERT_TRUE(full.has_value()) << full.error();
  EXPECT_EQ(full->size(), kMaxSheetCharts);
  auto over = decode_sheet_charts(text + "," + element + "]");
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().rfind("sheet charts are invalid: sheet has too many charts at line 1 column ", 0), 0u) << over.error();

  std::string refs = "[";
  for (size_t i = 0; i < kMaxChartReferences; ++i) refs += std::string(i ? "," : "") + R"({"kind":"values","formula":"A"})";
  const std::string anchor = R"({"kind":"absolute","pos":[0,0],"extent":[0,0]})";
  auto most = decode_sheet_charts(chart_with(anchor, refs + "]"));
  ASSERT_TRUE(most.has_value()) << most.error();
  EXPECT_EQ((*most)[0].refs.size(), kMaxChartReferences);
  auto too_many = decode_sheet_charts(chart_with(anchor, refs + R"(,{"kind":"values","formula":"A"}])"));
  ASSERT_FALSE(too_many.has_value());
  EXPECT_EQ(too_many.error().rfind("sheet charts are invalid: sheet chart exceeds its size limit at line 1 column ", 0), 0u)
      << too_many.error();
}

TEST(SheetRecords, AnchorCells) {
  auto read = [](JsonReader& r) { return deserialize_anchor_cell(r); };
  auto write = [](auto& w, const model::AnchorCell& c) {
    w.begin_object();
    w.field_u32("col", c.col);
    w.field_i64("colOff", c.colOff);
    w.field_u32("row", c.row);
    w.field_i64("rowOff", c.rowOff);
    w.end_object();
  };
  constexpr std::string_view kCell = R"({"col":1,"colOff":-2,"row":3,"rowOff":4})";
  const Case cases[] = {
      {"object", std::string(kCell), std::string(kCell)},
      {"array", "[1,-2,3,4]", std::string(kCell)},
      {"fifth key skipped", R"({"rowOff":4,"row":3,"note":{"deep":[[[]]]},"colOff":-2,"col":1})", std::string(kCell)},
      {"extreme offsets", "[0,-9223372036854775808,4294967295,9223372036854775807]",
       R"({"col":0,"colOff":-9223372036854775808,"row":4294967295,"rowOff":9223372036854775807})"},
      {"missing row offset", R"({"col":1,"colOff":0,"row":3})", "missing field `rowOff` at line 1 column 28"},
      {"both offsets missing", R"({"col":1,"row":3})", "missing field `colOff` at line 1 column 17"},
      {"negative column", R"({"col":-1})", "invalid value: integer `-1`, expected u32 at line 1 column 9"},
      {"fractional column", R"({"col":1.5})", "invalid type: floating point `1.5`, expected u32 at line 1 column 10"},
      {"offset too large", R"({"colOff":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 29"},
      {"three values", "[1,2,3]", "invalid length 3, expected struct AnchorCell with 4 elements at line 1 column 7"},
      {"five values", "[1,2,3,4,5]", "trailing characters at line 1 column 10"},
      {"trailing comma", "[1,2,3,4,]", "trailing comma at line 1 column 10"},
      {"column twice, same value", R"({"col":1,"col":1})", "duplicate field `col` at line 1 column 14"},
      {"not a record", R"("x")", "invalid type: string \"x\", expected struct AnchorCell at line 1 column 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing::reread(c.input, read, write), c.expected);
  }
}

model::CellRef random_cell(RandomRecords& rnd, uint32_t max_row, uint32_t max_col) {
  return model::CellRef{rnd.below(max_row + 1), rnd.below(max_col + 1), rnd.coin(), rnd.coin()};
}

std::optional<std::string> maybe_text(RandomRecords& rnd) {
  if (rnd.coin()) return std::nullopt;
  return rnd.text();
}

model::AnchorCell random_anchor_cell(RandomRecords& rnd) {
  return model::AnchorCell{static_cast<uint32_t>(rnd.u64()), rnd.i64(), static_cast<uint32_t>(rnd.u64()), rnd.i64()};
}

TEST(SheetRecords, RandomListsReadBackAndCountExactly) {
  RandomRecords rnd(205);
  for (int i = 0; i < 300; ++i) {
    std::vector<SheetHyperlink> links(rnd.below(5));
    for (SheetHyperlink& link : links) {
      link.range.end = random_cell(rnd, 1048575, 16383);
      link.range.start = random_cell(rnd, link.range.end.row, link.range.end.col);
      link.external_target = maybe_text(rnd);
      link.location = maybe_text(rnd);
      if ((!link.location || link.location->empty()) && (!link.external_target || link.external_target->empty())) {
        link.location = "S!A1";
      }
      link.tooltip = maybe_text(rnd);
      link.display = maybe_text(rnd);
    }
    bool counts_match = false;
    std::string text = testing::written_and_counted([&](auto& w) { serialize_sheet_hyperlink_list(w, links); }, counts_match);
    EXPECT_TRUE(counts_match);
    auto links_back = decode_sheet_hyperlinks(text);
    ASSERT_TRUE(links_back.has_value()) << links_back.error() << "\n" << text;
    EXPECT_EQ(*links_back, links);

    std::vector<SheetChart> charts(rnd.below(4));
    for (SheetChart& chart : charts) {
      chart.part = rnd.text() + "p";
      chart.drawing = "d" + rnd.text();
      chart.anchor_index = rnd.u64();
      switch (rnd.below(3)) {
        case 0:
          chart.anchor = model::TwoCellAnchor{static_cast<model::ChartAnchorEditMode>(rnd.below(3)),
                                              random_anchor_cell(rnd), random_anchor_cell(rnd)};
          break;
        case 1: chart.anchor = model::OneCellAnchor{random_anchor_cell(rnd), {rnd.i64(), rnd.i64()}}; break;
        default: chart.anchor = model::AbsoluteAnchor{{rnd.i64(), rnd.i64()}, {rnd.i64(), rnd.i64()}};
      }
      chart.refs.resize(rnd.below(4));
      for (model::ChartReference& ref : chart.refs) {
        ref.kind = static_cast<model::ChartReferenceKind>(rnd.below(7));
        ref.formula = rnd.text();
      }
    }
    text = testing::written_and_counted([&](auto& w) { serialize_sheet_chart_list(w, charts); }, counts_match);
    EXPECT_TRUE(counts_match);
    auto charts_back = decode_sheet_charts(text);
    ASSERT_TRUE(charts_back.has_value()) << charts_back.error() << "\n" << text;
    EXPECT_EQ(*charts_back, charts);
  }
}

}  // namespace
}  // namespace cmx::json
