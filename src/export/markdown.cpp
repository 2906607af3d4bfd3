#include <charconv>
#include <utility>

#include "base/unicode.h"
#include "export/export.h"
#include "export/markdown.h"
#include "model/number_format.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;

// Room kept for the stop line and the closing of a cut grid.
constexpr uint64_t kMarkdownReserve = 160;

// By enumeration value.
constexpr std::string_view kKindSuffixes[] = {"", " (chartsheet)", " (dialogsheet)", " (macrosheet)",
                                              " (unsupported sheet)"};
constexpr std::string_view kVisibilitySuffixes[] = {"", " (hidden)", " (very hidden)", " (visibility unknown)"};
constexpr std::string_view kObjectLabels[] = {"Chart",   "Picture",       "Shape", "Group",         "Connector",
                                              "Diagram", "Graphic frame", "Ink",   "Drawing object"};

std::string_view kind_suffix(json::XlsxSheetKind kind) { return kKindSuffixes[static_cast<size_t>(kind)]; }
std::string_view visibility_suffix(json::XlsxSheetVisibility visibility) {
  return kVisibilitySuffixes[static_cast<size_t>(visibility)];
}
std::string_view object_label(json::XlsxObjectKind kind) { return kObjectLabels[static_cast<size_t>(kind)]; }

std::optional<uint32_t> parse_canonical_row_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (std::to_string(value) != text || value < 1 || value > model::MAX_ROWS) return std::nullopt;
  return value - 1;
}

std::optional<uint32_t> parse_canonical_column_letters(std::string_view text) {
  Result<model::CellRef, model::AddrError> ref = model::parse_cell_ref(std::string(text) + "1");
  if (!ref || model::column_letters(ref.value().col) != text) return std::nullopt;
  return ref.value().col;
}

template <typename Parse>
std::optional<std::pair<uint32_t, uint32_t>> parse_span(std::string_view text, Parse parse) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<uint32_t> first = parse(text.substr(0, colon));
  const std::optional<uint32_t> last = parse(text.substr(colon + 1));
  if (!first || !last || *last < *first) return std::nullopt;
  return std::make_pair(*first, *last);
}

const json::XlsxSheetIdentity* anchor_identity(const XlsxAnchor& anchor) {
  if (const auto* sheet = std::get_if<json::XlsxAnchorSheet>(&anchor)) return &sheet->sheet;
  return nullptr;
}

bool same_identity(const json::XlsxSheetIdentity& a, const json::XlsxSheetIdentity& b) {
  return a.index == b.index && a.sheet_id == b.sheet_id && a.name == b.name;
}

bool range_on_sheet(const XlsxAnchor& anchor, const json::XlsxSheetIdentity& sheet) {
  const auto* range = std::get_if<json::XlsxAnchorRange>(&anchor);
  return range != nullptr && same_identity(range->sheet, sheet) && parse_canonical_a1_range(range->a1);
}

std::optional<model::CellKey> parse_sheet_cell_anchor(const XlsxAnchor& anchor, const json::XlsxSheetIdentity& sheet) {
  const auto* cell = std::get_if<json::XlsxAnchorCell>(&anchor);
  if (cell == nullptr || !same_identity(cell->sheet, sheet)) return std::nullopt;
  Result<model::CellRef, model::AddrError> ref = model::parse_cell_ref(cell->a1);
  if (!ref) return std::nullopt;
  const model::CellRef plain{ref.value().row, ref.value().col, false, false};
  if (model::format_cell_ref(plain) != cell->a1) return std::nullopt;
  return model::CellKey{plain.row, plain.col};
}

