#include "writer/styles_rewrite.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/style_equality.h"
#include "reader/styles_reader.h"
#include "test_util.h"
#include "xml/part_template.h"

namespace cmx::writer {
namespace {

constexpr std::string_view kDecl = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

const std::string kFont0 = R"(<font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/></font>)";
const std::string kFont1 = R"(<font><b/><sz val="11"/><name val="Calibri"/><family val="2"/><scheme val="minor"/></font>)";
const std::string kFont2 = R"(<font><i/><sz val="9"/><name val="Arial"/></font>)";
const std::string kFonts =
    R"(<fonts count="3" x14ac:knownFonts="1">)" + kFont0 + "\n" + kFont1 + "\n" + kFont2 + "</fonts>";
const std::string kFills =
    R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)";
const std::string kBorders =
    R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)";
const std::string kCellStyleXfs = R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)";
const std::string kCellXfs =
    R"(<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
    R"(<xf numFmtId="164" fontId="1" fillId="0" borderId="0" xfId="0" applyNumberFormat="1" applyFont="1"/>)"
    R"(<xf numFmtId="14" fontId="2" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>)";
const std::string kTail =
    R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
    R"(<dxfs count="1"><dxf><numFmt numFmtId="165" formatCode="0.000"/><font><b/></font></dxf></dxfs>)"
    R"(<tableStyles count="0" defaultTableStyle="TableStyleMedium2"/>)"
    R"(<extLst><ext uri="{EB79DEF2-80B8-4F48-8A05-9F5F55C76B31}"><x14:slicerStyles defaultSlicerStyle="S"/></ext></extLst>)";

std::string styles_part(const std::string& num_fmts, const std::string& colors = "", const std::string& fonts = kFonts) {
  return std::string(kDecl) + R"(<styleSheet xmlns=")" + std::string(kMain) +
         R"(" xmlns:x14ac="http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac" )"
         R"(xmlns:x14="http://schemas.microsoft.com/office/spreadsheetml/2009/9/main">)" +
         num_fmts + fonts + kFills + kBorders + kCellStyleXfs + kCellXfs +
         kTail.substr(0, kTail.find("<extLst>")) + colors + kTail.substr(kTail.find("<extLst>")) + "</styleSheet>";
}

const std::string kNumFmts = R"(<numFmts count="1"><numFmt numFmtId="164" formatCode="0.0%"/></numFmts>)";

model::StyleSheet read(const std::string& part) {
  auto read = reader::read_styles_part(part, std::nullopt);
  EXPECT_TRUE(read.has_value()) << part;
  return read.has_value() ? read->styles : model::StyleSheet{};
}

struct Rewritten {
  std::string text;
  model::StyleSheet reread;
};

// Reads `part`, edits the tables, rewrites, and reads the result back,
// which must hold exactly the edited tables.
Rewritten rewrite(const std::string& part, const std::function<void(model::StyleSheet&)>& edit,
                  bool check_reread = true) {
  const model::StyleSheet baseline = read(part);
  model::StyleSheet styles = baseline;
  edit(styles);
  auto part_template = xml::read_part_template(part);
  EXPECT_TRUE(part_template.has_value());
  if (!part_template) return {};
  auto text = rewrite_styles_part(styles, baseline, *part_template);
  EXPECT_TRUE(text.has_value()) << xml::parse_error_message(text.error());
  if (!text) return {};
  Rewritten out{*text, read(*text)};
  // The differential format's own number format is read into the list too.
  auto without_dxf_format = [](model::StyleSheet s) {
    std::erase(s.num_fmts, model::CustomNumFmt{165, "0.000"});
    return s;
  };
  if (check_reread) {
    EXPECT_TRUE(model::stylesheet_eq(without_dxf_format(out.reread), without_dxf_format(styles))) << *text;
  }
  return out;
}

