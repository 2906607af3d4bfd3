// The logical family. IF, IFERROR, IFNA, IFS and SWITCH evaluate only what
// decides their result, so an untaken branch costs nothing and its errors
// never appear; AND, OR and XOR read every argument. TRUE and FALSE are
// answered by the dispatcher.
#include <algorithm>
#include <optional>

#include "formula/value_coercion.h"
#include "functions/handlers.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

struct TruthCount {
  uint64_t counted = 0;
  uint64_t true_count = 0;
};

// A Number or Bool counts; an Error ends the walk; Text and Empty are
// passed over, even the text TRUE.
std::optional<CellErrorCode> count_truth(const CellValue& v, TruthCount& count) {
  switch (v.kind()) {
    case CellValue::Kind::Number:
      ++count.counted;
      if (v.as_number() != 0) ++count.true_count;
      return std::nullopt;
    case CellValue::Kind::Bool:
      ++count.counted;
      if (v.as_bool()) ++count.true_count;
      return std::nullopt;
    case CellValue::Kind::Error:
      return v.as_error();
    case CellValue::Kind::Text:
    case CellValue::Kind::Empty:
      return std::nullopt;
  }
  return std::nullopt;
}

enum class Fold { All, Any, Odd };

// The walk AND, OR and XOR share: references give their cells (whole rows
// and columns cut to the used part), anything else its one value. No short
// cut, so a later error still wins.
void fold_truth(CellValue& out, Args args, EvalContext& ctx, Fold fold) {
  if (args.empty()) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  TruthCount count;
  for (const ExprPtr& arg : args) {
    std::optional<CellErrorCode> failure;
    if (std::optional<SheetRange> range = eval_reference(*arg, ctx)) {
      auto cells = read_range_values(clip_to_used(*range, ctx), ctx);
      if (!cells.has_value()) {
        out = CellValue::error(cells.error());
        return;
      }
      for (const CellValue* cell : *cells) {
        if ((failure = count_truth(*cell, count))) break;
      }
    } else {
      failure = count_truth(eval_scalar(*arg, ctx), count);
    }
    if (failure) {
      out = CellValue::error(*failure);
      return;
    }
  }
  if (count.counted == 0) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  bool result = false;
  switch (fold) {
    case Fold::All:
      result = count.true_count == count.counted;
      break;
    case Fold::Any:
      result = count.true_count > 0;
      break;
    case Fold::Odd:
      result = count.true_count % 2 == 1;
      break;
  }
  out = CellValue::boolean(result);
}

}  // namespace

void fn_if(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto condition = value_to_bool(eval_scalar(*args[0], ctx));
  if (!condition.has_value()) {
    out = CellValue::error(condition.error());
  } else if (*condition) {
    out = eval_scalar(*args[1], ctx);
  } else if (args.size() == 3) {
    out = eval_scalar(*args[2], ctx);
  } else {
    out = CellValue::boolean(false);
  }
}

// A budget exhaustion or an unknown function met only inside a failing
// first argument no longer counts against the cell; the limited flag stays.
void fn_iferror(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  EvalShared& shared = *ctx.shared;
  const uint64_t limit_hits = shared.limit_hits;
  const uint64_t unknown_calls = shared.unknown_calls;
  out = eval_scalar(*args[0], ctx);
  if (!out.is_error()) return;
  shared.limit_hits = std::min(shared.limit_hits, limit_hits);
  shared.unknown_calls = std::min(shared.unknown_calls, unknown_calls);
  out = eval_scalar(*args[1], ctx);
}

void fn_ifna(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  out = eval_scalar(*args[0], ctx);
  if (out.is_error() && out.as_error() == CellErrorCode::NA) out = eval_scalar(*args[1], ctx);
}

void fn_ifs(CellValue& out, Args args, EvalContext& ctx) {
  if (args.empty() || args.size() % 2 != 0) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  for (size_t i = 0; i < args.size(); i += 2) {
    auto condition = value_to_bool(eval_scalar(*args[i], ctx));
    if (!condition.has_value()) {
      out = CellValue::error(condition.error());
      return;
    }
    if (*condition) {
      out = eval_scalar(*args[i + 1], ctx);
      return;
    }
  }
  out = CellValue::error(CellErrorCode::NA);
}

// SWITCH(expression, case, result, ..., [default]): cases are tried in order
// up to the first equal one; an even count leaves a default at the end.
void fn_switch(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  const CellValue subject = eval_scalar(*args[0], ctx);
  if (subject.is_error()) {
    out = subject;
    return;
  }
  size_t i = 1;
  for (; i + 1 < args.size(); i += 2) {
    CellValue candidate = eval_scalar(*args[i], ctx);
    if (candidate.is_error()) {
      out = std::move(candidate);
      return;
    }
    if (compare_values(subject, candidate) == 0) {
      out = eval_scalar(*args[i + 1], ctx);
      return;
    }
  }
  out = i < args.size() ? eval_scalar(*args[i], ctx) : CellValue::error(CellErrorCode::NA);
}

void fn_and(CellValue& out, Args args, EvalContext& ctx) { fold_truth(out, args, ctx, Fold::All); }

void fn_or(CellValue& out, Args args, EvalContext& ctx) { fold_truth(out, args, ctx, Fold::Any); }

void fn_xor(CellValue& out, Args args, EvalContext& ctx) { fold_truth(out, args, ctx, Fold::Odd); }

void fn_not(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto truth = value_to_bool(eval_scalar(*args[0], ctx));
  out = truth.has_value() ? CellValue::boolean(!*truth) : CellValue::error(truth.error());
}

}  // namespace cmx::formula
