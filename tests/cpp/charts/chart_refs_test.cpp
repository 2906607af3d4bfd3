#include "charts/chart_refs.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "xml/part_decoding.h"

namespace cmx::charts {
namespace {

using model::ChartReferenceKind;

constexpr std::string_view kOpen =
    R"(<c:chartSpace xmlns:c="http://schemas.openxmlformats.org/drawingml/2006/chart" )"
    R"(xmlns:cx="http://schemas.microsoft.com/office/drawing/2014/chartex"><c:chart>)";
constexpr std::string_view kClose = "</c:chart></c:chartSpace>";

xml::XmlTree parse(std::string_view body) {
  const std::string text = std::string(kOpen) + std::string(body) + std::string(kClose);
  auto tree = xml::parse_xml_tree(text, xml::STANDARD_ELEMENT_BUDGET);
  EXPECT_TRUE(tree.has_value()) << text;
  return tree.has_value() ? std::move(*tree) : xml::XmlTree{};
}

std::vector<ChartFormulaRef> refs_of(std::string_view body) {
  auto refs = find_chart_formula_refs(parse(body).root);
  EXPECT_TRUE(refs.has_value());
  return refs.has_value() ? *refs : std::vector<ChartFormulaRef>{};
}

TEST(ChartFormulaRefs, KindsFollowTheEnclosingElement) {
  struct Case {
    const char* label;
    std::string body;
    ChartReferenceKind kind;
  };
  const std::vector<Case> cases = {
      {"series name", "<c:ser><c:tx><c:strRef><c:f>S!$B$1</c:f></c:strRef></c:tx></c:ser>",
       ChartReferenceKind::SeriesName},
      {"categories", "<c:ser><c:cat><c:numRef><c:f>S!$A$2:$A$4</c:f></c:numRef></c:cat></c:ser>",
       ChartReferenceKind::Categories},
      {"x values", "<c:ser><c:xVal><c:numRef><c:f>S!A1</c:f></c:numRef></c:xVal></c:ser>",
       ChartReferenceKind::Categories},
      {"values", "<c:ser><c:val><c:numRef><c:f>S!B1</c:f></c:numRef></c:val></c:ser>", ChartReferenceKind::Values},
      {"y values", "<c:ser><c:yVal><c:numRef><c:f>S!B1</c:f></c:numRef></c:yVal></c:ser>",
       ChartReferenceKind::Values},
      {"bubbles", "<c:ser><c:bubbleSize><c:numRef><c:f>S!C1</c:f></c:numRef></c:bubbleSize></c:ser>",
       ChartReferenceKind::BubbleSize},
      {"chart title", "<c:title><c:tx><c:strRef><c:f>S!A1</c:f></c:strRef></c:tx></c:title>",
       ChartReferenceKind::SeriesName},
      {"title alone", "<c:title><c:strRef><c:f>S!A1</c:f></c:strRef></c:title>", ChartReferenceKind::Title},
      {"data labels", "<c:ser><c:dLbls><c:f>S!D1</c:f></c:dLbls></c:ser>", ChartReferenceKind::DataLabels},
      {"outside", "<c:plotArea><c:f>S!E1</c:f></c:plotArea>", ChartReferenceKind::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto refs = refs_of(c.body);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].kind, c.kind);
  }
}

TEST(ChartFormulaRefs, OtherNamespacesAreWalkedButNotReferences) {
  const auto refs = refs_of("<cx:f>X!A1</cx:f><cx:data><c:f>Y!A1</c:f></cx:data><f>Z!A1</f>");
  ASSERT_EQ(refs.size(), 1u);
  EXPECT_EQ(refs[0].formula, "Y!A1");
}

TEST(ChartFormulaRefs, SeriesAreCountedAcrossPlotsAndTextIsTrimmed) {
  const auto refs = refs_of(
      "<c:plotArea><c:barChart><c:ser><c:val><c:numRef><c:f> S!B1 </c:f></c:numRef></c:val></c:ser>"
      "<c:ser><c:val><c:numRef><c:f>S!C1</c:f></c:numRef></c:val></c:ser></c:barChart>"
      "<c:lineChart><c:ser><c:val><c:numRef><c:f>S!D1</c:f></c:numRef></c:val></c:ser></c:lineChart>"
      "<c:f>S!E1</c:f></c:plotArea>");
  ASSERT_EQ(refs.size(), 4u);
  EXPECT_EQ(refs[0].formula, "S!B1");
  EXPECT_EQ(refs[0].series_index, 0u);
  EXPECT_EQ(refs[2].series_index, 2u);
  EXPECT_EQ(refs[3].series_index, std::nullopt);
}

TEST(ChartFormulaRefs, SpansPointIntoTheDecodedText) {
  const std::string text = std::string(kOpen) + "<c:f>S!A1</c:f><c:f/>" + std::string(kClose);
  auto tree = xml::parse_xml_tree(text, xml::STANDARD_ELEMENT_BUDGET);
  ASSERT_TRUE(tree.has_value());
  auto refs = find_chart_formula_refs(tree->root);
  ASSERT_TRUE(refs.has_value());
  ASSERT_EQ(refs->size(), 2u);
  ASSERT_TRUE((*refs)[0].formula_span.has_value());
  EXPECT_EQ(text.substr((*refs)[0].formula_span->start,
                        (*refs)[0].formula_span->end - (*refs)[0].formula_span->start),
            "S!A1");
  EXPECT_EQ((*refs)[1].formula_span, std::nullopt);
}

TEST(ChartFormulaRefs, CachesPairWithTheirReference) {
  struct Case {
    const char* label;
    std::string body;
    std::optional<std::string> element;
    bool unmodelled;
    uint64_t points;
  };
  const std::string modelled =
      "<c:formatCode>General</c:formatCode><c:ptCount val=\"2\"/>"
      "<c:pt idx=\"0\"><c:v>1</c:v></c:pt><c:pt idx=\"1\"><c:v>2</c:v></c:pt>";
  const std::vector<Case> cases = {
      {"modelled", "<c:numRef><c:f>S!A1</c:f><c:numCache>" + modelled + "</c:numCache></c:numRef>", "numCache",
       false, 2},
      {"cache first", "<c:strRef><c:strCache><c:ptCount val=\"0\"/></c:strCache><c:f>S!A1</c:f></c:strRef>",
       "strCache", false, 0},
      {"extLst", "<c:numRef><c:f>S!A1</c:f><c:numCache>" + modelled + "<c:extLst/></c:numCache></c:numRef>",
       "numCache", true, 2},
      {"attribute on pt",
       "<c:numRef><c:f>S!A1</c:f><c:numCache><c:pt idx=\"0\" formatCode=\"x\"><c:v>1</c:v></c:pt>"
       "</c:numCache></c:numRef>",
       "numCache", true, 1},
      {"attribute on v",
       "<c:numRef><c:f>S!A1</c:f><c:numCache><c:pt idx=\"0\"><c:v a=\"1\">1</c:v></c:pt></c:numCache></c:numRef>",
       "numCache", true, 1},
      {"prefixed idx",
       "<c:numRef><c:f>S!A1</c:f><c:numCache><c:pt c:idx=\"0\"><c:v>1</c:v></c:pt></c:numCache></c:numRef>",
       "numCache", true, 1},
      {"multi-level levels",
       "<c:multiLvlStrRef><c:f>S!A1</c:f><c:multiLvlStrCache><c:lvl/></c:multiLvlStrCache></c:multiLvlStrRef>",
       "multiLvlStrCache", true, 0},
      {"lone f", "<c:val><c:f>S!A1</c:f></c:val>", std::nullopt, false, 0},
      {"two refs", "<c:numRef><c:f>S!A1</c:f><c:f>S!A2</c:f><c:numCache/></c:numRef>", std::nullopt, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto refs = refs_of(c.body);
    ASSERT_FALSE(refs.empty());
    if (!c.element) {
      for (const auto& ref : refs) EXPECT_EQ(ref.cache, std::nullopt);
      continue;
    }
    ASSERT_TRUE(refs[0].cache.has_value());
    EXPECT_EQ(refs[0].cache->element, *c.element);
    EXPECT_EQ(refs[0].cache->prefix, "c:");
    EXPECT_EQ(refs[0].cache->unmodelled, c.unmodelled);
    EXPECT_EQ(refs[0].cache->point_count, c.points);
  }
  const auto with_format = refs_of("<c:numRef><c:f>S!A1</c:f><c:numCache>" + modelled + "</c:numCache></c:numRef>");
  EXPECT_EQ(with_format[0].cache->format_code, "General");
}

TEST(ChartFormulaRefs, TheReferenceCapIsExact) {
  for (const size_t count : {size_t{16384}, size_t{16385}}) {
    SCOPED_TRACE(count);
    std::string body;
    for (size_t i = 0; i < count; ++i) body += "<c:f>A1</c:f>";
    auto refs = find_chart_formula_refs(parse(body).root);
    if (count == 16384) {
      ASSERT_TRUE(refs.has_value());
      EXPECT_EQ(refs->size(), count);
    } else {
      EXPECT_THAT(refs, FailsWithKind(xml::ParseErrorKind::TooManyCharts));
    }
  }
}

TEST(SplitChartReference, SheetsAndAreas) {
  struct Case {
    std::string text;
    std::optional<ChartSheetArea> expected;
  };
  const std::vector<Case> cases = {
      {"Sheet1!$A$1:$B$2", ChartSheetArea{"Sheet1", "$A$1:$B$2"}},
      {"'It''s here'!A1", ChartSheetArea{"It's here", "A1"}},
      {"'Sheet 1'!", ChartSheetArea{"Sheet 1", ""}},
      {"A1:B2", ChartSheetArea{std::nullopt, "A1:B2"}},
      {"(S!A1,S!B1)", std::nullopt},
      {"S!A1,S!B1", std::nullopt},
      {"[1]S!A1", std::nullopt},
      {"'", std::nullopt},
      {"'S'x!A1", std::nullopt},
      {"'Sheet1", std::nullopt},
      {"'A:B'!A1", std::nullopt},
      {"A:B!A1", std::nullopt},
      {"!A1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(split_chart_reference(c.text), c.expected);
  }
}

TEST(ParseChartArea, NormalisedRelativeRanges) {
  const model::CellRange b2_c4{{1, 1, false, false}, {3, 2, false, false}};
  struct Case {
    std::string text;
    std::optional<model::CellRange> expected;
  };
  const std::vector<Case> cases = {
      {"B2:C4", b2_c4},
      {"$C$4:$B$2", b2_c4},
      {"C2:B4", b2_c4},
      {"$B$2", model::CellRange{{1, 1, false, false}, {1, 1, false, false}}},
      {"A:A", std::nullopt},
      {"Name", std::nullopt},
      {"", std::nullopt},
      {"A1:", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_chart_area(c.text), c.expected);
    EXPECT_EQ(parse_range_unanchored(c.text), c.expected);
  }
}

}  // namespace
}  // namespace cmx::charts
