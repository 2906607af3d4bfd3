#include <algorithm>
#include <utility>

#include "export/walk.h"
#include "json/writer.h"
#include "opc/relationships.h"
#include "xml/tree_queries.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;
using json::XlsxDiagnosticCode;

struct LineRun {
  uint32_t first = 0;
  uint32_t last = 0;
};

void add_line(std::vector<LineRun>& runs, uint32_t first, uint32_t last) {
  if (!runs.empty() && runs.back().last + 1 == first) {
    runs.back().last = last;
  } else {
    runs.push_back({first, last});
  }
}

// Runs of lines in [first, last] whose stored size is 0 or less; with
// `hidden_by_default`, lines without a stored size are hidden too.
template <typename Map>
std::vector<LineRun> hidden_runs(const Map& sizes, uint32_t first, uint32_t last, bool hidden_by_default) {
  std::vector<LineRun> runs;
  uint32_t cursor = first;
  for (auto it = sizes.lower_bound(first); it != sizes.end() && it->first <= last; ++it) {
    if (hidden_by_default && cursor < it->first) add_line(runs, cursor, it->first - 1);
    if (it->second <= 0) add_line(runs, it->first, it->first);
    cursor = it->first + 1;
  }
  if (hidden_by_default && cursor <= last && cursor >= first) add_line(runs, cursor, last);
  return runs;
}

// The part of [top, bottom] inside [sel_top, sel_bottom] lies in one run.
bool within_one_run(const std::vector<LineRun>& runs, uint32_t top, uint32_t bottom, uint32_t sel_top,
                    uint32_t sel_bottom) {
  const uint32_t from = std::max(top, sel_top);
  const uint32_t to = std::min(bottom, sel_bottom);
  auto it = std::upper_bound(runs.begin(), runs.end(), from,
                             [](uint32_t line, const LineRun& run) { return line < run.first; });
  if (it == runs.begin()) return false;
  --it;
  return it->first <= from && it->last >= to;
}

struct SheetLines {
  std::optional<model::CellRange> selection;
  std::vector<LineRun> rows;
  std::vector<LineRun> cols;
};

bool wholly_in_hidden_lines(const SheetLines& lines, const json::XlsxExportIncluded& included,
                            const model::CellRange& rect) {
  if (!lines.selection) return false;
  const model::CellRange& sel = *lines.selection;
  if (!included.hidden_rows &&
      within_one_run(lines.rows, rect.start.row, rect.end.row, sel.start.row, sel.end.row)) {
    return true;
  }
  return !included.hidden_columns &&
         within_one_run(lines.cols, rect.start.col, rect.end.col, sel.start.col, sel.end.col);
}

bool is_clipped(const std::optional<model::CellRange>& selection, const model::CellRange& rect) {
  if (!selection) return false;
  return rect.start.row < selection->start.row || rect.end.row > selection->end.row ||
         rect.start.col < selection->start.col || rect.end.col > selection->end.col;
}

bool meets_selection(const std::optional<model::CellRange>& selection, const model::CellRange& rect) {
  return !selection || rects_meet(*selection, rect);
}

std::optional<model::CellRange> used_range(const model::SheetModel& sheet) {
  std::optional<model::CellRange> used;
  auto widen = [&](const model::CellRange& rect) {
    if (!used) {
      used = model::CellRange{{rect.start.row, rect.start.col}, {rect.end.row, rect.end.col}};
      return;
    }
    used->start.row = std::min(used->start.row, rect.start.row);
    used->start.col = std::min(used->start.col, rect.start.col);
    used->end.row = std::max(used->end.row, rect.end.row);
    used->end.col = std::max(used->end.col, rect.end.col);
  };
  if (!sheet.cells.empty()) {
    // Rows from the ends of the map; columns need every cell.
    uint32_t min_col = model::MAX_COLS;
    uint32_t max_col = 0;
    for (const auto& [key, cell] : sheet.cells) {
      min_col = std::min(min_col, key.col);
      max_col = std::max(max_col, key.col);
    }
    widen(model::CellRange{{sheet.cells.begin()->first.row, min_col, false, false},
                           {sheet.cells.rbegin()->first.row, max_col, false, false}});
  }
  for (const model::SheetHyperlink& link : sheet.hyperlinks) widen(link.range);
  return used;
}

