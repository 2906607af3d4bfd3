#include <algorithm>
#include <map>

#include "export/markdown.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;
using Span = std::pair<uint32_t, uint32_t>;

struct Indices {
  std::vector<uint32_t> list;
  bool more = false;
};

// The numbers first..last outside every span, at most `cap` of them.
Indices visible_indices(uint32_t first, uint32_t last, const std::vector<Span>& spans, uint64_t cap) {
  Indices out;
  if (first > last) return out;
  size_t cursor = 0;
  uint64_t number = first;
  while (number <= last) {
    while (cursor < spans.size() && spans[cursor].second < number) ++cursor;
    if (cursor < spans.size() && spans[cursor].first <= number) {
      number = uint64_t{spans[cursor].second} + 1;
      continue;
    }
    if (out.list.size() >= cap) {
      out.more = true;
      return out;
    }
    out.list.push_back(static_cast<uint32_t>(number));
    ++number;
  }
  return out;
}

template <typename Parse>
std::vector<Span> read_spans(const std::vector<std::string>& texts, Parse parse) {
  std::vector<Span> spans;
  for (const std::string& text : texts) {
    if (std::optional<Span> span = parse(text)) spans.push_back(*span);
  }
  std::sort(spans.begin(), spans.end());
  return spans;
}

// Grid positions before `value` (or at or before it, with `inclusive`).
uint64_t count_before(const std::vector<uint32_t>& list, uint32_t value, bool inclusive) {
  return static_cast<uint64_t>(inclusive ? std::upper_bound(list.begin(), list.end(), value) - list.begin()
                                         : std::lower_bound(list.begin(), list.end(), value) - list.begin());
}

struct PlacedMerge {
  uint64_t first_row = 0;
  uint64_t end_row = 0;
  uint64_t first_col = 0;
  uint64_t end_col = 0;
  model::CellRange range;
};

using CellMap = std::map<std::pair<uint32_t, uint32_t>, const json::XlsxExportCell*>;
// Grid position -> the placed merge that covers it.
using PositionMap = std::map<std::pair<uint64_t, uint64_t>, size_t>;

const std::string* display_at(const CellMap& cells, uint32_t row, uint32_t col) {
  const auto found = cells.find({row, col});
  return found == cells.end() ? nullptr : &found->second->display_text;
}

void pipe_table(MarkdownWriter& writer, const XlsxAnchor& grid_anchor, const std::vector<uint32_t>& rows,
                const std::vector<uint32_t>& cols, const CellMap& cells) {
  std::string head = "|  |";
  std::string separator = "| ---: |";
  for (const uint32_t col : cols) {
    head += " " + model::column_letters(col) + " |";
    separator += " --- |";
  }
  if (!append_marked_block(writer, grid_anchor, head + "\n" + separator + "\n")) return;
  for (const uint32_t row : rows) {
    std::string line = "| " + std::to_string(uint64_t{row} + 1) + " |";
    for (const uint32_t col : cols) {
      const std::string* text = display_at(cells, row, col);
      line += " " + (text != nullptr ? escape_markdown_text(*text) : std::string()) + " |";
    }
    line += "\n";
    if (writer.stopped || writer.text.size() + line.size() > writer.limit) {
      writer.stopped = true;
      break;
    }
    writer.text += line;
  }
  writer.text += "\n";
}