bool contains(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

TEST(StylesRewrite, UnchangedTablesKeepEveryByte) {
  const std::string part = styles_part(kNumFmts, R"(<colors><mruColors><color rgb="FF00FF00"/></mruColors></colors>)");
  EXPECT_EQ(rewrite(part, [](model::StyleSheet&) {}).text, part);
}

TEST(StylesRewrite, TablesPatchedEntryByEntry) {
  struct Case {
    const char* name;
    std::function<void(model::StyleSheet&)> edit;
    std::vector<std::string> present;  // fragments the new part holds
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {"font appended",
       [](model::StyleSheet& s) { s.fonts.push_back(model::Font{"Verdana", 14.0, true, false, false, false, {}}); },
       {R"(<fonts count="4" x14ac:knownFonts="1">)" + kFont0 + "\n" + kFont1 + "\n" + kFont2 +
        R"(<font><b/><sz val="14"/><name val="Verdana"/></font></fonts>)"},
       {}},
      {"font changed in place",
       [](model::StyleSheet& s) { s.fonts[1].italic = true; },
       {kFont0 + "\n" + R"(<font><b/><i/><sz val="11"/><name val="Calibri"/></font>)" + "\n" + kFont2},
       {kFont1}},
      {"fewer cell formats",
       [](model::StyleSheet& s) { s.cell_xfs.resize(1); },
       {R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"},
       {"numFmtId=\"14\""}},
      {"custom formats all removed",
       [](model::StyleSheet& s) { s.num_fmts.clear(); },
       {kFonts},
       {"<numFmts", "0.0%"}},
      {"a fill changed, others untouched",
       [](model::StyleSheet& s) { s.fills.push_back(model::SolidFill{model::RgbColor{"#ff0000"}}); },
       {kNumFmts + kFonts, R"(<fill><patternFill patternType="gray125"/></fill><fill><patternFill patternType="solid">)",
        kBorders + kCellStyleXfs + kCellXfs, kTail},
       {}},
  };
  const std::string part = styles_part(kNumFmts);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rewritten out = rewrite(part, c.edit);
    for (const std::string& fragment : c.present) EXPECT_TRUE(contains(out.text, fragment)) << fragment << "\n" << out.text;
    for (const std::string& fragment : c.absent) EXPECT_FALSE(contains(out.text, fragment)) << fragment;
    // Whatever changed, the tables the model does not hold stay as they were.
    EXPECT_TRUE(contains(out.text, kCellStyleXfs));
    EXPECT_TRUE(contains(out.text, kTail));
  }
}

TEST(StylesRewrite, MissingNumberFormatsGoBeforeFonts) {
  const std::string part = styles_part("");
  const Rewritten out = rewrite(part, [](model::StyleSheet& s) { s.num_fmts.push_back({170, "0.00\"&\""}); });
  EXPECT_TRUE(contains(out.text, R"(<numFmts count="1"><numFmt numFmtId="170" formatCode="0.00&quot;&amp;&quot;"/></numFmts><fonts)"))
      << out.text;
}

TEST(StylesRewrite, Palette) {
  struct Case {
    const char* name;
    std::string colors;
    std::vector<std::string> palette;
    std::string expected;  // the `colors` element, or empty for none
  };
  const std::string mru = R"(<mruColors><color rgb="FF00FF00"/></mruColors>)";
  const std::string indexed = R"(<indexedColors><rgbColor rgb="FF000000"/><rgbColor rgb="FFFFFFFF"/></indexedColors>)";
  const std::vector<Case> cases = {
      {"replaced beside another child", "<colors>" + indexed + mru + "</colors>", {"#123456", ""},
       R"(<colors><indexedColors><rgbColor rgb="FF123456"/><rgbColor/></indexedColors>)" + mru + "</colors>"},
      {"emptied", "<colors>" + indexed + mru + "</colors>", {}, "<colors>" + mru + "</colors>"},
      {"added before the other child", "<colors>" + mru + "</colors>", {"#abcdef"},
       R"(<colors><indexedColors><rgbColor rgb="FFABCDEF"/></indexedColors>)" + mru + "</colors>"},
      {"new colors element before extLst", "", {"#abcdef"},
       R"(<colors><indexedColors><rgbColor rgb="FFABCDEF"/></indexedColors></colors><extLst>)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rewritten out = rewrite(styles_part(kNumFmts, c.colors), [&](model::StyleSheet& s) {
      s.indexed_colors = c.palette;
    });
    EXPECT_TRUE(contains(out.text, c.expected)) << out.text;
    EXPECT_TRUE(contains(out.text, kFonts));
  }
  // A palette that did not change leaves `colors` alone while fonts change.
  const std::string odd = "<colors>" + indexed + "<!-- kept -->" + mru + "</colors>";
  const Rewritten out = rewrite(styles_part(kNumFmts, odd), [](model::StyleSheet& s) { s.fonts.pop_back(); });
  EXPECT_TRUE(contains(out.text, odd));
}

TEST(StylesRewrite, PrefixedRootGetsEntriesInItsNamespace) {
  const std::string part = std::string(kDecl) + R"(<x:styleSheet xmlns:x=")" + std::string(kMain) +
                           R"("><x:fonts count="1"><x:font><x:sz val="11"/><x:family val="2"/></x:font></x:fonts>)"
                           R"(<x:cellXfs count="1"><x:xf fontId="0"/></x:cellXfs></x:styleSheet>)";
  const Rewritten out = rewrite(part, [](model::StyleSheet& s) {
    s.fonts.push_back(model::Font{"Arial", 10.0, false, false, false, false, {}});
    s.num_fmts.push_back({164, "0.0"});
  });
  EXPECT_TRUE(contains(out.text, R"(<x:font><x:sz val="11"/><x:family val="2"/></x:font><x:font>)")) << out.text;
  EXPECT_EQ(out.reread.fonts.size(), 2u);
  EXPECT_EQ(out.reread.num_fmts.size(), 1u);
}

