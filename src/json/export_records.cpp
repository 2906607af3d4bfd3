#include "json/export_records.h"

#include "json/cell_records.h"
#include "json/rules.h"

namespace cmx::json {

namespace {

template <typename Sink>
using Emitter = ExportEmitter<Sink>;

constexpr std::string_view kSheetKindWords[] = {"worksheet", "chartsheet", "dialogsheet", "macrosheet",
                                                "other"};
constexpr std::string_view kVisibilityWords[] = {"visible", "hidden", "veryHidden", "unknown"};
constexpr std::string_view kFormulaResultWords[] = {"unverified", "missing", "uncertain", "cycle",
                                                    "limited"};
constexpr std::string_view kObjectKindWords[] = {"chart",   "picture",      "shape",
                                                 "group",   "connector",    "diagram",
                                                 "graphicFrame", "contentPart", "unknown"};
constexpr std::string_view kSeverityWords[] = {"info", "warning", "error"};
constexpr std::string_view kDiagnosticWords[] = {
    "hidden-content-excluded", "visibility-unknown",     "unsupported-sheet",   "unsupported-content",
    "object-placeholder",      "unreadable-object",      "provenance-unavailable", "comments-omitted",
    "rich-text-omitted",       "formatting-approximate", "formula-cache-unverified",
    "formula-result-missing",  "calculation-failure",    "value-unavailable",   "truncated",
    "markdown-lossy"};
constexpr std::string_view kScopeWords[] = {"session", "snapshot"};
constexpr std::string_view kDateSystemWords[] = {"1900", "1904"};
constexpr std::string_view kPolicyWords[] = {"asStored"};
constexpr std::string_view kFreshnessWords[] = {"unverified"};

constexpr std::string_view kAnchorWords[] = {"sheet", "cell", "range", "definedName", "sourcePart"};
constexpr TaggedSpec kAnchorTag{"XlsxAnchor", "kind", kAnchorWords};
constexpr std::string_view kValueWords[] = {"empty", "number", "text", "bool", "error", "unavailable"};
constexpr TaggedSpec kValueTag{"XlsxExportValue", "kind", kValueWords};

constexpr FieldSpec kIdentityFields[] = {{"sheetId"}, {"index"}, {"name"}};
constexpr RecordSpec kIdentitySpec{"struct XlsxSheetIdentity", kIdentityFields};
constexpr FieldSpec kSourceFields[] = {{"part"}, {"partSha256"}, {"path"}};
constexpr RecordSpec kSourceSpec{"struct XlsxSourcePart", kSourceFields};

constexpr FieldSpec kAnchorSheetFields[] = {{"sheet"}};
constexpr RecordSpec kAnchorSheetSpec{"struct variant XlsxAnchor::Sheet", kAnchorSheetFields};
constexpr FieldSpec kAnchorA1Fields[] = {{"sheet"}, {"a1"}};
constexpr RecordSpec kAnchorCellSpec{"struct variant XlsxAnchor::Cell", kAnchorA1Fields};
constexpr RecordSpec kAnchorRangeSpec{"struct variant XlsxAnchor::Range", kAnchorA1Fields};
constexpr FieldSpec kAnchorNameFields[] = {{"name"}, {"localSheet", Presence::Optional}, {"ordinal"}};
constexpr RecordSpec kAnchorNameSpec{"struct variant XlsxAnchor::DefinedName", kAnchorNameFields};
constexpr RecordSpec kAnchorSourceSpec{"struct variant XlsxAnchor::SourcePart", kSourceFields};

constexpr FieldSpec kValueField[] = {{"value"}};
constexpr RecordSpec kNumberSpec{"struct variant XlsxExportValue::Number", kValueField};
constexpr RecordSpec kTextSpec{"struct variant XlsxExportValue::Text", kValueField};
constexpr RecordSpec kBoolSpec{"struct variant XlsxExportValue::Bool", kValueField};
constexpr RecordSpec kErrorSpec{"struct variant XlsxExportValue::Error", kValueField};
constexpr FieldSpec kReasonField[] = {{"reason"}};
constexpr RecordSpec kUnavailableSpec{"struct variant XlsxExportValue::Unavailable", kReasonField};

constexpr FieldSpec kCellMergeFields[] = {{"range"}, {"origin"}};
constexpr RecordSpec kCellMergeSpec{"struct XlsxCellMerge", kCellMergeFields};

constexpr FieldSpec kCellFields[] = {{"id"},
                                     {"anchor"},
                                     {"value"},
                                     {"formula", Presence::Optional},
                                     {"displayText"},
                                     {"numberFormat"},
                                     {"formulaResult", Presence::Optional},
                                     {"merge", Presence::Optional}};
constexpr RecordSpec kCellSpec{"struct XlsxExportCell", kCellFields};
constexpr FieldSpec kMergeFields[] = {{"id"}, {"anchor"}, {"clipped"}};
constexpr RecordSpec kMergeSpec{"struct XlsxExportMerge", kMergeFields};
constexpr FieldSpec kTableFields[] = {{"id"},         {"anchor"},  {"name"},   {"headerRows"},
                                      {"totalsRows"}, {"columns"}, {"clipped"}};
constexpr RecordSpec kTableSpec{"struct XlsxExportTable", kTableFields};
constexpr FieldSpec kHyperlinkFields[] = {{"id"},
                                          {"anchor"},
                                          {"externalTarget", Presence::Optional},
                                          {"location", Presence::Optional},
                                          {"tooltip", Presence::Optional},
                                          {"display", Presence::Optional},
                                          {"clipped"}};
constexpr RecordSpec kHyperlinkSpec{"struct XlsxExportHyperlink", kHyperlinkFields};
constexpr FieldSpec kObjectFields[] = {{"id"},
                                       {"kind"},
                                       {"anchor", Presence::Optional},
                                       {"name", Presence::Optional},
                                       {"altText", Presence::Optional},
                                       {"title", Presence::Optional},
                                       {"hidden"},
                                       {"part", Presence::Optional},
                                       {"source", Presence::Optional}};
constexpr RecordSpec kObjectSpec{"struct XlsxExportObject", kObjectFields};
constexpr FieldSpec kDefinedNameFields[] = {{"id"},      {"anchor"}, {"name"},
                                            {"formula"}, {"hidden"}, {"localSheet", Presence::Optional}};
constexpr RecordSpec kDefinedNameSpec{"struct XlsxExportDefinedName", kDefinedNameFields};
constexpr FieldSpec kDiagnosticFields[] = {
    {"code"}, {"severity"}, {"anchor", Presence::Optional}, {"message"}};
constexpr RecordSpec kDiagnosticSpec{"struct XlsxExportDiagnostic", kDiagnosticFields};
constexpr FieldSpec kSheetFields[] = {{"id"},
                                      {"anchor"},
                                      {"kind"},
                                      {"visibility"},
                                      {"usedRange", Presence::Optional},
                                      {"selectedRange", Presence::Optional},
                                      {"hiddenRows"},
                                      {"hiddenColumns"},
                                      {"merges"},
                                      {"tables"},
                                      {"hyperlinks"},
                                      {"objects"},
                                      {"cells"},
                                      {"source", Presence::Optional},
                                      {"truncated"}};
constexpr RecordSpec kSheetSpec{"struct XlsxExportSheet", kSheetFields};
constexpr FieldSpec kCalculationFields[] = {{"policy"}, {"freshness"}};
constexpr RecordSpec kCalculationSpec{"struct XlsxCalculationState", kCalculationFields};
constexpr FieldSpec kIncludedFields[] = {
    {"hiddenSheets"}, {"hiddenRows"}, {"hiddenColumns"}, {"definedNames"}, {"hiddenNames"}};
constexpr RecordSpec kIncludedSpec{"struct XlsxExportIncluded", kIncludedFields};
constexpr FieldSpec kContentFields[] = {{"schemaVersion"}, {"anchorScope"},  {"dateSystem"},
                                        {"calculation"},   {"included"},     {"sheets"},
                                        {"definedNames"},  {"diagnostics"},  {"truncated"}};
constexpr RecordSpec kContentSpec{"struct XlsxStructuredContent", kContentFields};

std::optional<std::string_view> view(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

template <typename Sink>
void write_identity_object(Emitter<Sink>& w, const XlsxSheetIdentity& identity) {
  w.begin_object();
  w.field_str("sheetId", identity.sheet_id);
  w.field_u32("index", identity.index);
  w.field_str("name", identity.name);
  w.end_object();
}

template <typename Sink>
void write_source_members(Emitter<Sink>& w, const XlsxSourcePart& source) {
  w.field_str("part", source.part);
  w.field_str("partSha256", source.part_sha256);
  write_field_path(w, source.path);
}

}  // namespace

std::string_view sheet_kind_word(XlsxSheetKind kind) { return kSheetKindWords[static_cast<size_t>(kind)]; }
std::string_view sheet_visibility_word(XlsxSheetVisibility visibility) {
  return kVisibilityWords[static_cast<size_t>(visibility)];
}
std::string_view formula_result_word(XlsxFormulaResult result) {
  return kFormulaResultWords[static_cast<size_t>(result)];
}
std::string_view object_kind_word(XlsxObjectKind kind) { return kObjectKindWords[static_cast<size_t>(kind)]; }
std::string_view severity_word(XlsxSeverity severity) { return kSeverityWords[static_cast<size_t>(severity)]; }
std::string_view diagnostic_code_word(XlsxDiagnosticCode code) {
  return kDiagnosticWords[static_cast<size_t>(code)];
}
std::string_view anchor_scope_word(XlsxAnchorScope scope) { return kScopeWords[static_cast<size_t>(scope)]; }
std::string_view date_system_word(XlsxDateSystem system) {
  return kDateSystemWords[static_cast<size_t>(system)];
}

// --- form 1 and form 2 ------------------------------------------------------------

template <typename Sink>
void serialize_sheet_identity(Emitter<Sink>& w, const XlsxSheetIdentity& identity) {
  write_identity_object(w, identity);
}

template <typename Sink>
void write_field_path(Emitter<Sink>& w, std::span<const uint32_t> path) {
  w.key("path");
  w.begin_array();
  for (uint32_t step : path) {
    w.begin_element();
    w.value_u64(step);
  }
  w.end_array();
}

template <typename Sink>
void write_field_sheet_identity(Emitter<Sink>& w, const XlsxSheetIdentity& identity) {
  w.key("sheet");
  write_identity_object(w, identity);
}

template <typename Sink>
void write_field_local_sheet(Emitter<Sink>& w, const std::optional<XlsxSheetIdentity>& identity) {
  w.key("localSheet");
  if (identity) write_identity_object(w, *identity); else w.value_null();
}

template <typename Sink>
void write_field_source(Emitter<Sink>& w, const std::optional<XlsxSourcePart>& source) {
  w.key("source");
  if (!source) {
    w.value_null();
    return;
  }
  w.begin_object();
  write_source_members(w, *source);
  w.end_object();
}

template <typename Sink>
void serialize_xlsx_anchor(Emitter<Sink>& w, const XlsxAnchor& anchor) {
  w.begin_object();
  w.field_kind(kAnchorWords[anchor.index()]);
  std::visit(
      [&](const auto& variant) {
        using T = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<T, XlsxAnchorSheet>) {
          write_field_sheet_identity(w, variant.sheet);
        } else if constexpr (std::is_same_v<T, XlsxAnchorCell> || std::is_same_v<T, XlsxAnchorRange>) {
          write_field_sheet_identity(w, variant.sheet);
          w.field_str("a1", variant.a1);
        } else if constexpr (std::is_same_v<T, XlsxAnchorDefinedName>) {
          w.field_str("name", variant.name);
          write_field_local_sheet(w, variant.local_sheet);
          w.field_u32("ordinal", variant.ordinal);
        } else {
          write_source_members(w, variant.source);
        }
      },
      anchor);
  w.end_object();
}

template <typename Sink>
void write_field_anchor(Emitter<Sink>& w, const XlsxAnchor& anchor) {
  w.key("anchor");
  serialize_xlsx_anchor(w, anchor);
}

template <typename Sink>
void write_field_optional_anchor(Emitter<Sink>& w, const std::optional<XlsxAnchor>& anchor) {
  w.key("anchor");
  if (anchor) serialize_xlsx_anchor(w, *anchor); else w.value_null();
}

template <typename Sink>
void serialize_export_value(Emitter<Sink>& w, const XlsxExportValue& value) {
  w.begin_object();
  w.field_kind(kValueWords[value.index()]);
  std::visit(
      [&](const auto& variant) {
        using T = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<T, XlsxValueNumber>) {
          w.field_f64("value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueText>) {
          w.field_str("value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueBool>) {
          w.field_bool("value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueError>) {
          w.field_str("value", model::error_code_text(variant.value));
        } else if constexpr (std::is_same_v<T, XlsxValueUnavailable>) {
          w.field_str("reason", variant.reason);
        }
      },
      value);
  w.end_object();
}

template <typename Sink>
void serialize_export_cell(Emitter<Sink>& w, const XlsxExportCell& cell) {
  w.begin_object();
  w.field_str("id", cell.id);
  write_field_anchor(w, cell.anchor);
  w.key("value");
  serialize_export_value(w, cell.value);
  w.field_optional_string("formula", view(cell.formula));
  w.field_str("displayText", cell.display_text);
  w.field_str("numberFormat", cell.number_format);
  std::optional<std::string_view> result;
  if (cell.formula_result) result = formula_result_word(*cell.formula_result);
  w.field_optional_string("formulaResult", result);
  w.key("merge");
  if (cell.merge) {
    w.begin_object();
    w.field_str("range", cell.merge->range);
    w.field_bool("origin", cell.merge->origin);
    w.end_object();
  } else {
    w.value_null();
  }
  w.end_object();
}

template <typename Sink>
void serialize_export_merge(Emitter<Sink>& w, const XlsxExportMerge& merge) {
  w.begin_object();
  w.field_str("id", merge.id);
  write_field_anchor(w, merge.anchor);
  w.field_bool("clipped", merge.clipped);
  w.end_object();
}

template <typename Sink>
void serialize_export_table(Emitter<Sink>& w, const XlsxExportTable& table) {
  w.begin_object();
  w.field_str("id", table.id);
  write_field_anchor(w, table.anchor);
  w.field_str("name", table.name);
  w.field_u32("headerRows", table.header_rows);
  w.field_u32("totalsRows", table.totals_rows);
  w.field_string_list("columns", table.columns);
  w.field_bool("clipped", table.clipped);
  w.end_object();
}

template <typename Sink>
void serialize_export_hyperlink(Emitter<Sink>& w, const XlsxExportHyperlink& link) {
  w.begin_object();
  w.field_str("id", link.id);
  write_field_anchor(w, link.anchor);
  w.field_optional_string("externalTarget", view(link.external_target));
  w.field_optional_string("location", view(link.location));
  w.field_optional_string("tooltip", view(link.tooltip));
  w.field_optional_string("display", view(link.display));
  w.field_bool("clipped", link.clipped);
  w.end_object();
}

template <typename Sink>
void serialize_export_object(Emitter<Sink>& w, const XlsxExportObject& object) {
  w.begin_object();
  w.field_str("id", object.id);
  w.field_str("kind", object_kind_word(object.kind));
  write_field_optional_anchor(w, object.anchor);
  w.field_optional_string("name", view(object.name));
  w.field_optional_string("altText", view(object.alt_text));
  w.field_optional_string("title", view(object.title));
  w.field_bool("hidden", object.hidden);
  w.field_optional_string("part", view(object.part));
  write_field_source(w, object.source);
  w.end_object();
}

template <typename Sink>
void serialize_export_defined_name(Emitter<Sink>& w, const XlsxExportDefinedName& name) {
  w.begin_object();
  w.field_str("id", name.id);
  write_field_anchor(w, name.anchor);
  w.field_str("name", name.name);
  w.field_str("formula", name.formula);
  w.field_bool("hidden", name.hidden);
  write_field_local_sheet(w, name.local_sheet);
  w.end_object();
}

template <typename Sink>
void serialize_export_diagnostic(Emitter<Sink>& w, const XlsxExportDiagnostic& diagnostic) {
  w.begin_object();
  w.field_str("code", diagnostic_code_word(diagnostic.code));
  w.field_str("severity", severity_word(diagnostic.severity));
  write_field_optional_anchor(w, diagnostic.anchor);
  w.field_str("message", diagnostic.message);
  w.end_object();
}

template <typename Sink>
void write_field_diagnostics(Emitter<Sink>& w, std::span<const XlsxExportDiagnostic> diagnostics) {
  w.field_list("diagnostics", diagnostics, [&](const XlsxExportDiagnostic& d) { serialize_export_diagnostic(w, d); });
}

template <typename Sink>
void serialize_export_sheet(Emitter<Sink>& w, const XlsxExportSheet& sheet) {
  w.begin_object();
  w.field_str("id", sheet.id);
  write_field_anchor(w, sheet.anchor);
  w.field_str("kind", sheet_kind_word(sheet.kind));
  w.field_str("visibility", sheet_visibility_word(sheet.visibility));
  w.field_optional_string("usedRange", view(sheet.used_range));
  w.field_optional_string("selectedRange", view(sheet.selected_range));
  w.field_string_list("hiddenRows", sheet.hidden_rows);
  w.field_string_list("hiddenColumns", sheet.hidden_columns);
  w.field_list("merges", sheet.merges, [&](const XlsxExportMerge& m) { serialize_export_merge(w, m); });
  w.field_list("tables", sheet.tables, [&](const XlsxExportTable& t) { serialize_export_table(w, t); });
  w.field_list("hyperlinks", sheet.hyperlinks, [&](const XlsxExportHyperlink& h) { serialize_export_hyperlink(w, h); });
  w.field_list("objects", sheet.objects, [&](const XlsxExportObject& o) { serialize_export_object(w, o); });
  w.field_list("cells", sheet.cells, [&](const XlsxExportCell& c) { serialize_export_cell(w, c); });
  write_field_source(w, sheet.source);
  w.field_bool("truncated", sheet.truncated);
  w.end_object();
}

template <typename Sink>
void serialize_markdown_anchor(Emitter<Sink>& w, const MarkdownAnchor& anchor) {
  w.begin_object();
  w.field_str("marker", anchor.marker);
  write_field_anchor(w, anchor.anchor);
  w.end_object();
}

template <typename Sink>
void serialize_markdown_export(Emitter<Sink>& w, const MarkdownExport& result) {
  w.begin_object();
  w.field_str("markdown", result.markdown);
  w.field_list("anchors", result.anchors, [&](const MarkdownAnchor& a) { serialize_markdown_anchor(w, a); });
  write_field_diagnostics(w, std::span<const XlsxExportDiagnostic>(result.diagnostics));
  w.field_bool("truncated", result.truncated);
  w.end_object();
}

template <typename Sink>
void serialize_structured_content(Emitter<Sink>& w, const XlsxStructuredContent& content) {
  w.begin_object();
  w.key("schemaVersion");
  w.value_u64(1);
  w.field_str("anchorScope", anchor_scope_word(content.anchor_scope));
  w.field_str("dateSystem", date_system_word(content.date_system));
  w.key("calculation");
  w.begin_object();
  w.field_str("policy", kPolicyWords[0]);
  w.field_str("freshness", kFreshnessWords[0]);
  w.end_object();
  w.key("included");
  w.begin_object();
  w.field_bool("hiddenSheets", content.included.hidden_sheets);
  w.field_bool("hiddenRows", content.included.hidden_rows);
  w.field_bool("hiddenColumns", content.included.hidden_columns);
  w.field_bool("definedNames", content.included.defined_names);
  w.field_bool("hiddenNames", content.included.hidden_names);
  w.end_object();
  w.field_list("sheets", content.sheets, [&](const XlsxExportSheet& s) { serialize_export_sheet(w, s); });
  w.field_list("definedNames", content.defined_names,
               [&](const XlsxExportDefinedName& n) { serialize_export_defined_name(w, n); });
  write_field_diagnostics(w, std::span<const XlsxExportDiagnostic>(content.diagnostics));
  w.field_bool("truncated", content.truncated);
  w.end_object();
}

#define CMX_EXPORT_WRITERS(Sink)                                                                    \
  template void serialize_sheet_identity(Emitter<Sink>&, const XlsxSheetIdentity&);                 \
  template void serialize_xlsx_anchor(Emitter<Sink>&, const XlsxAnchor&);                           \
  template void write_field_anchor(Emitter<Sink>&, const XlsxAnchor&);                              \
  template void write_field_optional_anchor(Emitter<Sink>&, const std::optional<XlsxAnchor>&);      \
  template void write_field_sheet_identity(Emitter<Sink>&, const XlsxSheetIdentity&);               \
  template void write_field_local_sheet(Emitter<Sink>&, const std::optional<XlsxSheetIdentity>&);   \
  template void write_field_source(Emitter<Sink>&, const std::optional<XlsxSourcePart>&);           \
  template void write_field_path(Emitter<Sink>&, std::span<const uint32_t>);                        \
  template void serialize_export_value(Emitter<Sink>&, const XlsxExportValue&);                     \
  template void serialize_export_cell(Emitter<Sink>&, const XlsxExportCell&);                       \
  template void serialize_export_merge(Emitter<Sink>&, const XlsxExportMerge&);                     \
  template void serialize_export_table(Emitter<Sink>&, const XlsxExportTable&);                     \
  template void serialize_export_hyperlink(Emitter<Sink>&, const XlsxExportHyperlink&);             \
  template void serialize_export_object(Emitter<Sink>&, const XlsxExportObject&);                   \
  template void serialize_export_defined_name(Emitter<Sink>&, const XlsxExportDefinedName&);        \
  template void serialize_export_diagnostic(Emitter<Sink>&, const XlsxExportDiagnostic&);           \
  template void write_field_diagnostics(Emitter<Sink>&, std::span<const XlsxExportDiagnostic>);     \
  template void serialize_export_sheet(Emitter<Sink>&, const XlsxExportSheet&);                     \
  template void serialize_markdown_anchor(Emitter<Sink>&, const MarkdownAnchor&);                   \
  template void serialize_markdown_export(Emitter<Sink>&, const MarkdownExport&);                   \
  template void serialize_structured_content(Emitter<Sink>&, const XlsxStructuredContent&);
CMX_EXPORT_WRITERS(detail::TextSink)
CMX_EXPORT_WRITERS(detail::CountSink)
#undef CMX_EXPORT_WRITERS

namespace {

template <typename T, typename F>
void add_count(uint64_t& total, const T& record, F&& write) {
  ByteCounter counter;
  write(counter, record);
  total += counter.total();
}

}  // namespace

void count_xlsx_anchor_bytes(const XlsxAnchor& anchor, uint64_t& total) {
  add_count(total, anchor, [](ByteCounter& c, const XlsxAnchor& a) { serialize_xlsx_anchor(c, a); });
}
void count_export_cell_bytes(const XlsxExportCell& cell, uint64_t& total) {
  add_count(total, cell, [](ByteCounter& c, const XlsxExportCell& r) { serialize_export_cell(c, r); });
}
void count_export_sheet_bytes(const XlsxExportSheet& sheet, uint64_t& total) {
  add_count(total, sheet, [](ByteCounter& c, const XlsxExportSheet& r) { serialize_export_sheet(c, r); });
}
void count_export_merge_bytes(const XlsxExportMerge& merge, uint64_t& total) {
  add_count(total, merge, [](ByteCounter& c, const XlsxExportMerge& r) { serialize_export_merge(c, r); });
}
void count_export_table_bytes(const XlsxExportTable& table, uint64_t& total) {
  add_count(total, table, [](ByteCounter& c, const XlsxExportTable& r) { serialize_export_table(c, r); });
}
void count_export_hyperlink_bytes(const XlsxExportHyperlink& link, uint64_t& total) {
  add_count(total, link, [](ByteCounter& c, const XlsxExportHyperlink& r) { serialize_export_hyperlink(c, r); });
}
void count_export_object_bytes(const XlsxExportObject& object, uint64_t& total) {
  add_count(total, object, [](ByteCounter& c, const XlsxExportObject& r) { serialize_export_object(c, r); });
}
void count_export_defined_name_bytes(const XlsxExportDefinedName& name, uint64_t& total) {
  add_count(total, name,
            [](ByteCounter& c, const XlsxExportDefinedName& r) { serialize_export_defined_name(c, r); });
}
void count_export_diagnostic_bytes(const XlsxExportDiagnostic& diagnostic, uint64_t& total) {
  add_count(total, diagnostic,
            [](ByteCounter& c, const XlsxExportDiagnostic& r) { serialize_export_diagnostic(c, r); });
}
uint64_t count_structured_content_bytes(const XlsxStructuredContent& content) {
  uint64_t total = 0;
  add_count(total, content,
            [](ByteCounter& c, const XlsxStructuredContent& r) { serialize_structured_content(c, r); });
  return total;
}

std::string structured_content_to_json(const XlsxStructuredContent& content) {
  CompactWriter writer;
  serialize_structured_content(writer, content);
  return writer.take();
}

// --- form 3 ----------------------------------------------------------------------

namespace {

JsonValue source_to_json_value(const XlsxSourcePart& source) {
  JsonObject object;
  value_map_insert_str(object, "part", source.part);
  value_map_insert_str(object, "partSha256", source.part_sha256);
  value_map_insert_path(object, source.path);
  return JsonValue(std::move(object));
}

template <typename T, typename F>
void insert_list(JsonObject& object, std::string_view key, std::span<const T> items, F&& to_value) {
  JsonValue::Array array;
  array.reserve(items.size());
  for (const T& item : items) array.push_back(to_value(item));
  object.insert(std::string(key), JsonValue(std::move(array)));
}

JsonValue export_value_to_json_value(const XlsxExportValue& value) {
  JsonObject object;
  value_map_insert_kind(object, kValueWords[value.index()]);
  std::visit(
      [&](const auto& variant) {
        using T = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<T, XlsxValueNumber>) {
          value_map_insert_f64(object, "value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueText>) {
          value_map_insert_str(object, "value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueBool>) {
          value_map_insert_bool(object, "value", variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueError>) {
          value_map_insert_error_value(object, variant.value);
        } else if constexpr (std::is_same_v<T, XlsxValueUnavailable>) {
          value_map_insert_str(object, "reason", variant.reason);
        }
      },
      value);
  return JsonValue(std::move(object));
}

JsonValue cell_to_json_value(const XlsxExportCell& cell) {
  JsonObject object;
  value_map_insert_str(object, "id", cell.id);
  value_map_insert_anchor(object, cell.anchor);
  object.insert("value", export_value_to_json_value(cell.value));
  value_map_insert_optional_string(object, "formula", view(cell.formula));
  value_map_insert_str(object, "displayText", cell.display_text);
  value_map_insert_str(object, "numberFormat", cell.number_format);
  value_map_insert_formula_result(object, cell.formula_result);
  value_map_insert_cell_merge(object, cell.merge);
  return JsonValue(std::move(object));
}

JsonValue merge_to_json_value(const XlsxExportMerge& merge) {
  JsonObject object;
  value_map_insert_str(object, "id", merge.id);
  value_map_insert_anchor(object, merge.anchor);
  value_map_insert_bool(object, "clipped", merge.clipped);
  return JsonValue(std::move(object));
}

JsonValue table_to_json_value(const XlsxExportTable& table) {
  JsonObject object;
  value_map_insert_str(object, "id", table.id);
  value_map_insert_anchor(object, table.anchor);
  value_map_insert_str(object, "name", table.name);
  value_map_insert_u32(object, "headerRows", table.header_rows);
  value_map_insert_u32(object, "totalsRows", table.totals_rows);
  value_map_insert_string_list(object, "columns", table.columns);
  value_map_insert_bool(object, "clipped", table.clipped);
  return JsonValue(std::move(object));
}

JsonValue hyperlink_to_json_value(const XlsxExportHyperlink& link) {
  JsonObject object;
  value_map_insert_str(object, "id", link.id);
  value_map_insert_anchor(object, link.anchor);
  value_map_insert_optional_string(object, "externalTarget", view(link.external_target));
  value_map_insert_optional_string(object, "location", view(link.location));
  value_map_insert_optional_string(object, "tooltip", view(link.tooltip));
  value_map_insert_optional_string(object, "display", view(link.display));
  value_map_insert_bool(object, "clipped", link.clipped);
  return JsonValue(std::move(object));
}

JsonValue object_to_json_value(const XlsxExportObject& item) {
  JsonObject object;
  value_map_insert_str(object, "id", item.id);
  value_map_insert_str(object, "kind", object_kind_word(item.kind));
  value_map_insert_optional_anchor(object, "anchor", item.anchor);
  value_map_insert_optional_string(object, "name", view(item.name));
  value_map_insert_optional_string(object, "altText", view(item.alt_text));
  value_map_insert_optional_string(object, "title", view(item.title));
  value_map_insert_bool(object, "hidden", item.hidden);
  value_map_insert_optional_string(object, "part", view(item.part));
  value_map_insert_source(object, item.source);
  return JsonValue(std::move(object));
}

JsonValue defined_name_to_json_value(const XlsxExportDefinedName& name) {
  JsonObject object;
  value_map_insert_str(object, "id", name.id);
  value_map_insert_anchor(object, name.anchor);
  value_map_insert_str(object, "name", name.name);
  value_map_insert_str(object, "formula", name.formula);
  value_map_insert_bool(object, "hidden", name.hidden);
  value_map_insert_local_sheet(object, name.local_sheet);
  return JsonValue(std::move(object));
}

JsonValue diagnostic_to_json_value(const XlsxExportDiagnostic& diagnostic) {
  JsonObject object;
  value_map_insert_str(object, "code", diagnostic_code_word(diagnostic.code));
  value_map_insert_str(object, "severity", severity_word(diagnostic.severity));
  value_map_insert_optional_anchor(object, "anchor", diagnostic.anchor);
  value_map_insert_str(object, "message", diagnostic.message);
  return JsonValue(std::move(object));
}

JsonValue sheet_to_json_value(const XlsxExportSheet& sheet) {
  JsonObject object;
  value_map_insert_str(object, "id", sheet.id);
  value_map_insert_anchor(object, sheet.anchor);
  value_map_insert_str(object, "kind", sheet_kind_word(sheet.kind));
  value_map_insert_str(object, "visibility", sheet_visibility_word(sheet.visibility));
  value_map_insert_optional_string(object, "usedRange", view(sheet.used_range));
  value_map_insert_optional_string(object, "selectedRange", view(sheet.selected_range));
  value_map_insert_string_list(object, "hiddenRows", sheet.hidden_rows);
  value_map_insert_string_list(object, "hiddenColumns", sheet.hidden_columns);
  value_map_insert_merges(object, sheet.merges);
  value_map_insert_tables(object, sheet.tables);
  value_map_insert_hyperlinks(object, sheet.hyperlinks);
  value_map_insert_objects(object, sheet.objects);
  value_map_insert_cells(object, sheet.cells);
  value_map_insert_source(object, sheet.source);
  value_map_insert_bool(object, "truncated", sheet.truncated);
  return JsonValue(std::move(object));
}

}  // namespace

JsonValue sheet_identity_to_json_value(const XlsxSheetIdentity& identity) {
  JsonObject object;
  value_map_insert_str(object, "sheetId", identity.sheet_id);
  value_map_insert_u32(object, "index", identity.index);
  value_map_insert_str(object, "name", identity.name);
  return JsonValue(std::move(object));
}

JsonValue xlsx_anchor_to_json_value(const XlsxAnchor& anchor) {
  JsonObject object;
  value_map_insert_kind(object, kAnchorWords[anchor.index()]);
  std::visit(
      [&](const auto& variant) {
        using T = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<T, XlsxAnchorSheet>) {
          value_map_insert_sheet_identity(object, variant.sheet);
        } else if constexpr (std::is_same_v<T, XlsxAnchorCell> || std::is_same_v<T, XlsxAnchorRange>) {
          value_map_insert_sheet_identity(object, variant.sheet);
          value_map_insert_str(object, "a1", variant.a1);
        } else if constexpr (std::is_same_v<T, XlsxAnchorDefinedName>) {
          value_map_insert_str(object, "name", variant.name);
          value_map_insert_local_sheet(object, variant.local_sheet);
          value_map_insert_u32(object, "ordinal", variant.ordinal);
        } else {
          value_map_insert_str(object, "part", variant.source.part);
          value_map_insert_str(object, "partSha256", variant.source.part_sha256);
          value_map_insert_path(object, variant.source.path);
        }
      },
      anchor);
  return JsonValue(std::move(object));
}

void value_map_insert_anchor(JsonObject& object, const XlsxAnchor& anchor) {
  object.insert("anchor", xlsx_anchor_to_json_value(anchor));
}

void value_map_insert_optional_anchor(JsonObject& object, std::string_view key,
                                      const std::optional<XlsxAnchor>& anchor) {
  object.insert(std::string(key), anchor ? xlsx_anchor_to_json_value(*anchor) : JsonValue());
}

void value_map_insert_sheet_identity(JsonObject& object, const XlsxSheetIdentity& identity) {
  object.insert("sheet", sheet_identity_to_json_value(identity));
}

void value_map_insert_local_sheet(JsonObject& object, const std::optional<XlsxSheetIdentity>& identity) {
  object.insert("localSheet", identity ? sheet_identity_to_json_value(*identity) : JsonValue());
}

void value_map_insert_source(JsonObject& object, const std::optional<XlsxSourcePart>& source) {
  object.insert("source", source ? source_to_json_value(*source) : JsonValue());
}

void value_map_insert_formula_result(JsonObject& object, const std::optional<XlsxFormulaResult>& result) {
  std::optional<std::string_view> word;
  if (result) word = formula_result_word(*result);
  value_map_insert_optional_string(object, "formulaResult", word);
}

void value_map_insert_cell_merge(JsonObject& object, const std::optional<XlsxCellMerge>& merge) {
  if (!merge) {
    object.insert("merge", JsonValue());
    return;
  }
  JsonObject inner;
  value_map_insert_bool(inner, "origin", merge->origin);
  value_map_insert_str(inner, "range", merge->range);
  object.insert("merge", JsonValue(std::move(inner)));
}

void value_map_insert_included(JsonObject& object, const XlsxExportIncluded& included) {
  JsonObject inner;
  value_map_insert_bool(inner, "hiddenSheets", included.hidden_sheets);
  value_map_insert_bool(inner, "hiddenRows", included.hidden_rows);
  value_map_insert_bool(inner, "hiddenColumns", included.hidden_columns);
  value_map_insert_bool(inner, "definedNames", included.defined_names);
  value_map_insert_bool(inner, "hiddenNames", included.hidden_names);
  object.insert("included", JsonValue(std::move(inner)));
}

void value_map_insert_cells(JsonObject& object, std::span<const XlsxExportCell> cells) {
  insert_list(object, "cells", cells, cell_to_json_value);
}
void value_map_insert_merges(JsonObject& object, std::span<const XlsxExportMerge> merges) {
  insert_list(object, "merges", merges, merge_to_json_value);
}
void value_map_insert_tables(JsonObject& object, std::span<const XlsxExportTable> tables) {
  insert_list(object, "tables", tables, table_to_json_value);
}
void value_map_insert_hyperlinks(JsonObject& object, std::span<const XlsxExportHyperlink> links) {
  insert_list(object, "hyperlinks", links, hyperlink_to_json_value);
}
void value_map_insert_objects(JsonObject& object, std::span<const XlsxExportObject> objects) {
  insert_list(object, "objects", objects, object_to_json_value);
}
void value_map_insert_defined_names(JsonObject& object, std::span<const XlsxExportDefinedName> names) {
  insert_list(object, "definedNames", names, defined_name_to_json_value);
}
void value_map_insert_diagnostics(JsonObject& object, std::span<const XlsxExportDiagnostic> diagnostics) {
  insert_list(object, "diagnostics", diagnostics, diagnostic_to_json_value);
}
void value_map_insert_sheets(JsonObject& object, std::span<const XlsxExportSheet> sheets) {
  insert_list(object, "sheets", sheets, sheet_to_json_value);
}

JsonValue markdown_anchor_to_json_value(const MarkdownAnchor& anchor) {
  JsonObject object;
  value_map_insert_str(object, "marker", anchor.marker);
  value_map_insert_anchor(object, anchor.anchor);
  return JsonValue(std::move(object));
}

JsonValue markdown_export_to_json_value(const MarkdownExport& result) {
  JsonObject object;
  value_map_insert_str(object, "markdown", result.markdown);
  JsonValue::Array anchors;
  anchors.reserve(result.anchors.size());
  for (const MarkdownAnchor& anchor : result.anchors) anchors.push_back(markdown_anchor_to_json_value(anchor));
  object.insert("anchors", JsonValue(std::move(anchors)));
  value_map_insert_diagnostics(object, result.diagnostics);
  value_map_insert_bool(object, "truncated", result.truncated);
  return JsonValue(std::move(object));
}

JsonValue structured_content_to_json_value(const XlsxStructuredContent& content) {
  JsonObject object;
  value_map_insert_u32(object, "schemaVersion", 1);
  value_map_insert_str(object, "anchorScope", anchor_scope_word(content.anchor_scope));
  value_map_insert_str(object, "dateSystem", date_system_word(content.date_system));
  JsonObject calculation;
  value_map_insert_str(calculation, "policy", kPolicyWords[0]);
  value_map_insert_str(calculation, "freshness", kFreshnessWords[0]);
  object.insert("calculation", JsonValue(std::move(calculation)));
  value_map_insert_included(object, content.included);
  value_map_insert_sheets(object, content.sheets);
  value_map_insert_defined_names(object, content.defined_names);
  value_map_insert_diagnostics(object, content.diagnostics);
  value_map_insert_bool(object, "truncated", content.truncated);
  return JsonValue(std::move(object));
}

// --- readers ---------------------------------------------------------------------

namespace {

template <typename E, size_t N>
JsonResult<E> read_enum(JsonReader& reader, const std::string_view (&words)[N]) {
  CMX_ASSIGN_OR_RETURN(size_t index, read_word(reader, words));
  return static_cast<E>(index);
}


template <typename T, typename F>
JsonResult<std::vector<T>> read_record_list(JsonReader& reader, F&& read_one) {
  std::vector<T> items;
  CMX_TRY(read_list(reader, [&](JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(T item, read_one(r));
    items.push_back(std::move(item));
    return {};
  }));
  return items;
}

JsonResult<std::vector<uint32_t>> read_u32_list(JsonReader& reader) {
  std::vector<uint32_t> items;
  CMX_TRY(read_list(reader, [&](JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(uint32_t item, r.read_u32());
    items.push_back(item);
    return {};
  }));
  return items;
}

JsonResult<std::vector<uint32_t>> deserialize_u32_list_from_content(const Content& content) {
  CMX_ASSIGN_OR_RETURN(const Content::Array* items, content_list(content));
  std::vector<uint32_t> path;
  path.reserve(items->size());
  for (const Content& item : *items) {
    CMX_ASSIGN_OR_RETURN(uint32_t step, content_to_u32(item));
    path.push_back(step);
  }
  return path;
}

JsonResult<std::optional<XlsxSheetIdentity>> optional_identity_from_content(const Content& content) {
  if (content.is_null()) return std::optional<XlsxSheetIdentity>();
  CMX_ASSIGN_OR_RETURN(XlsxSheetIdentity identity, deserialize_sheet_identity_from_content(content));
  return std::optional<XlsxSheetIdentity>(std::move(identity));
}

JsonResult<XlsxSourcePart> source_from_content(const Content& content, const RecordSpec& spec) {
  XlsxSourcePart source;
  CMX_TRY(read_record(content, spec, [&](size_t index, const Content& value) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(source.part, content_to_string(value)); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(source.part_sha256, content_to_string(value)); break; }
      default: { CMX_ASSIGN_OR_RETURN(source.path, deserialize_u32_list_from_content(value)); }
    }
    return {};
  }));
  return source;
}

JsonResult<XlsxAnchor> anchor_body(const TaggedContent& tagged) {
  switch (tagged.variant) {
    case 0: {
      XlsxAnchorSheet sheet;
      CMX_TRY(read_record(tagged.rest, kAnchorSheetSpec, [&](size_t, const Content& value) -> JsonResult<void> {
        CMX_ASSIGN_OR_RETURN(sheet.sheet, deserialize_sheet_identity_from_content(value));
        return {};
      }));
      return XlsxAnchor(std::move(sheet));
    }
    case 1:
    case 2: {
      XlsxSheetIdentity identity;
      std::string a1;
      const RecordSpec& spec = tagged.variant == 1 ? kAnchorCellSpec : kAnchorRangeSpec;
      CMX_TRY(read_record(tagged.rest, spec, [&](size_t index, const Content& value) -> JsonResult<void> {
        if (index == 0) {
          CMX_ASSIGN_OR_RETURN(identity, deserialize_sheet_identity_from_content(value));
        } else {
          CMX_ASSIGN_OR_RETURN(a1, content_to_string(value));
        }
        return {};
      }));
      if (tagged.variant == 1) return XlsxAnchor(XlsxAnchorCell{std::move(identity), std::move(a1)});
      return XlsxAnchor(XlsxAnchorRange{std::move(identity), std::move(a1)});
    }
    case 3: {
      XlsxAnchorDefinedName name;
      CMX_TRY(read_record(tagged.rest, kAnchorNameSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
        switch (index) {
          case 0: { CMX_ASSIGN_OR_RETURN(name.name, content_to_string(value)); break; }
          case 1: { CMX_ASSIGN_OR_RETURN(name.local_sheet, optional_identity_from_content(value)); break; }
          default: { CMX_ASSIGN_OR_RETURN(name.ordinal, content_to_u32(value)); }
        }
        return {};
      }));
      return XlsxAnchor(std::move(name));
    }
    default: {
      CMX_ASSIGN_OR_RETURN(XlsxSourcePart source, source_from_content(tagged.rest, kAnchorSourceSpec));
      return XlsxAnchor(XlsxAnchorSourcePart{std::move(source)});
    }
  }
}

template <typename T>
JsonResult<T> single_value(const Content& rest, const RecordSpec& spec,
                           JsonResult<T> (*convert)(const Content&)) {
  T out{};
  CMX_TRY(read_record(rest, spec, [&](size_t, const Content& value) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(out, convert(value));
    return {};
  }));
  return out;
}

