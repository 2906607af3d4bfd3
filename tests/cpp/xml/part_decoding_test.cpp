// Decoding whole parts to UTF-8: byte-order marks, UTF-16 in both orders,
// surrogates, declared encodings and the size limit on both sides.
#include "xml/part_decoding.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace cmx::xml {
namespace {

using namespace std::string_literals;

struct Decoded {
  std::string text;
  PartEncoding encoding;
  bool had_bom;
};

TEST(DecodePart, EncodingTable) {
  struct Case {
    std::string_view label;
    std::string bytes;
    Decoded expected;
  };
  const Case cases[] = {
      {"empty", "", {"", PartEncoding::Utf8, false}},
      {"one byte", "<", {"<", PartEncoding::Utf8, false}},
      {"utf-8 mark alone", "\xEF\xBB\xBF", {"", PartEncoding::Utf8, true}},
      {"utf-8 mark and text", "\xEF\xBB\xBF<a/>", {"<a/>", PartEncoding::Utf8, true}},
      {"plain utf-8 multibyte", "<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>",
       {"<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>", PartEncoding::Utf8, false}},
      {"le mark alone", "\xFF\xFE", {"", PartEncoding::Utf16Le, true}},
      {"be mark alone", "\xFE\xFF", {"", PartEncoding::Utf16Be, true}},
      {"le mark and text", "\xFF\xFE<\0a\0/\0>\0"s, {"<a/>", PartEncoding::Utf16Le, true}},
      {"be mark and text", "\xFE\xFF\0<\0a\0/\0>"s, {"<a/>", PartEncoding::Utf16Be, true}},
      {"le without mark", "<\0a\0/\0>\0"s, {"<a/>", PartEncoding::Utf16Le, false}},
      {"be without mark", "\0<\0a\0/\0>"s, {"<a/>", PartEncoding::Utf16Be, false}},
      {"le two- and three-byte units", "<\0\xE9\0\xAC\x20"s, {"<\xC3\xA9\xE2\x82\xAC", PartEncoding::Utf16Le, false}},
      {"be surrogate pair", "\0<\xD8\x3D\xDE\x00"s, {"<\xF0\x9F\x98\x80", PartEncoding::Utf16Be, false}},
      {"le surrogate pair", "\xFF\xFE\x3D\xD8\x00\xDE"s, {"\xF0\x9F\x98\x80", PartEncoding::Utf16Le, true}},
      {"utf-16 keeps U+0000", "\xFE\xFF\0\0\0A"s, {"\0A"s, PartEncoding::Utf16Be, true}},
      {"zeros before < are utf-8", "\0\0<\0"s, {"\0\0<\0"s, PartEncoding::Utf8, false}},
      {"three-byte FF FE 00 is utf-16 with odd rest",
       "\xFF\xFE\0\0"s.substr(0, 3), {"", PartEncoding::Utf16Le, true}},
      // Declarations.
      {"declared UTF-16BE in utf-8 passes", "<?xml version=\"1.0\" encoding = 'UTF-16BE'?><a/>",
       {"<?xml version=\"1.0\" encoding = 'UTF-16BE'?><a/>", PartEncoding::Utf8, false}},
      {"declared utf-8 in utf-16 passes", "\xFF\xFE<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0'\0u\0t\0f\0-\08\0'\0?\0>\0"s,
       {"<?xml encoding='utf-8'?>", PartEncoding::Utf16Le, true}},
      {"no encoding", "<?xml version=\"1.0\"?><a/>", {"<?xml version=\"1.0\"?><a/>", PartEncoding::Utf8, false}},
      {"unquoted value not inspected", "<?xml encoding=latin1?><a/>",
       {"<?xml encoding=latin1?><a/>", PartEncoding::Utf8, false}},
      {"missing close quote reads to the end", "<?xml encoding='utf-8?><a/>",
       {"<?xml encoding='utf-8?><a/>", PartEncoding::Utf8, false}},
      {"no ?> anywhere", "<?xml encoding='latin1'", {"<?xml encoding='latin1'", PartEncoding::Utf8, false}},
      {"white space before <?xml", " <?xml encoding='latin1'?><a/>",
       {" <?xml encoding='latin1'?><a/>", PartEncoding::Utf8, false}},
      {"no = after encoding", "<?xml encoding 'latin1'?>", {"<?xml encoding 'latin1'?>", PartEncoding::Utf8, false}},
      {"unicode white space around =", "<?xml encoding\xC2\xA0=\xE2\x80\x83\"utf8\"?>",
       {"<?xml encoding\xC2\xA0=\xE2\x80\x83\"utf8\"?>", PartEncoding::Utf8, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = decode_part(c.bytes);
    if (c.label.starts_with("three-byte")) {
      // FF FE 00: a mark, then one odd byte.
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(parse_error_message(r.error()), "malformed spreadsheetml: utf-16 part has an odd byte length");
      continue;
    }
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(r->text, c.expected.text);
    EXPECT_EQ(r->encoding, c.expected.encoding);
    EXPECT_EQ(r->had_bom, c.expected.had_bom);
  }
}

TEST(DecodePart, Refusals) {
  struct Case {
    std::string_view label;
    std::string bytes;
    std::string_view message;
  };
  const Case cases[] = {
      {"utf-32 le mark", "\xFF\xFE\0\0<\0"s, "malformed spreadsheetml: part is not utf-8 or utf-16"},
      {"utf-32 be mark", "\0\0\xFE\xFF"s, "malformed spreadsheetml: part is not utf-8 or utf-16"},
      {"odd utf-16 length", "<\0a"s, "malformed spreadsheetml: utf-16 part has an odd byte length"},
      {"high surrogate last", "<\0\x3D\xD8"s, "malformed spreadsheetml: utf-16 part has an unpaired surrogate"},
      {"high surrogate then A", "<\0\x3D\xD8" "A\0"s, "malformed spreadsheetml: utf-16 part has an unpaired surrogate"},
      {"two highs", "\0<\xD8\x3D\xD8\x3D"s, "malformed spreadsheetml: utf-16 part has an unpaired surrogate"},
      {"lone low", "\0<\xDE\x00"s, "malformed spreadsheetml: utf-16 part has an unpaired surrogate"},
      {"bad utf-8 byte", "<a>\xFF</a>", "malformed spreadsheetml: part is not valid utf-8"},
      {"overlong utf-8", "<a>\xC0\xAF</a>", "malformed spreadsheetml: part is not valid utf-8"},
      {"utf-8 surrogate", "<a>\xED\xA0\x80</a>", "malformed spreadsheetml: part is not valid utf-8"},
      {"above U+10FFFF", "<a>\xF4\x90\x80\x80</a>", "malformed spreadsheetml: part is not valid utf-8"},
      {"truncated sequence", "<a>\xE2\x82", "malformed spreadsheetml: part is not valid utf-8"},
      {"bad after mark", "\xEF\xBB\xBF\xFF", "malformed spreadsheetml: part is not valid utf-8"},
      {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>",
       "malformed spreadsheetml: part declares the unsupported encoding windows-1252"},
      {"empty value", "<?xml encoding=\"\"?><a/>", "malformed spreadsheetml: part declares the unsupported encoding "},
      {"leading space in value", "<?xml encoding=' utf-8'?>",
       "malformed spreadsheetml: part declares the unsupported encoding  utf-8"},
      {"underscore", "<?xml encoding='utf_8'?>", "malformed spreadsheetml: part declares the unsupported encoding utf_8"},
      {"declared in utf-16 too", "\xFE\xFF\0<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0'\0x\0'\0?\0>"s,
       "malformed spreadsheetml: part declares the unsupported encoding x"},
      {"pi target starting with xml", "<?xmlfoo encoding='ascii'?>",
       "malformed spreadsheetml: part declares the unsupported encoding ascii"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = decode_part(c.bytes);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(parse_error_message(r.error()), c.message);
  }
}

TEST(DecodePart, AcceptedEncodingNames) {
  for (std::string_view name : {"utf8", "UTF-8", "utf16", "Utf-16", "utf-16LE", "UTF-16be"}) {
    SCOPED_TRACE(name);
    const std::string doc = "<?xml encoding=\"" + std::string(name) + "\"?><a/>";
    EXPECT_TRUE(decode_part(doc).has_value());
  }
}

TEST(DecodePart, RawSizeLimit) {
  std::string bytes(MAX_PART_BYTES, 'a');
  auto at_limit = decode_part(bytes);
  ASSERT_TRUE(at_limit.has_value());
  EXPECT_EQ(at_limit->text.size(), MAX_PART_BYTES);
  bytes.push_back('a');
  EXPECT_THAT(decode_part(bytes), FailsWithKind(ParseErrorKind::TreeTooLarge));
}

TEST(DecodePart, DecodedSizeLimit) {
  // U+20AC needs three UTF-8 bytes from one UTF-16 unit: behind a mark,
  // 11,184,811 units are 22,369,624 bytes in, within the raw limit, and
  // 33,554,433 bytes out.
  constexpr size_t kUnits = 11184811;
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 * kUnits + 2);
  for (size_t i = 0; i < kUnits; ++i) bytes.append("\xAC\x20");
  ASSERT_EQ(bytes.size(), 22369624u);
  auto over = decode_part(bytes);
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(parse_error_message(over.error()), "part exceeded the element tree cap");
  // One unit fewer decodes to 33,554,430 bytes.
  bytes.resize(bytes.size() - 2);
  auto under = decode_part(bytes);
  ASSERT_TRUE(under.has_value()) << parse_error_message(under.error());
  EXPECT_EQ(under->text.size(), MAX_PART_BYTES - 2);
  // Two one-byte units more reach the limit exactly; a third passes it.
  bytes.append("A\0A\0"s);
  auto at = decode_part(bytes);
  ASSERT_TRUE(at.has_value()) << parse_error_message(at.error());
  EXPECT_EQ(at->text.size(), MAX_PART_BYTES);
  bytes.append("A\0"s);
  EXPECT_THAT(decode_part(bytes), FailsWithKind(ParseErrorKind::TreeTooLarge));
}

TEST(EncodePartText, RoundTripsEveryEncoding) {
  const std::string text = "<a x=\"\xC3\xA9\">\xE2\x82\xAC\xF0\x9F\x98\x80\0z</a>"s;
  for (PartEncoding encoding : {PartEncoding::Utf8, PartEncoding::Utf16Le, PartEncoding::Utf16Be}) {
    for (bool bom : {false, true}) {
      SCOPED_TRACE(static_cast<int>(encoding) * 2 + bom);
      const std::string bytes = encode_part_text(text, encoding, bom);
      auto back = decode_part(bytes);
      ASSERT_TRUE(back.has_value()) << parse_error_message(back.error());
      EXPECT_EQ(back->text, text);
      EXPECT_EQ(back->encoding, encoding);
      EXPECT_EQ(back->had_bom, bom);
    }
  }
  EXPECT_EQ(encode_part_text("<\xF0\x9F\x98\x80", PartEncoding::Utf16Be, true), "\xFE\xFF\0<\xD8\x3D\xDE\x00"s);
  EXPECT_EQ(encode_part_text("<", PartEncoding::Utf16Le, true), "\xFF\xFE<\0"s);
}

}  // namespace
}  // namespace cmx::xml
