#include <algorithm>

#include "base/number_text.h"
#include "writer/patch_text.h"
#include "writer/source_rewrites.h"
#include "xml/pull_reader.h"
#include "xml/start_tag.h"
#include "xml/streaming.h"

namespace cmx::writer {

namespace {

constexpr uint32_t kMaxColumn = model::MAX_COLS;  // one-based, inclusive

using opc::first_with_local_name;

struct ColSpan {
  uint32_t first = 0;  // zero-based
  uint32_t end = 0;    // exclusive
};

// min and max of a `col`; none when either is missing or unreadable.
std::optional<ColSpan> read_col_span(const opc::AttributeList& attributes) {
  const opc::AttributePair* min = first_with_local_name(attributes, "min");
  const opc::AttributePair* max = first_with_local_name(attributes, "max");
  if (min == nullptr || max == nullptr) return std::nullopt;
  const std::optional<uint32_t> lo_read = xml::parse_u32_attribute(trimmed(min->value));
  const std::optional<uint32_t> hi_read = xml::parse_u32_attribute(trimmed(max->value));
  if (!lo_read || !hi_read) return std::nullopt;
  const uint32_t lo = std::clamp<uint32_t>(*lo_read, 1, kMaxColumn);
  const uint32_t hi = std::max(std::min(*hi_read, kMaxColumn), lo);
  return ColSpan{lo - 1, hi};
}

struct SourceCol {
  size_t gap_start = 0;
  size_t start = 0;
  size_t end = 0;
  size_t tag_end = 0;
  ColSpan span;
  bool self_closing = false;
};

struct ColWidthRun {
  uint8_t state = 2;  // 0 removed, 1 set, 2 unchanged
  double width = 0;
  uint32_t first = 0;
  uint32_t end = 0;
};

// Runs of equal state over target columns [first, end).
void plan_col_width_runs(const SheetPatchContext& context, uint32_t first, uint32_t end,
                         std::vector<ColWidthRun>& out) {
  const auto& current = context.sheet->col_widths;
  const auto& base = context.baseline->col_widths;
  for (uint32_t c = first; c < end; ++c) {
    const auto cur = current.find(c);
    std::optional<double> src;
    if (const std::optional<uint32_t> source = map_to_source(context.moves->cols, c)) {
      if (const auto found = base.find(*source); found != base.end()) src = found->second;
    }
    ColWidthRun run{2, 0, c, c + 1};
    if (src) {
      if (cur == current.end()) {
        run.state = 0;
      } else if (cur->second != *src) {
        run = ColWidthRun{1, cur->second, c, c + 1};
      }
    } else if (cur != current.end()) {
      run = ColWidthRun{1, cur->second, c, c + 1};
    }
    if (!out.empty() && out.back().end == c && out.back().state == run.state &&
        (run.state != 1 || out.back().width == run.width)) {
      out.back().end = c + 1;
    } else {
      out.push_back(run);
    }
  }
}

// The target spans of source columns [first, end), in order.
std::vector<ColSpan> map_col_span(std::span<const model::IndexRun> runs, ColSpan span) {
  std::vector<ColSpan> out;
  for (const model::IndexRun& run : runs) {
    const uint64_t run_end = uint64_t{run.source_start} + run.len;
    const uint32_t lo = std::max(run.source_start, span.first);
    const uint64_t hi = std::min<uint64_t>(run_end, span.end);
    if (lo >= hi) continue;
    const auto target = static_cast<uint32_t>(uint64_t{lo} - run.source_start + run.current_start);
    const auto target_end = static_cast<uint32_t>(target + (hi - lo));
    if (!out.empty() && out.back().end == target) {
      out.back().end = target_end;
    } else {
      out.push_back(ColSpan{target, target_end});
    }
  }
  return out;
}

struct Piece {
  std::string bytes;
  uint32_t key = 0;
  bool fresh = false;
};

}  // namespace

std::optional<uint32_t> map_to_target(std::span<const model::IndexRun> runs, uint32_t source) {
  const auto run = std::upper_bound(runs.begin(), runs.end(), source, [](uint32_t value, const model::IndexRun& r) {
    return value < uint64_t{r.source_start} + r.len;
  });
  if (run == runs.end() || run->source_start > source) return std::nullopt;
  return source - run->source_start + run->current_start;
}

std::optional<uint32_t> map_to_source(std::span<const model::IndexRun> runs, uint32_t target) {
  const auto run = std::upper_bound(runs.begin(), runs.end(), target, [](uint32_t value, const model::IndexRun& r) {
    return value < uint64_t{r.current_start} + r.len;
  });
  if (run == runs.end() || run->current_start > target) return std::nullopt;
  return target - run->current_start + run->source_start;
}

Result<FragmentElement, SpreadsheetParseError> parse_fragment_element(std::string_view fragment) {
  xml::XmlPullReader reader(fragment);
  while (true) {
    auto event = reader.next();
    if (!event) return unexpected(reader_error(event.error()));
    if (*event == xml::XmlEvent::Eof) {
      return unexpected(SpreadsheetParseError::malformed("xml fragment has no element"));
    }
    if (*event == xml::XmlEvent::StartTag || *event == xml::XmlEvent::EmptyTag) {
      CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(reader));
      return FragmentElement{std::string(reader.name()), std::move(attributes)};
    }
  }
}

