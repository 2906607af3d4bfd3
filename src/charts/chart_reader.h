// Reading a chart part into the chart model (chart_model.h). A part that
// cannot be read, holds a three-dimensional chart or has no plot area with a
// known plot gives no model; everything else degrades field by field.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "charts/chart_model.h"
#include "model/styles.h"

namespace cmx::charts {

// Why a part gives no model. Callers draw a placeholder; the reason serves
// summaries and tests.
enum class ChartRefusal : uint8_t {
  Unreadable,        // the part does not decode or parse within its budgets
  ThreeDimensional,  // some element's local name ends in "3DChart"
  NoPlotArea,        // no `plotArea` below the root
  NoKnownPlot,       // the plot area holds no plot element the model knows
};
std::string_view chart_refusal_message(ChartRefusal refusal);

// The model of a chart part, with the workbook's twelve theme colour texts
// resolving scheme colours. The root's name is not checked here.
Result<ChartModel, ChartRefusal> read_chart_model(std::string_view part_bytes, const model::WorkbookTheme& theme);
// The same, shared; null when the part gives no model.
std::shared_ptr<const ChartModel> read_chart_part(std::string_view part_bytes, const model::WorkbookTheme& theme);

// Over an element tree whose colours resolve against `theme`.
Result<ChartModel, ChartRefusal> build_chart_model(const xml::XmlElement& root, const Theme& theme);

// Any element to 64 levels below the root whose local name ends in "3DChart".
bool contains_3d_chart(const xml::XmlElement& root);
// The kind of a plot element ("bar" or "column" for a `barChart` by its
// `barDir`); absent for any other element.
std::optional<std::string> plot_kind_text(const xml::XmlElement& plot);
// `varyColors` absent, without value or other than "0"/"false": true.
bool read_vary_colors(std::span<const XmlNode> plot_children);
// Whether the plot colours each point of its series on its own: pie-like
// plots, and bar and column plots of a single series, with vary colours on.
bool vary_colors_applies(const xml::XmlElement& plot);

}  // namespace cmx::charts
