// The lookup family: VLOOKUP and HLOOKUP, MATCH, XMATCH, XLOOKUP and LOOKUP.
// Every equality and order is compare_values': no wildcards, texts compared
// without case, Empty equal to 0, "" and FALSE.
#include <cstdint>
#include <optional>
#include <vector>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/references.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// Values searched in row-major order. A range is paid for in full up front
// but its cells are read only as far as the search goes; an array is kept
// evaluated.
class LookupList {
 public:
  static Result<LookupList, CellErrorCode> of_range(const SheetRange& range, EvalContext& ctx) {
    uint64_t count = 0;
    if (__builtin_mul_overflow(range.height, range.width, &count)) {
      mark_limited(ctx);
      return unexpected(CellErrorCode::Num);
    }
    if (!charge_cells(ctx, count)) return unexpected(CellErrorCode::Num);
    LookupList list;
    list.range_ = range;
    list.ctx_ = &ctx;
    list.size_ = count;
    return list;
  }
  static LookupList of_array(ArrayValue array) {
    LookupList list;
    list.size_ = array.values.size();
    list.array_ = std::move(array);
    return list;
  }

  uint64_t size() const { return size_; }
  // The element, checked as every read from the workbook is; references
  // stay valid while the list and the workbook view do.
  const CellValue& operator[](uint64_t i) const {
    if (!range_) return array_.values[i];
    return peek_checked(*range_, i / range_->width, i % range_->width, *ctx_);
  }

 private:
  std::optional<SheetRange> range_;
  const EvalContext* ctx_ = nullptr;  // borrowed for the call
  ArrayValue array_;
  uint64_t size_ = 0;
};

// A reference's clipped cells, or the elements of the argument in array
// context (a single value standing for a one-element list).
Result<LookupList, CellErrorCode> lookup_list(Args args, size_t i, EvalContext& ctx) {
  if (std::optional<SheetRange> range = eval_reference(*args[i], ctx)) {
    return LookupList::of_range(clip_to_used(*range, ctx), ctx);
  }
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_lambda()) return unexpected(CellErrorCode::Value);
  if (result.is_array()) return LookupList::of_array(std::get<ArrayValue>(std::move(result.value)));
  CellValue& v = std::get<CellValue>(result.value);
  if (v.is_error()) return unexpected(v.as_error());
  ArrayValue one;
  one.values.push_back(std::move(v));
  one.rows = one.cols = 1;
  return LookupList::of_array(std::move(one));
}

// The 1-based position MATCH answers, or none.
std::optional<uint64_t> match_position(const LookupList& list, const CellValue& wanted,
                                       int64_t type) {
  const uint64_t n = list.size();
  if (n == 0) return std::nullopt;
  if (type == 0) {
    for (uint64_t i = 0; i < n; ++i) {
      if (compare_values(list[i], wanted) == 0) return i + 1;
    }
    return std::nullopt;
  }
  // Type 1 walks while values do not exceed the wanted one; every other
  // type while they are not below it.
  const int stop = type == 1 ? 1 : -1;
  if (compare_values(list[0], wanted) == stop) return std::nullopt;
  uint64_t i = 1;
  while (i < n && compare_values(list[i], wanted) != stop) ++i;
  return i;
}

std::optional<uint64_t> xmatch_index(const LookupList& list, const CellValue& wanted,
                                     int64_t match_mode, bool backwards) {
  const uint64_t n = list.size();
  std::optional<uint64_t> candidate;
  for (uint64_t step = 0; step < n; ++step) {
    const uint64_t i = backwards ? n - 1 - step : step;
    const int c = compare_values(list[i], wanted);
    if (c == 0) return i;
    if (match_mode == 0 || c != static_cast<int>(match_mode)) continue;
    // Closer means greater below the wanted value and smaller above it; an
    // equal one keeps the candidate met first.
    if (!candidate || compare_values(list[i], list[*candidate]) == -static_cast<int>(match_mode)) {
      candidate = i;
    }
  }
  return candidate;
}

