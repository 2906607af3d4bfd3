#include "reader/styles_reader.h"

#include <array>
#include <cmath>

#include "model/colors.h"
#include "model/number_format.h"
#include "xml/attr_values.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using model::Color;
using xml::PartStream;
using xml::XmlEvent;

using AttrResult = Result<std::optional<std::string_view>, SpreadsheetParseError>;

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::optional<uint32_t> parse_bounded(std::optional<std::string_view> text, uint32_t max) {
  if (!text) return std::nullopt;
  const std::optional<uint32_t> value = xml::parse_u32_attribute(*text);
  if (!value || *value > max) return std::nullopt;
  return value;
}

// A float that is usable as a size or tint. Non-finite values read as
// absent: a NaN size would never compare equal to itself when formats are
// interned, so every edit of such a cell would append another record.
std::optional<double> parse_finite(std::optional<std::string_view> text) {
  const std::optional<double> value = xml::attr_float(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

// The colour of a `color` or `fgColor` element; absent when it names none.
Result<std::optional<Color>, SpreadsheetParseError> read_style_color(PartStream& stream) {
  CMX_ASSIGN_OR_RETURN(std::optional<std::string> rgb, stream.attribute_string("rgb"));
  if (rgb) {
    std::optional<std::string> normalized = normalize_hex_color(*rgb);
    if (!normalized) return std::optional<Color>();
    return std::optional<Color>(model::RgbColor{std::move(*normalized)});
  }
  CMX_ASSIGN_OR_RETURN(std::optional<std::string> theme, stream.attribute_string("theme"));
  if (const std::optional<uint32_t> idx = parse_bounded(theme, 255)) {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> tint, stream.attribute("tint"));
    return std::optional<Color>(
        model::ThemeColor{static_cast<uint8_t>(*idx), parse_finite(tint).value_or(0.0)});
  }
  CMX_ASSIGN_OR_RETURN(std::optional<std::string> indexed, stream.attribute_string("indexed"));
  if (const std::optional<uint32_t> index = parse_bounded(indexed, 255)) {
    return std::optional<Color>(model::IndexedColor{static_cast<uint8_t>(*index)});
  }
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> automatic, stream.attribute("auto"));
  if (automatic && *automatic == "1") return std::optional<Color>(model::AutoColor{});
  return std::optional<Color>();
}

constexpr std::array<std::string_view, 12> kSchemeSlots = {
    "dk1", "lt1", "dk2", "lt2", "accent1", "accent2", "accent3", "accent4", "accent5", "accent6",
    "hlink", "folHlink"};

constexpr size_t kNoSlot = kSchemeSlots.size();

size_t scheme_slot(std::string_view local) {
  for (size_t i = 0; i < kSchemeSlots.size(); ++i) {
    if (kSchemeSlots[i] == local) return i;
  }
  return kNoSlot;
}

Result<model::WorkbookTheme, SpreadsheetParseError> read_theme(std::string_view bytes) {
  model::WorkbookTheme theme = model::default_theme_colors();
  PartStream stream(bytes);
  bool in_scheme = false;
  size_t slot = kNoSlot;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return theme;
    if (event == XmlEvent::EndTag) {
      const std::string_view local = stream.local_name();
      if (local == "clrScheme" || scheme_slot(local) != kNoSlot) slot = kNoSlot;
      if (local == "clrScheme") in_scheme = false;
      continue;
    }
    if (event != XmlEvent::StartTag) continue;
    const std::string_view local = stream.local_name();
    if (local == "clrScheme") {
      in_scheme = true;
      slot = kNoSlot;
      continue;
    }
    if (!in_scheme) continue;
    if (slot == kNoSlot) {
      slot = scheme_slot(local);
      continue;
    }
    if (local == "srgbClr") {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> val, stream.attribute("val"));
      if (val) {
        if (std::optional<std::string> color = normalize_hex_color(*val)) theme.colors[slot] = *color;
      }
    } else if (local == "sysClr") {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> last, stream.attribute_string("lastClr"));
      std::optional<std::string> color = last ? normalize_hex_color(*last) : std::nullopt;
      if (!color) {
        CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> val, stream.attribute("val"));
        color = (val && *val == "window") ? "#ffffff" : "#000000";
      }
      theme.colors[slot] = std::move(*color);
    }
  }
}

// An underline's val names its kind; reading "single" or "double" as a false
// boolean would drop the underline of most files that have one.
bool is_underline_kind(std::string_view val) {
  return val == "single" || val == "double" || val == "singleAccounting" || val == "doubleAccounting";
}

