#include <map>
#include <utility>

#include "charts/drawing.h"
#include "export/walk.h"
#include "opc/relationships.h"
#include "xml/tree_queries.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;
using json::XlsxDiagnosticCode;
using json::XlsxObjectKind;

constexpr std::string_view kMarkupCompatibilityNs = "http://schemas.openxmlformats.org/markup-compatibility/2006";

struct AnchorCandidate {
  bool direct = false;
  uint64_t anchor_index = 0;
  std::string drawing;
  std::optional<std::string> name;
  std::optional<std::string> alt_text;
  std::optional<std::string> title;
  std::optional<std::string> part;
  std::optional<model::ChartAnchor> position;
  uint32_t element_index = 0;
  bool hidden = false;
  XlsxObjectKind kind = XlsxObjectKind::Unknown;
};

struct ObjectWalkState {
  uint64_t committed = 0;
  bool placeholder_notice = false;
  bool moved_notice = false;
};

struct ObjectWalk {
  ExportContext& context;
  uint32_t index;
  const model::SheetModel& sheet;
  const std::optional<model::CellRange>& selection;
  XlsxAnchor anchor;
  json::XlsxSheetIdentity identity;
  std::map<std::pair<std::string, uint64_t>, size_t> chart_index;
  std::vector<bool> matched;
  ObjectWalkState state;
};

std::optional<XlsxAnchor> object_anchor(const json::XlsxSheetIdentity& identity, const model::ChartAnchor& position) {
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&position)) {
    const model::CellRange rect{
        {std::min(two->from.row, two->to.row), std::min(two->from.col, two->to.col), false, false},
        {std::max(two->from.row, two->to.row), std::max(two->from.col, two->to.col), false, false}};
    return XlsxAnchor(json::XlsxAnchorRange{identity, model::format_range(rect)});
  }
  if (const auto* one = std::get_if<model::OneCellAnchor>(&position)) {
    return XlsxAnchor(
        json::XlsxAnchorCell{identity, model::format_cell_ref(model::CellRef{one->from.row, one->from.col})});
  }
  return std::nullopt;
}

std::optional<model::CellRange> anchor_rect(const XlsxAnchor& anchor) {
  std::string_view a1;
  if (const auto* cell = std::get_if<json::XlsxAnchorCell>(&anchor)) a1 = cell->a1;
  else if (const auto* range = std::get_if<json::XlsxAnchorRange>(&anchor)) a1 = range->a1;
  else return std::nullopt;
  Result<model::CellRange, model::AddrError> parsed = model::parse_range(a1);
  if (!parsed) return std::nullopt;
  return parsed.value();
}

Step commit_drawing_object(ObjectWalk& walk, json::XlsxExportObject object) {
  if (object.anchor && walk.selection) {
    if (const std::optional<model::CellRange> rect = anchor_rect(*object.anchor)) {
      if (!rects_meet(*rect, *walk.selection)) return std::nullopt;
    }
  }
  if (!walk.state.placeholder_notice) {
    walk.state.placeholder_notice = true;
    if (Step stop = push_export_info(
            walk.context, XlsxDiagnosticCode::ObjectPlaceholder, walk.anchor,
            "Drawing objects on this sheet are exported as placeholders without chart data, image bytes or shape "
            "text.")) {
      return stop;
    }
  }
  object.id = "s" + std::to_string(walk.index) + ":o" + std::to_string(walk.state.committed);
  uint64_t size = 0;
  json::count_export_object_bytes(object, size);
  if (Step stop = charge_metadata(walk.context, size, walk.anchor)) return stop;
  walk.state.committed += 1;
  walk.context.content.sheets.back().objects.push_back(std::move(object));
  return std::nullopt;
}

