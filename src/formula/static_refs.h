// Which cells a parsed formula reads, found without evaluating it: the
// ranges it names, the arguments read only for their shape, and the static
// value of INDEX, OFFSET and ":" over constant arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formula/expr.h"
#include "model/address.h"

namespace cmx::formula {

// A range as written: the sheet qualifier (none when unqualified) and cells.
struct QualifiedRange {
  std::optional<std::string> sheet;
  model::CellRange range;
  friend bool operator==(const QualifiedRange&, const QualifiedRange&) = default;
};

// Every range the formula reads, normalised (flags false), each (sheet, range)
// once, in depth-first left-to-right order.
std::vector<QualifiedRange> collect_reference_ranges(const Expr& expr);

// ROW, ROWS, COLUMN, COLUMNS (any position) and OFFSET's first argument read
// only the shape of a plain reference, table reference or name.
bool is_shape_only_argument(std::string_view call_name, size_t position, const Expr& argument);

std::optional<QualifiedRange> static_reference_of(const Expr& expr);
std::optional<QualifiedRange> static_range_op(const Expr& left, const Expr& right);

enum class StaticOffsetKind : uint8_t { Range, NotApplicable, Dynamic };
struct StaticOffset {
  StaticOffsetKind kind = StaticOffsetKind::NotApplicable;
  QualifiedRange range;  // meaningful for Range only
};
StaticOffset static_offset(std::span<const ExprPtr> args);

std::optional<QualifiedRange> plain_reference_range(const Expr& expr);
std::optional<int64_t> constant_integer(const Expr& expr);
// OFFSET's range arithmetic; none when the result leaves the grid, has a
// zero size, or any step overflows.
std::optional<model::CellRange> offset_range(const model::CellRange& base, int64_t rows,
                                             int64_t cols, std::optional<int64_t> height,
                                             std::optional<int64_t> width);

// A range with each axis ordered and every flag cleared.
model::CellRange normalized_range(const model::CellRange& range);

}  // namespace cmx::formula
