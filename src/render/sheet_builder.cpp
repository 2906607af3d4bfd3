#include "render/sheet_builder.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "chart_layout/chart_frames.h"
#include "model/address.h"
#include "model/colors.h"
#include "model/format_render.h"
#include "model/number_format.h"

namespace cmx::render {

namespace {

using model::CellRange;
using model::HorizontalAlignment;
using model::VerticalAlignment;

constexpr float kPxPerPt = 4.0f / 3.0f;
// Ranges taller than this are looked up by a scan instead of per row.
constexpr uint32_t kIndexedRowSpan = 64;
constexpr size_t kMaxIndexEntries = 1048576;

uint32_t saturating_next(uint32_t index) { return index == UINT32_MAX ? index : index + 1; }

// Which range of a list holds a cell: short ranges per row, tall ones scanned.
class RangeIndex {
 public:
  struct Entry {
    uint32_t row, first_col, last_col, pos;
  };

  explicit RangeIndex(std::vector<CellRange> ranges) : ranges_(std::move(ranges)) {}

  void add(uint32_t row, uint32_t pos) {
    const CellRange& r = ranges_[pos];
    entries_.push_back(Entry{row, r.start.col, r.end.col, pos});
  }
  void add_wide(uint32_t pos) { wide_.push_back(pos); }
  size_t size() const { return entries_.size(); }
  const std::vector<CellRange>& ranges() const { return ranges_; }

  void finish() {
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return a.row != b.row ? a.row < b.row : a.first_col < b.first_col;
    });
    for (size_t i = 0; i < entries_.size();) {
      size_t end = i;
      while (end < entries_.size() && entries_[end].row == entries_[i].row) ++end;
      bool disjoint = true;
      for (size_t k = i; k + 1 < end; ++k) {
        if (!(entries_[k].last_col < entries_[k + 1].first_col)) disjoint = false;
      }
      if (!disjoint) {
        std::sort(entries_.begin() + i, entries_.begin() + end,
                  [](const Entry& a, const Entry& b) { return a.pos < b.pos; });
      }
      rows_.emplace(entries_[i].row, Run{i, end, disjoint});
      i = end;
    }
  }

  // The position in the list of the range holding (row, col): the lowest
  // position when both the row run and the wide list answer.
  std::optional<uint32_t> find(uint32_t row, uint32_t col) const {
    std::optional<uint32_t> found;
    if (auto it = rows_.find(row); it != rows_.end()) {
      const Run& run = it->second;
      if (run.disjoint) {
        auto first = entries_.begin() + run.first;
        auto last = entries_.begin() + run.end;
        auto above = std::upper_bound(first, last, col, [](uint32_t c, const Entry& e) { return c < e.first_col; });
        if (above != first && std::prev(above)->last_col >= col) found = std::prev(above)->pos;
      } else {
        for (size_t i = run.first; i < run.end; ++i) {
          if (entries_[i].first_col <= col && col <= entries_[i].last_col) {
            found = entries_[i].pos;
            break;
          }
        }
      }
    }
    for (uint32_t pos : wide_) {
      const CellRange& r = ranges_[pos];
      if (r.start.row <= row && row <= r.end.row && r.start.col <= col && col <= r.end.col) {
        if (!found || pos < *found) found = pos;
        break;
      }
    }
    return found;
  }

 private:
  struct Run {
    size_t first, end;
    bool disjoint;
  };
  std::vector<CellRange> ranges_;
  std::vector<Entry> entries_;
  absl::flat_hash_map<uint32_t, Run> rows_;
  std::vector<uint32_t> wide_;
};

std::optional<SharedString> color_text(const model::StyleSheet& styles, const std::optional<model::Color>& color) {
  if (!color) return std::nullopt;
  std::optional<std::string> rgb = model::resolve_color_rgb(styles, *color);
  if (!rgb) return std::nullopt;
  return SharedString(*rgb);
}