Result<void, SpreadsheetParseError> write_start_tag(std::string& out, std::string_view name,
                                                    const opc::AttributeList& attributes, bool self_closing) {
  out += '<';
  out += name;
  for (const opc::AttributePair& pair : attributes) {
    out += ' ';
    out += pair.name;
    out += "=\"";
    if (const std::optional<char32_t> refused = append_escaped(out, pair.value, TextForm::Attribute)) {
      return unexpected(unexpressible_character(*refused));
    }
    out += '"';
  }
  out += self_closing ? "/>" : ">";
  return {};
}

// A self-closing root opened up: (start tag, end tag followed by the rest).
Result<std::pair<std::string, std::string>, SpreadsheetParseError> expand_empty_root(std::string_view fragment,
                                                                                      size_t tag_end) {
  CMX_ASSIGN_OR_RETURN(FragmentElement root, parse_fragment_element(fragment.substr(0, tag_end)));
  std::string start;
  CMX_TRY(write_start_tag(start, root.name, root.attributes, false));
  std::string end = "</" + root.name + ">";
  end += fragment.substr(tag_end);
  return std::make_pair(std::move(start), std::move(end));
}

std::string write_cols_regenerated(const model::SheetModel& sheet) {
  if (sheet.col_widths.empty() && sheet.column_styles.empty()) return {};
  std::vector<std::optional<uint32_t>> styles;
  if (!sheet.column_styles.empty()) {
    styles.resize(kMaxColumn);
    for (const model::ColumnStyle& run : sheet.column_styles) {
      for (uint32_t c = run.first; c <= run.last && c < kMaxColumn; ++c) styles[c] = run.xf;
    }
  }
  auto style_at = [&](uint32_t c) { return styles.empty() ? std::nullopt : styles[c]; };
  XmlPartWriter writer;
  writer.start_tag("cols");
  auto width = sheet.col_widths.begin();
  uint32_t c = 0;
  while (c < kMaxColumn) {
    const uint32_t next_width = width == sheet.col_widths.end() ? kMaxColumn : width->first;
    if (next_width == c) {
      const std::string width_text = format_xml_number(width->second);
      writer.open("col");
      writer.attribute_u64("min", uint64_t{c} + 1);
      writer.attribute_u64("max", uint64_t{c} + 1);
      writer.attribute("width", width_text);
      if (const std::optional<uint32_t> style = style_at(c)) writer.attribute_u64("style", *style);
      writer.attribute("customWidth", "1");
      if (width_text == "0") writer.attribute("hidden", "1");
      writer.close_empty();
      ++width;
      ++c;
      continue;
    }
    const std::optional<uint32_t> style = style_at(c);
    if (!style) {
      // Skip to the next styled or sized column.
      uint32_t skip = c + 1;
      while (skip < next_width && !style_at(skip)) ++skip;
      c = skip;
      continue;
    }
    uint32_t last = c;
    while (last + 1 < next_width && style_at(last + 1) == style) ++last;
    writer.open("col");
    writer.attribute_u64("min", uint64_t{c} + 1);
    writer.attribute_u64("max", uint64_t{last} + 1);
    writer.attribute_u64("style", *style);
    writer.close_empty();
    c = last + 1;
  }
  writer.end_tag("cols");
  // Numbers only: nothing in a `cols` element can be refused.
  return *writer.finish();
}

