// The dispatch table: one entry per built-in id, and the six answers the
// dispatcher gives itself.
#include "functions/dispatch.h"

#include <array>
#include <cmath>

#include "functions/handlers.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

constexpr std::array<BuiltinHandler, kBuiltinCount> make_table() {
  std::array<BuiltinHandler, kBuiltinCount> table{};
  table[static_cast<BuiltinId>(Builtin::Sum)] = fn_sum;
  table[static_cast<BuiltinId>(Builtin::If)] = fn_if;
  // Text functions.
  table[static_cast<BuiltinId>(Builtin::Len)] = fn_len;
  table[static_cast<BuiltinId>(Builtin::Left)] = fn_left;
  table[static_cast<BuiltinId>(Builtin::Right)] = fn_right;
  table[static_cast<BuiltinId>(Builtin::Mid)] = fn_mid;
  table[static_cast<BuiltinId>(Builtin::Find)] = fn_find;
  table[static_cast<BuiltinId>(Builtin::Search)] = fn_search;
  table[static_cast<BuiltinId>(Builtin::TextBefore)] = fn_textbefore;
  table[static_cast<BuiltinId>(Builtin::TextAfter)] = fn_textafter;
  table[static_cast<BuiltinId>(Builtin::Exact)] = fn_exact;
  table[static_cast<BuiltinId>(Builtin::Code)] = fn_code;
  table[static_cast<BuiltinId>(Builtin::Char)] = fn_char;
  table[static_cast<BuiltinId>(Builtin::T)] = fn_t;
  table[static_cast<BuiltinId>(Builtin::Substitute)] = fn_substitute;
  table[static_cast<BuiltinId>(Builtin::Replace)] = fn_replace;
  table[static_cast<BuiltinId>(Builtin::Rept)] = fn_rept;
  table[static_cast<BuiltinId>(Builtin::Concatenate)] = fn_concatenate;
  table[static_cast<BuiltinId>(Builtin::TextJoin)] = fn_textjoin;
  table[static_cast<BuiltinId>(Builtin::Trim)] = fn_trim;
  table[static_cast<BuiltinId>(Builtin::Clean)] = fn_clean;
  table[static_cast<BuiltinId>(Builtin::Proper)] = fn_proper;
  table[static_cast<BuiltinId>(Builtin::Upper)] = fn_upper;
  table[static_cast<BuiltinId>(Builtin::Lower)] = fn_lower;
  table[static_cast<BuiltinId>(Builtin::Value)] = fn_value;
  table[static_cast<BuiltinId>(Builtin::NumberValue)] = fn_numbervalue;
  table[static_cast<BuiltinId>(Builtin::Text)] = fn_text;
  return table;
}

constexpr std::array<BuiltinHandler, kBuiltinCount> kHandlers = make_table();

bool is_inline(Builtin b) {
  switch (b) {
    case Builtin::Pi:
    case Builtin::True:
    case Builtin::False:
    case Builtin::Na:
    case Builtin::Today:
    case Builtin::Now:
      return true;
    default:
      return false;
  }
}

CellValue now_answer(const EvalContext& ctx, bool whole_day) {
  if (!ctx.now_serial) return CellValue::error(CellErrorCode::Value);
  double now = *ctx.now_serial;
  if (!std::isfinite(now)) return CellValue::error(CellErrorCode::Num);
  return CellValue::number(whole_day ? std::floor(now) : now);
}

}  // namespace

bool builtin_available(BuiltinId id) {
  return id < kBuiltinCount && (is_inline(static_cast<Builtin>(id)) || kHandlers[id] != nullptr);
}

void call_builtin(CellValue& out, BuiltinId id, Args args, EvalContext& ctx) {
  const auto builtin = static_cast<Builtin>(id);
  if (is_inline(builtin)) {
    // Decided before anything is evaluated: arguments are never looked at.
    if (!args.empty()) {
      out = CellValue::error(CellErrorCode::Value);
      return;
    }
    switch (builtin) {
      case Builtin::Pi:
        out = CellValue::number(3.141592653589793);
        return;
      case Builtin::True:
        out = CellValue::boolean(true);
        return;
      case Builtin::False:
        out = CellValue::boolean(false);
        return;
      case Builtin::Na:
        out = CellValue::error(CellErrorCode::NA);
        return;
      case Builtin::Today:
        out = now_answer(ctx, /*whole_day=*/true);
        return;
      default:
        out = now_answer(ctx, /*whole_day=*/false);
        return;
    }
  }
  BuiltinHandler handler = kHandlers[id];
  if (handler == nullptr) {
    count_unknown_call(ctx);
    out = CellValue::error(CellErrorCode::Name);
    return;
  }
  handler(out, args, ctx);
}

}  // namespace cmx::formula