JsonResult<std::string> string_from_content(const Content& content) { return content_to_string(content); }
JsonResult<double> f64_from_content(const Content& content) { return content_to_f64(content); }
JsonResult<bool> bool_from_content(const Content& content) { return content_to_bool(content); }

JsonResult<XlsxExportValue> value_body(const TaggedContent& tagged) {
  switch (tagged.variant) {
    case 0:
      CMX_TRY(read_unit_variant(tagged.rest));
      return XlsxExportValue(XlsxValueEmpty{});
    case 1: {
      CMX_ASSIGN_OR_RETURN(double number, single_value<double>(tagged.rest, kNumberSpec, f64_from_content));
      return XlsxExportValue(XlsxValueNumber{number});
    }
    case 2: {
      CMX_ASSIGN_OR_RETURN(std::string text, single_value<std::string>(tagged.rest, kTextSpec, string_from_content));
      return XlsxExportValue(XlsxValueText{std::move(text)});
    }
    case 3: {
      CMX_ASSIGN_OR_RETURN(bool flag, single_value<bool>(tagged.rest, kBoolSpec, bool_from_content));
      return XlsxExportValue(XlsxValueBool{flag});
    }
    case 4: {
      CMX_ASSIGN_OR_RETURN(model::CellErrorCode code,
                           single_value<model::CellErrorCode>(tagged.rest, kErrorSpec,
                                                              deserialize_cell_error_code_from_content));
      return XlsxExportValue(XlsxValueError{code});
    }
    default: {
      CMX_ASSIGN_OR_RETURN(std::string reason,
                           single_value<std::string>(tagged.rest, kUnavailableSpec, string_from_content));
      return XlsxExportValue(XlsxValueUnavailable{std::move(reason)});
    }
  }
}

