#include "charts/chart_colors.h"

#include "charts/chart_values.h"

namespace cmx::charts {
namespace {

struct SchemeName {
  std::string_view name;
  ThemeSlot slot;
};

constexpr SchemeName kSchemeNames[] = {
    {"dk1", ThemeSlot::Dk1},         {"tx1", ThemeSlot::Dk1},         {"text1", ThemeSlot::Dk1},
    {"lt1", ThemeSlot::Lt1},         {"bg1", ThemeSlot::Lt1},         {"background1", ThemeSlot::Lt1},
    {"dk2", ThemeSlot::Dk2},         {"tx2", ThemeSlot::Dk2},         {"text2", ThemeSlot::Dk2},
    {"lt2", ThemeSlot::Lt2},         {"bg2", ThemeSlot::Lt2},         {"background2", ThemeSlot::Lt2},
    {"accent1", ThemeSlot::Accent1}, {"accent2", ThemeSlot::Accent2}, {"accent3", ThemeSlot::Accent3},
    {"accent4", ThemeSlot::Accent4}, {"accent5", ThemeSlot::Accent5}, {"accent6", ThemeSlot::Accent6},
    {"hlink", ThemeSlot::Hlink},     {"folHlink", ThemeSlot::FolHlink},
};

constexpr std::string_view kAutomaticColors[8] = {"#4472C4", "#ED7D31", "#A5A5A5", "#FFC000",
                                                  "#5B9BD5", "#70AD47", "#264478", "#9E480E"};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Theme chart_theme(const model::WorkbookTheme& workbook) {
  Theme theme;
  for (size_t i = 0; i < theme.slots.size(); ++i) {
    std::string_view text = workbook.colors[i];
    while (!text.empty() && text.front() == '#') text.remove_prefix(1);
    std::string slot(text);
    for (char& c : slot) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    theme.slots[i] = std::move(slot);
  }
  return theme;
}

std::optional<std::string> color_from_text(std::string_view text) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 6) return std::nullopt;
  std::string_view digits = text;
  // Read like an unsigned number: a "+" sign is allowed before the digits.
  if (digits.front() == '+') digits.remove_prefix(1);
  uint32_t value = 0;
  for (char c : digits) {
    const int digit = hex_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + uint32_t(digit);
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "#";
  for (int shift = 20; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
  return out;
}

std::optional<std::string> resolve_scheme_color(const xml::XmlElement& fill, const Theme& theme) {
  for (const XmlNode& node : fill.children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    const std::string_view local = chart_local_name(*child);
    if (local == "srgbClr") {
      const std::optional<std::string_view> value = plain_attribute(*child, "val");
      if (!value || value->empty()) return std::nullopt;
      return color_from_text(*value);
    }
    if (local == "schemeClr") {
      const std::optional<std::string_view> value = plain_attribute(*child, "val");
      if (!value) return std::nullopt;
      for (const SchemeName& scheme : kSchemeNames) {
        if (scheme.name == *value) return color_from_text(theme.slots[static_cast<size_t>(scheme.slot)]);
      }
      return std::string("#000000");
    }
  }
  return std::nullopt;
}

std::string automatic_point_color(uint64_t index) { return std::string(kAutomaticColors[index % 8]); }

std::optional<std::vector<std::string>> collect_fill_stop_colors(const xml::XmlElement* gs_list, size_t limit,
                                                                 const Theme& theme) {
  std::vector<std::string> colors;
  if (gs_list == nullptr) return colors;
  for (const XmlNode& node : gs_list->children) {
    if (colors.size() >= limit) break;
    const XmlElement* stop = node.element();
    if (stop == nullptr || chart_local_name(*stop) != "gs") continue;
    std::optional<std::string> color = resolve_scheme_color(*stop, theme);
    if (!color) return std::nullopt;
    colors.push_back(std::move(*color));
  }
  return colors;
}

}  // namespace cmx::charts
