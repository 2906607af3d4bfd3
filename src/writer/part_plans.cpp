#include "writer/part_plans.h"

#include <limits>

#include "absl/container/flat_hash_set.h"
#include "base/number_text.h"
#include "charts/chart_inventory.h"
#include "opc/part_names.h"
#include "writer/namespaces.h"
#include "writer/xml_part_writer.h"

namespace cmx::writer {

namespace {

constexpr std::string_view kRelationshipsSuffix = "/officeDocument/relationships";
// The shortest namespace that can end in the suffix with a scheme before it.
constexpr size_t kMinRelationshipNamespace = 29;

bool is_relationships_namespace(std::string_view uri) {
  return uri.size() >= kMinRelationshipNamespace && uri.ends_with(kRelationshipsSuffix);
}

const opc::AttributeList* relationship_by_id(std::span<const opc::AttributeList> relationships,
                                             std::string_view id) {
  for (const opc::AttributeList& rel : relationships) {
    if (relationship_id(rel) == id) return &rel;
  }
  return nullptr;
}

Result<uint32_t, SpreadsheetParseError> next_sheet_id(PlanAllocators& allocators) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  while (allocators.next_sheet_id <= kMax) {
    const auto id = static_cast<uint32_t>(allocators.next_sheet_id++);
    if (allocators.sheet_ids.insert(id).second) return id;
  }
  // Past the top: the lowest free value, if any is left.
  uint64_t candidate = 1;
  for (uint32_t used : allocators.sheet_ids) {
    if (used < candidate) continue;
    if (used > candidate) break;
    ++candidate;
  }
  if (candidate > kMax) return unexpected(SpreadsheetParseError::malformed("worksheet ids exhausted"));
  allocators.sheet_ids.insert(static_cast<uint32_t>(candidate));
  return static_cast<uint32_t>(candidate);
}

}  // namespace

std::optional<std::string_view> relationship_id(const opc::AttributeList& relationship) {
  const opc::AttributePair* id = opc::first_with_local_name(relationship, "Id");
  if (id == nullptr) return std::nullopt;
  return std::string_view(id->value);
}

PlanAllocators make_plan_allocators(const reader::SourcePackage& source) {
  PlanAllocators allocators;
  absl::flat_hash_set<std::string> ids;
  charts::collect_relationship_ids(source.workbook_relationships, ids);
  allocators.relationship_ids.insert(ids.begin(), ids.end());
  for (const opc::PackagePart& part : source.parts) allocators.part_keys.insert(opc::part_name_key(part.name));
  uint64_t largest = 0;
  for (const reader::SourceSheet& sheet : source.sheets) {
    allocators.sheet_ids.insert(sheet.sheet_id);
    largest = std::max<uint64_t>(largest, sheet.sheet_id);
  }
  allocators.next_sheet_id = largest + 1;
  return allocators;
}

RelationshipTypes choose_relationship_types(const reader::SourcePackage& source) {
  const std::vector<opc::AttributeList>& rels = source.workbook_relationships;
  return RelationshipTypes{
      relationship_type_for(rels, "worksheet", kRelWorksheet),
      relationship_type_for(rels, "sharedStrings", kRelSharedStrings),
      relationship_type_for(rels, "styles", kRelStyles),
      relationship_type_for(rels, "theme", kRelTheme),
      relationship_type_for(rels, "hyperlink", kRelHyperlink),
  };
}

std::string spreadsheet_main_namespace(const reader::SourcePackage& source) {
  const std::optional<std::string>& ns = source.workbook_template.root_namespace;
  // An unbound prefix is stored as U+0000 then the prefix: no namespace.
  if (ns.has_value() && !(ns->size() > 0 && (*ns)[0] == '\0')) return *ns;
  return std::string(kMainNs);
}

Result<std::string, SpreadsheetParseError> capped_relationship_namespace(std::string_view uri) {
  if (uri.size() > kMaxGeneratedAttribute) {
    return unexpected(
        SpreadsheetParseError::unsupported_edit("relationship namespace exceeds the generated-attribute cap"));
  }
  return std::string(uri);
}

Result<std::string, SpreadsheetParseError> choose_relationship_namespace(const reader::SourcePackage& source) {
  for (const xml::NamespaceDeclaration& declaration : source.workbook_template.declarations) {
    if (declaration.prefix.has_value() && is_relationships_namespace(declaration.uri)) {
      return capped_relationship_namespace(declaration.uri);
    }
  }
  for (const opc::AttributeList& rel : source.workbook_relationships) {
    for (const opc::AttributePair& pair : rel) {
      if (opc::attribute_local_name(pair.name) != "Type") continue;
      const size_t slash = pair.value.rfind('/');
      if (slash != std::string::npos) {
        const std::string_view base = std::string_view(pair.value).substr(0, slash);
        if (is_relationships_namespace(base)) return capped_relationship_namespace(base);
      }
      break;
    }
  }
  return capped_relationship_namespace(kOfficeRelNs);
}

