// Test-only driver: opens an .xlsx file with the package and workbook
// readers and prints the model as one JSON object, so that pytest can set it
// beside what other readers make of the same file. On a refusal it prints
// {"ok":false,...} with the reader's message and exits 0; only a usage or
// file error exits 2. With --count it prints only the number of cells and the
// seconds the open took, for bench/open_workbooks.py.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "json/writer.h"
#include "model/address.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"

namespace {

using namespace cmx;

void str(std::string& out, std::string_view text) { json::append_json_string(out, text); }

void num(std::string& out, double value) {
  if (std::isfinite(value)) {
    json::append_json_f64(out, value);
  } else {
    str(out, std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  }
}

void opt_str(std::string& out, const std::optional<std::string>& text) {
  if (text) str(out, *text); else out += "null";
}

void key(std::string& out, std::string_view name, bool& first) {
  if (!first) out += ',';
  first = false;
  str(out, name);
  out += ':';
}

void color(std::string& out, const std::optional<model::Color>& value) {
  if (!value) {
    out += "null";
    return;
  }
  if (const auto* rgb = std::get_if<model::RgbColor>(&*value)) {
    out += "{\"rgb\":";
    str(out, rgb->text);
    out += '}';
  } else if (const auto* theme = std::get_if<model::ThemeColor>(&*value)) {
    out += "{\"theme\":";
    json::append_json_u64(out, theme->idx);
    out += ",\"tint\":";
    num(out, theme->tint);
    out += '}';
  } else if (const auto* indexed = std::get_if<model::IndexedColor>(&*value)) {
    out += "{\"indexed\":";
    json::append_json_u64(out, indexed->index);
    out += '}';
  } else {
    out += "{\"auto\":true}";
  }
}

std::string_view border_style(model::BorderStyle style) {
  switch (style) {
    case model::BorderStyle::Thin: return "thin";
    case model::BorderStyle::Medium: return "medium";
    case model::BorderStyle::Thick: return "thick";
    case model::BorderStyle::Dashed: return "dashed";
    case model::BorderStyle::Dotted: return "dotted";
    case model::BorderStyle::Double: return "double";
    case model::BorderStyle::Hair: return "hair";
  }
  return "";
}

void edge(std::string& out, const std::optional<model::BorderEdge>& value) {
  if (!value) {
    out += "null";
    return;
  }
  out += "{\"style\":";
  str(out, border_style(value->style));
  out += ",\"color\":";
  color(out, value->color);
  out += '}';
}

void opt_u32(std::string& out, std::optional<uint32_t> value) {
  if (value) json::append_json_u64(out, *value); else out += "null";
}

void styles(std::string& out, const model::StyleSheet& sheet) {
  out += "{\"fonts\":[";
  for (size_t i = 0; i < sheet.fonts.size(); ++i) {
    const model::Font& font = sheet.fonts[i];
    if (i) out += ',';
    out += "{\"name\":";
    opt_str(out, font.name);
    out += ",\"size\":";
    if (font.size_pt) num(out, *font.size_pt); else out += "null";
    out += std::string(",\"bold\":") + (font.bold ? "true" : "false");
    out += std::string(",\"italic\":") + (font.italic ? "true" : "false");
    out += std::string(",\"underline\":") + (font.underline ? "true" : "false");
    out += std::string(",\"strike\":") + (font.strike ? "true" : "false");
    out += ",\"color\":";
    color(out, font.color);
    out += '}';
  }
  out += "],\"fills\":[";
  for (size_t i = 0; i < sheet.fills.size(); ++i) {
    if (i) out += ',';
    if (const auto* solid = std::get_if<model::SolidFill>(&sheet.fills[i])) {
      out += "{\"solid\":";
      color(out, solid->color);
      out += '}';
    } else {
      out += "null";
    }
  }
  out += "],\"borders\":[";
  for (size_t i = 0; i < sheet.borders.size(); ++i) {
    const model::Border& border = sheet.borders[i];
    if (i) out += ',';
    out += "{\"left\":";
    edge(out, border.left);
    out += ",\"right\":";
    edge(out, border.right);
    out += ",\"top\":";
    edge(out, border.top);
    out += ",\"bottom\":";
    edge(out, border.bottom);
    out += '}';
  }
  out += "],\"cell_xfs\":[";
  for (size_t i = 0; i < sheet.cell_xfs.size(); ++i) {
    const model::CellXf& xf = sheet.cell_xfs[i];
    if (i) out += ',';
    out += "{\"font\":";
    opt_u32(out, xf.font);
    out += ",\"fill\":";
    opt_u32(out, xf.fill);
    out += ",\"border\":";
    opt_u32(out, xf.border);
    out += ",\"num_fmt_id\":";
    opt_u32(out, xf.num_fmt_id);
    out += std::string(",\"wrap\":") + (xf.alignment && xf.alignment->wrap_text ? "true" : "false");
    out += '}';
  }
  out += "],\"num_fmts\":[";
  for (size_t i = 0; i < sheet.num_fmts.size(); ++i) {
    if (i) out += ',';
    out += '[';
    json::append_json_u64(out, sheet.num_fmts[i].id);
    out += ',';
    str(out, sheet.num_fmts[i].code);
    out += ']';
  }
  out += "],\"theme\":[";
  for (size_t i = 0; i < sheet.theme.colors.size(); ++i) {
    if (i) out += ',';
    str(out, sheet.theme.colors[i]);
  }
  out += "],\"indexed_colors\":";
  out += "[";
  for (size_t i = 0; i < sheet.indexed_colors.size(); ++i) {
    if (i) out += ',';
    str(out, sheet.indexed_colors[i]);
  }
  out += "]}";
}

void anchor_cell(std::string& out, const model::AnchorCell& cell) {
  out += '[';
  json::append_json_u64(out, cell.col);
  out += ',';
  json::append_json_i64(out, cell.colOff);
  out += ',';
  json::append_json_u64(out, cell.row);
  out += ',';
  json::append_json_i64(out, cell.rowOff);
  out += ']';
}

void anchor(std::string& out, const model::ChartAnchor& value) {
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&value)) {
    out += "{\"kind\":\"twoCell\",\"from\":";
    anchor_cell(out, two->from);
    out += ",\"to\":";
    anchor_cell(out, two->to);
    out += ",\"edit_as\":";
    str(out, two->edit_as == model::ChartAnchorEditMode::TwoCell   ? "twoCell"
             : two->edit_as == model::ChartAnchorEditMode::OneCell ? "oneCell"
                                                                   : "absolute");
    out += '}';
  } else if (const auto* one = std::get_if<model::OneCellAnchor>(&value)) {
    out += "{\"kind\":\"oneCell\",\"from\":";
    anchor_cell(out, one->from);
    out += ",\"ext\":[";
    json::append_json_i64(out, one->extent.cx);
    out += ',';
    json::append_json_i64(out, one->extent.cy);
    out += "]}";
  } else {
    const auto& absolute = std::get<model::AbsoluteAnchor>(value);
    out += "{\"kind\":\"absolute\",\"pos\":[";
    json::append_json_i64(out, absolute.pos.x);
    out += ',';
    json::append_json_i64(out, absolute.pos.y);
    out += "],\"ext\":[";
    json::append_json_i64(out, absolute.extent.cx);
    out += ',';
    json::append_json_i64(out, absolute.extent.cy);
    out += "]}";
  }
}

