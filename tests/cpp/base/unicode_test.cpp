// The Unicode facade: full case mappings, properties, scalar counting.
#include <gtest/gtest.h>

#include <string>

#include "base/unicode.h"

namespace cmx::unicode {
namespace {

TEST(Unicode, FullCaseMappings) {
  struct Case { const char* name; std::string in; std::string lower; std::string upper; };
  const Case cases[] = {
      {"ascii", "Sheet1", "sheet1", "SHEET1"},
      {"umlaut", "ÄÖÜ", "äöü", "ÄÖÜ"},
      {"sharp s stays in lower, expands in upper", "Straße", "straße", "STRASSE"},
      {"final sigma", "ΟΔΟΣ", "οδος", "ΟΔΟΣ"},
      {"sigma inside a word", "ΣΑΣ Α", "σας α", "ΣΑΣ Α"},
      {"dotted capital I", "İ", "i\xCC\x87", "İ"},
      {"ligature expands in upper", "ﬁ", "ﬁ", "FI"},
      {"empty", "", "", ""},
      {"ill-formed byte passes", "A\xFF", "a\xFF", "A\xFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.name != std::string("ill-formed byte passes")) {
      EXPECT_EQ(to_lower(c.in), c.lower);
      EXPECT_EQ(to_upper(c.in), c.upper);
    } else {
      // ICU may substitute; either way the ASCII letter maps.
      EXPECT_EQ(to_lower(c.in).substr(0, 1), "a");
    }
  }
}

TEST(Unicode, Properties) {
  EXPECT_TRUE(is_alphabetic(U'a'));
  EXPECT_TRUE(is_alphabetic(U'é'));
  EXPECT_TRUE(is_alphabetic(U'中'));
  EXPECT_FALSE(is_alphabetic(U'1'));
  EXPECT_FALSE(is_alphabetic(U'_'));
  EXPECT_TRUE(is_numeric(U'7'));
  EXPECT_TRUE(is_numeric(U'٣'));   // Nd
  EXPECT_TRUE(is_numeric(U'Ⅻ'));   // Nl
  EXPECT_TRUE(is_numeric(U'½'));   // No
  EXPECT_FALSE(is_numeric(U'x'));
  EXPECT_TRUE(is_white_space(U' '));
  EXPECT_TRUE(is_white_space(U'\t'));
  EXPECT_TRUE(is_white_space(0x00A0));
  EXPECT_TRUE(is_white_space(0x3000));
  EXPECT_FALSE(is_white_space(0x200B));  // zero width space is not White_Space
}

TEST(Unicode, ScalarsAndDecoding) {
  EXPECT_EQ(count_scalars(""), 0u);
  EXPECT_EQ(count_scalars("abc"), 3u);
  EXPECT_EQ(count_scalars("é中😀"), 3u);
  EXPECT_EQ(count_scalars("\xFF\xFE"), 2u);
  EXPECT_TRUE(is_valid_utf8("é中😀"));
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xE4\xB8"));          // truncated
  EXPECT_TRUE(is_valid_utf8("\xEF\xBF\xBD"));       // U+FFFD itself
  std::string out;
  for (char32_t cp : {U'a', U'é', U'中', U'😀'}) append_utf8(out, cp);
  EXPECT_EQ(out, "aé中😀");
  size_t pos = 0;
  EXPECT_EQ(decode_utf8(out, pos), U'a');
  EXPECT_EQ(decode_utf8(out, pos), U'é');
  EXPECT_EQ(decode_utf8(out, pos), U'中');
  EXPECT_EQ(decode_utf8(out, pos), U'😀');
  EXPECT_EQ(pos, out.size());
}

TEST(Unicode, ToValidUtf8ReplacesEachIllFormedByte) {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"é中😀", "é中😀"},
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong: two stray bytes
      {"x\xE4\xB8", "x\xEF\xBF\xBD\xEF\xBF\xBD"},  // truncated at the end
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_EQ(to_valid_utf8(c.in), c.out);
    EXPECT_TRUE(is_valid_utf8(to_valid_utf8(c.in)));
  }
}

}  // namespace
}  // namespace cmx::unicode
