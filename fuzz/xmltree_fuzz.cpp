// Fuzzes whole-part reading and rewriting: decoding, element trees, span
// rewrites, and template split and join. Beyond "no crash or hang": decoding
// round-trips to the exact bytes, tree spans nest inside the text, a split
// joins back to the input (or, for an empty-element root, to a text that
// splits the same way), and a part that reads as a tree still reads as one
// after template rendering with edits and root attributes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/element_tree.h"
#include "xml/part_decoding.h"
#include "xml/part_template.h"
#include "xml/span_rewrite.h"
#include "xml/template_render.h"
#include "xml/tree_queries.h"

using namespace cmx::xml;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint64_t kFuzzElementBudget = 20000;

void check_spans(const XmlElement& element, uint64_t lo, uint64_t hi, size_t depth) {
  check(depth <= MAX_XML_DEPTH);
  check(lo <= element.content_start && element.content_start <= element.content_end && element.content_end <= hi);
  for (const XmlNode& node : element.children) {
    if (const XmlElement* child = node.element()) {
      check_spans(*child, element.content_start, element.content_end, depth + 1);
    }
  }
}

bool reads_as_tree(std::string_view bytes) {
  auto decoded = decode_part(bytes);
  return decoded.has_value() && parse_xml_tree(decoded->text, kFuzzElementBudget).has_value();
}

uint64_t order(std::string_view name) {
  if (name.empty()) return kNoPosition;
  return static_cast<unsigned char>(name[0]) % 7 == 0 ? kNoPosition : static_cast<unsigned char>(name[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  bool tree_ok = false;
  auto decoded = decode_part(bytes);
  if (decoded.has_value()) {
    check(encode_part_text(decoded->text, decoded->encoding, decoded->had_bom) == bytes);
    auto same = apply_span_rewrites(*decoded, {});
    check(same.has_value() && *same == bytes);
    auto tree = parse_xml_tree(decoded->text, kFuzzElementBudget);
    if (tree.has_value()) {
      tree_ok = true;
      check(tree->elements_used <= kFuzzElementBudget);
      check_spans(tree->root, 0, decoded->text.size(), 1);
      std::string text;
      collect_tree_text(tree->root, text);
      tree_names_wellformed(tree->root);
      classify_drawing_object(tree->root);
      // The root's content replaced by itself, then by markup.
      const XmlElement& root = tree->root;
      const std::string content(decoded->text.substr(root.content_start, root.content_end - root.content_start));
      const SpanEdit identity{root.content_start, root.content_end, RawMarkup{content}};
      auto unchanged = apply_span_rewrites(*decoded, std::span(&identity, 1));
      check(unchanged.has_value() && *unchanged == bytes);
      const SpanEdit escaped{root.content_start, root.content_end, EscapedText{text}};
      auto patched = apply_span_rewrites(*decoded, std::span(&escaped, 1));
      if (patched.has_value() && !root.self_closing) check(reads_as_tree(*patched));
    }
  }

  auto split = read_part_template(bytes);
  if (!split.has_value()) return 0;
  const std::string joined = join_part_template(*split);
  if (!split->children.empty() || !split->trailing.empty()) check(joined == bytes);
  auto again = read_part_template(joined);
  check(again.has_value() && *again == *split);

  const std::vector<TemplateEdit> edits = {
      {split->children.empty() ? std::string("a") : split->children[0].name, std::string("<n1/>")},
      {"zz", std::string("<zz>t</zz>")},
      {split->children.empty() ? std::string("b") : split->children.back().name, std::nullopt},
  };
  auto edited = apply_template_edits(*split, edits, order);
  const std::string new_children[] = {"<si>1</si>", "<si/>"};
  const std::pair<std::string, std::string> attrs[] = {{"count", "2"}, {"x:y", "<\"&'>"}};
  auto replaced = replace_template_children(*split, split->children.empty() ? "si" : split->children[0].name,
                                            new_children, attrs);
  // Only a part that reads as a tree, split from bytes the tree reader saw
  // the same way (UTF-8, nothing but space after the root), must stay one.
  const bool plain_utf8 = decoded.has_value() && decoded->encoding == PartEncoding::Utf8;
  if (tree_ok && plain_utf8) {
    if (edited.has_value()) check(reads_as_tree(*edited));
    if (replaced.has_value()) check(reads_as_tree(*replaced));
  }
  return 0;
}