std::string_view number_format_code(const model::StyleSheet& styles, std::optional<uint16_t> id) {
  if (!id) return "General";
  if (*id >= model::kFirstCustomNumFmtId) {
    for (const model::CustomNumFmt& fmt : styles.num_fmts) {
      if (fmt.id == *id) return fmt.code;
    }
    return "General";
  }
  return model::builtin_format_code(*id).value_or("General");
}

RenderStyle resolve_style(const model::StyleSheet& styles, uint32_t index) {
  RenderStyle out;
  if (index >= styles.cell_xfs.size()) return out;
  const model::CellXf& xf = styles.cell_xfs[index];
  out.number_format = SharedString(number_format_code(styles, xf.num_fmt_id));
  if (xf.font && *xf.font < styles.fonts.size()) {
    const model::Font& f = styles.fonts[*xf.font];
    RenderFont font;
    font.size = f.size_pt;
    if (f.name) font.family = SharedString(*f.name);
    font.color = color_text(styles, f.color);
    font.bold = f.bold;
    font.italic = f.italic;
    font.underline = f.underline;
    font.strike = f.strike;
    out.font = std::move(font);
  }
  if (xf.fill && *xf.fill < styles.fills.size()) {
    if (const auto* solid = std::get_if<model::SolidFill>(&styles.fills[*xf.fill])) {
      out.fill = color_text(styles, solid->color);
    }
  }
  if (xf.border && *xf.border < styles.borders.size()) {
    const model::Border& b = styles.borders[*xf.border];
    out.borders = true;
    if (b.top) out.top = border_stroke(*b.top, styles);
    if (b.left) out.left = border_stroke(*b.left, styles);
    if (b.bottom) out.bottom = border_stroke(*b.bottom, styles);
    if (b.right) out.right = border_stroke(*b.right, styles);
  }
  if (xf.alignment) {
    out.wrap = xf.alignment->wrap_text || xf.alignment->shrink_to_fit;
    out.vertical = xf.alignment->v;
    out.horizontal = xf.alignment->h;
  }
  return out;
}

// The last column-style run that holds `col`.
std::optional<uint32_t> column_style_at(const model::SheetModel& sheet, uint32_t col) {
  for (auto it = sheet.column_styles.rbegin(); it != sheet.column_styles.rend(); ++it) {
    if (it->first <= col && col <= it->last) return it->xf;
  }
  return std::nullopt;
}

const DisplayTrack* find_track(const AxisLayout& layout, uint32_t index) {
  auto it = std::lower_bound(layout.tracks.begin(), layout.tracks.end(), index,
                             [](const DisplayTrack& t, uint32_t i) { return t.index < i; });
  if (it == layout.tracks.end() || it->index != index) return nullptr;
  return &*it;
}

void fill_edges(const AxisLayout& layout, std::vector<float>& edges, std::optional<std::vector<uint32_t>>& indices,
                uint32_t& first) {
  if (layout.tracks.empty()) return;
  edges.reserve(layout.tracks.size() + 1);
  edges.push_back(layout.tracks.front().clip_start);
  bool consecutive = true;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    edges.push_back(layout.tracks[i].end);
    if (layout.tracks[i].index != layout.tracks.front().index + i) consecutive = false;
  }
  first = layout.tracks.front().index;
  if (!consecutive) {
    std::vector<uint32_t> list;
    list.reserve(layout.tracks.size());
    for (const DisplayTrack& t : layout.tracks) list.push_back(t.index);
    indices = std::move(list);
  }
}

bool meets_spans(const std::vector<std::pair<uint32_t, uint32_t>>& spans, uint32_t first, uint32_t last) {
  for (const auto& [begin, end] : spans) {
    if (last >= begin && first < end) return true;
  }
  return false;
}

struct DrawRects {
  Rect visible;
  Rect full;
};

struct CollectedCell {
  uint32_t row, col;
  const model::SheetCell* cell;
};

