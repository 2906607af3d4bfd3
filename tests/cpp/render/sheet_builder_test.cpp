#include <gtest/gtest.h>

#include "model/grid_metrics.h"
#include "render/painter.h"
#include "render/sheet_builder.h"
#include "render/viewport.h"
#include "render_test_util.h"

namespace cmx::render {
namespace {

using model::CellValue;
using testing::add_style;
using testing::commands_of;
using testing::one_sheet;
using testing::put;

model::CellRange range(uint32_t r1, uint32_t c1, uint32_t r2, uint32_t c2) {
  return model::CellRange{model::CellRef{r1, c1}, model::CellRef{r2, c2}};
}

TEST(SheetBuilder, EmptySheetIsBackgroundAndGridlines) {
  model::WorkbookModel wb = one_sheet();
  const Rect viewport{0, 0, 130, 40};
  DisplayList list = testing::build_list(wb, 0, viewport);
  ASSERT_FALSE(list.commands.empty());
  const auto* background = std::get_if<FillRect>(&list.commands[0]);
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(background->color.view(), "#ffffff");
  EXPECT_EQ(background->width, 130);
  // Columns A to C, rows 1 to 3 (row 3 starts at y = 40, the bottom edge).
  EXPECT_EQ(list.col_edges.size(), 4u);
  EXPECT_EQ(list.row_edges.size(), 4u);
  EXPECT_EQ(commands_of<Line>(list).size(), list.col_edges.size() + list.row_edges.size());
  EXPECT_EQ(list.commands.size(), 1 + list.col_edges.size() + list.row_edges.size());
  EXPECT_FALSE(list.row_indices.has_value());

  wb.sheets[0].freeze_pane = model::FreezePane{1, 1, model::CellRef{1, 1}};
  DisplayList frozen = testing::build_list(wb, 0, viewport);
  std::vector<const Line*> lines = commands_of<Line>(frozen);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2]->color.view(), "#8a8a8a");
  EXPECT_EQ(lines.back()->width, 2);

  // A sheet index past the end: one white rectangle of the viewport's size.
  DisplayList none = testing::build_list(wb, 1, viewport);
  EXPECT_EQ(none.commands.size(), 1u);
  EXPECT_TRUE(none.row_edges.empty());
}

TEST(SheetBuilder, FrozenRowsStayAndTheRestScrolls) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  sheet.default_row_height = 15;  // 20 pixels
  sheet.freeze_pane = model::FreezePane{2, 0, model::CellRef{2, 0}};
  DisplayList list = testing::build_list(wb, 0, Rect{0, 100, 64, 100});
  ASSERT_TRUE(list.row_indices.has_value());
  // Rows 0 and 1 at 0..40, then the row at sheet y = 140 (row 7) at 40.
  const std::vector<uint32_t> expected{0, 1, 7, 8, 9, 10};
  EXPECT_EQ(*list.row_indices, expected);
  EXPECT_EQ(list.row_edges.front(), 0);
  EXPECT_EQ(list.row_edges[2], 40);
  EXPECT_EQ(list.row_edges[3], 60);
  EXPECT_EQ(list.first_row, 0u);
}

TEST(SheetBuilder, ZeroDefaultRowHeightBuildsNoRunawayTracks) {
  // A measured row, then a zero default height below it: the viewport
  // reaching past row 1 must not make a million rows.
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  sheet.default_row_height = 0;
  sheet.row_heights[0] = 15;
  put(sheet, 0, 0, CellValue::text("top"));
  DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 64, 200});
  EXPECT_LE(list.row_edges.size(), 3u);
  EXPECT_LE(list.commands.size(), 10u);
  EXPECT_EQ(commands_of<Text>(list).size(), 1u);
}

