// Colours of the chart model: the theme of one reading, literal and scheme
// colours resolved to "#RRGGBB" texts, the eight automatic colours and the
// stop colours of gradients. Nothing here fails: no usable colour is absent.
// Next: chart_text_styles.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/styles.h"
#include "xml/element_tree.h"

namespace cmx::charts {

// Stops a chart-space gradient reads.
inline constexpr size_t MAX_GRADIENT_STOPS = 10;

// The scheme slots in the workbook theme's order.
enum class ThemeSlot : uint8_t { Dk1, Lt1, Dk2, Lt2, Accent1, Accent2, Accent3, Accent4, Accent5, Accent6, Hlink, FolHlink };

// The colours a reading resolves scheme names against: six hexadecimal
// digits without "#" per slot, normally; after the workbook's texts are
// copied in a slot may hold anything, and only a valid one gives a colour.
struct Theme {
  std::array<std::string, 12> slots = {"000000", "FFFFFF", "44546A", "E7E6E6", "4472C4", "ED7D31",
                                       "A5A5A5", "FFC000", "5B9BD5", "70AD47", "0563C1", "954F72"};
};

// The default theme with each workbook text copied in: every leading "#"
// dropped, ASCII letters upper-cased; an empty text empties its slot.
Theme chart_theme(const model::WorkbookTheme& workbook);

// One leading "#" dropped, then exactly six characters read as a hexadecimal
// number (a leading "+" counts as a sign); "#RRGGBB" upper case, else absent.
std::optional<std::string> color_from_text(std::string_view text);

// The first `srgbClr` or `schemeClr` child of the fill element decides; other
// colour kinds are passed over and modifiers are not applied. An unknown
// scheme name gives "#000000".
std::optional<std::string> resolve_scheme_color(const xml::XmlElement& fill, const Theme& theme);

// The fixed list of eight, by index modulo 8; the theme plays no part.
std::string automatic_point_color(uint64_t index);

// The colours of the `gs` stops of a `gsLst`, at most `limit` stops; absent
// as soon as one examined stop gives no colour; empty without a list.
std::optional<std::vector<std::string>> collect_fill_stop_colors(const xml::XmlElement* gs_list, size_t limit,
                                                                 const Theme& theme);

}  // namespace cmx::charts