// Everything one build shares between its steps.
class Builder {
 public:
  Builder(const model::WorkbookModel& model, const model::SheetModel& sheet, const Rect& viewport,
          session::WorkbookSession& session, std::string_view sheet_name)
      : model_(model), sheet_(sheet), viewport_(viewport), session_(session), sheet_name_(sheet_name),
        styles_(model.styles),
        metrics_(model::compute_grid_metrics(sheet, model.styles)),
        merges_(sheet.merges), links_(link_ranges(sheet)) {
    rows_ = layout_axis(metrics_, true, frozen_rows_, viewport.y, viewport.height);
    cols_ = layout_axis(metrics_, false, frozen_cols_, viewport.x, viewport.width);
    hyperlink_color_ = SharedString(styles_.theme.colors[10]);
  }

  Result<DisplayList, chart_layout::ChartRenderError> run() {
    DisplayList out;
    out.commands.push_back(FillRect{0, 0, viewport_.width, viewport_.height, std::nullopt, background_});
    fill_edges(rows_, out.row_edges, out.row_indices, out.first_row);
    fill_edges(cols_, out.col_edges, out.col_indices, out.first_col);
    link_areas(out.link_areas);
    build_indexes();
    collect_cells();
    std::vector<DrawCommand> gridlines = make_gridlines(out);
    column_fills(out.commands);
    cell_fills(out.commands);
    std::move(gridlines.begin(), gridlines.end(), std::back_inserter(out.commands));
    borders(out.commands);
    for (const CollectedCell& c : cells_) cell_text(c, out.commands);
    hyperlink_texts(out.commands);
    CMX_TRY(chart_layout::render_chart_frames(sheet_.charts, metrics_, viewport_, frozen_rows_, frozen_cols_,
                                              out.commands, out.chart_regions, session_, sheet_name_));
    dividers(out.commands);
    out.width = viewport_.width;
    out.height = viewport_.height;
    return out;
  }

 private:
  static std::vector<CellRange> link_ranges(const model::SheetModel& sheet) {
    std::vector<CellRange> out;
    out.reserve(sheet.hyperlinks.size());
    for (const model::SheetHyperlink& h : sheet.hyperlinks) out.push_back(h.range);
    return out;
  }

  double position(bool rows, uint32_t index) const { return track_position(metrics_, rows, index); }

  void link_areas(std::vector<LinkArea>& out) const {
    for (const model::SheetHyperlink& h : sheet_.hyperlinks) {
      if (!meets_spans(rows_.spans, h.range.start.row, h.range.end.row)) continue;
      if (!meets_spans(cols_.spans, h.range.start.col, h.range.end.col)) continue;
      out.push_back(LinkArea{h.external_target, h.location, h.tooltip, h.range.start.row, h.range.start.col,
                             h.range.end.row, h.range.end.col});
    }
  }

  void build_indexes() {
    for (uint32_t pos = 0; pos < links_.ranges().size(); ++pos) {
      const CellRange& r = links_.ranges()[pos];
      const bool short_range = r.end.row >= r.start.row && r.end.row - r.start.row < kIndexedRowSpan;
      if (short_range && links_.size() + (r.end.row - r.start.row + 1) <= kMaxIndexEntries) {
        for (uint32_t row = r.start.row; row <= r.end.row; ++row) links_.add(row, pos);
      } else {
        links_.add_wide(pos);
      }
    }
    links_.finish();
    const uint32_t shown_first = rows_.tracks.empty() ? 0 : rows_.tracks.front().index;
    const uint32_t shown_last = rows_.tracks.empty() ? 0 : rows_.tracks.back().index;
    for (uint32_t pos = 0; pos < merges_.ranges().size(); ++pos) {
      const CellRange& r = merges_.ranges()[pos];
      if (!(r.end.row >= r.start.row && r.end.row - r.start.row < kIndexedRowSpan)) {
        merges_.add_wide(pos);
        continue;
      }
      merges_.add(r.start.row, pos);
      if (rows_.tracks.empty()) continue;
      for (uint32_t row = std::max(r.start.row + 1, shown_first); row <= std::min(r.end.row, shown_last); ++row) {
        merges_.add(row, pos);
      }
    }
    merges_.finish();
  }

