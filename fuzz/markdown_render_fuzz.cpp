// Fuzzes Markdown rendering of stored export documents: no document crashes
// the renderer or hangs it, and what it writes stays within the byte limit
// with one marker per recorded anchor.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "export/export.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto content = cmx::json::decode_structured_content(text);
  if (!content) return 0;
  cmx::json::XlsxMarkdownOptions options;
  options.max_bytes = 4096;
  options.max_cells = 64;
  auto rendered = cmx::exports::render_markdown(*content, options);
  if (!rendered) return 0;
  check(rendered->markdown.size() <= 4096);
  size_t markers = 0;
  for (size_t at = rendered->markdown.find("<!-- xlsx-export:"); at != std::string::npos;
       at = rendered->markdown.find("<!-- xlsx-export:", at + 1)) {
    ++markers;
  }
  check(markers >= rendered->anchors.size());
  return 0;
}
