// The structured export driver over models built here: the sizes behind its
// budgets, where each budget stops and what the stop says, formula results
// after a calculation, and Markdown under its byte limit.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/export.h"
#include "json/writer.h"

namespace cmx::exports {
namespace {

using json::XlsxExportOptions;

struct Fixture {
  model::WorkbookModel model;
  std::vector<std::string> keys;
  session::SheetSourceTable sources;
  formula::RecalcResult calculation;
  session::Guarded<session::ExportTextCache> cache;

  // Sheets made in the session are known to be visible.
  void add_sheet(std::string name) {
    model.sheets.push_back(model::SheetModel{.name = std::move(name)});
    keys.push_back("sheet:" + std::to_string(keys.size()));
    sources.origins.push_back({});
    sources.source_maps.emplace_back();
    sources.move_maps.emplace_back();
    sources.added.push_back(1);
  }
  void put(size_t sheet, uint32_t row, uint32_t col, model::CellValue value, const char* formula = nullptr) {
    model::SheetCell cell{std::move(value), std::nullopt, std::nullopt};
    if (formula != nullptr) cell.formula = SharedString(formula);
    model.sheets[sheet].cells[model::CellKey{row, col}] = std::move(cell);
  }
  ExportSource source() {
    return ExportSource{keys, &model, nullptr, &sources, &calculation, false, &cache};
  }
  json::XlsxStructuredContent run(const XlsxExportOptions& options) {
    auto content = build_structured_content(source(), options, json::XlsxAnchorScope::Session);
    EXPECT_TRUE(content.has_value());
    return content ? content.value() : json::XlsxStructuredContent{};
  }
};

TEST(ExportDriver, EmptyDocumentAndReserveDecideTheSmallestBudget) {
  Fixture f;
  f.add_sheet("S");
  json::XlsxStructuredContent empty;
  empty.anchor_scope = json::XlsxAnchorScope::Session;
  EXPECT_EQ(json::count_structured_content_bytes(empty), 304u);
  // A long sheet key raises the reserve above what 1,024 bytes hold.
  f.keys[0] = std::string(500, '"');
  XlsxExportOptions options;
  options.max_bytes = 1024;
  auto refused = build_structured_content(f.source(), options, json::XlsxAnchorScope::Session);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().code, json::ExportRefusalCode::LimitExceeded);
  const std::string& message = refused.error().message;
  ASSERT_TRUE(message.starts_with("maxBytes must be at least ") && message.ends_with(" for this workbook"));
  const uint32_t least = static_cast<uint32_t>(std::stoul(message.substr(26)));
  options.max_bytes = least - 1;
  EXPECT_FALSE(build_structured_content(f.source(), options, json::XlsxAnchorScope::Session).has_value());
  options.max_bytes = least;
  const json::XlsxStructuredContent content = f.run(options);
  EXPECT_TRUE(content.truncated);
  EXPECT_LE(json::structured_content_to_json(content).size(), least);
}

TEST(ExportDriver, EveryBudgetStopsWithinItsLimit) {
  Fixture f;
  f.add_sheet("Big");
  f.add_sheet("Later");
  for (uint32_t r = 0; r < 300; ++r) {
    for (uint32_t c = 0; c < 40; ++c) f.put(0, r, c, model::CellValue::number(r * 40.0 + c));
  }
  f.put(1, 0, 0, model::CellValue::text("later"));
  struct Case {
    std::optional<uint32_t> max_cells;
    uint32_t max_bytes;
    std::string limit;
  };
  const Case cases[] = {
      {2, 16777216, "maxCells"}, {std::nullopt, 4096, "maxBytes"}, {std::nullopt, 200000, "maxBytes"}};
  for (const Case& c : cases) {
    XlsxExportOptions options;
    options.max_cells = c.max_cells;
    options.max_bytes = c.max_bytes;
    const json::XlsxStructuredContent content = f.run(options);
    const std::string text = json::structured_content_to_json(content);
    EXPECT_LE(text.size(), c.max_bytes);
    ASSERT_TRUE(content.truncated);
    ASSERT_EQ(content.sheets.size(), 1u);
    EXPECT_TRUE(content.sheets[0].truncated);
    const json::XlsxExportDiagnostic& last = content.diagnostics.back();
    EXPECT_EQ(last.code, json::XlsxDiagnosticCode::Truncated);
    const std::string& after = content.sheets[0].cells.back().id.substr(3);
    EXPECT_EQ(last.message, "Export stopped at the " + c.limit + " limit after cell " + after +
                                "; nothing after that point, including later sheets, is covered.");
  }
}

TEST(ExportDriver, NamesOverTheBudgetStopBeforeTheFirstSheet) {
  Fixture f;
  f.add_sheet("S");
  for (int i = 0; i < 100; ++i) f.model.defined_names.push_back({"N" + std::to_string(i), "S!$A$1", {}, false});
  f.model.defined_names[0].hidden = true;
  XlsxExportOptions options;
  options.max_bytes = 2048;
  const json::XlsxStructuredContent content = f.run(options);
  EXPECT_TRUE(content.sheets.empty());
  ASSERT_FALSE(content.defined_names.empty());
  EXPECT_EQ(content.defined_names[0].id, "n1");
  EXPECT_EQ(content.diagnostics.back().message,
            "Export stopped at the maxBytes limit before the first sheet; nothing after that point, including later "
            "sheets, is covered.");
  EXPECT_FALSE(content.diagnostics.back().anchor.has_value());
}

TEST(ExportDriver, CellRecordsCarryResultsMergesAndDiagnosticsOncePerSheet) {
  Fixture f;
  f.add_sheet("S");
  f.put(0, 0, 0, model::CellValue::number(1), "A1+1");
  f.put(0, 0, 1, model::CellValue::number(std::numeric_limits<double>::infinity()));
  f.put(0, 1, 0, model::CellValue(), "B9");
  f.put(0, 1, 1, model::CellValue::number(2), "1+1");
  f.model.sheets[0].merges.push_back(model::CellRange{{0, 0}, {1, 0}});
  f.calculation.cycles.push_back(model::CellAddress{0, model::CellRef{0, 0}});
  const json::XlsxStructuredContent content = f.run({});
  const auto& cells = content.sheets[0].cells;
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[0].formula_result, json::XlsxFormulaResult::Cycle);
  EXPECT_EQ(cells[1].value, json::XlsxExportValue(json::XlsxValueUnavailable{"non-finite number"}));
  EXPECT_EQ(cells[2].formula_result, json::XlsxFormulaResult::Uncertain);
  EXPECT_EQ(cells[3].formula_result, json::XlsxFormulaResult::Unverified);
  EXPECT_EQ(cells[0].merge, (json::XlsxCellMerge{"A1:A2", true}));
  EXPECT_EQ(cells[2].merge, (json::XlsxCellMerge{"A1:A2", false}));
  std::vector<json::XlsxDiagnosticCode> codes;
  for (const auto& d : content.diagnostics) codes.push_back(d.code);
  using C = json::XlsxDiagnosticCode;
  EXPECT_EQ(codes, (std::vector<C>{C::FormulaCacheUnverified, C::CalculationFailure, C::ValueUnavailable,
                                   C::FormulaResultMissing}));
}