XlsxObjectKind object_kind(xml::DrawingObjectKind kind) {
  switch (kind) {
    case xml::DrawingObjectKind::Chart: return XlsxObjectKind::Chart;
    case xml::DrawingObjectKind::Picture: return XlsxObjectKind::Picture;
    case xml::DrawingObjectKind::Shape: return XlsxObjectKind::Shape;
    case xml::DrawingObjectKind::Group: return XlsxObjectKind::Group;
    case xml::DrawingObjectKind::Connector: return XlsxObjectKind::Connector;
    case xml::DrawingObjectKind::Diagram: return XlsxObjectKind::Diagram;
    case xml::DrawingObjectKind::GraphicFrame: return XlsxObjectKind::GraphicFrame;
    case xml::DrawingObjectKind::ContentPart: return XlsxObjectKind::ContentPart;
    case xml::DrawingObjectKind::NotDrawing: return XlsxObjectKind::Unknown;
  }
  return XlsxObjectKind::Unknown;
}

std::optional<std::string> non_empty(std::optional<std::string_view> value) {
  if (!value || value->empty()) return std::nullopt;
  return std::string(*value);
}

bool is_alternate_content(const xml::XmlElement& element) {
  return xml::element_is(element, kMarkupCompatibilityNs, "AlternateContent");
}

AnchorCandidate read_anchor(const xml::XmlElement& element, std::string_view drawing,
                            const std::vector<xml::Relationship>& relationships) {
  AnchorCandidate candidate;
  candidate.drawing = std::string(drawing);
  const xml::XmlElement* object = nullptr;
  for (const xml::XmlNode& node : element.children) {
    const xml::XmlElement* child = node.element();
    if (child == nullptr) continue;
    const std::string_view local = xml::tree_local_name(child->name);
    if (local == "from" || local == "to" || local == "pos" || local == "ext" || local == "clientData") continue;
    object = child;
    break;
  }
  if (object != nullptr && is_alternate_content(*object)) {
    object = xml::alternate_content_first_branch(object->children);
  }
  if (object != nullptr) {
    candidate.kind = object_kind(xml::classify_drawing_object(*object));
    const xml::XmlElement* properties = nullptr;
    for (const xml::XmlNode& node : object->children) {
      const xml::XmlElement* child = node.element();
      if (child == nullptr) continue;
      if (xml::tree_local_name(child->name).starts_with("nv")) {
        properties = xml::find_child_element(child->children, "cNvPr");
        break;
      }
    }
    if (properties != nullptr) {
      candidate.name = non_empty(xml::attribute_by_local_name(properties->attributes, "name"));
      candidate.alt_text = non_empty(xml::attribute_by_local_name(properties->attributes, "descr"));
      candidate.title = non_empty(xml::attribute_by_local_name(properties->attributes, "title"));
      const std::optional<std::string_view> hidden = xml::attribute_by_local_name(properties->attributes, "hidden");
      candidate.hidden = hidden && (*hidden == "1" || *hidden == "true");
    }
    const xml::XmlElement* link = nullptr;
    std::optional<std::string_view> id;
    if (candidate.kind == XlsxObjectKind::Picture) {
      link = xml::find_descendant_element(object->children, "blip");
      if (link != nullptr) id = xml::relationship_attribute(link->attributes, "embed");
    } else if (candidate.kind == XlsxObjectKind::Chart) {
      link = xml::find_descendant_element(object->children, "chart");
      if (link != nullptr) id = xml::relationship_attribute(link->attributes, "id");
    }
    if (id) {
      for (const xml::Relationship& rel : relationships) {
        if (rel.id == *id) {
          candidate.part = opc::resolve_relationship_target(part_folder(drawing), rel.target);
          break;
        }
      }
    }
  }
  Result<model::ChartAnchor, xml::SpreadsheetParseError> position = charts::read_chart_anchor(element);
  if (position) candidate.position = std::move(position).value();
  return candidate;
}

// The rows and columns under a position are where the source part had them.
bool position_unmoved(const ExportContext& context, uint32_t index, const model::ChartAnchor& position) {
  const session::SheetSourceTable* sources = context.source->sources;
  if (sources == nullptr || index >= sources->move_maps.size() || !sources->move_maps[index]) return false;
  const session::SheetMoveMap& map = *sources->move_maps[index];
  auto stays = [](const std::vector<session::IndexRun>& runs, uint32_t line) {
    for (const session::IndexRun& run : runs) {
      if (line >= run.current_start && line - run.current_start < run.len) return run.source_start == run.current_start;
    }
    return false;
  };
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&position)) {
    return stays(map.rows, two->from.row) && stays(map.rows, two->to.row) && stays(map.cols, two->from.col) &&
           stays(map.cols, two->to.col);
  }
  if (const auto* one = std::get_if<model::OneCellAnchor>(&position)) {
    return stays(map.rows, one->from.row) && stays(map.cols, one->from.col);
  }
  return true;
}

