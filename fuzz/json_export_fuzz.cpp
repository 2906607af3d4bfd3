// Fuzzes the readers of structured export documents and export settings
// texts: no input crashes them, and whatever they accept is written again to
// a text that reads back as the same record, whose length the byte counter
// and the value tree both match.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/json.h"

using namespace cmx::json;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  if (auto content = decode_structured_content(text)) {
    std::string again = structured_content_to_json(*content);
    check(count_structured_content_bytes(*content) == again.size());
    check(json_value_to_string(structured_content_to_json_value(*content)).size() == again.size());
    auto reread = decode_structured_content(again);
    check(reread.has_value() && *reread == *content);
  }

  if (auto options = deserialize_export_options(text)) {
    const XlsxSheetIdentity sheets[] = {{"sheet:0", 0, "A"}, {"sheet:1", 1, "B"}};
    auto resolved = resolve_export_options(*options, sheets, [](std::string_view) { return std::nullopt; });
    if (resolved) {
      check(!resolved->scope.empty() && resolved->scope.size() <= 2);
      check(resolved->max_cells >= 1 && resolved->max_cells <= kMaxExportMaxCells);
      check(resolved->max_bytes >= kMinExportMaxBytes && resolved->max_bytes <= kMaxExportMaxBytes);
    }
  }

  if (auto options = deserialize_markdown_options(text)) {
    if (auto resolved = validate_markdown_options(*options)) {
      check(resolved->max_rows >= 1 && resolved->max_rows <= kMaxMarkdownMaxRows);
      check(resolved->max_bytes >= kMinMarkdownMaxBytes && resolved->max_bytes <= kMaxMarkdownMaxBytes);
    }
  }
  return 0;
}