TEST(SheetBuilder, OverflowStopsAtTheFirstOccupiedNeighbour) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  const uint32_t left = add_style(wb.styles, model::CellXf{.alignment = model::Alignment{.h = model::HorizontalAlignment::Left}});
  const uint32_t right = add_style(wb.styles, model::CellXf{.alignment = model::Alignment{.h = model::HorizontalAlignment::Right}});
  const uint32_t center = add_style(wb.styles, model::CellXf{.alignment = model::Alignment{.h = model::HorizontalAlignment::Center}});
  const uint32_t wrap = add_style(wb.styles, model::CellXf{.alignment = model::Alignment{.wrap_text = true}});
  const float col = model::kDefaultColPx;
  struct Case {
    const char* name;
    std::optional<uint32_t> style;
    CellValue value;
    float clip_x, clip_right;
  } cases[] = {
      {"left", left, CellValue::text("a long text in B1"), col, 4 * col},
      {"general_text", std::nullopt, CellValue::text("a long text in B1"), col, 4 * col},
      {"right", right, CellValue::text("a long text in B1"), 0, 2 * col},
      {"center", center, CellValue::text("a long text in B1"), 0, 4 * col},
      {"wrap", wrap, CellValue::text("a long text in B1"), col, 2 * col},
      {"number", std::nullopt, CellValue::number(123456789), col, 2 * col},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sheet.cells.clear();
    put(sheet, 0, 1, c.value, c.style);
    put(sheet, 0, 2, CellValue::text(""));  // an empty text leaves C1 free
    put(sheet, 0, 4, CellValue::number(5));
    DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 6 * col, 40});
    std::vector<const Text*> texts = commands_of<Text>(list);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_FLOAT_EQ(texts[0]->clip.x, c.clip_x);
    EXPECT_FLOAT_EQ(texts[0]->clip.x + texts[0]->clip.width, c.clip_right);
  }
}

TEST(SheetBuilder, BordersYieldToTheNeighboursEdge) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  wb.styles.borders.push_back(model::Border{.top = model::BorderEdge{model::BorderStyle::Thin},
                                            .bottom = model::BorderEdge{model::BorderStyle::Medium}});
  wb.styles.borders.push_back(model::Border{.left = model::BorderEdge{model::BorderStyle::Hair,
                                                                       model::Color{model::RgbColor{"#00ff00"}}}});
  const uint32_t boxed = add_style(wb.styles, model::CellXf{.border = 0});
  const uint32_t hair = add_style(wb.styles, model::CellXf{.border = 1});
  put(sheet, 0, 0, CellValue::number(1), boxed);
  put(sheet, 1, 0, CellValue::number(2), boxed);
  put(sheet, 3, 0, CellValue::number(3), hair);
  DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 64, 100});
  std::vector<const Line*> borders;
  for (const Line* line : commands_of<Line>(list)) {
    if (line->color.view() != "#d4d4d4") borders.push_back(line);
  }
  // A1: top only (its bottom yields to A2's top); A2: top and bottom; A4: left.
  ASSERT_EQ(borders.size(), 4u);
  EXPECT_EQ(borders[0]->y1, 0);
  EXPECT_EQ(borders[1]->y1, 20);
  EXPECT_EQ(borders[2]->y1, 40);
  EXPECT_EQ(borders[2]->width, 2);
  EXPECT_EQ(borders[0]->color.view(), "#000000");
  EXPECT_EQ(borders[3]->style->view(), "dotted");
  EXPECT_EQ(borders[3]->color.view(), "#00ff00");
  EXPECT_EQ(borders[3]->x1, borders[3]->x2);
}

TEST(SheetBuilder, MergedCellsFillTheWholeRangeAndHideTheirOtherCells) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  wb.styles.fills.push_back(model::SolidFill{model::Color{model::RgbColor{"#ffcc00"}}});
  const uint32_t filled = add_style(wb.styles, model::CellXf{.fill = 0});
  sheet.merges.push_back(range(0, 0, 1, 1));
  put(sheet, 0, 0, CellValue::text("merged"), filled);
  put(sheet, 1, 1, CellValue::text("hidden"));
  DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 200, 100});
  std::vector<const FillRect*> fills = commands_of<FillRect>(list);
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_FLOAT_EQ(fills[1]->width, 2 * model::kDefaultColPx);
  EXPECT_EQ(fills[1]->height, 40);
  std::vector<const Text*> texts = commands_of<Text>(list);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0]->text.view(), "merged");
  // A tall merged label paints within the image (its clip reaches far below).
  sheet.merges[0] = range(0, 0, 99999, 0);
  RgbaImage image = testing::paint(testing::build_list(wb, 0, Rect{0, 0, 100, 100}));
  EXPECT_EQ(image.height, 100u);
}