Step export_candidate(ObjectWalk& walk, AnchorCandidate candidate) {
  if (Step stop = count_visit(walk.context, walk.anchor)) return stop;
  json::XlsxExportObject object;
  object.kind = candidate.kind;
  object.name = std::move(candidate.name);
  object.alt_text = std::move(candidate.alt_text);
  object.title = std::move(candidate.title);
  object.hidden = candidate.hidden;
  object.source = source_part_record(walk.context, candidate.drawing, {candidate.element_index});
  const auto found = candidate.direct ? walk.chart_index.find({candidate.drawing, candidate.anchor_index})
                                      : walk.chart_index.end();
  if (found != walk.chart_index.end()) {
    walk.matched[found->second] = true;
    const model::SheetChart& chart = walk.sheet.charts[found->second];
    object.anchor = object_anchor(walk.identity, chart.anchor);
    object.part = chart.part;
  } else {
    object.part = std::move(candidate.part);
    if (candidate.position) {
      if (anchor_kind(*candidate.position) == model::ChartAnchorKind::Absolute) {
        object.anchor = std::nullopt;
      } else if (position_unmoved(walk.context, walk.index, *candidate.position)) {
        object.anchor = object_anchor(walk.identity, *candidate.position);
      } else if (!walk.state.moved_notice) {
        walk.state.moved_notice = true;
        if (Step stop = push_export_info(
                walk.context, XlsxDiagnosticCode::ProvenanceUnavailable, walk.anchor,
                "Rows or columns under some drawing objects of this sheet moved since it was read, and a save keeps "
                "those objects where they were, so they have no grid anchor.")) {
          return stop;
        }
      }
    }
    if (object.kind == XlsxObjectKind::Chart) {
      std::optional<XlsxAnchor> at = walk.anchor;
      if (object.source) at = XlsxAnchor(json::XlsxAnchorSourcePart{*object.source});
      if (Step stop = push_export_diagnostic(walk.context, XlsxDiagnosticCode::UnreadableObject,
                                             json::XlsxSeverity::Warning, at,
                                             "A chart in " + candidate.drawing +
                                                 " could not be read; it is exported as a placeholder only.",
                                             walk.anchor)) {
        return stop;
      }
    }
  }
  return commit_drawing_object(walk, std::move(object));
}

Step unreadable_part(ObjectWalk& walk, std::string_view part) {
  if (Step stop = count_visit(walk.context, walk.anchor)) return stop;
  return push_export_warning(walk.context, XlsxDiagnosticCode::UnreadableObject, walk.anchor,
                             "The part " + std::string(part) + " could not be read; what it holds is not exported.");
}

Step oversized_part(ObjectWalk& walk, std::string_view part) {
  if (Step stop = count_visit(walk.context, walk.anchor)) return stop;
  return stop_at_oversized_part(walk.context, walk.anchor, part);
}

