// Element trees: structure, namespaces, content spans, budgets and depth,
// and the refusals of the tree builder itself.
#include "xml/element_tree.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "xml/part_decoding.h"

namespace cmx::xml {
namespace {

using namespace std::string_literals;

// A one-line picture of a tree: name{ns}[attr=value{ns}](children), text
// in quotes.
std::string dump(const XmlElement& element) {
  std::string out = element.name;
  auto braced = [&](const SharedString& uri) {
    out += '{';
    out += uri.view();
    out += '}';
  };
  if (element.has_namespace()) braced(element.namespace_uri);
  if (element.default_namespace_undeclared) out += "!";
  if (element.self_closing) out += "/";
  for (const XmlTreeAttribute& attr : element.attributes) {
    out += '[';
    out += attr.name;
    out += '=';
    out += attr.value;
    if (attr.has_namespace()) braced(attr.namespace_uri);
    out += ']';
  }
  if (!element.children.empty()) {
    out += "(";
    for (const XmlNode& node : element.children) {
      if (node.is_element()) {
        out += dump(*node.element());
      } else {
        out.push_back('\'');
        out += *node.text();
        out.push_back('\'');
      }
      out += ' ';
    }
    out.back() = ')';
  }
  return out;
}

TEST(ParseXmlTree, Shapes) {
  struct Case {
    std::string_view label;
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"text, cdata and references merge", "<a>x&amp;y<![CDATA[<z>]]>&#65;</a>", "a('x&y<z>A')"},
      {"white space between elements kept", "<a> <b/>\n<c>t</c></a>", "a(' ' b/ '\n' c('t'))"},
      {"outside text dropped", "junk<a>in</a>more", "a('in')"},
      {"prolog skipped", "<?xml version=\"1.0\"?><!--c--><?pi x?><a><!--in--><?p?>t</a>", "a('t')"},
      {"comment splits no text", "<a>x<!--c-->y</a>", "a('xy')"},
      {"attribute references replaced once", "<a v=\"&amp;lt; &#x41;\r\n\"/>", "a/[v=&lt; A\r\n]"},
      {"prefixed root", "<p:a xmlns:p=\"u\"><b/></p:a>", "p:a{u}[xmlns:p=u](b/)"},
      {"default undeclared", "<a xmlns=\"u\"><b xmlns=\"\"/></a>", "a{u}[xmlns=u](b!/[xmlns=])"},
      {"prefix bound to empty", "<p:a xmlns:p=\"\"/>", "p:a/[xmlns:p=]"},
      {"unbound prefix accepted", "<q:a q:x=\"1\"/>", "q:a/[q:x=1]"},
      {"attributes by prefix only", "<a xmlns=\"d\" xmlns:r=\"rel\" r:id=\"1\" id=\"2\" xml:lang=\"en\"/>",
       "a{d}/[xmlns=d][xmlns:r=rel][r:id=1{rel}][id=2][xml:lang=en]"},
      {"inner declarations shadow", "<a xmlns:p=\"1\"><p:b xmlns:p=\"2\"><p:c/></p:b><p:d/></a>",
       "a[xmlns:p=1](p:b{2}[xmlns:p=2](p:c{2}/) p:d{1}/)"},
      {"odd names use the default", "<a xmlns=\"d\"><:b/><c:/></a>", "a{d}[xmlns=d](:b{d}/ c:{d}/)"},
      {"bare xmlns: binds nothing", "<a xmlns:=\"x\"/>", "a/[xmlns:=x]"},
      {"an empty cdata is still a text node", "<a><![CDATA[]]></a>", "a('')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto tree = parse_xml_tree(c.text, STANDARD_ELEMENT_BUDGET);
    ASSERT_TRUE(tree.has_value()) << parse_error_message(tree.error());
    EXPECT_EQ(dump(tree->root), c.expected);
  }
}

TEST(ParseXmlTree, Refusals) {
  struct Case {
    std::string_view label;
    std::string text;
    std::string_view message;
  };
  const Case cases[] = {
      {"empty", "", "malformed spreadsheetml: no root element"},
      {"only a comment", "<!--x-->", "malformed spreadsheetml: no root element"},
      {"unclosed", "<a>", "malformed spreadsheetml: unclosed element"},
      {"two roots", "<a/><b/>", "malformed spreadsheetml: more than one root element"},
      {"doctype", "<!DOCTYPE a><a/>", "malformed spreadsheetml: doctype is not accepted"},
      {"unknown entity", "<a>&foo;</a>", "malformed spreadsheetml: unresolvable entity &foo;"},
      {"nbsp", "<a>x&nbsp;</a>", "malformed spreadsheetml: unresolvable entity &nbsp;"},
      {"character zero", "<a>&#0;</a>", "malformed spreadsheetml: unresolvable entity &#0;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto tree = parse_xml_tree(c.text, STANDARD_ELEMENT_BUDGET);
    ASSERT_FALSE(tree.has_value());
    EXPECT_EQ(parse_error_message(tree.error()), c.message);
  }
  // The reader's refusals travel as Xml.
  for (std::string_view text : {"<a></b>", "<a x=\"1\" x=\"2\"/>", "<a v=\"&foo;\"/>", "<a>&</a>", "</a>", "<a b/>"}) {
    SCOPED_TRACE(text);
    EXPECT_THAT(parse_xml_tree(text, STANDARD_ELEMENT_BUDGET), FailsWithKind(ParseErrorKind::Xml));
  }
}

TEST(ParseXmlTree, ContentSpans) {
  auto tree = parse_xml_tree("<a>text</a>", 10);
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(tree->root.content_start, 3u);
  EXPECT_EQ(tree->root.content_end, 7u);

  auto empty = parse_xml_tree("<a/>", 10);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->root.content_start, 4u);
  EXPECT_EQ(empty->root.content_end, 4u);
  EXPECT_TRUE(empty->root.self_closing);

  // Spans are offsets into the text: each element's content is exactly the
  // bytes between them, for nested and multi-byte content too.
  const std::string text = "<?xml version=\"1.0\"?>\n<r x=\"\xC3\xA9\"><c:f>Sheet1!$A$1</c:f><v>\xE2\x82\xAC</v ><e></e></r>";
  auto nested = parse_xml_tree(text, 100);
  ASSERT_TRUE(nested.has_value());
  const XmlElement& root = nested->root;
  ASSERT_EQ(root.children.size(), 3u);
  auto content = [&](const XmlElement& e) { return text.substr(e.content_start, e.content_end - e.content_start); };
  EXPECT_EQ(content(*root.children[0].element()), "Sheet1!$A$1");
  EXPECT_EQ(content(*root.children[1].element()), "\xE2\x82\xAC");
  EXPECT_EQ(content(*root.children[2].element()), "");
  EXPECT_FALSE(root.children[2].element()->self_closing);
  EXPECT_EQ(content(root), "<c:f>Sheet1!$A$1</c:f><v>\xE2\x82\xAC</v ><e></e>");
}

TEST(ParseXmlTree, ElementBudget) {
  // Root, one attribute, one child: three units.
  const std::string_view text = "<a x=\"1\"><b/></a>";
  auto fits = parse_xml_tree(text, 3);
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(fits->elements_used, 3u);
  EXPECT_THAT(parse_xml_tree(text, 2), FailsWithKind(ParseErrorKind::TreeTooLarge));
  EXPECT_THAT(parse_xml_tree(text, 0), FailsWithKind(ParseErrorKind::TreeTooLarge));
  // Declarations cost like any attribute.
  auto declared = parse_xml_tree("<a xmlns=\"u\" xmlns:r=\"v\"/>", 100);
  ASSERT_TRUE(declared.has_value());
  EXPECT_EQ(declared->elements_used, 3u);
  // Text costs no units.
  auto text_only = parse_xml_tree("<a>lots of text</a>", 1);
  ASSERT_TRUE(text_only.has_value());
  EXPECT_EQ(text_only->elements_used, 1u);
  auto message = parse_xml_tree(text, 1);
  ASSERT_FALSE(message.has_value());
  EXPECT_EQ(parse_error_message(message.error()), "part exceeded the element tree cap");
}

TEST(ParseXmlTree, TextBudget) {
  // Text inside the root counts, references after replacement; outside
  // text is free.
  std::string inside = "<a>" + std::string(MAX_PART_BYTES - 7, 'x') + "</a>";
  EXPECT_TRUE(parse_xml_tree(inside, 10).has_value());
  std::string full = "<a>" + std::string(MAX_PART_BYTES, 'x') + "</a>";
  EXPECT_TRUE(parse_xml_tree(full, 10).has_value());
  std::string over = "<a>" + std::string(MAX_PART_BYTES, 'x') + "y</a>";
  EXPECT_THAT(parse_xml_tree(over, 10), FailsWithKind(ParseErrorKind::TreeTooLarge));
  std::string split = "<a>" + std::string(MAX_PART_BYTES / 2, 'x') + "<b/>" + std::string(MAX_PART_BYTES / 2 + 1, 'x') + "</a>";
  EXPECT_THAT(parse_xml_tree(split, 10), FailsWithKind(ParseErrorKind::TreeTooLarge));
  std::string outside = std::string(MAX_PART_BYTES, ' ') + "<a/>" + std::string(64, ' ');
  EXPECT_TRUE(parse_xml_tree(outside, 10).has_value());
}

std::string nested(size_t depth, std::string_view innermost) {
  std::string out;
  for (size_t i = 0; i < depth; ++i) out += "<e>";
  out += innermost;
  for (size_t i = 0; i < depth; ++i) out += "</e>";
  return out;
}

TEST(ParseXmlTree, Depth) {
  EXPECT_TRUE(parse_xml_tree(nested(64, ""), 1000).has_value());
  EXPECT_THAT(parse_xml_tree(nested(65, ""), 1000), FailsWithKind(ParseErrorKind::DepthExceeded));
  // An empty-element tag opens a level here too.
  EXPECT_TRUE(parse_xml_tree(nested(63, "<x/>"), 1000).has_value());
  EXPECT_THAT(parse_xml_tree(nested(64, "<x/>"), 1000), FailsWithKind(ParseErrorKind::DepthExceeded));
  // Depth is tested before the element is charged.
  EXPECT_THAT(parse_xml_tree(nested(64, "<x/>"), 64), FailsWithKind(ParseErrorKind::DepthExceeded));
  auto message = parse_xml_tree(nested(65, ""), 1000);
  EXPECT_EQ(parse_error_message(message.error()), "xml nesting exceeded depth cap");
}

TEST(ParseXmlTree, SharedNamespaceTexts) {
  auto tree = parse_xml_tree("<a xmlns=\"urn:x\"><b/><c><d/></c></a>", 100);
  ASSERT_TRUE(tree.has_value());
  const XmlElement& root = tree->root;
  const XmlElement& d = *root.children[1].element()->children[0].element();
  EXPECT_TRUE(root.namespace_uri.same_storage(d.namespace_uri));
  EXPECT_TRUE(root.namespace_uri.same_storage(root.children[0].element()->namespace_uri));
}

TEST(ParsePartTree, DecodesFirst) {
  auto le = parse_part_tree("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0"s);
  ASSERT_TRUE(le.has_value()) << parse_error_message(le.error());
  EXPECT_EQ(dump(*le), "a('\xC3\xA9')");
  EXPECT_THAT(parse_part_tree("<a>\xFF</a>"), FailsWithKind(ParseErrorKind::Malformed));
  EXPECT_THAT(parse_part_tree("<a>"), FailsWithKind(ParseErrorKind::Malformed));
}

TEST(ParsePartWithinBudget, Accounts) {
  const std::string good = "<a x=\"1\"><b/></a>";  // 3 units
  {
    ExportParseBudget budget{100, 1000};
    BudgetedParse r = parse_part_within_budget(budget, good);
    EXPECT_EQ(r.outcome, BudgetOutcome::Parsed);
    ASSERT_TRUE(r.root.has_value());
    EXPECT_EQ(r.root->name, "a");
    EXPECT_EQ(budget.elements_remaining, 97u);
    EXPECT_EQ(budget.bytes_remaining, 1000u - good.size());
  }
  {
    // One byte too many: skipped, nothing charged.
    ExportParseBudget budget{100, 1000};
    BudgetedParse r = parse_part_within_budget(budget, std::string(1001, ' '));
    EXPECT_EQ(r.outcome, BudgetOutcome::Skipped);
    EXPECT_EQ(budget.elements_remaining, 100u);
    EXPECT_EQ(budget.bytes_remaining, 1000u);
  }
  {
    // Not well formed: unreadable, bytes stay charged, elements do not.
    ExportParseBudget budget{100, 1000};
    BudgetedParse r = parse_part_within_budget(budget, "<a>");
    EXPECT_EQ(r.outcome, BudgetOutcome::Unreadable);
    EXPECT_FALSE(r.root.has_value());
    EXPECT_EQ(budget.elements_remaining, 100u);
    EXPECT_EQ(budget.bytes_remaining, 997u);
  }
  {
    // Over the element allowance: skipped, the whole allowance charged.
    ExportParseBudget budget{2, 1000};
    BudgetedParse r = parse_part_within_budget(budget, good);
    EXPECT_EQ(r.outcome, BudgetOutcome::Skipped);
    EXPECT_EQ(budget.elements_remaining, 0u);
    EXPECT_EQ(budget.bytes_remaining, 1000u - good.size());
  }
  {
    // Too deep: skipped the same way; the allowance is capped at the standard budget.
    ExportParseBudget budget{5000000, 1000};
    BudgetedParse r = parse_part_within_budget(budget, nested(65, ""));
    EXPECT_EQ(r.outcome, BudgetOutcome::Skipped);
    EXPECT_EQ(budget.elements_remaining, 5000000u - STANDARD_ELEMENT_BUDGET);
  }
  {
    // A decoding failure of the size kind is a skip too.
    ExportParseBudget budget{10, 1000};
    BudgetedParse r = parse_part_within_budget(budget, "<a>\xFF</a>");
    EXPECT_EQ(r.outcome, BudgetOutcome::Unreadable);
  }
}

}  // namespace
}  // namespace cmx::xml