TEST(SheetBuilder, AlignmentByValueHyperlinksAndNumberFormatColours) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  wb.styles.num_fmts.push_back(model::CustomNumFmt{164, "0;[Red]-0"});
  const uint32_t red_negative = add_style(wb.styles, model::CellXf{.num_fmt_id = 164});
  put(sheet, 0, 0, CellValue::boolean(true));
  put(sheet, 1, 0, CellValue::error(model::CellErrorCode::Div0));
  put(sheet, 2, 0, CellValue::number(-4), red_negative);
  put(sheet, 3, 0, CellValue::text("link"));
  sheet.hyperlinks.push_back(model::SheetHyperlink{range(3, 0, 3, 0), "https://example.com"});
  sheet.hyperlinks.push_back(model::SheetHyperlink{range(5, 1, 5, 1), std::nullopt, std::string("B9"),
                                                   std::nullopt, std::string("shown")});
  DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 200, 160});
  std::vector<const Text*> texts = commands_of<Text>(list);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0]->align, TextAlign::Center);
  EXPECT_EQ(texts[0]->text.view(), "TRUE");
  EXPECT_EQ(texts[1]->align, TextAlign::Left);
  EXPECT_EQ(texts[2]->align, TextAlign::Right);
  EXPECT_EQ(texts[2]->color.view(), "#FF0000");
  EXPECT_EQ(texts[2]->text.view(), "-4");
  EXPECT_EQ(texts[3]->color.view(), "#0563c1");
  EXPECT_TRUE(texts[3]->underline);
  EXPECT_EQ(texts[4]->text.view(), "shown");
  EXPECT_FLOAT_EQ(texts[4]->y, 120 - 4.9333334f);
  EXPECT_EQ(list.link_areas.size(), 2u);
}

TEST(Viewport, RangeRectsAndScaling) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  sheet.col_widths[0] = 20;
  sheet.row_heights[0] = 30;
  const model::GridMetrics m = model::compute_grid_metrics(sheet, wb.styles);
  const Rect a1 = range_pixel_rect(sheet, wb.styles, range(0, 0, 0, 0));
  EXPECT_FLOAT_EQ(a1.width, m.col_edges[1]);
  EXPECT_FLOAT_EQ(a1.height, 40);
  const Rect b2c3 = range_pixel_rect(sheet, wb.styles, range(1, 1, 2, 2));
  EXPECT_FLOAT_EQ(b2c3.x, m.col_edges[1]);
  EXPECT_FLOAT_EQ(b2c3.y, 40);
  EXPECT_FLOAT_EQ(b2c3.width, 2 * model::kDefaultColPx);
  EXPECT_FLOAT_EQ(b2c3.height, 40);

  put(sheet, 0, 0, CellValue::text("x"));
  sheet.hyperlinks.push_back(model::SheetHyperlink{range(0, 0, 0, 0), "https://example.com"});
  DisplayList list = testing::build_list(wb, 0, Rect{0, 0, 100, 50});
  DisplayList scaled = scale_display_list(list, 2);
  EXPECT_EQ(scaled.width, 200);
  EXPECT_EQ(scaled.row_edges.back(), 2 * list.row_edges.back());
  EXPECT_EQ(scaled.first_row, list.first_row);
  EXPECT_EQ(scaled.link_areas.size(), 1u);
  const Text* text = commands_of<Text>(scaled).at(0);
  EXPECT_EQ(text->size, 22);
  EXPECT_EQ(commands_of<Line>(scaled).at(0)->width, 2);
}

