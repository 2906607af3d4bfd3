// Part keys, relationship-part names, content-type lookup, relationship
// types and attribute-list edits.
#include "opc/part_names.h"

#include <gtest/gtest.h>

#include "opc/relationships.h"

namespace cmx::opc {
namespace {

TEST(PartNames, KeysAndRelsNames) {
  struct Case {
    std::string_view name;
    std::string_view key;
    std::string_view rels;
  };
  const Case cases[] = {
      {"/XL/Workbook.xml", "xl/workbook.xml", "/XL/_rels/Workbook.xml.rels"},
      {"//xl/Book.xml", "xl/book.xml", "//xl/_rels/Book.xml.rels"},
      {"\xC3\x84/B.xml", "\xC3\x84/b.xml", "\xC3\x84/_rels/B.xml.rels"},
      {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml", "xl/worksheets/_rels/sheet1.xml.rels"},
      {"[Content_Types].xml", "[content_types].xml", "_rels/[Content_Types].xml.rels"},
      {"/a.xml", "a.xml", "/_rels/a.xml.rels"},
      {"X\\Y.xml", "x\\y.xml", "_rels/X\\Y.xml.rels"},
      {"", "", "_rels/.rels"},
      {"///", "", "///_rels/.rels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(part_name_key(c.name), c.key);
    EXPECT_EQ(rels_part_name(c.name), c.rels);
  }
}

ContentTypeEntry def(std::string ext, std::string type) {
  return {"Default", {{"Extension", std::move(ext)}, {"ContentType", std::move(type)}}};
}
ContentTypeEntry over(std::string part, std::string type) {
  return {"Override", {{"PartName", std::move(part)}, {"ContentType", std::move(type)}}};
}

TEST(ContentTypes, OverridesThenDefaults) {
  const std::vector<ContentTypeEntry> entries{
      def("xml", "application/xml"),
      def("PNG", "image/png"),
      {"Override", {{"PartName", "/xl/styles.xml"}}},  // no ContentType: passed over
      over("/XL/WORKBOOK.XML", "wb"),
      over("/xl/styles.xml", "styles"),
      over("/xl/workbook.xml", "second"),
      {"Override", {{"x:PartName", "/xl/a.bin"}, {"PartName", "/xl/b.bin"}, {"ct:ContentType", "first-part-name"}}},
      {"Default", {{"Extension", "bin"}}},
      def("bin", "octet"),
      {"override", {{"PartName", "/xl/c.xml"}, {"ContentType", "lower-kind"}}},
  };
  struct Case {
    std::string_view name;
    std::optional<std::string_view> type;
  };
  const Case cases[] = {
      {"xl/workbook.xml", "wb"},              // key match regardless of case and slash
      {"/xl/workbook.xml", "wb"},
      {"xl/styles.xml", "styles"},            // a later override answers
      {"xl/worksheets/sheet1.xml", "application/xml"},
      {"xl/media/image1.PNG", "image/png"},
      {"xl/media/image1.png", "image/png"},
      {"xl/a.bin", "first-part-name"},        // only the first PartName counts
      {"xl/b.bin", "octet"},                  // ... so b.bin falls to the defaults
      {"xl/c.xml", "application/xml"},        // kind is compared exactly
      {"xl/noext", std::nullopt},
      {"x.d/file", std::nullopt},             // extension "d/file"
  };
  const ContentTypeIndex index(entries);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(content_type_for_part(entries, c.name), c.type);
    EXPECT_EQ(index.content_type(c.name), c.type);
  }
  EXPECT_EQ(keyed_content_type(entries, "/XL/Workbook.xml"),
            (std::make_pair(std::string("xl/workbook.xml"), std::string("wb"))));
  EXPECT_EQ(index.keyed("/XL/Workbook.xml"), keyed_content_type(entries, "/XL/Workbook.xml"));
  EXPECT_EQ(keyed_content_type(entries, "xl/noext"), std::nullopt);
  EXPECT_EQ(content_type_for_part({def("XML", "upper")}, "xl/worksheets/sheet1.xml"), "upper");
}

TEST(RelationshipTypes, LastSegmentDecides) {
  const std::string transitional = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
  const std::string strict = "http://purl.oclc.org/ooxml/officeDocument/relationships/worksheet";
  struct Case {
    std::string_view label;
    AttributeList attrs;
    std::string_view word;
    bool expected;
  };
  const Case cases[] = {
      {"transitional", {{"Type", transitional}}, "worksheet", true},
      {"strict", {{"r:Type", strict}}, "worksheet", true},
      {"case-sensitive", {{"Type", transitional}}, "Worksheet", false},
      {"first Type decides", {{"Type", "a/b"}, {"Type", "x/worksheet"}}, "worksheet", false},
      {"no Type", {{"Target", "x"}}, "worksheet", false},
      {"bare word", {{"Type", "styles"}}, "styles", true},
      {"trailing slash", {{"Type", "x/styles/"}}, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(relationship_type_is(c.attrs, c.word), c.expected);
  }
  EXPECT_TRUE(sheet_type_is_worksheet(std::nullopt));
  EXPECT_TRUE(sheet_type_is_worksheet(strict));
  EXPECT_FALSE(sheet_type_is_worksheet(std::string_view("http://x/relationships/chartsheet")));
  EXPECT_FALSE(sheet_type_is_worksheet(std::string_view("http://x/worksheet/")));
}

TEST(RelationshipTargetAndId, ResolvesAgainstXl) {
  using Result = std::optional<std::pair<std::string, std::optional<std::string>>>;
  struct Case {
    std::string_view label;
    AttributeList attrs;
    Result expected;
  };
  const Case cases[] = {
      {"relative", {{"Id", "rId1"}, {"Target", "worksheets/sheet2.xml"}},
       Result({"xl/worksheets/sheet2.xml", "rId1"})},
      {"absolute", {{"Target", "/xl/pivotCache/pivotCacheDefinition1.xml"}, {"r:Id", "rId9"}},
       Result({"xl/pivotCache/pivotCacheDefinition1.xml", "rId9"})},
      {"no id", {{"Target", "../x.xml"}}, Result({"x.xml", std::nullopt})},
      {"no target", {{"Id", "rId1"}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(relationship_target_and_id(c.attrs), c.expected);
  }
}

TEST(AttributeEdits, SetAndRemoveByLocalName) {
  AttributeList attrs{{"x:count", "1"}, {"count", "2"}, {"r:id", "rId1"}, {"id", "7"}, {"name", "n"}};
  set_attribute_value(attrs, "count", "count", "9");
  EXPECT_EQ(attrs[0], (AttributePair{"x:count", "9"}));  // first match only, name kept
  EXPECT_EQ(attrs[1], (AttributePair{"count", "2"}));
  set_attribute_value(attrs, "xmlns:r", "xmlns:r", "urn:r");  // a prefixed "local name" never matches
  EXPECT_EQ(attrs.back(), (AttributePair{"xmlns:r", "urn:r"}));
  set_attribute_value(attrs, "fresh", "y:fresh", "v");
  EXPECT_EQ(attrs.back(), (AttributePair{"y:fresh", "v"}));
  remove_attribute(attrs, "id");
  const AttributeList expected{{"x:count", "9"}, {"count", "2"}, {"name", "n"}, {"xmlns:r", "urn:r"},
                               {"y:fresh", "v"}};
  EXPECT_EQ(attrs, expected);
}

TEST(ResolveRelationshipTarget, Table) {
  struct Case {
    std::string_view base;
    std::string_view target;
    std::string_view expected;
  };
  const Case cases[] = {
      {"xl", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl", "./styles.xml", "xl/styles.xml"},
      {"xl", "../customXml/item1.xml", "customXml/item1.xml"},
      {"xl", "/xl/sharedStrings.xml", "xl/sharedStrings.xml"},
      {"xl", "/xl/../a/./b.xml", "xl/../a/./b.xml"},  // rooted targets are taken as written
      {"xl", "worksheets//sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl", "../../x.xml", "x.xml"},
      {"xl/worksheets", "../tables/table1.xml", "xl/tables/table1.xml"},
      {"", "tables/table1.xml", "/tables/table1.xml"},
      {"xl", "", "xl"},
      {"xl", "http://example.com/a", "xl/http:/example.com/a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.target));
    EXPECT_EQ(resolve_relationship_target(c.base, c.target), c.expected);
  }
}

TEST(RelationshipMapOrder, IdsOrderedByBytes) {
  RelationshipMap map;
  for (const char* id : {"rId2", "rId10", "rId1", "a", "Z"}) map[id] = RelationshipTarget{id, {}, false};
  std::vector<std::string> order;
  for (const auto& [id, rel] : map) order.push_back(id);
  EXPECT_EQ(order, (std::vector<std::string>{"Z", "a", "rId1", "rId10", "rId2"}));
}

TEST(NonWorksheetRelationship, Table) {
  struct Case {
    std::optional<std::string> type;
    bool expected;
  };
  const Case cases[] = {
      {std::nullopt, false},
      {"worksheet", false},
      {"http://x/relationships/worksheet", false},
      {"http://x/relationships/worksheet/", true},
      {"http://x/relationships/Worksheet", true},
      {"http://x/relationships/chartsheet", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type.value_or("(none)"));
    EXPECT_EQ(is_non_worksheet_relationship(RelationshipTarget{"t", c.type, false}), c.expected);
  }
}

}  // namespace
}  // namespace cmx::opc
