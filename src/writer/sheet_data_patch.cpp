#include <algorithm>
#include <set>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "base/number_text.h"
#include "writer/patch_text.h"
#include "writer/source_rewrites.h"
#include "xml/pull_reader.h"
#include "xml/start_tag.h"
#include "xml/streaming.h"

namespace cmx::writer {

namespace {

using model::CellKey;

using opc::first_with_local_name;

enum class FormulaKind : uint8_t { None, Shared, Other };

struct FormulaAttributes {
  FormulaKind kind = FormulaKind::None;
  uint32_t si = 0;
  std::optional<model::CellRange> ref;
  size_t tag_start = 0;
  size_t tag_end = 0;
  bool self_closing = false;
  bool opaque = false;
};

struct SourceCell {
  FormulaAttributes formula;
  size_t gap_start = 0;
  size_t start = 0;
  size_t end = 0;
  size_t tag_end = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  bool abs_row = false;
  bool abs_col = false;
  bool self_closing = false;
  bool shared_string = false;
};

struct SourceRow {
  std::vector<SourceCell> cells;
  size_t gap_start = 0;
  size_t start = 0;
  size_t end = 0;
  size_t tag_end = 0;
  uint32_t row = 0;
  bool self_closing = false;
};

std::optional<uint32_t> read_row_index(const opc::AttributeList& attributes, const SourceRow* previous) {
  const opc::AttributePair* r = first_with_local_name(attributes, "r");
  if (r == nullptr) return std::nullopt;
  const std::optional<uint32_t> value = xml::parse_u32_attribute(trimmed(r->value));
  if (!value || *value < 1 || *value > model::MAX_ROWS) return std::nullopt;
  if (previous != nullptr && *value - 1 <= previous->row) return std::nullopt;
  return *value - 1;
}

std::optional<model::CellRef> read_cell_position(const opc::AttributeList& attributes, const SourceRow& row) {
  const opc::AttributePair* r = first_with_local_name(attributes, "r");
  if (r == nullptr) return std::nullopt;
  const auto ref = model::parse_cell_ref(r->value);
  if (!ref || ref->row != row.row) return std::nullopt;
  if (!row.cells.empty() && row.cells.back().col >= ref->col) return std::nullopt;
  return *ref;
}

FormulaAttributes read_formula_attributes(const opc::AttributeList& attributes, size_t start, size_t end,
                                          bool self_closing) {
  FormulaAttributes f;
  f.tag_start = start;
  f.tag_end = end;
  f.self_closing = self_closing;
  const opc::AttributePair* t = first_with_local_name(attributes, "t");
  const bool shared = t != nullptr && t->value == "shared";
  std::optional<uint32_t> si;
  if (shared) {
    if (const opc::AttributePair* si_attr = first_with_local_name(attributes, "si")) {
      si = xml::parse_u32_attribute(trimmed(si_attr->value));
    }
  }
  bool bad_ref = false;
  if (const opc::AttributePair* ref = first_with_local_name(attributes, "ref")) {
    const auto range = model::parse_range(ref->value);
    if (range) {
      f.ref = *range;
    } else {
      bad_ref = true;
    }
  }
  f.kind = shared && si ? FormulaKind::Shared : FormulaKind::Other;
  if (f.kind == FormulaKind::Shared) f.si = *si;
  f.opaque = first_with_local_name(attributes, "r1") != nullptr || first_with_local_name(attributes, "r2") != nullptr ||
             (shared && !si) || bad_ref;
  return f;
}

bool range_moves_intact(const model::SheetMoveMap& moves, const model::CellRange& range) {
  const auto r0 = map_to_target(moves.rows, range.start.row);
  const auto r1 = map_to_target(moves.rows, range.end.row);
  const auto c0 = map_to_target(moves.cols, range.start.col);
  const auto c1 = map_to_target(moves.cols, range.end.col);
  if (!r0 || !r1 || !c0 || !c1) return false;
  const auto span = [](uint32_t a, uint32_t b) { return a > b ? a - b : b - a; };
  return span(*r1, *r0) == range.end.row - range.start.row && span(*c1, *c0) == range.end.col - range.start.col;
}

const model::SheetCell* cell_at(const model::SheetModel& sheet, CellKey key) {
  const auto found = sheet.cells.find(key);
  return found == sheet.cells.end() ? nullptr : &found->second;
}

std::optional<double> height_at(const model::SheetModel& sheet, uint32_t row) {
  const auto found = sheet.row_heights.find(row);
  if (found == sheet.row_heights.end()) return std::nullopt;
  return found->second;
}

// Reads the source element. None when its shape cannot be followed.
struct Scan {
  std::string prefix;
  std::string suffix;
  size_t prefix_end = 0;
  size_t tail_end = 0;
  std::vector<SourceRow> rows;
};

Result<std::optional<Scan>, SpreadsheetParseError> scan_sheet_data(std::string_view src) {
  Scan scan;
  xml::XmlPullReader reader(src);
  size_t depth = 0;
  bool row_open = false;
  bool cell_open = false;
  while (true) {
    auto event = reader.next();
    if (!event) return unexpected(reader_error(event.error()));
    const xml::XmlEvent kind = *event;
    if (kind == xml::XmlEvent::Eof) return unexpected(SpreadsheetParseError::malformed("sheetData is not closed"));
    if (kind == xml::XmlEvent::StartTag || kind == xml::XmlEvent::EmptyTag) {
      const bool empty = kind == xml::XmlEvent::EmptyTag;
      if (depth + 1 > xml::MAX_STREAM_DEPTH) {
        return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::DepthExceeded));
      }
      const std::string_view local = opc::attribute_local_name(reader.name());
      if (depth == 0) {
        scan.prefix_end = reader.offset_after();
        if (empty) {
          CMX_ASSIGN_OR_RETURN(FragmentElement root, parse_fragment_element(src.substr(0, scan.prefix_end)));
          CMX_TRY(write_start_tag(scan.prefix, root.name, root.attributes, false));
          scan.suffix = "</" + root.name + ">" + std::string(src.substr(scan.prefix_end));
          scan.tail_end = scan.prefix_end;
          return std::optional<Scan>(std::move(scan));
        }
        scan.prefix = std::string(src.substr(0, scan.prefix_end));
      } else if (depth == 1 && local == "row") {
        CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(reader));
        const std::optional<uint32_t> index =
            read_row_index(attributes, scan.rows.empty() ? nullptr : &scan.rows.back());
        if (!index) return std::optional<Scan>();
        SourceRow row;
        row.gap_start = scan.rows.empty() ? scan.prefix_end : scan.rows.back().end;
        row.start = reader.offset_before();
        row.tag_end = reader.offset_after();
        row.row = *index;
        row.self_closing = empty;
        if (empty) row.end = reader.offset_after();
        scan.rows.push_back(std::move(row));
        row_open = !empty;
      } else if (depth == 2 && row_open && local == "c") {
        SourceRow& row = scan.rows.back();
        CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(reader));
        const std::optional<model::CellRef> ref = read_cell_position(attributes, row);
        if (!ref) return std::optional<Scan>();
        SourceCell cell;
        cell.gap_start = row.cells.empty() ? row.tag_end : row.cells.back().end;
        cell.start = reader.offset_before();
        cell.tag_end = reader.offset_after();
        cell.row = ref->row;
        cell.col = ref->col;
        cell.abs_row = ref->abs_row;
        cell.abs_col = ref->abs_col;
        cell.self_closing = empty;
        const opc::AttributePair* t = first_with_local_name(attributes, "t");
        cell.shared_string = t != nullptr && t->value == "s";
        if (empty) cell.end = reader.offset_after();
        row.cells.push_back(cell);
        cell_open = !empty;
      } else if (depth == 3 && cell_open && local == "f") {
        CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(reader));
        scan.rows.back().cells.back().formula =
            read_formula_attributes(attributes, reader.offset_before(), reader.offset_after(), empty);
      }
      if (!empty) ++depth;
      continue;
    }
    if (kind == xml::XmlEvent::EndTag) {
      --depth;
      if (depth == 2 && cell_open) {
        scan.rows.back().cells.back().end = reader.offset_after();
        cell_open = false;
      } else if (depth == 1 && row_open) {
        scan.rows.back().end = reader.offset_after();
        row_open = false;
      } else if (depth == 0) {
        scan.tail_end = reader.offset_before();
        scan.suffix = std::string(src.substr(reader.offset_before()));
        return std::optional<Scan>(std::move(scan));
      }
    }
  }
}

