// Span rewrites: splicing, the span checks, escaping, and writing back in
// the part's own encoding.
#include "xml/span_rewrite.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "xml/element_tree.h"
#include "xmltree_util.h"

namespace cmx::xml {
namespace {

using namespace std::string_literals;

DecodedPart utf8(std::string text) { return DecodedPart{std::move(text), PartEncoding::Utf8, false}; }

TEST(ApplySpanRewrites, Splicing) {
  struct Case {
    std::string_view label;
    std::string text;
    std::vector<SpanEdit> edits;
    std::string expected;
  };
  const Case cases[] = {
      {"no edits", "<a>text</a>", {}, "<a>text</a>"},
      {"escaped text", "<a>text</a>", {{3, 7, EscapedText{"a<b&c"}}}, "<a>a&lt;b&amp;c</a>"},
      {"raw markup", "<a>text</a>", {{3, 7, RawMarkup{"<b/>"}}}, "<a><b/></a>"},
      {"touching spans", "<a>text</a>", {{0, 3, RawMarkup{"<b>"}}, {3, 5, RawMarkup{"X"}}}, "<b>Xxt</a>"},
      {"two inserts at one offset", "<a>text</a>", {{5, 5, RawMarkup{"1"}}, {5, 5, RawMarkup{"2"}}}, "<a>te12xt</a>"},
      {"insert at the end", "<a/>", {{4, 4, RawMarkup{"<!--x-->"}}}, "<a/><!--x-->"},
      {"control characters that xml keeps", "<a>t</a>", {{3, 4, EscapedText{"\t\r\n\"'"}}}, "<a>\t&#13;\n\"'</a>"},
      {"spans around multibyte text", "<a>\xC3\xA9x\xE2\x82\xAC</a>", {{5, 6, EscapedText{"\xF0\x9F\x98\x80"}}},
       "<a>\xC3\xA9\xF0\x9F\x98\x80\xE2\x82\xAC</a>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = apply_span_rewrites(utf8(c.text), c.edits);
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(*r, c.expected);
  }
}

TEST(ApplySpanRewrites, Refusals) {
  struct Case {
    std::string_view label;
    std::string text;
    std::vector<SpanEdit> edits;
    std::string_view message;
  };
  const Case cases[] = {
      {"overlap", "<a>text</a>", {{0, 4, RawMarkup{}}, {3, 5, RawMarkup{}}},
       "malformed spreadsheetml: overlapping rewrite span"},
      {"reversed", "<a>text</a>", {{5, 3, RawMarkup{}}}, "malformed spreadsheetml: overlapping rewrite span"},
      {"past the end", "<a>text</a>", {{3, 12, RawMarkup{}}}, "malformed spreadsheetml: overlapping rewrite span"},
      {"start inside a character", "<a>\xC3\xA9</a>", {{4, 5, RawMarkup{}}},
       "malformed spreadsheetml: rewrite span split a character"},
      {"end inside a character", "<a>\xE2\x82\xAC</a>", {{3, 4, RawMarkup{}}},
       "malformed spreadsheetml: rewrite span split a character"},
      {"end inside a character before another edit", "<a>\xE2\x82\xAC</a>", {{3, 4, RawMarkup{}}, {8, 8, RawMarkup{}}},
       "malformed spreadsheetml: rewrite span split a character"},
      {"escaped control", "<a>t</a>", {{3, 4, EscapedText{"\x01"}}},
       "unsupported edit: a rewrite carries U+0001, which xml cannot express"},
      {"escaped U+FFFE", "<a>t</a>", {{3, 4, EscapedText{"\xEF\xBF\xBE"}}},
       "unsupported edit: a rewrite carries U+FFFE, which xml cannot express"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = apply_span_rewrites(utf8(c.text), c.edits);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(parse_error_message(r.error()), c.message);
  }
}

TEST(ApplySpanRewrites, WritesBackInThePartsEncoding) {
  const std::string text = "<?xml version=\"1.0\"?><c:f xmlns:c=\"u\">Sheet1!$A$1</c:f>";
  for (PartEncoding encoding : {PartEncoding::Utf8, PartEncoding::Utf16Le, PartEncoding::Utf16Be}) {
    for (bool bom : {false, true}) {
      SCOPED_TRACE(static_cast<int>(encoding) * 2 + bom);
      const std::string bytes = encode_part_text(text, encoding, bom);
      auto decoded = decode_part(bytes);
      ASSERT_TRUE(decoded.has_value());
      // No edits: the part comes back byte for byte.
      auto same = apply_span_rewrites(*decoded, {});
      ASSERT_TRUE(same.has_value());
      EXPECT_EQ(*same, bytes);
      // A formula rewritten through the element's content span.
      auto tree = parse_xml_tree(decoded->text, 100);
      ASSERT_TRUE(tree.has_value());
      const SpanEdit edit{tree->root.content_start, tree->root.content_end, EscapedText{"'Q&A \xF0\x9F\x98\x80'!$B$2"}};
      auto patched = apply_span_rewrites(*decoded, std::span(&edit, 1));
      ASSERT_TRUE(patched.has_value());
      auto again = decode_part(*patched);
      ASSERT_TRUE(again.has_value());
      EXPECT_EQ(again->encoding, encoding);
      EXPECT_EQ(again->had_bom, bom);
      EXPECT_EQ(again->text,
                "<?xml version=\"1.0\"?><c:f xmlns:c=\"u\">'Q&amp;A \xF0\x9F\x98\x80'!$B$2</c:f>");
      testing::expect_rendered_well_formed(
          "span_rewrite_encoding_" + std::to_string(static_cast<int>(encoding)) + (bom ? "_bom" : ""), *patched);
    }
  }
}

}  // namespace
}  // namespace cmx::xml