std::string_view ref_kind(model::ChartReferenceKind kind) {
  switch (kind) {
    case model::ChartReferenceKind::SeriesName: return "seriesName";
    case model::ChartReferenceKind::Categories: return "categories";
    case model::ChartReferenceKind::Values: return "values";
    case model::ChartReferenceKind::BubbleSize: return "bubbleSize";
    case model::ChartReferenceKind::Title: return "title";
    case model::ChartReferenceKind::DataLabels: return "dataLabels";
    case model::ChartReferenceKind::Other: return "other";
  }
  return "";
}

void cell(std::string& out, const model::CellKey& key, const model::SheetCell& value) {
  out += '[';
  str(out, model::format_cell_ref(model::CellRef{key.row, key.col}));
  out += ',';
  switch (value.value.kind()) {
    case model::CellValue::Kind::Empty: out += "\"empty\",null"; break;
    case model::CellValue::Kind::Number:
      out += "\"n\",";
      num(out, value.value.as_number());
      break;
    case model::CellValue::Kind::Text:
      out += "\"s\",";
      str(out, value.value.as_text());
      break;
    case model::CellValue::Kind::Bool: out += value.value.as_bool() ? "\"b\",true" : "\"b\",false"; break;
    case model::CellValue::Kind::Error:
      out += "\"e\",";
      str(out, model::error_code_text(value.value.as_error()));
      break;
  }
  out += ',';
  if (value.formula) str(out, value.formula->view()); else out += "null";
  out += ',';
  opt_u32(out, value.style);
  out += ']';
}