std::optional<std::string> check_sheet(const json::XlsxStructuredContent& content, const json::XlsxExportSheet& sheet,
                                       std::optional<uint32_t>& previous_index) {
  const json::XlsxSheetIdentity* identity = anchor_identity(sheet.anchor);
  if (identity == nullptr) return "sheet " + sheet.id + " has no sheet anchor";
  const std::string number = std::to_string(identity->index);
  if (previous_index && identity->index <= *previous_index) {
    return std::string("sheets must be in increasing index order");
  }
  previous_index = identity->index;
  if (identity->name.empty()) return "sheet " + number + " has no name";
  if (sheet.truncated && !content.truncated) return "sheet " + number + " is truncated but the content is not";
  std::optional<model::CellRange> selected;
  if (sheet.selected_range) {
    selected = parse_canonical_a1_range(*sheet.selected_range);
    if (!selected) return "sheet " + number + " has an invalid selectedRange";
  }
  if (sheet.used_range && !parse_canonical_a1_range(*sheet.used_range)) {
    return "sheet " + number + " has an invalid usedRange";
  }
  for (const std::string& span : sheet.hidden_rows) {
    if (!parse_hidden_row_span(span)) return "sheet " + number + " has an invalid hidden span";
  }
  for (const std::string& span : sheet.hidden_columns) {
    if (!parse_hidden_column_span(span)) return "sheet " + number + " has an invalid hidden span";
  }
  const std::string elsewhere = "sheet " + number + " has a range record anchored elsewhere";
  for (const auto& merge : sheet.merges) {
    if (!range_on_sheet(merge.anchor, *identity)) return elsewhere;
  }
  for (const auto& table : sheet.tables) {
    if (!range_on_sheet(table.anchor, *identity)) return elsewhere;
  }
  for (const auto& link : sheet.hyperlinks) {
    if (!range_on_sheet(link.anchor, *identity)) return elsewhere;
  }
  for (const auto& object : sheet.objects) {
    if (object.anchor && !range_on_sheet(*object.anchor, *identity) &&
        !parse_sheet_cell_anchor(*object.anchor, *identity)) {
      return "object " + object.id + " is not anchored on its sheet";
    }
  }
  std::optional<model::CellKey> previous;
  for (const auto& cell : sheet.cells) {
    const std::optional<model::CellKey> key = parse_sheet_cell_anchor(cell.anchor, *identity);
    if (!key) return "cell " + cell.id + " has no cell anchor on its sheet";
    if (previous && !(*previous < *key)) return "cells of sheet " + number + " are not in row-major order";
    previous = key;
    if (!selected || key->row < selected->start.row || key->row > selected->end.row ||
        key->col < selected->start.col || key->col > selected->end.col) {
      return "cell " + cell.id + " lies outside the selected range";
    }
    if (cell.merge && !parse_canonical_a1_range(cell.merge->range)) {
      return "cell " + cell.id + " has an invalid merge range";
    }
  }
  return std::nullopt;
}

std::optional<std::string> check_content(const json::XlsxStructuredContent& content) {
  std::optional<uint32_t> previous;
  for (const json::XlsxExportSheet& sheet : content.sheets) {
    if (std::optional<std::string> message = check_sheet(content, sheet, previous)) return message;
  }
  for (const json::XlsxExportDefinedName& name : content.defined_names) {
    if (!std::holds_alternative<json::XlsxAnchorDefinedName>(name.anchor)) {
      return "defined name " + name.id + " has no defined-name anchor";
    }
  }
  return std::nullopt;
}

bool has_control_character(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (control_character_length(text, i) > 0) return true;
  }
  return false;
}

std::optional<std::string_view> anchor_a1(const std::optional<XlsxAnchor>& anchor) {
  if (!anchor) return std::nullopt;
  if (const auto* cell = std::get_if<json::XlsxAnchorCell>(&*anchor)) return std::string_view(cell->a1);
  if (const auto* range = std::get_if<json::XlsxAnchorRange>(&*anchor)) return std::string_view(range->a1);
  return std::nullopt;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_ascii_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Character references decoded the way a browser reads a link's target.
std::string decode_character_references(std::string_view text) {
  static constexpr std::pair<std::string_view, std::u32string_view> kNames[] = {
      {"lt", U"<"},     {"gt", U">"},     {"amp", U"&"},  {"Tab", U"\t"},     {"sol", U"/"},
      {"quot", U"\""},  {"apos", U"'"},   {"plus", U"+"}, {"dash", U"-"},     {"nbsp", U"\u00A0"},
      {"colon", U":"},  {"period", U"."}, {"percnt", U"%"}, {"hyphen", U"-"}, {"NewLine", U"\n"}};
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    size_t j = i + 1;
    std::optional<char32_t> decoded;
    if (j < text.size() && text[j] == '#') {
      ++j;
      const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
      if (hex) ++j;
      const size_t digits = j;
      uint64_t value = 0;
      bool overflow = false;
      while (j < text.size() && (hex ? hex_value(text[j]) >= 0 : (text[j] >= '0' && text[j] <= '9'))) {
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(hex ? hex_value(text[j]) : text[j] - '0');
        if (value > 0xFFFFFFFFu) overflow = true, value = 0x100000000u;
        ++j;
      }
      if (j > digits) {
        const bool bad = overflow || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF);
        decoded = bad ? U'\uFFFD' : static_cast<char32_t>(value);
      }
    } else {
      while (j < text.size() && is_ascii_alnum(text[j])) ++j;
      const std::string_view name = text.substr(i + 1, j - i - 1);
      for (const auto& [word, replacement] : kNames) {
        if (word == name) {
          decoded = replacement[0];
          break;
        }
      }
    }
    if (!decoded) {
      out += text[i++];
      continue;
    }
    unicode::append_utf8(out, *decoded);
    i = j;
    if (i < text.size() && text[i] == ';') ++i;
  }
  return out;
}

