#include "render/render_request.h"

#include <cmath>

#include "render/painter.h"
#include "render/png_encoder.h"
#include "render/sheet_builder.h"
#include "render/viewport.h"

namespace cmx::render {

namespace {

using session::EngineError;
using session::EngineErrorKind;

EngineError engine_error_of(const RenderRequestFailure& failure, float scale) {
  switch (failure.error) {
    case RenderRequestError::BadScale:
      return EngineError::invalid_scale(scale);
    case RenderRequestError::InvertedRange:
      return EngineError::invalid_operation(failure.message);
    case RenderRequestError::CellOutOfRange:
      return EngineError::cell_out_of_range(failure.cell);
    case RenderRequestError::BadViewport:
    case RenderRequestError::ViewportOutsideGrid:
      return EngineError::of(EngineErrorKind::InvalidViewport);
    case RenderRequestError::TooLarge:
      return EngineError::with_numbers(EngineErrorKind::RenderTooLarge, failure.width, failure.height, failure.limit);
    case RenderRequestError::AreaTooLarge:
      return EngineError::with_numbers(EngineErrorKind::RenderAreaTooLarge, failure.width, failure.height,
                                       failure.limit);
    case RenderRequestError::TooManyCells:
      return EngineError::with_numbers(EngineErrorKind::DisplayTooLarge, failure.cells, failure.limit);
  }
  return EngineError::of(EngineErrorKind::InvalidViewport);
}

}  // namespace

Result<RenderedPng, session::EngineError> render_png(session::WorkbookSession& session, const RenderRequest& request) {
  // Positive subnormals pass; zero, negatives, NaN and infinities do not.
  if (!(std::isfinite(request.scale) && request.scale > 0)) {
    return unexpected(EngineError::invalid_scale(request.scale));
  }
  const model::WorkbookModel& model = session.model;
  if (request.sheet >= model.sheets.size()) return unexpected(EngineError::sheet_out_of_range(request.sheet));
  RenderOptions options;
  options.scale = request.scale;
  options.range = request.range;
  if (request.max_width) options.max_width = static_cast<float>(*request.max_width);
  if (request.max_height) options.max_height = static_cast<float>(*request.max_height);
  auto viewport = render_viewport(model, request.sheet, options);
  if (!viewport) return unexpected(engine_error_of(viewport.error(), request.scale));

  const std::string sheet_name = model.sheets[request.sheet].name;
  auto built = build_display_list(model, request.sheet, *viewport, session, sheet_name);
  if (!built) {
    return unexpected(EngineError::with_text(EngineErrorKind::DisplayList,
                                             chart_layout::chart_render_error_message(built.error())));
  }
  DisplayList list = std::move(*built);
  if (request.scale != 1.0f) list = scale_display_list(std::move(list), request.scale);
  auto image = rasterize(list);
  if (!image) return unexpected(EngineError::with_text(EngineErrorKind::Raster, image.error()));
  auto png = encode_png(image->pixels, image->width, image->height);
  if (!png) return unexpected(EngineError::with_text(EngineErrorKind::Raster, png.error()));
  return RenderedPng{std::move(*png), image->width, image->height};
}

}  // namespace cmx::render
