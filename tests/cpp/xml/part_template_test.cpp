// Part templates: the split at the root's top-level children, namespaces
// and declarations, depth, refusals, and the root-name probe.
#include "xml/part_template.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "test_util.h"

namespace cmx::xml {
namespace {

using namespace std::string_literals;

PartTemplate read_ok(std::string_view bytes) {
  auto r = read_part_template(bytes);
  if (!r.has_value()) {
    ADD_FAILURE() << parse_error_message(r.error());
    return {};
  }
  EXPECT_EQ(join_part_template(*r), bytes);
  return std::move(*r);
}

TEST(ReadPartTemplate, Pieces) {
  const std::string part = "<?xml version=\"1.0\"?>\n<r><a/> <b>x</b></r>\n";
  const PartTemplate t = read_ok(part);
  EXPECT_EQ(t.head, "<?xml version=\"1.0\"?>\n<r>");
  ASSERT_EQ(t.children.size(), 2u);
  EXPECT_EQ(t.children[0].leading, "");
  EXPECT_EQ(t.children[0].name, "a");
  EXPECT_EQ(t.children[0].text, "<a/>");
  EXPECT_EQ(t.children[1].leading, " ");
  EXPECT_EQ(t.children[1].text, "<b>x</b>");
  EXPECT_EQ(t.trailing, "");
  EXPECT_EQ(t.tail, "</r>\n");
  EXPECT_EQ(t.root_name, "r");
  EXPECT_FALSE(t.root_prefix.has_value());
  EXPECT_FALSE(t.root_namespace.has_value());
}

TEST(ReadPartTemplate, EmptyRoot) {
  auto r = read_part_template("<r/>");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->head, "<r>");
  EXPECT_TRUE(r->children.empty());
  EXPECT_EQ(r->trailing, "");
  EXPECT_EQ(r->tail, "</r>");
  auto spaced = read_part_template("\xEF\xBB\xBF<x:r xmlns:x=\"u\" a='1' />after");
  ASSERT_TRUE(spaced.has_value());
  EXPECT_EQ(spaced->head, "\xEF\xBB\xBF<x:r xmlns:x=\"u\" a='1' >");
  EXPECT_EQ(spaced->tail, "</x:r>after");
  EXPECT_EQ(spaced->root_namespace, "u");
  // An ill-formed name is mended in root_name only; the end tag written for
  // an empty-element root repeats the bytes of its start tag, or the joined
  // part would no longer match its own tags.
  auto odd = read_part_template("<R\x86x a=\"1\"/>");
  ASSERT_TRUE(odd.has_value());
  EXPECT_EQ(odd->root_name, "R\xEF\xBF\xBDx");
  EXPECT_EQ(odd->tail, "</R\x86x>");
  auto rejoined = read_part_template(join_part_template(*odd));
  ASSERT_TRUE(rejoined.has_value()) << parse_error_message(rejoined.error());
  EXPECT_EQ(*rejoined, *odd);
}

TEST(ReadPartTemplate, KeepsEveryByte) {
  const std::string part =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<!--c--><?pi x?>"
      "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:mc=\"m\">\r\n"
      "  <x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>1</x:v></x:c></x:row></x:sheetData>stray&amp;<!--k-->"
      "<mc:AlternateContent><mc:Choice/></mc:AlternateContent><![CDATA[cd]]>\n</x:worksheet><trailing junk <<";
  const PartTemplate t = read_ok(part);
  ASSERT_EQ(t.children.size(), 2u);
  EXPECT_EQ(t.children[0].leading, "\r\n  ");
  EXPECT_EQ(t.children[0].name, "sheetData");
  EXPECT_EQ(t.children[0].namespace_, "http://schemas.openxmlformats.org/spreadsheetml/2006/main");
  EXPECT_EQ(t.children[1].leading, "stray&amp;<!--k-->");
  EXPECT_EQ(t.children[1].name, "AlternateContent");
  EXPECT_EQ(t.children[1].namespace_, "m");
  EXPECT_EQ(t.trailing, "<![CDATA[cd]]>\n");
  EXPECT_EQ(t.tail, "</x:worksheet><trailing junk <<");
  EXPECT_EQ(t.root_prefix, "x");
  EXPECT_EQ(t.root_namespace, "http://schemas.openxmlformats.org/spreadsheetml/2006/main");
  ASSERT_EQ(t.declarations.size(), 2u);
  EXPECT_EQ(t.declarations[0].prefix, "x");
  EXPECT_EQ(t.declarations[1].prefix, "mc");
  EXPECT_EQ(t.declarations[1].uri, "m");
}

TEST(ReadPartTemplate, Namespaces) {
  const PartTemplate t = read_ok("<r xmlns=\"d\" xmlns:=\"e\" xmlns:p=\"&amp;u\"><y:foo/><a/><p:b/><c xmlns=\"\"/><q:a:b/></r>");
  EXPECT_EQ(t.root_namespace, "d");
  ASSERT_EQ(t.declarations.size(), 3u);
  EXPECT_EQ(t.declarations[0], (NamespaceDeclaration{std::nullopt, "d"}));
  EXPECT_EQ(t.declarations[1], (NamespaceDeclaration{"", "e"}));
  EXPECT_EQ(t.declarations[2], (NamespaceDeclaration{"p", "&u"}));
  ASSERT_EQ(t.children.size(), 5u);
  EXPECT_EQ(t.children[0].namespace_, "\0y"s);
  EXPECT_EQ(t.children[1].namespace_, "d");
  EXPECT_EQ(t.children[2].namespace_, "&u");
  EXPECT_FALSE(t.children[3].namespace_.has_value());
  // A child's name is cut at the first ":", the root's prefix at the last.
  EXPECT_EQ(t.children[4].name, "a:b");
  const PartTemplate two = read_ok("<a:b:r xmlns:a=\"u\"></a:b:r>");
  EXPECT_EQ(two.root_prefix, "a:b");
  EXPECT_EQ(two.root_namespace, "u");
}

TEST(ReadPartTemplate, Depth) {
  auto nested = [](size_t levels, std::string_view innermost) {
    std::string out = "<r>";
    for (size_t i = 0; i < levels; ++i) out += "<e>";
    out += innermost;
    for (size_t i = 0; i < levels; ++i) out += "</e>";
    return out + "</r>";
  };
  EXPECT_TRUE(read_part_template(nested(63, "")).has_value());
  EXPECT_TRUE(read_part_template(nested(63, "<x/>")).has_value());
  EXPECT_THAT(read_part_template(nested(63, "<x></x>")), FailsWithKind(ParseErrorKind::DepthExceeded));
}

TEST(ReadPartTemplate, Refusals) {
  struct Case {
    std::string_view label;
    std::string bytes;
    std::string_view message;
  };
  const Case cases[] = {
      {"empty", "", "malformed spreadsheetml: xml part has no root"},
      {"comment only", "<!--x-->", "malformed spreadsheetml: xml part has no root"},
      {"unclosed root", "<r><a>", "malformed spreadsheetml: xml root is not closed"},
      {"unclosed child", "<r><a></a>", "malformed spreadsheetml: xml root is not closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = read_part_template(c.bytes);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(parse_error_message(r.error()), c.message);
  }
  for (std::string_view bytes : {"<r></x>", "<r><a b/></r>", "<r xmlns:xml=\"urn:x\"></r>", "<r><a></b></r>"}) {
    SCOPED_TRACE(bytes);
    EXPECT_THAT(read_part_template(bytes), FailsWithKind(ParseErrorKind::Xml));
  }
  // UTF-16 is not decoded here.
  EXPECT_FALSE(read_part_template("<\0r\0/\0>\0"s).has_value());
}

// Stepping over a child's content changes nothing; a span that is not the
// content of a child right after its start tag, or lies outside the part,
// is not used.
TEST(ReadPartTemplate, ReadContentOnlyWhereAChildsContentStarts) {
  const std::string part = "<r><a>x<b/>y</a><c>z</c></r>";
  const PartTemplate whole = read_ok(part);
  const size_t content = part.find("x<b/>");
  ASSERT_NE(content, std::string::npos);
  const PartTextSpan spans[] = {{content, 5}, {content - 1, 6}, {part.find("z"), 1}, {0, part.size() + 1},
                                {part.size() + 5, 0}, {content, UINT64_MAX}};
  for (const PartTextSpan& span : spans) {
    SCOPED_TRACE(span.offset);
    auto stepped = read_part_template(part, "", span);
    ASSERT_TRUE(stepped.has_value()) << parse_error_message(stepped.error());
    EXPECT_TRUE(*stepped == whole);
  }
  // Left in the part, the child keeps the span of its whole text.
  auto left = read_part_template(part, "a", PartTextSpan{content, 5});
  ASSERT_TRUE(left.has_value());
  ASSERT_TRUE(left->children[0].left_in_part.has_value());
  EXPECT_EQ(*left->children[0].left_in_part, (PartTextSpan{0 + 3, 13}));
}

TEST(PartRootLocalName, Table) {
  struct Case {
    std::string_view label;
    std::string_view bytes;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"transitional", "<?xml version=\"1.0\"?><pivotTableDefinition xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><a/></pivotTableDefinition>",
       "pivotTableDefinition"},
      {"strict prefixed", "<x:pivotCacheDefinition xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"></x:pivotCacheDefinition>",
       "pivotCacheDefinition"},
      {"no namespace", "<r></r>\n", "r"},
      {"other namespace", "<r xmlns=\"urn:x\"></r>", std::nullopt},
      {"empty default", "<r xmlns=\"\"></r>", std::nullopt},
      {"unbound prefix", "<x:r></x:r>", std::nullopt},
      {"empty-element root", "<r/>", std::nullopt},
      {"text before root", "x<r></r>", std::nullopt},
      {"two roots", "<r></r><s></s>", std::nullopt},
      {"empty tag after root ignored", "<r></r><s/>", "r"},
      {"unclosed", "<r>", std::nullopt},
      {"ill-formed", "<r></s>", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(part_root_local_name(c.bytes), c.expected);
  }
}

}  // namespace
}  // namespace cmx::xml