  const CellRange* merge_at(uint32_t row, uint32_t col) const {
    std::optional<uint32_t> pos = merges_.find(row, col);
    return pos ? &merges_.ranges()[*pos] : nullptr;
  }
  const model::SheetHyperlink* link_at(uint32_t row, uint32_t col) const {
    std::optional<uint32_t> pos = links_.find(row, col);
    return pos ? &sheet_.hyperlinks[*pos] : nullptr;
  }

  void collect_cells() {
    for (const auto& [row_first, row_end] : rows_.spans) {
      for (const auto& [col_first, col_end] : cols_.spans) {
        model::CellRangeIter iter(CellRange{model::CellRef{row_first, col_first}, model::CellRef{row_end - 1, col_end - 1}},
                                  sheet_.cells);
        while (std::optional<model::CellRangeItem> item = model::cell_range_iter_next(iter)) {
          cells_.push_back(CollectedCell{item->ref.row, item->ref.col, item->cell});
        }
      }
    }
    std::sort(cells_.begin(), cells_.end(), [](const CollectedCell& a, const CollectedCell& b) {
      return a.row != b.row ? a.row < b.row : a.col < b.col;
    });
    cells_.erase(std::unique(cells_.begin(), cells_.end(),
                             [](const CollectedCell& a, const CollectedCell& b) { return a.row == b.row && a.col == b.col; }),
                 cells_.end());
    std::erase_if(cells_, [&](const CollectedCell& c) {
      const CellRange* m = merge_at(c.row, c.col);
      return m && !(m->start.row == c.row && m->start.col == c.col);
    });
  }

  std::vector<DrawCommand> make_gridlines(const DisplayList& list) const {
    std::vector<DrawCommand> out;
    const float top = list.row_edges.empty() ? 0 : list.row_edges.front();
    const float bottom = list.row_edges.empty() ? 0 : list.row_edges.back();
    const float left = list.col_edges.empty() ? 0 : list.col_edges.front();
    const float right = list.col_edges.empty() ? 0 : list.col_edges.back();
    out.reserve(list.row_edges.size() + list.col_edges.size());
    for (float x : list.col_edges) out.push_back(Line{x, top, x, bottom, kGridlineWidth, std::nullopt, std::nullopt, gridline_});
    for (float y : list.row_edges) out.push_back(Line{left, y, right, y, kGridlineWidth, std::nullopt, std::nullopt, gridline_});
    return out;
  }

  bool has_cell(uint32_t row, uint32_t col) const { return sheet_.cells.contains(model::CellKey{row, col}); }

  void column_fills(std::vector<DrawCommand>& out) {
    for (const DisplayTrack& col : cols_.tracks) {
      std::optional<uint32_t> xf = column_style_at(sheet_, col.index);
      if (!xf) continue;
      std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(*xf);
      if (!style->fill) continue;
      const DisplayTrack* run_first = nullptr;
      const DisplayTrack* run_last = nullptr;
      auto flush = [&] {
        if (run_first) {
          const float y = run_first->clip_start;
          const float height = run_last->end - y;
          if (height > 0) {
            out.push_back(FillRect{col.clip_start, y, std::max(0.0f, col.end - col.clip_start), height, std::nullopt,
                                   *style->fill});
          }
        }
        run_first = run_last = nullptr;
      };
      for (const DisplayTrack& row : rows_.tracks) {
        const bool free = !has_cell(row.index, col.index) && !merge_at(row.index, col.index);
        if (!free) {
          flush();
          continue;
        }
        if (run_last && row.index != run_last->index + 1) flush();
        if (!run_first) run_first = &row;
        run_last = &row;
      }
      flush();
    }
  }