JsonResult<XlsxExportMerge> read_merge(JsonReader& reader) {
  XlsxExportMerge merge;
  CMX_TRY(read_record(reader, kMergeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(merge.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(merge.anchor, deserialize_xlsx_anchor(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(merge.clipped, r.read_bool()); }
    }
    return {};
  }));
  return merge;
}

JsonResult<XlsxExportTable> read_table(JsonReader& reader) {
  XlsxExportTable table;
  CMX_TRY(read_record(reader, kTableSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(table.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(table.anchor, deserialize_xlsx_anchor(r)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(table.name, r.read_string()); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(table.header_rows, r.read_u32()); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(table.totals_rows, r.read_u32()); break; }
      case 5: { CMX_ASSIGN_OR_RETURN(table.columns, deserialize_string_list(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(table.clipped, r.read_bool()); }
    }
    return {};
  }));
  return table;
}

JsonResult<XlsxExportHyperlink> read_hyperlink(JsonReader& reader) {
  XlsxExportHyperlink link;
  CMX_TRY(read_record(reader, kHyperlinkSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(link.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(link.anchor, deserialize_xlsx_anchor(r)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(link.external_target, deserialize_optional_string(r)); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(link.location, deserialize_optional_string(r)); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(link.tooltip, deserialize_optional_string(r)); break; }
      case 5: { CMX_ASSIGN_OR_RETURN(link.display, deserialize_optional_string(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(link.clipped, r.read_bool()); }
    }
    return {};
  }));
  return link;
}

JsonResult<XlsxExportObject> read_object(JsonReader& reader) {
  XlsxExportObject object;
  CMX_TRY(read_record(reader, kObjectSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(object.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(object.kind, read_enum<XlsxObjectKind>(r, kObjectKindWords)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(object.anchor, deserialize_optional_anchor(r)); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(object.name, deserialize_optional_string(r)); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(object.alt_text, deserialize_optional_string(r)); break; }
      case 5: { CMX_ASSIGN_OR_RETURN(object.title, deserialize_optional_string(r)); break; }
      case 6: { CMX_ASSIGN_OR_RETURN(object.hidden, r.read_bool()); break; }
      case 7: { CMX_ASSIGN_OR_RETURN(object.part, deserialize_optional_string(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(object.source, deserialize_xlsx_source_part(r)); }
    }
    return {};
  }));
  return object;
}

JsonResult<XlsxExportDefinedName> read_defined_name(JsonReader& reader) {
  XlsxExportDefinedName name;
  CMX_TRY(read_record(reader, kDefinedNameSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(name.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(name.anchor, deserialize_xlsx_anchor(r)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(name.name, r.read_string()); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(name.formula, r.read_string()); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(name.hidden, r.read_bool()); break; }
      default: { CMX_ASSIGN_OR_RETURN(name.local_sheet, read_optional(r, deserialize_xlsx_sheet_identity)); }
    }
    return {};
  }));
  return name;
}

JsonResult<XlsxExportDiagnostic> read_diagnostic(JsonReader& reader) {
  XlsxExportDiagnostic diagnostic;
  CMX_TRY(read_record(reader, kDiagnosticSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(diagnostic.code, read_enum<XlsxDiagnosticCode>(r, kDiagnosticWords)); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(diagnostic.severity, read_enum<XlsxSeverity>(r, kSeverityWords)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(diagnostic.anchor, deserialize_optional_anchor(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(diagnostic.message, r.read_string()); }
    }
    return {};
  }));
  return diagnostic;
}

JsonResult<XlsxSourcePart> read_source_part(JsonReader& reader) {
  XlsxSourcePart source;
  CMX_TRY(read_record(reader, kSourceSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(source.part, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(source.part_sha256, r.read_string()); break; }
      default: { CMX_ASSIGN_OR_RETURN(source.path, read_u32_list(r)); }
    }
    return {};
  }));
  return source;
}

