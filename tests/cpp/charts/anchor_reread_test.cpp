#include "charts/anchor_reread.h"

#include <gtest/gtest.h>

#include "charts/drawing.h"
#include "test_util.h"
#include "xml/part_decoding.h"

namespace cmx::charts {
namespace {

constexpr std::string_view kOpen =
    R"(<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing">)";

struct Marker {
  xml::DecodedPart part;
  xml::XmlTree tree;
  const xml::XmlElement* element = nullptr;
};

// The first element child of the root of `<xdr:wsDr>` + body.
Marker parse_marker(const std::string& body) {
  Marker m;
  m.part = xml::DecodedPart{std::string(kOpen) + body + "</xdr:wsDr>"};
  auto tree = xml::parse_xml_tree(m.part.text, xml::STANDARD_ELEMENT_BUDGET);
  EXPECT_TRUE(tree.has_value()) << m.part.text;
  if (!tree) return m;
  m.tree = std::move(*tree);
  for (const xml::XmlNode& node : m.tree.root.children) {
    if (node.element() != nullptr) {
      m.element = node.element();
      break;
    }
  }
  return m;
}

std::string apply(const Marker& m, std::vector<xml::SpanEdit> edits) {
  sort_span_edits(edits);
  auto bytes = xml::apply_span_rewrites(m.part, edits);
  EXPECT_TRUE(bytes.has_value());
  return bytes.has_value() ? std::string(*bytes).substr(kOpen.size()) : std::string();
}

TEST(AnchorReread, PatchesOnlyTheNumbersThatChanged) {
  const std::string full =
      "<xdr:from>\n  <xdr:col>2</xdr:col><xdr:colOff>0</xdr:colOff>\n  <xdr:row> 5 </xdr:row>"
      "<xdr:rowOff>0</xdr:rowOff></xdr:from>";
  struct Case {
    const char* name;
    std::string marker;
    model::AnchorCell cell;
    size_t edits;
    std::string expected;  // the body after the edits
  };
  const std::vector<Case> cases = {
      {"already equal", full, {2, 0, 5, 0}, 0, full},
      {"three rows down", full, {2, 0, 8, 0}, 1,
       "<xdr:from>\n  <xdr:col>2</xdr:col><xdr:colOff>0</xdr:colOff>\n  <xdr:row>8</xdr:row>"
       "<xdr:rowOff>0</xdr:rowOff></xdr:from>"},
      {"plus sign reads as the number", "<xdr:from><xdr:col>2</xdr:col><xdr:row>+5</xdr:row></xdr:from>",
       {2, 0, 5, 0}, 0, "<xdr:from><xdr:col>2</xdr:col><xdr:row>+5</xdr:row></xdr:from>"},
      {"missing offset that stays 0", "<xdr:from><xdr:col>2</xdr:col><xdr:row>5</xdr:row></xdr:from>", {2, 0, 5, 0}, 0,
       "<xdr:from><xdr:col>2</xdr:col><xdr:row>5</xdr:row></xdr:from>"},
      {"missing offset that changes rebuilds the marker",
       "<xdr:from><xdr:col>2</xdr:col><xdr:row>5</xdr:row></xdr:from>", {2, 9525, 6, -9525}, 1,
       "<xdr:from><xdr:col>2</xdr:col><xdr:colOff>9525</xdr:colOff><xdr:row>6</xdr:row>"
       "<xdr:rowOff>-9525</xdr:rowOff></xdr:from>"},
      {"no prefix, no prefix when rebuilt", "<from><col>1</col><row>1</row></from>", {1, 7, 1, 0}, 1,
       "<from><col>1</col><colOff>7</colOff><row>1</row><rowOff>0</rowOff></from>"},
      {"column and offset", full, {3, -12, 5, 0}, 2,
       "<xdr:from>\n  <xdr:col>3</xdr:col><xdr:colOff>-12</xdr:colOff>\n  <xdr:row> 5 </xdr:row>"
       "<xdr:rowOff>0</xdr:rowOff></xdr:from>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Marker m = parse_marker(c.marker);
    ASSERT_NE(m.element, nullptr);
    std::vector<xml::SpanEdit> edits;
    ASSERT_TRUE(reread_chart_anchors(m.element, c.cell, edits).has_value());
    EXPECT_EQ(edits.size(), c.edits);
    EXPECT_EQ(apply(m, edits), c.expected + "</xdr:wsDr>");
    // What the edits make reads back as the new marker.
    const Marker after = parse_marker(c.expected);
    ASSERT_NE(after.element, nullptr);
    std::vector<xml::SpanEdit> none;
    ASSERT_TRUE(reread_chart_anchors(after.element, c.cell, none).has_value());
    EXPECT_TRUE(none.empty());
  }
}

TEST(AnchorReread, RefusesWithoutAppending) {
  struct Case {
    const char* name;
    std::string marker;
    model::AnchorCell cell;
    SpreadsheetParseError error;
  };
  const std::vector<Case> cases = {
      {"not a number", "<xdr:from><xdr:col>x</xdr:col><xdr:row>1</xdr:row></xdr:from>", {1, 0, 1, 0},
       SpreadsheetParseError::malformed("invalid chart anchor col")},
      {"sign alone", "<xdr:from><xdr:col>1</xdr:col><xdr:row>-</xdr:row></xdr:from>", {1, 0, 1, 0},
       SpreadsheetParseError::malformed("invalid chart anchor row")},
      {"overflow", "<xdr:from><xdr:col>1</xdr:col><xdr:colOff>9223372036854775808</xdr:colOff></xdr:from>",
       {1, 0, 1, 0}, SpreadsheetParseError::malformed("invalid chart anchor colOff")},
      {"self-closing child", "<xdr:from><xdr:col>1</xdr:col><xdr:row/></xdr:from>", {1, 0, 2, 0},
       SpreadsheetParseError::malformed("invalid chart anchor row")},
      {"self-closing marker", "<xdr:from/>", {1, 0, 0, 0},
       SpreadsheetParseError::unsupported_edit("a self-closing chart anchor cannot be moved")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Marker m = parse_marker(c.marker);
    ASSERT_NE(m.element, nullptr);
    std::vector<xml::SpanEdit> edits = {xml::SpanEdit{0, 0, xml::RawMarkup{"kept"}}};
    const auto result = reread_chart_anchors(m.element, c.cell, edits);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error);
    EXPECT_EQ(edits.size(), 1u);
  }
  std::vector<xml::SpanEdit> edits;
  EXPECT_TRUE(reread_chart_anchors(nullptr, model::AnchorCell{4, 0, 4, 0}, edits).has_value());
  EXPECT_TRUE(edits.empty());
}

TEST(AnchorReread, SortKeepsEqualStartsInOrder) {
  std::vector<xml::SpanEdit> edits = {{9, 9, xml::RawMarkup{"c"}},
                                      {2, 2, xml::RawMarkup{"a"}},
                                      {9, 9, xml::RawMarkup{"d"}},
                                      {2, 2, xml::RawMarkup{"b"}}};
  sort_span_edits(edits);
  std::string order;
  for (const xml::SpanEdit& edit : edits) order += std::get<xml::RawMarkup>(edit.replacement).text;
  EXPECT_EQ(order, "abcd");
}

// A two-cell anchor moved by three rows: after both markers are patched the
// drawing reads back as the moved anchor.
TEST(AnchorReread, MovedTwoCellAnchorReadsBack) {
  const std::string body =
      "<xdr:twoCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>2</xdr:row>"
      "<xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>6</xdr:col><xdr:colOff>0</xdr:colOff>"
      "<xdr:row>12</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to><xdr:clientData/></xdr:twoCellAnchor>";
  const Marker m = parse_marker(body);
  ASSERT_NE(m.element, nullptr);
  model::TwoCellAnchor moved{model::ChartAnchorEditMode::TwoCell, {1, 0, 5, 0}, {6, 0, 15, 0}};
  std::vector<xml::SpanEdit> edits;
  ASSERT_TRUE(reread_chart_anchors(xml::find_child_element(m.element->children, "from"), moved.from, edits));
  ASSERT_TRUE(reread_chart_anchors(xml::find_child_element(m.element->children, "to"), moved.to, edits));
  std::string patched = apply(m, edits);
  patched.resize(patched.size() - std::string_view("</xdr:wsDr>").size());
  const Marker after = parse_marker(patched);
  ASSERT_NE(after.element, nullptr);
  const auto anchor = read_chart_anchor(*after.element);
  ASSERT_TRUE(anchor.has_value());
  EXPECT_EQ(*anchor, model::ChartAnchor(moved));
}

}  // namespace
}  // namespace cmx::charts