  std::optional<DrawRects> draw_rects(uint32_t row, uint32_t col) const {
    uint32_t last_row = row;
    uint32_t last_col = col;
    if (const CellRange* m = merge_at(row, col)) {
      last_row = m->end.row;
      last_col = m->end.col;
    }
    const DisplayTrack* ct = find_track(cols_, col);
    const DisplayTrack* rt = find_track(rows_, row);
    if (!ct || !rt) return std::nullopt;
    const float right = far_edge(*ct, false, last_col);
    const float bottom = far_edge(*rt, true, last_row);
    return DrawRects{Rect{ct->clip_start, rt->clip_start, right - ct->clip_start, bottom - rt->clip_start},
                     Rect{ct->start, rt->start, right - ct->start, bottom - rt->start}};
  }

  std::optional<uint32_t> fill_style_index(const CollectedCell& c) const {
    return c.cell->style ? std::optional<uint32_t>(c.cell->style) : column_style_at(sheet_, c.col);
  }

  void cell_fills(std::vector<DrawCommand>& out) {
    for (const CollectedCell& c : cells_) {
      std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(fill_style_index(c));
      if (!style->fill) continue;
      if (std::optional<DrawRects> rects = draw_rects(c.row, c.col)) {
        const Rect& v = rects->visible;
        out.push_back(FillRect{v.x, v.y, v.width, v.height, std::nullopt, *style->fill});
      }
    }
  }

  // Whether the stored cell at (row, col) has a style with a border on the given side.
  template <typename Side>
  bool neighbour_has(uint32_t row, uint32_t col, Side side) {
    auto it = sheet_.cells.find(model::CellKey{row, col});
    if (it == sheet_.cells.end() || !it->second.style) return false;
    std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(it->second.style);
    return style->borders && (style.get()->*side).has_value();
  }

  void borders(std::vector<DrawCommand>& out) {
    auto edge = [&](const BorderStroke& s, float x1, float y1, float x2, float y2) {
      out.push_back(Line{x1, y1, x2, y2, s.width, std::nullopt, s.style, s.color});
    };
    for (const CollectedCell& c : cells_) {
      if (!c.cell->style) continue;
      std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(c.cell->style);
      if (!style->borders) continue;
      std::optional<DrawRects> rects = draw_rects(c.row, c.col);
      if (!rects) continue;
      const Rect& v = rects->visible;
      const Rect& r = rects->full;
      const float r_bottom = r.y + r.height;
      const float r_right = r.x + r.width;
      const CellRange* m = merge_at(c.row, c.col);
      const uint32_t last_row = m ? m->end.row : c.row;
      const uint32_t last_col = m ? m->end.col : c.col;
      if (style->top && v.y <= r.y && r.y <= v.y + v.height) edge(*style->top, v.x, r.y, v.x + v.width, r.y);
      if (style->left && v.x <= r.x && r.x <= v.x + v.width) edge(*style->left, r.x, v.y, r.x, v.y + v.height);
      if (style->bottom && v.y <= r_bottom && r_bottom <= v.y + v.height &&
          !(last_row < UINT32_MAX && neighbour_has(last_row + 1, c.col, &RenderStyle::top))) {
        edge(*style->bottom, v.x, r_bottom, v.x + v.width, r_bottom);
      }
      if (style->right && v.x <= r_right && r_right <= v.x + v.width &&
          !(last_col < UINT32_MAX && neighbour_has(c.row, last_col + 1, &RenderStyle::left))) {
        edge(*style->right, r_right, v.y, r_right, v.y + v.height);
      }
    }
  }

  bool link_starts_here_with_text(const model::SheetHyperlink* h, uint32_t row, uint32_t col) const {
    return h && h->range.start.row == row && h->range.start.col == col && h->display && !h->display->empty();
  }

  bool overflow_cell_is_free(uint32_t row, uint32_t col) {
    if (merge_at(row, col)) return false;
    auto it = sheet_.cells.find(model::CellKey{row, col});
    if (it != sheet_.cells.end()) {
      std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(it->second.style);
      if (cell_text_and_color(*style, model_.date_system, it->second, black_)) return false;
    }
    return !link_starts_here_with_text(link_at(row, col), row, col);
  }

