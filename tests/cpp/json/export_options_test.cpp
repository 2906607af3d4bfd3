// The export settings texts: reading errors with their places, the defaults
// and bounds of both records in their order, and the refusal answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

const std::vector<XlsxSheetIdentity> kSheets = {{"sheet:0", 0, "A"}, {"sheet:1", 1, "B"}, {"sheet:2", 2, "C"}};

std::optional<std::string> check_range(std::string_view range) {
  if (range.find(':') == std::string_view::npos && range.size() == 2) return std::nullopt;
  if (range == "B2:D9") return std::nullopt;
  return std::string(range) + " is not a cell or rectangular range";
}

// The resolved options as a short text, or the refusal's code, message and
// target sheet.
std::string resolve(std::string_view text) {
  auto options = deserialize_export_options(text);
  if (!options) return "read: " + options.error();
  auto resolved = resolve_export_options(*options, kSheets, check_range);
  if (!resolved) {
    const ExportRefusal& r = resolved.error();
    std::string target = "none";
    if (r.target) target = std::get<XlsxAnchorSheet>(*r.target).sheet.sheet_id;
    return std::string(export_refusal_code_word(r.code)) + " | " + r.message + " | " + target;
  }
  std::string out;
  for (const XlsxExportScope& entry : resolved->scope) {
    out += std::to_string(entry.sheet) + (entry.range ? "=" + *entry.range : "") + " ";
  }
  const XlsxExportIncluded& inc = resolved->included;
  out += std::to_string(resolved->max_cells) + " " + std::to_string(resolved->max_bytes) + " " +
         std::to_string(inc.hidden_sheets) + std::to_string(inc.hidden_rows) + std::to_string(inc.hidden_columns) +
         std::to_string(inc.defined_names) + std::to_string(inc.hidden_names);
  return out;
}

TEST(ExportOptions, DefaultsBoundsAndReadingErrors) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"{}", "0 1 2 100000 8388608 00010"},
      {" [null,true,null,true,false] ", "0 1 2 100000 8388608 10100"},
      {R"({"maxCells":0})", "invalid-options | maxCells must be positive | none"},
      {R"({"maxCells":1000001,"maxBytes":1})", "limit-exceeded | maxCells is at most 1000000 | none"},
      {R"({"maxCells":1000000,"maxBytes":1023})", "limit-exceeded | maxBytes must be at least 1024 | none"},
      {R"({"maxBytes":16777217,"scope":[]})", "limit-exceeded | maxBytes is at most 16777216 | none"},
      {R"({"maxBytes":16777216,"maxCells":null})", "0 1 2 100000 16777216 00010"},
      {R"({"scope":[]})", "invalid-scope | scope must name at least one sheet | none"},
      {R"({"scope":[{"sheet":0},{"sheet":0}]})", "invalid-scope | sheet 0 appears more than once in scope | sheet:0"},
      {R"({"scope":[{"sheet":7}]})", "invalid-scope | sheet 7 does not exist; the workbook has 3 sheets | none"},
      {R"({"scope":[{"sheet":1,"range":"A:A"}]})", "invalid-scope | A:A is not a cell or rectangular range | sheet:1"},
      {R"({"scope":[{"sheet":0,"range":null}]})", "0 100000 8388608 00010"},
      {R"({"scope":[[0]]})", "0 100000 8388608 00010"},
      {R"({"scope":[{"sheet":2},{"range":"B2:D9","sheet":0}]})", "0=B2:D9 2 100000 8388608 00010"},
      {R"({"maxCells":1.5})", "read: invalid type: floating point `1.5`, expected u32 at line 1 column 15"},
      {R"({"maxCells":-1})", "read: invalid value: integer `-1`, expected u32 at line 1 column 14"},
      {R"({"MaxCells":1})",
       "read: unknown field `MaxCells`, expected one of `scope`, `includeHiddenSheets`, `includeHiddenRows`, "
       "`includeHiddenColumns`, `includeDefinedNames`, `includeHiddenNames`, `maxCells`, `maxBytes` at line 1 column 11"},
      {R"({"maxBytes":1,"maxBytes":2})", "read: duplicate field `maxBytes` at line 1 column 24"},
      {R"({"scope":[{"range":"A1"}]})", "read: missing field `sheet` at line 1 column 24"},
      {R"({"scope":[{"sheet":0,"rng":"A1"}]})", "read: unknown field `rng`, expected `sheet` or `range` at line 1 column 26"},
      {R"({"includeHiddenRows":1})", "read: invalid type: integer `1`, expected a boolean at line 1 column 22"},
      {"3", "read: invalid type: integer `3`, expected struct XlsxExportOptions at line 1 column 1"},
      {"{} x", "read: trailing characters at line 1 column 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(resolve(c.text), c.expected);
  }
}