class SheetDataPatch {
 public:
  SheetDataPatch(const SheetPatchContext& context, std::string_view src, const Scan& scan)
      : ctx_(context), sheet_(*context.sheet), base_(*context.baseline), moves_(*context.moves), src_(src),
        scan_(scan), writer_(src.size() + 256) {
    write_context_.shared_strings = &context.model->shared_strings;
    write_context_.lookup = context.text_index;
    write_context_.recorded = context.string_indexes;
    write_context_.plan = context.plan;
  }

  Result<std::string, SpreadsheetParseError> run() {
    collect_changes();
    std::string& out = writer_.buffer();
    out += scan_.prefix;
    auto cursor = sheet_.cells.cbegin();
    auto height = sheet_.row_heights.cbegin();
    size_t next_row = 0;
    auto skip_deleted = [&] {
      while (next_row < scan_.rows.size() && !map_to_target(moves_.rows, scan_.rows[next_row].row)) ++next_row;
    };
    skip_deleted();
    while (true) {
      std::optional<uint32_t> index;
      auto consider = [&](uint32_t row) { index = index ? std::min(*index, row) : row; };
      std::optional<uint32_t> source_target;
      if (next_row < scan_.rows.size()) {
        source_target = map_to_target(moves_.rows, scan_.rows[next_row].row);
        consider(*source_target);
      }
      if (cursor != sheet_.cells.cend()) consider(cursor->first.row);
      if (height != sheet_.row_heights.cend()) consider(height->first);
      if (!index) break;
      if (height != sheet_.row_heights.cend() && height->first == *index) ++height;
      if (source_target == index) {
        CMX_TRY(patch_row(scan_.rows[next_row], *index, cursor));
        ++next_row;
        skip_deleted();
      } else {
        write_row(writer_, sheet_, *index, cursor, write_context_);
      }
    }
    const size_t tail_start = scan_.rows.empty() ? scan_.prefix_end : scan_.rows.back().end;
    if (scan_.tail_end > tail_start) out += src_.substr(tail_start, scan_.tail_end - tail_start);
    out += scan_.suffix;
    return writer_.finish();
  }

