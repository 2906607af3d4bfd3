// Names in formulas: LET and lambda bindings on the context's scope list,
// and defined names resolved through the workbook view, evaluated on their
// own sheet, guarded against self-reference and runaway nesting, and
// remembered for the rest of the formula.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// The innermost binding of `name` (ASCII case-insensitive); never for a
// sheet-qualified name.
std::optional<ScopeBinding> find_scope_binding(bool qualified, std::string_view name,
                                               const std::vector<ScopeBinding>& scopes);
// Appends a binding; false (and the binding dropped) when kMaxScopeBindings are live.
bool push_binding(std::vector<ScopeBinding>& scopes, ScopeBinding binding);

struct ResolvedName {
  NameKey key;
  ExprPtr formula;
  uint32_t sheet = 0;  // where the formula is evaluated
};

// "#NAME?" for a name being evaluated already or not defined or not parsing,
// "#NUM!" at kMaxNameDepth names deep or when the cell budget refuses.
Result<ResolvedName, model::CellErrorCode> resolve_defined_name(NameKey key,
                                                                std::string_view name,
                                                                EvalContext& ctx);

model::CellValue eval_name_value(const node::Name& name, EvalContext& ctx);
std::optional<SheetRange> eval_name_reference(const node::Name& name, EvalContext& ctx);

}  // namespace cmx::formula
