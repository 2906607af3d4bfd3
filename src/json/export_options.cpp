#include "json/export_options.h"

#include <algorithm>

#include "json/rules.h"
#include "json/writer.h"

namespace cmx::json {

namespace {

constexpr std::string_view kRefusalWords[] = {"invalid-options", "invalid-scope", "limit-exceeded"};

// Every member may be left off the end of the array form.
constexpr FieldSpec kScopeFields[] = {{"sheet"}, {"range", Presence::Optional, /*array_default=*/true}};
constexpr RecordSpec kScopeSpec{"struct XlsxExportScope", kScopeFields};
constexpr FieldSpec kExportFields[] = {{"scope", Presence::Optional, true},
                                       {"includeHiddenSheets", Presence::Optional, true},
                                       {"includeHiddenRows", Presence::Optional, true},
                                       {"includeHiddenColumns", Presence::Optional, true},
                                       {"includeDefinedNames", Presence::Optional, true},
                                       {"includeHiddenNames", Presence::Optional, true},
                                       {"maxCells", Presence::Optional, true},
                                       {"maxBytes", Presence::Optional, true}};
constexpr RecordSpec kExportSpec{"struct XlsxExportOptions", kExportFields};
constexpr FieldSpec kMarkdownFields[] = {{"maxRows", Presence::Optional, true},
                                         {"maxColumns", Presence::Optional, true},
                                         {"maxCells", Presence::Optional, true},
                                         {"maxBytes", Presence::Optional, true}};
constexpr RecordSpec kMarkdownSpec{"struct XlsxMarkdownOptions", kMarkdownFields};

JsonResult<std::optional<uint32_t>> deserialize_optional_u32(JsonReader& reader) {
  return read_optional(reader, [](JsonReader& r) { return r.read_u32(); });
}

JsonResult<std::optional<bool>> deserialize_optional_bool(JsonReader& reader) {
  return read_optional(reader, [](JsonReader& r) { return r.read_bool(); });
}

JsonResult<XlsxExportScope> read_scope(JsonReader& reader) {
  XlsxExportScope scope;
  CMX_TRY(read_record(reader, kScopeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(scope.sheet, r.read_u32());
    } else {
      CMX_ASSIGN_OR_RETURN(scope.range, deserialize_optional_string(r));
    }
    return {};
  }));
  return scope;
}

template <typename T, typename Read>
Result<T, std::string> read_options_text(std::string_view text, Read&& read) {
  if (text.size() > kMaxOptionsTextBytes) {
    return unexpected("a request carries at most " + std::to_string(kMaxOptionsTextBytes) + " bytes");
  }
  auto result = read_json_text(text, read);
  if (!result) return unexpected(json_error_text(result.error()));
  return std::move(*result);
}

ExportRefusal refusal(ExportRefusalCode code, std::string message,
                      std::optional<XlsxAnchor> target = std::nullopt) {
  return ExportRefusal{code, std::move(target), std::move(message)};
}

// "{key} must be positive" / "{key} is at most {max}".
std::optional<ExportRefusal> check_count(std::string_view key, uint32_t value, uint32_t max) {
  if (value == 0) return refusal(ExportRefusalCode::InvalidOptions, std::string(key) + " must be positive");
  if (value > max) {
    return refusal(ExportRefusalCode::LimitExceeded, std::string(key) + " is at most " + std::to_string(max));
  }
  return std::nullopt;
}

}  // namespace

std::string_view export_refusal_code_word(ExportRefusalCode code) {
  return kRefusalWords[static_cast<size_t>(code)];
}

JsonResult<std::optional<std::vector<XlsxExportScope>>> deserialize_export_scope_list(JsonReader& reader) {
  return read_optional(reader, [](JsonReader& in) -> JsonResult<std::vector<XlsxExportScope>> {
    std::vector<XlsxExportScope> scope;
    CMX_TRY(read_list(in, [&](JsonReader& r) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(XlsxExportScope entry, read_scope(r));
      scope.push_back(std::move(entry));
      return {};
    }));
    return scope;
  });
}

JsonResult<XlsxExportOptions> read_export_options(JsonReader& reader) {
  XlsxExportOptions options;
  CMX_TRY(read_record(reader, kExportSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    std::optional<bool>* const flags[] = {&options.include_hidden_sheets, &options.include_hidden_rows,
                                          &options.include_hidden_columns, &options.include_defined_names,
                                          &options.include_hidden_names};
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(options.scope, deserialize_export_scope_list(r)); break; }
      case 1:
      case 2:
      case 3:
      case 4:
      case 5: { CMX_ASSIGN_OR_RETURN(*flags[index - 1], deserialize_optional_bool(r)); break; }
      case 6: { CMX_ASSIGN_OR_RETURN(options.max_cells, deserialize_optional_u32(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(options.max_bytes, deserialize_optional_u32(r)); }
    }
    return {};
  }));
  return options;
}

JsonResult<XlsxMarkdownOptions> read_markdown_options(JsonReader& reader) {
  XlsxMarkdownOptions options;
  CMX_TRY(read_record(reader, kMarkdownSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    std::optional<uint32_t>* const members[] = {&options.max_rows, &options.max_columns, &options.max_cells,
                                                &options.max_bytes};
    CMX_ASSIGN_OR_RETURN(*members[index], deserialize_optional_u32(r));
    return {};
  }));
  return options;
}

Result<XlsxExportOptions, std::string> deserialize_export_options(std::string_view text) {
  return read_options_text<XlsxExportOptions>(text, read_export_options);
}

