// The worksheet reader's direct path for plainly written cells against its
// event path: every sheet is read as written and again with each cell tag
// given a second space, which no direct read accepts, and both reads must
// agree on cells, shared-string cells, side records and errors. The same
// holds over every worksheet of the shared corpus, where the part template
// (which skips such cells too) must also come out the same.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "../corpus_files.h"
#include "opc/package_archive.h"
#include "reader/shared_strings.h"
#include "reader/worksheet.h"
#include "xml/attr_values.h"
#include "xml/part_template.h"

namespace cmx::reader {
namespace {

struct Read {
  std::string outcome;
  model::SheetModel sheet;
  model::CellMap cells;
  SharedStringCells string_cells;
  CellTextNotes notes;
  SourceDimensions dimensions;
};

Read read_part(std::string_view part, std::span<const SharedString> strings) {
  const opc::RelationshipMap rels;
  Read out;
  auto sheet = read_worksheet("S", part, strings, rels, out.string_cells, out.dimensions, out.notes);
  if (sheet.has_value()) {
    out.outcome = "ok";
    out.cells = std::move(sheet->cells);
    out.sheet = std::move(*sheet);
  } else {
    out.outcome = xml::parse_error_message(sheet.error());
  }
  return out;
}

Read read(std::string_view body) {
  const std::vector<SharedString> strings{SharedString("zero"), SharedString("one"), SharedString("two")};
  std::string part = "<worksheet><sheetData>";
  part += body;
  part += "</sheetData></worksheet>";
  return read_part(part, strings);
}

// The message without its byte offset, which the added spaces move.
std::string without_offset(std::string message) {
  const size_t at = message.find(" at byte ");
  return at == std::string::npos ? message : message.substr(0, at);
}

std::string spaced(std::string_view body) {
  std::string out;
  for (size_t pos = 0; pos < body.size(); ++pos) {
    out.push_back(body[pos]);
    if (body.substr(pos, 3) == "<c ") out.append("c  "), pos += 2;
  }
  return out;
}

TEST(PlainCells, AgreeWithEventPath) {
  const char* const cases[] = {
      R"(<row r="1"><c r="A1"><v>1.5</v></c><c r="B1" t="s"><v>2</v></c><c r="C1" s="4"/></row>)",
      R"(<row r="2"><c r="A2" s="1" t="s"><v>0</v></c><c r="B2" t="s"><v>3</v></c><c r="C2" t="s"><v>+1</v></c></row>)",
      R"(<row r="3"><c r="A3"/><c r="B3"><v></v></c><c r="C3" t="n"><v>-2E+3</v></c><c><v>4</v></c></row>)",
      R"(<row r="4"><c r="D4" t="b"><v>1</v></c><c r="E4" t="e"><v>#DIV/0!</v></c><c r="F4" t="str"><v>abc</v></c></row>)",
      R"(<row r="5"><c r="A5"><v>1e999</v></c><c r="B5" s="x"><v>1</v></c><c r="$C$5"><v>7</v></c></row>)",
      R"(<row r="6"><c r="A6" t="inlineStr"><v>9</v></c><c r="B6" t="zz"><v>5</v></c><c s="2" r="C6"/></row>)",
      R"(<row r="7"><c r="A7"><v>1</v></c><c r="A7"><v>2</v></c><c r="XFD7"><v>3</v></c><c><v>4</v></c></row>)",
      R"(<c r="B9"><v>8</v></c><row><c r="A1" t="s"><v> 1 </v></c><c r="B1" ><v>2</v></c></row>)",
      R"(<row r="8"><c r="A8"><f>1+1</f><v>2</v></c><c r="B8"><v>3</v><f>1+2</f></c></row>)",
      R"(<row r="9"><c r="A9" t="s"><v>99999999999999999999999</v></c><c r="B9" s="4294967296"/></row>)",
      // Formulas: cached, uncached, empty, as text, over a shared formula's
      // dependent, with references (event path), non-ASCII, with an inline
      // string, and a value with spaces.
      R"(<row r="1"><c r="A1"><f>SUM(B1:B2)</f><v>3</v></c><c r="B1"><f>1+1</f></c><c r="C1"><f></f></c></row>)",
      R"(<row r="1"><c r="A1" t="str"><f>"x"</f><v>x</v></c><c r="B1" s="2"><f>"a"&amp;"b"</f><v>ab</v></c></row>)",
      R"(<row r="1"><c r="A1"><f t="shared" ref="A1:A3" si="0">B1</f><v>1</v></c><c r="A2"><f t="shared" si="0"/>)"
      R"(<v>2</v></c><c r="A2"><f>5</f><v>5</v></c><c r="A3"><f t="shared" si="0"/></c></row>)",
      "<row r=\"1\"><c r=\"A1\"><f>'Bl\xC3\xA4tt'!A1 > 2</f><v> 7 </v></c><c r=\"B1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c></row>",
      R"(<row r="1"><c r="A1" t="inlineStr"><f>"x"</f><is><t>x</t></is></c><c r="B1" t="b"><f>TRUE</f><v>1</v></c></row>)",
      R"(<row r="1"><c r="A1"><v>1</v><f>2</f></c><c r="B1"><f>2</f><f>3</f><v>1</v></c></row>)",
      // Inline strings: plain, preserved spaces, escapes, empty, under
      // other types, rich runs (event path), tabs and line ends, "]]>".
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>text 1</t></is></c><c r="B1" t="inlineStr"><is>)"
      R"(<t xml:space="preserve"> lead </t></is></c><c r="C1" t="inlineStr"><is><t>a_x000D_b_x005F_</t></is></c></row>)",
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t></t></is></c><c r="B1" t="s"><is><t>x</t></is></c>)"
      R"(<c r="C1"><is><t>y</t></is></c><c r="D1" t="inlineStr" s="3"><is><t>z</t></is></c></row>)",
      R"(<row r="1"><c r="A1" t="inlineStr"><is><r><t>ri</t></r><r><t>ch</t></r></is></c>)"
      R"(<c r="B1" t="inlineStr"><is><t>]]> &gt;</t></is></c><c r="C1" t="inlineStr"><is><t>]]></t></is></c></row>)",
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a\tb\r\nc</t></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>\xE2\x82\xAC</t></is></c></row>",
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>a</t><t>b</t></is></c><c r="B1" t="inlineStr"><is><t xml:space="default">c</t></is></c></row>)",
      // Failures: a bad number, a bad reference, a duplicate attribute, a
      // reference in a value, an unclosed tag, a mismatched end tag.
      R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>abc</v></c></row>)",
      R"(<row r="1"><c r="1A"><v>1</v></c></row>)",
      R"(<row r="1"><c r="XFE1"><v>1</v></c></row>)",
      R"(<row r="1"><c r="A1" r="B1"><v>1</v></c></row>)",
      R"(<row r="1"><c r="A1"><v>1&amp;</v></c></row>)",
      R"(<row r="1"><c r="A1"><v>1</v></c)",
      R"(<row r="1"><c r="A1"><v>1</v></x></row>)",
      R"(<row r="1"><c r="A1" t="s"><v>1</v></c><c r="A1"s="1"/></row>)",
      // Failures inside formulas and inline strings: text that is not UTF-8,
      // an unknown entity, an unclosed element, a mismatched end tag.
      "<row r=\"1\"><c r=\"A1\"><f>\xFF</f><v>1</v></c></row>",
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xC3</t></is></c></row>",
      "<row r=\"1\"><c r=\"A1\"><f>1</f><v>\xE2\x82</v></c></row>",
      R"(<row r="1"><c r="A1"><f>&bad;</f><v>1</v></c></row>)",
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>x</t></is>)",
      R"(<row r="1"><c r="A1" t="inlineStr"><is><t>x</is></t></c></row>)",
      R"(<row r="1"><c r="A1"><f>1</f></v></c></row>)",
  };
  for (const char* body : cases) {
    SCOPED_TRACE(body);
    const Read direct = read(body);
    const Read events = read(spaced(body));
    EXPECT_EQ(without_offset(direct.outcome), without_offset(events.outcome));
    EXPECT_EQ(direct.cells, events.cells);
    EXPECT_EQ(direct.string_cells, events.string_cells);
    EXPECT_EQ(direct.notes.uncached_formula_cells, events.notes.uncached_formula_cells);
    EXPECT_EQ(direct.notes.rich_inline_strings, events.notes.rich_inline_strings);
    EXPECT_EQ(direct.sheet.array_ranges, events.sheet.array_ranges);
  }
}

