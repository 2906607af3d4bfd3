// Fuzzes the shared-strings, worksheet and table readers over one input: no
// crash or hang, and what reads keeps the model's invariants (positions inside
// the grid, finite numbers, merges that do not overlap, table row counts
// within the table). The worksheet and the part template must also come out
// the same when every cell tag gets a second space, which sends each cell
// through the event path instead of the direct one, and the template that
// steps over the cells the reader read must equal the one that reads them.
// Read through a small window, the part gives the same sheet or refusal, and
// the bytes kept outside the cells template it as the whole part does.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "reader/shared_strings.h"
#include "reader/tables.h"
#include "reader/worksheet.h"
#include "xml/part_template.h"

using namespace cmx;

namespace {

void check_sheet(const model::SheetModel& sheet) {
  for (const auto& [key, cell] : sheet.cells) {
    if (key.row >= model::MAX_ROWS || key.col >= model::MAX_COLS) std::abort();
    if (cell.value.is_number() && !std::isfinite(cell.value.as_number())) std::abort();
  }
  for (size_t idx = 0; idx < sheet.merges.size(); ++idx) {
    for (size_t other = 0; other < idx; ++other) {
      const model::CellRange& a = sheet.merges[idx];
      const model::CellRange& b = sheet.merges[other];
      if (a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
          b.start.col <= a.end.col)
        std::abort();
    }
  }
  for (const auto& [col, width] : sheet.col_widths)
    if (col >= model::MAX_COLS || !(width >= 0.0)) std::abort();
}

// "<c " becomes "<c  " everywhere, and back.
std::string respace(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t pos = 0;
  for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, pos)) {
    out.append(text.substr(pos, at - pos));
    out.append(to);
    pos = at + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string without_offset(std::string message) {
  const size_t at = message.find(" at byte ");
  return at == std::string::npos ? message : message.substr(0, at);
}

void check_event_path(std::string_view bytes, const std::vector<SharedString>& strings,
                      const opc::RelationshipMap& rels,
                      const Result<model::SheetModel, xml::SpreadsheetParseError>& direct,
                      const reader::SharedStringCells& direct_cells) {
  // An input that already holds "<c  " would not come back the same.
  if (bytes.find("<c  ") != std::string_view::npos) return;
  const std::string spaced = respace(bytes, "<c ", "<c  ");
  reader::SharedStringCells string_cells;
  reader::SourceDimensions dimensions;
  reader::CellTextNotes notes;
  auto events = reader::read_worksheet("S", spaced, strings, rels, string_cells, dimensions, notes);
  if (direct.has_value() != events.has_value()) std::abort();
  if (direct.has_value()) {
    // Texts that quote "<c " (in CDATA, say) were respaced with the rest.
    model::CellMap restored = events->cells;
    for (auto& [key, cell] : restored) {
      if (cell.value.is_text() && cell.value.as_text().find("<c  ") != std::string_view::npos)
        cell.value = model::CellValue::text(respace(cell.value.as_text(), "<c  ", "<c "));
      if (cell.formula && cell.formula->view().find("<c  ") != std::string_view::npos)
        cell.formula = SharedString(respace(cell.formula->view(), "<c  ", "<c "));
    }
    if (!(direct->cells == restored) || !(direct_cells == string_cells)) std::abort();
  } else if (without_offset(xml::parse_error_message(direct.error())) !=
             respace(without_offset(xml::parse_error_message(events.error())), "<c  ", "<c ")) {
    // Messages may quote the input, spaces and all.
    std::abort();
  }
  auto direct_template = xml::read_part_template(bytes);
  auto events_template = xml::read_part_template(spaced);
  if (direct_template.has_value() != events_template.has_value()) std::abort();
  if (!direct_template.has_value()) return;
  if (xml::join_part_template(*direct_template) !=
      respace(xml::join_part_template(*events_template), "<c  ", "<c "))
    std::abort();
  if (direct_template->children.size() != events_template->children.size()) std::abort();
  for (size_t i = 0; i < direct_template->children.size(); ++i) {
    if (direct_template->children[i].name != events_template->children[i].name) std::abort();
  }
}

// Hands out the input in pieces of a size taken from its length.
class PieceSource final : public ByteSource {
 public:
  explicit PieceSource(std::string_view text) : text_(text), piece_(1 + text.size() % 11) {}
  size_t read(char* out, size_t max) override {
    const size_t n = std::min({max, piece_, text_.size() - at_});
    std::memcpy(out, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string_view text_;
  size_t piece_;
  size_t at_ = 0;
};

void check_window(std::string_view bytes, const std::vector<SharedString>& strings, const opc::RelationshipMap& rels,
                  const Result<model::SheetModel, xml::SpreadsheetParseError>& whole,
                  const reader::SharedStringCells& whole_cells, const reader::SourceDimensions& whole_dimensions) {
  PieceSource source(bytes);
  reader::SharedStringCells string_cells;
  reader::SourceDimensions dimensions;
  reader::CellTextNotes notes;
  auto windowed =
      reader::read_worksheet("S", source, strings, rels, string_cells, dimensions, notes, 1 + bytes.size() % 97);
  if (whole.has_value() != windowed.has_value()) std::abort();
  if (!whole.has_value()) {
    if (!(whole.error() == windowed.error())) std::abort();
    return;
  }
  if (!(whole->cells == windowed->cells) || !(whole_cells == string_cells) ||
      whole_dimensions.sheet_data_content != dimensions.sheet_data_content)
    std::abort();
  if (!dimensions.part_outside_cells) return;
  const std::optional<xml::PartTextSpan> cells = dimensions.sheet_data_content;
  const xml::CutPart cut{*dimensions.part_outside_cells, cells ? cells->offset : 0, cells ? cells->size : 0};
  auto expected = xml::read_part_template(bytes, "sheetData", cells);
  auto made = xml::read_cut_part_template(cut, "sheetData");
  if (!made) return;  // the caller reads the whole part instead
  if (expected.has_value() != made->has_value()) std::abort();
  if (expected.has_value() ? !(*expected == **made) : !(expected.error() == made->error())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<SharedString> strings{SharedString("a"), SharedString("b")};
  auto string_table = reader::read_shared_strings(bytes);
  if (string_table.has_value() && !string_table->items.empty()) strings = string_table->items;

  opc::RelationshipMap rels;
  rels["rId1"] = {"https://example.com/",
                  "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink", true};
  reader::SharedStringCells string_cells;
  reader::SourceDimensions dimensions;
  reader::CellTextNotes notes;
  auto sheet = reader::read_worksheet("S", bytes, strings, rels, string_cells, dimensions, notes);
  check_event_path(bytes, strings, rels, sheet, string_cells);
  check_window(bytes, strings, rels, sheet, string_cells, dimensions);
  if (sheet.has_value()) {
    check_sheet(*sheet);
    // A template that steps over the cells the reader read must be the one
    // that reads them, refusals included.
    for (const std::string_view left : {std::string_view(), std::string_view("sheetData")}) {
      auto scanned = xml::read_part_template(bytes, left);
      auto stepped = xml::read_part_template(bytes, left, dimensions.sheet_data_content);
      if (scanned.has_value() != stepped.has_value()) std::abort();
      if (scanned.has_value() ? !(*scanned == *stepped)
                              : xml::parse_error_message(scanned.error()) != xml::parse_error_message(stepped.error()))
        std::abort();
    }
    for (const auto& [key, index] : string_cells)
      if (index >= strings.size()) std::abort();
  }
  auto table = reader::read_table_part(bytes, 0);
  if (table.has_value() && table->has_value()) {
    const model::CellRange& range = (*table)->range;
    if (range.start.row > range.end.row || range.start.col > range.end.col) std::abort();
    const uint64_t rows = uint64_t{range.end.row} - range.start.row + 1;
    if (uint64_t{(*table)->header_rows} + (*table)->totals_rows > rows) std::abort();
    if ((*table)->columns.size() > reader::MAX_TABLE_COLUMNS) std::abort();
  }
  return 0;
}
