// The direct cell scanner, both ways of finding a field's end: what each
// accepts and the record it fills, with the fields short of and across a
// sixteen-byte block, near the end of the input, and under every one-byte
// change and truncation of a set of cells.
#include "xml/cell_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace cmx::xml {
namespace {

// The record as text, only the fields its flags set; "no" when refused.
std::string describe(bool accepted, const PlainCell& cell) {
  if (!accepted) return "no";
  std::string out;
  auto field = [&](std::string_view name, bool set, std::string_view text) {
    if (!set) return;
    out.append(name).append("=[").append(text).append("] ");
  };
  field("r", cell.has_ref, cell.ref);
  field("s", cell.has_style, cell.style);
  field("t", cell.has_type, cell.type);
  field("f", cell.has_formula, cell.formula);
  field("v", cell.has_value, cell.value);
  field("is", cell.has_inline, cell.inline_text);
  out += "depth=" + std::to_string(cell.depth) + " length=" + std::to_string(cell.length);
  return out;
}

// Both scanners over the same bytes, each with a record left over from an
// unrelated cell, so that a field set without its flag would show.
std::string scan_both(std::string_view in, std::string* wide = nullptr) {
  PlainCell narrow_cell;
  PlainCell wide_cell;
  const std::string_view stale = R"(<c r="Z9" s="1" t="s"><f>1</f><v>2</v></c>)";
  scan_plain_cell(stale, narrow_cell);
  scan_plain_cell_wide(stale, wide_cell);
  const bool narrow_ok = scan_plain_cell(in, narrow_cell);
  const bool wide_ok = scan_plain_cell_wide(in, wide_cell);
  if (wide != nullptr) *wide = describe(wide_ok, wide_cell);
  return describe(narrow_ok, narrow_cell);
}

const std::string kLong(40, 'x');

TEST(CellScan, Table) {
  struct Case {
    std::string_view name;
    std::string cell;
    std::string expected;
  };
  const std::string ae = "\xC3\xA4";  // two bytes of UTF-8
  const Case cases[] = {
      // The common shapes.
      {"empty", R"(<c r="B7" s="3"/>)", "r=[B7] s=[3] depth=1 length=17"},
      {"shared text", R"(<c r="B7" s="3" t="s"><v>12</v></c>)", "r=[B7] s=[3] t=[s] v=[12] depth=2 length=35"},
      {"formula", R"(<c r="B7"><f>A7*2</f><v>14</v></c>)", "r=[B7] f=[A7*2] v=[14] depth=2 length=34"},
      {"uncached formula", R"(<c r="B7"><f>A7</f></c>)", "r=[B7] f=[A7] depth=2 length=23"},
      {"inline", R"(<c r="B7" t="inlineStr"><is><t>x</t></is></c>)",
       "r=[B7] t=[inlineStr] is=[x] depth=3 length=45"},
      {"preserved", R"(<c t="inlineStr" r="C1"><is><t xml:space="preserve"> a </t></is></c>)",
       "r=[C1] t=[inlineStr] is=[ a ] depth=3 length=68"},
      {"no attributes", "<c ></c>", "depth=1 length=8"},
      {"empty texts", R"(<c r="A1"><f></f><v></v></c>)", "r=[A1] f=[] v=[] depth=2 length=28"},
      // Fields that reach or cross a block of sixteen bytes.
      {"long value", "<c r=\"A1\"><v>" + kLong + "</v></c>",
       "r=[A1] v=[" + kLong + "] depth=2 length=" + std::to_string(21 + kLong.size())},
      {"long reference", "<c r=\"" + kLong + "\"/>", "r=[" + kLong + "] depth=1 length=" + std::to_string(9 + kLong.size())},
      {"character across blocks", "<c r=\"A1\"><v>" + std::string(15, 'y') + ae + "</v></c>",
       "r=[A1] v=[" + std::string(15, 'y') + ae + "] depth=2 length=38"},
      {"character after a block", "<c r=\"A1\"><f>" + std::string(16, 'y') + ae + "</f></c>",
       "r=[A1] f=[" + std::string(16, 'y') + ae + "] depth=2 length=39"},
      // Refused: left to the pull reader.
      {"reference in text", R"(<c r="A1"><v>1&amp;</v></c>)", "no"},
      {"late reference in text", "<c r=\"A1\"><v>" + kLong + "&amp;</v></c>", "no"},
      {"broken character", "<c r=\"A1\"><v>" + std::string(15, 'y') + "\xC3</v></c>", "no"},
      {"late broken character", "<c r=\"A1\"><v>" + kLong + "\xFF</v></c>", "no"},
      {"space in value", R"(<c r="A 1"/>)", "no"},
      {"late space in value", "<c r=\"" + kLong + " \"/>", "no"},
      {"byte 7F in value", "<c r=\"A\x7F\"/>", "no"},
      {"high byte in value", "<c r=\"" + kLong + "\xC3\xA4\"/>", "no"},
      {"lt in value", "<c r=\"" + kLong + "<\"/>", "no"},
      {"repeated attribute", R"(<c r="A1" r="B1"/>)", "no"},
      {"other attribute", R"(<c r="A1" cm="1"/>)", "no"},
      {"two spaces", R"(<c  r="A1"/>)", "no"},
      {"formula with attributes", R"(<c r="A1"><f t="shared" si="0"/></c>)", "no"},
      {"value before formula", R"(<c r="A1"><v>1</v><f>2</f></c>)", "no"},
      {"rich inline", R"(<c r="A1" t="inlineStr"><is><r><t>x</t></r></is></c>)", "no"},
      {"other space", R"(<c r="A1" t="inlineStr"><is><t xml:space="default">x</t></is></c>)", "no"},
      {"unterminated value", "<c r=\"A1\"><v>" + kLong, "no"},
      {"unterminated attribute", "<c r=\"" + kLong, "no"},
      {"not a cell", R"(<col min="1"/>)", "no"},
  };
  // After each cell: nothing, a short tail, and a tail long enough that
  // every field is searched block by block.
  const std::string tails[] = {"", "</row>", "</row><row r=\"2\">" + kLong + kLong};
  for (const Case& c : cases) {
    for (const std::string& tail : tails) {
      SCOPED_TRACE(std::string(c.name) + " + " + std::to_string(tail.size()));
      const std::string in = c.cell + tail;
      std::string wide;
      const std::string narrow = scan_both(in, &wide);
      EXPECT_EQ(narrow, c.expected);
      EXPECT_EQ(wide, narrow);
    }
  }
}

// Every one-byte change and every truncation of a few cells, each placed at
// several distances from the end of the input: both scanners agree.
TEST(CellScan, ScannersAgreeUnderChanges) {
  const std::string seeds[] = {
      R"(<c r="AB12" s="7" t="inlineStr"><is><t xml:space="preserve">some text here</t></is></c>)",
      "<c r=\"C3\"><f>SUM(A1:A9)*2+\xC3\xA4\xE2\x82\xAC</f><v>123456.789012345678</v></c>",
      R"(<c s="12" r="XFD1048576" t="str"><v>a longer text of forty characters..</v></c>)",
  };
  const char changes[] = {'<', '&', '"', ' ', '>', '/', 'x', '\x7F', '\x01', '\x80', '\xC3', '\xFF'};
  std::vector<std::string> inputs;
  for (const std::string& seed : seeds) {
    for (size_t cut = 0; cut <= seed.size(); ++cut) inputs.push_back(seed.substr(0, cut));
    for (size_t at = 0; at < seed.size(); ++at) {
      for (const char change : changes) {
        std::string changed = seed;
        changed[at] = change;
        inputs.push_back(std::move(changed));
      }
    }
  }
  size_t accepted = 0;
  for (const std::string& input : inputs) {
    for (size_t pad = 0; pad <= 24; pad += 3) {
      const std::string in = input + std::string(pad, '<');
      std::string wide;
      const std::string narrow = scan_both(in, &wide);
      ASSERT_EQ(wide, narrow) << in;
      accepted += narrow != "no";
    }
  }
  // Many changes keep a cell plain (a letter for a letter); the comparison
  // must have covered accepted cells as well as refused ones.
  EXPECT_GT(accepted, inputs.size());
}

}  // namespace
}  // namespace cmx::xml