// After cells read directly, the event path resumes at the right byte.
TEST(PlainCells, OffsetsAfterDirectCells) {
  const std::string body = R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"/></x>)";
  const size_t at = std::string("<worksheet><sheetData>").size() + body.find("</x>");
  EXPECT_EQ(read(body).outcome,
            "xml error: end tag </x> does not match start tag <row> at byte " + std::to_string(at));
}

// Number texts read to the same double, bit for bit, as the full decimal
// parser gives, whatever route the reader takes; and shared-string indexes
// with leading zeros or many digits resolve as before.
TEST(PlainCells, NumbersMatchFullParser) {
  std::vector<std::string> texts = {"0", "-0", "007", "0.1", "0.30000000000000004", "-12.25",
                                    "123456789012345", "1234567890123456", "999999999999999.9",
                                    "9007199254740993", "0.000000000000001", "1.5e3", "1E-7", "+4",
                                    "2.675", "1.0000000000000002", "4.35", "0.29", "1.", ".5", "-.5"};
  // Deterministic spread of short decimals around the exact-division limit.
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (int idx = 0; idx < 400; ++idx) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const uint64_t digits = state >> 14;  // up to 50 bits
    const std::string whole = std::to_string(digits % 1000000000000000u);
    const size_t point = (state >> 3) % whole.size();
    texts.push_back(point == 0 ? whole : whole.substr(0, point) + "." + whole.substr(point));
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const Read got = read(R"(<row r="1"><c r="A1"><v>)" + text + "</v></c></row>");
    ASSERT_EQ(got.outcome, "ok");
    const std::optional<double> want = xml::attr_float(std::string_view(text));
    ASSERT_TRUE(want.has_value());
    const auto& value = got.cells.at(model::CellKey{0, 0}).value;
    ASSERT_TRUE(value.is_number());
    EXPECT_EQ(std::bit_cast<uint64_t>(value.as_number()), std::bit_cast<uint64_t>(*want));
  }
  for (const char* bad : {"-", "1.2.3", "--1", "1-"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(read(std::string(R"(<row r="1"><c r="A1"><v>)") + bad + "</v></c></row>").outcome,
              std::string("malformed spreadsheetml: bad number ") + bad);
  }
  const Read indexes = read(R"(<row r="1"><c r="A1" t="s"><v>002</v></c><c r="B1" t="s"><v>)"
                            R"(000000000000000000001</v></c><c r="C1" t="s"><v>18446744073709551616</v></c></row>)");
  ASSERT_EQ(indexes.outcome, "ok");
  const SharedStringCells want{{model::CellKey{0, 0}, 2}, {model::CellKey{0, 1}, 1}};
  EXPECT_EQ(indexes.string_cells, want);
}

