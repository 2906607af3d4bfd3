// The Markdown writer shared by the renderer and its grid: the text under its
// byte limit, the markers and the notes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "json/export_records.h"
#include "model/address.h"

namespace cmx::exports {

struct MarkdownWriter {
  std::string text;
  std::vector<json::MarkdownAnchor> anchors;
  std::vector<json::XlsxExportDiagnostic> diagnostics;
  uint64_t limit = 0;
  bool stopped = false;
  bool truncated = false;
};

std::string markdown_marker(size_t number);
bool append_anchored_text(MarkdownWriter& writer, json::XlsxAnchor anchor, std::string_view text);
bool append_marked_block(MarkdownWriter& writer, json::XlsxAnchor anchor, std::string_view text);
// Text without a marker, under the same limit.
bool append_fixed_text(MarkdownWriter& writer, std::string_view text);
void push_markdown_note(MarkdownWriter& writer, std::optional<json::XlsxAnchor> anchor, std::string message);

// A control character, a C1 character, U+2028 or U+2029 at `text[i]`, and
// its length in bytes.
size_t control_character_length(std::string_view text, size_t i);
std::string escape_markdown_text(std::string_view text);
std::string escape_html_text(std::string_view text);

std::optional<model::CellRange> parse_canonical_a1_range(std::string_view text);
std::optional<std::pair<uint32_t, uint32_t>> parse_hidden_row_span(std::string_view text);
std::optional<std::pair<uint32_t, uint32_t>> parse_hidden_column_span(std::string_view text);

// Writes the grid of one sheet; the overlap message on failure.
Result<void, std::string> render_sheet_grid(MarkdownWriter& writer, const json::XlsxExportSheet& sheet,
                                            bool include_hidden_rows, bool include_hidden_columns, uint64_t max_rows,
                                            uint64_t max_columns, uint64_t& remaining_cells);

}  // namespace cmx::exports
