#include "ops/style_edits.h"

#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "model/number_format.h"
#include "model/style_interning.h"
#include "ops/formatting.h"

namespace cmx::ops {

namespace {

using model::CellFormat;
using model::CellKey;
using model::SheetCell;

OpsError from_intern_error(model::InternError error) {
  switch (error) {
    case model::InternError::NumFmtTableFull:
      return OpsError::of(OpsErrorKind::NumFmtTableFull);
    case model::InternError::StyleTableFull:
      return OpsError::of(OpsErrorKind::StyleTableFull);
  }
  return OpsError::of(OpsErrorKind::StyleTableFull);
}

bool is_default_format(const CellFormat& format) {
  const model::Font& font = format.font;
  const model::Border& border = format.border;
  return !font.name && !font.size_pt && !font.color && !font.bold && !font.italic && !font.underline &&
         !font.strike && std::holds_alternative<model::NoFill>(format.fill) && !border.left && !border.right &&
         !border.top && !border.bottom && format.number_format == model::NumberFormat(model::BuiltinNumFmt{0}) &&
         format.alignment == model::Alignment{};
}

// Where a position lies in its range; border presets pick edges by it.
struct Position {
  uint32_t row = 0;
  uint32_t col = 0;
  bool first_row = false;
  bool last_row = false;
  bool first_col = false;
  bool last_col = false;
};

// Visits every position of `range` row-major with the record stored there,
// if any; one map search per row.
template <typename Visit>
void walk_range(model::CellMap& cells, const model::CellRange& range, Visit visit) {
  for (uint32_t row = range.start.row;; ++row) {
    auto it = cells.lower_bound(CellKey{row, range.start.col});
    for (uint32_t col = range.start.col;; ++col) {
      SheetCell* record = nullptr;
      if (it != cells.end() && it->first == CellKey{row, col}) {
        record = &it->second;
        ++it;
      }
      visit(Position{row, col, row == range.start.row, row == range.end.row, col == range.start.col,
                     col == range.end.col},
            record);
      if (col == range.end.col) break;
    }
    if (row == range.end.row) break;
  }
}

// The frame shared by the three kinds. `classify` names the positions that
// derive alike (the derivation sees nothing else of a position), so each
// pair of current style and class is derived and interned once.
template <typename Classify, typename Derive>
Result<InverseList, OpsError> style_frame(model::WorkbookModel& model, SheetId sheet_id,
                                          const model::CellRange& range, Classify classify, Derive derive) {
  if (sheet_id >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(sheet_id));
  model::StyleSheet& styles = model.styles;
  model::SheetModel& sheet = model.sheets[sheet_id];
  const model::StyleTableLengths mark = model::style_table_lengths(styles);
  if (range.end.row < range.start.row || range.end.col < range.start.col) return InverseList{};
  const uint64_t area =
      (uint64_t{range.end.row} - range.start.row + 1) * (uint64_t{range.end.col} - range.start.col + 1);
  if (area > kMaxStyleArea) return unexpected(OpsError::invalid_style("style range is too large"));

  using StageKey = std::pair<std::optional<uint32_t>, uint64_t>;
  absl::flat_hash_map<StageKey, std::optional<uint32_t>> staged;
  std::optional<OpsError> failure;
  walk_range(sheet.cells, range, [&](const Position& at, const SheetCell* record) {
    if (failure) return;
    const std::optional<uint32_t> current = record ? record->style : std::nullopt;
    const StageKey key{current, classify(at)};
    if (staged.contains(key)) return;
    Result<CellFormat, OpsError> derived = derive(model::resolve_cell_format(styles, current), at);
    if (!derived.has_value()) {
      failure = derived.error();
      return;
    }
    Result<std::optional<uint32_t>, OpsError> interned = intern_cell_format(styles, derived.value());
    if (!interned.has_value()) {
      failure = interned.error();
      return;
    }
    staged.emplace(key, interned.value());
  });
  if (failure) {
    model::rollback_stylesheet(styles, mark);
    return unexpected(*failure);
  }

  // Stored records change in place; new and emptied ones wait for the walk
  // to end, since inserting or erasing would move the walk's iterators.
  InverseList inverse;
  std::vector<std::pair<CellKey, uint32_t>> inserts;
  std::vector<CellKey> erases;
  walk_range(sheet.cells, range, [&](const Position& at, SheetCell* record) {
    const std::optional<uint32_t> current = record ? record->style : std::nullopt;
    const std::optional<uint32_t> style = staged.at(StageKey{current, classify(at)});
    if (current == style) return;
    const CellAddress address{sheet_id, {at.row, at.col, false, false}};
    if (!record) {
      inverse.push_back(SetCell{SheetCell{}, address});
      inserts.emplace_back(CellKey{at.row, at.col}, *style);
      return;
    }
    inverse.push_back(SetCell{*record, address});
    record->style = style;
    if (model::is_empty_record(*record)) erases.push_back(CellKey{at.row, at.col});
  });
  for (const CellKey& key : erases) sheet.cells.erase(key);
  for (const auto& [key, style] : inserts) {
    sheet.cells.insert_or_assign(key, SheetCell{model::CellValue{}, std::nullopt, style});
  }
  return inverse;
}

// The colour texts of a patch, parsed once; the checks depend only on the
// patch, in the order the derivation meets them.
struct CheckedPatch {
  std::optional<std::string> text_color;
  std::optional<std::string> fill_color;
  std::optional<std::string> border_color;
};

Result<CheckedPatch, OpsError> check_patch(const StylePatch& patch) {
  CheckedPatch out;
  if (patch.font_family && model::trim_unicode_white_space(*patch.font_family).empty()) {
    return unexpected(OpsError::invalid_style("font family must not be empty"));
  }
  if (patch.font_size && !(*patch.font_size >= 1 && *patch.font_size <= 400)) {
    return unexpected(OpsError::invalid_style("font size must be between 1 and 400"));
  }
  for (auto [text, parsed] : {std::pair{&patch.text_color, &out.text_color}, std::pair{&patch.fill_color, &out.fill_color}}) {
    if (!*text) continue;
    CMX_ASSIGN_OR_RETURN(*parsed, parse_hex_color(**text));
  }
  if (patch.border && patch.border->color) {
    CMX_ASSIGN_OR_RETURN(out.border_color, parse_hex_color(*patch.border->color));
  }
  return out;
}

void clear_field(CellFormat& format, StylePatchField field) {
  switch (field) {
    case StylePatchField::Bold: format.font.bold = false; break;
    case StylePatchField::Italic: format.font.italic = false; break;
    case StylePatchField::Strikethrough: format.font.strike = false; break;
    case StylePatchField::FontFamily: format.font.name.reset(); break;
    case StylePatchField::FontSize: format.font.size_pt.reset(); break;
    case StylePatchField::TextColor: format.font.color.reset(); break;
    case StylePatchField::FillColor: format.fill = model::NoFill{}; break;
    case StylePatchField::Borders: format.border = model::Border{}; break;
    case StylePatchField::HorizontalAlignment: format.alignment.h.reset(); break;
    case StylePatchField::VerticalAlignment: format.alignment.v.reset(); break;
    case StylePatchField::TextWrapping:
      format.alignment.wrap_text = false;
      format.alignment.shrink_to_fit = false;
      break;
  }
}

model::BorderStyle border_style(BorderLine line) {
  switch (line) {
    case BorderLine::Solid: return model::BorderStyle::Thin;
    case BorderLine::Dashed: return model::BorderStyle::Dashed;
    case BorderLine::Dotted: return model::BorderStyle::Dotted;
    case BorderLine::Double: return model::BorderStyle::Double;
  }
  return model::BorderStyle::Thin;
}

struct EdgeChoice {
  bool top = false;
  bool bottom = false;
  bool left = false;
  bool right = false;
};

EdgeChoice preset_edges(BorderPreset preset, const Position& at) {
  switch (preset) {
    case BorderPreset::All: return {true, true, true, true};
    case BorderPreset::Inner: return {!at.first_row, !at.last_row, !at.first_col, !at.last_col};
    case BorderPreset::Horizontal: return {!at.first_row, !at.last_row, false, false};
    case BorderPreset::Vertical: return {false, false, !at.first_col, !at.last_col};
    case BorderPreset::Outer: return {at.first_row, at.last_row, at.first_col, at.last_col};
    case BorderPreset::Left: return {false, false, at.first_col, false};
    case BorderPreset::Top: return {at.first_row, false, false, false};
    case BorderPreset::Right: return {false, false, false, at.last_col};
    case BorderPreset::Bottom: return {false, at.last_row, false, false};
    case BorderPreset::None: return {};
  }
  return {};
}

void patch_border(model::Border& border, const BorderPatch& patch, const std::optional<std::string>& color,
                  const Position& at) {
  auto rgb = [&]() -> std::optional<model::Color> {
    if (!color) return std::nullopt;
    return model::Color(model::RgbColor{*color});
  };
  if (!patch.preset) {
    for (std::optional<model::BorderEdge>* edge : {&border.left, &border.right, &border.top, &border.bottom}) {
      if (!*edge) continue;
      if (patch.style) (*edge)->style = border_style(*patch.style);
      if (color) (*edge)->color = rgb();
    }
    return;
  }
  if (*patch.preset == BorderPreset::None) {
    border = model::Border{};
    return;
  }
  const EdgeChoice chosen = preset_edges(*patch.preset, at);
  const model::BorderEdge edge{patch.style ? border_style(*patch.style) : model::BorderStyle::Thin, rgb()};
  if (chosen.top) border.top = edge;
  if (chosen.bottom) border.bottom = edge;
  if (chosen.left) border.left = edge;
  if (chosen.right) border.right = edge;
}

CellFormat patch_format(CellFormat format, const StylePatch& patch, const CheckedPatch& checked, const Position& at) {
  for (StylePatchField field : patch.clear) clear_field(format, field);
  if (patch.bold) format.font.bold = *patch.bold;
  if (patch.italic) format.font.italic = *patch.italic;
  if (patch.strikethrough) format.font.strike = *patch.strikethrough;
  if (patch.font_family) format.font.name = *patch.font_family;
  if (patch.font_size) format.font.size_pt = *patch.font_size;
  if (checked.text_color) format.font.color = model::RgbColor{*checked.text_color};
  if (checked.fill_color) format.fill = model::SolidFill{model::RgbColor{*checked.fill_color}};
  if (patch.horizontal_alignment) {
    static constexpr model::HorizontalAlignment kMap[] = {model::HorizontalAlignment::Left,
                                                          model::HorizontalAlignment::Center,
                                                          model::HorizontalAlignment::Right};
    format.alignment.h = kMap[static_cast<int>(*patch.horizontal_alignment)];
  }
  if (patch.vertical_alignment) {
    static constexpr model::VerticalAlignment kMap[] = {model::VerticalAlignment::Top,
                                                        model::VerticalAlignment::Center,
                                                        model::VerticalAlignment::Bottom};
    format.alignment.v = kMap[static_cast<int>(*patch.vertical_alignment)];
  }
  if (patch.text_wrapping) {
    format.alignment.wrap_text = *patch.text_wrapping == TextWrapping::Wrap;
    format.alignment.shrink_to_fit = *patch.text_wrapping == TextWrapping::Clip;
  }
  if (patch.border) patch_border(format.border, *patch.border, checked.border_color, at);
  return format;
}

}  // namespace

Result<std::optional<uint32_t>, OpsError> intern_cell_format(model::StyleSheet& styles,
                                                             const model::CellFormat& format) {
  if (is_default_format(format)) return std::optional<uint32_t>();
  Result<uint32_t, model::InternError> index =
      std::holds_alternative<model::BuiltinNumFmt>(format.number_format)
          ? model::intern_format_builtin_numfmt(styles, format, std::get<model::BuiltinNumFmt>(format.number_format).id)
          : model::intern_format_custom_numfmt(styles, format,
                                               std::get<model::CustomPattern>(format.number_format).pattern);
  if (!index.has_value()) return unexpected(from_intern_error(index.error()));
  return std::optional<uint32_t>(index.value());
}

Result<InverseList, OpsError> apply_patch_style(model::WorkbookModel& model, const PatchStyle& step) {
  const model::CellRange& range = step.range;
  if (step.sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(step.sheet));
  if (range.end.row < range.start.row || range.end.col < range.start.col) return InverseList{};
  CMX_ASSIGN_OR_RETURN(const CheckedPatch checked, check_patch(step.patch));
  // Only a border preset tells positions apart: by first and last row and column.
  const bool by_place = step.patch.border && step.patch.border->preset;
  auto classify = [by_place](const Position& at) -> uint64_t {
    if (!by_place) return 0;
    return (at.first_row ? 1u : 0u) | (at.last_row ? 2u : 0u) | (at.first_col ? 4u : 0u) | (at.last_col ? 8u : 0u);
  };
  return style_frame(model, step.sheet, range, classify,
                     [&](const CellFormat& current, const Position& at) -> Result<CellFormat, OpsError> {
                       return patch_format(current, step.patch, checked, at);
                     });
}

Result<InverseList, OpsError> apply_set_number_format(model::WorkbookModel& model, const SetNumberFormat& step) {
  return style_frame(
      model, step.sheet, step.range, [](const Position&) -> uint64_t { return 0; },
      [&](const CellFormat& current, const Position&) -> Result<CellFormat, OpsError> {
        CellFormat out = current;
        out.number_format = number_format_for_mutation(step.mutation, current.number_format);
        return out;
      });
}

Result<InverseList, OpsError> apply_set_cell_formats(model::WorkbookModel& model, const SetCellFormats& step) {
  if (step.rows == 0 || step.columns == 0 || uint64_t{step.rows} * step.columns != step.formats.size()) {
    return unexpected(OpsError::invalid_style("captured format dimensions do not match its cells"));
  }
  // The grid tiles from the range's top-left corner.
  auto grid_index = [&](const Position& at) -> uint64_t {
    return uint64_t{(at.row - step.range.start.row) % step.rows} * step.columns +
           (at.col - step.range.start.col) % step.columns;
  };
  return style_frame(model, step.sheet, step.range, grid_index,
                     [&](const CellFormat&, const Position& at) -> Result<CellFormat, OpsError> {
                       return step.formats[grid_index(at)];
                     });
}

}  // namespace cmx::ops