Result<std::optional<std::string>, SpreadsheetParseError> patch_cols(const SheetPatchContext& context,
                                                                    std::optional<std::string_view> source_element) {
  auto fresh = [&]() -> std::optional<std::string> {
    std::string text = write_cols_regenerated(*context.sheet);
    if (text.empty()) return std::nullopt;
    return text;
  };
  if (!source_element) return fresh();
  const std::string_view src = *source_element;

  xml::XmlPullReader reader(src);
  std::string prefix;
  std::string suffix;
  size_t prefix_end = 0;
  size_t tail_end = 0;
  std::vector<SourceCol> cols;
  std::optional<SourceCol> open_col;
  size_t depth = 0;
  bool closed = false;
  while (!closed) {
    auto event = reader.next();
    if (!event) return unexpected(reader_error(event.error()));
    switch (*event) {
      case xml::XmlEvent::StartTag:
      case xml::XmlEvent::EmptyTag: {
        const bool empty = *event == xml::XmlEvent::EmptyTag;
        if (depth == 0) {
          prefix_end = reader.offset_after();
          if (empty) {
            CMX_ASSIGN_OR_RETURN(auto expanded, expand_empty_root(src, reader.offset_after()));
            prefix = std::move(expanded.first);
            suffix = std::move(expanded.second);
            tail_end = prefix_end;
            closed = true;
            break;
          }
          prefix = std::string(src.substr(0, prefix_end));
          ++depth;
          break;
        }
        if (!empty && depth + 1 > xml::MAX_STREAM_DEPTH) {
          return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::DepthExceeded));
        }
        if (depth == 1 && opc::attribute_local_name(reader.name()) == "col") {
          CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(reader));
          const std::optional<ColSpan> span = read_col_span(attributes);
          if (!span) return fresh();
          SourceCol col;
          col.gap_start = cols.empty() ? prefix_end : cols.back().end;
          col.start = reader.offset_before();
          col.tag_end = reader.offset_after();
          col.span = *span;
          col.self_closing = empty;
          if (empty) {
            col.end = reader.offset_after();
            cols.push_back(col);
          } else {
            open_col = col;
          }
        }
        if (!empty) ++depth;
        break;
      }
      case xml::XmlEvent::EndTag:
        --depth;
        if (depth == 1 && open_col) {
          open_col->end = reader.offset_after();
          cols.push_back(*open_col);
          open_col.reset();
        } else if (depth == 0) {
          tail_end = reader.offset_before();
          suffix = std::string(src.substr(reader.offset_before()));
          closed = true;
        }
        break;
      case xml::XmlEvent::Eof:
        return unexpected(SpreadsheetParseError::malformed("cols is not closed"));
      default:
        break;
    }
  }

  std::vector<Piece> pieces;
  std::vector<bool> covered(kMaxColumn, false);
  std::vector<ColWidthRun> runs;
  for (const SourceCol& col : cols) {
    runs.clear();
    for (const ColSpan& target : map_col_span(context.moves->cols, col.span)) {
      plan_col_width_runs(context, target.first, target.end, runs);
    }
    if (runs.empty()) continue;
    const std::string_view gap = src.substr(col.gap_start, col.start - col.gap_start);
    if (runs.size() == 1 && runs[0].state == 2 && runs[0].first == col.span.first && runs[0].end == col.span.end) {
      pieces.push_back(Piece{std::string(gap) + std::string(src.substr(col.start, col.end - col.start)),
                             runs[0].first, false});
    } else {
      CMX_ASSIGN_OR_RETURN(FragmentElement element, parse_fragment_element(src.substr(col.start, col.tag_end - col.start)));
      const std::string_view content = src.substr(col.tag_end, col.end - col.tag_end);
      bool first_piece = true;
      for (const ColWidthRun& run : runs) {
        opc::AttributeList attributes = element.attributes;
        opc::set_attribute_value(attributes, "min", "min", format_u64(uint64_t{run.first} + 1));
        opc::set_attribute_value(attributes, "max", "max", format_u64(run.end));
        if (run.state != 2) {
          for (std::string_view name : {"width", "customWidth", "hidden", "bestFit"}) {
            opc::remove_attribute(attributes, name);
          }
        }
        if (run.state == 1) {
          const std::string width_text = format_xml_number(run.width);
          opc::set_attribute_value(attributes, "width", "width", width_text);
          opc::set_attribute_value(attributes, "customWidth", "customWidth", "1");
          if (width_text == "0") opc::set_attribute_value(attributes, "hidden", "hidden", "1");
        }
        std::string bytes = first_piece ? std::string(gap) : std::string();
        first_piece = false;
        CMX_TRY(write_start_tag(bytes, element.name, attributes, col.self_closing));
        if (!col.self_closing) bytes += content;
        pieces.push_back(Piece{std::move(bytes), run.first, false});
      }
    }
    for (const ColWidthRun& run : runs) {
      for (uint32_t c = run.first; c < run.end && c < kMaxColumn; ++c) covered[c] = true;
    }
  }
  for (const auto& entry : context.sheet->col_widths) {
    const uint32_t col = entry.first;
    const double width = entry.second;
    if (col < kMaxColumn && covered[col]) continue;
    XmlPartWriter writer;
    write_col_element(writer, col, width);
    Piece piece{*writer.finish(), col, true};
    const auto at = std::find_if(pieces.begin(), pieces.end(),
                                 [&](const Piece& p) { return !p.fresh && p.key > col; });
    pieces.insert(at, std::move(piece));
  }
  if (pieces.empty()) return std::optional<std::string>();
  std::string out = prefix;
  for (const Piece& piece : pieces) out += piece.bytes;
  const size_t tail_start = cols.empty() ? prefix_end : cols.back().end;
  if (tail_end > tail_start) out += src.substr(tail_start, tail_end - tail_start);
  out += suffix;
  return std::optional<std::string>(std::move(out));
}

}  // namespace cmx::writer
