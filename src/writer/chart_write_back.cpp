#include "writer/chart_write_back.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "charts/anchor_reread.h"
#include "charts/chart_cache.h"
#include "charts/chart_refs.h"
#include "charts/drawing.h"
#include "writer/part_plans.h"
#include "xml/element_tree.h"
#include "xml/part_decoding.h"
#include "xml/span_rewrite.h"
#include "xml/tree_queries.h"

namespace cmx::writer {
namespace {

SpreadsheetParseError refuse(std::string text) { return SpreadsheetParseError::unsupported_edit(std::move(text)); }

SpreadsheetParseError held_twice(std::string_view part, std::string_view first, std::string_view second) {
  return refuse(std::string(part) + " is anchored by both sheet " + std::string(first) + " and sheet " +
                std::string(second) + ", which no longer agree on what it holds, and one part cannot carry both");
}

SpreadsheetParseError anchor_changed() {
  return refuse("a chart anchor changed more than the grid position a save writes back");
}

struct ChartHolder {
  const std::vector<model::ChartReference>* refs = nullptr;
  std::string_view sheet;
};

struct AnchorEntry {
  model::ChartAnchor anchor;
  std::string_view sheet;
  bool moved = false;
};

struct ParsedPart {
  xml::DecodedPart decoded;
  xml::XmlTree tree;
};

Result<ParsedPart, SpreadsheetParseError> parse_source_part(const reader::SourcePackage& source,
                                                             std::string_view name) {
  const std::optional<std::string_view> bytes = opc::find_package_part(source.parts, name);
  if (!bytes) {
    return unexpected(refuse(std::string(name) + " carries chart state to write back but is not in the source package"));
  }
  ParsedPart parsed;
  CMX_ASSIGN_OR_RETURN(parsed.decoded, xml::decode_part(*bytes));
  CMX_ASSIGN_OR_RETURN(parsed.tree, xml::parse_xml_tree(parsed.decoded.text, xml::STANDARD_ELEMENT_BUDGET));
  return parsed;
}

Result<std::string, SpreadsheetParseError> patched_bytes(const reader::SourcePackage& source, std::string_view name,
                                                         const ParsedPart& parsed, std::vector<xml::SpanEdit> edits) {
  if (edits.empty()) return std::string(*opc::find_package_part(source.parts, name));
  charts::sort_span_edits(edits);
  return xml::apply_span_rewrites(parsed.decoded, edits);
}

// The chart part as one holder's references would have it.
Result<std::string, SpreadsheetParseError> rewrite_chart_part(const reader::SourcePackage& source,
                                                              std::string_view name, const ChartHolder& holder,
                                                              std::span<const model::SheetModel> sheets) {
  CMX_ASSIGN_OR_RETURN(const ParsedPart parsed, parse_source_part(source, name));
  CMX_ASSIGN_OR_RETURN(const std::vector<charts::ChartFormulaRef> found, charts::find_chart_formula_refs(parsed.tree.root));
  const std::vector<model::ChartReference>& refs = *holder.refs;
  if (found.size() != refs.size()) {
    return unexpected(refuse("chart part holds " + std::to_string(found.size()) + " references but the model carries " +
                             std::to_string(refs.size())));
  }
  std::vector<xml::SpanEdit> edits;
  for (size_t index = 0; index < found.size(); ++index) {
    const charts::ChartFormulaRef& ref = found[index];
    const std::string& formula = refs[index].formula;
    // A reference that kept its text keeps its cache, even over changed cells.
    if (ref.formula == formula) continue;
    if (!ref.formula_span) return unexpected(refuse("a self-closing c:f cannot take a rewritten reference"));
    edits.push_back(xml::SpanEdit{ref.formula_span->start, ref.formula_span->end, xml::EscapedText{formula}});
    if (!ref.cache) continue;
    if (!ref.cache->span) return unexpected(refuse("a self-closing chart cache cannot be regenerated"));
    charts::ChartCachePointBudget budget = charts::save_cache_budget();
    CMX_ASSIGN_OR_RETURN(std::string content,
                         charts::regenerate_chart_cache(*ref.cache, formula, sheets, holder.sheet, budget));
    edits.push_back(xml::SpanEdit{ref.cache->span->start, ref.cache->span->end, xml::RawMarkup{std::move(content)}});
  }
  return patched_bytes(source, name, parsed, std::move(edits));
}

// The edits that move one anchor element to `anchor`; only its cells may differ.
Result<void, SpreadsheetParseError> plan_anchor_move(const xml::XmlElement& element, const model::ChartAnchor& read,
                                                     const model::ChartAnchor& anchor,
                                                     std::vector<xml::SpanEdit>& edits) {
  if (read.index() != anchor.index()) return unexpected(anchor_changed());
  auto marker = [&](std::string_view local) { return xml::find_child_element(element.children, local); };
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&anchor)) {
    if (std::get<model::TwoCellAnchor>(read).edit_as != two->edit_as) return unexpected(anchor_changed());
    CMX_TRY(charts::reread_chart_anchors(marker("from"), two->from, edits));
    return charts::reread_chart_anchors(marker("to"), two->to, edits);
  }
  if (const auto* one = std::get_if<model::OneCellAnchor>(&anchor)) {
    if (std::get<model::OneCellAnchor>(read).extent != one->extent) return unexpected(anchor_changed());
    return charts::reread_chart_anchors(marker("from"), one->from, edits);
  }
  const auto& absolute = std::get<model::AbsoluteAnchor>(anchor);
  const auto& was = std::get<model::AbsoluteAnchor>(read);
  if (was.pos != absolute.pos || was.extent != absolute.extent) return unexpected(anchor_changed());
  return {};
}