// The elements of argument i in array context, row-major; anything but an
// array is the one-element array of its top-left value.
ArrayValue array_arg(Args args, size_t i, EvalContext& ctx) {
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_array()) return std::get<ArrayValue>(std::move(result.value));
  ArrayValue one;
  one.values.push_back(top_left_value(std::move(result)));
  one.rows = one.cols = 1;
  return one;
}

// The elements of one row or one column of an array.
std::vector<CellValue> array_line(const ArrayValue& array, bool row, uint64_t index) {
  std::vector<CellValue> line;
  if (row) {
    for (uint64_t col_idx = 0; col_idx < array.cols; ++col_idx) {
      line.push_back(array.values[index * array.cols + col_idx]);
    }
  } else {
    for (uint64_t row_idx = 0; row_idx < array.rows; ++row_idx) {
      line.push_back(array.values[row_idx * array.cols + index]);
    }
  }
  return line;
}

bool same_kind(const CellValue& a, const CellValue& b) {
  return a.kind() == b.kind() && (a.is_number() || a.is_text() || a.is_bool());
}

// The value searched for: an error ends the call before anything else is
// evaluated.
Answer lookup_value(Args args, EvalContext& ctx) {
  CellValue wanted = eval_scalar(*args[0], ctx);
  if (wanted.is_error()) return unexpected(wanted.as_error());
  return wanted;
}

Answer table_lookup(Args args, EvalContext& ctx, bool vertical) {
  CMX_TRY(check_arity(args, 3, 4));
  CMX_ASSIGN_OR_RETURN(const CellValue wanted, lookup_value(args, ctx));
  CMX_ASSIGN_OR_RETURN(const SheetRange table, arg_reference(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(const int64_t index, arg_integer(args, 2, ctx));
  if (index <= 0) return unexpected(CellErrorCode::Value);
  bool approximate = true;
  if (args.size() == 4) {
    CMX_ASSIGN_OR_RETURN(const double flag, arg_number(args, 3, ctx));
    approximate = flag != 0;
  }
  const SheetRange clipped = clip_to_used(table, ctx);
  const uint64_t length = vertical ? clipped.height : clipped.width;
  if (static_cast<uint64_t>(index) > (vertical ? table.width : table.height)) {
    return unexpected(CellErrorCode::Ref);
  }
  auto probe = [&](uint64_t i) {
    return vertical ? peek_range_cell(clipped, i, 0, ctx) : peek_range_cell(clipped, 0, i, ctx);
  };
  std::optional<uint64_t> hit;
  if (approximate) {
    // The search axis is taken as sorted ascending: the last position not
    // above the wanted value, found in log2(length) probes.
    uint64_t lo = 0;
    uint64_t hi = length;
    while (lo < hi) {
      const uint64_t mid = lo + (hi - lo) / 2;
      CMX_ASSIGN_OR_RETURN(const CellValue* cell, probe(mid));
      if (compare_values(*cell, wanted) <= 0) {
        hit = mid;
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
  } else {
    for (uint64_t i = 0; i < length && !hit; ++i) {
      CMX_ASSIGN_OR_RETURN(const CellValue* cell, probe(i));
      if (compare_values(*cell, wanted) == 0) hit = i;
    }
  }
  if (!hit) return unexpected(CellErrorCode::NA);
  const auto across = static_cast<uint64_t>(index - 1);
  return vertical ? read_range_cell(table, *hit, across, ctx)
                  : read_range_cell(table, across, *hit, ctx);
}

Answer match(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 2, 3));
  CMX_ASSIGN_OR_RETURN(const CellValue wanted, lookup_value(args, ctx));
  int64_t type = 1;
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(type, arg_integer(args, 2, ctx));
  }
  CMX_ASSIGN_OR_RETURN(const LookupList list, lookup_list(args, 1, ctx));
  std::optional<uint64_t> position = match_position(list, wanted, type);
  if (!position) return unexpected(CellErrorCode::NA);
  return CellValue::number(static_cast<double>(*position));
}

Answer xmatch(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 2, 4));
  CMX_ASSIGN_OR_RETURN(const CellValue wanted, lookup_value(args, ctx));
  CMX_ASSIGN_OR_RETURN(const SheetRange range, arg_reference(args, 1, ctx));
  int64_t match_mode = 0;
  int64_t search_mode = 1;
  if (args.size() >= 3) {
    CMX_ASSIGN_OR_RETURN(match_mode, arg_integer(args, 2, ctx));
  }
  if (args.size() == 4 && !is_omitted(*args[3])) {
    CMX_ASSIGN_OR_RETURN(search_mode, arg_integer(args, 3, ctx));
  }
  const bool modes_valid = (match_mode >= -1 && match_mode <= 1) &&
                           (search_mode == 1 || search_mode == -1 || search_mode == 2 ||
                            search_mode == -2);
  if (!modes_valid) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(const LookupList cells, LookupList::of_range(clip_to_used(range, ctx), ctx));
  std::optional<uint64_t> index = xmatch_index(cells, wanted, match_mode, search_mode < 0);
  if (!index) return unexpected(CellErrorCode::NA);
  return CellValue::number(static_cast<double>(*index + 1));
}

