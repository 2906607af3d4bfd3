// Text building and cleaning: SUBSTITUTE, REPLACE, REPT, CONCATENATE,
// TEXTJOIN, TRIM, CLEAN, PROPER, UPPER and LOWER. Results are built under
// the text length limit and refused as soon as they would reach it.
#include <algorithm>

#include "base/unicode.h"
#include "formula/lifted.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/text_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

using TextTransform = std::string (*)(std::string_view text);

Result<CellValue, CellErrorCode> substitute(Args args, EvalContext& ctx) {
  if (args.size() < 3 || args.size() > 4) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(std::string old_text, arg_text(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(std::string new_text, arg_text(args, 2, ctx));
  if (old_text.empty()) return text_result(text, ctx);
  std::optional<int64_t> instance;
  if (args.size() == 4) {
    CMX_ASSIGN_OR_RETURN(instance, arg_truncated(args, 3, ctx));
    if (*instance < 1) return unexpected(CellErrorCode::Value);
  }
  std::string out;
  size_t count = 0;
  size_t done = 0;
  int64_t seen = 0;
  for (size_t at = text.find(old_text); at != std::string::npos;
       at = text.find(old_text, at + old_text.size())) {
    ++seen;
    const bool replace = !instance || *instance == seen;
    if (!push_text_limited(out, std::string_view(text).substr(done, at - done), count) ||
        !push_text_limited(out, replace ? new_text : old_text, count)) {
      return unexpected(CellErrorCode::Value);
    }
    done = at + old_text.size();
  }
  if (!push_text_limited(out, std::string_view(text).substr(done), count)) {
    return unexpected(CellErrorCode::Value);
  }
  return text_result(out, ctx);
}

Result<CellValue, CellErrorCode> replace(Args args, EvalContext& ctx) {
  if (args.size() != 4) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t start, arg_truncated(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t length, arg_truncated(args, 2, ctx));
  CMX_ASSIGN_OR_RETURN(std::string new_text, arg_text(args, 3, ctx));
  if (start < 1 || length < 0) return unexpected(CellErrorCode::Value);
  const uint64_t chars = char_count(text);
  const uint64_t head = std::min<uint64_t>(chars, static_cast<uint64_t>(start - 1));
  const uint64_t tail = std::min<uint64_t>(chars, saturating_add(head, static_cast<uint64_t>(length)));
  std::string_view view = text;
  std::string out;
  size_t count = 0;
  if (!push_text_limited(out, view.substr(0, char_offset(view, head)), count) ||
      !push_text_limited(out, new_text, count) ||
      !push_text_limited(out, view.substr(char_offset(view, tail)), count)) {
    return unexpected(CellErrorCode::Value);
  }
  return text_result(out, ctx);
}

Result<CellValue, CellErrorCode> rept(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t times, arg_truncated(args, 1, ctx));
  if (times < 0) return unexpected(CellErrorCode::Value);
  if (text.empty()) return CellValue::text("");
  // Sized before anything is allocated: a huge repeat is refused, not built.
  uint64_t chars = 0;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(char_count(text), static_cast<uint64_t>(times), &chars) ||
      __builtin_mul_overflow(text.size(), static_cast<uint64_t>(times), &bytes) ||
      chars >= kMaxTextChars) {
    return unexpected(CellErrorCode::Value);
  }
  if (!charge_bytes(ctx, bytes)) return unexpected(CellErrorCode::Num);
  std::string out;
  out.reserve(bytes);
  for (int64_t i = 0; i < times; ++i) out += text;
  return text_within_limit(out);
}

// The text of CONCATENATE and TEXTJOIN as it grows.
struct Joined {
  std::string text;
  size_t chars = 0;
  bool any = false;  // a value has been joined (possibly an empty one)
};

struct JoinRule {
  std::string_view delimiter;
  bool with_delimiter = false;
  bool ignore_empty = false;
};

Result<void, CellErrorCode> join_value(const CellValue& value, const JoinRule& rule,
                                       Joined& joined) {
  if (rule.ignore_empty && (value.is_empty() || (value.is_text() && value.as_text().empty()))) {
    return {};
  }
  CMX_ASSIGN_OR_RETURN(std::string text, value_to_text(value));
  if (rule.with_delimiter && joined.any &&
      !push_text_limited(joined.text, rule.delimiter, joined.chars)) {
    return unexpected(CellErrorCode::Value);
  }
  joined.any = true;
  if (!push_text_limited(joined.text, text, joined.chars)) return unexpected(CellErrorCode::Value);
  return {};
}