Result<std::string, SpreadsheetParseError> rewrite_drawing_part(
    const reader::SourcePackage& source, std::string_view name,
    const std::vector<std::pair<uint64_t, const AnchorEntry*>>& moved) {
  CMX_ASSIGN_OR_RETURN(const ParsedPart parsed, parse_source_part(source, name));
  const xml::XmlElement& root = parsed.tree.root;
  std::vector<const xml::XmlElement*> elements;
  if (xml::element_is(root, xml::kSpreadsheetDrawingNs, "wsDr")) {
    for (const xml::XmlNode& node : root.children) {
      const xml::XmlElement* child = node.element();
      if (child != nullptr && charts::is_drawing_anchor_element(*child)) elements.push_back(child);
    }
  }
  CMX_ASSIGN_OR_RETURN(const std::vector<charts::DrawingAnchor> anchors, charts::read_drawing_part(root));
  std::vector<xml::SpanEdit> edits;
  for (const auto& [index, entry] : moved) {
    if (index >= elements.size() || index >= anchors.size()) {
      return unexpected(refuse("a chart anchor no longer exists in its drawing part"));
    }
    CMX_TRY(plan_anchor_move(*elements[index], anchors[index].anchor, entry->anchor, edits));
  }
  return patched_bytes(source, name, parsed, std::move(edits));
}

}  // namespace

Result<void, SpreadsheetParseError> write_back_charts(std::span<const model::SheetModel> sheets,
                                                      const reader::SourcePackage& source,
                                                      std::span<const model::SheetOrigin> origins, SavePlan& plan) {
  std::map<std::string, std::vector<ChartHolder>> holders;
  std::set<std::string> changed;
  std::map<std::pair<std::string, uint64_t>, AnchorEntry> anchors;
  const size_t sheet_count = std::min(sheets.size(), origins.size());
  for (size_t sheet_idx = 0; sheet_idx < sheet_count; ++sheet_idx) {
    const model::SheetModel& sheet = sheets[sheet_idx];
    const std::span<const model::SheetChart> baseline_charts = source_charts_of(origins[sheet_idx], source);
    for (const model::SheetChart& chart : sheet.charts) {
      CMX_ASSIGN_OR_RETURN(const model::SheetChart* baseline, match_chart_origin(chart, sheet.name, baseline_charts));
      const bool same_kinds =
          chart.refs.size() == baseline->refs.size() &&
          std::equal(chart.refs.begin(), chart.refs.end(), baseline->refs.begin(),
                     [](const model::ChartReference& a, const model::ChartReference& b) { return a.kind == b.kind; });
      if (!same_kinds) return unexpected(refuse("chart " + chart.part + " no longer holds the references it was read from"));
      holders[chart.part].push_back(ChartHolder{&chart.refs, sheet.name});
      for (size_t index = 0; index < chart.refs.size(); ++index) {
        if (chart.refs[index].formula != baseline->refs[index].formula) changed.insert(chart.part);
      }
      const bool moved = chart.anchor != baseline->anchor;
      auto [entry, inserted] =
          anchors.try_emplace({chart.drawing, chart.anchor_index}, AnchorEntry{chart.anchor, sheet.name, moved});
      if (inserted) continue;
      if (entry->second.anchor != chart.anchor) return unexpected(held_twice(chart.drawing, entry->second.sheet, sheet.name));
      entry->second.moved = entry->second.moved || moved;
    }
  }

  for (const std::string& part : changed) {
    const std::vector<ChartHolder>& list = holders[part];
    std::string first;
    for (size_t index = 0; index < list.size(); ++index) {
      CMX_ASSIGN_OR_RETURN(std::string bytes, rewrite_chart_part(source, part, list[index], sheets));
      if (index == 0) {
        first = std::move(bytes);
      } else if (bytes != first) {
        return unexpected(held_twice(part, list[0].sheet, list[index].sheet));
      }
    }
    CMX_TRY(put_plan_part(plan, part, std::move(first)));
  }

  // Anchors in drawing order, each drawing's anchors by index.
  std::map<std::string_view, std::vector<std::pair<uint64_t, const AnchorEntry*>>> moved_by_drawing;
  for (const auto& [key, entry] : anchors) {
    if (entry.moved) moved_by_drawing[key.first].emplace_back(key.second, &entry);
  }
  for (const auto& [drawing, moved] : moved_by_drawing) {
    CMX_ASSIGN_OR_RETURN(std::string bytes, rewrite_drawing_part(source, drawing, moved));
    CMX_TRY(put_plan_part(plan, drawing, std::move(bytes)));
  }
  return {};
}

}  // namespace cmx::writer