Step walk_drawing_part(ObjectWalk& walk, const std::string& drawing) {
  const reader::SourcePackage& package = *walk.context.source->package;
  const std::optional<std::string_view> bytes = opc::find_package_part(package.parts, drawing);
  if (!bytes) return unreadable_part(walk, drawing);
  xml::BudgetedParse parsed = xml::parse_part_within_budget(walk.context.parse_budget, *bytes);
  if (parsed.outcome == xml::BudgetOutcome::Skipped) return oversized_part(walk, drawing);
  if (parsed.outcome != xml::BudgetOutcome::Parsed || !parsed.root) return unreadable_part(walk, drawing);
  const xml::XmlElement root = std::move(*parsed.root);

  std::vector<xml::Relationship> relationships;
  const std::string rels_name = relationships_part_name(drawing);
  if (const std::optional<std::string_view> rels = opc::find_package_part(package.parts, rels_name)) {
    xml::BudgetedParse read = xml::parse_part_within_budget(walk.context.parse_budget, *rels);
    if (read.outcome == xml::BudgetOutcome::Skipped) return oversized_part(walk, rels_name);
    if (read.outcome == xml::BudgetOutcome::Parsed && read.root) {
      relationships = xml::collect_internal_relationships(read.root->children);
    }
  }

  uint64_t direct_anchors = 0;
  uint32_t element_index = 0;
  for (const xml::XmlNode& node : root.children) {
    const xml::XmlElement* child = node.element();
    if (child == nullptr) continue;
    const uint32_t position = element_index++;
    const xml::XmlElement* anchor_element = nullptr;
    bool direct = false;
    if (charts::is_drawing_anchor_element(*child)) {
      anchor_element = child;
      direct = true;
    } else if (xml::tree_local_name(child->name) == "AlternateContent" && is_alternate_content(*child)) {
      const xml::XmlElement* branch = xml::alternate_content_first_branch(child->children);
      if (branch != nullptr && charts::is_drawing_anchor_element(*branch)) anchor_element = branch;
    }
    if (anchor_element == nullptr) continue;
    AnchorCandidate candidate = read_anchor(*anchor_element, drawing, relationships);
    candidate.direct = direct;
    candidate.anchor_index = direct_anchors;
    candidate.element_index = position;
    if (direct) ++direct_anchors;
    if (Step stop = export_candidate(walk, std::move(candidate))) return stop;
  }
  return std::nullopt;
}

Step walk_source_drawings(ObjectWalk& walk, const reader::SourceSheet& source) {
  const reader::SourcePackage& package = *walk.context.source->package;
  const std::string rels_name = relationships_part_name(source.part_name);
  const std::optional<std::string_view> bytes = opc::find_package_part(package.parts, rels_name);
  if (!bytes) return std::nullopt;
  xml::BudgetedParse parsed = xml::parse_part_within_budget(walk.context.parse_budget, *bytes);
  if (parsed.outcome == xml::BudgetOutcome::Skipped) return oversized_part(walk, rels_name);
  if (parsed.outcome != xml::BudgetOutcome::Parsed || !parsed.root) return std::nullopt;
  std::vector<std::string> drawings;
  for (const xml::Relationship& rel : xml::collect_internal_relationships(parsed.root->children)) {
    if (opc::last_type_segment(rel.type) != "drawing") continue;
    std::string name = opc::resolve_relationship_target(part_folder(source.part_name), rel.target);
    if (std::find(drawings.begin(), drawings.end(), name) == drawings.end()) drawings.push_back(std::move(name));
  }
  for (const std::string& drawing : drawings) {
    if (Step stop = walk_drawing_part(walk, drawing)) return stop;
  }
  return std::nullopt;
}

}  // namespace

Step walk_drawing_objects(ExportContext& context, uint32_t index, const std::optional<model::CellRange>& selection) {
  const model::SheetModel& sheet = context.source->model->sheets[index];
  const json::XlsxSheetIdentity identity = export_sheet_identity(*context.source, index);
  ObjectWalk walk{context, index, sheet, selection, XlsxAnchor(json::XlsxAnchorSheet{identity}), identity, {}, {}, {}};
  walk.matched.assign(sheet.charts.size(), false);
  for (size_t i = 0; i < sheet.charts.size(); ++i) {
    walk.chart_index.emplace(std::make_pair(sheet.charts[i].drawing, sheet.charts[i].anchor_index), i);
  }
  if (const reader::SourceSheet* source = source_sheet_of(*context.source, index)) {
    if (Step stop = walk_source_drawings(walk, *source)) return stop;
  }
  for (size_t i = 0; i < sheet.charts.size(); ++i) {
    if (walk.matched[i]) continue;
    json::XlsxExportObject object;
    object.kind = XlsxObjectKind::Chart;
    object.anchor = object_anchor(identity, sheet.charts[i].anchor);
    object.part = sheet.charts[i].part;
    if (Step stop = commit_drawing_object(walk, std::move(object))) return stop;
  }
  return std::nullopt;
}

}  // namespace cmx::exports
