// Rendering templates back to bytes: children replaced by name, root
// attributes set, edits in schema order, the alternate-content refusal and
// namespace fitting of generated fragments. Every output must be well formed.
#include "xml/template_render.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "xmltree_util.h"

namespace cmx::xml {
namespace {

using namespace std::string_literals;
using Attrs = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

PartTemplate make(std::string_view bytes) {
  auto r = read_part_template(bytes);
  if (!r.has_value()) ADD_FAILURE() << parse_error_message(r.error());
  return r.has_value() ? std::move(*r) : PartTemplate{};
}

TEST(ReplaceTemplateChildren, Placement) {
  struct Case {
    std::string_view label;
    std::string_view part;
    std::vector<std::string> children;
    std::string_view expected;
  };
  const Case cases[] = {
      {"no children at all", "<r>\n</r>", {"<si>1</si>", "<si>2</si>"}, "<r>\n<si>1</si><si>2</si></r>"},
      {"empty-element root", "<r/>", {"<si/>"}, "<r><si/></r>"},
      {"only other names: before the first child", "<r> <a/> <b/></r>", {"<si/>"}, "<r> <si/><a/> <b/></r>"},
      {"three matches, two new", "<r><si>a</si> <x/> <si>b</si>\n<si>c</si></r>", {"<si>1</si>", "<si>2</si>"},
       "<r><si>1</si> <x/> <si>2</si>\n</r>"},
      {"two matches, five new", "<r><si>a</si><si>b</si><x/></r>", {"<si>1</si>", "<si>2</si>", "<si>3</si>", "<si>4</si>", "<si>5</si>"},
       "<r><si>1</si><si>2</si><si>3</si><si>4</si><si>5</si><x/></r>"},
      {"no new children drop matches, keep leading", "<r>\n  <si>a</si>\n  <si>b</si>\n</r>", {},
       "<r>\n  \n  \n</r>"},
      {"other namespace is not a match", "<r xmlns=\"u\"><si/><o:si xmlns:o=\"v\"/></r>", {"<si>n</si>"},
       "<r xmlns=\"u\"><si>n</si><o:si xmlns:o=\"v\"/></r>"},
      {"prefixed match in the root namespace", "<x:sst xmlns:x=\"u\"><x:si/></x:sst>", {"<x:si>n</x:si>"},
       "<x:sst xmlns:x=\"u\"><x:si>n</x:si></x:sst>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = replace_template_children(make(c.part), "si", c.children, {});
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(*r, c.expected);
    testing::expect_rendered_well_formed("replace_children_" + std::string(c.label), *r);
  }
}

TEST(ReplaceTemplateChildren, RootAttributes) {
  struct Case {
    std::string_view label;
    std::string_view part;
    Attrs attributes;
    std::string_view expected;
  };
  const Case cases[] = {
      {"replace count", "<sst count=\"1\" uniqueCount=\"1\"></sst>", {{"count", "3"}},
       "<sst count=\"3\" uniqueCount=\"1\"></sst>"},
      {"append count", "<sst></sst>", {{"count", "3"}}, "<sst count=\"3\"></sst>"},
      {"by local name", "<sst x:count='1' a = 'q'></sst>", {{"count", "3"}}, "<sst x:count=\"3\" a=\"q\"></sst>"},
      {"values escaped, old quoting dropped", "<?xml version=\"1.0\"?><!--c--><sst v='&quot;'>\n</sst>",
       {{"w", "<&>'\""}}, "<?xml version=\"1.0\"?><!--c--><sst v=\"&quot;\" w=\"&lt;&amp;&gt;&apos;&quot;\">\n</sst>"},
      // A prefixed name matches its exact attribute instead of being appended twice.
      {"prefixed name replaces",
       "<x:worksheet xmlns:x=\"u\" xmlns:r=\"v\" xmlns:mc=\"m\" mc:Ignorable=\"x14\"></x:worksheet>",
       {{"xmlns:r", "w"}, {"mc:Ignorable", "x14ac"}},
       "<x:worksheet xmlns:x=\"u\" xmlns:r=\"w\" xmlns:mc=\"m\" mc:Ignorable=\"x14ac\"></x:worksheet>"},
      {"prefixed name appended when absent", "<r a=\"1\"></r>", {{"xmlns:r", "v"}}, "<r a=\"1\" xmlns:r=\"v\"></r>"},
      {"prefixed name ignores another prefix", "<r p:a=\"1\"></r>", {{"q:a", "2"}}, "<r p:a=\"1\" q:a=\"2\"></r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = replace_template_children(make(c.part), "si", {}, c.attributes);
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(*r, c.expected);
    testing::expect_rendered_well_formed("root_attributes_" + std::string(c.label), *r);
  }
  // A head without a start tag.
  PartTemplate broken = make("<r></r>");
  broken.head = "<!--only a comment-->";
  const Attrs count = {{"count", "1"}};
  auto missing = replace_template_children(broken, "si", {}, count);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(parse_error_message(missing.error()), "malformed spreadsheetml: xml template root start is missing");
  broken.head = "<r a=\"1\" a=\"2\">";
  EXPECT_THAT(replace_template_children(broken, "si", {}, count), FailsWithKind(ParseErrorKind::Xml));
}

// The element order of a small worksheet-like schema.
uint64_t sheet_order(std::string_view name) {
  static constexpr std::string_view kOrder[] = {"sheetPr", "dimension", "sheetViews", "cols", "sheetData",
                                                "mergeCells", "hyperlinks", "pageMargins", "drawing", "extLst"};
  for (size_t i = 0; i < std::size(kOrder); ++i) {
    if (kOrder[i] == name) return i;
  }
  return kNoPosition;
}

TEST(ApplyTemplateEdits, Placement) {
  struct Case {
    std::string_view label;
    std::string_view part;
    std::vector<TemplateEdit> edits;
    std::string_view expected;
  };
  const Case cases[] = {
      {"no edits join the pieces", "<?xml version=\"1.0\"?>\n<worksheet><sheetData/> <drawing/></worksheet>\n", {},
       "<?xml version=\"1.0\"?>\n<worksheet><sheetData/> <drawing/></worksheet>\n"},
      {"empty root comes back open and closed", "<worksheet/>", {}, "<worksheet></worksheet>"},
      {"replace in place", "<worksheet><cols><col/></cols><sheetData/></worksheet>", {{"cols", "<cols/>"}},
       "<worksheet><cols/><sheetData/></worksheet>"},
      {"delete keeps leading", "<worksheet>\n <cols/>\n <sheetData/></worksheet>", {{"cols", std::nullopt}},
       "<worksheet>\n \n <sheetData/></worksheet>"},
      {"later edit of a name wins", "<worksheet><cols/></worksheet>", {{"cols", "<cols>1</cols>"}, {"cols", "<cols>2</cols>"}},
       "<worksheet><cols>2</cols></worksheet>"},
      {"insert before the first larger position", "<worksheet> <sheetViews/> <sheetData/> <drawing/></worksheet>",
       {{"mergeCells", "<mergeCells/>"}, {"cols", "<cols/>"}},
       "<worksheet> <sheetViews/> <cols/><sheetData/> <mergeCells/><drawing/></worksheet>"},
      {"insert in position order, ties by name", "<worksheet><extLst/></worksheet>",
       {{"hyperlinks", "<hyperlinks/>"}, {"dimension", "<dimension/>"}},
       "<worksheet><dimension/><hyperlinks/><extLst/></worksheet>"},
      {"no position: after the last positioned child", "<worksheet><sheetData/><x:foo xmlns:x=\"o\"/></worksheet>",
       {{"unknown", "<unknown/>"}}, "<worksheet><sheetData/><unknown/><x:foo xmlns:x=\"o\"/></worksheet>"},
      {"nothing positioned: before the tail", "<worksheet> <x:foo xmlns:x=\"o\"/> </worksheet>",
       {{"cols", "<cols/>"}}, "<worksheet> <x:foo xmlns:x=\"o\"/> <cols/></worksheet>"},
      {"duplicates of an edited name dropped", "<worksheet><cols>a</cols><cols>b</cols></worksheet>",
       {{"cols", "<cols>n</cols>"}}, "<worksheet><cols>n</cols></worksheet>"},
      {"element further on than the last positioned child", "<worksheet><sheetData/><unknown>old</unknown></worksheet>",
       {{"unknown", "<unknown>new</unknown>"}}, "<worksheet><sheetData/><unknown>new</unknown></worksheet>"},
      {"an edit for another namespace inserts", "<worksheet><sheetData/><o:drawing xmlns:o=\"v\"/></worksheet>",
       {{"drawing", "<drawing/>"}}, "<worksheet><sheetData/><drawing/><o:drawing xmlns:o=\"v\"/></worksheet>"},
      {"deleting an absent element writes nothing", "<worksheet><sheetData/></worksheet>", {{"cols", std::nullopt}},
       "<worksheet><sheetData/></worksheet>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = apply_template_edits(make(c.part), c.edits, sheet_order);
    ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
    EXPECT_EQ(*r, c.expected);
    testing::expect_rendered_well_formed("template_edits_" + std::string(c.label), *r);
  }
}

const std::string kAcSheet =
    "<worksheet xmlns=\"" + std::string(kMainNs) +
    "\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" xmlns:x14=\"urn:x14\">"
    "<sheetData/>"
    "<mc:AlternateContent><mc:Choice Requires=\"x14\"><drawing r=\"1\"><hyperlinks/></drawing><x14:cols/></mc:Choice>"
    "<mc:Fallback><pageMargins/></mc:Fallback></mc:AlternateContent>"
    "<extLst/></worksheet>";

TEST(ApplyTemplateEdits, AlternateContent) {
  const PartTemplate t = make(kAcSheet);
  struct Refused {
    std::vector<TemplateEdit> edits;
    std::string_view message;
  };
  const Refused refused[] = {
      {{{"drawing", "<drawing/>"}}, "unsupported edit: drawing lives inside an mc:AlternateContent branch"},
      {{{"pageMargins", std::nullopt}}, "unsupported edit: pageMargins lives inside an mc:AlternateContent branch"},
      {{{"sheetData", "<sheetData/>"}, {"drawing", std::nullopt}},
       "unsupported edit: drawing lives inside an mc:AlternateContent branch"},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.message);
    auto r = apply_template_edits(t, c.edits, sheet_order);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(parse_error_message(r.error()), c.message);
  }
  // Deeper in a branch, or in another namespace: inserted as usual, at the
  // AlternateContent's position (that of its first branch element, drawing).
  const std::vector<TemplateEdit> fine = {{"hyperlinks", "<hyperlinks/>"}, {"cols", "<cols/>"}};
  auto r = apply_template_edits(t, fine, sheet_order);
  ASSERT_TRUE(r.has_value()) << parse_error_message(r.error());
  EXPECT_NE(r->find("<sheetData/><hyperlinks/><mc:AlternateContent>"), std::string::npos) << *r;
  EXPECT_NE(r->find("<cols/><sheetData/>"), std::string::npos) << *r;
  testing::expect_rendered_well_formed("template_edits_alternate_content", *r);
  // Inside a branch the name is cut at its last ":" (and its namespace found
  // through the text before the first), unlike a template child's name.
  const PartTemplate odd = make("<worksheet xmlns=\"" + std::string(kMainNs) +
                                "\"><mc:AlternateContent xmlns:mc=\"m\"><mc:Choice><p:q:cols xmlns:p=\"" +
                                std::string(kMainNs) + "\"/></mc:Choice></mc:AlternateContent></worksheet>");
  const std::vector<TemplateEdit> cols = {{"cols", "<cols/>"}};
  auto cut = apply_template_edits(odd, cols, sheet_order);
  ASSERT_FALSE(cut.has_value());
  EXPECT_EQ(parse_error_message(cut.error()), "unsupported edit: cols lives inside an mc:AlternateContent branch");
  // A damaged branch fails even with no edits.
  PartTemplate damaged = t;
  damaged.children[1].text = "<mc:AlternateContent><mc:Choice></mc:AlternateContent>";
  EXPECT_THAT(apply_template_edits(damaged, {}, sheet_order), FailsWithKind(ParseErrorKind::Xml));
  // Nesting is capped inside the wrapper too.
  std::string deep = "<mc:AlternateContent>";
  for (int i = 0; i < 63; ++i) deep += "<e>";
  for (int i = 0; i < 63; ++i) deep += "</e>";
  damaged.children[1].text = deep + "</mc:AlternateContent>";
  EXPECT_THAT(apply_template_edits(damaged, {}, sheet_order), FailsWithKind(ParseErrorKind::DepthExceeded));
}

TEST(AdaptFragmentNamespace, Styles) {
  const PartTemplate bound = make("<x:worksheet xmlns:x=\"" + std::string(kMainNs) + "\"></x:worksheet>");
  auto with_xmlns = adapt_fragment_namespace(bound, "<cols><col min=\"1\"/></cols>");
  ASSERT_TRUE(with_xmlns.has_value());
  EXPECT_EQ(*with_xmlns, "<cols xmlns=\"" + std::string(kMainNs) + "\"><col min=\"1\"/></cols>");
  auto two_top = adapt_fragment_namespace(bound, "<a/><!--c--><b>t</b>");
  ASSERT_TRUE(two_top.has_value());
  EXPECT_EQ(*two_top, "<a xmlns=\"" + std::string(kMainNs) + "\"/><!--c--><b xmlns=\"" + std::string(kMainNs) + "\">t</b>");
  // A fragment that declares its own default keeps it, never gets two.
  auto own = adapt_fragment_namespace(bound, "<a xmlns=\"urn:own\"/>");
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(*own, "<a xmlns=\"urn:own\"/>");

  const PartTemplate unbound = make("<x:worksheet></x:worksheet>");
  auto prefixed = adapt_fragment_namespace(unbound, "<cols><col min=\"1\"/></cols>");
  ASSERT_TRUE(prefixed.has_value());
  EXPECT_EQ(*prefixed, "<x:cols><x:col min=\"1\"/></x:cols>");
  auto kept = adapt_fragment_namespace(unbound, "<r:a><b >t&amp;<![CDATA[<c>]]></b ></r:a>");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(*kept, "<r:a><x:b >t&amp;<![CDATA[<c>]]></x:b ></r:a>");

  const PartTemplate plain = make("<worksheet xmlns=\"u\"></worksheet>");
  auto same = adapt_fragment_namespace(plain, "<cols><col/></cols>");
  ASSERT_TRUE(same.has_value());
  EXPECT_EQ(*same, "<cols><col/></cols>");

  for (std::string_view bad : {"<a></b>", "<a>", "<a x=1/>"}) {
    SCOPED_TRACE(bad);
    EXPECT_THAT(adapt_fragment_namespace(bound, bad), FailsWithKind(ParseErrorKind::Xml));
  }
}

TEST(ApplyTemplateEdits, PrefixedPartGetsFittedFragments) {
  const std::string part = "<x:worksheet xmlns:x=\"" + std::string(kMainNs) + "\"><x:sheetData/></x:worksheet>";
  const std::vector<TemplateEdit> edits = {{"cols", "<cols><col min=\"1\" max=\"2\"/></cols>"}};
  auto r = apply_template_edits(make(part), edits, sheet_order);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, "<x:worksheet xmlns:x=\"" + std::string(kMainNs) + "\"><cols xmlns=\"" + std::string(kMainNs) +
                    "\"><col min=\"1\" max=\"2\"/></cols><x:sheetData/></x:worksheet>");
  testing::expect_rendered_well_formed("template_edits_prefixed_part", *r);
}

}  // namespace
}  // namespace cmx::xml
