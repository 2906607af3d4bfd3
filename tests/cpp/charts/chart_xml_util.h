// Small chart-part texts for the chart model tests: a fragment wrapped with
// the chart and drawing namespaces, parsed into an element tree.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "xml/element_tree.h"

namespace cmx::charts::testing {

inline constexpr std::string_view kNamespaces =
    " xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

// `<c:wrap>` holding the fragment, namespaces declared; the fragment's first
// element is the one the tests read.
inline xml::XmlElement parse_wrapped(const std::string& fragment) {
  const std::string text = "<c:wrap" + std::string(kNamespaces) + ">" + fragment + "</c:wrap>";
  auto tree = xml::parse_xml_tree(text, xml::STANDARD_ELEMENT_BUDGET);
  EXPECT_TRUE(tree.has_value()) << text;
  if (!tree) return {};
  return std::move(tree->root);
}

inline const xml::XmlElement& first_element(const xml::XmlElement& wrap) {
  static const xml::XmlElement kEmpty;
  for (const xml::XmlNode& node : wrap.children) {
    if (const xml::XmlElement* element = node.element()) return *element;
  }
  ADD_FAILURE() << "no element in fragment";
  return kEmpty;
}

// A whole chart part: root attributes and children around a chart whose
// plot area holds `plot_area`.
inline std::string chart_part(const std::string& plot_area, const std::string& chart_extra = "",
                              const std::string& root_extra = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><c:chartSpace" + std::string(kNamespaces) +
         "><c:chart>" + chart_extra + "<c:plotArea>" + plot_area + "</c:plotArea></c:chart>" + root_extra +
         "</c:chartSpace>";
}

// A number cache of `c:pt` elements written out in `points`.
inline std::string num_cache(const std::string& points, const std::string& extra = "") {
  return "<c:numRef><c:f>Sheet1!$B$1:$B$3</c:f><c:numCache>" + extra + points + "</c:numCache></c:numRef>";
}

}  // namespace cmx::charts::testing