TEST(ExportDriver, ScopeOrdersSheetsAndClipsRecords) {
  Fixture f;
  f.add_sheet("A");
  f.add_sheet("B");
  f.put(0, 4, 4, model::CellValue::text("x"));
  f.put(1, 0, 0, model::CellValue::text("y"));
  f.model.sheets[0].hyperlinks.push_back({model::CellRange{{3, 3}, {5, 5}}, "https://x", {}, {}, {}});
  XlsxExportOptions options;
  options.scope = std::vector<json::XlsxExportScope>{{1, {}}, {0, "D4:E5"}};
  const json::XlsxStructuredContent content = f.run(options);
  ASSERT_EQ(content.sheets.size(), 2u);
  EXPECT_EQ(content.sheets[0].selected_range, "D4:E5");
  EXPECT_EQ(content.sheets[0].used_range, "D4:F6");
  ASSERT_EQ(content.sheets[0].hyperlinks.size(), 1u);
  EXPECT_TRUE(content.sheets[0].hyperlinks[0].clipped);
  EXPECT_EQ(content.sheets[1].id, "s1");
}

TEST(MarkdownRender, StaysUnderItsByteLimit) {
  Fixture f;
  f.add_sheet("Wide");
  for (uint32_t r = 0; r < 100; ++r) {
    for (uint32_t c = 0; c < 20; ++c) f.put(0, r, c, model::CellValue::text("text with | pipes"));
  }
  const json::XlsxStructuredContent content = f.run({});
  json::XlsxMarkdownOptions options;
  options.max_bytes = 4096;
  auto rendered = render_markdown(content, options);
  ASSERT_TRUE(rendered.has_value());
  EXPECT_LE(rendered->markdown.size(), 4096u);
  EXPECT_TRUE(rendered->truncated);
  EXPECT_TRUE(rendered->markdown.ends_with("\n_Markdown stopped at its maxBytes limit._\n"));
  EXPECT_EQ(rendered->diagnostics.back().code, json::XlsxDiagnosticCode::Truncated);
}

}  // namespace
}  // namespace cmx::exports