std::string validate(std::string_view text) {
  auto options = deserialize_markdown_options(text);
  if (!options) return "read: " + options.error();
  auto resolved = validate_markdown_options(*options);
  if (!resolved) {
    EXPECT_FALSE(resolved.error().target.has_value());
    return std::string(export_refusal_code_word(resolved.error().code)) + " | " + resolved.error().message;
  }
  return std::to_string(resolved->max_rows) + " " + std::to_string(resolved->max_columns) + " " +
         std::to_string(resolved->max_cells) + " " + std::to_string(resolved->max_bytes);
}

TEST(ExportOptions, MarkdownBoundsInTheirOrder) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"{}", "200 50 10000 8388608"},
      {"[1,2,3,4096]", "1 2 3 4096"},
      {R"({"maxRows":0})", "invalid-options | maxRows must be positive"},
      {R"({"maxRows":100001})", "limit-exceeded | maxRows is at most 100000"},
      {R"({"maxColumns":16384})", "200 16384 10000 8388608"},
      {R"({"maxColumns":16385})", "limit-exceeded | maxColumns is at most 16384"},
      {R"({"maxCells":0,"maxColumns":0})", "invalid-options | maxColumns must be positive"},
      {R"({"maxCells":1000001})", "limit-exceeded | maxCells is at most 1000000"},
      // The lower byte bound comes first, the upper one last.
      {R"({"maxBytes":4095,"maxRows":0})", "limit-exceeded | maxBytes must be at least 4096"},
      {R"({"maxBytes":16777217,"maxRows":0})", "invalid-options | maxRows must be positive"},
      {R"({"maxBytes":16777217})", "limit-exceeded | maxBytes is at most 16777216"},
      {R"({"maxrows":1})",
       "read: unknown field `maxrows`, expected one of `maxRows`, `maxColumns`, `maxCells`, `maxBytes` at line 1 column 10"},
      {"[1,2,3,4,5]", "read: trailing characters at line 1 column 10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(validate(c.text), c.expected);
  }
}

TEST(ExportOptions, OversizedTextsAreRefusedBeforeReading) {
  std::string text(kMaxOptionsTextBytes + 1, ' ');
  EXPECT_EQ(deserialize_export_options(text).error(), "a request carries at most 16777216 bytes");
  EXPECT_EQ(deserialize_markdown_options(text).error(), "a request carries at most 16777216 bytes");
  text.resize(kMaxOptionsTextBytes - 2);
  text += "{}";
  EXPECT_TRUE(deserialize_markdown_options(text).has_value());
}

TEST(ExportOptions, RefusalAnswer) {
  JsonObject answer = export_refusal_to_json_value(
      "v-1", ExportRefusal{ExportRefusalCode::InvalidScope, std::nullopt, "scope must name at least one sheet"});
  answer.insert("ok", JsonValue(false));
  EXPECT_EQ(json_value_to_string(JsonValue(std::move(answer))),
            R"({"failure":{"code":"invalid-scope","message":"scope must name at least one sheet","target":null},)"
            R"("ok":false,"version":"v-1"})");
  JsonObject targeted = export_refusal_to_json_value(
      "v-2", ExportRefusal{ExportRefusalCode::LimitExceeded, XlsxAnchorSheet{kSheets[1]}, "m"});
  EXPECT_EQ(json_value_to_string(JsonValue(std::move(targeted))),
            R"({"failure":{"code":"limit-exceeded","message":"m","target":{"kind":"sheet","sheet":)"
            R"({"index":1,"name":"B","sheetId":"sheet:1"}}},"version":"v-2"})");
}

}  // namespace
}  // namespace cmx::json
