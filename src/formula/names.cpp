// Scope bindings and defined names.
#include "formula/names.h"

#include <utility>

#include "base/unicode.h"
#include "formula/parse_cache.h"
#include "formula/parser.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// Pops the name key pushed for one nested evaluation on every path. While
// it lives the LET and lambda bindings of the formula are out of sight: a
// defined name means the same wherever it is used, and its value is
// remembered for the rest of the formula.
class NameStackEntry {
 public:
  NameStackEntry(EvalContext& ctx, NameKey key)
      : ctx_(ctx), hidden_(std::exchange(ctx.shared->scopes, {})) {
    ctx_.shared->name_stack.push_back(std::move(key));
  }
  ~NameStackEntry() {
    ctx_.shared->name_stack.pop_back();
    ctx_.shared->scopes = std::move(hidden_);
  }
  NameStackEntry(const NameStackEntry&) = delete;
  NameStackEntry& operator=(const NameStackEntry&) = delete;

 private:
  EvalContext& ctx_;
  std::vector<ScopeBinding> hidden_;
};

std::optional<NameKey> name_key(const node::Name& name, const EvalContext& ctx) {
  uint32_t sheet = ctx.sheet;
  if (name.scope) {
    std::optional<uint32_t> found = ctx.source->sheet_index(*name.scope);
    if (!found) return std::nullopt;
    sheet = *found;
  }
  return NameKey{sheet, unicode::to_lower(name.name)};
}

CellValue binding_value(const ScopeBinding& binding, EvalContext& ctx) {
  const EvalResult& bound = *binding.value;
  if (bound.is_scalar()) return charged_copy(bound.as_scalar(), ctx);
  if (bound.is_array()) {
    const ArrayValue& array = bound.as_array();
    if (array.rows == 0 || array.cols == 0 || array.values.empty()) {
      return CellValue::error(CellErrorCode::NA);
    }
    return charged_copy(array.values.front(), ctx);
  }
  return CellValue::error(CellErrorCode::Value);  // a lambda is no value
}

}  // namespace

std::optional<ScopeBinding> find_scope_binding(bool qualified, std::string_view name,
                                               const std::vector<ScopeBinding>& scopes) {
  if (qualified) return std::nullopt;
  for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) {
    if (model::eq_ignore_ascii_case(it->name, name)) return *it;
  }
  return std::nullopt;
}

bool push_binding(std::vector<ScopeBinding>& scopes, ScopeBinding binding) {
  if (scopes.size() >= kMaxScopeBindings) return false;
  scopes.push_back(std::move(binding));
  return true;
}

Result<ResolvedName, CellErrorCode> resolve_defined_name(NameKey key, std::string_view name,
                                                         EvalContext& ctx) {
  const auto& stack = ctx.shared->name_stack;
  for (const NameKey& open : stack) {
    if (open == key) return unexpected(CellErrorCode::Name);
  }
  if (stack.size() >= kMaxNameDepth) return unexpected(CellErrorCode::Num);
  if (!charge_cells(ctx, 1)) return unexpected(CellErrorCode::Num);
  const model::DefinedName* defined = ctx.source->defined_name(key.sheet, name);
  if (defined == nullptr) return unexpected(CellErrorCode::Name);
  std::string_view text = defined->formula;
  if (!text.empty() && text.front() == '=') text.remove_prefix(1);
  ExprPtr formula;
  if (ctx.parse_cache != nullptr) {
    std::optional<ExprPtr> cached = ctx.parse_cache->parse_cached(text);
    if (!cached) return unexpected(CellErrorCode::Name);
    formula = std::move(*cached);
  } else {
    auto parsed = parse_formula(text);
    if (!parsed.has_value()) return unexpected(CellErrorCode::Name);
    formula = std::move(parsed).value();
  }
  uint32_t sheet = defined->local_sheet ? *defined->local_sheet : key.sheet;
  return ResolvedName{std::move(key), std::move(formula), sheet};
}

CellValue eval_name_value(const node::Name& name, EvalContext& ctx) {
  if (auto binding = find_scope_binding(name.scope.has_value(), name.name, ctx.shared->scopes)) {
    return binding_value(*binding, ctx);
  }
  std::optional<NameKey> key = name_key(name, ctx);
  if (!key) return CellValue::error(CellErrorCode::Ref);
  {
    auto& cache = ctx.shared->name_values;
    auto it = cache.find(*key);
    if (it != cache.end()) {
      if (it->second.met_unknown_call) count_unknown_call(ctx);
      return it->second.value;
    }
  }
  auto resolved = resolve_defined_name(*key, name.name, ctx);
  if (!resolved.has_value()) return CellValue::error(resolved.error());
  const uint64_t unknown_before = ctx.shared->unknown_calls;
  CellValue value;
  {
    NameStackEntry entry(ctx, resolved->key);
    EvalContext inner = clone_for_sheet(ctx, resolved->sheet);
    value = eval_scalar(*resolved->formula, inner);
  }
  const bool met_unknown = ctx.shared->unknown_calls != unknown_before;
  ctx.shared->name_values.try_emplace(std::move(resolved->key), NameValue{value, met_unknown});
  return value;
}

std::optional<SheetRange> eval_name_reference(const node::Name& name, EvalContext& ctx) {
  if (auto binding = find_scope_binding(name.scope.has_value(), name.name, ctx.shared->scopes)) {
    if (!binding->reference) return std::nullopt;
    return eval_reference(*binding->reference, ctx);
  }
  std::optional<NameKey> key = name_key(name, ctx);
  if (!key) return std::nullopt;
  auto resolved = resolve_defined_name(*key, name.name, ctx);
  if (!resolved.has_value()) return std::nullopt;
  NameStackEntry entry(ctx, resolved->key);
  EvalContext inner = clone_for_sheet(ctx, resolved->sheet);
  return eval_reference(*resolved->formula, inner);
}

}  // namespace cmx::formula