enum class StyleList : uint8_t { NumFmts, Fonts, Fills, Borders, CellStyleXfs, CellXfs };

std::optional<StyleList> style_list(std::string_view local) {
  if (local == "numFmts") return StyleList::NumFmts;
  if (local == "fonts") return StyleList::Fonts;
  if (local == "fills") return StyleList::Fills;
  if (local == "borders") return StyleList::Borders;
  if (local == "cellStyleXfs") return StyleList::CellStyleXfs;
  if (local == "cellXfs") return StyleList::CellXfs;
  return std::nullopt;
}

enum class Side : uint8_t { Left, Right, Top, Bottom };

std::optional<Side> border_side(std::string_view local) {
  if (local == "left" || local == "start") return Side::Left;
  if (local == "right" || local == "end") return Side::Right;
  if (local == "top") return Side::Top;
  if (local == "bottom") return Side::Bottom;
  return std::nullopt;
}

std::optional<model::BorderEdge>& side_of(model::Border& border, Side side) {
  switch (side) {
    case Side::Left: return border.left;
    case Side::Right: return border.right;
    case Side::Top: return border.top;
    case Side::Bottom: return border.bottom;
  }
  return border.left;
}

model::BorderStyle border_style(std::string_view style) {
  using model::BorderStyle;
  if (style == "medium" || style == "mediumDashed" || style == "mediumDashDot" ||
      style == "mediumDashDotDot")
    return BorderStyle::Medium;
  if (style == "thick") return BorderStyle::Thick;
  if (style == "dashed" || style == "dashDot" || style == "dashDotDot" || style == "slantDashDot")
    return BorderStyle::Dashed;
  if (style == "dotted") return BorderStyle::Dotted;
  if (style == "double") return BorderStyle::Double;
  if (style == "hair") return BorderStyle::Hair;
  return BorderStyle::Thin;
}

std::optional<model::HorizontalAlignment> horizontal_alignment(std::optional<std::string_view> text) {
  using model::HorizontalAlignment;
  if (!text) return std::nullopt;
  if (*text == "general") return HorizontalAlignment::General;
  if (*text == "left") return HorizontalAlignment::Left;
  if (*text == "center") return HorizontalAlignment::Center;
  if (*text == "right") return HorizontalAlignment::Right;
  if (*text == "fill") return HorizontalAlignment::Fill;
  if (*text == "justify") return HorizontalAlignment::Justify;
  if (*text == "centerContinuous") return HorizontalAlignment::CenterContinuous;
  if (*text == "distributed") return HorizontalAlignment::Distributed;
  return std::nullopt;
}

std::optional<model::VerticalAlignment> vertical_alignment(std::optional<std::string_view> text) {
  using model::VerticalAlignment;
  if (!text) return std::nullopt;
  if (*text == "top") return VerticalAlignment::Top;
  if (*text == "center") return VerticalAlignment::Center;
  if (*text == "bottom") return VerticalAlignment::Bottom;
  if (*text == "justify") return VerticalAlignment::Justify;
  if (*text == "distributed") return VerticalAlignment::Distributed;
  return std::nullopt;
}

template <typename T>
Result<void, SpreadsheetParseError> append_record(std::vector<T>& table, T record) {
  if (table.size() >= MAX_STYLE_RECORDS) {
    return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyStyles));
  }
  table.push_back(std::move(record));
  return {};
}

struct OpenCellFormat {
  model::CellXf main;
  model::CellXf strict;
};

class StylesPartReader {
 public:
  explicit StylesPartReader(std::string_view bytes) : stream_(bytes) {}