void html_table(MarkdownWriter& writer, const json::XlsxExportSheet& sheet, const XlsxAnchor& grid_anchor,
                const std::vector<uint32_t>& rows, const std::vector<uint32_t>& cols, const CellMap& cells,
                const std::vector<PlacedMerge>& merges, const PositionMap& covered) {
  std::string head = "<table>\n<thead><tr><th></th>";
  for (const uint32_t col : cols) head += "<th>" + model::column_letters(col) + "</th>";
  head += "</tr></thead>\n<tbody>\n";
  if (!append_marked_block(writer, grid_anchor, head)) return;
  bool values_hidden = false;
  bool partial_merge = false;
  for (uint64_t i = 0; i < rows.size(); ++i) {
    bool row_values_hidden = false;
    bool row_partial = false;
    std::string line = "<tr><th>" + std::to_string(uint64_t{rows[i]} + 1) + "</th>";
    for (uint64_t j = 0; j < cols.size(); ++j) {
      const std::string* text = display_at(cells, rows[i], cols[j]);
      const auto found = covered.find({i, j});
      if (found == covered.end()) {
        line += "<td>" + (text != nullptr ? escape_html_text(*text) : std::string()) + "</td>";
        continue;
      }
      const PlacedMerge& merge = merges[found->second];
      if (merge.first_row != i || merge.first_col != j) {
        if (text != nullptr && !text->empty()) row_values_hidden = true;
        continue;
      }
      const bool origin_here = merge.range.start.row == rows[i] && merge.range.start.col == cols[j];
      std::string cell_text;
      if (origin_here) {
        cell_text = text != nullptr ? escape_html_text(*text) : std::string();
      } else {
        cell_text = "[merged from " +
                    model::format_cell_ref(model::CellRef{merge.range.start.row, merge.range.start.col, false, false}) +
                    "]";
        if (text != nullptr && !text->empty()) row_values_hidden = true;
      }
      const uint64_t rowspan = merge.end_row - i;
      const uint64_t colspan = merge.end_col - j;
      const uint64_t height = uint64_t{merge.range.end.row} - merge.range.start.row + 1;
      const uint64_t width = uint64_t{merge.range.end.col} - merge.range.start.col + 1;
      if (!(origin_here && rowspan == height && colspan == width)) row_partial = true;
      line += "<td rowspan=\"" + std::to_string(rowspan) + "\" colspan=\"" + std::to_string(colspan) +
              "\" data-merge=\"" + escape_html_text(model::format_range(merge.range)) + "\">" + cell_text + "</td>";
    }
    line += "</tr>\n";
    if (writer.stopped || writer.text.size() + line.size() > writer.limit) {
      writer.stopped = true;
      break;
    }
    writer.text += line;
    values_hidden = values_hidden || row_values_hidden;
    partial_merge = partial_merge || row_partial;
  }
  writer.text += "</tbody>\n</table>\n\n";
  if (values_hidden) {
    push_markdown_note(writer, sheet.anchor,
                       "Values stored in cells a merge covers are not shown in Markdown; the structured export keeps "
                       "them.");
  }
  if (partial_merge) {
    push_markdown_note(writer, sheet.anchor,
                       "Some merged ranges extend past the rendered grid; each shows only its rendered part, and "
                       "data-merge names the full range.");
  }
}

}  // namespace

