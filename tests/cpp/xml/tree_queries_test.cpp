// Queries over element trees: the three name readings, namespace tests,
// searches, drawing classification, pivot sources and part relationships.
#include "xml/tree_queries.h"

#include <gtest/gtest.h>

#include "xml/element_tree.h"
#include "xml/pull_reader.h"

namespace cmx::xml {
namespace {

XmlElement tree(std::string_view text) {
  auto parsed = parse_xml_tree(text, STANDARD_ELEMENT_BUDGET);
  if (!parsed.has_value()) {
    ADD_FAILURE() << parse_error_message(parsed.error());
    return {};
  }
  return std::move(parsed->root);
}

constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

TEST(TreeLocalName, AfterTheLastColon) {
  EXPECT_EQ(tree_local_name("c:f"), "f");
  EXPECT_EQ(tree_local_name("f"), "f");
  EXPECT_EQ(tree_local_name("a:b:c"), "c");
  EXPECT_EQ(tree_local_name("a:"), "");
  // The streaming rule cuts at the first ":" instead.
  EXPECT_EQ(local_name("a:b:c"), "b:c");
}

TEST(LocalNameInNamespaces, Rules) {
  const NamespaceState bound{NamespaceStateKind::Bound, kMain};
  const NamespaceState other{NamespaceStateKind::Bound, "urn:other"};
  const NamespaceState unbound{NamespaceStateKind::Unbound, {}};
  const NamespaceState undeclared{NamespaceStateKind::DefaultUndeclared, {}};
  struct Case {
    std::string_view name;
    NamespaceState state;
    bool require;
    std::optional<std::string_view> expected;
  };
  const Case cases[] = {
      {"x:sheetData", bound, false, "sheetData"},
      {"sheetData", bound, true, "sheetData"},
      {"x:sheetData", other, false, std::nullopt},
      {"sheetData", unbound, false, "sheetData"},
      {"sheetData", unbound, true, std::nullopt},
      {"x:sheetData", unbound, false, std::nullopt},
      {"sheetData", undeclared, false, std::nullopt},
      {"a:b:c", bound, false, std::nullopt},
      {":f", bound, false, std::nullopt},
      {"f:", bound, false, std::nullopt},
      {":f", unbound, false, std::nullopt},
      {"", unbound, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(local_name_in_namespaces(c.name, c.state, kSpreadsheetMainNamespaces, c.require), c.expected);
  }
  EXPECT_EQ(local_name_in_namespaces("x:a", bound, {}, false), std::nullopt);
}

TEST(ElementLocalNameIs, NamespaceStates) {
  struct Case {
    std::string_view label;
    std::string_view text;
    bool expected;
  };
  const Case cases[] = {
      {"no declarations", "<sheetData/>", true},
      {"transitional default", "<sheetData xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>", true},
      {"strict prefix", "<x:sheetData xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"/>", true},
      {"empty default declaration", "<sheetData xmlns=\"\"/>", false},
      {"undeclared under a default", "<r xmlns=\"urn:z\"><sheetData xmlns=\"\"/></r>", false},
      {"unbound prefix", "<x:sheetData/>", false},
      {"other namespace", "<sheetData xmlns=\"urn:z\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    XmlElement root = tree(c.text);
    const XmlElement* element = root.name == "r" ? root.children[0].element() : &root;
    EXPECT_EQ(element_local_name_is(*element, kSpreadsheetMainNamespaces, "sheetData"), c.expected);
  }
}

TEST(AttributeQueries, ByLocalExactAndRelationship) {
  const XmlElement bound = tree(
      "<a xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" id=\"plain\" r:id=\"rId1\" "
      "x:count=\"2\" count=\"3\"/>");
  EXPECT_EQ(attribute_by_local_name(bound.attributes, "id"), "plain");
  EXPECT_EQ(count_attributes_by_local_name(bound.attributes, "count"), 2u);
  EXPECT_EQ(count_attributes_by_local_name(bound.attributes, "nothing"), 0u);
  EXPECT_EQ(relationship_attribute(bound.attributes, "id"), "rId1");
  EXPECT_EQ(tree_attribute_value(bound.attributes, "r", "id"), "rId1");
  EXPECT_EQ(tree_attribute_value(bound.attributes, std::nullopt, "id"), "plain");

  const XmlElement strict = tree("<a xmlns:r=\"http://purl.oclc.org/ooxml/officeDocument/relationships\" r:id=\"rId1\"/>");
  EXPECT_EQ(relationship_attribute(strict.attributes, "id"), std::nullopt);
  const XmlElement unprefixed = tree("<a id=\"rId1\"/>");
  EXPECT_EQ(relationship_attribute(unprefixed.attributes, "id"), std::nullopt);
  EXPECT_EQ(tree_attribute_value(unprefixed.attributes, "r", "id"), "rId1");
  const XmlElement other_prefix = tree("<a rel:id=\"rId9\"/>");
  EXPECT_EQ(tree_attribute_value(other_prefix.attributes, "r", "id"), std::nullopt);
  EXPECT_EQ(attribute_by_local_name(other_prefix.attributes, "id"), "rId9");
}

TEST(TreeSearch, ChildrenDescendantsAndBranches) {
  const XmlElement root = tree("<a>t<x:b n=\"1\"/><c><d><b n=\"2\"/></d></c><b n=\"3\"/></a>");
  const XmlElement* child = find_child_element(root.children, "b");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(attribute_by_local_name(child->attributes, "n"), "1");
  EXPECT_EQ(find_child_element(root.children, "d"), nullptr);
  const XmlElement* deep = find_descendant_element(root.children[2].element()->children, "b");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(attribute_by_local_name(deep->attributes, "n"), "2");

  // Levels 0..64 are searched; a tree of depth 64 holds nothing deeper.
  std::string text;
  for (int i = 0; i < 63; ++i) text += "<e>";
  text += "<hit/>";
  for (int i = 0; i < 63; ++i) text += "</e>";
  const XmlElement chain = tree(text);
  EXPECT_NE(find_descendant_element(chain.children, "hit"), nullptr);

  const XmlElement ac = tree(
      "<mc:AlternateContent xmlns:mc=\"m\"><mc:Choice Requires=\"x\">only text</mc:Choice>"
      "<mc:Fallback><xdr:pic xmlns:xdr=\"d\"/><second/></mc:Fallback></mc:AlternateContent>");
  const XmlElement* first = alternate_content_first_branch(ac.children);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->name, "xdr:pic");
  EXPECT_EQ(alternate_content_first_branch(tree("<a><Other><x/></Other></a>").children), nullptr);
}

TEST(CollectTreeText, DescendsInOrder) {
  const XmlElement root = tree("<a>1<b>2<c>3</c></b>4<![CDATA[5]]></a>");
  std::string out = "0";
  collect_tree_text(root, out);
  EXPECT_EQ(out, "012345");
}

TEST(TreeNamesWellformed, NamesAndAttributes) {
  EXPECT_TRUE(tree_names_wellformed(tree("<a:b x=\"1\" y:z=\"2\"><c/></a:b>")));
  EXPECT_FALSE(tree_names_wellformed(tree("<a:b:c/>")));
  EXPECT_FALSE(tree_names_wellformed(tree("<a><b x:=\"1\"/></a>")));
  EXPECT_FALSE(tree_names_wellformed(tree("<a><:b/></a>")));
}

TEST(ClassifyDrawingObject, Kinds) {
  const std::string xdr = "xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\"";
  auto frame = [&](std::string_view uri_attr) {
    return "<xdr:graphicFrame " + xdr + "><a:graphic xmlns:a=\"g\"><a:graphicData " + std::string(uri_attr) +
           "/></a:graphic></xdr:graphicFrame>";
  };
  struct Case {
    std::string label;
    std::string text;
    DrawingObjectKind expected;
  };
  const Case cases[] = {
      {"shape", "<xdr:sp " + xdr + "/>", DrawingObjectKind::Shape},
      {"picture", "<xdr:pic " + xdr + "/>", DrawingObjectKind::Picture},
      {"group", "<xdr:grpSp " + xdr + "/>", DrawingObjectKind::Group},
      {"connector", "<xdr:cxnSp " + xdr + "/>", DrawingObjectKind::Connector},
      {"content part", "<xdr:contentPart " + xdr + "/>", DrawingObjectKind::ContentPart},
      {"chart", frame("uri=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""), DrawingObjectKind::Chart},
      {"chartex", frame("uri=\"http://schemas.microsoft.com/office/drawing/2014/chartex\""), DrawingObjectKind::Chart},
      {"diagram", frame("uri=\"http://schemas.openxmlformats.org/drawingml/2006/diagram\""), DrawingObjectKind::Diagram},
      {"frame without uri", frame(""), DrawingObjectKind::GraphicFrame},
      {"frame with other uri", frame("uri=\"urn:x\""), DrawingObjectKind::GraphicFrame},
      {"frame without data", "<xdr:graphicFrame " + xdr + "/>", DrawingObjectKind::GraphicFrame},
      {"strict pic", "<xdr:pic xmlns:xdr=\"http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing\"/>",
       DrawingObjectKind::NotDrawing},
      {"no namespace", "<pic/>", DrawingObjectKind::NotDrawing},
      {"other name", "<xdr:clientData " + xdr + "/>", DrawingObjectKind::NotDrawing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(classify_drawing_object(tree(c.text)), c.expected);
  }
}

TEST(WorksheetSourceRange, Table) {
  struct Case {
    std::string_view attributes;
    std::optional<std::pair<std::string, model::CellRef>> expected;
  };
  const Case cases[] = {
      {"sheet=\"Data\" ref=\"C5:A1\"", std::make_pair(std::string("Data"), model::CellRef{4, 2, false, false})},
      {"ref=\"$B$2\" sheet=\"S\"", std::make_pair(std::string("S"), model::CellRef{1, 1, false, false})},
      {"sheet=\"Data\" ref=\"A1:\"", std::nullopt},
      {"sheet=\"Data\" ref=\"A1\" name=\"N\"", std::nullopt},
      {"sheet=\"Data\" ref=\"A1\" r:id=\"rId1\"", std::nullopt},
      {"ref=\"A1\"", std::nullopt},
      {"sheet=\"Data\"", std::nullopt},
      {"sheet=\"Data\" ref=\"A1\" x:sheet=\"Other\" xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"",
       std::nullopt},
      {"sheet=\"Data\" ref=\"A1\" q:ref=\"B2\"", std::make_pair(std::string("Data"), model::CellRef{0, 0, false, false})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    const XmlElement element = tree("<worksheetSource " + std::string(c.attributes) + "/>");
    EXPECT_EQ(worksheet_source_range(element.attributes), c.expected);
  }
}

TEST(PartRelationships, ResolvedAndLowered) {
  const std::vector<opc::PackagePart> parts = {
      {"xl/drawings/_rels/drawing1.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"t/chart\" Target=\"../charts/Chart1.xml\"/>"
       "<Relationship Id=\"rId2\" Type=\"t/image\" Target=\"/xl/Media/Image1.PNG\"/>"
       "<Relationship Id=\"rId3\" Target=\"http://x\" TargetMode=\"EXTERNAL\"/>"
       "<Relationship Id=\"rId4\" Target=\"no-type.xml\"/>"
       "<Relationship Target=\"no-id.xml\"/>"
       "<o:Relationship xmlns:o=\"urn:other\" Id=\"rId5\" Target=\"other.xml\"/>"
       "</Relationships>"},
      {"_rels/top.xml.rels", "<Relationships><Relationship Id=\"a\" Target=\"B.xml\"/></Relationships>"},
      {"xl/broken/_rels/p.xml.rels", "<Relationships>"},
  };
  const std::vector<Relationship> expected = {
      {"rId1", "t/chart", "xl/charts/chart1.xml"},
      {"rId2", "t/image", "xl/media/image1.png"},
      {"rId4", "", "xl/drawings/no-type.xml"},
  };
  EXPECT_EQ(part_relationships(parts, "xl/drawings/drawing1.xml"), expected);
  EXPECT_EQ(part_relationships(parts, "top.xml"), (std::vector<Relationship>{{"a", "", "b.xml"}}));
  EXPECT_TRUE(part_relationships(parts, "xl/broken/p.xml").empty());
  EXPECT_TRUE(part_relationships(parts, "xl/missing.xml").empty());
}

}  // namespace
}  // namespace cmx::xml
