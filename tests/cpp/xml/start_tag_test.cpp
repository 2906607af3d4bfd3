// Attribute lists of start tags and escaping of rewritten text.
#include "xml/start_tag.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace cmx::xml {
namespace {

Result<AttributeList, SpreadsheetParseError> first_tag(std::string_view doc) {
  XmlPullReader reader(doc);
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(SpreadsheetParseError::xml(xml_error_message(event.error())));
    if (*event == XmlEvent::StartTag || *event == XmlEvent::EmptyTag) return parse_start_tag(reader);
    if (*event == XmlEvent::Eof) return AttributeList{};
  }
}

TEST(ParseStartTag, Table) {
  struct Case {
    std::string_view label;
    std::string_view doc;
    AttributeList expected;
  };
  const Case cases[] = {
      {"no attributes", "<a>", {}},
      {"declarations are plain pairs", "<w xmlns=\"u\" xmlns:r=\"v\" r:id=\"rId1\"/>",
       {{"xmlns", "u"}, {"xmlns:r", "v"}, {"r:id", "rId1"}}},
      {"one level of references", "<a v=\"&amp;lt;\"/>", {{"v", "&lt;"}}},
      {"white space kept", "<a v=\" a\r\n\tb \"/>", {{"v", " a\r\n\tb "}}},
      {"ill-formed name bytes", "<a n\xFF=\"1\"/>", {{"n\xEF\xBF\xBD", "1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = first_tag(c.doc);
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(*r, c.expected);
  }
  EXPECT_THAT(first_tag("<a x=\"1\" x=\"2\">"), FailsWithKind(ParseErrorKind::Xml));
  EXPECT_THAT(first_tag("<a x=\"&foo;\">"), FailsWithKind(ParseErrorKind::Xml));
  EXPECT_THAT(first_tag("<a x=\"\xC3\">"), FailsWithKind(ParseErrorKind::Xml));
}

TEST(EscapeXmlValue, Table) {
  struct Case {
    std::string_view label;
    std::string_view text;
    std::string_view expected;  // or the error message
  };
  const Case cases[] = {
      {"markup", "1 < 2 & 3 > 2", "1 &lt; 2 &amp; 3 &gt; 2"},
      {"quotes stay", "say \"x\" 'y'", "say \"x\" 'y'"},
      {"crlf", "a\r\nb", "a&#13;\nb"},
      {"tab", "a\tb", "a\tb"},
      {"replacement character and astral", "\xEF\xBF\xBD\xF0\x90\x80\x80", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
      {"private use before the refused pair", "\xEF\xBF\xBD\xEF\x80\x80", "\xEF\xBF\xBD\xEF\x80\x80"},
      {"backspace", "a\bb", "unsupported edit: a rewrite carries U+0008, which xml cannot express"},
      {"nul", std::string_view("a\0b", 3), "unsupported edit: a rewrite carries U+0000, which xml cannot express"},
      {"unit separator", "\x1F", "unsupported edit: a rewrite carries U+001F, which xml cannot express"},
      {"U+FFFE", "\xEF\xBF\xBE", "unsupported edit: a rewrite carries U+FFFE, which xml cannot express"},
      {"U+FFFF", "ok\xEF\xBF\xBF", "unsupported edit: a rewrite carries U+FFFF, which xml cannot express"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = escape_xml_value(c.text);
    EXPECT_EQ(r.has_value() ? *r : parse_error_message(r.error()), c.expected);
    if (!r.has_value()) {
      EXPECT_EQ(r.error().kind, ParseErrorKind::UnsupportedEdit);
    }
  }
}

// Escaped text read back through the reader is the original text.
TEST(EscapeXmlValue, RoundTripsThroughTheReader) {
  const std::string_view texts[] = {"a\r\nb", "<&>", "\t\n x \r", "\xC3\xA9&amp;"};
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    auto escaped = escape_xml_value(text);
    ASSERT_TRUE(escaped.has_value());
    const std::string doc = "<a>" + *escaped + "</a>";
    XmlPullReader reader(doc);
    std::string back;
    while (true) {
      auto event = reader.next();
      ASSERT_TRUE(event.has_value());
      if (*event == XmlEvent::Eof) break;
      if (*event == XmlEvent::Text) reader.append_text(back);
    }
    EXPECT_EQ(back, text);
  }
}

}  // namespace
}  // namespace cmx::xml