// A word with only one allowed value.
template <size_t N>
JsonResult<void> read_fixed_word(JsonReader& reader, const std::string_view (&words)[N]) {
  CMX_TRY(read_word(reader, words));
  return {};
}

}  // namespace

JsonResult<XlsxSheetIdentity> deserialize_xlsx_sheet_identity(JsonReader& reader) {
  XlsxSheetIdentity identity;
  CMX_TRY(read_record(reader, kIdentitySpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(identity.sheet_id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(identity.index, r.read_u32()); break; }
      default: { CMX_ASSIGN_OR_RETURN(identity.name, r.read_string()); }
    }
    return {};
  }));
  return identity;
}

JsonResult<XlsxSheetIdentity> deserialize_sheet_identity_from_content(const Content& content) {
  XlsxSheetIdentity identity;
  CMX_TRY(read_record(content, kIdentitySpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(identity.sheet_id, content_to_string(value)); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(identity.index, content_to_u32(value)); break; }
      default: { CMX_ASSIGN_OR_RETURN(identity.name, content_to_string(value)); }
    }
    return {};
  }));
  return identity;
}

JsonResult<std::optional<XlsxSourcePart>> deserialize_xlsx_source_part(JsonReader& reader) {
  return read_optional(reader, read_source_part);
}

JsonResult<XlsxAnchor> deserialize_xlsx_anchor(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, read_tagged(reader, kAnchorTag));
  return anchor_body(tagged);
}