std::string plain_range_text(const model::CellRange& rect) {
  return model::format_range(
      model::CellRange{{rect.start.row, rect.start.col, false, false}, {rect.end.row, rect.end.col, false, false}});
}

json::XlsxSheetKind sheet_kind(const reader::SourceSheet* source) {
  if (source == nullptr || !source->rel_type) return json::XlsxSheetKind::Worksheet;
  const std::string_view word = opc::last_type_segment(*source->rel_type);
  if (word == "worksheet") return json::XlsxSheetKind::Worksheet;
  if (word == "chartsheet") return json::XlsxSheetKind::Chartsheet;
  if (word == "dialogsheet") return json::XlsxSheetKind::Dialogsheet;
  if (word == "xlMacrosheet" || word == "xlIntlMacrosheet") return json::XlsxSheetKind::Macrosheet;
  return json::XlsxSheetKind::Other;
}

Step charge_list_text(ExportContext& context, std::string_view text, const XlsxAnchor& anchor) {
  return charge_metadata(context, json::json_string_length(text), anchor);
}

// Counts comment start tags of a comments or threaded comments part.
uint64_t count_comment_elements(const xml::XmlElement& element, std::string_view local) {
  uint64_t count = 0;
  for (const xml::XmlNode& node : element.children) {
    const xml::XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (!child->self_closing && xml::tree_local_name(child->name) == local) ++count;
    count += count_comment_elements(*child, local);
  }
  return count;
}

struct ContentReport {
  std::vector<std::string_view> labels;
  std::vector<std::string> unreadable;
  std::optional<std::string> oversized;
  uint64_t comments = 0;
};

void add_label(ContentReport& report, std::string_view label) {
  if (std::find(report.labels.begin(), report.labels.end(), label) == report.labels.end()) {
    report.labels.push_back(label);
  }
}

ContentReport inspect_source_content(ExportContext& context, const reader::SourceSheet& source) {
  ContentReport report;
  constexpr std::pair<std::string_view, std::string_view> kChildren[] = {
      {"conditionalFormatting", "conditional formatting"}, {"dataValidations", "data validation"},
      {"autoFilter", "autofilter"},                        {"scenarios", "scenarios"},
      {"oleObjects", "embedded objects"},                  {"controls", "form controls"},
      {"picture", "background picture"}};
  for (const auto& [local, label] : kChildren) {
    if (reader::find_template_child(source.template_, local) != nullptr) add_label(report, label);
  }
  const reader::SourcePackage& package = *context.source->package;
  const std::string rels_name = relationships_part_name(source.part_name);
  std::vector<xml::Relationship> relationships;
  if (const std::optional<std::string_view> bytes = opc::find_package_part(package.parts, rels_name)) {
    xml::BudgetedParse parsed = xml::parse_part_within_budget(context.parse_budget, *bytes);
    if (parsed.outcome == xml::BudgetOutcome::Skipped) {
      report.oversized = rels_name;
      return report;
    }
    if (parsed.outcome == xml::BudgetOutcome::Unreadable || !parsed.root) {
      report.unreadable.push_back(rels_name);
    } else {
      relationships = xml::collect_internal_relationships(parsed.root->children);
    }
  }
  constexpr std::pair<std::string_view, std::string_view> kRelated[] = {
      {"pivotTable", "pivot tables"}, {"queryTable", "query tables"}, {"slicer", "slicers"}, {"timeline", "timelines"}};
  for (const auto& [word, label] : kRelated) {
    for (const xml::Relationship& rel : relationships) {
      if (opc::last_type_segment(rel.type) == word) {
        add_label(report, label);
        break;
      }
    }
  }
  const std::string_view folder = part_folder(source.part_name);
  for (const xml::Relationship& rel : relationships) {
    const std::string_view word = opc::last_type_segment(rel.type);
    if (word != "comments" && word != "threadedComment") continue;
    const std::string target = opc::resolve_relationship_target(folder, rel.target);
    const std::optional<std::string_view> bytes = opc::find_package_part(package.parts, target);
    if (!bytes) {
      report.unreadable.push_back(target);
      continue;
    }
    xml::BudgetedParse parsed = xml::parse_part_within_budget(context.parse_budget, *bytes);
    if (parsed.outcome == xml::BudgetOutcome::Skipped) {
      report.oversized = target;
      break;
    }
    if (parsed.outcome == xml::BudgetOutcome::Unreadable || !parsed.root) {
      report.unreadable.push_back(target);
      continue;
    }
    const std::string_view local = word == "comments" ? "comment" : "threadedComment";
    const xml::XmlElement& root = *parsed.root;
    report.comments += (!root.self_closing && xml::tree_local_name(root.name) == local ? 1 : 0) +
                       count_comment_elements(root, local);
  }
  return report;
}

