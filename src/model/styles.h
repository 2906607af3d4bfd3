// Style tables as a styles part stores them, and their resolution into
// self-contained cell formats. Interning (format → index) builds on these.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "absl/container/flat_hash_map.h"

namespace cmx::model {

struct RgbColor {
  std::string text;  // as stored: neither normalised nor validated
};
struct ThemeColor {
  uint8_t idx = 0;    // SpreadsheetML numbering: 0 is lt1, 1 is dk1, …
  double tint = 0.0;  // zero for none
};
struct IndexedColor {
  uint8_t index = 0;
};
struct AutoColor {};

// An RGB text, a theme colour with tint, a palette entry, or automatic.
using Color = std::variant<RgbColor, ThemeColor, IndexedColor, AutoColor>;

// Same variant and equal contents: texts byte for byte, tints numerically
// (0.0 equals -0.0, a NaN tint equals nothing).
bool color_eq(const Color& a, const Color& b);

struct Font {
  std::optional<std::string> name;
  std::optional<double> size_pt;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  std::optional<Color> color;
};

struct SolidFill {
  Color color;
};
struct NoFill {};
using Fill = std::variant<NoFill, SolidFill>;

enum class BorderStyle : uint8_t { Thin, Medium, Thick, Dashed, Dotted, Double, Hair };

struct BorderEdge {
  BorderStyle style = BorderStyle::Thin;
  std::optional<Color> color;
};

struct Border {
  std::optional<BorderEdge> left;
  std::optional<BorderEdge> right;
  std::optional<BorderEdge> top;
  std::optional<BorderEdge> bottom;
};

enum class HorizontalAlignment : uint8_t {
  General, Left, Center, Right, Fill, Justify, CenterContinuous, Distributed
};
enum class VerticalAlignment : uint8_t { Top, Center, Bottom, Justify, Distributed };

// An absent `h` differs from General everywhere.
struct Alignment {
  std::optional<HorizontalAlignment> h;
  std::optional<VerticalAlignment> v;
  bool wrap_text = false;
  bool shrink_to_fit = false;
  friend bool operator==(const Alignment&, const Alignment&) = default;
};

inline constexpr uint16_t kFirstCustomNumFmtId = 164;

// The most records each style table may hold: the styles reader refuses a
// longer one, so no edit may build one.
inline constexpr uint64_t kMaxStyleRecords = 65536;

// The index record of one cell format; an absent field means the default record.
struct CellXf {
  std::optional<uint32_t> font;
  std::optional<uint32_t> fill;
  std::optional<uint32_t> border;
  std::optional<uint16_t> num_fmt_id;  // built-in below 164, custom from 164
  std::optional<Alignment> alignment;  // held inline, not an index
  friend bool operator==(const CellXf&, const CellXf&) = default;
};

struct CustomNumFmt {
  uint16_t id = 0;
  std::string code;
  friend bool operator==(const CustomNumFmt&, const CustomNumFmt&) = default;
};

struct BuiltinNumFmt {
  uint16_t id = 0;
  friend bool operator==(const BuiltinNumFmt&, const BuiltinNumFmt&) = default;
};
struct CustomPattern {
  std::string pattern;
  friend bool operator==(const CustomPattern&, const CustomPattern&) = default;
};
// The resolved number format of a cell; the default is built-in 0, General.
using NumberFormat = std::variant<BuiltinNumFmt, CustomPattern>;

// The resolved format of a cell: no positions, so it looks the same anywhere.
struct CellFormat {
  Font font;
  Fill fill;
  Border border;
  NumberFormat number_format;
  Alignment alignment;
};

// The twelve theme colours in scheme order: dk1, lt1, dk2, lt2, accent1..6,
// hlink, folHlink.
struct WorkbookTheme {
  std::array<std::string, 12> colors;
  friend bool operator==(const WorkbookTheme&, const WorkbookTheme&) = default;
};
WorkbookTheme default_theme_colors();

// A record-key hash to table-position map, brought in line with its table
// length at its next use.
struct LookupCache {
  absl::flat_hash_map<uint64_t, uint32_t> positions;
  size_t in_line_length = 0;
};

// Custom code → (id, position in num_fmts), and id → the position of the
// first entry carrying it.
struct NumFmtLookup {
  absl::flat_hash_map<std::string, std::pair<uint16_t, uint32_t>> entries;
  absl::flat_hash_map<uint16_t, uint32_t> first_by_id;
  size_t in_line_length = 0;
};

// Derived lookup data: never compared or serialised, and a copy starts empty.
struct StyleLookupCaches {
  LookupCache font_lookup;
  LookupCache fill_lookup;
  LookupCache border_lookup;
  LookupCache xf_lookup;
  NumFmtLookup num_fmt_lookup;

  StyleLookupCaches() = default;
  StyleLookupCaches(const StyleLookupCaches&) {}
  StyleLookupCaches& operator=(const StyleLookupCaches&) {
    *this = StyleLookupCaches();
    return *this;
  }
  StyleLookupCaches(StyleLookupCaches&&) = default;
  StyleLookupCaches& operator=(StyleLookupCaches&&) = default;
};

struct StyleSheet {
  std::vector<Font> fonts;
  std::vector<Fill> fills;
  std::vector<Border> borders;
  std::vector<CellXf> cell_xfs;
  std::vector<CustomNumFmt> num_fmts;  // file order; an id may appear twice
  WorkbookTheme theme = default_theme_colors();
  std::vector<std::string> indexed_colors;  // the workbook's own palette, often empty
  StyleLookupCaches caches;
};

// Index → self-contained format. An absent or out-of-range style gives the
// default format; an out-of-range position in one field gives that field's
// default and leaves the others alone. Never fails.
CellFormat resolve_cell_format(const StyleSheet& styles, std::optional<uint32_t> style);

}  // namespace cmx::model