  Result<void, SpreadsheetParseError> run(model::StyleSheet& sheet, std::vector<model::CellXf>& strict) {
    while (true) {
      CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream_.next());
      if (event == XmlEvent::Eof) return {};
      if (event == XmlEvent::StartTag) {
        CMX_TRY(start_tag(sheet));
      } else if (event == XmlEvent::EndTag) {
        CMX_TRY(end_tag(sheet, strict));
      }
    }
  }

 private:
  Result<void, SpreadsheetParseError> start_tag(model::StyleSheet& sheet) {
    const std::string_view local = stream_.local_name();
    const size_t depth = stream_.depth();
    if (const std::optional<StyleList> list = style_list(local)) {
      list_ = *list;
      return {};
    }
    if (local == "numFmt") {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> id_text, stream_.attribute_string("numFmtId"));
      const std::optional<uint32_t> id = parse_bounded(id_text, 65535);
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> code, stream_.attribute_string("formatCode"));
      if (!id || !code) return {};
      return append_record(sheet.num_fmts, model::CustomNumFmt{static_cast<uint16_t>(*id), std::move(*code)});
    }
    if (local == "font" && list_ == StyleList::Fonts) {
      font_.emplace();
      return {};
    }
    if (font_) {
      if (local == "b" || local == "i" || local == "u" || local == "strike") {
        CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> val, stream_.attribute("val"));
        const bool on = !val || xml::attr_bool(val) || (local == "u" && is_underline_kind(*val));
        if (local == "b") font_->bold = on;
        else if (local == "i") font_->italic = on;
        else if (local == "u") font_->underline = on;
        else font_->strike = on;
        return {};
      }
      if (local == "sz") {
        CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> val, stream_.attribute("val"));
        if (std::optional<double> size = parse_finite(val)) font_->size_pt = *size;
        return {};
      }
      if (local == "name") {
        CMX_ASSIGN_OR_RETURN(std::optional<std::string> val, stream_.attribute_string("val"));
        if (val) font_->name = std::move(*val);
        return {};
      }
      if (local == "color") {
        CMX_ASSIGN_OR_RETURN(font_->color, read_style_color(stream_));
        return {};
      }
    } else if (local == "color" && edge_) {
      CMX_ASSIGN_OR_RETURN(edge_->second.color, read_style_color(stream_));
      return {};
    }
    if (local == "fill" && list_ == StyleList::Fills) {
      fill_.emplace(model::NoFill{});
      return {};
    }
    if (fill_ && local == "patternFill") {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> type, stream_.attribute("patternType"));
      if (!type || *type != "none") *fill_ = model::SolidFill{model::AutoColor{}};
      return {};
    }
    if (fill_ && local == "fgColor") {
      CMX_ASSIGN_OR_RETURN(std::optional<Color> color, read_style_color(stream_));
      if (color) *fill_ = model::SolidFill{std::move(*color)};
      return {};
    }
    if (local == "border" && list_ == StyleList::Borders) {
      border_.emplace();
      edge_.reset();
      return {};
    }
    if (border_) {
      if (const std::optional<Side> side = border_side(local)) {
        CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> style, stream_.attribute("style"));
        if (!style || *style == "none") {
          edge_.reset();
        } else {
          edge_.emplace(*side, model::BorderEdge{border_style(*style), std::nullopt});
        }
        return {};
      }
    }
    if (local == "xf" && list_ == StyleList::CellXfs) return open_cell_format();
    if (local == "alignment" && xf_ && list_ == StyleList::CellXfs) return read_alignment();
    if (local == "colors" && depth == 2) {
      colors_depth_ = depth;
      return {};
    }
    if (local == "indexedColors" && colors_depth_ && depth == *colors_depth_ + 1) {
      palette_depth_ = depth;
      return {};
    }
    if (local == "rgbColor" && palette_depth_ && depth == *palette_depth_ + 1) {
      if (sheet.indexed_colors.size() >= MAX_STYLE_RECORDS) {
        return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyStyles));
      }
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> rgb, stream_.attribute("rgb"));
      if (!rgb) {
        sheet.indexed_colors.emplace_back();
        return {};
      }
      std::optional<std::string> color = normalize_hex_color(*rgb);
      if (!color) return unexpected(SpreadsheetParseError::xml("invalid indexed palette color"));
      sheet.indexed_colors.push_back(std::move(*color));
    }
    return {};
  }

  Result<void, SpreadsheetParseError> open_cell_format() {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> num_fmt, stream_.attribute_string("numFmtId"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> font, stream_.attribute_string("fontId"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> fill, stream_.attribute_string("fillId"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> border, stream_.attribute_string("borderId"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> apply_font, stream_.attribute_string("applyFont"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> apply_fill, stream_.attribute_string("applyFill"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> apply_border, stream_.attribute_string("applyBorder"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> apply_num_fmt,
                         stream_.attribute_string("applyNumberFormat"));
    OpenCellFormat xf;
    // Main: an index stands unless its apply attribute says no. Strict: only
    // when its apply attribute says yes.
    auto assign = [](auto& main, auto& strict, auto index, const std::optional<std::string>& apply) {
      if (!index) return;
      if (!apply || xml::attr_bool(apply)) main = index;
      if (apply && xml::attr_bool(apply)) strict = index;
    };
    const std::optional<uint32_t> num_fmt_id = parse_bounded(num_fmt, 65535);
    std::optional<uint16_t> num_fmt16;
    if (num_fmt_id) num_fmt16 = static_cast<uint16_t>(*num_fmt_id);
    assign(xf.main.font, xf.strict.font, font ? xml::parse_u32_attribute(*font) : std::nullopt, apply_font);
    assign(xf.main.fill, xf.strict.fill, fill ? xml::parse_u32_attribute(*fill) : std::nullopt, apply_fill);
    assign(xf.main.border, xf.strict.border, border ? xml::parse_u32_attribute(*border) : std::nullopt,
           apply_border);
    assign(xf.main.num_fmt_id, xf.strict.num_fmt_id, num_fmt16, apply_num_fmt);
    xf_ = std::move(xf);
    return {};
  }

  Result<void, SpreadsheetParseError> read_alignment() {
    model::Alignment alignment;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> h, stream_.attribute("horizontal"));
    alignment.h = horizontal_alignment(h);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> v, stream_.attribute("vertical"));
    alignment.v = vertical_alignment(v);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> wrap, stream_.attribute("wrapText"));
    alignment.wrap_text = xml::attr_bool(wrap);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> shrink, stream_.attribute("shrinkToFit"));
    alignment.shrink_to_fit = xml::attr_bool(shrink);
    if (alignment == model::Alignment{}) return {};
    xf_->main.alignment = alignment;
    xf_->strict.alignment = alignment;
    return {};
  }

  Result<void, SpreadsheetParseError> end_tag(model::StyleSheet& sheet, std::vector<model::CellXf>& strict) {
    const std::string_view local = stream_.local_name();
    const size_t depth = stream_.depth() + 1;  // the depth the element was opened at
    if (local == "font") {
      if (!font_) return {};
      model::Font font = std::move(*font_);
      font_.reset();
      return append_record(sheet.fonts, std::move(font));
    }
    if (local == "fill") {
      if (!fill_) return {};
      model::Fill fill = std::move(*fill_);
      fill_.reset();
      return append_record(sheet.fills, std::move(fill));
    }
    if (local == "border") {
      if (!border_) return {};
      model::Border border = std::move(*border_);
      border_.reset();
      edge_.reset();
      return append_record(sheet.borders, std::move(border));
    }
    if (border_side(local)) {
      if (border_ && edge_) side_of(*border_, edge_->first) = std::move(edge_->second);
      edge_.reset();
      return {};
    }
    if (local == "xf") {
      if (list_ != StyleList::CellXfs || !xf_) return {};
      OpenCellFormat xf = std::move(*xf_);
      xf_.reset();
      CMX_TRY(append_record(sheet.cell_xfs, std::move(xf.main)));
      strict.push_back(std::move(xf.strict));
      return {};
    }
    if (local == "colors" && colors_depth_ == depth) colors_depth_.reset();
    if (local == "indexedColors" && palette_depth_ == depth) palette_depth_.reset();
    return {};
  }

  PartStream stream_;
  StyleList list_ = StyleList::NumFmts;
  std::optional<model::Font> font_;
  std::optional<model::Fill> fill_;
  std::optional<model::Border> border_;
  std::optional<std::pair<Side, model::BorderEdge>> edge_;
  std::optional<OpenCellFormat> xf_;
  std::optional<size_t> colors_depth_;
  std::optional<size_t> palette_depth_;
};

}  // namespace

std::optional<std::string> normalize_hex_color(std::string_view text) {
  text = model::trim_unicode_white_space(text);
  if (text.size() != 6 && text.size() != 8) return std::nullopt;
  for (char c : text) {
    if (!is_hex_digit(c)) return std::nullopt;
  }
  if (text.size() == 8) text.remove_prefix(2);
  std::string out = "#";
  for (char c : text) out.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c);
  return out;
}

Result<StylesRead, SpreadsheetParseError> read_styles_part(std::optional<std::string_view> styles_part,
                                                           std::optional<std::string_view> theme_part) {
  model::WorkbookTheme theme = model::default_theme_colors();
  if (theme_part) {
    CMX_ASSIGN_OR_RETURN(theme, read_theme(*theme_part));
  }
  StylesRead read;
  std::vector<model::CellXf> strict;
  if (styles_part) {
    StylesPartReader reader(*styles_part);
    CMX_TRY(reader.run(read.styles, strict));
  }
  read.styles.theme = std::move(theme);
  if (strict != read.styles.cell_xfs) {
    read.style_copy = read.styles;
    read.style_copy->cell_xfs = std::move(strict);
  }
  return read;
}

}  // namespace cmx::reader