  // Where the track `last` ends when drawn from track `t`: a frozen track
  // stops at the frozen band's edge, a scrolled one moves with the offset.
  float far_edge(const DisplayTrack& t, bool rows, uint32_t last) const {
    const AxisLayout& layout = rows ? rows_ : cols_;
    const uint32_t k = saturating_next(last);
    if (t.frozen) return static_cast<float>(position(rows, std::min(k, layout.frozen_count)));
    return static_cast<float>(position(rows, k) - layout.offset);
  }

  static TextAlign text_align(const RenderStyle& style, const model::CellValue& value) {
    switch (style.horizontal.value_or(HorizontalAlignment::General)) {
      case HorizontalAlignment::Left:
      case HorizontalAlignment::Fill:
      case HorizontalAlignment::Justify: return TextAlign::Left;
      case HorizontalAlignment::Center:
      case HorizontalAlignment::CenterContinuous:
      case HorizontalAlignment::Distributed: return TextAlign::Center;
      case HorizontalAlignment::Right: return TextAlign::Right;
      case HorizontalAlignment::General: break;
    }
    if (value.is_number()) return TextAlign::Right;
    if (value.is_bool()) return TextAlign::Center;
    return TextAlign::Left;
  }

  void cell_text(const CollectedCell& c, std::vector<DrawCommand>& out) {
    const model::SheetHyperlink* h = link_at(c.row, c.col);
    std::shared_ptr<const RenderStyle> style = styles_cache_.resolve(c.cell->style);
    std::optional<CellText> text = cell_text_and_color(*style, model_.date_system, *c.cell, black_);
    bool force_underline = false;
    if (text && h) {
      text->color = hyperlink_color_;
      force_underline = true;
    } else if (!text) {
      if (!link_starts_here_with_text(h, c.row, c.col)) return;
      text = CellText{SharedString(*h->display), hyperlink_color_};
      force_underline = true;
    }
    std::optional<DrawRects> rects = draw_rects(c.row, c.col);
    if (!rects) return;
    const Rect& v = rects->visible;
    const Rect& r = rects->full;
    const RenderFont* font = style->font ? &*style->font : nullptr;
    const float size = font && font->size ? static_cast<float>(*font->size) : kDefaultFontPt;
    const float size_px = size * kPxPerPt;
    const TextAlign align = text_align(*style, c.cell->value);
    const float x = align == TextAlign::Left    ? r.x + kTextInsetPx
                    : align == TextAlign::Right ? r.x + r.width - kTextInsetPx
                                                : r.x + r.width / 2;
    float y = 0;
    switch (style->vertical.value_or(VerticalAlignment::Bottom)) {
      case VerticalAlignment::Top: y = r.y + 2 + 0.7f * size_px; break;
      case VerticalAlignment::Center:
      case VerticalAlignment::Justify:
      case VerticalAlignment::Distributed: y = r.y + r.height / 2 + size_px / 4; break;
      case VerticalAlignment::Bottom: y = r.y + r.height - 2 - 0.2f * size_px; break;
    }
    Rect clip = v;
    if (c.cell->value.is_text() && !merge_at(c.row, c.col) && !style->wrap) widen_for_overflow(c, align, clip);

    Text cmd;
    cmd.align = align;
    if (font) {
      cmd.bold = font->bold;
      cmd.italic = font->italic;
      cmd.underline = font->underline;
      cmd.strike = font->strike;
      cmd.family = font->family;
    }
    cmd.underline = cmd.underline || force_underline;
    cmd.x = x;
    cmd.y = y;
    cmd.size = size;
    cmd.clip = clip;
    cmd.text = std::move(text->text);
    cmd.color = std::move(text->color);
    out.push_back(std::move(cmd));
  }

