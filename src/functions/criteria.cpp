// Criteria parsing, matching, wildcard patterns and criteria sets.
#include "functions/criteria.h"

#include <cmath>

#include "base/unicode.h"
#include "formula/value_coercion.h"
#include "functions/clip_ranges.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::u32string to_scalars(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) out.push_back(unicode::decode_utf8(text, pos));
  return out;
}

// The cell text lower-cased equals `lowered` (already lower-case). ASCII
// texts are compared in place, without building the lower-cased copy.
bool lower_text_equals(std::string_view text, std::string_view lowered) {
  if (unicode::is_ascii(text)) {
    if (text.size() != lowered.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (ascii_lower(text[i]) != lowered[i]) return false;
    }
    return true;
  }
  return unicode::to_lower(text) == lowered;
}

bool text_wildcard_match(const Criterion& c, std::string_view text) {
  if (unicode::is_ascii(text)) {
    // Reused between calls: a scan tests many cells against one pattern.
    thread_local std::u32string scalars;
    scalars.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      scalars[i] = static_cast<unsigned char>(ascii_lower(text[i]));
    }
    return wildcard_match(c.pattern, scalars);
  }
  return wildcard_match(c.pattern, to_scalars(unicode::to_lower(text)));
}

// The value as a number for the ordering tests and numeric equality: Number,
// Bool as 1 or 0, a Text that reads as a number.
std::optional<double> value_number(const CellValue& v) {
  switch (v.kind()) {
    case CellValue::Kind::Number:
      return v.as_number();
    case CellValue::Kind::Bool:
      return v.as_bool() ? 1.0 : 0.0;
    case CellValue::Kind::Text:
      return parse_number_text(v.as_text());
    default:
      return std::nullopt;
  }
}

int three_way(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

// -1, 0 or 1 of the value against the criterion; absent when they do not
// compare.
std::optional<int> order_against(const Criterion& c, const CellValue& v) {
  if (c.number) {
    if (v.is_empty() || v.is_error()) return std::nullopt;
    std::optional<double> x = value_number(v);
    if (!x) return std::nullopt;
    return three_way(*x, *c.number);
  }
  if (c.date && v.is_number()) return three_way(v.as_number(), *c.date);
  if (v.is_empty()) return c.text.empty() ? std::optional<int>(0) : std::nullopt;
  if (v.is_text()) return compare_text_ci(v.as_text(), c.text);
  return std::nullopt;
}

}  // namespace

Criterion criterion_from_value(const CellValue& value, std::optional<double> now_serial) {
  Criterion c;
  std::string_view operand;
  switch (value.kind()) {
    case CellValue::Kind::Empty:
      c.number = 0.0;
      return c;
    case CellValue::Kind::Number:
      c.number = value.as_number();
      return c;
    case CellValue::Kind::Bool:
      operand = value.as_bool() ? "TRUE" : "FALSE";
      break;
    case CellValue::Kind::Error:
      operand = "";
      break;
    case CellValue::Kind::Text:
      operand = value.as_text();
      break;
  }
  if (operand.size() >= 2 && (operand.starts_with(">=") || operand.starts_with("<=") ||
                              operand.starts_with("<>"))) {
    c.op = operand[0] == '>' ? CriterionOp::Ge
                             : (operand[1] == '=' ? CriterionOp::Le : CriterionOp::Ne);
    operand.remove_prefix(2);
  } else if (!operand.empty() && (operand[0] == '<' || operand[0] == '=' || operand[0] == '>')) {
    c.op = operand[0] == '<' ? CriterionOp::Lt
                             : (operand[0] == '=' ? CriterionOp::Eq : CriterionOp::Gt);
    operand.remove_prefix(1);
  }
  if (!operand.empty()) {
    c.number = parse_number_text(operand);
    if (!c.number) c.date = parse_date_text(operand, now_serial);
  }
  // The wildcard characters are ASCII, so a byte scan finds them exactly.
  c.has_wildcards = operand.find_first_of("*?~") != std::string_view::npos;
  c.text = unicode::to_lower(operand);
  if (c.has_wildcards) c.pattern = to_scalars(c.text);
  return c;
}

Criterion parse_criterion(const Expr& arg, EvalContext& ctx) {
  return criterion_from_value(eval_scalar(arg, ctx), ctx.now_serial);
}

bool criterion_equals(const Criterion& c, const CellValue& v) {
  if (c.number) {
    if (v.is_empty() || v.is_error()) return false;
    std::optional<double> x = value_number(v);
    return x && *x == *c.number;
  }
  if (c.text.empty()) return v.is_empty();
  // Dates typed as text find the date cells they are written against.
  if (c.date && v.is_number()) return v.as_number() == *c.date;
  if (c.has_wildcards) return v.is_text() && text_wildcard_match(c, v.as_text());
  switch (v.kind()) {
    case CellValue::Kind::Number:
      return number_to_text(v.as_number()) == c.text;
    case CellValue::Kind::Text:
      return lower_text_equals(v.as_text(), c.text);
    case CellValue::Kind::Bool:
      return c.text == (v.as_bool() ? "true" : "false");
    default:
      return false;  // their text is empty, and `c.text` is not
  }
}

