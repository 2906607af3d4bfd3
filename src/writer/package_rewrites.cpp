#include <map>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "charts/chart_inventory.h"
#include "opc/part_names.h"
#include "writer/namespaces.h"
#include "writer/source_rewrites.h"

namespace cmx::writer {

namespace {

constexpr std::string_view kWorkbookType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr std::string_view kRelsType = "application/vnd.openxmlformats-package.relationships+xml";
constexpr std::string_view kXmlType = "application/xml";
constexpr std::string_view kThemeType = "application/vnd.openxmlformats-officedocument.theme+xml";

struct FamilyTypes {
  std::string_view worksheet;
  std::string_view shared_strings;
  std::string_view styles;
};
constexpr FamilyTypes kTransitionalTypes{
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"};
constexpr FamilyTypes kStrictTypes{"application/vnd.ms-excel.worksheet+xml",
                                   "application/vnd.ms-excel.sharedStrings+xml",
                                   "application/vnd.ms-excel.styles+xml"};

// The source's content type for a part, else the fallback.
std::string type_or(const reader::SourcePackage& source, std::string_view part, std::string_view fallback) {
  const std::optional<std::string_view> found = opc::content_type_for_part(source.content_types, part);
  return std::string(found.value_or(fallback));
}

std::string extension_of(std::string_view key) {
  const size_t dot = key.rfind('.');
  return dot == std::string_view::npos ? std::string() : opc::ascii_lowered(key.substr(dot + 1));
}

}  // namespace

Result<std::string, SpreadsheetParseError> rewrite_workbook_relationships(
    const reader::SourcePackage& source, std::span<const SheetPartPlan> sheet_plans,
    const PackagePartPlans& part_plans, bool recalculate) {
  std::vector<const opc::AttributeList*> planned;
  for (const SheetPartPlan& plan : sheet_plans) planned.push_back(&plan.relationship);
  for (const PartRelationshipPlan* plan : {part_plans.shared_strings, part_plans.styles, part_plans.theme}) {
    if (plan != nullptr) planned.push_back(&plan->relationship);
  }
  absl::flat_hash_map<std::string_view, const opc::AttributeList*> by_id;
  for (const opc::AttributeList* rel : planned) {
    if (const std::optional<std::string_view> id = relationship_id(*rel)) by_id.try_emplace(*id, rel);
  }
  absl::flat_hash_set<std::string_view> retired;
  for (const reader::SourceSheet& sheet : source.sheets) {
    if (sheet.r_id) retired.insert(*sheet.r_id);
  }
  for (const std::optional<reader::RelatedPart>* part :
       {&source.shared_strings_part, &source.styles_part, &source.theme_part}) {
    if (part->has_value() && (*part)->id.has_value()) retired.insert(*(*part)->id);
  }

  std::vector<opc::AttributeList> out;
  absl::flat_hash_set<std::string_view> written;
  for (const opc::AttributeList& rel : source.workbook_relationships) {
    if (recalculate && opc::relationship_type_is(rel, "calcChain")) continue;
    const std::optional<std::string_view> id = relationship_id(rel);
    if (id) {
      const auto found = by_id.find(*id);
      if (found != by_id.end() && !written.contains(*id)) {
        out.push_back(*found->second);
        written.insert(*id);
        continue;
      }
      if (retired.contains(*id)) continue;
    }
    if (opc::relationship_type_is(rel, "sharedStrings") || opc::relationship_type_is(rel, "styles") ||
        opc::relationship_type_is(rel, "theme")) {
      continue;
    }
    out.push_back(rel);
    if (id) written.insert(*id);
  }
  for (const opc::AttributeList* rel : planned) {
    const std::optional<std::string_view> id = relationship_id(*rel);
    if (!id || written.contains(*id)) continue;
    out.push_back(*rel);
    written.insert(*id);
  }
  return write_relationships_part(out);
}

Result<std::string, SpreadsheetParseError> rewrite_package_relationships(
    const std::vector<opc::AttributeList>& package_relationships) {
  std::vector<opc::AttributeList> out = package_relationships;
  bool has_document = false;
  for (const opc::AttributeList& rel : out) has_document = has_document || opc::relationship_type_is(rel, "officeDocument");
  if (!has_document) {
    absl::flat_hash_set<std::string> ids;
    charts::collect_relationship_ids(out, ids);
    std::set<std::string> in_use(ids.begin(), ids.end());
    const std::string id = next_free_relationship_id(in_use);
    const std::string type = relationship_type_for(out, "officeDocument", kRelOfficeDocument);
    out.push_back(relationship_attributes(id, type, "xl/workbook.xml"));
  }
  return write_relationships_part(out);
}

Result<std::string, SpreadsheetParseError> rewrite_content_types(const reader::SourcePackage& source,
                                                                std::span<const SheetPartPlan> sheet_plans,
                                                                const PackagePartPlans& part_plans, bool recalculate,
                                                                std::span<const std::string> removed) {
  const bool strict = source.workbook_template.root_namespace == xml::kSpreadsheetMainStrictNs;
  const FamilyTypes& family = strict ? kStrictTypes : kTransitionalTypes;

  std::map<std::string, std::string> wanted;
  wanted.insert_or_assign("xl/workbook.xml", type_or(source, "xl/workbook.xml", kWorkbookType));
  std::string default_sheet_type(family.worksheet);
  for (const reader::SourceSheet& sheet : source.sheets) {
    if (!opc::sheet_type_is_worksheet(sheet.rel_type)) continue;
    default_sheet_type = type_or(source, sheet.part_name, family.worksheet);
    break;
  }
  for (const SheetPartPlan& plan : sheet_plans) {
    std::string type = default_sheet_type;
    if (plan.from_source && plan.source_index < source.sheets.size()) {
      type = type_or(source, source.sheets[plan.source_index].part_name, default_sheet_type);
    }
    wanted.insert_or_assign(opc::part_name_key(plan.part_name), std::move(type));
  }
  auto want_part = [&](const PartRelationshipPlan* plan, const std::optional<reader::RelatedPart>& source_part,
                       std::string_view fallback) {
    if (plan == nullptr) return;
    std::string type = source_part ? type_or(source, source_part->name, fallback) : std::string(fallback);
    wanted.insert_or_assign(opc::part_name_key(plan->part_name), std::move(type));
  };
  want_part(part_plans.shared_strings, source.shared_strings_part, family.shared_strings);
  want_part(part_plans.styles, source.styles_part, family.styles);
  want_part(part_plans.theme, source.theme_part, kThemeType);

  absl::flat_hash_set<std::string> owned{"xl/workbook.xml"};
  for (const reader::SourceSheet& sheet : source.sheets) owned.insert(opc::part_name_key(sheet.part_name));
  for (const std::optional<reader::RelatedPart>* part :
       {&source.shared_strings_part, &source.styles_part, &source.theme_part}) {
    if (part->has_value()) owned.insert(opc::part_name_key((*part)->name));
  }
  absl::flat_hash_set<std::string> calc_chain;
  if (recalculate) {
    for (const reader::RelatedPart& part : source.calc_chain) calc_chain.insert(opc::part_name_key(part.name));
  }
  const absl::flat_hash_set<std::string_view> removed_keys(removed.begin(), removed.end());

  std::vector<const opc::ContentTypeEntry*> kept;
  std::vector<opc::ContentTypeEntry> added_defaults;
  absl::flat_hash_map<std::string, std::string_view> defaults;  // extension → type
  absl::flat_hash_set<std::string> written;
  for (const opc::ContentTypeEntry& entry : source.content_types) {
    if (entry.kind == "Default") {
      if (const opc::AttributePair* ext = opc::first_with_local_name(entry.attributes, "Extension")) {
        const opc::AttributePair* type = opc::first_with_local_name(entry.attributes, "ContentType");
        defaults.insert_or_assign(opc::ascii_lowered(ext->value),
                                  type != nullptr ? std::string_view(type->value) : std::string_view());
      }
      kept.push_back(&entry);
      continue;
    }
    const opc::AttributePair* part_name = opc::first_with_local_name(entry.attributes, "PartName");
    if (part_name == nullptr) {
      kept.push_back(&entry);
      continue;
    }
    std::string key = opc::part_name_key(part_name->value);
    if (calc_chain.contains(key) || removed_keys.contains(key)) continue;
    if (owned.contains(key)) {
      if (wanted.contains(key) && written.insert(key).second) kept.push_back(&entry);
      continue;
    }
    kept.push_back(&entry);
  }
  std::vector<opc::ContentTypeEntry> appended;
  for (const auto& [key, type] : wanted) {
    if (written.contains(key)) continue;
    const std::string extension = extension_of(key);
    if (!extension.empty()) {
      const auto found = defaults.find(extension);
      if (found != defaults.end() && found->second == type) continue;
    }
    appended.push_back(opc::ContentTypeEntry{"Override", {{"PartName", "/" + key}, {"ContentType", type}}});
  }

  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("Types", {{"xmlns", kContentTypesNs}});
  auto write_entry = [&](const opc::ContentTypeEntry& entry) {
    writer.open(entry.kind);
    for (const opc::AttributePair& pair : entry.attributes) writer.attribute(pair.name, pair.value);
    writer.close_empty();
  };
  if (!defaults.contains("rels")) write_entry({"Default", {{"Extension", "rels"}, {"ContentType", std::string(kRelsType)}}});
  if (!defaults.contains("xml")) write_entry({"Default", {{"Extension", "xml"}, {"ContentType", std::string(kXmlType)}}});
  for (const opc::ContentTypeEntry* entry : kept) write_entry(*entry);
  for (const opc::ContentTypeEntry& entry : appended) write_entry(entry);
  writer.end_tag("Types");
  return writer.finish();
}

}  // namespace cmx::writer