void sheet(std::string& out, const model::SheetModel& value) {
  bool first = true;
  out += '{';
  key(out, "name", first);
  str(out, value.name);
  key(out, "cells", first);
  out += '[';
  bool first_cell = true;
  for (const auto& [k, c] : value.cells) {
    if (!first_cell) out += ',';
    first_cell = false;
    cell(out, k, c);
  }
  out += ']';
  key(out, "merges", first);
  out += '[';
  for (size_t i = 0; i < value.merges.size(); ++i) {
    if (i) out += ',';
    str(out, model::format_range(value.merges[i]));
  }
  out += ']';
  key(out, "col_widths", first);
  out += '[';
  bool first_entry = true;
  for (const auto& [col, width] : value.col_widths) {
    if (!first_entry) out += ',';
    first_entry = false;
    out += '[';
    json::append_json_u64(out, col);
    out += ',';
    num(out, width);
    out += ']';
  }
  out += ']';
  key(out, "row_heights", first);
  out += '[';
  first_entry = true;
  for (const auto& [row, height] : value.row_heights) {
    if (!first_entry) out += ',';
    first_entry = false;
    out += '[';
    json::append_json_u64(out, row);
    out += ',';
    num(out, height);
    out += ']';
  }
  out += ']';
  key(out, "hyperlinks", first);
  out += '[';
  for (size_t i = 0; i < value.hyperlinks.size(); ++i) {
    const model::SheetHyperlink& link = value.hyperlinks[i];
    if (i) out += ',';
    out += "{\"ref\":";
    str(out, model::format_range(link.range));
    out += ",\"target\":";
    opt_str(out, link.external_target);
    out += ",\"location\":";
    opt_str(out, link.location);
    out += ",\"tooltip\":";
    opt_str(out, link.tooltip);
    out += ",\"display\":";
    opt_str(out, link.display);
    out += '}';
  }
  out += ']';
  key(out, "freeze", first);
  if (value.freeze_pane) {
    out += "{\"rows\":";
    json::append_json_u64(out, value.freeze_pane->rows);
    out += ",\"cols\":";
    json::append_json_u64(out, value.freeze_pane->cols);
    out += ",\"top_left\":";
    str(out, model::format_cell_ref(value.freeze_pane->top_left));
    out += '}';
  } else {
    out += "null";
  }
  key(out, "charts", first);
  out += '[';
  for (size_t i = 0; i < value.charts.size(); ++i) {
    const model::SheetChart& chart = value.charts[i];
    if (i) out += ',';
    out += "{\"part\":";
    str(out, chart.part);
    out += ",\"drawing\":";
    str(out, chart.drawing);
    out += ",\"anchor_index\":";
    json::append_json_u64(out, chart.anchor_index);
    out += ",\"anchor\":";
    anchor(out, chart.anchor);
    out += ",\"refs\":[";
    for (size_t r = 0; r < chart.refs.size(); ++r) {
      if (r) out += ',';
      out += '[';
      str(out, ref_kind(chart.refs[r].kind));
      out += ',';
      str(out, chart.refs[r].formula);
      out += ']';
    }
    out += "]}";
  }
  out += ']';
  out += '}';
}

