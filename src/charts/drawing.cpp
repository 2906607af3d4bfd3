#include "charts/drawing.h"

#include <limits>
#include <optional>

#include "absl/container/flat_hash_set.h"
#include "charts/chart_refs.h"
#include "model/number_format.h"
#include "opc/part_names.h"
#include "opc/relationships.h"
#include "xml/part_decoding.h"

namespace cmx::charts {
namespace {

using xml::XmlElement;
using xml::XmlNode;

std::string_view local_of(const XmlElement& element) { return xml::tree_local_name(element.name); }

SpreadsheetParseError invalid_anchor(std::string_view name) {
  return SpreadsheetParseError::malformed("invalid chart anchor " + std::string(name));
}

// One or more digits, at most `max`.
std::optional<uint64_t> parse_digits(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::optional<int64_t> parse_anchor_offset(std::string_view text) {
  text = model::trim_unicode_white_space(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;
  const std::optional<uint64_t> magnitude =
      parse_digits(text, negative ? kMaxMagnitude : kMaxMagnitude - 1);
  if (!magnitude) return std::nullopt;
  if (!negative) return static_cast<int64_t>(*magnitude);
  if (*magnitude == kMaxMagnitude) return std::numeric_limits<int64_t>::min();
  return -static_cast<int64_t>(*magnitude);
}

namespace {

std::string element_text(const XmlElement& element) {
  std::string text;
  xml::collect_tree_text(element, text);
  return text;
}

Result<uint32_t, SpreadsheetParseError> read_index(const XmlElement& marker, std::string_view name,
                                                   uint32_t limit) {
  const XmlElement* child = xml::find_child_element(marker.children, name);
  if (child == nullptr) return unexpected(invalid_anchor(name));
  const std::string text = element_text(*child);
  std::string_view trimmed = model::trim_unicode_white_space(text);
  if (!trimmed.empty() && trimmed.front() == '+') trimmed.remove_prefix(1);
  const std::optional<uint64_t> value = parse_digits(trimmed, std::numeric_limits<uint32_t>::max());
  if (!value || *value >= limit) return unexpected(invalid_anchor(name));
  return static_cast<uint32_t>(*value);
}

Result<int64_t, SpreadsheetParseError> read_child_offset(const XmlElement& marker, std::string_view name) {
  const XmlElement* child = xml::find_child_element(marker.children, name);
  if (child == nullptr) return int64_t{0};
  const std::optional<int64_t> value = parse_anchor_offset(element_text(*child));
  if (!value) return unexpected(invalid_anchor(name));
  return *value;
}

Result<int64_t, SpreadsheetParseError> read_attribute_offset(const XmlElement& element, std::string_view name) {
  const std::optional<std::string_view> text = xml::tree_attribute_value(element.attributes, std::nullopt, name);
  if (!text) return unexpected(invalid_anchor(name));
  const std::optional<int64_t> value = parse_anchor_offset(*text);
  if (!value) return unexpected(invalid_anchor(name));
  return *value;
}

Result<model::AnchorCell, SpreadsheetParseError> read_marker(const XmlElement& anchor, std::string_view name) {
  const XmlElement* marker = xml::find_child_element(anchor.children, name);
  if (marker == nullptr) return unexpected(SpreadsheetParseError::malformed("chart anchor has no cell"));
  model::AnchorCell cell;
  CMX_ASSIGN_OR_RETURN(cell.col, read_index(*marker, "col", model::MAX_COLS));
  CMX_ASSIGN_OR_RETURN(cell.colOff, read_child_offset(*marker, "colOff"));
  CMX_ASSIGN_OR_RETURN(cell.row, read_index(*marker, "row", model::MAX_ROWS));
  CMX_ASSIGN_OR_RETURN(cell.rowOff, read_child_offset(*marker, "rowOff"));
  return cell;
}

Result<model::AnchorExtent, SpreadsheetParseError> read_extent(const XmlElement& anchor) {
  const XmlElement* ext = xml::find_child_element(anchor.children, "ext");
  if (ext == nullptr) return unexpected(SpreadsheetParseError::malformed("chart anchor has no extent"));
  model::AnchorExtent extent;
  CMX_ASSIGN_OR_RETURN(extent.cx, read_attribute_offset(*ext, "cx"));
  CMX_ASSIGN_OR_RETURN(extent.cy, read_attribute_offset(*ext, "cy"));
  return extent;
}

const XmlElement* find_chart_element(const XmlElement& element, uint64_t level) {
  if (local_of(element) == "chart" && element.namespace_uri.view() == xml::kChartNs) return &element;
  if (level >= MAX_CHART_WALK_DEPTH) return nullptr;
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (const XmlElement* found = find_chart_element(*child, level + 1)) return found;
  }
  return nullptr;
}

std::optional<std::string_view> relationship_id(const XmlElement& element) {
  for (const xml::XmlTreeAttribute& attr : element.attributes) {
    if (attr.namespace_uri.view() == xml::kRelationshipsNs && xml::tree_local_name(attr.name) == "id") {
      return std::string_view(attr.value);
    }
  }
  return std::nullopt;
}

ChartLink chart_link(const XmlElement& anchor) {
  const XmlElement* chart = find_chart_element(anchor, 0);
  if (chart == nullptr) return NoChart{};
  const std::optional<std::string_view> id = relationship_id(*chart);
  if (!id) return ChartWithoutId{};
  return std::string(*id);
}

std::string_view part_directory(std::string_view name) {
  const size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : name.substr(0, slash);
}

// The relationships beside a part; empty when it has no relationships part.
Result<std::vector<xml::Relationship>, SpreadsheetParseError> relationships_of(const opc::PartIndex& parts,
                                                                              std::string_view part) {
  const std::optional<std::string_view> bytes = parts.find(opc::rels_part_name(part));
  if (!bytes) return std::vector<xml::Relationship>();
  return parse_relationships_part(*bytes);
}

// The parsed root of a part, or absent when it does not decode or parse.
std::optional<xml::XmlTree> parse_part(std::string_view bytes) {
  auto decoded = xml::decode_part(bytes);
  if (!decoded.has_value()) return std::nullopt;
  auto tree = xml::parse_xml_tree(decoded->text, xml::STANDARD_ELEMENT_BUDGET);
  if (!tree.has_value()) return std::nullopt;
  return std::move(*tree);
}

// The references of a chart part, or absent when it cannot be read.
std::optional<std::vector<model::ChartReference>> read_chart_refs(std::string_view bytes) {
  const std::optional<xml::XmlTree> tree = parse_part(bytes);
  if (!tree || local_of(tree->root) != "chartSpace" || tree->root.namespace_uri.view() != xml::kChartNs) {
    return std::nullopt;
  }
  auto refs = find_chart_formula_refs(tree->root);
  if (!refs.has_value()) return std::nullopt;
  std::vector<model::ChartReference> out;
  out.reserve(refs->size());
  for (ChartFormulaRef& ref : *refs) out.push_back(model::ChartReference{ref.kind, std::move(ref.formula)});
  return out;
}

}  // namespace

bool is_drawing_anchor_element(const XmlElement& element) {
  if (element.namespace_uri.view() != xml::kSpreadsheetDrawingNs) return false;
  const std::string_view local = local_of(element);
  return local == "twoCellAnchor" || local == "oneCellAnchor" || local == "absoluteAnchor";
}

Result<model::ChartAnchor, SpreadsheetParseError> read_chart_anchor(const XmlElement& anchor) {
  const std::string_view local = local_of(anchor);
  if (local == "twoCellAnchor") {
    model::TwoCellAnchor two;
    CMX_ASSIGN_OR_RETURN(two.from, read_marker(anchor, "from"));
    CMX_ASSIGN_OR_RETURN(two.to, read_marker(anchor, "to"));
    const std::optional<std::string_view> edit = xml::tree_attribute_value(anchor.attributes, std::nullopt, "editAs");
    if (edit) {
      if (*edit == "twoCell") two.edit_as = model::ChartAnchorEditMode::TwoCell;
      else if (*edit == "oneCell") two.edit_as = model::ChartAnchorEditMode::OneCell;
      else if (*edit == "absolute") two.edit_as = model::ChartAnchorEditMode::Absolute;
      else return unexpected(SpreadsheetParseError::malformed("invalid chart editAs value " + std::string(*edit)));
    }
    return model::ChartAnchor(two);
  }
  if (local == "oneCellAnchor") {
    model::OneCellAnchor one;
    CMX_ASSIGN_OR_RETURN(one.from, read_marker(anchor, "from"));
    CMX_ASSIGN_OR_RETURN(one.extent, read_extent(anchor));
    return model::ChartAnchor(one);
  }
  model::AbsoluteAnchor absolute;
  const XmlElement* pos = xml::find_child_element(anchor.children, "pos");
  if (pos == nullptr) return unexpected(SpreadsheetParseError::malformed("absolute chart anchor has no position"));
  CMX_ASSIGN_OR_RETURN(absolute.pos.x, read_attribute_offset(*pos, "x"));
  CMX_ASSIGN_OR_RETURN(absolute.pos.y, read_attribute_offset(*pos, "y"));
  CMX_ASSIGN_OR_RETURN(absolute.extent, read_extent(anchor));
  return model::ChartAnchor(absolute);
}

Result<std::vector<DrawingAnchor>, SpreadsheetParseError> read_drawing_part(const XmlElement& root) {
  std::vector<DrawingAnchor> anchors;
  if (local_of(root) != "wsDr" || root.namespace_uri.view() != xml::kSpreadsheetDrawingNs) return anchors;
  for (const XmlNode& node : root.children) {
    const XmlElement* child = node.element();
    if (child == nullptr || !is_drawing_anchor_element(*child)) continue;
    CMX_ASSIGN_OR_RETURN(model::ChartAnchor anchor, read_chart_anchor(*child));
    if (anchors.size() >= MAX_DRAWING_ANCHORS) {
      return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyCharts));
    }
    anchors.push_back(DrawingAnchor{std::move(anchor), chart_link(*child)});
  }
  return anchors;
}

Result<std::vector<xml::Relationship>, SpreadsheetParseError> parse_relationships_part(std::string_view bytes) {
  CMX_ASSIGN_OR_RETURN(xml::DecodedPart decoded, xml::decode_part(bytes));
  CMX_ASSIGN_OR_RETURN(xml::XmlTree tree, xml::parse_xml_tree(decoded.text, xml::STANDARD_ELEMENT_BUDGET));
  return xml::collect_internal_relationships(tree.root.children);
}

uint64_t count_chart_relationship_ids(const XmlElement& element, uint64_t level) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  if (level > MAX_CHART_WALK_DEPTH) return kMax;
  uint64_t count = 0;
  if (local_of(element) == "chart" && element.namespace_uri.view() == xml::kChartNs) {
    for (const xml::XmlTreeAttribute& attr : element.attributes) {
      if (attr.namespace_uri.view() == xml::kRelationshipsNs && xml::tree_local_name(attr.name) == "id") ++count;
    }
    if (count == 0) count = 1;
  }
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    const uint64_t below = count_chart_relationship_ids(*child, level + 1);
    if (below > kMax - count) return kMax;
    count += below;
  }
  return count;
}

