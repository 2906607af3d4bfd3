#include "ops/names_links_charts.h"

#include "formula/parser.h"
#include "formula/printer.h"
#include "ops/formula_rewrite.h"
#include "ops/sheet_qualifiers.h"

namespace cmx::ops {

std::string_view unwrap_chart_ref(std::string_view text, bool& wrapped) {
  wrapped = false;
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return text;
  // The first "(" must close only at the very end.
  int depth = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return text;
  }
  wrapped = true;
  return text.substr(1, text.size() - 2);
}

Result<std::optional<SetDefinedNames>, OpsError> remap_defined_names_for_structural_op(
    model::WorkbookModel& model, SheetId sheet, const StructuralShift& shift) {
  if (model.defined_names.empty()) return std::optional<SetDefinedNames>{};
  const ShiftContext context = make_shift_context(model, sheet);
  const NameSet names = defined_name_set(model);
  const bool single_sheet = model.sheets.size() == 1;
  std::vector<model::DefinedName> updated = model.defined_names;
  for (model::DefinedName& name : updated) {
    auto refuse = [&] { return unexpected(OpsError::with_text(OpsErrorKind::DefinedNameNotRewritable, name.name)); };
    const bool scoped_here = name.local_sheet && *name.local_sheet == sheet;
    const ReferenceTest test = [&](const std::optional<std::string>& qualifier) {
      return name_ref_touches_edited_sheet(qualifier, context, scoped_here, single_sheet);
    };
    const bool no_home_sheet = !name.local_sheet && !single_sheet;
    if (has_unresolvable_span_on_sheet(name.formula, context)) return refuse();
    RemapResult result = remap_formula_text(name.formula, shift, test, no_home_sheet, names);
    switch (result.verdict) {
      case RemapVerdict::Unchanged:
        break;
      case RemapVerdict::Rewritten:
        if (result.text.size() > kMaxRewrittenFormula) return refuse();
        name.formula = std::move(result.text);
        break;
      case RemapVerdict::Ambiguous:
      case RemapVerdict::ReparseFailed:
        return refuse();
      case RemapVerdict::Unsafe:
        if (scoped_here || mentions_sheet(name.formula, context)) return refuse();
        break;
    }
  }
  if (updated == model.defined_names) return std::optional<SetDefinedNames>{};
  SetDefinedNames restore{std::exchange(model.defined_names, std::move(updated))};
  return std::optional<SetDefinedNames>{std::move(restore)};
}

std::vector<SetHyperlinks> remap_hyperlinks_for_structural_op(model::WorkbookModel& model, SheetId sheet,
                                                              const StructuralShift& shift) {
  const ShiftContext context = make_shift_context(model, sheet);
  std::vector<SetHyperlinks> restores;
  std::vector<std::vector<model::SheetHyperlink>> updated;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    const ReferenceTest test = [&context, s](const std::optional<std::string>& qualifier) {
      return sheet_ref_touches_edited_sheet(qualifier, s, context);
    };
    std::vector<model::SheetHyperlink> links = model.sheets[s].hyperlinks;
    bool any = false;
    for (model::SheetHyperlink& link : links) {
      if (!link.location) continue;
      std::string_view location = *link.location;
      const bool hash = location.starts_with('#');
      if (hash) location.remove_prefix(1);
      // A location such as Sheet1!A1#frag parses once its tail is cut off.
      std::string_view head = location;
      std::string_view tail;
      auto parsed = formula::parse_formula(head);
      while (!parsed) {
        const size_t cut = head.rfind('#');
        if (cut == std::string_view::npos) break;
        head = location.substr(0, cut);
        tail = location.substr(cut);
        parsed = formula::parse_formula(head);
      }
      if (!parsed) continue;
      bool changed = false;
      formula::ExprPtr shifted = shift_expr_refs(*parsed, shift, test, changed);
      if (!changed) continue;
      std::string text = formula::expr_to_formula(*shifted);
      text += tail;
      if (hash && !text.starts_with('#')) text.insert(0, "#");
      link.location = std::move(text);
      any = true;
    }
    if (any) {
      restores.push_back(SetHyperlinks{s, model.sheets[s].hyperlinks});
      updated.push_back(std::move(links));
    }
  }
  for (size_t i = 0; i < restores.size(); ++i) model.sheets[restores[i].sheet].hyperlinks = std::move(updated[i]);
  return restores;
}

