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
  // Rounding, elementary, unit conversion, random, logical and information.
  table[static_cast<BuiltinId>(Builtin::Round)] = fn_round;
  table[static_cast<BuiltinId>(Builtin::RoundUp)] = fn_roundup;
  table[static_cast<BuiltinId>(Builtin::RoundDown)] = fn_rounddown;
  table[static_cast<BuiltinId>(Builtin::Trunc)] = fn_rounddown;
  table[static_cast<BuiltinId>(Builtin::MRound)] = fn_mround;
  table[static_cast<BuiltinId>(Builtin::Int)] = fn_int;
  table[static_cast<BuiltinId>(Builtin::Ceiling)] = fn_ceiling;
  table[static_cast<BuiltinId>(Builtin::Floor)] = fn_floor;
  table[static_cast<BuiltinId>(Builtin::Mod)] = fn_mod;
  table[static_cast<BuiltinId>(Builtin::Quotient)] = fn_quotient;
  table[static_cast<BuiltinId>(Builtin::Sign)] = fn_sign;
  table[static_cast<BuiltinId>(Builtin::Abs)] = fn_abs;
  table[static_cast<BuiltinId>(Builtin::Power)] = fn_power;
  table[static_cast<BuiltinId>(Builtin::Sqrt)] = fn_sqrt;
  table[static_cast<BuiltinId>(Builtin::Exp)] = fn_exp;
  table[static_cast<BuiltinId>(Builtin::Ln)] = fn_ln;
  table[static_cast<BuiltinId>(Builtin::Log)] = fn_log;
  table[static_cast<BuiltinId>(Builtin::Log10)] = fn_log10;
  table[static_cast<BuiltinId>(Builtin::Sin)] = fn_sin;
  table[static_cast<BuiltinId>(Builtin::Cos)] = fn_cos;
  table[static_cast<BuiltinId>(Builtin::Tan)] = fn_tan;
  table[static_cast<BuiltinId>(Builtin::Asin)] = fn_asin;
  table[static_cast<BuiltinId>(Builtin::Acos)] = fn_acos;
  table[static_cast<BuiltinId>(Builtin::Atan)] = fn_atan;
  table[static_cast<BuiltinId>(Builtin::Atan2)] = fn_atan2;
  table[static_cast<BuiltinId>(Builtin::Sinh)] = fn_sinh;
  table[static_cast<BuiltinId>(Builtin::Cosh)] = fn_cosh;
  table[static_cast<BuiltinId>(Builtin::Tanh)] = fn_tanh;
  table[static_cast<BuiltinId>(Builtin::Degrees)] = fn_degrees;
  table[static_cast<BuiltinId>(Builtin::Radians)] = fn_radians;
  table[static_cast<BuiltinId>(Builtin::Convert)] = fn_convert;
  table[static_cast<BuiltinId>(Builtin::RandBetween)] = fn_randbetween;
  table[static_cast<BuiltinId>(Builtin::IfError)] = fn_iferror;
  table[static_cast<BuiltinId>(Builtin::IfNa)] = fn_ifna;
  table[static_cast<BuiltinId>(Builtin::Ifs)] = fn_ifs;
  table[static_cast<BuiltinId>(Builtin::Switch)] = fn_switch;
  table[static_cast<BuiltinId>(Builtin::And)] = fn_and;
  table[static_cast<BuiltinId>(Builtin::Or)] = fn_or;
  table[static_cast<BuiltinId>(Builtin::Xor)] = fn_xor;
  table[static_cast<BuiltinId>(Builtin::Not)] = fn_not;
  table[static_cast<BuiltinId>(Builtin::IsBlank)] = fn_isblank;
  table[static_cast<BuiltinId>(Builtin::IsNumber)] = fn_isnumber;
  table[static_cast<BuiltinId>(Builtin::IsText)] = fn_istext;
  table[static_cast<BuiltinId>(Builtin::IsLogical)] = fn_islogical;
  table[static_cast<BuiltinId>(Builtin::IsError)] = fn_iserror;
  table[static_cast<BuiltinId>(Builtin::IsErr)] = fn_iserr;
  table[static_cast<BuiltinId>(Builtin::IsNa)] = fn_isna;
  table[static_cast<BuiltinId>(Builtin::IsEven)] = fn_iseven;
  table[static_cast<BuiltinId>(Builtin::IsOdd)] = fn_isodd;
  table[static_cast<BuiltinId>(Builtin::N)] = fn_n;
  // Lookup and reference functions.
  table[static_cast<BuiltinId>(Builtin::VLookup)] = fn_vlookup;
  table[static_cast<BuiltinId>(Builtin::HLookup)] = fn_hlookup;
  table[static_cast<BuiltinId>(Builtin::Match)] = fn_match;
  table[static_cast<BuiltinId>(Builtin::XMatch)] = fn_xmatch;
  table[static_cast<BuiltinId>(Builtin::XLookup)] = fn_xlookup;
  table[static_cast<BuiltinId>(Builtin::Lookup)] = fn_lookup;
  table[static_cast<BuiltinId>(Builtin::Index)] = fn_index;
  table[static_cast<BuiltinId>(Builtin::Offset)] = fn_offset;
  table[static_cast<BuiltinId>(Builtin::Indirect)] = fn_indirect;
  table[static_cast<BuiltinId>(Builtin::Row)] = fn_row;
  table[static_cast<BuiltinId>(Builtin::Column)] = fn_column;
  table[static_cast<BuiltinId>(Builtin::Rows)] = fn_rows;
  table[static_cast<BuiltinId>(Builtin::Columns)] = fn_columns;
  table[static_cast<BuiltinId>(Builtin::Choose)] = fn_choose;
  table[static_cast<BuiltinId>(Builtin::Address)] = fn_address;
  table[static_cast<BuiltinId>(Builtin::FormulaText)] = fn_formulatext;
  table[static_cast<BuiltinId>(Builtin::Hyperlink)] = fn_hyperlink;
  table[static_cast<BuiltinId>(Builtin::Transpose)] = fn_transpose;
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