// Number formats that only a differential format defines are not copied
// into `numFmts`, however many times the styles are saved.
TEST(StylesRewrite, DifferentialNumberFormatsStayOut) {
  std::string part = styles_part(kNumFmts);
  ASSERT_EQ(read(part).num_fmts.size(), 2u);  // 164 and the dxf's 165
  for (int save = 0; save < 3; ++save) {
    SCOPED_TRACE(save);
    const model::StyleSheet baseline = read(part);
    model::StyleSheet styles = baseline;
    styles.fonts[2].bold = !styles.fonts[2].bold;
    auto text = rewrite_styles_part(styles, baseline, *xml::read_part_template(part));
    ASSERT_TRUE(text.has_value());
    part = *text;
    EXPECT_TRUE(contains(part, kNumFmts)) << part;
    EXPECT_EQ(read(part).num_fmts.size(), 2u);
  }
  // Once a cell format uses it, the format is written where cells find it.
  const model::StyleSheet baseline = read(part);
  model::StyleSheet styles = baseline;
  styles.cell_xfs[2].num_fmt_id = 165;
  auto text = rewrite_styles_part(styles, baseline, *xml::read_part_template(part));
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(contains(*text, R"(<numFmts count="2"><numFmt numFmtId="164" formatCode="0.0%"/><numFmt numFmtId="165" formatCode="0.000"/></numFmts>)"))
      << *text;
}

// A listed entry the reader skipped must not shift the later copies.
TEST(StylesRewrite, SkippedEntriesShiftNothing) {
  const std::string num_fmts =
      R"(<numFmts count="3"><numFmt numFmtId="170"/><numFmt numFmtId="164" formatCode="0.0%"/>)"
      R"(<numFmt numFmtId="166" formatCode="#,##0"/></numFmts>)";
  const Rewritten out = rewrite(styles_part(num_fmts), [](model::StyleSheet& s) {
    s.num_fmts.erase(s.num_fmts.begin());  // 164 dropped: 166 now sits first
  });
  EXPECT_TRUE(contains(out.text, R"(<numFmts count="1"><numFmt numFmtId="166" formatCode="#,##0"/></numFmts>)"))
      << out.text;
  // A font the reader took that the table does not list (another
  // namespace) leaves no position to copy by: every entry is written afresh.
  const std::string fonts =
      R"(<fonts count="2"><font xmlns="urn:other"><sz val="99"/></font><font><sz val="11"/><family val="2"/></font></fonts>)";
  const Rewritten fresh = rewrite(
      styles_part(kNumFmts, "", fonts), [](model::StyleSheet& s) { s.fonts.push_back(model::Font{}); },
      /*check_reread=*/false);
  EXPECT_TRUE(contains(fresh.text, R"(<fonts count="3"><font xmlns="urn:other"><sz val="99"/></font>)"
                                   R"(<font><sz val="99"/></font><font><sz val="11"/></font><font></font></fonts>)"))
      << fresh.text;
}

TEST(StylesRewrite, TableInsideAlternateContentIsRefused) {
  const std::string part =
      std::string(kDecl) + R"(<styleSheet xmlns=")" + std::string(kMain) +
      R"(" xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"><mc:AlternateContent><mc:Choice Requires="x"><fonts count="1"><font/></fonts></mc:Choice></mc:AlternateContent></styleSheet>)";
  const model::StyleSheet baseline = read(part);
  model::StyleSheet styles = baseline;
  styles.fonts.push_back(model::Font{});
  const auto text = rewrite_styles_part(styles, baseline, *xml::read_part_template(part));
  ASSERT_FALSE(text.has_value());
  EXPECT_EQ(text.error(), SpreadsheetParseError::unsupported_edit("fonts lives inside an mc:AlternateContent branch"));
}

TEST(StylesRewrite, ChildRanks) {
  EXPECT_EQ(stylesheet_child_rank("numFmts"), 0u);
  EXPECT_EQ(stylesheet_child_rank("cellXfs"), 5u);
  EXPECT_EQ(stylesheet_child_rank("extLst"), 10u);
  EXPECT_EQ(stylesheet_child_rank("font"), std::nullopt);
  EXPECT_EQ(colors_child_rank("indexedColors"), 0u);
  EXPECT_EQ(colors_child_rank("mruColors"), 1u);
}

}  // namespace
}  // namespace cmx::writer
