// The information family: what kind of value an expression produces. The
// IS tests never fail and forgive a budget exhaustion inside what they test;
// ISEVEN, ISODD and N pass an error on. NA is answered by the dispatcher.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/saturate.h"
#include "formula/value_coercion.h"
#include "functions/handlers.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// The limited flag stays set, so the cell still knows its evaluation was cut
// short; only the hit count is restored. Unknown calls keep counting.
template <typename Test>
void is_test(CellValue& out, Args args, EvalContext& ctx, Test test) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  EvalShared& shared = *ctx.shared;
  const uint64_t limit_hits = shared.limit_hits;
  const CellValue v = eval_scalar(*args[0], ctx);
  shared.limit_hits = std::min(shared.limit_hits, limit_hits);
  out = CellValue::boolean(test(v));
}

bool is_error_code(const CellValue& v, CellErrorCode code) {
  return v.is_error() && v.as_error() == code;
}

// `odd` is the lowest bit the number must have.
void parity(CellValue& out, Args args, EvalContext& ctx, bool odd) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto number = value_to_number(eval_scalar(*args[0], ctx));
  if (!number.has_value()) {
    out = CellValue::error(number.error());
    return;
  }
  const auto whole = static_cast<uint64_t>(saturate_cast<int64_t>(*number));
  out = CellValue::boolean((whole & 1) == (odd ? 1u : 0u));
}

}  // namespace

void fn_isblank(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return v.is_empty(); });
}

void fn_isnumber(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return v.is_number(); });
}

void fn_istext(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return v.is_text(); });
}

void fn_islogical(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return v.is_bool(); });
}

void fn_iserror(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return v.is_error(); });
}

void fn_iserr(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) {
    return v.is_error() && !is_error_code(v, CellErrorCode::NA);
  });
}

void fn_isna(CellValue& out, Args args, EvalContext& ctx) {
  is_test(out, args, ctx, [](const CellValue& v) { return is_error_code(v, CellErrorCode::NA); });
}

void fn_iseven(CellValue& out, Args args, EvalContext& ctx) {
  parity(out, args, ctx, /*odd=*/false);
}

void fn_isodd(CellValue& out, Args args, EvalContext& ctx) { parity(out, args, ctx, /*odd=*/true); }

// Texts are never read as numbers here.
void fn_n(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  CellValue v = eval_scalar(*args[0], ctx);
  switch (v.kind()) {
    case CellValue::Kind::Number:
      out = std::isfinite(v.as_number()) ? std::move(v) : CellValue::error(CellErrorCode::Num);
      return;
    case CellValue::Kind::Bool:
      out = CellValue::number(v.as_bool() ? 1 : 0);
      return;
    case CellValue::Kind::Error:
      out = std::move(v);
      return;
    case CellValue::Kind::Text:
    case CellValue::Kind::Empty:
      out = CellValue::number(0);
      return;
  }
}

}  // namespace cmx::formula