bool criterion_matches(const Criterion& c, const CellValue& v) {
  switch (c.op) {
    case CriterionOp::Eq:
      return criterion_equals(c, v);
    case CriterionOp::Ne:
      return !criterion_equals(c, v);
    default:
      break;
  }
  std::optional<int> order = order_against(c, v);
  if (!order) return false;
  switch (c.op) {
    case CriterionOp::Gt:
      return *order > 0;
    case CriterionOp::Ge:
      return *order >= 0;
    case CriterionOp::Lt:
      return *order < 0;
    default:
      return *order <= 0;
  }
}

bool wildcard_match(std::u32string_view pattern, std::u32string_view text) {
  size_t p = 0;
  size_t t = 0;
  std::optional<size_t> star;
  size_t mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == U'*') {
      star = p;
      mark = t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == U'?') {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == U'~' && p + 1 < pattern.size() &&
               pattern[p + 1] == text[t]) {
      p += 2;
      ++t;
    } else if (p < pattern.size() && pattern[p] != U'~' && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star) {
      p = *star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool wildcard_match(std::string_view pattern, std::string_view text) {
  return wildcard_match(to_scalars(pattern), to_scalars(text));
}

std::optional<CriteriaSet> build_criteria_set(Args args, const Expr* value_arg,
                                              EvalContext& ctx) {
  if (args.empty() || args.size() % 2 != 0) return std::nullopt;
  std::vector<SheetRange> ranges;
  ranges.reserve(args.size() / 2 + 1);
  for (size_t i = 0; i < args.size(); i += 2) {
    std::optional<SheetRange> range = eval_reference(*args[i], ctx);
    if (!range) return std::nullopt;
    if (!ranges.empty() &&
        (range->height != ranges[0].height || range->width != ranges[0].width)) {
      return std::nullopt;
    }
    ranges.push_back(*range);
  }
  const SheetRange first = ranges[0];
  std::optional<SheetRange> value_range;
  if (value_arg != nullptr) {
    value_range = eval_reference(*value_arg, ctx);
    if (!value_range) return std::nullopt;
    if (value_range->height >= kGridRows) value_range->height = first.height;
    if (value_range->width >= kGridCols) value_range->width = first.width;
    if (value_range->height != first.height || value_range->width != first.width) {
      return std::nullopt;
    }
    ranges.push_back(*value_range);
  }
  clip_ranges_to_used(ranges, ctx);
  CriteriaSet set;
  const uint64_t before = first.height * first.width;
  const uint64_t after = ranges[0].height * ranges[0].width;
  set.clipped_cells = before > after ? before - after : 0;
  if (value_range) set.value_range = ranges.back();
  set.pairs.reserve(args.size() / 2);
  for (size_t i = 0; i < args.size(); i += 2) {
    set.pairs.push_back(CriteriaPair{ranges[i / 2], parse_criterion(*args[i + 1], ctx)});
  }
  return set;
}

Result<CriteriaSet, CellErrorCode> build_single_criterion_set(Args args, bool pass_range_error,
                                                              EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return unexpected(CellErrorCode::Value);
  std::optional<SheetRange> range = eval_reference(*args[0], ctx);
  if (!range) {
    CellValue v = pass_range_error ? eval_scalar(*args[0], ctx) : CellValue();
    return unexpected(v.is_error() ? v.as_error() : CellErrorCode::Value);
  }
  std::optional<SheetRange> value_range = eval_reference(*args[args.size() == 3 ? 2 : 0], ctx);
  if (!value_range) return unexpected(CellErrorCode::Value);
  value_range->height = range->height;
  value_range->width = range->width;
  std::vector<SheetRange> both{*range, *value_range};
  clip_ranges_to_used(both, ctx);
  CriteriaSet set;
  set.value_range = both[1];
  set.pairs.push_back(CriteriaPair{both[0], parse_criterion(*args[1], ctx)});
  return set;
}

Result<std::vector<uint64_t>, CellErrorCode> matching_positions(
    const std::vector<CriteriaPair>& pairs, EvalContext& ctx) {
  std::vector<uint64_t> positions;
  CMX_TRY(for_each_match(pairs, ctx,
                         [&](uint64_t position, uint64_t, uint64_t) -> Result<void, CellErrorCode> {
                           positions.push_back(position);
                           return {};
                         }));
  return positions;
}

Result<std::vector<double>, CellErrorCode> collect_matched_numbers(
    const std::vector<CriteriaPair>& pairs, const SheetRange& value_range, EvalContext& ctx) {
  std::vector<double> numbers;
  CMX_TRY(for_each_match(
      pairs, ctx, [&](uint64_t, uint64_t row, uint64_t col) -> Result<void, CellErrorCode> {
        CMX_ASSIGN_OR_RETURN(const CellValue* v, peek_range_cell(value_range, row, col, ctx));
        if (v->is_number()) numbers.push_back(v->as_number());
        return {};
      }));
  return numbers;
}

}  // namespace cmx::formula
