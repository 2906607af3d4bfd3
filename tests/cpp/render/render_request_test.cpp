// Render requests of the session: the order in which refusals are checked and
// the image a request yields.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/render_request.h"
#include "render/render_test_util.h"

namespace cmx::render {
namespace {

using session::EngineErrorKind;

// The session is not movable (it owns its mutexes): filled in place.
void fill_cells(session::WorkbookSession& session) {
  session.model = testing::one_sheet();
  testing::put(session.model.sheets[0], 0, 0, model::CellValue::number(1));
  testing::put(session.model.sheets[0], 2, 3, model::CellValue::text("x"));
}

model::CellRange range(uint32_t r0, uint32_t c0, uint32_t r1, uint32_t c1) {
  return model::CellRange{model::CellRef{r0, c0}, model::CellRef{r1, c1}};
}

uint32_t png_dimension(const std::string& png, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(png[at + i]);
  return value;
}

TEST(RenderRequest, RefusalsInTheirOrder) {
  session::WorkbookSession session;
  fill_cells(session);
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    RenderRequest request;
    EngineErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {"zero scale before a bad sheet", {.sheet = 5, .scale = 0}, EngineErrorKind::InvalidScale,
       "scale must be a positive number, got 0"},
      {"NaN scale", {.scale = kNaN}, EngineErrorKind::InvalidScale, "scale must be a positive number, got NaN"},
      {"sheet past the last", {.sheet = 1}, EngineErrorKind::SheetOutOfRange, "sheet 1 out of range"},
      {"start corner outside the grid before the end",
       {.range = range(1048576, 0, 1048577, 16384)},
       EngineErrorKind::CellOutOfRange,
       "cell row 1048577, column 1 is out of range"},
      {"end corner outside the grid", {.range = range(0, 0, 0, 16384)}, EngineErrorKind::CellOutOfRange,
       "cell row 1, column 16385 is out of range"},
      {"inverted range", {.range = range(1, 1, 0, 0)}, EngineErrorKind::InvalidOperation,
       "range start must be above and left of range end"},
      {"zero width", {.max_width = 0}, EngineErrorKind::InvalidViewport,
       "viewport must have finite positive dimensions"},
      // The row and column the viewport ends on count too: 501 × 501.
      {"too many cells", {.range = range(0, 0, 499, 499), .scale = 0.01f}, EngineErrorKind::DisplayTooLarge,
       "requested viewport spans 251001 cells, exceeds the 250000-cell display-list cap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto rendered = render_png(session, c.request);
    ASSERT_FALSE(rendered.has_value());
    EXPECT_EQ(rendered.error().kind, c.kind);
    EXPECT_EQ(session::engine_error_display(rendered.error()), c.message);
  }
}

TEST(RenderRequest, ImageOfTheUsedRangeScaledAndCropped) {
  session::WorkbookSession session;
  fill_cells(session);
  auto used = render_png(session, {});
  auto same = render_png(session, {.range = range(0, 0, 2, 3)});
  ASSERT_TRUE(used.has_value() && same.has_value());
  EXPECT_EQ(used->bytes, same->bytes);
  EXPECT_EQ(png_dimension(used->bytes, 16), used->width);  // the IHDR fields
  EXPECT_EQ(png_dimension(used->bytes, 20), used->height);

  auto doubled = render_png(session, {.scale = 2});
  ASSERT_TRUE(doubled.has_value());
  // Each side is ceil(size × scale) of a fractional size.
  EXPECT_TRUE(doubled->width <= 2 * used->width && doubled->width + 1 >= 2 * used->width);
  EXPECT_TRUE(doubled->height <= 2 * used->height && doubled->height + 1 >= 2 * used->height);

  auto cropped = render_png(session, {.scale = 2, .max_width = 33, .max_height = 7});
  ASSERT_TRUE(cropped.has_value());
  EXPECT_EQ(cropped->width, 33u);
  EXPECT_EQ(cropped->height, 7u);
}

}  // namespace
}  // namespace cmx::render