Result<void, std::string> render_sheet_grid(MarkdownWriter& writer, const json::XlsxExportSheet& sheet,
                                            bool include_hidden_rows, bool include_hidden_columns, uint64_t max_rows,
                                            uint64_t max_columns, uint64_t& remaining_cells) {
  const bool worksheet = sheet.kind == json::XlsxSheetKind::Worksheet;
  std::optional<model::CellRange> selected;
  if (sheet.selected_range) {
    if (Result<model::CellRange, model::AddrError> parsed = model::parse_range(*sheet.selected_range)) {
      selected = parsed.value();
    }
  }
  if (!selected) {
    if (worksheet) append_fixed_text(writer, "_No cells._\n\n");
    return {};
  }
  if (!worksheet) return {};
  const json::XlsxSheetIdentity& identity = std::get<json::XlsxAnchorSheet>(sheet.anchor).sheet;
  std::optional<std::pair<uint32_t, uint32_t>> last_cell;
  if (sheet.truncated) {
    if (sheet.cells.empty()) {
      append_fixed_text(writer, "_Export stopped before this sheet's cells._\n\n");
      return {};
    }
    if (const auto* cell = std::get_if<json::XlsxAnchorCell>(&sheet.cells.back().anchor)) {
      if (Result<model::CellRef, model::AddrError> ref = model::parse_cell_ref(cell->a1)) {
        last_cell = std::make_pair(ref.value().row, ref.value().col);
      }
    }
  }
  const std::vector<Span> column_spans =
      include_hidden_columns ? std::vector<Span>() : read_spans(sheet.hidden_columns, parse_hidden_column_span);
  const Indices cols = visible_indices(selected->start.col, selected->end.col, column_spans, max_columns);
  if (cols.list.empty()) {
    append_fixed_text(writer, "_Every column of the selected range is hidden and excluded._\n\n");
    return {};
  }
  const uint64_t row_cap = std::min<uint64_t>(max_rows, remaining_cells / cols.list.size());
  if (row_cap == 0) {
    writer.truncated = true;
    push_markdown_note(writer, sheet.anchor,
                       "The Markdown cell limit was reached before this sheet; its grid is omitted.");
    append_fixed_text(writer, "_Grid omitted: the Markdown cell limit was reached._\n\n");
    return {};
  }
  const std::vector<Span> row_spans =
      include_hidden_rows ? std::vector<Span>() : read_spans(sheet.hidden_rows, parse_hidden_row_span);
  Indices rows = visible_indices(selected->start.row, selected->end.row, row_spans, row_cap);
  if (last_cell) {
    const bool row_complete = last_cell->second >= cols.list.back();
    const size_t before = rows.list.size();
    std::erase_if(rows.list, [&](uint32_t row) {
      return row > last_cell->first || (row == last_cell->first && !row_complete);
    });
    if (rows.list.size() != before) rows.more = true;
  }
  if (rows.list.empty()) {
    append_fixed_text(writer, "_No rows of this sheet are covered._\n\n");
    return {};
  }
  remaining_cells -= rows.list.size() * cols.list.size();
  if (rows.more || cols.more) {
    writer.truncated = true;
    push_markdown_note(writer, sheet.anchor,
                       "Markdown shows only part of this sheet's selected range; the rest stays in the structured "
                       "export.");
  }
  CellMap cells;
  const uint32_t last_row = rows.list.back();
  for (const json::XlsxExportCell& cell : sheet.cells) {
    const auto* anchor = std::get_if<json::XlsxAnchorCell>(&cell.anchor);
    if (anchor == nullptr) continue;
    Result<model::CellRef, model::AddrError> ref = model::parse_cell_ref(anchor->a1);
    if (!ref) continue;
    if (ref.value().row > last_row) break;
    if (std::binary_search(rows.list.begin(), rows.list.end(), ref.value().row) &&
        std::binary_search(cols.list.begin(), cols.list.end(), ref.value().col)) {
      cells.emplace(std::make_pair(ref.value().row, ref.value().col), &cell);
    }
  }
  const model::CellRange grid{{rows.list.front(), cols.list.front(), false, false},
                              {rows.list.back(), cols.list.back(), false, false}};
  const XlsxAnchor grid_anchor = json::XlsxAnchorRange{identity, model::format_range(grid)};

  std::vector<PlacedMerge> placed;
  for (const json::XlsxExportMerge& merge : sheet.merges) {
    std::string_view a1;
    if (const auto* cell = std::get_if<json::XlsxAnchorCell>(&merge.anchor)) a1 = cell->a1;
    else if (const auto* range = std::get_if<json::XlsxAnchorRange>(&merge.anchor)) a1 = range->a1;
    else continue;
    const std::optional<model::CellRange> range = parse_canonical_a1_range(a1);
    if (!range) continue;
    PlacedMerge at{count_before(rows.list, range->start.row, false), count_before(rows.list, range->end.row, true),
                   count_before(cols.list, range->start.col, false), count_before(cols.list, range->end.col, true),
                   *range};
    if (at.first_row < at.end_row && at.first_col < at.end_col) placed.push_back(at);
  }
  if (placed.empty()) {
    pipe_table(writer, grid_anchor, rows.list, cols.list, cells);
    return {};
  }
  PositionMap covered;
  for (size_t m = 0; m < placed.size(); ++m) {
    for (uint64_t i = placed[m].first_row; i < placed[m].end_row; ++i) {
      for (uint64_t j = placed[m].first_col; j < placed[m].end_col; ++j) {
        if (!covered.emplace(std::make_pair(i, j), m).second) {
          return unexpected("merges on sheet " + std::to_string(identity.index) + " overlap");
        }
      }
    }
  }
  html_table(writer, sheet, grid_anchor, rows.list, cols.list, cells, placed, covered);
  return {};
}

}  // namespace cmx::exports
