// Streamed part reads: the depth cap, element text, relationship maps, the
// choice of workbook-level parts, and parts read through a window.
#include "xml/streaming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_util.h"

namespace cmx::xml {
namespace {

std::string nested(int depth, bool innermost_empty) {
  std::string doc;
  for (int i = 0; i < depth - 1; ++i) doc += "<e>";
  doc += innermost_empty ? "<e/>" : "<e></e>";
  for (int i = 0; i < depth - 1; ++i) doc += "</e>";
  return doc;
}

Result<size_t, SpreadsheetParseError> stream_all(std::string_view doc) {
  PartStream stream(doc);
  size_t events = 0;
  while (true) {
    CMX_ASSIGN_OR_RETURN(XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return events;
    ++events;
  }
}

std::string outcome(const Result<std::string, SpreadsheetParseError>& r) {
  return r.has_value() ? "ok:" + *r : parse_error_message(r.error());
}

TEST(PartStream, DepthCapAt64) {
  EXPECT_TRUE(stream_all(nested(64, false)).has_value());
  EXPECT_TRUE(stream_all(nested(64, true)).has_value());
  for (bool empty : {false, true}) {
    auto r = stream_all(nested(65, empty));
    ASSERT_THAT(r, FailsWithKind(ParseErrorKind::DepthExceeded));
    EXPECT_EQ(parse_error_message(r.error()), "xml nesting exceeded depth cap");
  }
  // Depth counts open elements, not elements seen.
  std::string wide = "<r>";
  for (int i = 0; i < 1000; ++i) wide += "<c><v>1</v></c>";
  EXPECT_TRUE(stream_all(wide + "</r>").has_value());
}

TEST(PartStream, ReaderErrorsBecomeXml) {
  auto r = stream_all("<a></b>");
  ASSERT_THAT(r, FailsWithKind(ParseErrorKind::Xml));
  EXPECT_EQ(parse_error_message(r.error()), "xml error: end tag </b> does not match start tag <a> at byte 3");
  // Comments, instructions, the declaration and a DOCTYPE are stepped over.
  EXPECT_TRUE(stream_all("<?xml version=\"1.0\"?><!DOCTYPE x><!--c--><?p?><x/>").has_value());
}

TEST(PartStream, AttributesByLocalName) {
  PartStream stream("<sheet name=\"A &amp; B\" r:id=\"rId3\" sheetId=\"\xFF\"/>");
  ASSERT_TRUE(stream.next().has_value());
  EXPECT_EQ(stream.local_name(), "sheet");
  auto name = stream.attribute("name");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(*name, std::optional<std::string_view>("A & B"));
  EXPECT_EQ(*stream.attribute_string("id"), std::optional<std::string>("rId3"));
  EXPECT_EQ(*stream.attribute("state"), std::nullopt);
  auto bad = stream.attribute("sheetId");
  ASSERT_THAT(bad, FailsWithKind(ParseErrorKind::Xml));
  EXPECT_EQ(parse_error_message(bad.error()).rfind("xml error: cannot decode input using UTF-8: ", 0), 0u);
}

TEST(ReadElementText, Table) {
  struct Case {
    std::string_view label;
    std::string_view doc;
    std::string_view expected;
  };
  const Case cases[] = {
      {"runs, references and cdata", "<si><t>a</t><r><t>b&amp;</t></r><![CDATA[<c>]]>&#x44;</si><x/>",
       "ok:ab&<c>D"},
      {"white space kept", "<t xml:space=\"preserve\"> a\r\n </t>", "ok: a\r\n "},
      {"empty element", "<t/>", "ok:"},
      {"undeclared entity", "<t>a&nbsp;</t>", "malformed spreadsheetml: unresolvable entity &nbsp;"},
      {"eof inside", "<t>abc", "malformed spreadsheetml: unexpected eof in text"},
      {"eof inside child", "<t><r>abc</r>", "malformed spreadsheetml: unexpected eof in text"},
      {"not utf-8", "<t>a\xC3</t>", "xml error: cannot decode input using UTF-8: invalid byte sequence at byte 1"},
      {"mismatch", "<t>a</r>", "xml error: end tag </r> does not match start tag <t> at byte 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PartStream stream(c.doc);
    ASSERT_TRUE(stream.next().has_value());
    EXPECT_EQ(outcome(read_element_text(stream)), c.expected);
  }
  // The stream goes on after the element.
  PartStream stream("<a><t>x</t><b/></a>");
  ASSERT_TRUE(stream.next().has_value());
  ASSERT_TRUE(stream.next().has_value());
  EXPECT_EQ(outcome(read_element_text(stream)), "ok:x");
  EXPECT_EQ(stream.depth(), 1u);
  ASSERT_TRUE(stream.next().has_value());
  EXPECT_EQ(stream.local_name(), "b");
}

TEST(ParseU32Attribute, Table) {
  struct Case {
    std::string_view text;
    std::optional<uint32_t> expected;
  };
  const Case cases[] = {
      {"7", 7u}, {"+7", 7u}, {"007", 7u}, {"4294967295", 4294967295u}, {"-0", std::nullopt},
      {" 7", std::nullopt}, {"7 ", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt},
      {"4294967296", std::nullopt}, {"99999999999999999999", std::nullopt}, {"7a", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_u32_attribute(c.text), c.expected);
  }
}

TEST(ReadRelationshipMap, PrefixesNestingModesAndOrder) {
  const std::string_view rels =
      "<?xml version=\"1.0\"?>"
      "<pr:Relationships xmlns:pr=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<pr:Relationship Id=\"rId2\" Type=\"http://x/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
      "<wrap><Relationship Id=\"rId10\" Target=\"a&amp;b.xml\" TargetMode=\"EXTERNAL\"/></wrap>"
      "<Relationship Id=\"rId3\" Target=\"https://example.com\" TargetMode=\"External\"/>"
      "<Relationship Id=\"rId4\" Target=\"t4\" TargetMode=\"Externally\"/>"
      "<Relationship Id=\"rId5\" Type=\"x\"/>"
      "<Relationship Target=\"no-id\"/>"
      "<Relationship Id=\"rId2\" Type=\"http://x/chartsheet\" Target=\"later.xml\"/>"
      "</pr:Relationships>";
  auto map = read_relationship_map(rels);
  ASSERT_TRUE(map.has_value()) << parse_error_message(map.error());
  std::vector<std::string> ids;
  for (const auto& [id, rel] : *map) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{"rId10", "rId2", "rId3", "rId4"}));
  EXPECT_EQ(map->at("rId2"), (opc::RelationshipTarget{"later.xml", "http://x/chartsheet", false}));
  EXPECT_EQ(map->at("rId10"), (opc::RelationshipTarget{"a&b.xml", std::nullopt, true}));
  EXPECT_TRUE(map->at("rId3").external);
  EXPECT_FALSE(map->at("rId4").external);

  EXPECT_THAT(read_relationship_map("<Relationships><Relationship Id=\"a\" Target=\"&bad;\"/></Relationships>"),
              FailsWithKind(ParseErrorKind::Xml));
  EXPECT_THAT(read_relationship_map(nested(65, true)), FailsWithKind(ParseErrorKind::DepthExceeded));
}

TEST(FindPartByRelationshipType, Table) {
  const std::vector<opc::PackagePart> parts{{"xl/sharedStrings.xml", "default-sst"},
                                            {"xl/strings/sst.xml", "related-sst"},
                                            {"xl/styles.xml", "default-styles"},
                                            {"xl/st2.xml", "strict-styles"}};
  const std::string rel_prefix = "<Relationships>";
  struct Case {
    std::string_view label;
    std::optional<std::string> rels;
    std::string_view word;
    std::string_view default_name;
    std::optional<std::string_view> expected;
  };
  const Case cases[] = {
      {"no relationships part", std::nullopt, "sharedStrings", "xl/sharedStrings.xml", "default-sst"},
      {"relationship found",
       "<Relationships><Relationship Type=\"http://x/sharedStrings\" Target=\"strings/sst.xml\"/></Relationships>",
       "sharedStrings", "xl/sharedStrings.xml", "related-sst"},
      {"target missing: no fallback",
       "<Relationships><Relationship Type=\"http://x/sharedStrings\" Target=\"gone.xml\"/></Relationships>",
       "sharedStrings", "xl/sharedStrings.xml", std::nullopt},
      {"no such relationship",
       "<Relationships><Relationship Type=\"http://x/theme\" Target=\"t.xml\"/></Relationships>",
       "sharedStrings", "xl/sharedStrings.xml", "default-sst"},
      {"stylesWithEffects is not styles",
       "<Relationships><Relationship Type=\"http://x/stylesWithEffects\" Target=\"st2.xml\"/></Relationships>",
       "styles", "xl/styles.xml", "default-styles"},
      {"strict styles",
       "<Relationships><Relationship Type=\"http://purl.oclc.org/ooxml/officeDocument/relationships/styles\" "
       "Target=\"/xl/st2.xml\"/></Relationships>",
       "styles", "xl/styles.xml", "strict-styles"},
      {"no type or target: skipped",
       "<Relationships><Relationship Target=\"st2.xml\"/><Relationship Type=\"a/styles\"/></Relationships>",
       "styles", "xl/styles.xml", "default-styles"},
      {"missing default", std::nullopt, "theme", "xl/theme/theme1.xml", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<std::string_view> rels;
    if (c.rels.has_value()) rels = *c.rels;
    auto r = find_part_by_relationship_type(parts, rels, c.word, c.default_name);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, c.expected);
  }
  EXPECT_THAT(find_part_by_relationship_type(parts, std::string_view("<a></b>"), "styles", "xl/styles.xml"),
              FailsWithKind(ParseErrorKind::Xml));
}

// Hands out its text a few bytes at a time, in a changing rhythm, so that
// windows fill from many short reads.
class DribbleSource final : public ByteSource {
 public:
  explicit DribbleSource(std::string_view text) : text_(text) {}
  size_t read(char* out, size_t max) override {
    const size_t n = std::min({max, text_.size() - at_, size_t{1} + (calls_++ % 7)});
    std::memcpy(out, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
  size_t calls_ = 0;
};

// Every event with its offsets, names, raw text and attributes, then the
// error or Eof; the fast path's view is taken at every start tag, as the
// worksheet reader takes it, to move the window at awkward moments.
std::string stream_trace(PartStream& stream) {
  std::string out;
  for (int guard = 0; guard < 100000; ++guard) {
    if (stream.reader().open_elements() % 2 == 1) (void)stream.unread();
    auto event = stream.next();
    if (!event.has_value()) return out + "ERR(" + parse_error_message(event.error()) + ")";
    out += std::to_string(static_cast<int>(*event)) + "@" + std::to_string(stream.reader().offset_before()) + "-" +
           std::to_string(stream.reader().offset_after()) + ":" + std::string(stream.reader().name()) + "[" +
           std::string(stream.reader().raw()) + "]d" + std::to_string(stream.depth());
    for (const XmlAttribute& attr : stream.reader().attributes()) {
      out += " " + std::string(attr.name) + "=" + std::string(attr.value);
    }
    out += "\n";
    if (*event == XmlEvent::Eof) return out;
  }
  return out + "runaway";
}

TEST(PartStream, AWindowedPartReadsExactlyAsTheWholePart) {
  const std::string long_text(700, 'x');
  const std::string deep = nested(30, true);
  const std::string inputs[] = {
      "",
      "\xEF\xBB\xBF<a/>",
      "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"]>\">]><a x=\"1\" y='&amp;2'>t&lt;u&#x41;<b/><!--c-->"
      "<![CDATA[<not/>]]>&custom;tail</a>",
      "<root><row r=\"1\"><c r=\"A1\"><v>" + long_text + "</v></c><c r=\"B1\" t=\"s\"><v>0</v></c></row>" +
          deep + "<last attr=\"" + long_text + "\">" + long_text + "</last></root>",
      // Refusals must name the same byte however the window falls.
      "<a><b>text</c></a>",
      "<a><b>text &broken</b></a>",
      "<a x=\"1\" x=\"2\"/>",
      "<a><b></b>" + long_text + "<!-- never closed",
      "<a>" + long_text + "</a></a>",
      "<a>" + long_text + "<",
      nested(65, false),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.substr(0, 80));
    PartStream whole(input);
    const std::string expected = stream_trace(whole);
    for (const size_t window : {size_t{1}, size_t{2}, size_t{5}, size_t{64}, size_t{1000}, kStreamWindow}) {
      SCOPED_TRACE(window);
      DribbleSource source(input);
      PartStream windowed(source, window);
      EXPECT_EQ(stream_trace(windowed), expected);
    }
  }
}

TEST(PartStream, AWindowedPartKeepsItsBytesButForTheHole) {
  const std::string head = "<worksheet><cols/><sheetData>";
  const std::string cells(5000, 'c');
  const std::string tail = "</sheetData><merges/></worksheet>";
  const std::string part = head + "<x>" + cells + "</x>" + tail;
  for (const size_t window : {size_t{3}, size_t{100}, kStreamWindow}) {
    SCOPED_TRACE(window);
    DribbleSource source(part);
    PartStream stream(source, window);
    size_t content_end = 0;
    while (true) {
      auto event = stream.next();
      ASSERT_TRUE(event.has_value());
      if (*event == XmlEvent::Eof) break;
      if (*event == XmlEvent::StartTag && stream.local_name() == "sheetData") {
        stream.hole_from(stream.reader().offset_after());
      }
      if (*event == XmlEvent::EndTag && stream.local_name() == "sheetData") {
        content_end = stream.reader().offset_before();
        stream.hole_to(content_end);
      }
    }
    EXPECT_EQ(content_end, head.size() + cells.size() + 7);
    EXPECT_EQ(stream.take_kept(), head + tail);
  }
}

}  // namespace
}  // namespace cmx::xml