bool scheme_allowed(std::string_view target) {
  const std::string decoded = decode_character_references(target);
  std::string cleaned;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(decoded[i]);
    if (c < 0x21 || c == 0x7F) continue;
    if (c == 0xC2 && i + 1 < decoded.size() && static_cast<unsigned char>(decoded[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(decoded[i + 1]) <= 0x9F) {
      ++i;
      continue;
    }
    cleaned += decoded[i];
  }
  const size_t colon = cleaned.find(':');
  if (colon == std::string::npos) return false;
  const std::string_view before(cleaned.data(), colon);
  std::string scheme;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == '%' && i + 2 < before.size() && hex_value(before[i + 1]) >= 0 && hex_value(before[i + 2]) >= 0) {
      scheme += static_cast<char>(hex_value(before[i + 1]) * 16 + hex_value(before[i + 2]));
      i += 2;
    } else {
      scheme += before[i];
    }
  }
  if (!unicode::is_valid_utf8(scheme)) return false;
  for (char& c : scheme) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return scheme == "http" || scheme == "https" || scheme == "mailto";
}

std::string escaped_destination(std::string_view target) {
  const std::string_view trimmed = model::trim_unicode_white_space(target);
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < trimmed.size();) {
    const size_t control = control_character_length(trimmed, i);
    if (control > 0) {
      for (size_t k = 0; k < control; ++k) {
        const unsigned char byte = static_cast<unsigned char>(trimmed[i + k]);
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      }
      i += control;
      continue;
    }
    const char c = trimmed[i];
    switch (c) {
      case ' ': case '"': case '\'': case '(': case ')': case '<': case '>': case '[': case '\\': case ']': case '`':
        out += '%';
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 15];
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
    ++i;
  }
  return out;
}

std::string external_link_part(const json::XlsxExportHyperlink& link) {
  const std::string target = escape_markdown_text(*link.external_target);
  const std::string label = link.display ? escape_markdown_text(*link.display) : target;
  if (scheme_allowed(*link.external_target)) {
    return "[" + label + "](" + escaped_destination(*link.external_target) + ")";
  }
  if (label == target) return label + " (not linked)";
  return label + ": " + target + " (not linked)";
}

