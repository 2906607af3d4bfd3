// Text measuring, slicing and searching: LEN, LEFT, RIGHT, MID, FIND,
// SEARCH, TEXTBEFORE, TEXTAFTER, EXACT, CODE, CHAR and T. Positions and
// counts are in characters (Unicode scalar values), never bytes.
#include <algorithm>
#include <vector>

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

Result<CellValue, CellErrorCode> left_right(Args args, EvalContext& ctx, bool from_left) {
  if (args.empty() || args.size() > 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  int64_t count = 1;
  if (args.size() == 2) {
    CMX_ASSIGN_OR_RETURN(count, arg_truncated(args, 1, ctx));
  }
  if (count < 0) return unexpected(CellErrorCode::Value);
  const uint64_t length = char_count(text);
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), length);
  std::string_view view = text;
  if (from_left) return text_result(view.substr(0, char_offset(view, n)), ctx);
  return text_result(view.substr(char_offset(view, length - n)), ctx);
}

Result<CellValue, CellErrorCode> mid(Args args, EvalContext& ctx) {
  if (args.size() != 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  auto start = arg_truncated(args, 1, ctx);
  auto count = arg_truncated(args, 2, ctx);
  if (!start.has_value()) return unexpected(start.error());
  if (!count.has_value()) return unexpected(count.error());
  if (*start < 1 || *count < 0) return unexpected(CellErrorCode::Value);
  const uint64_t length = char_count(text);
  const uint64_t from = std::min<uint64_t>(length, static_cast<uint64_t>(*start - 1));
  const uint64_t to = std::min<uint64_t>(length, saturating_add(from, static_cast<uint64_t>(*count)));
  std::string_view view = text;
  const size_t begin = char_offset(view, from);
  return text_result(view.substr(begin, char_offset(view, to) - begin), ctx);
}

Result<CellValue, CellErrorCode> find_search(Args args, EvalContext& ctx, bool case_sensitive) {
  if (args.size() < 2 || args.size() > 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string find, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(std::string within, arg_text(args, 1, ctx));
  int64_t start = 1;
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(start, arg_truncated(args, 2, ctx));
  }
  if (start < 1) return unexpected(CellErrorCode::Value);
  if (static_cast<uint64_t>(start) > char_count(within) + 1) {
    return unexpected(CellErrorCode::Value);
  }
  std::string haystack = within.substr(char_offset(within, static_cast<uint64_t>(start - 1)));
  if (!case_sensitive) {
    haystack = unicode::to_lower(haystack);
    find = unicode::to_lower(find);
  }
  // Valid UTF-8 cannot match a character's tail, so a byte search finds
  // whole characters only.
  const size_t at = haystack.find(find);
  if (at == std::string::npos) return unexpected(CellErrorCode::Value);
  const uint64_t before = char_count(std::string_view(haystack).substr(0, at));
  return CellValue::number(static_cast<double>(before + static_cast<uint64_t>(start)));
}

// A found delimiter as the byte range it covers in the searched text.
struct Occurrence {
  size_t begin = 0;
  size_t end = 0;
};

std::string lower_char(std::string_view ch) {
  if (ch.size() == 1) {
    char c = ch[0];
    return std::string(1, c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
  }
  return unicode::to_lower(ch);
}

// Each character lower-cased on its own, as one text, with where every
// character starts in the input and in the lowered text.
struct LoweredText {
  std::string text;
  std::vector<size_t> input_starts;    // one per character, then the input's size
  std::vector<size_t> lowered_starts;  // likewise in `text`
};

LoweredText lower_each_char(std::string_view input) {
  LoweredText out;
  for (size_t at = 0; at < input.size();) {
    size_t next = at + 1;
    while (next < input.size() && !starts_char(input[next])) ++next;
    out.input_starts.push_back(at);
    out.lowered_starts.push_back(out.text.size());
    out.text += lower_char(input.substr(at, next - at));
    at = next;
  }
  out.input_starts.push_back(input.size());
  out.lowered_starts.push_back(out.text.size());
  return out;
}

std::vector<Occurrence> find_occurrences(std::string_view text, std::string_view delimiter,
                                         bool ignore_case) {
  std::vector<Occurrence> found;
  if (!ignore_case) {
    // Valid UTF-8 cannot match inside a character, so byte matches are
    // character matches.
    for (size_t at = text.find(delimiter); at != std::string_view::npos;
         at = text.find(delimiter, at + delimiter.size())) {
      found.push_back({at, at + delimiter.size()});
    }
    return found;
  }
  const LoweredText lowered = lower_each_char(text);
  const std::string needle = lower_each_char(delimiter).text;
  const std::vector<size_t>& starts = lowered.lowered_starts;
  const std::string_view haystack = lowered.text;
  for (size_t at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + 1)) {
    // A match counts only from where one of the text's characters starts
    // to where one ends: "i" is no match inside the lowered "İ".
    const auto begin = std::lower_bound(starts.begin(), starts.end(), at);
    const auto end = std::lower_bound(begin, starts.end(), at + needle.size());
    if (begin == starts.end() || *begin != at || end == starts.end() ||
        *end != at + needle.size()) {
      continue;
    }
    found.push_back({lowered.input_starts[static_cast<size_t>(begin - starts.begin())],
                     lowered.input_starts[static_cast<size_t>(end - starts.begin())]});
    at += needle.size() - 1;  // occurrences never overlap
  }
  return found;
}

Result<CellValue, CellErrorCode> text_before_after(Args args, EvalContext& ctx, bool before) {
  if (args.size() < 2 || args.size() > 6) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(std::string delimiter, arg_text(args, 1, ctx));
  int64_t instance = 1;
  if (arg_given(args, 2)) {
    CMX_ASSIGN_OR_RETURN(instance, arg_truncated(args, 2, ctx));
    if (instance == 0) return unexpected(CellErrorCode::Value);
  }
  bool ignore_case = false;
  if (arg_given(args, 3)) {
    CMX_ASSIGN_OR_RETURN(int64_t mode, arg_truncated(args, 3, ctx));
    ignore_case = mode != 0;
  }
  bool match_end = false;
  if (arg_given(args, 4)) {
    CMX_ASSIGN_OR_RETURN(int64_t end_mode, arg_truncated(args, 4, ctx));
    match_end = end_mode != 0;
  }
  if (delimiter.empty()) return text_result(before ? std::string_view() : text, ctx);

  std::vector<Occurrence> found = find_occurrences(text, delimiter, ignore_case);
  if (match_end) found.push_back({text.size(), text.size()});
  const auto m = static_cast<int64_t>(found.size());
  std::optional<Occurrence> chosen;
  if (instance > 0 && instance <= m) chosen = found[static_cast<size_t>(instance - 1)];
  if (instance < 0 && instance >= -m) chosen = found[static_cast<size_t>(m + instance)];
  if (chosen) {
    std::string_view view = text;
    return text_result(before ? view.substr(0, chosen->begin) : view.substr(chosen->end), ctx);
  }
  if (!arg_given(args, 5)) return unexpected(CellErrorCode::NA);
  return eval_scalar(*args[5], ctx);
}

Result<CellValue, CellErrorCode> exact(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  auto a = arg_text(args, 0, ctx);
  auto b = arg_text(args, 1, ctx);
  if (!a.has_value()) return unexpected(a.error());
  if (!b.has_value()) return unexpected(b.error());
  return CellValue::boolean(*a == *b);
}

Result<CellValue, CellErrorCode> code(Args args, EvalContext& ctx) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  if (text.empty()) return unexpected(CellErrorCode::Value);
  size_t at = 0;
  return CellValue::number(static_cast<double>(unicode::decode_utf8(text, at)));
}