Answer xlookup(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 3, 6));
  CMX_ASSIGN_OR_RETURN(const CellValue wanted, lookup_value(args, ctx));
  CMX_ASSIGN_OR_RETURN(const SheetRange looked, arg_reference(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(const SheetRange returned, arg_reference(args, 2, ctx));
  // The hit is read at its own row and column offsets, which only a range
  // of the same shape holds (and the dependency graph registered).
  if (looked.height != returned.height || looked.width != returned.width) {
    return unexpected(CellErrorCode::Value);
  }
  for (uint64_t row_idx = 0; row_idx < looked.height; ++row_idx) {
    for (uint64_t col_idx = 0; col_idx < looked.width; ++col_idx) {
      CMX_ASSIGN_OR_RETURN(const CellValue* cell, peek_range_cell(looked, row_idx, col_idx, ctx));
      if (compare_values(*cell, wanted) == 0) {
        return read_range_cell(returned, row_idx, col_idx, ctx);
      }
    }
  }
  if (args.size() >= 4) return eval_scalar(*args[3], ctx);
  return unexpected(CellErrorCode::NA);
}

Answer lookup(Args args, EvalContext& ctx) {
  CMX_TRY(check_arity(args, 2, 3));
  CMX_ASSIGN_OR_RETURN(const CellValue wanted, lookup_value(args, ctx));
  std::vector<CellValue> keys;
  std::vector<CellValue> results;
  if (args.size() == 2) {
    const ArrayValue array = array_arg(args, 1, ctx);
    if (array.values.empty()) return unexpected(CellErrorCode::NA);
    // A wide array is searched along its first row, any other down its
    // first column; the answer comes from the last row or column.
    const bool wide = array.rows < array.cols;
    keys = array_line(array, wide, 0);
    results = array_line(array, wide, wide ? array.rows - 1 : array.cols - 1);
  } else {
    keys = array_arg(args, 1, ctx).values;
    results = array_arg(args, 2, ctx).values;
  }
  std::optional<size_t> answer;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (same_kind(keys[i], wanted) && compare_values(keys[i], wanted) <= 0) answer = i;
  }
  if (!answer || *answer >= results.size()) return unexpected(CellErrorCode::NA);
  return std::move(results[*answer]);
}

}  // namespace

void fn_vlookup(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, table_lookup(args, ctx, /*vertical=*/true));
}

void fn_hlookup(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, table_lookup(args, ctx, /*vertical=*/false));
}

void fn_match(CellValue& out, Args args, EvalContext& ctx) { set_answer(out, match(args, ctx)); }

void fn_xmatch(CellValue& out, Args args, EvalContext& ctx) { set_answer(out, xmatch(args, ctx)); }

void fn_xlookup(CellValue& out, Args args, EvalContext& ctx) {
  set_answer(out, xlookup(args, ctx));
}

void fn_lookup(CellValue& out, Args args, EvalContext& ctx) { set_answer(out, lookup(args, ctx)); }

}  // namespace cmx::formula
