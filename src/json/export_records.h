// The structured export document: its anchors, values, cells, sheets and
// metadata records, in the three output forms (compact text in declaration
// order, byte counters that equal that text's length, value trees in key
// byte order) and the strict reader that takes a stored document back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "model/cell_value.h"

namespace cmx::json {

// A document text handed back for rendering is refused above this size
// before it is read.
inline constexpr size_t kMaxStructuredContentTextBytes = 33554432;

// --- anchors, identities, source parts ------------------------------------------

struct XlsxSheetIdentity {
  std::string sheet_id;
  uint32_t index = 0;
  std::string name;
  friend bool operator==(const XlsxSheetIdentity&, const XlsxSheetIdentity&) = default;
};

struct XlsxSourcePart {
  std::string part;
  std::string part_sha256;
  std::vector<uint32_t> path;
  friend bool operator==(const XlsxSourcePart&, const XlsxSourcePart&) = default;
};

struct XlsxAnchorSheet {
  XlsxSheetIdentity sheet;
  friend bool operator==(const XlsxAnchorSheet&, const XlsxAnchorSheet&) = default;
};
struct XlsxAnchorCell {
  XlsxSheetIdentity sheet;
  std::string a1;
  friend bool operator==(const XlsxAnchorCell&, const XlsxAnchorCell&) = default;
};
struct XlsxAnchorRange {
  XlsxSheetIdentity sheet;
  std::string a1;
  friend bool operator==(const XlsxAnchorRange&, const XlsxAnchorRange&) = default;
};
struct XlsxAnchorDefinedName {
  std::string name;
  std::optional<XlsxSheetIdentity> local_sheet;  // none: workbook-wide
  uint32_t ordinal = 0;
  friend bool operator==(const XlsxAnchorDefinedName&, const XlsxAnchorDefinedName&) = default;
};
struct XlsxAnchorSourcePart {
  XlsxSourcePart source;
  friend bool operator==(const XlsxAnchorSourcePart&, const XlsxAnchorSourcePart&) = default;
};
// Alternatives in tag order: sheet, cell, range, definedName, sourcePart.
using XlsxAnchor =
    std::variant<XlsxAnchorSheet, XlsxAnchorCell, XlsxAnchorRange, XlsxAnchorDefinedName, XlsxAnchorSourcePart>;

// --- values and enumerations ----------------------------------------------------------

struct XlsxValueEmpty {
  friend bool operator==(const XlsxValueEmpty&, const XlsxValueEmpty&) = default;
};
struct XlsxValueNumber {
  double value = 0;  // finite; a non-finite value is written null
  friend bool operator==(const XlsxValueNumber&, const XlsxValueNumber&) = default;
};
struct XlsxValueText {
  std::string value;
  friend bool operator==(const XlsxValueText&, const XlsxValueText&) = default;
};
struct XlsxValueBool {
  bool value = false;
  friend bool operator==(const XlsxValueBool&, const XlsxValueBool&) = default;
};
struct XlsxValueError {
  model::CellErrorCode value = model::CellErrorCode::NA;
  friend bool operator==(const XlsxValueError&, const XlsxValueError&) = default;
};
struct XlsxValueUnavailable {
  std::string reason;
  friend bool operator==(const XlsxValueUnavailable&, const XlsxValueUnavailable&) = default;
};
// Alternatives in tag order: empty, number, text, bool, error, unavailable.
using XlsxExportValue = std::variant<XlsxValueEmpty, XlsxValueNumber, XlsxValueText, XlsxValueBool,
                                     XlsxValueError, XlsxValueUnavailable>;

enum class XlsxSheetKind : uint8_t { Worksheet, Chartsheet, Dialogsheet, Macrosheet, Other };
enum class XlsxSheetVisibility : uint8_t { Visible, Hidden, VeryHidden, Unknown };
enum class XlsxFormulaResult : uint8_t { Unverified, Missing, Uncertain, Cycle, Limited };
enum class XlsxObjectKind : uint8_t {
  Chart, Picture, Shape, Group, Connector, Diagram, GraphicFrame, ContentPart, Unknown
};
enum class XlsxSeverity : uint8_t { Info, Warning, Error };
enum class XlsxDiagnosticCode : uint8_t {
  HiddenContentExcluded, VisibilityUnknown, UnsupportedSheet, UnsupportedContent, ObjectPlaceholder,
  UnreadableObject, ProvenanceUnavailable, CommentsOmitted, RichTextOmitted, FormattingApproximate,
  FormulaCacheUnverified, FormulaResultMissing, CalculationFailure, ValueUnavailable, Truncated,
  MarkdownLossy
};
enum class XlsxAnchorScope : uint8_t { Session, Snapshot };
enum class XlsxDateSystem : uint8_t { V1900, V1904 };

std::string_view sheet_kind_word(XlsxSheetKind kind);
std::string_view sheet_visibility_word(XlsxSheetVisibility visibility);
std::string_view formula_result_word(XlsxFormulaResult result);
std::string_view object_kind_word(XlsxObjectKind kind);
std::string_view severity_word(XlsxSeverity severity);
std::string_view diagnostic_code_word(XlsxDiagnosticCode code);
std::string_view anchor_scope_word(XlsxAnchorScope scope);
std::string_view date_system_word(XlsxDateSystem system);

// --- records -------------------------------------------------------------------

struct XlsxCellMerge {
  std::string range;
  bool origin = false;
  friend bool operator==(const XlsxCellMerge&, const XlsxCellMerge&) = default;
};

struct XlsxExportCell {
  std::string id;
  XlsxAnchor anchor;
  XlsxExportValue value;
  std::optional<std::string> formula;
  std::string display_text;
  std::string number_format;
  std::optional<XlsxFormulaResult> formula_result;
  std::optional<XlsxCellMerge> merge;
  friend bool operator==(const XlsxExportCell&, const XlsxExportCell&) = default;
};

struct XlsxExportMerge {
  std::string id;
  XlsxAnchor anchor;
  bool clipped = false;
  friend bool operator==(const XlsxExportMerge&, const XlsxExportMerge&) = default;
};

struct XlsxExportTable {
  std::string id;
  XlsxAnchor anchor;
  std::string name;
  uint32_t header_rows = 0;
  uint32_t totals_rows = 0;
  std::vector<std::string> columns;
  bool clipped = false;
  friend bool operator==(const XlsxExportTable&, const XlsxExportTable&) = default;
};

struct XlsxExportHyperlink {
  std::string id;
  XlsxAnchor anchor;
  std::optional<std::string> external_target;
  std::optional<std::string> location;
  std::optional<std::string> tooltip;
  std::optional<std::string> display;
  bool clipped = false;
  friend bool operator==(const XlsxExportHyperlink&, const XlsxExportHyperlink&) = default;
};

struct XlsxExportObject {
  std::string id;
  XlsxObjectKind kind = XlsxObjectKind::Unknown;
  std::optional<XlsxAnchor> anchor;
  std::optional<std::string> name;
  std::optional<std::string> alt_text;
  std::optional<std::string> title;
  bool hidden = false;
  std::optional<std::string> part;
  std::optional<XlsxSourcePart> source;
  friend bool operator==(const XlsxExportObject&, const XlsxExportObject&) = default;
};

struct XlsxExportDefinedName {
  std::string id;
  XlsxAnchor anchor;
  std::string name;
  std::string formula;
  bool hidden = false;
  std::optional<XlsxSheetIdentity> local_sheet;
  friend bool operator==(const XlsxExportDefinedName&, const XlsxExportDefinedName&) = default;
};

struct XlsxExportDiagnostic {
  XlsxDiagnosticCode code = XlsxDiagnosticCode::Truncated;
  XlsxSeverity severity = XlsxSeverity::Info;
  std::optional<XlsxAnchor> anchor;  // none: about the whole document
  std::string message;
  friend bool operator==(const XlsxExportDiagnostic&, const XlsxExportDiagnostic&) = default;
};

struct XlsxExportSheet {
  std::string id;
  XlsxAnchor anchor;
  XlsxSheetKind kind = XlsxSheetKind::Worksheet;
  XlsxSheetVisibility visibility = XlsxSheetVisibility::Visible;
  std::optional<std::string> used_range;
  std::optional<std::string> selected_range;
  std::vector<std::string> hidden_rows;
  std::vector<std::string> hidden_columns;
  std::vector<XlsxExportMerge> merges;
  std::vector<XlsxExportTable> tables;
  std::vector<XlsxExportHyperlink> hyperlinks;
  std::vector<XlsxExportObject> objects;
  std::vector<XlsxExportCell> cells;
  std::optional<XlsxSourcePart> source;
  bool truncated = false;
  friend bool operator==(const XlsxExportSheet&, const XlsxExportSheet&) = default;
};

// The effective include options, echoed by the document.
struct XlsxExportIncluded {
  bool hidden_sheets = false;
  bool hidden_rows = false;
  bool hidden_columns = false;
  bool defined_names = true;
  bool hidden_names = false;
  friend bool operator==(const XlsxExportIncluded&, const XlsxExportIncluded&) = default;
};

// The calculation state has one value ({"policy":"asStored",
// "freshness":"unverified"}), so the document holds nothing for it.
struct XlsxStructuredContent {
  XlsxAnchorScope anchor_scope = XlsxAnchorScope::Snapshot;
  XlsxDateSystem date_system = XlsxDateSystem::V1900;
  XlsxExportIncluded included;
  std::vector<XlsxExportSheet> sheets;
  std::vector<XlsxExportDefinedName> defined_names;
  std::vector<XlsxExportDiagnostic> diagnostics;
  bool truncated = false;
  friend bool operator==(const XlsxStructuredContent&, const XlsxStructuredContent&) = default;
};

// One marked block of a Markdown text; written only.
struct MarkdownAnchor {
  std::string marker;
  XlsxAnchor anchor;
};

// The result of a Markdown export; written only.
struct MarkdownExport {
  std::string markdown;
  std::vector<MarkdownAnchor> anchors;
  std::vector<XlsxExportDiagnostic> diagnostics;
  bool truncated = false;
};

// --- form 1 and form 2: one template behind writer and counter ---------------------

template <typename Sink>
using ExportEmitter = detail::CompactEmitter<Sink>;

template <typename Sink>
void serialize_sheet_identity(ExportEmitter<Sink>& w, const XlsxSheetIdentity& identity);
template <typename Sink>
void serialize_xlsx_anchor(ExportEmitter<Sink>& w, const XlsxAnchor& anchor);
template <typename Sink>
void write_field_anchor(ExportEmitter<Sink>& w, const XlsxAnchor& anchor);
template <typename Sink>
void write_field_optional_anchor(ExportEmitter<Sink>& w, const std::optional<XlsxAnchor>& anchor);
template <typename Sink>
void write_field_sheet_identity(ExportEmitter<Sink>& w, const XlsxSheetIdentity& identity);
template <typename Sink>
void write_field_local_sheet(ExportEmitter<Sink>& w, const std::optional<XlsxSheetIdentity>& identity);
template <typename Sink>
void write_field_source(ExportEmitter<Sink>& w, const std::optional<XlsxSourcePart>& source);
template <typename Sink>
void write_field_path(ExportEmitter<Sink>& w, std::span<const uint32_t> path);

template <typename Sink>
void serialize_export_value(ExportEmitter<Sink>& w, const XlsxExportValue& value);
template <typename Sink>
void serialize_export_cell(ExportEmitter<Sink>& w, const XlsxExportCell& cell);
template <typename Sink>
void serialize_export_merge(ExportEmitter<Sink>& w, const XlsxExportMerge& merge);
template <typename Sink>
void serialize_export_table(ExportEmitter<Sink>& w, const XlsxExportTable& table);
template <typename Sink>
void serialize_export_hyperlink(ExportEmitter<Sink>& w, const XlsxExportHyperlink& link);
template <typename Sink>
void serialize_export_object(ExportEmitter<Sink>& w, const XlsxExportObject& object);
template <typename Sink>
void serialize_export_defined_name(ExportEmitter<Sink>& w, const XlsxExportDefinedName& name);
template <typename Sink>
void serialize_export_diagnostic(ExportEmitter<Sink>& w, const XlsxExportDiagnostic& diagnostic);
template <typename Sink>
void write_field_diagnostics(ExportEmitter<Sink>& w, std::span<const XlsxExportDiagnostic> diagnostics);
template <typename Sink>
void serialize_export_sheet(ExportEmitter<Sink>& w, const XlsxExportSheet& sheet);
template <typename Sink>
void serialize_markdown_anchor(ExportEmitter<Sink>& w, const MarkdownAnchor& anchor);
template <typename Sink>
void serialize_markdown_export(ExportEmitter<Sink>& w, const MarkdownExport& result);
template <typename Sink>
void serialize_structured_content(ExportEmitter<Sink>& w, const XlsxStructuredContent& content);

// The bytes the writers above append, added to `total`.
void count_xlsx_anchor_bytes(const XlsxAnchor& anchor, uint64_t& total);
void count_export_cell_bytes(const XlsxExportCell& cell, uint64_t& total);
void count_export_sheet_bytes(const XlsxExportSheet& sheet, uint64_t& total);
void count_export_merge_bytes(const XlsxExportMerge& merge, uint64_t& total);
void count_export_table_bytes(const XlsxExportTable& table, uint64_t& total);
void count_export_hyperlink_bytes(const XlsxExportHyperlink& link, uint64_t& total);
void count_export_object_bytes(const XlsxExportObject& object, uint64_t& total);
void count_export_defined_name_bytes(const XlsxExportDefinedName& name, uint64_t& total);
void count_export_diagnostic_bytes(const XlsxExportDiagnostic& diagnostic, uint64_t& total);
uint64_t count_structured_content_bytes(const XlsxStructuredContent& content);

std::string structured_content_to_json(const XlsxStructuredContent& content);

// --- form 3: value trees -------------------------------------------------------

JsonValue sheet_identity_to_json_value(const XlsxSheetIdentity& identity);
JsonValue xlsx_anchor_to_json_value(const XlsxAnchor& anchor);
void value_map_insert_anchor(JsonObject& object, const XlsxAnchor& anchor);
// `key` is "anchor" or "target".
void value_map_insert_optional_anchor(JsonObject& object, std::string_view key,
                                      const std::optional<XlsxAnchor>& anchor);
void value_map_insert_sheet_identity(JsonObject& object, const XlsxSheetIdentity& identity);
void value_map_insert_local_sheet(JsonObject& object, const std::optional<XlsxSheetIdentity>& identity);
void value_map_insert_source(JsonObject& object, const std::optional<XlsxSourcePart>& source);
void value_map_insert_formula_result(JsonObject& object, const std::optional<XlsxFormulaResult>& result);
void value_map_insert_cell_merge(JsonObject& object, const std::optional<XlsxCellMerge>& merge);
void value_map_insert_included(JsonObject& object, const XlsxExportIncluded& included);
void value_map_insert_cells(JsonObject& object, std::span<const XlsxExportCell> cells);
void value_map_insert_merges(JsonObject& object, std::span<const XlsxExportMerge> merges);
void value_map_insert_tables(JsonObject& object, std::span<const XlsxExportTable> tables);
void value_map_insert_hyperlinks(JsonObject& object, std::span<const XlsxExportHyperlink> links);
void value_map_insert_objects(JsonObject& object, std::span<const XlsxExportObject> objects);
void value_map_insert_defined_names(JsonObject& object, std::span<const XlsxExportDefinedName> names);
void value_map_insert_diagnostics(JsonObject& object, std::span<const XlsxExportDiagnostic> diagnostics);
void value_map_insert_sheets(JsonObject& object, std::span<const XlsxExportSheet> sheets);
JsonValue markdown_anchor_to_json_value(const MarkdownAnchor& anchor);
JsonValue markdown_export_to_json_value(const MarkdownExport& result);
JsonValue structured_content_to_json_value(const XlsxStructuredContent& content);

// --- readers (from text; strict: unknown keys refused everywhere) --------------------

// JSON null reads as none; anything else is read by `read` and keeps its errors.
template <typename F>
auto read_optional(JsonReader& reader, F&& read)
    -> JsonResult<std::optional<typename decltype(read(reader))::value_type>> {
  using T = typename decltype(read(reader))::value_type;
  CMX_ASSIGN_OR_RETURN(bool null, reader.read_null_if_next());
  if (null) return std::optional<T>();
  CMX_ASSIGN_OR_RETURN(T value, read(reader));
  return std::optional<T>(std::move(value));
}

JsonResult<XlsxSheetIdentity> deserialize_xlsx_sheet_identity(JsonReader& reader);
JsonResult<XlsxSheetIdentity> deserialize_sheet_identity_from_content(const Content& content);
JsonResult<std::optional<XlsxSourcePart>> deserialize_xlsx_source_part(JsonReader& reader);
JsonResult<XlsxAnchor> deserialize_xlsx_anchor(JsonReader& reader);
JsonResult<std::optional<XlsxAnchor>> deserialize_optional_anchor(JsonReader& reader);
JsonResult<XlsxExportValue> deserialize_export_value(JsonReader& reader);
JsonResult<std::optional<XlsxCellMerge>> deserialize_xlsx_cell_merge(JsonReader& reader);
JsonResult<std::optional<std::string>> deserialize_optional_string(JsonReader& reader);
JsonResult<std::vector<std::string>> deserialize_string_list(JsonReader& reader);

JsonResult<XlsxExportCell> deserialize_export_cell(JsonReader& reader);
JsonResult<std::vector<XlsxExportCell>> deserialize_export_cell_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportMerge>> deserialize_export_merge_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportTable>> deserialize_export_table_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportHyperlink>> deserialize_export_hyperlink_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportObject>> deserialize_export_object_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportDefinedName>> deserialize_xlsx_export_defined_name_list(JsonReader& reader);
JsonResult<std::vector<XlsxExportDiagnostic>> deserialize_xlsx_export_diagnostic_list(JsonReader& reader);
JsonResult<XlsxExportSheet> deserialize_export_sheet(JsonReader& reader);
JsonResult<std::vector<XlsxExportSheet>> deserialize_export_sheet_list(JsonReader& reader);
JsonResult<XlsxStructuredContent> deserialize_structured_content(JsonReader& reader);

// A whole document text: refused over kMaxStructuredContentTextBytes before
// reading ("a request carries at most {} bytes"); otherwise the reading error
// with its place.
Result<XlsxStructuredContent, std::string> decode_structured_content(std::string_view text);

}  // namespace cmx::json