std::string dump(const reader::WorkbookRead& read) {
  std::string out = "{\"ok\":true";
  out += std::string(",\"date1904\":") +
         (read.model.date_system == model::DateSystem::V1904 ? "true" : "false");
  out += ",\"active_tab\":";
  json::append_json_u64(out, read.active_tab);
  out += ",\"sheets\":[";
  for (size_t i = 0; i < read.model.sheets.size(); ++i) {
    if (i) out += ',';
    sheet(out, read.model.sheets[i]);
  }
  out += "],\"names\":[";
  for (size_t i = 0; i < read.model.defined_names.size(); ++i) {
    const model::DefinedName& name = read.model.defined_names[i];
    if (i) out += ',';
    out += "{\"name\":";
    str(out, name.name);
    out += ",\"formula\":";
    str(out, name.formula);
    out += ",\"local_sheet\":";
    opt_u32(out, name.local_sheet);
    out += std::string(",\"hidden\":") + (name.hidden ? "true" : "false");
    out += '}';
  }
  out += "],\"tables\":[";
  for (size_t i = 0; i < read.model.tables.size(); ++i) {
    const model::WorkbookTable& table = read.model.tables[i];
    if (i) out += ',';
    out += "{\"name\":";
    str(out, table.name);
    out += ",\"ref\":";
    str(out, model::format_range(table.range));
    out += ",\"sheet\":";
    json::append_json_u64(out, table.sheet);
    out += ",\"header_rows\":";
    json::append_json_u64(out, table.header_rows);
    out += ",\"totals_rows\":";
    json::append_json_u64(out, table.totals_rows);
    out += ",\"columns\":[";
    for (size_t c = 0; c < table.columns.size(); ++c) {
      if (c) out += ',';
      str(out, table.columns[c]);
    }
    out += "]}";
  }
  out += "],\"styles\":";
  styles(out, read.model.styles);
  out += ",\"unreadable\":[";
  for (size_t i = 0; i < read.unreadable_drawings.size(); ++i) {
    if (i) out += ',';
    str(out, read.unreadable_drawings[i]);
  }
  out += "]}";
  return out;
}

std::string refusal(std::string_view stage, std::string_view kind, std::string_view message) {
  std::string out = "{\"ok\":false,\"stage\":";
  str(out, stage);
  out += ",\"kind\":";
  str(out, kind);
  out += ",\"error\":";
  str(out, message);
  out += '}';
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool count_only = argc == 3 && std::string_view(argv[1]) == "--count";
  if (argc != 2 && !count_only) {
    std::fputs("usage: workbook_dump [--count] FILE.xlsx\n", stderr);
    return 2;
  }
  std::ifstream in(argv[argc - 1], std::ios::binary);
  if (!in) {
    std::fputs("cannot open the file\n", stderr);
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string out;
  const auto started = std::chrono::steady_clock::now();
  auto parts = opc::read_package_archive(bytes);
  if (!parts.has_value()) {
    out = refusal("package", "Package", opc::package_error_message(parts.error()));
  } else {
    auto read = reader::read_workbook(*parts);
    if (count_only && read.has_value()) {
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
      uint64_t cells = 0;
      for (const model::SheetModel& sheet : read->model.sheets) cells += sheet.cells.size();
      out = "{\"ok\":true,\"cells\":";
      json::append_json_u64(out, cells);
      out += ",\"seconds\":";
      num(out, took.count());
      out += "}\n";
      std::fwrite(out.data(), 1, out.size(), stdout);
      return 0;
    }
    out = read.has_value() ? dump(*read)
                           : refusal("workbook", xml::parse_error_kind_name(read.error().kind),
                                     xml::parse_error_message(read.error()));
  }
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
