#include <algorithm>

#include "base/number_text.h"
#include "writer/parts.h"
#include "writer/source_rewrites.h"
#include "xml/template_render.h"

namespace cmx::writer {

void write_shared_string_item(XmlPartWriter& writer, std::string_view text) {
  writer.raw("<si>");
  write_preserved_text(writer, text);
  writer.raw("</si>");
}

Result<std::string, SpreadsheetParseError> write_shared_strings_part(
    const std::vector<std::string>& texts, std::string_view main_ns) {
  size_t total = 256;
  for (const std::string& text : texts) total += text.size() + 48;
  XmlPartWriter writer(total);
  writer.declaration();
  writer.open("sst");
  writer.attribute("xmlns", main_ns);
  writer.attribute_u64("count", texts.size());
  writer.attribute_u64("uniqueCount", texts.size());
  writer.close();
  for (const std::string& text : texts) write_shared_string_item(writer, text);
  writer.end_tag("sst");
  return writer.finish();
}

Result<SharedStringPlan, SpreadsheetParseError> build_shared_string_plan(
    const std::vector<std::string>& source_texts, uint64_t source_item_count,
    const model::WorkbookModel& model, std::span<const CellStringIndexMap> cell_maps) {
  const uint64_t usable = std::min<uint64_t>(source_item_count, source_texts.size());
  absl::flat_hash_map<std::string_view, std::vector<uint64_t>> authored;
  for (uint64_t k = 0; k < usable; ++k) authored[source_texts[k]].push_back(k);
  absl::flat_hash_map<std::string_view, uint64_t> occurrences;
  for (const std::string& text : model.shared_strings) ++occurrences[text];

  std::set<uint64_t> retained;
  const size_t sheets = std::min(model.sheets.size(), cell_maps.size());
  for (size_t i = 0; i < sheets; ++i) {
    const model::CellMap& cells = model.sheets[i].cells;
    for (const auto& [key, k] : cell_maps[i]) {
      if (k >= usable) continue;
      const auto cell = cells.find(key);
      if (cell == cells.end() || cell->second.formula || !cell->second.value.is_text()) continue;
      if (cell->second.value.as_text() == source_texts[k]) retained.insert(k);
    }
  }

  // Per text: how many of its positions are fresh, then the source entries
  // the others reuse, in ascending order.
  struct Reuse {
    uint64_t fresh = 0;
    std::vector<uint64_t> queue;
    size_t next = 0;
  };
  absl::flat_hash_map<std::string_view, Reuse> reuse;
  for (const auto& [text, count] : occurrences) {
    const auto found = authored.find(text);
    const std::vector<uint64_t> none;
    const std::vector<uint64_t>& list = found == authored.end() ? none : found->second;
    const uint64_t room = std::min<uint64_t>(list.size(), count);
    std::vector<uint64_t> chosen;
    for (uint64_t k : list) {
      if (retained.contains(k)) chosen.push_back(k);
    }
    if (chosen.size() > room) {
      return unexpected(SpreadsheetParseError::unsupported_edit(
          "shared string duplicates cannot retain every authored entry"));
    }
    for (uint64_t k : list) {
      if (chosen.size() >= room) break;
      if (!retained.contains(k)) chosen.push_back(k);
    }
    std::sort(chosen.begin(), chosen.end());
    reuse[text] = Reuse{count - room, std::move(chosen), 0};
  }

  SharedStringPlan plan;
  plan.entries.reserve(model.shared_strings.size());
  for (uint64_t j = 0; j < model.shared_strings.size(); ++j) {
    const std::string& text = model.shared_strings[j];
    Reuse& entry = reuse[text];
    if (entry.fresh > 0) {
      --entry.fresh;
      plan.entries.emplace_back();
      plan.text_map.try_emplace(text, j);
    } else {
      const uint64_t k = entry.queue[entry.next++];
      plan.entries.emplace_back(k);
      plan.source_to_written[k] = j;
    }
  }
  return plan;
}

}  // namespace cmx::writer

namespace cmx::writer {

Result<void, SpreadsheetParseError> save_shared_strings_part(SavePlan& plan,
                                                             const std::vector<std::string>& shared_strings,
                                                             const reader::SourcePackage& source,
                                                             const PartRelationshipPlan* part_plan,
                                                             std::string_view main_ns,
                                                             const SharedStringPlan* string_plan) {
  const std::optional<reader::RelatedPart>& source_part = source.shared_strings_part;
  if (!source_part) {
    if (part_plan == nullptr) return {};
  } else if (part_plan == nullptr) {
    plan.remove(source_part->name);
    return {};
  } else if (part_plan->part_name == source_part->name) {
    if (shared_strings == source.base_model.shared_strings) return {};
  } else {
    plan.remove(source_part->name);
  }

  const std::optional<xml::PartTemplate>& part_template = source.shared_strings_template;
  if (!part_template) {
    CMX_ASSIGN_OR_RETURN(std::string bytes, write_shared_strings_part(shared_strings, main_ns));
    return plan.put(part_plan->part_name, std::move(bytes));
  }
  if (string_plan == nullptr) {
    return unexpected(SpreadsheetParseError::malformed("shared string identity plan is missing"));
  }
  const std::vector<const xml::PartTemplateChild*> items = reader::find_template_children(*part_template, "si");
  std::vector<std::string> elements;
  elements.reserve(shared_strings.size());
  const size_t count = std::min(string_plan->entries.size(), shared_strings.size());
  for (size_t j = 0; j < count; ++j) {
    const std::optional<uint64_t>& reuse = string_plan->entries[j];
    if (reuse && *reuse < items.size()) {
      elements.push_back(items[*reuse]->text);
      continue;
    }
    XmlPartWriter writer;
    write_shared_string_item(writer, shared_strings[j]);
    CMX_ASSIGN_OR_RETURN(std::string item, writer.finish());
    CMX_ASSIGN_OR_RETURN(item, xml::adapt_fragment_namespace(*part_template, item));
    elements.push_back(std::move(item));
  }
  const std::string total = format_u64(shared_strings.size());
  const std::pair<std::string, std::string> root[] = {{"count", total}, {"uniqueCount", total}};
  CMX_ASSIGN_OR_RETURN(std::string bytes, xml::replace_template_children(*part_template, "si", elements, root));
  return plan.put(part_plan->part_name, std::move(bytes));
}

}  // namespace cmx::writer
