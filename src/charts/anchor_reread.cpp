#include "charts/anchor_reread.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/number_text.h"
#include "charts/drawing.h"
#include "xml/tree_queries.h"

namespace cmx::charts {

Result<void, SpreadsheetParseError> reread_chart_anchors(const xml::XmlElement* marker, const model::AnchorCell& cell,
                                                         std::vector<xml::SpanEdit>& edits) {
  if (marker == nullptr) return {};
  struct Field {
    std::string_view name;
    int64_t value;
  };
  const std::array<Field, 4> fields = {{{"col", int64_t{cell.col}},
                                        {"colOff", cell.colOff},
                                        {"row", int64_t{cell.row}},
                                        {"rowOff", cell.rowOff}}};
  std::vector<xml::SpanEdit> planned;
  bool rebuild = false;
  for (const Field& field : fields) {
    const xml::XmlElement* child = xml::find_child_element(marker->children, field.name);
    if (child == nullptr) {
      // An absent field reads as 0, so only another value needs it written.
      rebuild = rebuild || field.value != 0;
      continue;
    }
    std::string text;
    xml::collect_tree_text(*child, text);
    const std::optional<int64_t> source = parse_anchor_offset(text);
    if (!source) return unexpected(SpreadsheetParseError::malformed("invalid chart anchor " + std::string(field.name)));
    if (*source == field.value) continue;
    if (child->self_closing) {
      return unexpected(SpreadsheetParseError::unsupported_edit("a self-closing anchor marker cannot be moved"));
    }
    planned.push_back(xml::SpanEdit{child->content_start, child->content_end,
                                    xml::EscapedText{format_i64(field.value)}});
  }
  if (!rebuild) {
    edits.insert(edits.end(), planned.begin(), planned.end());
    return {};
  }
  if (marker->self_closing) {
    return unexpected(SpreadsheetParseError::unsupported_edit("a self-closing chart anchor cannot be moved"));
  }
  const size_t colon = marker->name.rfind(':');
  const std::string prefix = colon == std::string::npos ? std::string() : marker->name.substr(0, colon + 1);
  std::string markup;
  for (const Field& field : fields) {
    const std::string name = prefix + std::string(field.name);
    markup += "<" + name + ">" + format_i64(field.value) + "</" + name + ">";
  }
  edits.push_back(xml::SpanEdit{marker->content_start, marker->content_end, xml::RawMarkup{std::move(markup)}});
  return {};
}

void sort_span_edits(std::vector<xml::SpanEdit>& edits) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const xml::SpanEdit& a, const xml::SpanEdit& b) { return a.start < b.start; });
}

}  // namespace cmx::charts
