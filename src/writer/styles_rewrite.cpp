#include "writer/styles_rewrite.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <utility>

#include "model/style_equality.h"
#include "opc/attribute_pair.h"
#include "reader/source_package.h"
#include "writer/parts.h"
#include "xml/pull_reader.h"
#include "xml/streaming.h"
#include "xml/start_tag.h"
#include "xml/template_render.h"

namespace cmx::writer {
namespace {

using NumFmtKey = std::pair<uint16_t, std::string>;

std::optional<std::string_view> attribute_value(const opc::AttributeList& attributes, std::string_view local) {
  for (const opc::AttributePair& attr : attributes) {
    if (opc::attribute_local_name(attr.name) == local) return std::string_view(attr.value);
  }
  return std::nullopt;
}

// A `numFmt` start tag as the styles reader reads it: none without a usable
// id or a code.
std::optional<NumFmtKey> num_fmt_key(const opc::AttributeList& attributes) {
  const std::optional<std::string_view> id_text = attribute_value(attributes, "numFmtId");
  const std::optional<std::string_view> code = attribute_value(attributes, "formatCode");
  if (!id_text || !code) return std::nullopt;
  const std::optional<uint32_t> id = xml::parse_u32_attribute(*id_text);
  if (!id || *id > 65535) return std::nullopt;
  return NumFmtKey{static_cast<uint16_t>(*id), std::string(*code)};
}

// The number formats written anywhere in `text` (a top-level child other
// than `numFmts`: they were read into the model's list, yet belong to the
// element that holds them).
Result<void, SpreadsheetParseError> collect_num_fmts(std::string_view text, std::multiset<NumFmtKey>& out) {
  xml::XmlPullReader reader(text, xml::XmlReaderOptions{});
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(SpreadsheetParseError::xml(xml::xml_error_message(event.error())));
    if (*event == xml::XmlEvent::Eof) return {};
    if (*event != xml::XmlEvent::StartTag && *event != xml::XmlEvent::EmptyTag) continue;
    if (xml::local_name(reader.name()) != "numFmt") continue;
    CMX_ASSIGN_OR_RETURN(const opc::AttributeList attributes, xml::parse_start_tag(reader));
    if (std::optional<NumFmtKey> key = num_fmt_key(attributes)) out.insert(std::move(*key));
  }
}

void write_num_fmt(XmlPartWriter& writer, const model::CustomNumFmt& format) {
  writer.open("numFmt");
  writer.attribute_u64("numFmtId", format.id);
  writer.attribute("formatCode", format.code);
  writer.close_empty();
}

// A fragment written into a fresh buffer, without a declaration.
template <typename T>
Result<std::string, SpreadsheetParseError> write_fragment(void (*write)(XmlPartWriter&, const T&), const T& value) {
  XmlPartWriter writer;
  write(writer, value);
  return writer.finish();
}

// One table's new element from its entry texts: unchanged when every entry
// kept its source text, none was added or dropped and `count` already says so.
struct TableEntries {
  std::vector<std::string> texts;
  bool all_copied = true;
};

Result<std::optional<std::string>, SpreadsheetParseError> rebuild_table(const xml::PartTemplateChild& child,
                                                                        const xml::PartTemplate& table,
                                                                        std::string_view entry_name,
                                                                        size_t listed, TableEntries entries) {
  const std::string count = std::to_string(entries.texts.size());
  if (entries.all_copied && entries.texts.size() == listed) {
    CMX_ASSIGN_OR_RETURN(const opc::AttributeList attributes, reader::parse_fragment_start_tag(child.text));
    if (attribute_value(attributes, "count") == std::optional<std::string_view>(count)) return std::optional<std::string>(child.text);
  }
  const std::pair<std::string, std::string> count_attribute{"count", count};
  CMX_ASSIGN_OR_RETURN(std::string text, xml::replace_template_children(table, entry_name, entries.texts,
                                                                        xml::RootAttributes(&count_attribute, 1)));
  return std::optional<std::string>(std::move(text));
}

// Fresh entry texts take the namespace form of the table they go into.
template <typename T>
Result<std::string, SpreadsheetParseError> fit_entry(const xml::PartTemplate& table,
                                                     void (*write)(XmlPartWriter&, const T&), const T& entry) {
  CMX_ASSIGN_OR_RETURN(const std::string text, write_fragment(write, entry));
  return xml::adapt_fragment_namespace(table, text);
}

// No edit for a table that came out as its source text, so that it is not
// touched by the rebuild at all.
std::optional<xml::TemplateEdit> unless_unchanged(xml::TemplateEdit edit, const xml::PartTemplateChild* child) {
  if (child != nullptr && edit.replacement == child->text) return std::nullopt;
  return edit;
}

// fonts, fills, borders and cellXfs: by position, when the table lists
// exactly the entries the baseline was read from.
template <typename T>
Result<std::optional<xml::TemplateEdit>, SpreadsheetParseError> rewrite_table(
    const xml::PartTemplate& styles_template, std::string_view table_name, std::string_view entry_name,
    const std::vector<T>& entries, const std::vector<T>& baseline, const std::function<bool(const T&, const T&)>& eq,
    void (*write_one)(XmlPartWriter&, const T&), void (*write_all)(XmlPartWriter&, const std::vector<T>&)) {
  xml::TemplateEdit edit{std::string(table_name), std::nullopt};
  if (entries.empty()) return unless_unchanged(std::move(edit), reader::find_template_child(styles_template, table_name));
  const xml::PartTemplateChild* child = reader::find_template_child(styles_template, table_name);
  if (child == nullptr) {
    CMX_ASSIGN_OR_RETURN(edit.replacement, write_fragment(write_all, entries));
    return std::optional<xml::TemplateEdit>(std::move(edit));
  }
  CMX_ASSIGN_OR_RETURN(const xml::PartTemplate table, xml::read_part_template(child->text));
  const std::vector<const xml::PartTemplateChild*> listed = reader::find_template_children(table, entry_name);
  // A table whose listed entries are not the ones the baseline holds (one
  // was skipped when read) cannot be copied by position.
  const size_t copyable = listed.size() == baseline.size() ? listed.size() : 0;
  TableEntries texts;
  texts.texts.reserve(entries.size());
  for (size_t index = 0; index < entries.size(); ++index) {
    if (index < copyable && eq(entries[index], baseline[index])) {
      texts.texts.push_back(listed[index]->text);
      continue;
    }
    texts.all_copied = false;
    CMX_ASSIGN_OR_RETURN(std::string text, fit_entry(table, write_one, entries[index]));
    texts.texts.push_back(std::move(text));
  }
  CMX_ASSIGN_OR_RETURN(edit.replacement, rebuild_table(*child, table, entry_name, listed.size(), std::move(texts)));
  return unless_unchanged(std::move(edit), child);
}

// numFmts: a listed `numFmt` is copied for the model entry its own id and
// code read back to; formats the model only holds because a differential
// format defines them stay out, unless a cell format uses their id.
Result<std::optional<xml::TemplateEdit>, SpreadsheetParseError> rewrite_num_fmts(const xml::PartTemplate& styles_template,
                                                                  const model::StyleSheet& styles) {
  xml::TemplateEdit edit{"numFmts", std::nullopt};
  const xml::PartTemplateChild* child = reader::find_template_child(styles_template, "numFmts");
  std::multiset<NumFmtKey> outside;
  for (const xml::PartTemplateChild& other : styles_template.children) {
    if (&other != child) CMX_TRY(collect_num_fmts(other.text, outside));
  }
  // Custom ids that cell formats use; a built-in id needs no entry.
  std::set<uint16_t> used_ids;
  for (const model::CellXf& xf : styles.cell_xfs) {
    if (xf.num_fmt_id && *xf.num_fmt_id >= model::kFirstCustomNumFmtId) used_ids.insert(*xf.num_fmt_id);
  }

  std::optional<xml::PartTemplate> table;
  std::vector<const xml::PartTemplateChild*> listed;
  std::vector<std::optional<NumFmtKey>> listed_keys;
  if (child != nullptr) {
    CMX_ASSIGN_OR_RETURN(table, xml::read_part_template(child->text));
    listed = reader::find_template_children(*table, "numFmt");
    for (const xml::PartTemplateChild* entry : listed) {
      CMX_ASSIGN_OR_RETURN(const opc::AttributeList attributes, reader::parse_fragment_start_tag(entry->text));
      listed_keys.push_back(num_fmt_key(attributes));
    }
  }
  std::vector<bool> listed_used(listed.size(), false);
  std::set<uint16_t> written_ids;
  std::vector<model::CustomNumFmt> kept;
  TableEntries texts;
  for (const model::CustomNumFmt& format : styles.num_fmts) {
    const NumFmtKey key{format.id, format.code};
    size_t match = listed.size();
    for (size_t index = 0; index < listed.size(); ++index) {
      if (!listed_used[index] && listed_keys[index] == key) {
        match = index;
        break;
      }
    }
    if (match == listed.size()) {
      const auto from_outside = outside.find(key);
      if (from_outside != outside.end() && (!used_ids.contains(format.id) || written_ids.contains(format.id))) {
        outside.erase(from_outside);
        continue;
      }
    }
    kept.push_back(format);
    written_ids.insert(format.id);
    if (match != listed.size()) {
      listed_used[match] = true;
      texts.texts.push_back(listed[match]->text);
      continue;
    }
    texts.all_copied = false;
    if (table) {
      CMX_ASSIGN_OR_RETURN(std::string text, fit_entry(*table, write_num_fmt, format));
      texts.texts.push_back(std::move(text));
    }
  }
  if (kept.empty()) return unless_unchanged(std::move(edit), child);
  if (!table) {
    CMX_ASSIGN_OR_RETURN(edit.replacement, write_fragment(write_num_fmts, kept));
    return std::optional<xml::TemplateEdit>(std::move(edit));
  }
  CMX_ASSIGN_OR_RETURN(edit.replacement, rebuild_table(*child, *table, "numFmt", listed.size(), std::move(texts)));
  return unless_unchanged(std::move(edit), child);
}

Result<std::optional<xml::TemplateEdit>, SpreadsheetParseError> rewrite_colors(
    const xml::PartTemplate& styles_template, const std::vector<std::string>& palette,
    const std::vector<std::string>& baseline) {
  if (palette == baseline) return std::optional<xml::TemplateEdit>();
  xml::TemplateEdit edit{"colors", std::nullopt};
  const xml::PartTemplateChild* child = reader::find_template_child(styles_template, "colors");
  if (child == nullptr) {
    if (!palette.empty()) edit.replacement = write_colors_fragment(palette);
    return std::optional<xml::TemplateEdit>(std::move(edit));
  }
  CMX_ASSIGN_OR_RETURN(const xml::PartTemplate colors, xml::read_part_template(child->text));
  xml::TemplateEdit indexed{"indexedColors", std::nullopt};
  if (!palette.empty()) indexed.replacement = write_indexed_colors_fragment(palette);
  CMX_ASSIGN_OR_RETURN(edit.replacement, xml::apply_template_edits(colors, std::span(&indexed, 1), colors_child_rank));
  return std::optional<xml::TemplateEdit>(std::move(edit));
}

}  // namespace

