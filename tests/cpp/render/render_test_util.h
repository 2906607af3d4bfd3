// Small builders of models, display lists and painted images for the
// renderer's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chart_layout/display_list.h"
#include "model/workbook.h"
#include "render/painter.h"
#include "render/sheet_builder.h"
#include "session/session.h"

namespace cmx::render::testing {

inline model::WorkbookModel one_sheet() {
  model::WorkbookModel wb;
  wb.sheets.emplace_back();
  wb.sheets.back().name = "Sheet1";
  return wb;
}

inline void put(model::SheetModel& sheet, uint32_t row, uint32_t col, model::CellValue value,
                std::optional<uint32_t> style = std::nullopt) {
  sheet.cells[model::CellKey{row, col}] = model::SheetCell{std::move(value), std::nullopt, style};
}

// A cell format with only the given parts; returns its index.
inline uint32_t add_style(model::StyleSheet& styles, model::CellXf xf) {
  styles.cell_xfs.push_back(std::move(xf));
  return static_cast<uint32_t>(styles.cell_xfs.size() - 1);
}

// The display list of a model whose sheets hold no charts: a bare session
// serves the chart frames, which then add nothing.
inline DisplayList build_list(const model::WorkbookModel& wb, uint32_t sheet, const Rect& viewport) {
  session::WorkbookSession session;
  auto list = build_display_list(wb, sheet, viewport, session, sheet < wb.sheets.size() ? wb.sheets[sheet].name : "");
  EXPECT_TRUE(list.has_value());
  return list.has_value() ? std::move(*list) : DisplayList{};
}

inline DisplayList list_of(float width, float height, std::vector<DrawCommand> commands) {
  DisplayList list;
  list.width = width;
  list.height = height;
  list.commands = std::move(commands);
  return list;
}

inline RgbaImage paint(const DisplayList& list) {
  auto image = rasterize(list);
  EXPECT_TRUE(image.has_value()) << image.error();
  return image.has_value() ? std::move(*image) : RgbaImage{};
}

inline std::array<uint8_t, 4> pixel(const RgbaImage& image, uint32_t x, uint32_t y) {
  const size_t at = (size_t{y} * image.width + x) * 4;
  return {image.pixels[at], image.pixels[at + 1], image.pixels[at + 2], image.pixels[at + 3]};
}

inline bool is_white(const RgbaImage& image, uint32_t x, uint32_t y) {
  return pixel(image, x, y) == std::array<uint8_t, 4>{255, 255, 255, 255};
}

template <typename T>
std::vector<const T*> commands_of(const DisplayList& list) {
  std::vector<const T*> out;
  for (const DrawCommand& c : list.commands) {
    if (const T* t = std::get_if<T>(&c)) out.push_back(t);
  }
  return out;
}

}  // namespace cmx::render::testing