std::string join_labels(const std::vector<std::string_view>& labels) {
  std::string out;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (i > 0) out += ", ";
    out += labels[i];
  }
  return out;
}

Step list_hidden_lines(ExportContext& context, const std::vector<LineRun>& runs, bool include, bool rows,
                       const XlsxAnchor& anchor, std::vector<std::string>& out) {
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i == 0 && !include) {
      const std::string message =
          rows ? "Cells in hidden rows, and links and tables wholly inside them, are excluded; set includeHiddenRows "
                 "to export them."
               : "Cells in hidden columns, and links and tables wholly inside them, are excluded; set "
                 "includeHiddenColumns to export them.";
      if (Step stop = push_export_info(context, XlsxDiagnosticCode::HiddenContentExcluded, anchor, message)) {
        return stop;
      }
    }
    const std::string text = rows ? std::to_string(runs[i].first + 1) + ":" + std::to_string(runs[i].last + 1)
                                  : model::column_letters(runs[i].first) + ":" + model::column_letters(runs[i].last);
    if (Step stop = charge_list_text(context, text, anchor)) return stop;
    out.push_back(text);
  }
  return std::nullopt;
}

}  // namespace

Step walk_sheet(ExportContext& context, uint32_t index, const std::optional<model::CellRange>& scope) {
  const ExportSource& source = *context.source;
  const model::SheetModel& sheet = source.model->sheets[index];
  const json::XlsxSheetIdentity identity = export_sheet_identity(source, index);
  const XlsxAnchor anchor = json::XlsxAnchorSheet{identity};
  const json::XlsxExportIncluded included = context.content.included;

  const json::XlsxSheetVisibility visibility = sheet_visibility(source, index);
  if (!included.hidden_sheets && visibility != json::XlsxSheetVisibility::Visible) {
    if (visibility == json::XlsxSheetVisibility::Unknown) {
      return push_export_warning(context, XlsxDiagnosticCode::VisibilityUnknown, anchor,
                                 "The sheet's visibility is unavailable or not a known state, so it is excluded as "
                                 "hidden; set includeHiddenSheets to export it.");
    }
    return push_export_info(context, XlsxDiagnosticCode::HiddenContentExcluded, anchor,
                            "The sheet is hidden and excluded; set includeHiddenSheets to export it.");
  }
  const reader::SourceSheet* from_source = source_sheet_of(source, index);
  const json::XlsxSheetKind kind = sheet_kind(from_source);
  const bool worksheet = kind == json::XlsxSheetKind::Worksheet;

  const std::optional<model::CellRange> used = used_range(sheet);
  SheetLines lines;
  lines.selection = scope ? scope : used;

  json::XlsxExportSheet record;
  record.id = "s" + std::to_string(index);
  record.anchor = anchor;
  record.kind = kind;
  record.visibility = visibility;
  if (used) record.used_range = plain_range_text(*used);
  if (lines.selection) record.selected_range = plain_range_text(*lines.selection);
  if (from_source != nullptr) record.source = source_part_record(context, from_source->part_name, {});
  uint64_t size = 0;
  json::count_export_sheet_bytes(record, size);
  if (context.bytes_used + size + 1 > context.byte_limit) return stop_with(anchor, StopReason::MaxBytes);
  context.bytes_used += size + 1;
  context.content.sheets.push_back(std::move(record));
  auto current = [&]() -> json::XlsxExportSheet& { return context.content.sheets.back(); };

  if (!worksheet) {
    if (Step stop = push_export_warning(context, XlsxDiagnosticCode::UnsupportedSheet, anchor,
                                        "This is not a worksheet; only its drawing objects are exported.")) {
      return stop;
    }
  }
  if (from_source != nullptr) {
    const ContentReport report = inspect_source_content(context, *from_source);
    if (report.comments > 0) {
      if (Step stop = push_export_info(context, XlsxDiagnosticCode::CommentsOmitted, anchor,
                                       "Comments on this sheet are not exported (" + std::to_string(report.comments) +
                                           ").")) {
        return stop;
      }
    }
    if (!report.labels.empty()) {
      if (Step stop = push_export_warning(context, XlsxDiagnosticCode::UnsupportedContent, anchor,
                                          "This sheet carries content the export does not represent: " +
                                              join_labels(report.labels) + ".")) {
        return stop;
      }
    }
    for (const std::string& part : report.unreadable) {
      if (Step stop = push_export_warning(context, XlsxDiagnosticCode::UnreadableObject, anchor,
                                          "The part " + part + " could not be read; what it holds is not exported.")) {
        return stop;
      }
    }
    if (report.oversized) return stop_at_oversized_part(context, anchor, *report.oversized);
  }

  if (lines.selection) {
    const model::CellRange& sel = *lines.selection;
    lines.rows = hidden_runs(sheet.row_heights, sel.start.row, sel.end.row, sheet.zero_height);
    lines.cols = hidden_runs(sheet.col_widths, sel.start.col, sel.end.col, false);
    std::vector<std::string> texts;
    if (Step stop = list_hidden_lines(context, lines.rows, included.hidden_rows, true, anchor, texts)) {
      current().hidden_rows = std::move(texts);
      return stop;
    }
    current().hidden_rows = std::move(texts);
    texts.clear();
    if (Step stop = list_hidden_lines(context, lines.cols, included.hidden_columns, false, anchor, texts)) {
      current().hidden_columns = std::move(texts);
      return stop;
    }
    current().hidden_columns = std::move(texts);
  }

  std::vector<KeptMerge> kept;
  for (const model::CellRange& merge : sheet.merges) {
    if (Step stop = count_visit(context, anchor)) return stop;
    if (!meets_selection(lines.selection, merge)) continue;
    json::XlsxExportMerge record{"s" + std::to_string(index) + ":m" + std::to_string(current().merges.size()),
                                 range_anchor(identity, merge), is_clipped(lines.selection, merge)};
    uint64_t bytes = 0;
    json::count_export_merge_bytes(record, bytes);
    if (Step stop = charge_metadata(context, bytes, anchor)) return stop;
    current().merges.push_back(std::move(record));
    kept.push_back(KeptMerge{merge, plain_range_text(merge)});
  }
  for (const model::WorkbookTable& table : source.model->tables) {
    if (Step stop = count_visit(context, anchor)) return stop;
    if (table.sheet != index || !meets_selection(lines.selection, table.range) ||
        wholly_in_hidden_lines(lines, included, table.range)) {
      continue;
    }
    json::XlsxExportTable record{"s" + std::to_string(index) + ":t" + std::to_string(current().tables.size()),
                                 range_anchor(identity, table.range),
                                 table.name,
                                 table.header_rows,
                                 table.totals_rows,
                                 table.columns,
                                 is_clipped(lines.selection, table.range)};
    uint64_t bytes = 0;
    json::count_export_table_bytes(record, bytes);
    if (Step stop = charge_metadata(context, bytes, anchor)) return stop;
    current().tables.push_back(std::move(record));
  }
  for (const model::SheetHyperlink& link : sheet.hyperlinks) {
    if (Step stop = count_visit(context, anchor)) return stop;
    if (!meets_selection(lines.selection, link.range) || wholly_in_hidden_lines(lines, included, link.range)) continue;
    json::XlsxExportHyperlink record{
        "s" + std::to_string(index) + ":h" + std::to_string(current().hyperlinks.size()),
        range_anchor(identity, link.range),
        link.external_target,
        link.location,
        link.tooltip,
        link.display,
        is_clipped(lines.selection, link.range)};
    uint64_t bytes = 0;
    json::count_export_hyperlink_bytes(record, bytes);
    if (Step stop = charge_metadata(context, bytes, anchor)) return stop;
    current().hyperlinks.push_back(std::move(record));
  }
  // Only a range the caller chose filters objects: a used range is cells and
  // links alone, and would drop every chart beside the data unreported.
  if (Step stop = walk_drawing_objects(context, index, scope)) return stop;
  if (worksheet && lines.selection) return walk_cells(context, index, *lines.selection, kept, anchor);
  return std::nullopt;
}

}  // namespace cmx::exports