std::optional<uint64_t> stylesheet_child_rank(std::string_view local) {
  static constexpr std::string_view kOrder[] = {"numFmts", "fonts",       "fills",    "borders",
                                                "cellStyleXfs", "cellXfs", "cellStyles", "dxfs",
                                                "tableStyles",  "colors",  "extLst"};
  for (uint64_t rank = 0; rank < std::size(kOrder); ++rank) {
    if (kOrder[rank] == local) return rank;
  }
  return std::nullopt;
}

uint64_t colors_child_rank(std::string_view local) { return local == "indexedColors" ? 0 : 1; }

std::string write_colors_fragment(const std::vector<std::string>& palette) {
  XmlPartWriter writer;
  write_indexed_colors(writer, palette);
  return writer.buffer();
}

std::string write_indexed_colors_fragment(const std::vector<std::string>& palette) {
  XmlPartWriter writer;
  write_rgb_colors(writer, palette);
  return writer.buffer();
}

Result<std::string, SpreadsheetParseError> rewrite_styles_part(const model::StyleSheet& styles,
                                                               const model::StyleSheet& baseline,
                                                               const xml::PartTemplate& styles_template) {
  std::vector<xml::TemplateEdit> edits;
  auto add = [&](std::optional<xml::TemplateEdit> edit) {
    if (edit) edits.push_back(std::move(*edit));
  };
  CMX_ASSIGN_OR_RETURN(std::optional<xml::TemplateEdit> num_fmts, rewrite_num_fmts(styles_template, styles));
  add(std::move(num_fmts));
  CMX_ASSIGN_OR_RETURN(std::optional<xml::TemplateEdit> fonts,
                       rewrite_table<model::Font>(styles_template, "fonts", "font", styles.fonts, baseline.fonts,
                                                  model::font_eq, write_font, write_fonts));
  add(std::move(fonts));
  CMX_ASSIGN_OR_RETURN(std::optional<xml::TemplateEdit> fills,
                       rewrite_table<model::Fill>(styles_template, "fills", "fill", styles.fills, baseline.fills,
                                                  model::fill_eq, write_pattern_fill, write_fills));
  add(std::move(fills));
  CMX_ASSIGN_OR_RETURN(std::optional<xml::TemplateEdit> borders,
                       rewrite_table<model::Border>(styles_template, "borders", "border", styles.borders,
                                                    baseline.borders, model::border_eq, write_border, write_borders));
  add(std::move(borders));
  CMX_ASSIGN_OR_RETURN(
      std::optional<xml::TemplateEdit> cell_xfs,
      rewrite_table<model::CellXf>(styles_template, "cellXfs", "xf", styles.cell_xfs, baseline.cell_xfs,
                                   [](const model::CellXf& a, const model::CellXf& b) { return a == b; },
                                   write_cell_xf, write_cell_xfs));
  add(std::move(cell_xfs));
  CMX_ASSIGN_OR_RETURN(std::optional<xml::TemplateEdit> colors,
                       rewrite_colors(styles_template, styles.indexed_colors, baseline.indexed_colors));
  add(std::move(colors));
  if (edits.empty()) return xml::join_part_template(styles_template);
  return xml::apply_template_edits(styles_template, edits, [](std::string_view local) {
    return stylesheet_child_rank(local).value_or(xml::kNoPosition);
  });
}

}  // namespace cmx::writer
