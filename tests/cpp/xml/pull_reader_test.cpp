// The pull reader: events of tricky inputs, offsets, refusals, and every
// truncation of a valid document.
#include "xml/pull_reader.h"

#include <gtest/gtest.h>

#include "trace.h"

namespace cmx::xml {
namespace {

using testing::trace;

struct Case {
  std::string_view label;
  std::string_view input;
  std::string_view expected;
};

TEST(PullReader, TrickyInputs) {
  const Case cases[] = {
      // Nothing is normalised.
      {"crlf in text and attribute", "<a x=\"1\r\n 2\">l1\r\nl2</a>", "<a x=\"1\r\n 2\"> T[l1\r\nl2] </a>"},
      {"attribute white space", "<a x=\"  sp \t \"/>", "<a x=\"  sp \t \"/>"},
      {"white space between tags", "<a>\n  <b/>\n</a>", "<a> T[\n  ] <b/> T[\n] </a>"},
      {"single quotes", "<a x='say \"hi\"'/>", "<a x=\"say \"hi\"\"/>"},
      {"spaces around =", "<a x = \"1\"\t/>", "<a x=\"1\"/>"},
      // One level of references.
      {"amp-lt in text", "<a>&amp;lt;</a>", "<a> T[&lt;] </a>"},
      {"amp-lt in attribute", "<a x=\"&amp;lt;\"/>", "<a x=\"&lt;\"/>"},
      {"five entities", "<a>&lt;&gt;&amp;&apos;&quot;</a>", "<a> T[<>&'\"] </a>"},
      {"character references", "<a>&#65;&#x42;&#x1F600;&#xe9;</a>", "<a> T[AB\xF0\x9F\x98\x80\xC3\xA9] </a>"},
      {"reference in attribute", "<a x=\"&#65;&amp;\"/>", "<a x=\"A&\"/>"},
      // Other references reach the caller.
      {"undeclared entity", "<a>x&nbsp;y</a>", "<a> T[x] &nbsp; T[y] </a>"},
      {"entity first", "<a>&nbsp;&amp;</a>", "<a> &nbsp; T[&] </a>"},
      {"nul reference", "<a>&#0;</a>", "<a> &#0; </a>"},
      {"upper-case X", "<a>&#X41;</a>", "<a> &#X41; </a>"},
      {"surrogate reference", "<a>&#xD800;</a>", "<a> &#xD800; </a>"},
      {"beyond unicode", "<a>&#x110000;</a>", "<a> &#x110000; </a>"},
      {"huge decimal", "<a>&#99999999999999999999;</a>", "<a> &#99999999999999999999; </a>"},
      // Long runs, past the inline scan of the first bytes.
      {"late reference in a long value", "<a x=\"0123456789abcdefghij&amp;klmnopqrstuvwxyz\"/>",
       "<a x=\"0123456789abcdefghij&klmnopqrstuvwxyz\"/>"},
      {"late entity in long text", "<a>0123456789abcdefghij&nbsp;0123456789abcdefghij&lt;</a>",
       "<a> T[0123456789abcdefghij] &nbsp; T[0123456789abcdefghij<] </a>"},
      {"long text without markup after it", "0123456789abcdefghij&amp;", "T[0123456789abcdefghij&]"},
      {"long unclosed value", "<a x=\"0123456789abcdefghij", "ERR(unexpected end of input inside markup starting at byte 0)"},
      // Markup kinds.
      {"cdata", "<a><![CDATA[<z>&amp;]]]></a>", "<a> CD[<z>&amp;]] </a>"},
      {"comment not validated", "<a><!-- a -- b --></a>", "<a> C[ a -- b ] </a>"},
      {"declaration and instruction", "<?xml version=\"1.0\"?><?pi data?><a/>", "?xml ?pi[ data] <a/>"},
      {"xml-stylesheet is an instruction", "<?xml-stylesheet x?><a/>", "?xml-stylesheet[ x] <a/>"},
      {"doctype with subset", "<!DOCTYPE a [<!ENTITY x \"y>\">]><a/>", "DT <a/>"},
      {"byte-order mark", "\xEF\xBB\xBF<a/>", "<a/>"},
      {"unbound prefixes", "<p:a q:x=\"1\"></p:a>", "<p:a q:x=\"1\"> </p:a>"},
      {"end tag white space", "<a></a \n>", "<a> </a>"},
      {"gt in text, lt in attribute", "<a x=\"<\">></a>", "<a x=\"<\"> T[>] </a>"},
      {"text outside, two roots", "x<a/>y<b/>", "T[x] <a/> T[y] <b/>"},
      {"open at the end", "<a><b>", "<a> <b>"},
      {"empty", "", ""},
      // Refusals.
      {"mismatched end tag", "<a></b>", "<a> ERR(end tag </b> does not match start tag <a> at byte 3)"},
      {"end tag without start", "</a>", "ERR(end tag </a> without an open element at byte 0)"},
      {"duplicate attribute", "<a x=\"1\" x=\"2\"/>", "ERR(duplicate attribute x at byte 0)"},
      {"unquoted value", "<a x=1/>", "ERR(malformed attribute in tag <a> at byte 0)"},
      {"missing =", "<a x \"1\"/>", "ERR(malformed attribute in tag <a> at byte 0)"},
      {"no space between attributes", "<a x=\"1\"y=\"2\"/>", "ERR(malformed attribute in tag <a> at byte 0)"},
      {"undeclared entity in attribute", "<a x=\"&nbsp;\"/>",
       "ERR(unknown entity &nbsp; in an attribute value at byte 6)"},
      {"bare ampersand", "<a>a & b</a>", "<a> ERR(malformed character or entity reference at byte 5)"},
      {"empty reference", "<a>&;</a>", "<a> ERR(malformed character or entity reference at byte 3)"},
      {"unterminated reference", "<a>&amp</a>", "<a> ERR(malformed character or entity reference at byte 3)"},
      {"bare ampersand in attribute", "<a x=\"&\"/>", "ERR(malformed character or entity reference at byte 6)"},
      {"lt alone", "<a>< b</a>", "<a> ERR(malformed markup at byte 3)"},
      {"end tag junk", "<a></a x>", "<a> ERR(malformed end tag at byte 3)"},
      {"unknown bang", "<!ELEMENT a><a/>", "ERR(malformed markup at byte 0)"},
      {"unclosed tag", "<a", "ERR(unexpected end of input inside markup starting at byte 0)"},
      {"unclosed value", "<a x=\"1", "ERR(unexpected end of input inside markup starting at byte 0)"},
      {"unclosed comment", "<a><!-- x", "<a> ERR(unexpected end of input inside markup starting at byte 3)"},
      {"unclosed cdata", "<![CDATA[x", "ERR(unexpected end of input inside markup starting at byte 0)"},
      {"unclosed instruction", "<?pi", "ERR(unexpected end of input inside markup starting at byte 0)"},
      {"unclosed doctype", "<!DOCTYPE a [ > ", "ERR(unexpected end of input inside markup starting at byte 0)"},
      {"instruction without target", "<? x?>", "ERR(malformed markup at byte 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(trace(c.input), c.expected);
  }
}

TEST(PullReader, EmptyElementsReportedOrExpanded) {
  EXPECT_EQ(trace("<a><b x=\"1\"/></a>"), "<a> <b x=\"1\"/> </a>");
  EXPECT_EQ(trace("<a><b x=\"1\"/></a>", {.expand_empty_elements = true}), "<a> <b x=\"1\"> </b> </a>");
  // An expanded empty element still has to be matched by nothing else.
  EXPECT_EQ(trace("<a/></a>", {.expand_empty_elements = true}),
            "<a> </a> ERR(end tag </a> without an open element at byte 4)");
}

TEST(PullReader, OffsetsBeforeAndAfterEachEvent) {
  struct Span {
    XmlEvent event;
    size_t before;
    size_t after;
  };
  auto spans = [](std::string_view text, XmlReaderOptions options) {
    XmlPullReader reader(text, options);
    std::vector<Span> out;
    while (true) {
      auto event = reader.next();
      EXPECT_TRUE(event.has_value());
      if (!event.has_value()) return out;
      out.push_back({*event, reader.offset_before(), reader.offset_after()});
      if (*event == XmlEvent::Eof) return out;
    }
  };
  auto flat = [](const std::vector<Span>& v) {
    std::vector<size_t> out;
    for (const Span& s : v) {
      out.push_back(static_cast<size_t>(s.event));
      out.push_back(s.before);
      out.push_back(s.after);
    }
    return out;
  };
  using E = XmlEvent;
  auto expect = [&](std::vector<Span> v) { return flat(v); };
  EXPECT_EQ(flat(spans("<a>text</a>", {})),
            expect({{E::StartTag, 0, 3}, {E::Text, 3, 7}, {E::EndTag, 7, 11}, {E::Eof, 11, 11}}));
  EXPECT_EQ(flat(spans("<a><b/>x&nbsp;</a>", {})),
            expect({{E::StartTag, 0, 3}, {E::EmptyTag, 3, 7}, {E::Text, 7, 8}, {E::Reference, 8, 14},
                    {E::EndTag, 14, 18}, {E::Eof, 18, 18}}));
  EXPECT_EQ(flat(spans("<a><b/></a>", {.expand_empty_elements = true})),
            expect({{E::StartTag, 0, 3}, {E::StartTag, 3, 7}, {E::EndTag, 7, 7}, {E::EndTag, 7, 11},
                    {E::Eof, 11, 11}}));
  EXPECT_EQ(flat(spans("\xEF\xBB\xBF<a/>", {})), expect({{E::EmptyTag, 3, 7}, {E::Eof, 7, 7}}));
}

TEST(PullReader, FindsAttributesByLocalName) {
  XmlPullReader reader("<c r:id=\"rId1\" x:y:id=\"second\" r=\"A1\"/>");
  ASSERT_TRUE(reader.next().has_value());
  ASSERT_NE(reader.find_attribute("id"), nullptr);
  EXPECT_EQ(reader.find_attribute("id")->value, "rId1");
  EXPECT_EQ(reader.find_attribute("y:id")->value, "second");  // local name is after the first ":"
  EXPECT_EQ(reader.find_attribute("r")->value, "A1");
  EXPECT_EQ(reader.find_attribute("t"), nullptr);
  EXPECT_EQ(local_name("a:b:c"), "b:c");
  EXPECT_EQ(local_name("abc"), "abc");
}

// Regression: attributes of an empty-element tag stayed visible on the
// text event after it.
TEST(PullReader, AttributesBelongToTheirTagOnly) {
  XmlPullReader reader("<a><b x=\"1\"/>t<!--c--></a>");
  std::vector<size_t> counts;
  while (true) {
    auto event = reader.next();
    ASSERT_TRUE(event.has_value());
    counts.push_back(reader.attributes().size());
    if (*event == XmlEvent::Eof) break;
  }
  EXPECT_EQ(counts, (std::vector<size_t>{0, 1, 0, 0, 0, 0}));
}

TEST(PullReader, ManyAttributesAreCheckedForDuplicates) {
  std::string tag = "<a";
  for (int i = 0; i < 1000; ++i) {
    tag += " n";
    tag += std::to_string(i);
    tag += "=\"v\"";
  }
  EXPECT_EQ(trace(tag + "/>").substr(0, 3), "<a ");
  EXPECT_EQ(trace(tag + " n500=\"w\"/>"), "ERR(duplicate attribute n500 at byte 0)");
}

TEST(PullReader, EveryTruncationEndsCleanly) {
  const std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><!DOCTYPE r><r xmlns=\"u\" a=\"&amp;1\"><!-- c --><x:b>t&#65;&nbsp;"
      "<![CDATA[d]]></x:b><e/><?p q?></r>";
  const std::string full = trace(doc);
  ASSERT_EQ(full.find("ERR"), std::string::npos) << full;
  for (size_t len = 0; len < doc.size(); ++len) {
    SCOPED_TRACE(len);
    const std::string cut = trace(std::string_view(doc).substr(0, len));
    EXPECT_EQ(cut.find("(no end)"), std::string::npos);
  }
}

TEST(PullReader, ErrorMessagesAreDistinct) {
  std::vector<std::string> seen;
  for (int k = 0; k <= static_cast<int>(XmlErrorKind::BadNamespaceBinding); ++k) {
    const std::string message = xml_error_message({static_cast<XmlErrorKind>(k), 1, "n", "o"});
    EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << message;
    seen.push_back(message);
  }
}

}  // namespace
}  // namespace cmx::xml
