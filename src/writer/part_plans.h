// What every rewrite of one save into the source package agrees on: the
// namespaces and relationship types of generated markup, the part name,
// relationship and sheetId of each sheet, the parts and relationships of the
// shared strings, styles and theme, and which chart read from the package
// each chart of the model is.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "opc/attribute_pair.h"
#include "reader/source_package.h"
#include "xml/parse_error.h"

namespace cmx::writer {

using xml::SpreadsheetParseError;

// Generated attribute values are capped at this many bytes.
inline constexpr size_t kMaxGeneratedAttribute = 1024;

struct SheetPartPlan {
  bool from_source = false;
  uint32_t source_index = 0;  // meaningful when from_source
  std::string part_name;      // without a leading "/"
  opc::AttributeList relationship;  // the sheet's workbook relationship
  opc::AttributeList sheet_attributes;  // of the source `sheet` element; empty for a new sheet
  uint32_t sheet_id = 0;
  friend bool operator==(const SheetPartPlan&, const SheetPartPlan&) = default;
};

struct PartRelationshipPlan {
  std::string part_name;
  opc::AttributeList relationship;
  friend bool operator==(const PartRelationshipPlan&, const PartRelationshipPlan&) = default;
};

// Names, relationship Ids and sheetIds already taken in one save, so that
// everything a save adds is unique within the package.
struct PlanAllocators {
  std::set<std::string> relationship_ids;
  std::set<std::string> part_keys;
  std::set<uint32_t> sheet_ids;
  uint64_t next_sheet_id = 1;
  std::set<uint32_t> planned_sources;
};

// Ids of the workbook relationships, keys of the source parts, the source
// sheetIds with the counter one past the largest.
PlanAllocators make_plan_allocators(const reader::SourcePackage& source);

// The relationship types new relationships of a save get.
struct RelationshipTypes {
  std::string worksheet;
  std::string shared_strings;
  std::string styles;
  std::string theme;
  std::string hyperlink;
};
RelationshipTypes choose_relationship_types(const reader::SourcePackage& source);

// The namespace of the workbook part's root, or the transitional one.
std::string spreadsheet_main_namespace(const reader::SourcePackage& source);

// UnsupportedEdit "relationship namespace exceeds the generated-attribute
// cap" above kMaxGeneratedAttribute bytes.
Result<std::string, SpreadsheetParseError> capped_relationship_namespace(std::string_view uri);

// A relationships namespace declared under a prefix on the workbook root,
// else the one the workbook relationship types use, else the transitional
// one; capped.
Result<std::string, SpreadsheetParseError> choose_relationship_namespace(const reader::SourcePackage& source);

// A kept sheet for the first use of a source sheet record; every other
// origin is a new part "xl/worksheets/sheet{n}.xml" with a new relationship
// and sheetId. Malformed "worksheet ids exhausted".
Result<SheetPartPlan, SpreadsheetParseError> plan_worksheet_part(const model::SheetOrigin& origin,
                                                                const reader::SourcePackage& source,
                                                                PlanAllocators& allocators,
                                                                std::string_view worksheet_type);

// One plan per origin, in workbook order. A sheet planned as a new part
// cannot carry charts, whatever its origin says, since a new part is written
// without drawings: its charts are refused as charts that were not read from
// it. `sheets` are the workbook's sheets, index-aligned with the origins.
Result<std::vector<SheetPartPlan>, SpreadsheetParseError> collect_sheet_part_plans(
    std::span<const model::SheetOrigin> origins, std::span<const model::SheetModel> sheets,
    const reader::SourcePackage& source, PlanAllocators& allocators, std::string_view worksheet_type);

std::set<uint32_t> kept_source_sheet_indices(std::span<const SheetPartPlan> plans);

// The source part's plan (its relationship by Id, else the first of the
// kind, else a new one), or the default part with a new relationship.
PartRelationshipPlan plan_part_relationship(const std::optional<reader::RelatedPart>& source_part,
                                            std::span<const opc::AttributeList> workbook_relationships,
                                            std::string_view word, std::string_view type,
                                            std::string_view default_part, std::set<std::string>& ids_in_use);
PartRelationshipPlan plan_shared_strings_relationship(const reader::SourcePackage& source, std::string_view type,
                                                      std::set<std::string>& ids_in_use);
PartRelationshipPlan plan_styles_relationship(const reader::SourcePackage& source, std::string_view type,
                                              std::set<std::string>& ids_in_use);
PartRelationshipPlan plan_theme_relationship(const reader::SourcePackage& source, std::string_view type,
                                             std::set<std::string>& ids_in_use);

// The charts of the source sheet a workbook sheet's origin names; none for a
// new sheet or an index out of range.
std::span<const model::SheetChart> source_charts_of(const model::SheetOrigin& origin,
                                                    const reader::SourcePackage& source);

// The one source chart with the same part, drawing and anchor index.
// UnsupportedEdit "chart {} no longer names the drawing and anchor it was
// read from", or "chart {} was not read from sheet {}, and …".
Result<const model::SheetChart*, SpreadsheetParseError> match_chart_origin(
    const model::SheetChart& chart, std::string_view sheet_name, std::span<const model::SheetChart> source_charts);

// The refusal for a chart a save would have to create.
SpreadsheetParseError chart_not_read_from_sheet(std::string_view chart_part, std::string_view sheet_name);

// The Id of a relationship: its first attribute whose local name is "Id".
std::optional<std::string_view> relationship_id(const opc::AttributeList& relationship);

}  // namespace cmx::writer
