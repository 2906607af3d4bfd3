// The strict layout check the package inventory trusts a package under, and
// the test that decides which parts are pivot parts.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "opc/package_archive.h"
#include "xml/tree_queries.h"

namespace cmx::reader {

// (part key, content type), one per part that has a content type, in archive
// order.
using PartContentTypes = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::string_view kContentTypesNs = xml::kContentTypesNs;
inline constexpr std::string_view kContentTypesPart = "[Content_Types].xml";
inline constexpr std::string_view kPivotTableContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml";
inline constexpr std::string_view kPivotCacheDefinitionContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml";
inline constexpr std::string_view kPivotCacheRecordsContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheRecords+xml";

// True when the type is exactly the transitional or the strict
// officeDocument relationship type of this name.
bool is_office_relationship_type(std::string_view type, std::string_view name);

// A pivot folder part by its key outside "_rels" folders, or any part whose
// content type is a pivot one.
bool is_pivot_part(std::string_view name, const PartContentTypes& content_types);
// The same test with the content types looked up once for many names.
class PivotPartTest {
 public:
  explicit PivotPartTest(const PartContentTypes& content_types);
  bool operator()(std::string_view name) const;

 private:
  absl::flat_hash_set<std::string> typed_keys_;
};

// For each sheet part in order, the keys of its drawing relationships' targets.
std::vector<std::string> sheet_drawing_parts(const opc::PartIndex& parts,
                                             std::span<const std::string> sheet_part_names);

// Yes only when the content types, the relationship parts of the workbook,
// sheets, sheet drawings and pivot parts, the drawings and the workbook's
// sheet list are all laid out unambiguously. Never fails: an unreadable
// part answers no.
bool check_package_structure(const opc::PartIndex& parts, const PartContentTypes& content_types,
                             std::span<const std::string> sheet_part_names);

}  // namespace cmx::reader
