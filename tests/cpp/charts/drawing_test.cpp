#include "charts/drawing.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace cmx::charts {
namespace {

using model::ChartAnchor;
using opc::PackagePart;

constexpr std::string_view kXdr = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr std::string_view kRelTypes = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string wsdr(const std::string& body, std::string_view ns = kXdr) {
  return "<xdr:wsDr xmlns:xdr=\"" + std::string(ns) +
         "\" xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
         body + "</xdr:wsDr>";
}

std::string marker(const char* name, const std::string& col, const std::string& row,
                   const std::string& extra = "") {
  return std::string("<xdr:") + name + "><xdr:col>" + col + "</xdr:col>" + extra + "<xdr:row>" + row +
         "</xdr:row></xdr:" + name + ">";
}

std::string chart_frame(const std::string& id_attr) {
  return "<xdr:graphicFrame><a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
         "<a:graphicData><c:chart " +
         id_attr + "/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>";
}

std::string two_cell(const std::string& from_col, const std::string& body, const std::string& attrs = "") {
  return "<xdr:twoCellAnchor" + attrs + ">" + marker("from", from_col, "1") + marker("to", "5", "10") + body +
         "</xdr:twoCellAnchor>";
}

xml::XmlTree tree_of(const std::string& text) {
  auto tree = xml::parse_xml_tree(text, xml::STANDARD_ELEMENT_BUDGET);
  EXPECT_TRUE(tree.has_value()) << text;
  return tree.has_value() ? std::move(*tree) : xml::XmlTree{};
}

Result<ChartAnchor, SpreadsheetParseError> anchor_of(const std::string& anchor) {
  const xml::XmlTree tree = tree_of(wsdr(anchor));
  const xml::XmlElement* element = tree.root.children.front().element();
  return read_chart_anchor(*element);
}

TEST(ChartAnchors, CellsAndOffsets) {
  struct Case {
    const char* label;
    std::string col;
    std::string extra;
    std::optional<model::AnchorCell> from;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"spaces", " 12 ", "", model::AnchorCell{12, 0, 1, 0}, ""},
      {"plus", "+12", "", model::AnchorCell{12, 0, 1, 0}, ""},
      {"negative offset", "2", "<xdr:colOff>-9525</xdr:colOff>", model::AnchorCell{2, -9525, 1, 0}, ""},
      {"minus col", "-1", "", std::nullopt, "malformed spreadsheetml: invalid chart anchor col"},
      {"past the grid", "16384", "", std::nullopt, "malformed spreadsheetml: invalid chart anchor col"},
      {"last column", "16383", "", model::AnchorCell{16383, 0, 1, 0}, ""},
      {"sign only", "+", "", std::nullopt, "malformed spreadsheetml: invalid chart anchor col"},
      {"bad offset", "1", "<xdr:colOff>1.5</xdr:colOff>", std::nullopt,
       "malformed spreadsheetml: invalid chart anchor colOff"},
      {"offset overflow", "1", "<xdr:colOff>9223372036854775808</xdr:colOff>", std::nullopt,
       "malformed spreadsheetml: invalid chart anchor colOff"},
      {"lowest offset", "1", "<xdr:colOff>-9223372036854775808</xdr:colOff>",
       model::AnchorCell{1, INT64_MIN, 1, 0}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string anchor = "<xdr:oneCellAnchor>" + marker("from", c.col, "1", c.extra) +
                               "<xdr:ext cx=\"10\" cy=\"20\"/></xdr:oneCellAnchor>";
    auto read = anchor_of(anchor);
    if (c.from) {
      ASSERT_TRUE(read.has_value()) << xml::parse_error_message(read.error());
      const auto& one = std::get<model::OneCellAnchor>(*read);
      EXPECT_EQ(one.from, *c.from);
      EXPECT_EQ(one.extent, (model::AnchorExtent{10, 20}));
    } else {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(xml::parse_error_message(read.error()), c.message);
    }
  }
}

TEST(ChartAnchors, KindsAndTheirFailures) {
  struct Case {
    const char* label;
    std::string anchor;
    std::string message;  // empty: reads
  };
  const std::vector<Case> cases = {
      {"row limit", "<xdr:oneCellAnchor>" + marker("from", "0", "1048575") + "<xdr:ext cx=\"1\" cy=\"1\"/></xdr:oneCellAnchor>", ""},
      {"row past", "<xdr:oneCellAnchor>" + marker("from", "0", "1048576") + "<xdr:ext cx=\"1\" cy=\"1\"/></xdr:oneCellAnchor>",
       "malformed spreadsheetml: invalid chart anchor row"},
      {"no to", "<xdr:twoCellAnchor>" + marker("from", "0", "0") + "</xdr:twoCellAnchor>",
       "malformed spreadsheetml: chart anchor has no cell"},
      {"no ext", "<xdr:oneCellAnchor>" + marker("from", "0", "0") + "</xdr:oneCellAnchor>",
       "malformed spreadsheetml: chart anchor has no extent"},
      {"no pos", "<xdr:absoluteAnchor><xdr:ext cx=\"1\" cy=\"1\"/></xdr:absoluteAnchor>",
       "malformed spreadsheetml: absolute chart anchor has no position"},
      {"bad cy", "<xdr:absoluteAnchor><xdr:pos x=\"1\" y=\"2\"/><xdr:ext cx=\"1\"/></xdr:absoluteAnchor>",
       "malformed spreadsheetml: invalid chart anchor cy"},
      {"editAs case", two_cell("0", "", " editAs=\"OneCell\""),
       "malformed spreadsheetml: invalid chart editAs value OneCell"},
      {"one-cell ignores editAs",
       "<xdr:oneCellAnchor editAs=\"bogus\">" + marker("from", "0", "0") + "<xdr:ext cx=\"1\" cy=\"1\"/></xdr:oneCellAnchor>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto read = anchor_of(c.anchor);
    if (c.message.empty()) {
      EXPECT_TRUE(read.has_value());
    } else {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(xml::parse_error_message(read.error()), c.message);
    }
  }
  auto absolute = anchor_of("<xdr:absoluteAnchor><xdr:pos x=\"-5\" y=\"7\"/><xdr:ext cx=\"100\" cy=\"200\"/></xdr:absoluteAnchor>");
  ASSERT_TRUE(absolute.has_value());
  EXPECT_EQ(*absolute, ChartAnchor(model::AbsoluteAnchor{{-5, 7}, {100, 200}}));
  auto two = anchor_of(two_cell("3", "", " editAs=\"absolute\""));
  ASSERT_TRUE(two.has_value());
  EXPECT_EQ(*two, ChartAnchor(model::TwoCellAnchor{model::ChartAnchorEditMode::Absolute, {3, 0, 1, 0}, {5, 0, 10, 0}}));
}

TEST(DrawingParts, AnchorsAndChartLinks) {
  const std::string body = two_cell("0", "<xdr:pic/>") + "<mc:AlternateContent xmlns:mc=\"urn:mc\">" +
                           two_cell("1", chart_frame("r:id=\"rId9\"")) + "</mc:AlternateContent>" +
                           two_cell("2", chart_frame("id=\"rId2\"")) + two_cell("3", chart_frame("r:id=\"rId1\""));
  auto anchors = read_drawing_part(tree_of(wsdr(body)).root);
  ASSERT_TRUE(anchors.has_value());
  ASSERT_EQ(anchors->size(), 3u);
  EXPECT_EQ((*anchors)[0].chart, ChartLink(NoChart{}));
  EXPECT_EQ((*anchors)[1].chart, ChartLink(ChartWithoutId{}));
  EXPECT_EQ((*anchors)[2].chart, ChartLink(std::string("rId1")));

  auto strict = read_drawing_part(
      tree_of(wsdr(body, "http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing")).root);
  ASSERT_TRUE(strict.has_value());
  EXPECT_TRUE(strict->empty());
}

TEST(DrawingParts, TheAnchorCapIsExact) {
  for (const size_t count : {size_t{4096}, size_t{4097}}) {
    SCOPED_TRACE(count);
    std::string body;
    for (size_t i = 0; i < count; ++i) body += two_cell("0", "");
    auto anchors = read_drawing_part(tree_of(wsdr(body)).root);
    if (count == 4096) {
      ASSERT_TRUE(anchors.has_value());
      EXPECT_EQ(anchors->size(), count);
    } else {
      EXPECT_THAT(anchors, FailsWithKind(xml::ParseErrorKind::TooManyCharts));
    }
  }
}

std::string rels(const std::vector<std::tuple<std::string, std::string, std::string>>& entries) {
  std::string out = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& [id, type, target] : entries) {
    out += "<Relationship Id=\"" + id + "\" Type=\"" + std::string(kRelTypes) + type + "\" Target=\"" + target +
           "\"/>";
  }
  return out + "</Relationships>";
}

std::string chart_space(const std::string& ns = "http://schemas.openxmlformats.org/drawingml/2006/chart") {
  return "<c:chartSpace xmlns:c=\"" + ns +
         "\"><c:chart><c:plotArea><c:barChart><c:ser><c:tx><c:strRef><c:f>Sheet1!$B$1</c:f></c:strRef></c:tx>"
         "<c:val><c:numRef><c:f>Sheet1!$B$2:$B$4</c:f></c:numRef></c:val></c:ser></c:barChart></c:plotArea>"
         "</c:chart></c:chartSpace>";
}

struct Package {
  std::vector<PackagePart> parts;
  void add(std::string name, std::string bytes) { parts.push_back(PackagePart{std::move(name), std::move(bytes)}); }
};

TEST(SheetCharts, FollowsDrawingsToCharts) {
  Package pkg;
  pkg.add("xl/worksheets/_rels/sheet1.xml.rels",
          rels({{"rId1", "drawing", "../drawings/drawing1.xml"}, {"rId2", "drawing", "/xl/drawings/drawing1.xml"},
                {"rId3", "drawing", "../drawings/missing.xml"}}));
  pkg.add("xl/drawings/drawing1.xml",
          wsdr(two_cell("0", "<xdr:sp/>") + two_cell("1", chart_frame("r:id=\"rId1\"")) +
               two_cell("2", chart_frame("r:id=\"rId1\"")) + two_cell("3", chart_frame("r:id=\"rId5\"")) +
               two_cell("4", chart_frame("r:id=\"rId2\"")) + two_cell("5", chart_frame("r:id=\"rId3\"")) +
               two_cell("6", chart_frame(""))));
  pkg.add("xl/drawings/_rels/drawing1.xml.rels",
          rels({{"rId1", "chart", "../charts/chart1.xml"}, {"rId2", "chart", "../charts/strict.xml"},
                {"rId3", "chart", "../charts/absent.xml"}, {"rId5", "image", "../media/image1.png"}}));
  pkg.add("xl/charts/chart1.xml", chart_space());
  pkg.add("xl/charts/strict.xml", chart_space("http://purl.oclc.org/ooxml/drawingml/chart"));
  std::vector<std::string> unread = {"earlier"};
  auto charts = read_sheet_charts(pkg.parts, "xl/worksheets/sheet1.xml", unread);
  ASSERT_TRUE(charts.has_value()) << xml::parse_error_message(charts.error());
  ASSERT_EQ(charts->size(), 2u);
  EXPECT_EQ((*charts)[0].part, "xl/charts/chart1.xml");
  EXPECT_EQ((*charts)[0].drawing, "xl/drawings/drawing1.xml");
  EXPECT_EQ((*charts)[0].anchor_index, 1u);
  EXPECT_EQ((*charts)[1].anchor_index, 2u);
  ASSERT_EQ((*charts)[0].refs.size(), 2u);
  EXPECT_EQ((*charts)[0].refs[0], (model::ChartReference{model::ChartReferenceKind::SeriesName, "Sheet1!$B$1"}));
  EXPECT_EQ((*charts)[0].refs[1], (model::ChartReference{model::ChartReferenceKind::Values, "Sheet1!$B$2:$B$4"}));
  EXPECT_EQ(std::get<model::TwoCellAnchor>((*charts)[1].anchor).from.col, 2u);
  EXPECT_EQ(unread, (std::vector<std::string>{"earlier", "xl/drawings/drawing1.xml", "xl/charts/strict.xml",
                                              "xl/charts/absent.xml", "xl/drawings/drawing1.xml"}));
}

TEST(SheetCharts, WhatFailsTheSheetAndWhatIsListed) {
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> parts;
    bool fails;
    std::vector<std::string> unread;
  };
  const std::string sheet_rels = rels({{"rId1", "drawing", "../drawings/d.xml"}});
  const std::vector<Case> cases = {
      {"no relationships", {}, false, {}},
      {"no drawing relationship", {{"xl/worksheets/_rels/s.xml.rels", rels({{"rId1", "hyperlink", "x"}})}}, false, {}},
      {"broken sheet relationships", {{"xl/worksheets/_rels/s.xml.rels", "<Relationships>"}}, true, {}},
      {"broken drawing relationships",
       {{"xl/worksheets/_rels/s.xml.rels", sheet_rels}, {"xl/drawings/d.xml", wsdr("")},
        {"xl/drawings/_rels/d.xml.rels", "<a></b>"}},
       true, {}},
      {"unparsable drawing", {{"xl/worksheets/_rels/s.xml.rels", sheet_rels}, {"xl/drawings/d.xml", "<a>"}}, false,
       {"xl/drawings/d.xml"}},
      {"bad anchor",
       {{"xl/worksheets/_rels/s.xml.rels", sheet_rels},
        {"xl/drawings/d.xml", wsdr(two_cell("x", chart_frame("r:id=\"rId1\"")))}},
       false, {"xl/drawings/d.xml"}},
      {"strict drawing",
       {{"xl/worksheets/_rels/s.xml.rels", sheet_rels},
        {"xl/drawings/d.xml", wsdr(two_cell("1", ""), "http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing")}},
       false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Package pkg;
    for (const auto& [name, bytes] : c.parts) pkg.add(name, bytes);
    std::vector<std::string> unread;
    auto charts = read_sheet_charts(pkg.parts, "xl/worksheets/s.xml", unread);
    EXPECT_EQ(charts.has_value(), !c.fails);
    if (charts.has_value()) {
      EXPECT_TRUE(charts->empty());
    }
    EXPECT_EQ(unread, c.unread);
  }
}

TEST(SheetCharts, TheSheetChartCapIsExact) {
  for (const size_t per_drawing : {size_t{2048}, size_t{2049}}) {
    SCOPED_TRACE(per_drawing);
    Package pkg;
    pkg.add("xl/worksheets/_rels/sheet1.xml.rels",
            rels({{"rId1", "drawing", "../drawings/a.xml"}, {"rId2", "drawing", "../drawings/b.xml"}}));
    std::string body;
    for (size_t i = 0; i < per_drawing; ++i) body += two_cell("0", chart_frame("r:id=\"rId1\""));
    for (const char* name : {"a", "b"}) {
      pkg.add(std::string("xl/drawings/") + name + ".xml", wsdr(body));
      pkg.add(std::string("xl/drawings/_rels/") + name + ".xml.rels", rels({{"rId1", "chart", "../charts/c.xml"}}));
    }
    pkg.add("xl/charts/c.xml", chart_space());
    std::vector<std::string> unread;
    auto charts = read_sheet_charts(pkg.parts, "xl/worksheets/sheet1.xml", unread);
    if (per_drawing == 2048) {
      ASSERT_TRUE(charts.has_value());
      EXPECT_EQ(charts->size(), 4096u);
    } else {
      EXPECT_THAT(charts, FailsWithKind(xml::ParseErrorKind::TooManyCharts));
    }
  }
}

TEST(ChartRelationshipIds, CountsEveryChartElement) {
  const xml::XmlTree tree = tree_of(wsdr(two_cell("0", chart_frame("r:id=\"rId1\"")) + two_cell("1", chart_frame("")) +
                                         "<c:chart r:id=\"a\" r:foo=\"b\" xmlns:r2=\"x\"/>"));
  EXPECT_EQ(count_chart_relationship_ids(tree.root, 0), 3u);
  EXPECT_EQ(count_chart_relationship_ids(tree.root, 65), UINT64_MAX);
}

TEST(RelationshipsPart, InternalOnesInOrder) {
  const std::string text =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"b\" Type=\"t/x\" Target=\"x.xml\"/>"
      "<Relationship Id=\"a\" Type=\"t/y\" Target=\"http://e\" TargetMode=\"External\"/>"
      "<Relationship Id=\"c\" Type=\"t/z\" Target=\"z.xml\"/></Relationships>";
  auto list = parse_relationships_part(text);
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].id, "b");
  EXPECT_EQ((*list)[1].target, "z.xml");
  EXPECT_FALSE(parse_relationships_part("<a>").has_value());
}

}  // namespace
}  // namespace cmx::charts