JsonResult<std::optional<XlsxAnchor>> deserialize_optional_anchor(JsonReader& reader) {
  return read_optional(reader, deserialize_xlsx_anchor);
}

JsonResult<XlsxExportValue> deserialize_export_value(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, read_tagged(reader, kValueTag));
  return value_body(tagged);
}

JsonResult<std::optional<XlsxCellMerge>> deserialize_xlsx_cell_merge(JsonReader& reader) {
  return read_optional(reader, [](JsonReader& in) -> JsonResult<XlsxCellMerge> {
    XlsxCellMerge merge;
    CMX_TRY(read_record(in, kCellMergeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
      if (index == 0) {
        CMX_ASSIGN_OR_RETURN(merge.range, r.read_string());
      } else {
        CMX_ASSIGN_OR_RETURN(merge.origin, r.read_bool());
      }
      return {};
    }));
    return merge;
  });
}

JsonResult<std::optional<std::string>> deserialize_optional_string(JsonReader& reader) {
  return read_optional(reader, [](JsonReader& r) { return r.read_string(); });
}

JsonResult<std::vector<std::string>> deserialize_string_list(JsonReader& reader) {
  return read_record_list<std::string>(reader, [](JsonReader& r) { return r.read_string(); });
}

JsonResult<XlsxExportCell> deserialize_export_cell(JsonReader& reader) {
  XlsxExportCell cell;
  CMX_TRY(read_record(reader, kCellSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(cell.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(cell.anchor, deserialize_xlsx_anchor(r)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(cell.value, deserialize_export_value(r)); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(cell.formula, deserialize_optional_string(r)); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(cell.display_text, r.read_string()); break; }
      case 5: { CMX_ASSIGN_OR_RETURN(cell.number_format, r.read_string()); break; }
      case 6: {
        CMX_ASSIGN_OR_RETURN(cell.formula_result, read_optional(r, [](JsonReader& in) {
                               return read_enum<XlsxFormulaResult>(in, kFormulaResultWords);
                             }));
        break;
      }
      default: { CMX_ASSIGN_OR_RETURN(cell.merge, deserialize_xlsx_cell_merge(r)); }
    }
    return {};
  }));
  return cell;
}