Result<void, std::string> render_sheet_markdown(MarkdownWriter& writer, const json::XlsxExportSheet& sheet,
                                                bool include_hidden_rows, bool include_hidden_columns,
                                                uint64_t max_rows, uint64_t max_columns, uint64_t& remaining_cells) {
  const json::XlsxSheetIdentity& identity = *anchor_identity(sheet.anchor);
  const std::string heading = "## " + escape_markdown_text(identity.name) + std::string(kind_suffix(sheet.kind)) +
                              std::string(visibility_suffix(sheet.visibility)) + "\n\n";
  if (!append_marked_block(writer, sheet.anchor, heading)) return {};
  CMX_TRY(render_sheet_grid(writer, sheet, include_hidden_rows, include_hidden_columns, max_rows,
                                        max_columns, remaining_cells));
  for (const json::XlsxExportTable& table : sheet.tables) {
    const std::string line = "- " + markdown_marker(writer.anchors.size()) + " Table " +
                             escape_markdown_text(table.name) + " at " +
                             std::string(anchor_a1(table.anchor).value_or("")) + (table.clipped ? ", clipped" : "") +
                             ": " + std::to_string(table.header_rows) + " header rows, " +
                             std::to_string(table.totals_rows) + " totals rows; columns " + [&] {
                               std::string joined;
                               for (size_t i = 0; i < table.columns.size(); ++i) {
                                 if (i > 0) joined += ", ";
                                 joined += escape_markdown_text(table.columns[i]);
                               }
                               return joined;
                             }() + "\n";
    if (!append_anchored_text(writer, table.anchor, line)) return {};
  }
  for (const json::XlsxExportHyperlink& link : sheet.hyperlinks) {
    std::string parts;
    if (link.external_target) parts = external_link_part(link);
    if (link.location) {
      if (!parts.empty()) parts += "; ";
      parts += "in-workbook location " + escape_markdown_text(*link.location);
    }
    const std::string line = "- " + markdown_marker(writer.anchors.size()) + " Link at " +
                             std::string(anchor_a1(link.anchor).value_or("")) + ": " + parts + "\n";
    if (!append_anchored_text(writer, link.anchor, line)) return {};
  }
  for (const json::XlsxExportObject& object : sheet.objects) {
    std::string line = "- " + markdown_marker(writer.anchors.size()) + " " + std::string(object_label(object.kind));
    if (object.name) line += " " + escape_markdown_text(*object.name);
    if (const std::optional<std::string_view> a1 = anchor_a1(object.anchor)) {
      line += " at " + std::string(*a1);
    } else {
      line += " (position unknown)";
    }
    if (object.alt_text) line += "; alt text: " + escape_markdown_text(*object.alt_text);
    if (object.hidden) line += " (hidden)";
    line += "\n";
    XlsxAnchor target = sheet.anchor;
    if (object.anchor) {
      target = *object.anchor;
    } else if (object.source) {
      target = json::XlsxAnchorSourcePart{*object.source};
    }
    if (!append_anchored_text(writer, std::move(target), line)) return {};
  }
  if (!sheet.tables.empty() || !sheet.hyperlinks.empty() || !sheet.objects.empty()) append_fixed_text(writer, "\n");
  return {};
}

}  // namespace

std::string markdown_marker(size_t number) { return "<!-- xlsx-export:" + std::to_string(number) + " -->"; }

bool append_anchored_text(MarkdownWriter& writer, XlsxAnchor anchor, std::string_view text) {
  if (writer.stopped || writer.text.size() + text.size() > writer.limit) {
    writer.stopped = true;
    return false;
  }
  writer.text += text;
  writer.anchors.push_back(json::MarkdownAnchor{markdown_marker(writer.anchors.size()), std::move(anchor)});
  return true;
}

bool append_marked_block(MarkdownWriter& writer, XlsxAnchor anchor, std::string_view text) {
  std::string block = markdown_marker(writer.anchors.size());
  block += '\n';
  block += text;
  return append_anchored_text(writer, std::move(anchor), block);
}

bool append_fixed_text(MarkdownWriter& writer, std::string_view text) {
  if (writer.stopped || writer.text.size() + text.size() > writer.limit) {
    writer.stopped = true;
    return false;
  }
  writer.text += text;
  return true;
}

void push_markdown_note(MarkdownWriter& writer, std::optional<XlsxAnchor> anchor, std::string message) {
  writer.diagnostics.push_back(json::XlsxExportDiagnostic{json::XlsxDiagnosticCode::MarkdownLossy,
                                                          json::XlsxSeverity::Info, std::move(anchor),
                                                          std::move(message)});
}

size_t control_character_length(std::string_view text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < text.size()) {
    const unsigned char next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
    const unsigned char last = static_cast<unsigned char>(text[i + 2]);
    if (last == 0xA8 || last == 0xA9) return 3;
  }
  return 0;
}

