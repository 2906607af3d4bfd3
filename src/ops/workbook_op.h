// WorkbookOp: the closed set of edit steps that apply_op performs, each with
// the payload it owns: cell, value-swap, merge, chart-frame, style, row and
// column, and sheet edits. Read apply.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "model/cell_address.h"
#include "model/style_patch.h"
#include "model/workbook.h"
#include "ops/error.h"

namespace cmx::ops {

using model::CellAddress;

// Stores `cell` at `address`; the empty record removes the cell.
struct SetCell {
  model::SheetCell cell;
  CellAddress address;
  friend bool operator==(const SetCell&, const SetCell&) = default;
};

struct SetColumnWidth {
  SheetId sheet = 0;
  uint32_t column = 0;
  std::optional<double> width;  // absent removes the entry
  friend bool operator==(const SetColumnWidth&, const SetColumnWidth&) = default;
};

struct SetRowHeight {
  SheetId sheet = 0;
  uint32_t row = 0;
  std::optional<double> height;  // absent removes the entry
  friend bool operator==(const SetRowHeight&, const SetRowHeight&) = default;
};

struct SetFreezePane {
  SheetId sheet = 0;
  std::optional<model::FreezePane> pane;
  friend bool operator==(const SetFreezePane&, const SetFreezePane&) = default;
};

struct SetHyperlinks {
  SheetId sheet = 0;
  std::vector<model::SheetHyperlink> hyperlinks;
  friend bool operator==(const SetHyperlinks&, const SetHyperlinks&) = default;
};

struct SetColumnStyles {
  SheetId sheet = 0;
  std::vector<model::ColumnStyle> runs;
  friend bool operator==(const SetColumnStyles&, const SetColumnStyles&) = default;
};

struct SetCharts {
  SheetId sheet = 0;
  std::vector<model::SheetChart> charts;
  friend bool operator==(const SetCharts&, const SetCharts&) = default;
};

// Moves the frame named `frame` ("{drawing}#{anchor index}") to `anchor`,
// provided it still holds chart part `part` at anchor `recorded`.
struct SetChartAnchor {
  SheetId sheet = 0;
  std::string frame;
  std::string part;
  model::ChartAnchor recorded;
  model::ChartAnchor anchor;
  friend bool operator==(const SetChartAnchor&, const SetChartAnchor&) = default;
};

struct MergeCells {
  SheetId sheet = 0;
  model::CellRange range;
  friend bool operator==(const MergeCells&, const MergeCells&) = default;
};

struct UnmergeCells {
  SheetId sheet = 0;
  model::CellRange range;
  friend bool operator==(const UnmergeCells&, const UnmergeCells&) = default;
};

// The patch records live in the model so that the request readers can build
// them too.
using model::BorderLine;
using model::BorderPatch;
using model::BorderPreset;
using model::NumberFormatMutation;
using model::NumberFormatMutationKind;
using model::PatchHorizontal;
using model::PatchVertical;
using model::StylePatch;
using model::StylePatchField;
using model::TextWrapping;

struct PatchStyle {
  SheetId sheet = 0;
  model::CellRange range;
  StylePatch patch;
};

struct SetNumberFormat {
  SheetId sheet = 0;
  model::CellRange range;
  NumberFormatMutation mutation;
};

// A grid of `rows` by `columns` formats, row by row, tiled over `range` from
// its top-left corner.
struct SetCellFormats {
  SheetId sheet = 0;
  model::CellRange range;
  uint32_t rows = 0;
  uint32_t columns = 0;
  std::vector<model::CellFormat> formats;
};

struct SetDefinedNames {
  std::vector<model::DefinedName> names;
  friend bool operator==(const SetDefinedNames&, const SetDefinedNames&) = default;
};

// Row and column edits: `at` is the zero-based first row or column, `count`
// how many are inserted before it or deleted from it on.
struct InsertRows {
  SheetId sheet = 0;
  uint32_t at = 0;
  uint32_t count = 0;
  friend bool operator==(const InsertRows&, const InsertRows&) = default;
};
struct DeleteRows {
  SheetId sheet = 0;
  uint32_t at = 0;
  uint32_t count = 0;
  friend bool operator==(const DeleteRows&, const DeleteRows&) = default;
};
struct InsertColumns {
  SheetId sheet = 0;
  uint32_t at = 0;
  uint32_t count = 0;
  friend bool operator==(const InsertColumns&, const InsertColumns&) = default;
};
struct DeleteColumns {
  SheetId sheet = 0;
  uint32_t at = 0;
  uint32_t count = 0;
  friend bool operator==(const DeleteColumns&, const DeleteColumns&) = default;
};

// Inserts an empty sheet at `index` (past the end appends).
struct InsertSheet {
  uint64_t index = 0;
  std::string name;
  friend bool operator==(const InsertSheet&, const InsertSheet&) = default;
};
struct RemoveSheet {
  uint64_t index = 0;
  friend bool operator==(const RemoveSheet&, const RemoveSheet&) = default;
};
// Renames the sheet and every formula text that names it.
struct RenameSheet {
  SheetId sheet = 0;
  std::string name;
  friend bool operator==(const RenameSheet&, const RenameSheet&) = default;
};
// The inverse of RenameSheet: renames without scanning cell formulas and
// stores the given records instead.
struct RenameSheetWithCells {
  SheetId sheet = 0;
  std::string name;
  std::vector<std::pair<CellAddress, model::SheetCell>> cells;
  friend bool operator==(const RenameSheetWithCells&, const RenameSheetWithCells&) = default;
};

using WorkbookOp = std::variant<SetCell, SetColumnWidth, SetRowHeight, SetFreezePane, SetHyperlinks,
                                SetColumnStyles, SetCharts, SetChartAnchor, MergeCells, UnmergeCells, PatchStyle,
                                SetNumberFormat, SetCellFormats, SetDefinedNames, InsertRows, DeleteRows,
                                InsertColumns, DeleteColumns, InsertSheet, RemoveSheet, RenameSheet,
                                RenameSheetWithCells>;

// The steps that undo one step (or a batch), applied front to back.
using InverseList = std::vector<WorkbookOp>;

// The sheet a step edits; none for the sheet-list and defined-name steps.
inline std::optional<uint32_t> op_sheet(const WorkbookOp& op) {
  return std::visit(
      [](const auto& step) -> std::optional<uint32_t> {
        using Step = std::decay_t<decltype(step)>;
        if constexpr (std::is_same_v<Step, SetCell>) {
          return step.address.sheet;
        } else if constexpr (requires { step.sheet; }) {
          return step.sheet;
        } else {
          return std::nullopt;
        }
      },
      op);
}

}  // namespace cmx::ops