// The direct path must keep the reader's cell limit and depth cap: cells of
// one, two and three levels at each depth around the cap.
TEST(PlainCells, LimitsHold) {
  for (const char* cell : {R"(<c r="A1"/>)", R"(<c r="A1"><v>1</v></c>)", R"(<c r="A1"><f>1</f></c>)",
                           R"(<c r="A1" t="inlineStr"><is><t>x</t></is></c>)"}) {
    for (int levels = 58; levels <= 63; ++levels) {
      SCOPED_TRACE(std::string(cell) + " under " + std::to_string(levels));
      std::string deep;
      for (int level = 0; level < levels; ++level) deep += "<x>";
      deep += cell;
      for (int level = 0; level < levels; ++level) deep += "</x>";
      const Read nested = read(deep);
      EXPECT_EQ(nested.outcome, read(spaced(deep)).outcome);
      EXPECT_EQ(nested.cells, read(spaced(deep)).cells);
      const std::string part = "<worksheet><sheetData>" + deep + "</sheetData></worksheet>";
      auto direct = xml::read_part_template(part);
      auto events = xml::read_part_template(spaced(part));
      ASSERT_EQ(direct.has_value(), events.has_value());
      if (!direct.has_value()) {
        EXPECT_EQ(xml::parse_error_message(direct.error()), xml::parse_error_message(events.error()));
      }
    }
  }
}

