// Properties over real parts: every fixture part, and parts of the workbook
// corpus when this machine has it, in UTF-8 and UTF-16 (both orders, with
// and without a mark). Decoding and rewriting without edits give back the
// exact bytes; templates join back to the exact bytes; rewriting an
// element's content with itself changes nothing; rewriting text content
// keeps the part well formed and its text the same.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "opc/package_archive.h"
#include "xml/element_tree.h"
#include "xml/part_decoding.h"
#include "xml/part_template.h"
#include "xml/span_rewrite.h"
#include "xml/template_render.h"
#include "xml/tree_queries.h"
#include "xmltree_util.h"

namespace cmx::xml {
namespace {

namespace fs = std::filesystem;

struct NamedPart {
  std::string name;
  std::string bytes;
};

std::vector<NamedPart> fixture_parts() {
  std::vector<NamedPart> parts;
  for (const auto& entry : fs::recursive_directory_iterator(testing::fixtures_root())) {
    const fs::path& path = entry.path();
    if (entry.is_regular_file() && (path.extension() == ".xml" || path.extension() == ".rels")) {
      parts.push_back({fs::relative(path, testing::fixtures_root()).string(), testing::read_file(path)});
    }
  }
  // Directory order is the file system's; tests should not depend on it.
  std::sort(parts.begin(), parts.end(), [](const NamedPart& a, const NamedPart& b) { return a.name < b.name; });
  return parts;
}

// XML parts of corpus workbooks: all of them with CMX_XMLTREE_FULL_CORPUS
// set, else a fixed sample that keeps the test quick.
std::vector<NamedPart> corpus_parts() {
  std::vector<NamedPart> parts;
  const fs::path root = testing::corpus_root();
  if (!fs::is_directory(root)) return parts;
  std::vector<fs::path> books;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") books.push_back(entry.path());
  }
  std::sort(books.begin(), books.end());
  const bool full = std::getenv("CMX_XMLTREE_FULL_CORPUS") != nullptr;
  for (size_t index = 0; index < books.size(); ++index) {
    if (!full && index % 8 != 0) continue;
    auto archive = opc::read_package_archive(testing::read_file(books[index]));
    if (!archive.has_value()) continue;  // the encrypted one, for instance
    for (opc::PackagePart& part : *archive) {
      if (!part.name.ends_with(".xml") && !part.name.ends_with(".rels")) continue;
      parts.push_back({books[index].filename().string() + ":" + part.name, std::move(part.bytes)});
    }
  }
  return parts;
}

struct Spelling {
  const char* label;
  PartEncoding encoding;
  bool bom;
};
constexpr Spelling kSpellings[] = {
    {"utf8", PartEncoding::Utf8, false},       {"utf8-bom", PartEncoding::Utf8, true},
    {"utf16le", PartEncoding::Utf16Le, false}, {"utf16le-bom", PartEncoding::Utf16Le, true},
    {"utf16be", PartEncoding::Utf16Be, false}, {"utf16be-bom", PartEncoding::Utf16Be, true},
};

void for_each_element(const XmlElement& element, const std::function<void(const XmlElement&)>& visit) {
  visit(element);
  for (const XmlNode& node : element.children) {
    if (const XmlElement* child = node.element()) for_each_element(*child, visit);
  }
}

uint64_t no_order(std::string_view) { return kNoPosition; }

// The text with the encoding name of its leading declaration, if any,
// changed to UTF-16.
std::string declare_utf16(std::string text) {
  if (!text.starts_with("<?xml")) return text;
  const size_t close = text.find("?>");
  for (std::string_view name : {"\"UTF-8\"", "'UTF-8'", "\"utf-8\"", "'utf-8'"}) {
    const size_t at = text.find(name);
    if (at != std::string::npos && at < close) {
      text.replace(at + 1, name.size() - 2, "UTF-16");
      break;
    }
  }
  return text;
}

// Checks one part in every spelling; `accepted` stays false when the part
// is not one our readers accept at all (then nothing else is claimed).
void check_part(const NamedPart& part, bool dump, bool& accepted) {
  SCOPED_TRACE(part.name);
  accepted = false;
  auto decoded = decode_part(part.bytes);
  if (!decoded.has_value()) return;
  if (!parse_xml_tree(decoded->text, STANDARD_ELEMENT_BUDGET).has_value()) return;
  accepted = true;

  for (const Spelling& spelling : kSpellings) {
    SCOPED_TRACE(spelling.label);
    // A UTF-16 spelling says so in its declaration, as a real one would
    // (our decoder does not compare the two; other readers do).
    const std::string text = spelling.encoding == PartEncoding::Utf8 ? decoded->text : declare_utf16(decoded->text);
    auto tree = parse_xml_tree(text, STANDARD_ELEMENT_BUDGET);
    ASSERT_TRUE(tree.has_value());
    const std::string bytes = encode_part_text(text, spelling.encoding, spelling.bom);
    auto again = decode_part(bytes);
    ASSERT_TRUE(again.has_value()) << parse_error_message(again.error());
    EXPECT_EQ(again->text, text);
    EXPECT_EQ(again->encoding, spelling.encoding);
    EXPECT_EQ(again->had_bom, spelling.bom);
    auto same = apply_span_rewrites(*again, {});
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*same, bytes);

    // Templates read bytes as stored: a UTF-8 part always splits, and any
    // split (UTF-16 bytes seldom give one) joins back exactly.
    auto split = read_part_template(bytes);
    if (spelling.encoding == PartEncoding::Utf8) {
      ASSERT_TRUE(split.has_value()) << parse_error_message(split.error());
    }
    if (split.has_value()) {
      // An empty-element root is the one exception: it comes back as a start
      // and an end tag, and splits again to the same template.
      const std::string joined = join_part_template(*split);
      if (tree->root.self_closing) {
        auto resplit = read_part_template(joined);
        ASSERT_TRUE(resplit.has_value());
        EXPECT_EQ(*resplit, *split);
        EXPECT_TRUE(testing::well_formed(joined));
      } else {
        EXPECT_EQ(joined, bytes);
      }
      auto rendered = apply_template_edits(*split, {}, no_order);
      if (rendered.has_value()) {
        EXPECT_EQ(*rendered, joined);
      }
      auto replaced = replace_template_children(*split, "\x01none", {}, {});
      ASSERT_TRUE(replaced.has_value());
      EXPECT_EQ(*replaced, joined);
      // Each top-level child splits on its own too.
      for (const PartTemplateChild& child : split->children) {
        if (child.text.ends_with("/>")) continue;
        auto inner = read_part_template(child.text);
        ASSERT_TRUE(inner.has_value()) << parse_error_message(inner.error());
        EXPECT_EQ(join_part_template(*inner), child.text);
      }
    }

    // Every element's content replaced by itself: the same bytes. Leaf text
    // replaced by its own escaped text: well formed, same text.
    std::vector<SpanEdit> identity;
    std::vector<SpanEdit> escaped;
    bool escapable = true;
    for_each_element(tree->root, [&](const XmlElement& element) {
      const std::string content = text.substr(element.content_start, element.content_end - element.content_start);
      identity.push_back({element.content_start, element.content_end, RawMarkup{content}});
      const bool leaf = std::none_of(element.children.begin(), element.children.end(),
                                     [](const XmlNode& node) { return node.is_element(); });
      if (leaf && !element.self_closing) {
        std::string inner;
        collect_tree_text(element, inner);
        escaped.push_back({element.content_start, element.content_end, EscapedText{inner}});
      }
    });
    // Content spans nest; one level of them at a time: the root alone.
    auto whole = apply_span_rewrites(*again, std::span(identity.data(), 1));
    ASSERT_TRUE(whole.has_value()) << parse_error_message(whole.error());
    EXPECT_EQ(*whole, bytes);
    auto rewritten = apply_span_rewrites(*again, escaped);
    if (!rewritten.has_value()) {
      escapable = rewritten.error().kind != ParseErrorKind::UnsupportedEdit;
      EXPECT_FALSE(escapable) << parse_error_message(rewritten.error());
      continue;
    }
    auto reread = decode_part(*rewritten);
    ASSERT_TRUE(reread.has_value());
    auto retree = parse_xml_tree(reread->text, STANDARD_ELEMENT_BUDGET);
    ASSERT_TRUE(retree.has_value()) << parse_error_message(retree.error());
    std::string before;
    std::string after;
    collect_tree_text(tree->root, before);
    collect_tree_text(retree->root, after);
    EXPECT_EQ(after, before);
    if (dump) testing::expect_rendered_well_formed("property_" + part.name + "_" + spelling.label, *rewritten);
  }
}

TEST(TemplateProperty, FixtureParts) {
  const std::vector<NamedPart> parts = fixture_parts();
  ASSERT_GE(parts.size(), 4u);
  size_t checked = 0;
  for (const NamedPart& part : parts) {
    bool accepted = false;
    check_part(part, /*dump=*/true, accepted);
    checked += accepted ? 1 : 0;
  }
  // Most fixtures are well-formed parts; the few that are not test refusals.
  EXPECT_GE(checked * 2, parts.size());
}

TEST(TemplateProperty, CorpusParts) {
  const std::vector<NamedPart> parts = corpus_parts();
  if (parts.empty()) GTEST_SKIP() << "no workbook corpus at " << testing::corpus_root();
  size_t checked = 0;
  for (const NamedPart& part : parts) {
    bool accepted = false;
    check_part(part, /*dump=*/false, accepted);
    checked += accepted ? 1 : 0;
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Real parts written by real producers are all accepted.
  EXPECT_EQ(checked, parts.size());
}

}  // namespace
}  // namespace cmx::xml