Result<SheetPartPlan, SpreadsheetParseError> plan_worksheet_part(const model::SheetOrigin& origin,
                                                                const reader::SourcePackage& source,
                                                                PlanAllocators& allocators,
                                                                std::string_view worksheet_type) {
  SheetPartPlan plan;
  if (origin.from_source() && origin.source_index < source.sheets.size() &&
      allocators.planned_sources.insert(origin.source_index).second) {
    const reader::SourceSheet& record = source.sheets[origin.source_index];
    plan.from_source = true;
    plan.source_index = origin.source_index;
    plan.part_name = record.part_name;
    const opc::AttributeList* rel =
        record.r_id ? relationship_by_id(source.workbook_relationships, *record.r_id) : nullptr;
    if (rel != nullptr) {
      plan.relationship = *rel;
    } else {
      const std::string id = next_free_relationship_id(allocators.relationship_ids);
      plan.relationship = relationship_attributes(id, record.rel_type.value_or(std::string(worksheet_type)),
                                                  relationship_target_for_part(record.part_name));
    }
    plan.sheet_attributes = record.start_tag;
    plan.sheet_id = record.sheet_id;
    return plan;
  }
  for (uint64_t n = 1;; ++n) {
    std::string name = "xl/worksheets/sheet" + format_u64(n) + ".xml";
    if (allocators.part_keys.insert(opc::part_name_key(name)).second) {
      plan.part_name = std::move(name);
      break;
    }
  }
  const std::string id = next_free_relationship_id(allocators.relationship_ids);
  plan.relationship = relationship_attributes(id, worksheet_type, relationship_target_for_part(plan.part_name));
  CMX_ASSIGN_OR_RETURN(plan.sheet_id, next_sheet_id(allocators));
  return plan;
}

Result<std::vector<SheetPartPlan>, SpreadsheetParseError> collect_sheet_part_plans(
    std::span<const model::SheetOrigin> origins, std::span<const model::SheetModel> sheets,
    const reader::SourcePackage& source, PlanAllocators& allocators, std::string_view worksheet_type) {
  std::vector<SheetPartPlan> plans;
  plans.reserve(origins.size());
  for (size_t i = 0; i < origins.size(); ++i) {
    CMX_ASSIGN_OR_RETURN(SheetPartPlan plan, plan_worksheet_part(origins[i], source, allocators, worksheet_type));
    if (!plan.from_source && i < sheets.size() && !sheets[i].charts.empty()) {
      return unexpected(chart_not_read_from_sheet(sheets[i].charts.front().part, sheets[i].name));
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

std::set<uint32_t> kept_source_sheet_indices(std::span<const SheetPartPlan> plans) {
  std::set<uint32_t> kept;
  for (const SheetPartPlan& plan : plans) {
    if (plan.from_source) kept.insert(plan.source_index);
  }
  return kept;
}

PartRelationshipPlan plan_part_relationship(const std::optional<reader::RelatedPart>& source_part,
                                            std::span<const opc::AttributeList> workbook_relationships,
                                            std::string_view word, std::string_view type,
                                            std::string_view default_part, std::set<std::string>& ids_in_use) {
  if (source_part.has_value()) {
    const opc::AttributeList* found = nullptr;
    if (source_part->id.has_value() && !workbook_relationships.empty()) {
      found = relationship_by_id(workbook_relationships, *source_part->id);
    }
    if (found == nullptr) {
      for (const opc::AttributeList& rel : workbook_relationships) {
        if (opc::relationship_type_is(rel, word)) {
          found = &rel;
          break;
        }
      }
    }
    if (found != nullptr) return PartRelationshipPlan{source_part->name, *found};
    const std::string id = next_free_relationship_id(ids_in_use);
    return PartRelationshipPlan{source_part->name,
                                relationship_attributes(id, type, relationship_target_for_part(source_part->name))};
  }
  const std::string id = next_free_relationship_id(ids_in_use);
  return PartRelationshipPlan{std::string(default_part),
                              relationship_attributes(id, type, relationship_target_for_part(default_part))};
}

PartRelationshipPlan plan_shared_strings_relationship(const reader::SourcePackage& source, std::string_view type,
                                                      std::set<std::string>& ids_in_use) {
  return plan_part_relationship(source.shared_strings_part, source.workbook_relationships, "sharedStrings", type,
                                "xl/sharedStrings.xml", ids_in_use);
}

PartRelationshipPlan plan_styles_relationship(const reader::SourcePackage& source, std::string_view type,
                                              std::set<std::string>& ids_in_use) {
  return plan_part_relationship(source.styles_part, source.workbook_relationships, "styles", type, "xl/styles.xml",
                                ids_in_use);
}

PartRelationshipPlan plan_theme_relationship(const reader::SourcePackage& source, std::string_view type,
                                             std::set<std::string>& ids_in_use) {
  return plan_part_relationship(source.theme_part, source.workbook_relationships, "theme", type,
                                "xl/theme/theme1.xml", ids_in_use);
}

std::span<const model::SheetChart> source_charts_of(const model::SheetOrigin& origin,
                                                    const reader::SourcePackage& source) {
  if (!origin.from_source() || origin.source_index >= source.base_model.sheets.size()) return {};
  return source.base_model.sheets[origin.source_index].charts;
}

SpreadsheetParseError chart_not_read_from_sheet(std::string_view chart_part, std::string_view sheet_name) {
  return SpreadsheetParseError::unsupported_edit("chart " + std::string(chart_part) + " was not read from sheet " +
                                                 std::string(sheet_name) +
                                                 ", and saving cannot create a chart that the package lacks");
}

Result<const model::SheetChart*, SpreadsheetParseError> match_chart_origin(
    const model::SheetChart& chart, std::string_view sheet_name, std::span<const model::SheetChart> source_charts) {
  const model::SheetChart* match = nullptr;
  size_t matches = 0;
  bool same_part = false;
  for (const model::SheetChart& candidate : source_charts) {
    if (candidate.part != chart.part) continue;
    same_part = true;
    if (candidate.drawing == chart.drawing && candidate.anchor_index == chart.anchor_index) {
      match = &candidate;
      ++matches;
    }
  }
  if (matches == 1) return match;
  if (matches == 0 && same_part) {
    return unexpected(SpreadsheetParseError::unsupported_edit(
        "chart " + chart.part + " no longer names the drawing and anchor it was read from"));
  }
  return unexpected(chart_not_read_from_sheet(chart.part, sheet_name));
}

}  // namespace cmx::writer