Result<CellValue, CellErrorCode> char_of_code(Args args, EvalContext& ctx) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(int64_t code_point, arg_truncated(args, 0, ctx));
  if (code_point < 1 || code_point > 255) return unexpected(CellErrorCode::Value);
  std::string out;
  unicode::append_utf8(out, static_cast<char32_t>(code_point));
  return text_result(out, ctx);
}

}  // namespace

void fn_len(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto text = arg_text(args, 0, ctx);
  out = text.has_value() ? CellValue::number(static_cast<double>(char_count(*text)))
                         : CellValue::error(text.error());
}

void fn_left(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(left_right(args, ctx, /*from_left=*/true));
}

void fn_right(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(left_right(args, ctx, /*from_left=*/false));
}

void fn_mid(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(mid(args, ctx)); }

void fn_find(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(find_search(args, ctx, /*case_sensitive=*/true));
}

void fn_search(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(find_search(args, ctx, /*case_sensitive=*/false));
}

void fn_textbefore(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(text_before_after(args, ctx, /*before=*/true));
}

void fn_textafter(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(text_before_after(args, ctx, /*before=*/false));
}

void fn_exact(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(exact(args, ctx));
}

void fn_code(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(code(args, ctx)); }

void fn_char(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(char_of_code(args, ctx));
}

void fn_t(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  CellValue v = eval_scalar(*args[0], ctx);
  out = v.is_text() || v.is_error() ? std::move(v) : CellValue::text("");
}

}  // namespace cmx::formula