 private:
  void collect_changes() {
    for (const auto& [key, cell] : base_.cells) {
      const auto r = map_to_target(moves_.rows, key.row);
      const auto c = map_to_target(moves_.cols, key.col);
      const model::SheetCell* cur = r && c ? cell_at(sheet_, {*r, *c}) : nullptr;
      if (cur == nullptr || !(*cur == cell)) changed_.insert(key);
    }
    for (const auto& [key, cell] : sheet_.cells) {
      const auto r = map_to_source(moves_.rows, key.row);
      const auto c = map_to_source(moves_.cols, key.col);
      if (!r || !c) continue;
      const model::SheetCell* base = cell_at(base_, {*r, *c});
      if (base == nullptr || !(*base == cell)) changed_.insert({*r, *c});
    }
    struct Group {
      bool touched = false;
      uint32_t masters = 0;
      const SourceCell* master = nullptr;
    };
    absl::flat_hash_map<uint32_t, Group> groups;
    for (const SourceRow& row : scan_.rows) {
      for (const SourceCell& cell : row.cells) {
        const FormulaAttributes& f = cell.formula;
        if (f.kind == FormulaKind::Shared) {
          Group& group = groups[f.si];
          if (changed_.contains({cell.row, cell.col})) group.touched = true;
          if (f.ref) {
            ++group.masters;
            group.master = &cell;
          }
        } else if (f.kind == FormulaKind::Other && f.ref) {
          if (changed_.contains({cell.row, cell.col}) || !range_moves_intact(moves_, *f.ref) ||
              changed_inside(*f.ref)) {
            rewritten_arrays_.insert({cell.row, cell.col});
          }
        }
      }
    }
    for (const auto& [si, group] : groups) {
      if (group.touched || group.masters != 1 || !range_moves_intact(moves_, *group.master->formula.ref)) {
        rewritten_groups_.insert(si);
      }
    }
  }

  bool changed_inside(const model::CellRange& range) const {
    for (auto it = changed_.lower_bound({range.start.row, 0});
         it != changed_.end() && it->row <= range.end.row; ++it) {
      if (it->col >= range.start.col && it->col <= range.end.col) return true;
    }
    return false;
  }

  void write_patch_cell(CellKey target, const model::SheetCell& cell) {
    const model::CellRange* array_range = nullptr;
    if (cell.formula) {
      const auto found = sheet_.array_ranges.find(target);
      if (found != sheet_.array_ranges.end()) array_range = &found->second;
    }
    write_cell(writer_, target, cell, resolve_shared_string_index(cell, target, write_context_), array_range);
  }

  enum class Verdict : uint8_t { Keep, Rewrite, Drop };

