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
