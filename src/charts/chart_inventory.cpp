#include "charts/chart_inventory.h"

#include "absl/container/flat_hash_map.h"
#include "charts/chart_refs.h"
#include "model/number_format.h"
#include "opc/part_names.h"
#include "xml/part_decoding.h"
#include "xml/tree_queries.h"

namespace cmx::charts {
namespace {

using xml::XmlElement;
using xml::XmlNode;

bool is_chart_part(std::string_view key, const absl::flat_hash_map<std::string_view, std::string_view>& overrides) {
  if (key.starts_with("xl/charts/chart") && key.ends_with(".xml") && key.find("/_rels/") == std::string_view::npos) {
    return true;
  }
  const auto found = overrides.find(key);
  return found != overrides.end() &&
         (opc::ascii_iequal(found->second, kChartContentType) || opc::ascii_iequal(found->second, kChartExContentType));
}

Result<xml::XmlTree, SpreadsheetParseError> parse_chart(std::string_view bytes) {
  CMX_ASSIGN_OR_RETURN(xml::DecodedPart decoded, xml::decode_part(bytes));
  return xml::parse_xml_tree(decoded.text, xml::STANDARD_ELEMENT_BUDGET);
}

bool unmodelled_below(const XmlElement& element, uint64_t level) {
  if (level > MAX_CHART_WALK_DEPTH) return true;
  const std::string_view local = xml::tree_local_name(element.name);
  const std::string_view ns = element.namespace_uri.view();
  if (level > 0 && ns == xml::kChartExNs) return true;
  if (local == "sqref") return true;
  if (ns == xml::kChartNs && (local == "pivotSource" || local == "externalData")) return true;
  if (local == "f" && ns != xml::kChartNs) return true;
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child != nullptr && unmodelled_below(*child, level + 1)) return true;
  }
  return false;
}

// Whether a save can regenerate every cached reference of the chart.
Result<bool, SpreadsheetParseError> chart_rewritable(const XmlElement& root) {
  if (!xml::tree_names_wellformed(root) || chart_has_unmodelled_content(root)) return false;
  CMX_ASSIGN_OR_RETURN(std::vector<ChartFormulaRef> refs, find_chart_formula_refs(root));
  for (const ChartFormulaRef& ref : refs) {
    if (!ref.cache) continue;
    if (ref.cache->element == "multiLvlStrCache") return false;
    const std::string_view text = model::trim_unicode_white_space(ref.formula);
    if (text.empty() || text == "#REF!") continue;
    const std::optional<ChartSheetArea> split = split_chart_reference(text);
    if (!split) return false;
    const std::optional<model::CellRange> range = parse_chart_area(split->area);
    if (!range) return false;
    const uint64_t rows = uint64_t{range->end.row} - range->start.row + 1;
    const uint64_t cols = uint64_t{range->end.col} - range->start.col + 1;
    if (rows != 1 && cols != 1) return false;
    if (rows * cols > MAX_REWRITABLE_CHART_CELLS) return false;
  }
  return true;
}

}  // namespace

bool chart_has_unmodelled_content(const XmlElement& root) {
  if (xml::tree_local_name(root.name) != "chartSpace" || root.namespace_uri.view() != xml::kChartNs) return true;
  return unmodelled_below(root, 0);
}

Result<std::vector<ChartPartEntry>, SpreadsheetParseError> collect_chart_part_refs(
    std::span<const opc::PackagePart> parts, const KeyedContentTypes& overrides,
    std::span<const model::SheetModel> sheets) {
  absl::flat_hash_map<std::string, std::vector<std::string_view>> shown_by;
  for (const model::SheetModel& sheet : sheets) {
    for (const model::SheetChart& chart : sheet.charts) {
      const size_t first = chart.part.find_first_not_of('/');
      shown_by[first == std::string::npos ? std::string() : chart.part.substr(first)].push_back(sheet.name);
    }
  }
  absl::flat_hash_map<std::string_view, std::string_view> override_types;
  for (const auto& [key, type] : overrides) override_types.emplace(key, type);

  std::vector<ChartPartEntry> entries;
  for (const opc::PackagePart& part : parts) {
    if (!is_chart_part(opc::part_name_key(part.name), override_types)) continue;
    ChartPartEntry entry;
    const size_t first = part.name.find_first_not_of('/');
    entry.part = first == std::string::npos ? std::string() : part.name.substr(first);
    const auto shown = shown_by.find(entry.part);
    if (shown != shown_by.end()) {
      if (shown->second.size() == 1) entry.sheet = std::string(shown->second.front());
      CMX_ASSIGN_OR_RETURN(xml::XmlTree tree, parse_chart(opc::part_bytes(part)));
      CMX_ASSIGN_OR_RETURN(const bool rewritable, chart_rewritable(tree.root));
      entry.not_rewritable = !rewritable;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

Result<ChartCellRefs, SpreadsheetParseError> inventory_chart_parts(std::string_view bytes,
                                                                   std::optional<std::string_view> default_sheet) {
  CMX_ASSIGN_OR_RETURN(xml::XmlTree tree, parse_chart(bytes));
  if (!xml::tree_names_wellformed(tree.root) || chart_has_unmodelled_content(tree.root)) return ChartCellRefs();
  CMX_ASSIGN_OR_RETURN(std::vector<ChartFormulaRef> refs, find_chart_formula_refs(tree.root));
  std::vector<std::pair<std::string, model::CellRange>> out;
  for (const ChartFormulaRef& ref : refs) {
    const std::string_view text = model::trim_unicode_white_space(ref.formula);
    if (text.empty() || text == "#REF!") continue;
    std::optional<ChartSheetArea> split = split_chart_reference(text);
    if (!split) return ChartCellRefs();
    if (!split->sheet && !default_sheet) return ChartCellRefs();
    const std::optional<model::CellRange> range = parse_chart_area(split->area);
    if (!range) return ChartCellRefs();
    out.emplace_back(split->sheet ? std::move(*split->sheet) : std::string(*default_sheet), *range);
  }
  return ChartCellRefs(std::move(out));
}

void collect_relationship_ids(std::span<const opc::AttributeList> relationships,
                              absl::flat_hash_set<std::string>& ids) {
  for (const opc::AttributeList& attributes : relationships) {
    for (const opc::AttributePair& attr : attributes) {
      if (opc::attribute_local_name(attr.name) == "Id") {
        ids.insert(attr.value);
        break;
      }
    }
  }
}

}  // namespace cmx::charts
