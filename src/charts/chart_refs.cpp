#include "charts/chart_refs.h"

#include <algorithm>

#include "model/number_format.h"
#include "xml/tree_queries.h"

namespace cmx::charts {
namespace {

using model::ChartReferenceKind;
using xml::XmlElement;
using xml::XmlNode;

bool in_chart_ns(const XmlElement& element) { return element.namespace_uri.view() == xml::kChartNs; }

std::string_view local_of(const XmlElement& element) { return xml::tree_local_name(element.name); }

std::optional<ChartReferenceKind> kind_of(std::string_view local) {
  if (local == "tx") return ChartReferenceKind::SeriesName;
  if (local == "cat" || local == "xVal") return ChartReferenceKind::Categories;
  if (local == "val" || local == "yVal") return ChartReferenceKind::Values;
  if (local == "bubbleSize") return ChartReferenceKind::BubbleSize;
  if (local == "title") return ChartReferenceKind::Title;
  if (local == "dLbls") return ChartReferenceKind::DataLabels;
  return std::nullopt;
}

std::optional<ByteSpan> content_span(const XmlElement& element) {
  if (element.self_closing) return std::nullopt;
  return ByteSpan{element.content_start, element.content_end};
}

bool attributes_all_named(const XmlElement& element, std::string_view name) {
  return std::all_of(element.attributes.begin(), element.attributes.end(),
                     [&](const xml::XmlTreeAttribute& attr) { return attr.name == name; });
}

// A regenerated cache writes formatCode, ptCount and pt/v elements only.
bool cache_child_modelled(const XmlElement& child) {
  if (!in_chart_ns(child)) return false;
  const std::string_view local = local_of(child);
  if (local == "ptCount") return attributes_all_named(child, "val");
  if (local == "formatCode") return child.attributes.empty();
  if (local != "pt" || !attributes_all_named(child, "idx")) return false;
  for (const XmlNode& node : child.children) {
    const XmlElement* value = node.element();
    if (value == nullptr) continue;
    if (!in_chart_ns(*value) || local_of(*value) != "v" || !value->attributes.empty()) return false;
  }
  return true;
}

ChartCacheInfo describe_cache(const XmlElement& cache) {
  ChartCacheInfo info;
  const std::string_view name = cache.name;
  info.element = std::string(local_of(cache));
  const size_t colon = name.rfind(':');
  if (colon != std::string_view::npos) info.prefix = std::string(name.substr(0, colon + 1));
  info.span = content_span(cache);
  if (const XmlElement* format = xml::find_child_element(cache.children, "formatCode")) {
    std::string text;
    xml::collect_tree_text(*format, text);
    info.format_code = std::move(text);
  }
  for (const XmlNode& node : cache.children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (local_of(*child) == "pt" && in_chart_ns(*child)) ++info.point_count;
    if (!cache_child_modelled(*child)) info.unmodelled = true;
  }
  return info;
}

const XmlElement* first_cache_child(const XmlElement& element) {
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child == nullptr || !in_chart_ns(*child)) continue;
    const std::string_view local = local_of(*child);
    if (local == "numCache" || local == "strCache" || local == "multiLvlStrCache") return child;
  }
  return nullptr;
}

struct RefWalk {
  std::vector<ChartFormulaRef> refs;
  uint64_t series_counter = 0;

  Result<void, SpreadsheetParseError> visit(const XmlElement& element, uint64_t depth, ChartReferenceKind kind,
                                            std::optional<uint64_t> series) {
    if (depth > MAX_CHART_WALK_DEPTH) {
      return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::DepthExceeded));
    }
    const std::string_view local = local_of(element);
    if (const std::optional<ChartReferenceKind> own = kind_of(local)) kind = *own;
    const bool chart_ns = in_chart_ns(element);
    if (local == "f" && chart_ns) {
      if (refs.size() >= MAX_CHART_FORMULA_REFS) {
        return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyCharts));
      }
      std::string text;
      xml::collect_tree_text(element, text);
      refs.push_back(ChartFormulaRef{std::string(model::trim_unicode_white_space(text)), kind,
                                     content_span(element), series, std::nullopt});
      return {};
    }
    if (local == "ser" && chart_ns) series = series_counter++;
    const size_t before = refs.size();
    bool has_children = false;
    for (const XmlNode& node : element.children) {
      const XmlElement* child = node.element();
      if (child == nullptr) continue;
      has_children = true;
      CMX_TRY(visit(*child, depth + 1, kind, series));
    }
    if (refs.size() == before + 1 && has_children) {
      const XmlElement* f = xml::find_child_element(element.children, "f");
      if (f != nullptr && in_chart_ns(*f)) {
        if (const XmlElement* cache = first_cache_child(element)) refs.back().cache = describe_cache(*cache);
      }
    }
    return {};
  }
};

std::optional<model::CellRef> parse_corner(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto parsed = model::parse_cell_ref(text);
  if (!parsed.has_value()) return std::nullopt;
  return *parsed;
}

}  // namespace

Result<std::vector<ChartFormulaRef>, SpreadsheetParseError> find_chart_formula_refs(const XmlElement& root) {
  RefWalk walk;
  CMX_TRY(walk.visit(root, 0, ChartReferenceKind::Other, std::nullopt));
  return std::move(walk.refs);
}

std::optional<ChartSheetArea> split_chart_reference(std::string_view text) {
  if (text.find_first_of(",([") != std::string_view::npos) return std::nullopt;
  ChartSheetArea out;
  if (!text.empty() && text.front() == '\'') {
    std::string sheet;
    size_t pos = 1;
    while (true) {
      if (pos >= text.size()) return std::nullopt;  // ends inside the quotes
      if (text[pos] != '\'') {
        sheet.push_back(text[pos++]);
        continue;
      }
      if (pos + 1 < text.size() && text[pos + 1] == '\'') {
        sheet.push_back('\'');
        pos += 2;
        continue;
      }
      if (pos + 1 >= text.size() || text[pos + 1] != '!') return std::nullopt;
      break;
    }
    if (sheet.find(':') != std::string::npos) return std::nullopt;
    out.sheet = std::move(sheet);
    out.area = std::string(text.substr(pos + 2));
    return out;
  }
  const size_t bang = text.find('!');
  if (bang == std::string_view::npos) {
    out.area = std::string(text);
    return out;
  }
  if (bang == 0) return std::nullopt;
  const std::string_view sheet = text.substr(0, bang);
  if (sheet.find(':') != std::string_view::npos) return std::nullopt;
  out.sheet = std::string(sheet);
  out.area = std::string(text.substr(bang + 1));
  return out;
}

std::optional<model::CellRange> parse_chart_area(std::string_view area) {
  const size_t colon = area.find(':');
  const std::string_view first = colon == std::string_view::npos ? area : area.substr(0, colon);
  const std::string_view second = colon == std::string_view::npos ? area : area.substr(colon + 1);
  const std::optional<model::CellRef> a = parse_corner(first);
  const std::optional<model::CellRef> b = parse_corner(second);
  if (!a || !b) return std::nullopt;
  model::CellRange range;
  range.start = model::CellRef{std::min(a->row, b->row), std::min(a->col, b->col), false, false};
  range.end = model::CellRef{std::max(a->row, b->row), std::max(a->col, b->col), false, false};
  return range;
}

}  // namespace cmx::charts