Result<XlsxMarkdownOptions, std::string> deserialize_markdown_options(std::string_view text) {
  return read_options_text<XlsxMarkdownOptions>(text, read_markdown_options);
}

Result<ResolvedExportOptions, ExportRefusal> resolve_export_options(const XlsxExportOptions& options,
                                                                    std::span<const XlsxSheetIdentity> sheets,
                                                                    const ScopeRangeCheck& check_range) {
  ResolvedExportOptions resolved;
  resolved.max_cells = options.max_cells.value_or(kDefaultExportMaxCells);
  if (resolved.max_cells == 0) {
    return unexpected(refusal(ExportRefusalCode::InvalidOptions, "maxCells must be positive"));
  }
  if (resolved.max_cells > kMaxExportMaxCells) {
    return unexpected(refusal(ExportRefusalCode::LimitExceeded,
                              "maxCells is at most " + std::to_string(kMaxExportMaxCells)));
  }
  resolved.max_bytes = options.max_bytes.value_or(kDefaultExportMaxBytes);
  if (resolved.max_bytes > kMaxExportMaxBytes) {
    return unexpected(refusal(ExportRefusalCode::LimitExceeded,
                              "maxBytes is at most " + std::to_string(kMaxExportMaxBytes)));
  }
  if (resolved.max_bytes < kMinExportMaxBytes) {
    return unexpected(refusal(ExportRefusalCode::LimitExceeded,
                              "maxBytes must be at least " + std::to_string(kMinExportMaxBytes)));
  }
  if (options.scope) {
    if (options.scope->empty()) {
      return unexpected(refusal(ExportRefusalCode::InvalidScope, "scope must name at least one sheet"));
    }
    // One flag per sheet, not per entry: the entries are at most as many as
    // the text holds, the sheets as many as the workbook has.
    std::vector<bool> named(sheets.size(), false);
    for (const XlsxExportScope& entry : *options.scope) {
      if (entry.sheet >= sheets.size()) {
        return unexpected(refusal(ExportRefusalCode::InvalidScope,
                                  "sheet " + std::to_string(entry.sheet) + " does not exist; the workbook has " +
                                      std::to_string(sheets.size()) + " sheets"));
      }
      XlsxAnchor target = XlsxAnchorSheet{sheets[entry.sheet]};
      if (entry.range) {
        if (std::optional<std::string> message = check_range(*entry.range)) {
          return unexpected(refusal(ExportRefusalCode::InvalidScope, std::move(*message), std::move(target)));
        }
      }
      if (named[entry.sheet]) {
        return unexpected(refusal(ExportRefusalCode::InvalidScope,
                                  "sheet " + std::to_string(entry.sheet) + " appears more than once in scope",
                                  std::move(target)));
      }
      named[entry.sheet] = true;
      resolved.scope.push_back(entry);
    }
    std::sort(resolved.scope.begin(), resolved.scope.end(),
              [](const XlsxExportScope& a, const XlsxExportScope& b) { return a.sheet < b.sheet; });
  } else {
    resolved.scope.reserve(sheets.size());
    for (size_t i = 0; i < sheets.size(); ++i) resolved.scope.push_back(XlsxExportScope{static_cast<uint32_t>(i), {}});
  }
  resolved.included.hidden_sheets = options.include_hidden_sheets.value_or(false);
  resolved.included.hidden_rows = options.include_hidden_rows.value_or(false);
  resolved.included.hidden_columns = options.include_hidden_columns.value_or(false);
  resolved.included.defined_names = options.include_defined_names.value_or(true);
  resolved.included.hidden_names = options.include_hidden_names.value_or(false);
  return resolved;
}

Result<ResolvedMarkdownOptions, ExportRefusal> validate_markdown_options(const XlsxMarkdownOptions& options) {
  ResolvedMarkdownOptions resolved;
  resolved.max_bytes = options.max_bytes.value_or(kDefaultMarkdownMaxBytes);
  if (resolved.max_bytes < kMinMarkdownMaxBytes) {
    return unexpected(refusal(ExportRefusalCode::LimitExceeded,
                              "maxBytes must be at least " + std::to_string(kMinMarkdownMaxBytes)));
  }
  resolved.max_rows = options.max_rows.value_or(kDefaultMarkdownMaxRows);
  if (auto refused = check_count("maxRows", resolved.max_rows, kMaxMarkdownMaxRows)) return unexpected(*refused);
  resolved.max_columns = options.max_columns.value_or(kDefaultMarkdownMaxColumns);
  if (auto refused = check_count("maxColumns", resolved.max_columns, kMaxMarkdownMaxColumns)) {
    return unexpected(*refused);
  }
  resolved.max_cells = options.max_cells.value_or(kDefaultMarkdownMaxCells);
  if (auto refused = check_count("maxCells", resolved.max_cells, kMaxMarkdownMaxCells)) return unexpected(*refused);
  if (resolved.max_bytes > kMaxMarkdownMaxBytes) {
    return unexpected(refusal(ExportRefusalCode::LimitExceeded,
                              "maxBytes is at most " + std::to_string(kMaxMarkdownMaxBytes)));
  }
  return resolved;
}

JsonObject export_refusal_to_json_value(std::string_view version, const ExportRefusal& refused) {
  JsonObject answer;
  value_map_insert_str(answer, "version", version);
  JsonObject failure;
  value_map_insert_str(failure, "code", export_refusal_code_word(refused.code));
  value_map_insert_optional_anchor(failure, "target", refused.target);
  value_map_insert_str(failure, "message", refused.message);
  answer.insert("failure", JsonValue(std::move(failure)));
  return answer;
}

}  // namespace cmx::json