JsonResult<std::vector<XlsxExportCell>> deserialize_export_cell_list(JsonReader& reader) {
  return read_record_list<XlsxExportCell>(reader, deserialize_export_cell);
}
JsonResult<std::vector<XlsxExportMerge>> deserialize_export_merge_list(JsonReader& reader) {
  return read_record_list<XlsxExportMerge>(reader, read_merge);
}
JsonResult<std::vector<XlsxExportTable>> deserialize_export_table_list(JsonReader& reader) {
  return read_record_list<XlsxExportTable>(reader, read_table);
}
JsonResult<std::vector<XlsxExportHyperlink>> deserialize_export_hyperlink_list(JsonReader& reader) {
  return read_record_list<XlsxExportHyperlink>(reader, read_hyperlink);
}
JsonResult<std::vector<XlsxExportObject>> deserialize_export_object_list(JsonReader& reader) {
  return read_record_list<XlsxExportObject>(reader, read_object);
}
JsonResult<std::vector<XlsxExportDefinedName>> deserialize_xlsx_export_defined_name_list(JsonReader& reader) {
  return read_record_list<XlsxExportDefinedName>(reader, read_defined_name);
}
JsonResult<std::vector<XlsxExportDiagnostic>> deserialize_xlsx_export_diagnostic_list(JsonReader& reader) {
  return read_record_list<XlsxExportDiagnostic>(reader, read_diagnostic);
}

