// Fuzzes typed cell input. The first byte picks the target cell's number
// format (none, text, "@", a date, a custom id no format carries, a style
// past the table); the rest is the typed text. Parsing never fails, carries
// the style, and gives what the rules allow; validation only refuses.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "session/typed_input.h"

using namespace cmx;

namespace {

model::WorkbookModel styled() {
  model::WorkbookModel workbook;
  workbook.sheets.resize(1);
  workbook.styles.num_fmts = {{164, "@"}};
  for (const uint16_t id : {uint16_t{0}, uint16_t{49}, uint16_t{164}, uint16_t{14}, uint16_t{170}}) {
    model::CellXf xf;
    xf.num_fmt_id = id;
    workbook.styles.cell_xfs.push_back(xf);
  }
  for (uint32_t style = 0; style < 6; ++style) {
    model::SheetCell cell;
    cell.value = model::CellValue::number(1);
    cell.style = style;
    workbook.sheets[0].cells.insert_or_assign(model::CellKey{style, 0}, cell);
  }
  return workbook;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const model::WorkbookModel workbook = styled();
  if (size == 0) return 0;
  const uint32_t row = data[0] % 7;  // row 6 holds no cell
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const model::SheetCell cell = session::parse_typed_cell_input(workbook, 0, row, 0, text);
  const std::optional<uint32_t> expected_style = row < 6 ? std::optional<uint32_t>(row) : std::nullopt;
  if (cell.style != expected_style) std::abort();
  if (cell.formula) {
    if (!cell.value.is_empty() || text.empty() || text.front() != '=' || cell.formula->view() != text.substr(1)) {
      std::abort();
    }
  }
  if (cell.value.is_number() && !std::isfinite(cell.value.as_number())) std::abort();
  if (text.empty() != (cell.value.is_empty() && !cell.formula)) std::abort();
  const bool text_format = row == 1 || row == 2;
  if (text_format && !text.empty() && !cell.value.is_text()) std::abort();
  (void)session::validate_cell_input(cell);
  return 0;
}