// The cells a whole row or column lost to clipping join as empty values:
// each brings only its delimiter, all at once, under the same limit.
Result<void, CellErrorCode> join_cut_cells(uint64_t cut, const JoinRule& rule, Joined& joined) {
  if (cut == 0 || rule.ignore_empty || !rule.with_delimiter) return {};
  uint64_t delimiters = joined.any ? cut : cut - 1;
  joined.any = true;
  if (rule.delimiter.empty() || delimiters == 0) return {};
  const uint64_t added = saturating_mul(delimiters, char_count(rule.delimiter));
  if (saturating_add(joined.chars, added) >= kMaxTextChars) {
    return unexpected(CellErrorCode::Value);
  }
  for (uint64_t i = 0; i < delimiters; ++i) joined.text += rule.delimiter;
  joined.chars += added;
  return {};
}

// Arguments from `first` on: references read whole (whole rows and columns
// clipped to the used area), anything else as one value.
Result<void, CellErrorCode> join_args(Args args, size_t first, const JoinRule& rule,
                                      EvalContext& ctx, Joined& joined) {
  for (size_t i = first; i < args.size(); ++i) {
    if (std::optional<SheetRange> range = eval_reference(*args[i], ctx)) {
      const SheetRange clipped = clip_to_used(*range, ctx);
      CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(clipped, ctx));
      for (const CellValue* cell : cells) CMX_TRY(join_value(*cell, rule, joined));
      const uint64_t cut = saturating_mul(range->height, range->width) -
                           saturating_mul(clipped.height, clipped.width);
      CMX_TRY(join_cut_cells(cut, rule, joined));
      continue;
    }
    CMX_TRY(join_value(eval_scalar(*args[i], ctx), rule, joined));
  }
  return {};
}

Result<CellValue, CellErrorCode> concatenate(Args args, EvalContext& ctx) {
  Joined joined;
  CMX_TRY(join_args(args, 0, JoinRule{}, ctx, joined));
  return text_result(joined.text, ctx);
}

Result<CellValue, CellErrorCode> textjoin(Args args, EvalContext& ctx) {
  if (args.size() < 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string delimiter, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(double ignore, value_to_number(eval_scalar(*args[1], ctx)));
  const JoinRule rule{delimiter, /*with_delimiter=*/true, /*ignore_empty=*/ignore != 0};
  Joined joined;
  CMX_TRY(join_args(args, 2, rule, ctx, joined));
  return text_result(joined.text, ctx);
}

Result<CellValue, CellErrorCode> run_text_transform(Args args, EvalContext& ctx,
                                                    TextTransform transform) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  return text_result(transform(text), ctx);
}

// Only U+0020 counts: tabs and no-break spaces are kept.
std::string trim_spaces(std::string_view text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t word = text.find_first_not_of(' ', at);
    if (word == std::string_view::npos) break;
    const size_t end = std::min(text.find(' ', word), text.size());
    if (!out.empty()) out += ' ';
    out.append(text.substr(word, end - word));
    at = end;
  }
  return out;
}

std::string clean_controls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    const char32_t cp = unicode::decode_utf8(text, at);
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) continue;
    out.append(text.substr(start, at - start));
  }
  return out;
}

std::string proper_case(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool after_letter = false;
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    const char32_t cp = unicode::decode_utf8(text, at);
    const std::string_view ch = text.substr(start, at - start);
    if (!unicode::is_alphabetic(cp)) {
      out.append(ch);
      after_letter = false;
      continue;
    }
    // Upper case, not title case, for the first letter of a word.
    out += after_letter ? unicode::to_lower(ch) : unicode::to_upper(ch);
    after_letter = true;
  }
  return out;
}

std::string upper_text(std::string_view text) { return unicode::to_upper(text); }
std::string lower_text(std::string_view text) { return unicode::to_lower(text); }

}  // namespace

void fn_substitute(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(substitute(args, ctx));
}

void fn_replace(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(replace(args, ctx));
}

void fn_rept(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(rept(args, ctx)); }

void fn_concatenate(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(concatenate(args, ctx));
}

void fn_textjoin(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(textjoin(args, ctx));
}

void fn_trim(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(run_text_transform(args, ctx, trim_spaces));
}

void fn_clean(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(run_text_transform(args, ctx, clean_controls));
}

void fn_proper(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(run_text_transform(args, ctx, proper_case));
}

void fn_upper(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(run_text_transform(args, ctx, upper_text));
}

void fn_lower(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(run_text_transform(args, ctx, lower_text));
}

}  // namespace cmx::formula