  void widen_for_overflow(const CollectedCell& c, TextAlign align, Rect& clip) {
    auto it = std::lower_bound(cols_.tracks.begin(), cols_.tracks.end(), c.col,
                               [](const DisplayTrack& t, uint32_t i) { return t.index < i; });
    if (it == cols_.tracks.end() || it->index != c.col) return;
    const size_t home = static_cast<size_t>(it - cols_.tracks.begin());
    size_t left = home;
    size_t right = home;
    auto can_move = [&](size_t from, size_t to) {
      const DisplayTrack& a = cols_.tracks[from];
      const DisplayTrack& b = cols_.tracks[to];
      const bool adjacent = to > from ? b.index == a.index + 1 : b.index + 1 == a.index;
      return b.frozen == a.frozen && adjacent && overflow_cell_is_free(c.row, b.index);
    };
    if (align != TextAlign::Left) {
      while (left > 0 && can_move(left, left - 1)) --left;
    }
    if (align != TextAlign::Right) {
      while (right + 1 < cols_.tracks.size() && can_move(right, right + 1)) ++right;
    }
    if (left == home && right == home) return;
    clip.x = cols_.tracks[left].clip_start;
    clip.width = far_edge(cols_.tracks[right], false, cols_.tracks[right].index) - clip.x;
  }

  void hyperlink_texts(std::vector<DrawCommand>& out) {
    for (const model::SheetHyperlink& h : sheet_.hyperlinks) {
      const uint32_t row = h.range.start.row;
      const uint32_t col = h.range.start.col;
      if (has_cell(row, col) || !h.display || h.display->empty()) continue;
      if (!find_track(rows_, row) || !find_track(cols_, col)) continue;
      std::optional<DrawRects> rects = draw_rects(row, col);
      if (!rects) continue;
      const Rect& r = rects->full;
      Text cmd;
      cmd.align = TextAlign::Left;
      cmd.underline = true;
      cmd.x = r.x + kTextInsetPx;
      cmd.y = r.y + r.height - 2 - 0.2f * (kDefaultFontPt * kPxPerPt);
      cmd.size = kDefaultFontPt;
      cmd.clip = rects->visible;
      cmd.text = SharedString(*h.display);
      cmd.color = hyperlink_color_;
      out.push_back(std::move(cmd));
    }
  }

  void dividers(std::vector<DrawCommand>& out) const {
    if (cols_.divider) {
      out.push_back(Line{cols_.frozen_extent, 0, cols_.frozen_extent, viewport_.height, kDividerWidth, std::nullopt,
                         std::nullopt, divider_});
    }
    if (rows_.divider) {
      out.push_back(Line{0, rows_.frozen_extent, viewport_.width, rows_.frozen_extent, kDividerWidth, std::nullopt,
                         std::nullopt, divider_});
    }
  }

  const model::WorkbookModel& model_;
  const model::SheetModel& sheet_;
  Rect viewport_;
  session::WorkbookSession& session_;
  std::string_view sheet_name_;
  uint32_t frozen_rows_ = sheet_.freeze_pane ? sheet_.freeze_pane->rows : 0;
  uint32_t frozen_cols_ = sheet_.freeze_pane ? sheet_.freeze_pane->cols : 0;
  const model::StyleSheet& styles_;
  model::GridMetrics metrics_;
  AxisLayout rows_;
  AxisLayout cols_;
  RangeIndex merges_;
  RangeIndex links_;
  RenderStyleCache styles_cache_{styles_};
  std::vector<CollectedCell> cells_;
  SharedString background_{"#ffffff"};
  SharedString black_{"#000000"};
  SharedString gridline_{"#d4d4d4"};
  SharedString divider_{"#8a8a8a"};
  SharedString hyperlink_color_;
};

}  // namespace

RenderStyleCache::RenderStyleCache(const model::StyleSheet& styles)
    : styles_(styles), default_(std::make_shared<const RenderStyle>()) {}

std::shared_ptr<const RenderStyle> RenderStyleCache::resolve(std::optional<uint32_t> style) {
  if (!style) return default_;
  auto [it, inserted] = cache_.try_emplace(*style);
  if (inserted) it->second = std::make_shared<const RenderStyle>(resolve_style(styles_, *style));
  return it->second;
}