JsonResult<XlsxExportSheet> deserialize_export_sheet(JsonReader& reader) {
  XlsxExportSheet sheet;
  CMX_TRY(read_record(reader, kSheetSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(sheet.id, r.read_string()); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(sheet.anchor, deserialize_xlsx_anchor(r)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(sheet.kind, read_enum<XlsxSheetKind>(r, kSheetKindWords)); break; }
      case 3: { CMX_ASSIGN_OR_RETURN(sheet.visibility, read_enum<XlsxSheetVisibility>(r, kVisibilityWords)); break; }
      case 4: { CMX_ASSIGN_OR_RETURN(sheet.used_range, deserialize_optional_string(r)); break; }
      case 5: { CMX_ASSIGN_OR_RETURN(sheet.selected_range, deserialize_optional_string(r)); break; }
      case 6: { CMX_ASSIGN_OR_RETURN(sheet.hidden_rows, deserialize_string_list(r)); break; }
      case 7: { CMX_ASSIGN_OR_RETURN(sheet.hidden_columns, deserialize_string_list(r)); break; }
      case 8: { CMX_ASSIGN_OR_RETURN(sheet.merges, deserialize_export_merge_list(r)); break; }
      case 9: { CMX_ASSIGN_OR_RETURN(sheet.tables, deserialize_export_table_list(r)); break; }
      case 10: { CMX_ASSIGN_OR_RETURN(sheet.hyperlinks, deserialize_export_hyperlink_list(r)); break; }
      case 11: { CMX_ASSIGN_OR_RETURN(sheet.objects, deserialize_export_object_list(r)); break; }
      case 12: { CMX_ASSIGN_OR_RETURN(sheet.cells, deserialize_export_cell_list(r)); break; }
      case 13: { CMX_ASSIGN_OR_RETURN(sheet.source, deserialize_xlsx_source_part(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(sheet.truncated, r.read_bool()); }
    }
    return {};
  }));
  return sheet;
}

