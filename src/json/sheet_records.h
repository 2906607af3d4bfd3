// A sheet's hyperlinks and chart frames as the JSON texts the collaborative
// document keeps per sheet. Same list, same bytes: the texts are also hashed.
// The readers enforce the size limits and validity rules of the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/reader.h"
#include "json/writer.h"
#include "model/address.h"
#include "model/workbook.h"

namespace cmx::json {

inline constexpr size_t kMaxSheetHyperlinksTextBytes = 16777216;
inline constexpr size_t kMaxSheetHyperlinks = 65536;
inline constexpr size_t kMaxSheetHyperlinkFieldBytes = 32767;
inline constexpr size_t kMaxSheetChartsTextBytes = 8388608;
inline constexpr size_t kMaxSheetCharts = 4096;
inline constexpr size_t kMaxChartPathBytes = 32767;
inline constexpr size_t kMaxChartReferences = 16384;
inline constexpr size_t kMaxChartFormulaBytes = 32767;

// --- writers (form 1 and form 2) -------------------------------------------------

template <typename Sink>
void serialize_cell_ref(detail::CompactEmitter<Sink>& w, const model::CellRef& cell);
template <typename Sink>
void serialize_sheet_hyperlink_list(detail::CompactEmitter<Sink>& w,
                                    std::span<const model::SheetHyperlink> hyperlinks);
template <typename Sink>
void serialize_chart_reference(detail::CompactEmitter<Sink>& w, const model::ChartReference& ref);
template <typename Sink>
void serialize_sheet_chart(detail::CompactEmitter<Sink>& w, const model::SheetChart& chart);
template <typename Sink>
void serialize_sheet_chart_list(detail::CompactEmitter<Sink>& w, std::span<const model::SheetChart> charts);

std::string sheet_hyperlinks_to_json(std::span<const model::SheetHyperlink> hyperlinks);
std::string sheet_charts_to_json(std::span<const model::SheetChart> charts);

// --- readers -----------------------------------------------------------------------

// Object {"row","col"[,"abs_row"][,"abs_col"]} or array [row, col, abs_row?, abs_col?].
JsonResult<model::CellRef> deserialize_cell_ref(JsonReader& reader);
// Object with "col", "colOff", "row", "rowOff" (other keys skipped), or an
// array of the four.
JsonResult<model::AnchorCell> deserialize_anchor_cell(JsonReader& reader);
JsonResult<model::SheetChart> deserialize_sheet_chart(JsonReader& reader);

// Whole stored texts; the error is the message the document reports.
Result<std::vector<model::SheetHyperlink>, std::string> decode_sheet_hyperlinks(std::string_view text);
Result<std::vector<model::SheetChart>, std::string> decode_sheet_charts(std::string_view text);

}  // namespace cmx::json