std::string escape_markdown_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (const size_t control = control_character_length(text, i)) {
      out += ' ';
      i += control;
      continue;
    }
    const char c = text[i++];
    switch (c) {
      case '!': case '#': case '$': case '(': case ')': case '*': case '[': case '\\': case ']': case '_':
      case '`': case '{': case '|': case '}': case '~':
        out += '\\';
        out += c;
        break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string escape_html_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (const size_t control = control_character_length(text, i)) {
      out += ' ';
      i += control;
      continue;
    }
    const char c = text[i++];
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&#39;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<model::CellRange> parse_canonical_a1_range(std::string_view text) {
  Result<model::CellRange, model::AddrError> parsed = model::parse_range(text);
  if (!parsed) return std::nullopt;
  const model::CellRange& r = parsed.value();
  const model::CellRange plain{{std::min(r.start.row, r.end.row), std::min(r.start.col, r.end.col), false, false},
                               {std::max(r.start.row, r.end.row), std::max(r.start.col, r.end.col), false, false}};
  if (model::format_range(plain) != text) return std::nullopt;
  return plain;
}

std::optional<std::pair<uint32_t, uint32_t>> parse_hidden_row_span(std::string_view text) {
  return parse_span(text, parse_canonical_row_number);
}

std::optional<std::pair<uint32_t, uint32_t>> parse_hidden_column_span(std::string_view text) {
  return parse_span(text, parse_canonical_column_letters);
}

Result<json::MarkdownExport, std::string> render_markdown(const json::XlsxStructuredContent& content,
                                                          const json::XlsxMarkdownOptions& options) {
  Result<json::ResolvedMarkdownOptions, json::ExportRefusal> resolved = json::validate_markdown_options(options);
  if (!resolved) return unexpected(resolved.error().message);
  if (std::optional<std::string> message = check_content(content)) return unexpected(std::move(*message));

  MarkdownWriter writer;
  writer.diagnostics = content.diagnostics;
  writer.limit = resolved.value().max_bytes - kMarkdownReserve;
  writer.truncated = content.truncated;
  uint64_t remaining_cells = resolved.value().max_cells;

  bool typed = false;
  bool controls = false;
  for (const json::XlsxExportSheet& sheet : content.sheets) {
    for (const json::XlsxExportCell& cell : sheet.cells) {
      typed = typed || cell.formula || !std::holds_alternative<json::XlsxValueText>(cell.value);
      controls = controls || has_control_character(cell.display_text);
    }
  }
  if (typed) {
    push_markdown_note(writer, std::nullopt,
                       "Markdown shows each cell's display text; formulas, typed values and number formats stay in "
                       "the structured export.");
  }
  if (controls) {
    push_markdown_note(writer, std::nullopt,
                       "Line breaks and control characters inside cell text are shown as spaces.");
  }
  for (const json::XlsxExportSheet& sheet : content.sheets) {
    if (writer.stopped) break;
    CMX_TRY(render_sheet_markdown(writer, sheet, content.included.hidden_rows,
                                              content.included.hidden_columns, resolved.value().max_rows,
                                              resolved.value().max_columns, remaining_cells));
  }
  if (!content.defined_names.empty() && !writer.stopped) {
    if (append_fixed_text(writer, "## Defined names\n\n")) {
      for (const json::XlsxExportDefinedName& name : content.defined_names) {
        std::string line = "- " + markdown_marker(writer.anchors.size()) + " " + escape_markdown_text(name.name);
        if (name.local_sheet) line += " (" + escape_markdown_text(name.local_sheet->name) + ")";
        if (name.hidden) line += " (hidden)";
        line += ": " + escape_markdown_text(name.formula) + "\n";
        if (!append_anchored_text(writer, name.anchor, line)) break;
      }
    }
  }
  if (writer.stopped) {
    writer.truncated = true;
    writer.text += "\n_Markdown stopped at its maxBytes limit._\n";
    writer.diagnostics.push_back(json::XlsxExportDiagnostic{
        json::XlsxDiagnosticCode::Truncated, json::XlsxSeverity::Warning, std::nullopt,
        "Markdown stopped at its maxBytes limit; later content is not rendered."});
  }
  return json::MarkdownExport{std::move(writer.text), std::move(writer.anchors), std::move(writer.diagnostics),
                              writer.truncated};
}

}  // namespace cmx::exports
