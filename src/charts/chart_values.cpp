#include "charts/chart_values.h"

#include <algorithm>

#include "base/number_text.h"
#include "model/number_format.h"
#include "xml/tree_queries.h"

namespace cmx::charts {
namespace {

const XmlElement* search_below(std::span<const XmlNode> children, std::string_view local, size_t level) {
  if (level > MAX_CHART_SEARCH_DEPTH) return nullptr;
  for (const XmlNode& node : children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (chart_local_name(*child) == local) return child;
    if (const XmlElement* found = search_below(child->children, local, level + 1)) return found;
  }
  return nullptr;
}

int digit_in_base(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

std::optional<double> parse_prefixed_integer(std::string_view text) {
  if (text.size() < 2 || text[0] != '0') return std::nullopt;
  unsigned base = 0;
  switch (text[1]) {
    case 'x': case 'X': base = 16; break;
    case 'o': case 'O': base = 8; break;
    case 'b': case 'B': base = 2; break;
    default: return std::nullopt;
  }
  std::string_view digits = text.substr(2);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    const int digit = digit_in_base(c, base);
    if (digit < 0) return std::nullopt;
    if (__builtin_mul_overflow(value, base, &value) || __builtin_add_overflow(value, unsigned(digit), &value)) {
      return std::nullopt;
    }
  }
  return static_cast<double>(value);
}

bool has_integer_prefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && std::string_view("xXoObB").find(text[1]) != std::string_view::npos;
}

}  // namespace

std::string_view chart_local_name(const XmlElement& element) { return xml::tree_local_name(element.name); }

const XmlElement* first_child(std::span<const XmlNode> children, std::string_view local) {
  for (const XmlNode& node : children) {
    const XmlElement* child = node.element();
    if (child != nullptr && chart_local_name(*child) == local) return child;
  }
  return nullptr;
}

const XmlElement* first_below(const XmlElement* node, std::string_view local) {
  if (node == nullptr) return nullptr;
  if (chart_local_name(*node) == local) return node;
  return search_below(node->children, local, 1);
}

std::optional<std::string_view> plain_attribute(const XmlElement& element, std::string_view name) {
  for (const xml::XmlTreeAttribute& attribute : element.attributes) {
    if (attribute.name == name) return attribute.value;
  }
  return std::nullopt;
}

std::optional<std::string_view> element_value(const XmlElement& element) {
  if (auto value = plain_attribute(element, "val")) return value;
  return plain_attribute(element, "c:val");
}

std::optional<std::string_view> child_value(std::span<const XmlNode> children, std::string_view local) {
  const XmlElement* child = first_child(children, local);
  if (child == nullptr) return std::nullopt;
  return element_value(*child);
}

std::string element_text(const XmlElement& element) {
  std::string text;
  xml::collect_tree_text(element, text);
  return text;
}

std::optional<double> parse_chart_number(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  const std::string_view trimmed = model::trim_unicode_white_space(*text);
  if (trimmed.empty()) return std::nullopt;
  if (has_integer_prefix(trimmed)) return parse_prefixed_integer(trimmed);
  FloatSyntax syntax;
  syntax.allow_plus = true;
  const std::optional<ParsedFloat> parsed = parse_float(trimmed, syntax);
  if (!parsed || parsed->range == FloatRange::Overflow) return std::nullopt;
  return parsed->value;
}

std::optional<uint32_t> parse_chart_index(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  const std::string_view trimmed = model::trim_unicode_white_space(*text);
  if (trimmed.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + uint64_t(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::optional<std::string> trimmed_chart_text(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  const std::string_view trimmed = model::trim_unicode_white_space(*text);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

std::optional<double> parse_plain_decimal(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  FloatSyntax syntax;
  syntax.allow_plus = true;
  const std::optional<ParsedFloat> parsed = parse_float(*text, syntax);
  if (!parsed || parsed->range == FloatRange::Overflow) return std::nullopt;
  return parsed->value;
}

std::optional<bool> read_bool_child(std::span<const XmlNode> children, std::string_view local) {
  const std::optional<std::string_view> value = child_value(children, local);
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  return std::nullopt;
}

std::optional<double> child_number(std::span<const XmlNode> children, std::string_view local) {
  return parse_chart_number(child_value(children, local));
}

std::optional<std::string> child_text_value(std::span<const XmlNode> children, std::string_view local) {
  const std::optional<std::string_view> value = child_value(children, local);
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::optional<std::string> child_value_in(std::span<const XmlNode> children, std::string_view local,
                                          std::span<const std::string_view> accepted) {
  const std::optional<std::string_view> value = child_value(children, local);
  if (!value || std::find(accepted.begin(), accepted.end(), *value) == accepted.end()) return std::nullopt;
  return std::string(*value);
}

}  // namespace cmx::charts