TEST(Viewport, RequestChecks) {
  model::WorkbookModel wb = one_sheet();
  struct Case {
    const char* name;
    RenderOptions options;
    std::optional<RenderRequestError> error;
  } cases[] = {
      {"default_a1_z50", RenderOptions{}, std::nullopt},
      {"zero_scale", RenderOptions{.scale = 0}, RenderRequestError::BadScale},
      {"nan_scale", RenderOptions{.scale = std::nanf("")}, RenderRequestError::BadScale},
      {"inverted", RenderOptions{.range = range(5, 0, 1, 0)}, RenderRequestError::InvertedRange},
      {"too_wide", RenderOptions{.range = range(0, 0, 0, 300)}, RenderRequestError::TooLarge},
      {"too_many_cells", RenderOptions{.scale = 0.05f, .range = range(0, 0, 9999, 99)}, RenderRequestError::TooManyCells},
      {"area", RenderOptions{.scale = 1, .range = range(0, 0, 700, 250)}, RenderRequestError::AreaTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = render_viewport(wb, 0, c.options);
    if (c.error) {
      ASSERT_FALSE(v.has_value());
      EXPECT_EQ(v.error().error, *c.error);
      EXPECT_FALSE(v.error().message.empty());
    } else {
      ASSERT_TRUE(v.has_value()) << v.error().message;
    }
  }
  auto def = render_viewport(wb, 0, RenderOptions{});
  EXPECT_FLOAT_EQ(def->width, 26 * model::kDefaultColPx);
  EXPECT_FLOAT_EQ(def->height, 50 * 20);
  auto cropped = render_viewport(wb, 0, RenderOptions{.scale = 2, .max_width = 100});
  EXPECT_FLOAT_EQ(cropped->width, 50);
  EXPECT_EQ(render_viewport(wb, 0, RenderOptions{.scale = -1}).error().message,
            "scale must be a positive number, got -1");
}

model::SheetChart chart_at(double x, double y, double w, double h) {
  model::SheetChart chart;
  chart.part = "xl/charts/chart1.xml";
  chart.drawing = "xl/drawings/drawing1.xml";
  constexpr double kEmu = 9525;
  chart.anchor = model::AbsoluteAnchor{{static_cast<int64_t>(x * kEmu), static_cast<int64_t>(y * kEmu)},
                                       {static_cast<int64_t>(w * kEmu), static_cast<int64_t>(h * kEmu)}};
  return chart;
}

TEST(SheetBuilder, ChartFramesAfterTextsBeforeDividers) {
  model::WorkbookModel wb = one_sheet();
  model::SheetModel& sheet = wb.sheets[0];
  put(sheet, 0, 0, CellValue::text("label"));
  sheet.freeze_pane = model::FreezePane{1, 1, model::CellRef{1, 1}};
  sheet.charts.push_back(chart_at(80, 30, 100, 60));
  session::WorkbookSession session;  // no source package: the chart is a placeholder
  auto built = build_display_list(wb, 0, Rect{0, 0, 300, 200}, session, "Sheet1");
  ASSERT_TRUE(built.has_value());
  const std::vector<DrawCommand>& commands = built->commands;
  size_t last_text = 0, placeholder = 0;
  for (size_t i = 0; i < commands.size(); ++i) {
    if (std::holds_alternative<Text>(commands[i])) last_text = i;
    if (const auto* fill = std::get_if<FillRect>(&commands[i]); fill && fill->color.view() == "#f2f2f2") placeholder = i;
  }
  ASSERT_GT(placeholder, last_text);
  // The placeholder's fill and border, then the two dividers, last of all.
  EXPECT_EQ(commands.size(), placeholder + 5 + 2);
  EXPECT_EQ(std::get<Line>(commands.back()).color.view(), "#8a8a8a");
  ASSERT_EQ(built->chart_regions.size(), 1u);
  EXPECT_EQ(built->chart_regions[0].note, "Chart, not shown");
  EXPECT_EQ(built->chart_regions[0].frame, (Rect{80, 30, 100, 60}));

  // Charts that spend the render's chart budget fail the whole build.
  sheet.charts.assign(13108, chart_at(80, 30, 10, 10));
  auto refused = build_display_list(wb, 0, Rect{0, 0, 300, 200}, session, "Sheet1");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(chart_layout::chart_render_error_message(refused.error()),
            "chart rendering exceeds the 65536-operation frame limit");
}

}  // namespace
}  // namespace cmx::render