namespace cmx::charts {
namespace {

// One drawing of many chart anchors, named by 200 sheets: the workbook's
// cache parses the drawing and its chart once, not once per sheet.
TEST(SheetCharts, ADrawingNamedBySheetsIsParsedOncePerWorkbook) {
  const std::string kRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  auto rel = [&](const std::string& type, const std::string& target) {
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
           "Id=\"rId1\" Type=\"" + kRels + type + "\" Target=\"" + target + "\"/></Relationships>";
  };
  std::string anchors;
  for (int i = 0; i < 50; ++i) anchors += two_cell("0", chart_frame("r:id=\"rId1\""));
  std::vector<PackagePart> parts{
      {"xl/drawings/drawing1.xml", wsdr(anchors)},
      {"xl/drawings/_rels/drawing1.xml.rels", rel("chart", "../charts/chart1.xml")},
      {"xl/charts/chart1.xml", chart_space()},
  };
  for (int i = 1; i <= 200; ++i) {
    parts.push_back({"xl/worksheets/_rels/sheet" + std::to_string(i) + ".xml.rels",
                     rel("drawing", "../drawings/drawing1.xml")});
  }
  const opc::PartIndex index(parts);
  DrawingCache cache;
  std::vector<std::string> unread;
  for (int i = 1; i <= 200; ++i) {
    auto charts = read_sheet_charts(index, "xl/worksheets/sheet" + std::to_string(i) + ".xml", cache, unread);
    ASSERT_TRUE(charts.has_value());
    ASSERT_EQ(charts->size(), 50u);
    EXPECT_EQ((*charts)[49].anchor_index, 49u);
  }
  EXPECT_EQ(cache.parsed_parts, 2u);
  EXPECT_TRUE(unread.empty());
}

// A drawing no sheet can read is listed once, by the first sheet that names it.
TEST(SheetCharts, AnUnreadableDrawingIsListedOncePerWorkbook) {
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                           "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                           "relationships/drawing\" Target=\"../drawings/d.xml\"/></Relationships>";
  const std::vector<PackagePart> parts{{"xl/drawings/d.xml", "<broken"},
                                       {"xl/worksheets/_rels/a.xml.rels", rels},
                                       {"xl/worksheets/_rels/b.xml.rels", rels}};
  const opc::PartIndex index(parts);
  DrawingCache cache;
  std::vector<std::string> unread;
  ASSERT_TRUE(read_sheet_charts(index, "xl/worksheets/a.xml", cache, unread).has_value());
  ASSERT_TRUE(read_sheet_charts(index, "xl/worksheets/b.xml", cache, unread).has_value());
  EXPECT_EQ(unread, std::vector<std::string>{"xl/drawings/d.xml"});
  EXPECT_EQ(cache.parsed_parts, 1u);
}

}  // namespace
}  // namespace cmx::charts
