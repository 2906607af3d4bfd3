// The settings texts of the structured and Markdown exports: strict readers,
// the defaults and bounds applied before anything is exported, and the
// refusal answer of a refused export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/export_records.h"
#include "json/reader.h"
#include "json/value.h"

namespace cmx::json {

// An options text is refused above this size before it is read.
inline constexpr size_t kMaxOptionsTextBytes = 16777216;

inline constexpr uint32_t kDefaultExportMaxCells = 100000;
inline constexpr uint32_t kMaxExportMaxCells = 1000000;
inline constexpr uint32_t kDefaultExportMaxBytes = 8388608;
inline constexpr uint32_t kMinExportMaxBytes = 1024;
inline constexpr uint32_t kMaxExportMaxBytes = 16777216;

inline constexpr uint32_t kDefaultMarkdownMaxRows = 200;
inline constexpr uint32_t kMaxMarkdownMaxRows = 100000;
inline constexpr uint32_t kDefaultMarkdownMaxColumns = 50;
inline constexpr uint32_t kMaxMarkdownMaxColumns = 16384;
inline constexpr uint32_t kDefaultMarkdownMaxCells = 10000;
inline constexpr uint32_t kMaxMarkdownMaxCells = 1000000;
inline constexpr uint32_t kDefaultMarkdownMaxBytes = 8388608;
inline constexpr uint32_t kMinMarkdownMaxBytes = 4096;
inline constexpr uint32_t kMaxMarkdownMaxBytes = 16777216;

struct XlsxExportScope {
  uint32_t sheet = 0;                // zero-based sheet position
  std::optional<std::string> range;  // none: the sheet's used range
  friend bool operator==(const XlsxExportScope&, const XlsxExportScope&) = default;
};

// Every member optional; absent members take their defaults when resolved.
struct XlsxExportOptions {
  std::optional<std::vector<XlsxExportScope>> scope;
  std::optional<bool> include_hidden_sheets;
  std::optional<bool> include_hidden_rows;
  std::optional<bool> include_hidden_columns;
  std::optional<bool> include_defined_names;
  std::optional<bool> include_hidden_names;
  std::optional<uint32_t> max_cells;
  std::optional<uint32_t> max_bytes;
  friend bool operator==(const XlsxExportOptions&, const XlsxExportOptions&) = default;
};

struct XlsxMarkdownOptions {
  std::optional<uint32_t> max_rows;
  std::optional<uint32_t> max_columns;
  std::optional<uint32_t> max_cells;
  std::optional<uint32_t> max_bytes;
  friend bool operator==(const XlsxMarkdownOptions&, const XlsxMarkdownOptions&) = default;
};

enum class ExportRefusalCode : uint8_t { InvalidOptions, InvalidScope, LimitExceeded };
std::string_view export_refusal_code_word(ExportRefusalCode code);

struct ExportRefusal {
  ExportRefusalCode code = ExportRefusalCode::InvalidOptions;
  std::optional<XlsxAnchor> target;
  std::string message;
  friend bool operator==(const ExportRefusal&, const ExportRefusal&) = default;
};

// The options after defaults and bounds; the scope in ascending sheet
// position, every sheet over its used range when no scope was given.
struct ResolvedExportOptions {
  std::vector<XlsxExportScope> scope;
  XlsxExportIncluded included;
  uint32_t max_cells = kDefaultExportMaxCells;
  uint32_t max_bytes = kDefaultExportMaxBytes;
  friend bool operator==(const ResolvedExportOptions&, const ResolvedExportOptions&) = default;
};

struct ResolvedMarkdownOptions {
  uint32_t max_rows = kDefaultMarkdownMaxRows;
  uint32_t max_columns = kDefaultMarkdownMaxColumns;
  uint32_t max_cells = kDefaultMarkdownMaxCells;
  uint32_t max_bytes = kDefaultMarkdownMaxBytes;
  friend bool operator==(const ResolvedMarkdownOptions&, const ResolvedMarkdownOptions&) = default;
};

// --- readers ---------------------------------------------------------------------

JsonResult<std::optional<std::vector<XlsxExportScope>>> deserialize_export_scope_list(JsonReader& reader);
JsonResult<XlsxExportOptions> read_export_options(JsonReader& reader);
JsonResult<XlsxMarkdownOptions> read_markdown_options(JsonReader& reader);

// Whole texts: the size refusal ("a request carries at most {} bytes"), or the
// first reading error with its place.
Result<XlsxExportOptions, std::string> deserialize_export_options(std::string_view text);
Result<XlsxMarkdownOptions, std::string> deserialize_markdown_options(std::string_view text);

// --- defaults and bounds ------------------------------------------------------------

// The message that refuses a scope range, or none when the range is one cell
// or one rectangle on the sheet.
using ScopeRangeCheck = std::function<std::optional<std::string>(std::string_view range)>;

// `sheets` holds the identity of every sheet of the workbook, in position
// order; a scope refusal names the sheet's anchor as its target.
Result<ResolvedExportOptions, ExportRefusal> resolve_export_options(const XlsxExportOptions& options,
                                                                    std::span<const XlsxSheetIdentity> sheets,
                                                                    const ScopeRangeCheck& check_range);
Result<ResolvedMarkdownOptions, ExportRefusal> validate_markdown_options(const XlsxMarkdownOptions& options);

// {"failure":{"code","message","target"},"version"}; the caller adds "ok".
JsonObject export_refusal_to_json_value(std::string_view version, const ExportRefusal& refusal);

}  // namespace cmx::json