namespace {

// The chart frames one drawing gives, and what of it could not be read.
Result<DrawingCache::Drawing, SpreadsheetParseError> read_drawing_charts(const opc::PartIndex& parts,
                                                                        const std::string& drawing_name,
                                                                        DrawingCache& cache) {
  DrawingCache::Drawing out;
  CMX_ASSIGN_OR_RETURN(std::vector<xml::Relationship> drawing_rels, relationships_of(parts, drawing_name));
  ++cache.parsed_parts;
  const std::optional<xml::XmlTree> tree = parse_part(*parts.find(drawing_name));
  if (!tree) {
    out.unread.push_back(drawing_name);
    return out;
  }
  auto anchors = read_drawing_part(tree->root);
  if (!anchors.has_value()) {
    out.unread.push_back(drawing_name);
    return out;
  }
  // The first chart relationship of each id, so that thousands of anchors
  // do not each scan a long relationship list.
  absl::flat_hash_map<std::string_view, const xml::Relationship*> chart_rels;
  for (const xml::Relationship& rel : drawing_rels) {
    if (opc::last_type_segment(rel.type) == "chart") chart_rels.try_emplace(rel.id, &rel);
  }
  const std::string_view drawing_dir = part_directory(drawing_name);
  for (size_t index = 0; index < anchors->size(); ++index) {
    DrawingAnchor& anchor = (*anchors)[index];
    if (std::holds_alternative<NoChart>(anchor.chart)) continue;
    const std::string* id = std::get_if<std::string>(&anchor.chart);
    const xml::Relationship* chart_rel = nullptr;
    if (id != nullptr) {
      if (const auto found = chart_rels.find(*id); found != chart_rels.end()) chart_rel = found->second;
    }
    if (chart_rel == nullptr) {
      out.unread.push_back(drawing_name);
      continue;
    }
    std::string chart_name = opc::resolve_relationship_target(drawing_dir, chart_rel->target);
    // Thousands of anchors may name one large chart part: read it once.
    auto chart = cache.charts.find(chart_name);
    if (chart == cache.charts.end()) {
      const std::optional<std::string_view> chart_bytes = parts.find(chart_name);
      std::optional<std::vector<model::ChartReference>> read;
      if (chart_bytes) {
        ++cache.parsed_parts;
        read = read_chart_refs(*chart_bytes);
      }
      chart = cache.charts.emplace(chart_name, std::move(read)).first;
    }
    if (!chart->second) {
      out.unread.push_back(std::move(chart_name));
      continue;
    }
    out.charts.push_back(
        model::SheetChart{std::move(chart_name), drawing_name, index, std::move(anchor.anchor), *chart->second});
  }
  return out;
}

}  // namespace