JsonResult<std::vector<XlsxExportSheet>> deserialize_export_sheet_list(JsonReader& reader) {
  return read_record_list<XlsxExportSheet>(reader, deserialize_export_sheet);
}

JsonResult<XlsxStructuredContent> deserialize_structured_content(JsonReader& reader) {
  XlsxStructuredContent content;
  CMX_TRY(read_record(reader, kContentSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: {
        CMX_ASSIGN_OR_RETURN(uint64_t version, r.read_u64());
        if (version != 1) {
          return unexpected(r.fix_position(
              custom_error("unsupported schemaVersion " + std::to_string(version) + "; expected 1")));
        }
        break;
      }
      case 1: { CMX_ASSIGN_OR_RETURN(content.anchor_scope, read_enum<XlsxAnchorScope>(r, kScopeWords)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(content.date_system, read_enum<XlsxDateSystem>(r, kDateSystemWords)); break; }
      case 3:
        CMX_TRY(read_record(r, kCalculationSpec, [&](size_t field, JsonReader& inner) -> JsonResult<void> {
          if (field == 0) return read_fixed_word(inner, kPolicyWords);
          return read_fixed_word(inner, kFreshnessWords);
        }));
        break;
      case 4:
        CMX_TRY(read_record(r, kIncludedSpec, [&](size_t field, JsonReader& inner) -> JsonResult<void> {
          bool* const flags[] = {&content.included.hidden_sheets, &content.included.hidden_rows,
                                 &content.included.hidden_columns, &content.included.defined_names,
                                 &content.included.hidden_names};
          CMX_ASSIGN_OR_RETURN(*flags[field], inner.read_bool());
          return {};
        }));
        break;
      case 5: { CMX_ASSIGN_OR_RETURN(content.sheets, deserialize_export_sheet_list(r)); break; }
      case 6: { CMX_ASSIGN_OR_RETURN(content.defined_names, deserialize_xlsx_export_defined_name_list(r)); break; }
      case 7: { CMX_ASSIGN_OR_RETURN(content.diagnostics, deserialize_xlsx_export_diagnostic_list(r)); break; }
      default: { CMX_ASSIGN_OR_RETURN(content.truncated, r.read_bool()); }
    }
    return {};
  }));
  return content;
}

Result<XlsxStructuredContent, std::string> decode_structured_content(std::string_view text) {
  if (text.size() > kMaxStructuredContentTextBytes) {
    return unexpected("a request carries at most " + std::to_string(kMaxStructuredContentTextBytes) + " bytes");
  }
  auto result = read_json_text(text, deserialize_structured_content);
  if (!result) return unexpected(json_error_text(result.error()));
  return std::move(*result);
}

}  // namespace cmx::json