std::string unspaced(std::string_view text) {
  std::string out;
  for (size_t pos = 0; pos < text.size(); ++pos) {
    out.push_back(text[pos]);
    if (text.substr(pos, 4) == "<c  ") out.append("c "), pos += 3;
  }
  return out;
}

xml::PartTemplate unspaced(xml::PartTemplate part) {
  part.head = unspaced(part.head);
  part.trailing = unspaced(part.trailing);
  part.tail = unspaced(part.tail);
  for (xml::PartTemplateChild& child : part.children) {
    child.leading = unspaced(child.leading);
    child.text = unspaced(child.text);
  }
  return part;
}

// Every worksheet part of the corpus, read directly and through events.
TEST(PlainCells, CorpusSheetsAgree) {
  uint64_t sheets = 0;
  for (const auto& path : testing::corpus_sample(1)) {
    SCOPED_TRACE(path.string());
    const std::string bytes = testing::file_bytes(path);
    auto parts = opc::read_package_archive(bytes);
    if (!parts.has_value()) continue;
    std::vector<SharedString> strings;
    if (auto table = opc::find_package_part(*parts, "xl/sharedStrings.xml")) {
      if (auto read_strings = read_shared_strings(*table)) strings = std::move(read_strings->items);
    }
    for (const opc::PackagePart& part : *parts) {
      if (!part.name.starts_with("xl/worksheets/") || !part.name.ends_with(".xml")) continue;
      SCOPED_TRACE(part.name);
      ++sheets;
      const std::string spaced_bytes = spaced(part.bytes);
      const Read direct = read_part(part.bytes, strings);
      const Read events = read_part(spaced_bytes, strings);
      EXPECT_EQ(without_offset(direct.outcome), without_offset(events.outcome));
      EXPECT_TRUE(direct.sheet == events.sheet);
      EXPECT_EQ(direct.cells, events.cells);
      EXPECT_EQ(direct.string_cells, events.string_cells);
      EXPECT_EQ(direct.notes.uncached_formula_cells, events.notes.uncached_formula_cells);
      EXPECT_EQ(direct.notes.rich_inline_strings, events.notes.rich_inline_strings);
      EXPECT_EQ(direct.dimensions.column_widths, events.dimensions.column_widths);
      EXPECT_EQ(direct.dimensions.row_heights, events.dimensions.row_heights);
      auto direct_template = xml::read_part_template(part.bytes);
      auto events_template = xml::read_part_template(spaced_bytes);
      ASSERT_EQ(direct_template.has_value(), events_template.has_value());
      if (direct_template.has_value()) {
        EXPECT_TRUE(*direct_template == unspaced(*events_template));
      } else {
        EXPECT_EQ(without_offset(xml::parse_error_message(direct_template.error())),
                  without_offset(xml::parse_error_message(events_template.error())));
      }
    }
  }
  if (sheets == 0) GTEST_SKIP() << "no corpus";
}

}  // namespace
}  // namespace cmx::reader