Result<std::vector<model::SheetChart>, SpreadsheetParseError> read_sheet_charts(
    const opc::PartIndex& parts, std::string_view sheet_part, DrawingCache& cache,
    std::vector<std::string>& unread_parts) {
  std::vector<model::SheetChart> charts;
  CMX_ASSIGN_OR_RETURN(std::vector<xml::Relationship> sheet_rels, relationships_of(parts, sheet_part));

  // Names in relationship order, each once; only parts that exist.
  std::vector<std::string> drawings;
  absl::flat_hash_set<std::string> seen;
  const std::string_view sheet_dir = part_directory(sheet_part);
  for (const xml::Relationship& rel : sheet_rels) {
    if (opc::last_type_segment(rel.type) != "drawing") continue;
    std::string name = opc::resolve_relationship_target(sheet_dir, rel.target);
    if (!parts.find(name) || !seen.insert(name).second) continue;
    drawings.push_back(std::move(name));
  }

  for (const std::string& drawing_name : drawings) {
    auto cached = cache.drawings.find(drawing_name);
    if (cached == cache.drawings.end()) {
      CMX_ASSIGN_OR_RETURN(DrawingCache::Drawing read, read_drawing_charts(parts, drawing_name, cache));
      cached = cache.drawings.emplace(drawing_name, std::move(read)).first;
    }
    DrawingCache::Drawing& drawing = cached->second;
    if (!drawing.reported) {
      unread_parts.insert(unread_parts.end(), drawing.unread.begin(), drawing.unread.end());
      drawing.reported = true;
    }
    if (drawing.charts.size() > MAX_SHEET_CHARTS - charts.size()) {
      return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyCharts));
    }
    charts.insert(charts.end(), drawing.charts.begin(), drawing.charts.end());
  }
  return charts;
}

Result<std::vector<model::SheetChart>, SpreadsheetParseError> read_sheet_charts(
    std::span<const opc::PackagePart> parts, std::string_view sheet_part, std::vector<std::string>& unread_parts) {
  const opc::PartIndex index(parts);
  DrawingCache cache;
  return read_sheet_charts(index, sheet_part, cache, unread_parts);
}

}  // namespace cmx::charts
