// The worksheet reader's direct path for plainly written cells against its
// event path: every sheet is read as written and again with each cell tag
// given a second space, which no direct read accepts, and both reads must
// agree on cells, shared-string cells, side records and errors.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/worksheet.h"
#include "xml/attr_values.h"

namespace cmx::reader {
namespace {

struct Read {
  std::string outcome;
  model::CellMap cells;
  SharedStringCells string_cells;
  CellTextNotes notes;
};

Read read(std::string_view body) {
  const std::vector<SharedString> strings{SharedString("zero"), SharedString("one"), SharedString("two")};
  const opc::RelationshipMap rels;
  std::string part = "<worksheet><sheetData>";
  part += body;
  part += "</sheetData></worksheet>";
  Read out;
  SourceDimensions dimensions;
  auto sheet = read_worksheet("S", part, strings, rels, out.string_cells, dimensions, out.notes);
  if (sheet.has_value()) {
    out.outcome = "ok";
    out.cells = std::move(sheet->cells);
  } else {
    out.outcome = xml::parse_error_message(sheet.error());
  }
  return out;
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
  };
  for (const char* body : cases) {
    SCOPED_TRACE(body);
    const Read direct = read(body);
    const Read events = read(spaced(body));
    EXPECT_EQ(without_offset(direct.outcome), without_offset(events.outcome));
    EXPECT_EQ(direct.cells, events.cells);
    EXPECT_EQ(direct.string_cells, events.string_cells);
    EXPECT_EQ(direct.notes.uncached_formula_cells, events.notes.uncached_formula_cells);
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

// The direct path must keep the reader's cell limit and depth cap.
TEST(PlainCells, LimitsHold) {
  std::string deep;
  for (int level = 0; level < 61; ++level) deep += "<x>";
  deep += R"(<c r="A1"><v>1</v></c>)";
  const Read nested = read(deep);
  EXPECT_NE(nested.outcome, "ok");
  EXPECT_EQ(nested.outcome, read(spaced(deep)).outcome);
}

}  // namespace
}  // namespace cmx::reader
