// The reading conventions every chart-model reader shares: elements by local
// name, the first child of a name, bounded searches below a node, element
// values from `val` (else `c:val`), and the number, index and boolean rules.
// Next: chart_colors.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "xml/element_tree.h"

namespace cmx::charts {

using xml::XmlElement;
using xml::XmlNode;

// Levels below its start node that a search for a descendant examines.
inline constexpr size_t MAX_CHART_SEARCH_DEPTH = 64;
// Series one chart reads, over all its plots.
inline constexpr uint64_t MAX_CHART_SERIES = 1024;
// Point-like elements (cached points, data points, single labels, automatic
// point colours) one chart reads, over all its readers.
inline constexpr uint64_t MAX_CHART_POINTS = 200000;
// Elements one list read examines, and entries one list holds.
inline constexpr uint64_t MAX_CHART_LIST_READ = 100000;

// What the readers of one chart may still spend; shared by all of them, in
// reading order, so an earlier plot can use up what a later one would read.
struct ChartBudgets {
  uint64_t series = MAX_CHART_SERIES;
  uint64_t points = MAX_CHART_POINTS;

  void charge_points(uint64_t n) { points = n >= points ? 0 : points - n; }
};

// After the last ":" of the name as written.
std::string_view chart_local_name(const XmlElement& element);

// The first direct child with this local name.
const XmlElement* first_child(std::span<const XmlNode> children, std::string_view local);
inline const XmlElement* first_child(const XmlElement* parent, std::string_view local) {
  return parent == nullptr ? nullptr : first_child(parent->children, local);
}
// The node itself when its local name matches, else the first descendant in
// document order, at most 64 levels below it.
const XmlElement* first_below(const XmlElement* node, std::string_view local);

// The attribute written exactly with this name.
std::optional<std::string_view> plain_attribute(const XmlElement& element, std::string_view name);
// `val`, or `c:val` when the element has no `val`.
std::optional<std::string_view> element_value(const XmlElement& element);
// The value of the first child of that name; absent without child or value.
std::optional<std::string_view> child_value(std::span<const XmlNode> children, std::string_view local);
// All text below the element, in document order.
std::string element_text(const XmlElement& element);

// Trimmed of Unicode white space; 0x/0o/0b whole numbers (optional "+") or a
// decimal float; absent when empty, malformed or not finite.
std::optional<double> parse_chart_number(std::optional<std::string_view> text);
// Trimmed; ASCII digits only, at most 4,294,967,295.
std::optional<uint32_t> parse_chart_index(std::optional<std::string_view> text);
// Trimmed; absent when empty.
std::optional<std::string> trimmed_chart_text(std::optional<std::string_view> text);
// A plain decimal float, untrimmed, finite (manual layout values).
std::optional<double> parse_plain_decimal(std::optional<std::string_view> text);

// The first child of that name: "1"/"true" true, "0"/"false" false, anything
// else (no value, no child) absent.
std::optional<bool> read_bool_child(std::span<const XmlNode> children, std::string_view local);
// The number rule on the first child's value.
std::optional<double> child_number(std::span<const XmlNode> children, std::string_view local);
// The first child's value as written (empty stays empty).
std::optional<std::string> child_text_value(std::span<const XmlNode> children, std::string_view local);
// The first child's value when it is one of `accepted`, compared exactly.
std::optional<std::string> child_value_in(std::span<const XmlNode> children, std::string_view local,
                                          std::span<const std::string_view> accepted);

}  // namespace cmx::charts
