#include "pyext/render_methods.h"

#include <optional>
#include <string>

#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/results.h"
#include "pyext/workbook.h"
#include "render/render_request.h"

namespace cmx::pyext {

namespace {

// None or absent → no value (outer optional holds); refused → outer empty.
std::optional<std::optional<uint32_t>> optional_pixels_arg(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<uint32_t>();
  PyObject* index = PyNumber_Index(object);
  if (index == nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  if (value > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    note_argument(name);
    return std::nullopt;
  }
  return std::optional<uint32_t>(static_cast<uint32_t>(value));
}

}  // namespace

PyObject* workbook_render_png(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "scale", "range", "max_width", "max_height"};
  static const Signature signature{"Workbook.render_png()", names, 5, 1, 1};
  PyObject* bound[5];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  PyObject* range_object = bound[2];

  render::RenderRequest request;
  if (bound[1] != nullptr) {
    const double scale = PyFloat_AsDouble(bound[1]);
    if (scale == -1.0 && PyErr_Occurred() != nullptr) {
      note_argument("scale");
      return nullptr;
    }
    // Held as a 32-bit float: a tiny scale becomes 0 and a huge one infinite.
    request.scale = static_cast<float>(scale);
  }
  if (range_object == Py_None) range_object = nullptr;
  if (range_object != nullptr && !PyUnicode_Check(range_object)) {
    raise_type_mismatch(range_object, "str", "range");
    return nullptr;
  }
  const auto max_width = optional_pixels_arg(bound[3], "max_width");
  if (!max_width) return nullptr;
  const auto max_height = optional_pixels_arg(bound[4], "max_height");
  if (!max_height) return nullptr;
  request.max_width = *max_width;
  request.max_height = *max_height;

  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const std::optional<uint32_t> sheet = resolve_sheet_arg(workbook.model, bound[0]);
  if (!sheet) return nullptr;
  request.sheet = *sheet;
  if (range_object != nullptr) {
    request.range = parse_range_arg(range_object);
    if (!request.range) return nullptr;
  }
  auto rendered = without_lock([&] { return render::render_png(workbook, request); });
  if (!rendered) return raise_engine_error(rendered.error());
  return new_png(PngPayload{std::move(rendered->bytes), rendered->width, rendered->height});
}

}  // namespace cmx::pyext
