#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/number_text.h"
#include "writer/xml_part_writer.h"
#include "xml/parse_error.h"

namespace cmx::writer {
namespace {

TEST(Escape, EachFormWritesWhatItsReadersGiveBack) {
  struct Case {
    const char* name;
    std::string text;
    TextForm form;
    std::string expected;
    std::optional<char32_t> refused;
  };
  const Case cases[] = {
      {"five specials in content", "a&b<c>d\"e'f", TextForm::Content, "a&amp;b&lt;c&gt;d&quot;e&apos;f", {}},
      {"five specials in attribute", "&<>\"'", TextForm::Attribute, "&amp;&lt;&gt;&quot;&apos;", {}},
      {"tab and line feed kept in content", "a\tb\nc", TextForm::Content, "a\tb\nc", {}},
      {"carriage return in content", "a\r\nb", TextForm::Content, "a&#13;\nb", {}},
      {"white space in attribute", "a\tb\nc\rd", TextForm::Attribute, "a&#9;b&#10;c&#13;d", {}},
      {"control refused in content", "a\x01" "b", TextForm::Content, "ab", U'\x01'},
      {"first refusal is reported", std::string("\x1f\x02", 2), TextForm::Attribute, "", U'\x1f'},
      {"NUL refused", std::string("a\0b", 3), TextForm::Content, "ab", U'\0'},
      {"U+FFFE refused", "a\xEF\xBF\xBE", TextForm::Content, "a", U'\xFFFE'},
      {"U+FFFD passes", "\xEF\xBF\xBD", TextForm::Content, "\xEF\xBF\xBD", {}},
      {"U+F000 passes", "\xEF\x80\x80", TextForm::Content, "\xEF\x80\x80", {}},
      {"controls become escapes", "a\x01" "b\x1f", TextForm::EscapedString, "a_x0001_b_x001F_", {}},
      {"U+FFFF becomes an escape", "\xEF\xBF\xBF", TextForm::EscapedString, "_xFFFF_", {}},
      {"tab, line feed kept; carriage return referenced", "\t\n\r", TextForm::EscapedString, "\t\n&#13;", {}},
      {"a literal escape is guarded", "_x0041_", TextForm::EscapedString, "_x005F_x0041_", {}},
      {"upper-case X is guarded too", "a_X00fF_b", TextForm::EscapedString, "a_x005F_X00fF_b", {}},
      {"a guard itself is guarded", "_x005F_", TextForm::EscapedString, "_x005F_x005F_", {}},
      {"a run the next escape would close", "_x005F\x1f" "x0041_", TextForm::EscapedString,
       "_x005F_x005F_x001F_x0041_", {}},
      {"a run before U+FFFE", "_x0041\xEF\xBF\xBE", TextForm::EscapedString, "_x005F_x0041_xFFFE_", {}},
      {"a run before a tab stays", "_x0041\t", TextForm::EscapedString, "_x0041\t", {}},
      {"not an escape: short", "_x41_ _x0041", TextForm::EscapedString, "_x41_ _x0041", {}},
      {"not an escape: non-hex", "_x00G1_", TextForm::EscapedString, "_x00G1_", {}},
      {"escapes left alone outside strings", "_x0041_", TextForm::Content, "_x0041_", {}},
      {"non-ASCII passes", "\xC3\xA9\xF0\x9F\x98\x80", TextForm::EscapedString, "\xC3\xA9\xF0\x9F\x98\x80", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    EXPECT_EQ(append_escaped(out, c.text, c.form), c.refused);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(Escape, RefusalBecomesTheUnsupportedEditOfTheWholePart) {
  XmlPartWriter writer;
  writer.start_tag("x", {{"a", "ok"}});
  writer.text("bad\x08");
  writer.text(std::string("\x01", 1));
  writer.end_tag("x");
  auto bytes = writer.finish();
  ASSERT_FALSE(bytes.has_value());
  EXPECT_EQ(xml::parse_error_message(bytes.error()),
            "unsupported edit: a rewrite carries U+0008, which xml cannot express");
}

TEST(XmlNumber, IntegersAndShortestDigits) {
  struct Case {
    double value;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {3.0, "3"},
      {-0.0, "0"},
      {0.1, "0.1"},
      {2.5, "2.5"},
      {0.0000001, "0.0000001"},
      {1e15, "1000000000000000"},
      {1e20, "100000000000000000000"},
      {123456789.125, "123456789.125"},
      {42.0, "42"},
      {-7.0, "-7"},
      {999999999999999.0, "999999999999999"},
      {1e16, "10000000000000000"},
      {0.30000000000000004, "0.30000000000000004"},
      {-1.5e-300, "-0." + std::string(299, '0') + "15"},
      {std::numeric_limits<double>::denorm_min(), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string text = format_xml_number(c.value);
    if (c.expected) {
      EXPECT_EQ(text, *c.expected);
    }
    EXPECT_EQ(text.find('e'), std::string::npos);
    EXPECT_EQ(parse_float(text)->value, c.value == 0.0 ? 0.0 : c.value);
  }
}

TEST(XmlWriter, DeclarationAndTags) {
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("r", {{"xmlns", "u"}, {"b", "1"}});
  writer.empty_tag("e");
  write_text_element(writer, "t", {}, "");
  write_preserved_text(writer, "");
  writer.end_tag("r");
  auto bytes = writer.finish();
  ASSERT_TRUE(bytes.has_value());
  const std::string declaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
  EXPECT_EQ(declaration.size(), 55u);
  EXPECT_EQ(*bytes, declaration + R"(<r xmlns="u" b="1"><e/><t></t><t xml:space="preserve"></t></r>)");
}

TEST(XmlWriter, ColourElements) {
  struct Case {
    model::Color color;
    const char* expected;
  };
  const Case cases[] = {
      {model::RgbColor{"#1f4e79"}, R"(<c rgb="FF1F4E79"/>)"},
      {model::RgbColor{"##ab12cd"}, R"(<c rgb="FFAB12CD"/>)"},
      {model::ThemeColor{4, 0.0}, R"(<c theme="4"/>)"},
      {model::ThemeColor{4, -0.0}, R"(<c theme="4"/>)"},
      {model::ThemeColor{1, -0.499984740745262}, R"(<c theme="1" tint="-0.499984740745262"/>)"},
      {model::ThemeColor{2, 1.0}, R"(<c theme="2" tint="1"/>)"},
      {model::IndexedColor{64}, R"(<c indexed="64"/>)"},
      {model::AutoColor{}, R"(<c auto="1"/>)"},
  };
  for (const Case& c : cases) {
    XmlPartWriter writer;
    write_color_element(writer, "c", c.color);
    EXPECT_EQ(*writer.finish(), c.expected);
  }
}

TEST(Relationships, IdsTargetsAndTypes) {
  std::set<std::string> in_use = {"rId1", "rId2", "rId4", "R7a", "rid3"};
  EXPECT_EQ(next_free_relationship_id(in_use), "rId3");
  EXPECT_EQ(next_free_relationship_id(in_use), "rId5");

  struct TargetCase {
    const char* part;
    const char* target;
  };
  const TargetCase targets[] = {{"xl/worksheets/sheet3.xml", "worksheets/sheet3.xml"},
                                {"/xl/worksheets/sheet3.xml", "worksheets/sheet3.xml"},
                                {"docProps/app.xml", "docProps/app.xml"},
                                {"xl//x.xml", "/x.xml"}};
  for (const TargetCase& c : targets) EXPECT_EQ(relationship_target_for_part(c.part), c.target);

  const std::string strict = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  const std::string transitional = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::vector<opc::AttributeList> strict_drawing = {
      relationship_attributes("rId1", strict + "/drawing", "../drawings/drawing1.xml")};
  const std::vector<opc::AttributeList> transitional_drawing = {
      relationship_attributes("rId1", transitional + "/drawing", "../drawings/drawing1.xml")};
  const std::vector<opc::AttributeList> own_kind = {
      relationship_attributes("rId1", "urn:odd/hyperlink", "x")};
  EXPECT_EQ(relationship_type_for(strict_drawing, "hyperlink", "D"), strict + "/hyperlink");
  EXPECT_EQ(relationship_type_for(transitional_drawing, "hyperlink", "D"), "D");
  EXPECT_EQ(relationship_type_for({}, "hyperlink", "D"), "D");
  EXPECT_EQ(relationship_type_for(own_kind, "hyperlink", "D"), "urn:odd/hyperlink");
  const std::vector<opc::AttributeList> other = {relationship_attributes("rId1", "urn:other/x", "y")};
  EXPECT_EQ(relationship_type_for(other, "hyperlink", "D"), "D");
}

TEST(Relationships, PartKeepsAttributeOrderAndEscapes) {
  opc::AttributeList rel = relationship_attributes("rId1", "T", "http://x/?a=1&b=2");
  rel.push_back({"TargetMode", "External"});
  auto bytes = write_relationships_part({rel});
  ASSERT_TRUE(bytes.has_value());
  EXPECT_NE(bytes->find(R"(<Relationship Id="rId1" Type="T" Target="http://x/?a=1&amp;b=2" )"
                        R"(TargetMode="External"/></Relationships>)"),
            std::string::npos);
}

}  // namespace
}  // namespace cmx::writer
