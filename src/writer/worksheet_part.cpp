#include "model/cell_value.h"
#include "opc/part_names.h"
#include "writer/parts.h"

namespace cmx::writer {

namespace {

std::string_view active_pane(const model::FreezePane& pane) {
  if (pane.rows != 0 && pane.cols != 0) return "bottomRight";
  if (pane.rows != 0) return "bottomLeft";
  if (pane.cols != 0) return "topRight";
  return "topLeft";
}

std::string plain_ref(uint32_t row, uint32_t col) {
  std::string out;
  append_cell_ref(out, row, col);
  return out;
}

std::string plain_range(const model::CellRange& range) {
  model::CellRange plain = range;
  plain.start.abs_row = plain.start.abs_col = plain.end.abs_row = plain.end.abs_col = false;
  return model::format_range(plain);
}

// "<tag>text</tag>" with the text escaped as content.
void value_element(XmlPartWriter& writer, std::string_view text) {
  writer.raw("<v>");
  writer.text(text);
  writer.raw("</v>");
}

}  // namespace

TextLookup build_text_lookup(const std::vector<std::string>& texts) {
  TextLookup lookup;
  lookup.reserve(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) lookup.try_emplace(texts[i], static_cast<uint32_t>(i));
  return lookup;
}

HyperlinkRelationshipPlan plan_hyperlink_relationships(
    const std::vector<model::SheetHyperlink>& hyperlinks,
    const std::vector<opc::AttributeList>& existing, std::string_view default_type) {
  HyperlinkRelationshipPlan plan;
  const std::string type = relationship_type_for(existing, "hyperlink", default_type);
  std::set<std::string> in_use;
  for (const opc::AttributeList& rel : existing) {
    if (opc::relationship_type_is(rel, "hyperlink")) continue;
    plan.relationships.push_back(rel);
    for (const opc::AttributePair& pair : rel) {
      if (opc::attribute_local_name(pair.name) == "Id") {
        in_use.insert(pair.value);
        break;
      }
    }
  }
  plan.ids.reserve(hyperlinks.size());
  for (const model::SheetHyperlink& link : hyperlinks) {
    if (!link.external_target) {
      plan.ids.emplace_back();
      continue;
    }
    std::string id = next_free_relationship_id(in_use);
    opc::AttributeList rel = relationship_attributes(id, type, *link.external_target);
    rel.push_back({"TargetMode", "External"});
    plan.relationships.push_back(std::move(rel));
    plan.ids.emplace_back(std::move(id));
  }
  return plan;
}

void write_pane(XmlPartWriter& writer, const model::FreezePane& pane) {
  writer.open("pane");
  if (pane.cols != 0) writer.attribute_u64("xSplit", pane.cols);
  if (pane.rows != 0) writer.attribute_u64("ySplit", pane.rows);
  writer.attribute("topLeftCell", plain_ref(pane.top_left.row, pane.top_left.col));
  writer.attribute("activePane", active_pane(pane));
  writer.attribute("state", "frozen");
  writer.close_empty();
}

void write_sheet_views(XmlPartWriter& writer, const model::FreezePane& pane) {
  writer.start_tag("sheetViews");
  writer.start_tag("sheetView", {{"workbookViewId", "0"}});
  write_pane(writer, pane);
  writer.end_tag("sheetView");
  writer.end_tag("sheetViews");
}

void write_col_element(XmlPartWriter& writer, uint32_t col, double width) {
  writer.open("col");
  writer.attribute_u64("min", uint64_t{col} + 1);
  writer.attribute_u64("max", uint64_t{col} + 1);
  const std::string width_text = format_xml_number(width);
  writer.attribute("width", width_text);
  writer.attribute("customWidth", "1");
  if (width_text == "0") writer.attribute("hidden", "1");
  writer.close_empty();
}

void write_cols(XmlPartWriter& writer, const model::SheetModel& sheet) {
  writer.start_tag("cols");
  for (const auto& [col, width] : sheet.col_widths) write_col_element(writer, col, width);
  writer.end_tag("cols");
}

std::optional<uint64_t> resolve_shared_string_index(const model::SheetCell& cell, model::CellKey key,
                                                    const SheetWriteContext& context) {
  if (!cell.value.is_text()) return std::nullopt;
  const std::string_view text = cell.value.as_text();
  if (context.plan != nullptr) {
    const SharedStringPlan& plan = *context.plan;
    if (context.recorded != nullptr && context.shared_strings != nullptr && !plan.source_to_written.empty()) {
      const auto recorded = context.recorded->find(key);
      if (recorded != context.recorded->end()) {
        const auto mapped = plan.source_to_written.find(recorded->second);
        if (mapped != plan.source_to_written.end() && mapped->second < context.shared_strings->size() &&
            (*context.shared_strings)[mapped->second] == text) {
          return mapped->second;
        }
      }
    }
    if (!plan.text_map.empty()) {
      const auto found = plan.text_map.find(absl::string_view(text.data(), text.size()));
      if (found != plan.text_map.end()) return found->second;
    }
    return std::nullopt;
  }
  if (context.recorded != nullptr && context.shared_strings != nullptr) {
    const auto found = context.recorded->find(key);
    if (found != context.recorded->end() && found->second < context.shared_strings->size() &&
        (*context.shared_strings)[found->second] == text) {
      return found->second;
    }
  }
  if (context.lookup != nullptr && !context.lookup->empty()) {
    const auto found = context.lookup->find(text);
    if (found != context.lookup->end()) return found->second;
  }
  return std::nullopt;
}

void write_cell(XmlPartWriter& writer, model::CellKey key, const model::SheetCell& cell,
                std::optional<uint64_t> known_index, const model::CellRange* array_range) {
  std::string& out = writer.buffer();
  out += "<c r=\"";
  append_cell_ref(out, key.row, key.col);
  out.push_back('"');
  if (cell.style) {
    out += " s=\"";
    append_u64(out, *cell.style);
    out.push_back('"');
  }
  const model::CellValue& value = cell.value;
  using Kind = model::CellValue::Kind;
  const bool inline_text = value.is_text() && !cell.formula && !known_index;
  // A formula's cached text is no escaped string: one that XML cannot carry
  // (=CHAR(7)) is left out rather than making the workbook unsavable, and the
  // formula computes it again on reading.
  const bool cached = !(cell.formula && value.is_text() && !expressible_in_xml(value.as_text()));
  switch (cached ? value.kind() : Kind::Empty) {
    case Kind::Empty:
    case Kind::Number: break;
    case Kind::Text: out += cell.formula ? " t=\"str\"" : inline_text ? " t=\"inlineStr\"" : " t=\"s\""; break;
    case Kind::Bool: out += " t=\"b\""; break;
    case Kind::Error: out += " t=\"e\""; break;
  }
  out.push_back('>');
  if (cell.formula) {
    if (array_range != nullptr) {
      writer.open("f");
      writer.attribute("t", "array");
      writer.attribute("ref", plain_range(*array_range));
      writer.close();
    } else {
      out += "<f>";
    }
    writer.text(cell.formula->view());
    out += "</f>";
  }
  switch (cached ? value.kind() : Kind::Empty) {
    case Kind::Empty: break;
    case Kind::Number:
      out += "<v>";
      append_xml_number(out, value.as_number());
      out += "</v>";
      break;
    case Kind::Text:
      if (cell.formula) {
        value_element(writer, value.as_text());
      } else if (inline_text) {
        out += "<is>";
        write_preserved_text(writer, value.as_text());
        out += "</is>";
      } else {
        out += "<v>";
        append_u64(out, *known_index);
        out += "</v>";
      }
      break;
    case Kind::Bool: out += value.as_bool() ? "<v>1</v>" : "<v>0</v>"; break;
    case Kind::Error: value_element(writer, model::error_code_text(value.as_error())); break;
  }
  out += "</c>";
}

std::string write_cols_fragment(const model::SheetModel& sheet) {
  if (sheet.col_widths.empty()) return {};
  XmlPartWriter writer;
  write_cols(writer, sheet);
  // Widths are numbers: nothing in a `cols` element can be refused.
  return *writer.finish();
}

void write_row(XmlPartWriter& writer, const model::SheetModel& sheet, uint32_t row,
               model::CellMap::const_iterator& cursor, const SheetWriteContext& context) {
  std::string& out = writer.buffer();
  out += "<row r=\"";
  append_u64(out, uint64_t{row} + 1);
  out.push_back('"');
  const auto height = sheet.row_heights.find(row);
  if (height != sheet.row_heights.end()) {
    const std::string ht = format_xml_number(height->second);
    writer.attribute("ht", ht);
    writer.attribute("customHeight", "1");
    if (ht == "0") writer.attribute("hidden", "1");
  }
  out.push_back('>');
  for (; cursor != sheet.cells.end() && cursor->first.row == row; ++cursor) {
    const model::CellRange* array_range = nullptr;
    if (cursor->second.formula && !sheet.array_ranges.empty()) {
      const auto found = sheet.array_ranges.find(cursor->first);
      if (found != sheet.array_ranges.end()) array_range = &found->second;
    }
    write_cell(writer, cursor->first, cursor->second,
               resolve_shared_string_index(cursor->second, cursor->first, context), array_range);
  }
  out += "</row>";
}

void write_sheet_data(XmlPartWriter& writer, const model::SheetModel& sheet,
                      const SheetWriteContext& context) {
  writer.start_tag("sheetData");
  // The rows that hold cells merged with the rows that have a height.
  model::CellMap::const_iterator cell = sheet.cells.begin();
  auto height = sheet.row_heights.begin();
  while (cell != sheet.cells.end() || height != sheet.row_heights.end()) {
    uint32_t row = 0;
    if (cell == sheet.cells.end()) {
      row = height->first;
    } else if (height == sheet.row_heights.end()) {
      row = cell->first.row;
    } else {
      row = std::min(cell->first.row, height->first);
    }
    if (height != sheet.row_heights.end() && height->first == row) ++height;
    write_row(writer, sheet, row, cell, context);
  }
  writer.end_tag("sheetData");
}

void write_merge_cells(XmlPartWriter& writer, const std::vector<model::CellRange>& merges) {
  if (merges.empty()) return;
  writer.open("mergeCells");
  writer.attribute_u64("count", merges.size());
  writer.close();
  for (const model::CellRange& range : merges) writer.empty_tag("mergeCell", {{"ref", plain_range(range)}});
  writer.end_tag("mergeCells");
}

void write_hyperlinks(XmlPartWriter& writer, const std::vector<model::SheetHyperlink>& hyperlinks,
                      const std::vector<std::optional<std::string>>& ids, std::optional<Attribute> extra) {
  if (hyperlinks.empty()) return;
  writer.open("hyperlinks");
  if (extra) writer.attribute(extra->first, extra->second);
  writer.close();
  const size_t count = std::min(hyperlinks.size(), ids.size());
  for (size_t i = 0; i < count; ++i) {
    const model::SheetHyperlink& link = hyperlinks[i];
    writer.open("hyperlink");
    writer.attribute("ref", plain_range(link.range));
    if (ids[i]) writer.attribute("r:id", *ids[i]);
    if (link.location) writer.attribute("location", *link.location);
    if (link.tooltip) writer.attribute("tooltip", *link.tooltip);
    if (link.display) writer.attribute("display", *link.display);
    writer.close_empty();
  }
  writer.end_tag("hyperlinks");
}

Result<std::string, SpreadsheetParseError> write_worksheet_part(
    const model::SheetModel& sheet, const model::WorkbookModel& model, std::string_view main_ns,
    std::string_view rel_ns, const HyperlinkRelationshipPlan& plan, const TextLookup* lookup,
    const SharedStringPlan* string_plan) {
  // About 40 bytes of markup per cell is typical; reserving saves regrowth.
  XmlPartWriter writer(256 + sheet.cells.size() * 40);
  writer.declaration();
  writer.open("worksheet");
  writer.attribute("xmlns", main_ns);
  for (const opc::AttributeList& rel : plan.relationships) {
    if (opc::relationship_type_is(rel, "hyperlink")) {
      writer.attribute("xmlns:r", rel_ns);
      break;
    }
  }
  writer.close();
  if (sheet.freeze_pane) write_sheet_views(writer, *sheet.freeze_pane);
  if (!sheet.col_widths.empty()) write_cols(writer, sheet);
  TextLookup own_lookup;
  if (lookup == nullptr && string_plan == nullptr) {
    own_lookup = build_text_lookup(model.shared_strings);
    lookup = &own_lookup;
  }
  SheetWriteContext context;
  context.shared_strings = &model.shared_strings;
  context.lookup = lookup;
  context.plan = string_plan;
  write_sheet_data(writer, sheet, context);
  write_merge_cells(writer, sheet.merges);
  write_hyperlinks(writer, sheet.hyperlinks, plan.ids);
  writer.end_tag("worksheet");
  return writer.finish();
}

}  // namespace cmx::writer