  Verdict judge(const SourceCell& cell, uint32_t s, uint32_t t, uint32_t c, const model::SheetCell* cur) {
    const model::SheetCell* base = cell_at(base_, {cell.row, cell.col});
    if (cur == nullptr && base != nullptr) return Verdict::Drop;
    if (cur != nullptr && (base == nullptr || !(*cur == *base))) return Verdict::Rewrite;
    if (cur != nullptr && cell.shared_string) {
      if (ctx_.string_indexes == nullptr) return Verdict::Rewrite;
      const auto recorded = ctx_.string_indexes->find({t, c});
      if (recorded == ctx_.string_indexes->end()) return Verdict::Rewrite;
      if (resolve_shared_string_index(*cur, {t, c}, write_context_) != recorded->second) return Verdict::Rewrite;
    }
    const FormulaAttributes& f = cell.formula;
    if (f.kind == FormulaKind::None) return Verdict::Keep;
    const bool moved = s != t || cell.col != c || cell.abs_row || cell.abs_col;
    if (moved && f.opaque) return Verdict::Rewrite;
    if (f.kind == FormulaKind::Shared && rewritten_groups_.contains(f.si)) return Verdict::Rewrite;
    if (f.kind == FormulaKind::Other && f.ref && rewritten_arrays_.contains({cell.row, cell.col})) {
      return Verdict::Rewrite;
    }
    return Verdict::Keep;
  }

  Result<void, SpreadsheetParseError> keep_cell(const SourceCell& cell, uint32_t s, uint32_t t, uint32_t c) {
    std::string& out = writer_.buffer();
    const bool moved = s != t || cell.col != c || cell.abs_row || cell.abs_col;
    if (!moved) {
      out += src_.substr(cell.start, cell.end - cell.start);
      return {};
    }
    CMX_ASSIGN_OR_RETURN(FragmentElement element,
                         parse_fragment_element(src_.substr(cell.start, cell.tag_end - cell.start)));
    std::string r;
    append_cell_ref(r, t, c);
    opc::set_attribute_value(element.attributes, "r", "r", std::move(r));
    CMX_TRY(write_start_tag(out, element.name, element.attributes, cell.self_closing));
    const FormulaAttributes& f = cell.formula;
    if (f.kind == FormulaKind::None || !f.ref) {
      out += src_.substr(cell.tag_end, cell.end - cell.tag_end);
      return {};
    }
    const model::CellRange& old = *f.ref;
    const auto r0 = map_to_target(moves_.rows, old.start.row);
    const auto r1 = map_to_target(moves_.rows, old.end.row);
    const auto c0 = map_to_target(moves_.cols, old.start.col);
    const auto c1 = map_to_target(moves_.cols, old.end.col);
    if (!r0 || !r1 || !c0 || !c1) {
      out += src_.substr(cell.tag_end, cell.end - cell.tag_end);
      return {};
    }
    model::CellRange moved_ref;
    moved_ref.start.row = std::min(*r0, *r1);
    moved_ref.end.row = std::max(*r0, *r1);
    moved_ref.start.col = std::min(*c0, *c1);
    moved_ref.end.col = std::max(*c0, *c1);
    const bool plain = !old.start.abs_row && !old.start.abs_col && !old.end.abs_row && !old.end.abs_col;
    if (plain && old == moved_ref) {
      out += src_.substr(cell.tag_end, cell.end - cell.tag_end);
      return {};
    }
    out += src_.substr(cell.tag_end, f.tag_start - cell.tag_end);
    CMX_ASSIGN_OR_RETURN(FragmentElement f_element, parse_fragment_element(src_.substr(f.tag_start, f.tag_end - f.tag_start)));
    opc::set_attribute_value(f_element.attributes, "ref", "ref", model::format_range(moved_ref));
    CMX_TRY(write_start_tag(out, f_element.name, f_element.attributes, f.self_closing));
    out += src_.substr(f.tag_end, cell.end - f.tag_end);
    return {};
  }