BorderStroke border_stroke(const model::BorderEdge& edge, const model::StyleSheet& styles) {
  BorderStroke out;
  out.color = color_text(styles, edge.color).value_or(SharedString("#000000"));
  switch (edge.style) {
    case model::BorderStyle::Thin: out.width = 1; break;
    case model::BorderStyle::Medium: out.width = 2; break;
    case model::BorderStyle::Thick: out.width = 3; break;
    case model::BorderStyle::Dashed: out.style = SharedString("dashed"); break;
    case model::BorderStyle::Dotted:
    case model::BorderStyle::Hair: out.style = SharedString("dotted"); break;
    case model::BorderStyle::Double: out.style = SharedString("double"); break;
  }
  return out;
}

std::optional<CellText> cell_text_and_color(const RenderStyle& style, model::DateSystem system,
                                            const model::SheetCell& cell, const SharedString& default_color) {
  if (cell.value.is_empty()) return std::nullopt;
  model::FormattedText formatted = model::format_cell_value(cell.value, style.number_format.view(), system);
  if (formatted.text.empty()) return std::nullopt;
  SharedString color = default_color;
  if (formatted.color) {
    color = SharedString(*formatted.color);
  } else if (style.font && style.font->color) {
    color = *style.font->color;
  }
  return CellText{SharedString(formatted.text), std::move(color)};
}

double track_position(const model::GridMetrics& metrics, bool rows, uint32_t index) {
  return rows ? model::row_top_px(metrics, index) : model::col_left_px(metrics, index);
}

AxisLayout layout_axis(const model::GridMetrics& metrics, bool rows, uint32_t frozen, float offset, float extent) {
  const uint32_t grid = rows ? model::MAX_ROWS : model::MAX_COLS;
  auto pos = [&](uint32_t i) { return track_position(metrics, rows, i); };
  auto index_at = [&](float p) { return rows ? model::row_at_px(metrics, p) : model::col_at_px(metrics, p); };
  AxisLayout out;
  out.offset = offset;
  uint32_t frozen_capped = 0;
  if (frozen > 0) {
    frozen_capped = std::min(frozen, grid);
    out.frozen_count = frozen_capped;
    out.frozen_extent = static_cast<float>(pos(frozen_capped));
    out.offset = std::max(offset, 0.0f);
    for (uint32_t i = 0; i < frozen_capped; ++i) {
      const float top = static_cast<float>(pos(i));
      if (!(top < extent)) break;
      out.tracks.push_back(DisplayTrack{i, top, top, static_cast<float>(pos(i + 1)), true});
    }
  }
  if (frozen_capped < grid && out.frozen_extent < extent) {
    const uint32_t first = std::min(std::max(index_at(out.frozen_extent + out.offset), frozen_capped), grid - 1);
    const uint32_t last = std::min(std::max(index_at(out.offset + extent), first), grid - 1);
    for (uint32_t i = first;; ++i) {
      const float start = static_cast<float>(pos(i) - out.offset);
      const float end = static_cast<float>(pos(i + 1) - out.offset);
      const float clip = i == first && frozen > 0 ? std::max(start, out.frozen_extent) : start;
      out.tracks.push_back(DisplayTrack{i, start, clip, end, false});
      if (i == last) break;
    }
  }
  for (const DisplayTrack& t : out.tracks) {
    if (!out.spans.empty() && out.spans.back().second == t.index) {
      ++out.spans.back().second;
    } else {
      out.spans.emplace_back(t.index, t.index + 1);
    }
  }
  out.divider = frozen > 0 && out.frozen_extent < extent;
  return out;
}

Result<DisplayList, chart_layout::ChartRenderError> build_display_list(const model::WorkbookModel& model,
                                                                       uint32_t sheet, const Rect& viewport,
                                                                       session::WorkbookSession& session,
                                                                       std::string_view sheet_name) {
  if (sheet >= model.sheets.size()) {
    DisplayList out;
    out.commands.push_back(FillRect{0, 0, viewport.width, viewport.height, std::nullopt, SharedString("#ffffff")});
    out.width = viewport.width;
    out.height = viewport.height;
    return out;
  }
  return Builder(model, model.sheets[sheet], viewport, session, sheet_name).run();
}

}  // namespace cmx::render