Result<std::vector<SetCharts>, OpsError> remap_charts_for_structural_op(model::WorkbookModel& model,
                                                                        SheetId sheet,
                                                                        const StructuralShift& shift) {
  const ShiftContext context = make_shift_context(model, sheet);
  const NameSet names = defined_name_set(model);
  std::vector<SetCharts> restores;
  std::vector<std::vector<model::SheetChart>> updated;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    if (model.sheets[s].charts.empty()) continue;
    const ReferenceTest test = [&context, s](const std::optional<std::string>& qualifier) {
      return sheet_ref_touches_edited_sheet(qualifier, s, context);
    };
    std::vector<model::SheetChart> charts = model.sheets[s].charts;
    for (model::SheetChart& chart : charts) {
      auto refuse = [&](OpsErrorKind kind) { return unexpected(OpsError::with_text(kind, chart.part)); };
      for (model::ChartReference& ref : chart.refs) {
        const std::string_view text = trim_white_space(ref.formula);
        if (text.empty()) continue;
        if (has_unresolvable_span_on_sheet(text, context)) return refuse(OpsErrorKind::ChartRefNotRewritable);
        bool wrapped = false;
        const std::string_view inner = unwrap_chart_ref(text, wrapped);
        RemapResult result = remap_formula_text(inner, shift, test, false, names);
        if (result.verdict == RemapVerdict::Rewritten && wrapped) result.text = "(" + result.text + ")";
        if (result.verdict == RemapVerdict::Rewritten && result.text.size() <= kMaxRewrittenFormula) {
          ref.formula = std::move(result.text);
          continue;
        }
        if (result.verdict == RemapVerdict::Unchanged) continue;
        // Refused, or too long: a text that names only other sheets may stay.
        if (mentions_sheet(ref.formula, context)) return refuse(OpsErrorKind::ChartRefNotRewritable);
        if (s == sheet && ref.formula.find('!') == std::string::npos) {
          return refuse(OpsErrorKind::ChartRefNotRewritable);
        }
      }
      if (s == sheet) {
        AnchorShift moved = shift_anchor_for_structural_op(chart.anchor, shift);
        if (moved.verdict == AnchorVerdict::LeavesGrid) return refuse(OpsErrorKind::ChartAnchorNotMovable);
        if (moved.verdict == AnchorVerdict::Moved) chart.anchor = moved.anchor;
      }
    }
    if (charts != model.sheets[s].charts) {
      restores.push_back(SetCharts{s, model.sheets[s].charts});
      updated.push_back(std::move(charts));
    }
  }
  for (size_t i = 0; i < restores.size(); ++i) model.sheets[restores[i].sheet].charts = std::move(updated[i]);
  return restores;
}

std::optional<SetDefinedNames> rename_sheet_in_defined_names(model::WorkbookModel& model,
                                                             std::string_view old_name, std::string_view new_name) {
  if (old_name == new_name) return std::nullopt;
  std::vector<model::DefinedName> updated = model.defined_names;
  for (model::DefinedName& name : updated) {
    name.formula = rename_sheet_in_formula_text(name.formula, old_name, new_name).text;
  }
  if (updated == model.defined_names) return std::nullopt;
  return SetDefinedNames{std::exchange(model.defined_names, std::move(updated))};
}

std::vector<SetCharts> rename_sheet_in_chart_refs(model::WorkbookModel& model, std::string_view old_name,
                                                  std::string_view new_name) {
  std::vector<SetCharts> restores;
  if (old_name == new_name) return restores;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    std::vector<model::SheetChart> charts = model.sheets[s].charts;
    for (model::SheetChart& chart : charts) {
      for (model::ChartReference& ref : chart.refs) {
        ref.formula = rename_sheet_in_formula_text(ref.formula, old_name, new_name).text;
      }
    }
    if (charts != model.sheets[s].charts) {
      restores.push_back(SetCharts{s, std::exchange(model.sheets[s].charts, std::move(charts))});
    }
  }
  return restores;
}

}  // namespace cmx::ops