  Result<void, SpreadsheetParseError> patch_row(const SourceRow& row, uint32_t t, model::CellMap::const_iterator& cursor) {
    std::string& out = writer_.buffer();
    const uint32_t s = row.row;
    // The row's gap goes first; the start tag is known only after its cells.
    out += src_.substr(row.gap_start, row.start - row.gap_start);
    const size_t tag_at = out.size();
    std::optional<uint32_t> first_written;
    uint32_t last_written = 0;
    auto wrote = [&](uint32_t c) {
      if (!first_written) first_written = c + 1;
      last_written = c + 1;
    };
    auto write_new_until = [&](std::optional<uint32_t> limit) {
      while (cursor != sheet_.cells.cend() && cursor->first.row == t && (!limit || cursor->first.col < *limit)) {
        write_patch_cell(cursor->first, cursor->second);
        wrote(cursor->first.col);
        ++cursor;
      }
    };
    for (const SourceCell& cell : row.cells) {
      const std::optional<uint32_t> target_col = map_to_target(moves_.cols, cell.col);
      if (!target_col) continue;
      const uint32_t c = *target_col;
      write_new_until(c);
      const model::SheetCell* cur = nullptr;
      if (cursor != sheet_.cells.cend() && cursor->first.row == t && cursor->first.col == c) {
        cur = &cursor->second;
        ++cursor;
      }
      const std::string_view gap = src_.substr(cell.gap_start, cell.start - cell.gap_start);
      switch (judge(cell, s, t, c, cur)) {
        case Verdict::Drop: break;
        case Verdict::Keep:
          out += gap;
          CMX_TRY(keep_cell(cell, s, t, c));
          wrote(c);
          break;
        case Verdict::Rewrite:
          if (cur == nullptr) break;
          out += gap;
          write_patch_cell({t, c}, *cur);
          wrote(c);
          break;
      }
    }
    write_new_until(std::nullopt);
    std::string cells = out.substr(tag_at);
    out.resize(tag_at);

    const std::string_view source_tag = src_.substr(row.start, row.tag_end - row.start);
    CMX_ASSIGN_OR_RETURN(FragmentElement element, parse_fragment_element(source_tag));
    bool changed = false;
    if (s != t) {
      opc::set_attribute_value(element.attributes, "r", "r", format_u64(uint64_t{t} + 1));
      changed = true;
    }
    const std::optional<double> base_height = height_at(base_, s);
    const std::optional<double> cur_height = height_at(sheet_, t);
    if (base_height != cur_height) {
      for (std::string_view name : {"ht", "customHeight", "hidden"}) opc::remove_attribute(element.attributes, name);
      if (cur_height) {
        const std::string ht = format_xml_number(*cur_height);
        opc::set_attribute_value(element.attributes, "ht", "ht", ht);
        opc::set_attribute_value(element.attributes, "customHeight", "customHeight", "1");
        if (ht == "0") opc::set_attribute_value(element.attributes, "hidden", "hidden", "1");
      }
      changed = true;
    }
    if (first_written) {
      if (const opc::AttributePair* spans = first_with_local_name(element.attributes, "spans")) {
        const std::string_view value = trimmed(spans->value);
        const size_t colon = value.find(':');
        if (colon != std::string_view::npos) {
          const auto left = xml::parse_u32_attribute(value.substr(0, colon));
          const auto right = xml::parse_u32_attribute(value.substr(colon + 1));
          if (left && right && (*first_written < *left || *right < last_written)) {
            opc::set_attribute_value(element.attributes, "spans", "spans",
                                     format_u64(*first_written) + ":" + format_u64(last_written));
            changed = true;
          }
        }
      }
    }
    if (!row.self_closing) {
      if (changed) {
        CMX_TRY(write_start_tag(out, element.name, element.attributes, false));
      } else {
        out += source_tag;
      }
      out += cells;
      const size_t rest = row.cells.empty() ? row.tag_end : row.cells.back().end;
      out += src_.substr(rest, row.end - rest);
    } else if (!first_written) {
      if (changed) {
        CMX_TRY(write_start_tag(out, element.name, element.attributes, true));
      } else {
        out += source_tag;
      }
    } else {
      CMX_TRY(write_start_tag(out, element.name, element.attributes, false));
      out += cells;
      out += "</" + element.name + ">";
    }
    return {};
  }

  const SheetPatchContext& ctx_;
  const model::SheetModel& sheet_;
  const model::SheetModel& base_;
  const model::SheetMoveMap& moves_;
  std::string_view src_;
  const Scan& scan_;
  XmlPartWriter writer_;
  SheetWriteContext write_context_;
  std::set<CellKey> changed_;
  absl::flat_hash_set<uint32_t> rewritten_groups_;
  std::set<CellKey> rewritten_arrays_;
};

}  // namespace

Result<std::optional<std::string>, SpreadsheetParseError> patch_sheet_data(const SheetPatchContext& context,
                                                                          std::string_view source_element) {
  CMX_ASSIGN_OR_RETURN(std::optional<Scan> scan, scan_sheet_data(source_element));
  if (!scan) return std::optional<std::string>();
  SheetDataPatch patch(context, source_element, *scan);
  CMX_ASSIGN_OR_RETURN(std::string text, patch.run());
  return std::optional<std::string>(std::move(text));
}

}  // namespace cmx::writer
