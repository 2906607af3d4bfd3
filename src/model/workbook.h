// The in-memory workbook: sheets, cells, names, tables, chart frames, and the
// few lookups every subsystem shares. Records are plain values; every change
// goes through the edit operations. Read cell_source.h next.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "absl/container/btree_map.h"
#include "base/shared_string.h"
#include "model/address.h"
#include "model/cell_value.h"
#include "model/optional_style_index.h"
#include "model/styles.h"

namespace cmx::model {

using SheetId = uint32_t;

enum class DateSystem : uint8_t {
  V1900,  // serial 1 is 1900-01-01
  V1904,  // serial 0 is 1904-01-01
};

// A cell's position in a sheet's cell map; orders row by row, then by column.
struct CellKey {
  uint32_t row = 0;
  uint32_t col = 0;
  friend auto operator<=>(const CellKey&, const CellKey&) = default;
};

// Members in the order that packs them; the constructor takes them in the
// order cells have always been written, value, formula, style, each passed on
// as it comes, as aggregate initialisation did.
struct SheetCell {
  SheetCell() = default;
  template <typename Value = CellValue, typename Formula = OptionalSharedString, typename Style = OptionalStyleIndex>
  SheetCell(Value&& value, Formula&& formula, Style&& style)
      : value(std::forward<Value>(value)), style(std::forward<Style>(style)), formula(std::forward<Formula>(formula)) {}

  [[no_unique_address]] CellValue value;  // for a formula, its cached result
  OptionalStyleIndex style;                // into styles.cell_xfs
  OptionalSharedString formula;            // without the leading "="
  friend bool operator==(const SheetCell&, const SheetCell&) = default;
};
// A cell map's slot (key and cell) is 32 bytes: reading a million cells
// touches that many fresh pages, a large share of opening time. The style
// sits in the value's tail padding.
static_assert(sizeof(SheetCell) == 24);
static_assert(sizeof(std::pair<const CellKey, SheetCell>) == 32);
static_assert(std::is_nothrow_move_constructible_v<SheetCell> && std::is_nothrow_move_assignable_v<SheetCell>);

// A record with no formula, an Empty value and no style: never stored.
inline bool is_empty_record(const SheetCell& cell) {
  return cell.value.is_empty() && !cell.formula && !cell.style;
}

// A B-tree keeps a million cells in a little over thirty-three bytes each
// while still walking rows and rectangles in order. Nodes of 1 KiB
// (thirty-one cells) rather than the default 256 bytes (seven): a sheet read
// in order fills four times fewer of them, and a walk crosses four times
// fewer. Inserting invalidates references.
inline constexpr int kCellNodeBytes = 1024;
class CellMap : public absl::container_internal::btree_map_container<
                    absl::container_internal::btree<absl::container_internal::map_params<
                        CellKey, SheetCell, std::less<CellKey>, std::allocator<std::pair<const CellKey, SheetCell>>,
                        kCellNodeBytes, /*IsMulti=*/false>>> {
  using Base = typename CellMap::btree_map_container;

 public:
  CellMap() {}
  using Base::Base;
};

struct DefinedName {
  std::string name;
  std::string formula;                 // without the leading "="
  std::optional<uint32_t> local_sheet;  // absent for a workbook-wide name
  bool hidden = false;
  friend bool operator==(const DefinedName&, const DefinedName&) = default;
};

struct WorkbookTable {
  std::string name;  // the display name, else the name
  std::vector<std::string> columns;
  CellRange range;  // the whole area, header and totals rows included
  uint32_t sheet = 0;
  uint32_t header_rows = 1;
  uint32_t totals_rows = 0;
  friend bool operator==(const WorkbookTable&, const WorkbookTable&) = default;
};

struct FreezePane {
  uint32_t rows = 0;  // at most MAX_ROWS
  uint32_t cols = 0;  // at most MAX_COLS
  CellRef top_left;   // the first cell of the scrolling pane
  friend bool operator==(const FreezePane&, const FreezePane&) = default;
};

struct ColumnStyle {
  uint32_t first = 0;  // inclusive, first ≤ last ≤ 16383
  uint32_t last = 0;
  uint32_t xf = 0;
  friend bool operator==(const ColumnStyle&, const ColumnStyle&) = default;
};

struct SheetHyperlink {
  CellRange range;
  std::optional<std::string> external_target;
  std::optional<std::string> location;
  std::optional<std::string> tooltip;
  std::optional<std::string> display;
  friend bool operator==(const SheetHyperlink&, const SheetHyperlink&) = default;
};

// Positions of a chart frame, in EMU (1/12,700 of a point).
struct AnchorCell {
  uint32_t col = 0;
  int64_t colOff = 0;
  uint32_t row = 0;
  int64_t rowOff = 0;
  friend bool operator==(const AnchorCell&, const AnchorCell&) = default;
};
struct AnchorPos {
  int64_t x = 0;
  int64_t y = 0;
  friend bool operator==(const AnchorPos&, const AnchorPos&) = default;
};
struct AnchorExtent {
  int64_t cx = 0;
  int64_t cy = 0;
  friend bool operator==(const AnchorExtent&, const AnchorExtent&) = default;
};

enum class ChartAnchorKind : uint8_t { TwoCell, OneCell, Absolute };
enum class ChartAnchorEditMode : uint8_t { TwoCell, OneCell, Absolute };

struct TwoCellAnchor {
  ChartAnchorEditMode edit_as = ChartAnchorEditMode::TwoCell;
  AnchorCell from;
  AnchorCell to;
  friend bool operator==(const TwoCellAnchor&, const TwoCellAnchor&) = default;
};
struct OneCellAnchor {
  AnchorCell from;
  AnchorExtent extent;
  friend bool operator==(const OneCellAnchor&, const OneCellAnchor&) = default;
};
struct AbsoluteAnchor {
  AnchorPos pos;
  AnchorExtent extent;
  friend bool operator==(const AbsoluteAnchor&, const AbsoluteAnchor&) = default;
};
// Alternatives in ChartAnchorKind order.
using ChartAnchor = std::variant<TwoCellAnchor, OneCellAnchor, AbsoluteAnchor>;
inline ChartAnchorKind anchor_kind(const ChartAnchor& anchor) {
  return static_cast<ChartAnchorKind>(anchor.index());
}

enum class ChartReferenceKind : uint8_t {
  SeriesName, Categories, Values, BubbleSize, Title, DataLabels, Other
};

struct ChartReference {
  ChartReferenceKind kind = ChartReferenceKind::Other;
  std::string formula;  // as the chart part holds it
  friend bool operator==(const ChartReference&, const ChartReference&) = default;
};

struct SheetChart {
  std::string part;     // the chart part's path in the package
  std::string drawing;  // the drawing part that anchors it
  uint64_t anchor_index = 0;  // position of the anchor element in the drawing
  ChartAnchor anchor;
  std::vector<ChartReference> refs;
  friend bool operator==(const SheetChart&, const SheetChart&) = default;
};

// Names a chart frame as "{drawing}#{anchor_index}".
std::string chart_frame_key(const SheetChart& chart);

struct SheetModel {
  std::string name;
  std::optional<double> default_row_height;  // points, finite, 0..=409.5
  bool custom_height = false;
  bool zero_height = false;
  CellMap cells;
  std::vector<SheetHyperlink> hyperlinks;
  std::vector<CellRange> merges;  // no two overlap
  std::map<uint32_t, double> col_widths;   // character units; 0.0 hides
  std::map<uint32_t, double> row_heights;  // points; 0.0 hides
  std::vector<ColumnStyle> column_styles;
  std::vector<SheetChart> charts;
  std::map<CellKey, CellRange> array_ranges;  // anchor cell → filled range
  std::optional<FreezePane> freeze_pane;
  // Field by field; cell values compare as CellValue does (NaN ≠ NaN).
  friend bool operator==(const SheetModel&, const SheetModel&) = default;
};

struct WorkbookModel {
  std::vector<SheetModel> sheets;  // tab order; a sheet is known by position
  std::vector<DefinedName> defined_names;
  std::vector<std::string> shared_strings;  // the package's table as read
  StyleSheet styles;
  std::vector<WorkbookTable> tables;
  DateSystem date_system = DateSystem::V1900;
};

// Every sheet, name, string, table and the date system equal, and the style
// tables equal by stylesheet_eq (caches play no part).
bool workbook_eq(const WorkbookModel& a, const WorkbookModel& b);

// Letters A-Z and a-z equal across case; every other byte exactly. Texts of
// different lengths are unequal.
bool eq_ignore_ascii_case(std::string_view a, std::string_view b);

// The first sheet, in tab order, whose name equals `name` under the full
// Unicode lower-case mapping (final sigma included; not case folding).
std::optional<uint32_t> find_sheet_index_ci(const std::vector<SheetModel>& sheets,
                                            std::string_view name);

// Names local to `sheet` first, then workbook-wide names, each in list order;
// names compare ignoring ASCII case. A name local to another sheet never matches.
const DefinedName* find_defined_name(const std::vector<DefinedName>& names, uint32_t sheet,
                                     std::string_view name);

// The first table whose name equals `name` ignoring ASCII case.
const WorkbookTable* find_table(const std::vector<WorkbookTable>& tables, std::string_view name);

// The stored cells inside a rectangle, row-major, with a count of the map
// searches made (callers charge it against their work budgets).
struct CellRangeIter {
  CellRange range;
  const CellMap* cells = nullptr;
  uint64_t probes = 0;
  bool active = true;
  CellKey next;

  CellRangeIter(const CellRange& rect, const CellMap& map)
      : range(rect), cells(&map), next{rect.start.row, rect.start.col} {}
};

struct CellRangeItem {
  CellRef ref;  // both absolute flags false
  const SheetCell* cell = nullptr;
};

// The next stored cell of the rectangle, or absent at the end.
std::optional<CellRangeItem> cell_range_iter_next(CellRangeIter& iter);

// Same chart part and an equal anchor; drawing and anchor_index are ignored.
bool chart_frame_matches(const SheetChart& chart, std::string_view part,
                         const ChartAnchor& anchor);

}  // namespace cmx::model
