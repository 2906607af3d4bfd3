// Fuzzes the projection of documents that peers changed: the input is a list
// of edits (a target map, a key, a lib0 value) applied to the document of a
// small workbook. Projection and migration must answer with a value or a
// message; a document that projects must, written back with the layout's
// writers, project into the same model again.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "collab/hydration.h"
#include "collab/projection.h"

using namespace cmx;
using namespace cmx::collab;

namespace {

model::WorkbookModel small_workbook() {
  model::WorkbookModel book;
  book.styles.fonts = {model::Font{}};
  book.styles.fills = {model::NoFill{}};
  book.styles.borders = {model::Border{}};
  book.styles.cell_xfs = {model::CellXf{0, 0, 0, 0, std::nullopt}, model::CellXf{0, 0, 0, 14, std::nullopt}};
  model::SheetModel sheet;
  sheet.name = "S";
  sheet.cells[{0, 0}] = model::SheetCell{model::CellValue::number(1), {}, 1};
  sheet.cells[{1, 1}] = model::SheetCell{model::CellValue::text("t"), SharedString("A1&\"t\""), {}};
  sheet.merges = {model::CellRange{{2, 0, false, false}, {3, 1, false, false}}};
  sheet.col_widths = {{0, 10.0}};
  book.sheets = {sheet, model::SheetModel{}};
  book.sheets[1].name = "T";
  return book;
}

const std::vector<uint8_t>& bootstrap_update() {
  static const std::vector<uint8_t> update =
      open_replica(small_workbook(), {}, std::nullopt, 5).value().bootstrap_update;
  return update;
}

const std::shared_ptr<const AuthoredBase>& base() {
  static const auto shared =
      std::make_shared<const AuthoredBase>(build_authored_base(small_workbook(), {}, std::nullopt).value());
  return shared;
}

constexpr std::string_view kKeys[] = {"0:0", "1:1", "0:16384", "01:1", "sheet:0", "sheet:1", "replica:1:0",
                                      "name", "contents", "styles", "colWidths", "rowHeights", "merges",
                                      "freezePane", "hyperlinks", "charts", "baseFingerprint", "schemaVersion",
                                      "structureGeneration", "3", "16384", "x"};
constexpr std::string_view kSheetMaps[] = {"contents", "styles", "colWidths", "rowHeights"};

// Applies one edit; false when the input is used up or malformed.
bool apply_edit(crdt::Decoder& in, crdt::Doc& doc, crdt::Transaction& txn) {
  auto op = in.read_u8();
  auto key_index = in.read_u8();
  if (!op || !key_index) return false;
  const std::string key(kKeys[*key_index % std::size(kKeys)]);
  crdt::MapRef sheets = doc.get_or_create_map(kSheetsRoot).value();
  const std::string sheet_key = (*op & 0x10) != 0 ? "sheet:1" : "sheet:0";
  auto sheet = sheets.get(sheet_key);
  std::optional<crdt::MapRef> target;
  switch (*op & 0x7) {
    case 0:
    case 1:
      if (sheet && sheet->kind == crdt::ValueKind::kMap) {
        auto nested = sheet->as_map().get(kSheetMaps[(*op >> 5) % 4]);
        if (nested && nested->kind == crdt::ValueKind::kMap) target = nested->as_map();
      }
      break;
    case 2:
      if (sheet && sheet->kind == crdt::ValueKind::kMap) target = sheet->as_map();
      break;
    case 3: target = doc.get_or_create_map(kMetadataRoot).value(); break;
    case 4: target = sheets; break;
    case 5: {
      auto order = doc.get_or_create_array(kSheetOrderRoot).value();
      if ((*op & 0x8) != 0 && order.length() > 0) return order.remove_range(txn, 0, 1).has_value();
      return order.push_back(txn, {crdt::Any::string(key)}).has_value();
    }
    case 6:
      if (sheet && sheet->kind == crdt::ValueKind::kMap) (void)sheet->as_map().insert_map(txn, key);
      return true;
    default: target = doc.get_or_create_map(kCellFormatsRoot).value(); break;
  }
  if (!target) return true;
  if ((*op & 0x8) != 0) {
    target->remove(txn, key);
    return true;
  }
  auto value = crdt::read_any(in);
  if (!value) return false;
  return target->set(txn, key, std::move(*value)).has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Authority authority{crdt::Doc::create(9).value(), base(), 0};
  if (!hydrate_from_update(*authority.doc, bootstrap_update())) std::abort();
  {
    crdt::Transaction txn(*authority.doc);
    crdt::Decoder in(std::span<const uint8_t>(data, size));
    for (int edits = 0; edits < 64 && apply_edit(in, *authority.doc, txn); ++edits) {
    }
  }
  (void)decode_document(authority, /*strict=*/true);
  auto lenient = decode_document(authority, /*strict=*/false);
  (void)hydrate_document(authority);
  if (!lenient) return 0;

  // Written back into a fresh document, the projection reads the same.
  Authority copy{crdt::Doc::create(10).value(), base(), 0};
  {
    crdt::Transaction txn(*copy.doc);
    crdt::MapRef catalog = copy.doc->get_or_create_map(kCellFormatsRoot).value();
    if (!write_cell_format_catalog(txn, catalog, lenient->model.styles)) std::abort();
    crdt::MapRef metadata = copy.doc->get_or_create_map(kMetadataRoot).value();
    (void)metadata.set(txn, kBaseFingerprintKey, crdt::Any::string(base()->base_fingerprint));
    (void)metadata.set(txn, kSchemaVersionKey, crdt::Any::number(6));
    (void)metadata.set(txn, kStructureGenerationKey,
                       encode_structure_generation(lenient->replica.structure_generation));
    crdt::ArrayRef order = copy.doc->get_or_create_array(kSheetOrderRoot).value();
    crdt::MapRef sheets = copy.doc->get_or_create_map(kSheetsRoot).value();
    for (size_t i = 0; i < lenient->model.sheets.size(); ++i) {
      const std::string& key = lenient->replica.sheet_keys[i];
      (void)order.push_back(txn, {crdt::Any::string(key)});
      crdt::MapRef sheet = sheets.insert_map(txn, key).value();
      if (!encode_sheet_map(txn, sheet, lenient->model.sheets[i], lenient->model.styles)) std::abort();
    }
  }
  auto again = decode_document(copy, /*strict=*/true);
  if (!again) std::abort();
  if (again->model.sheets.size() != lenient->model.sheets.size()) std::abort();
  for (size_t i = 0; i < again->model.sheets.size(); ++i) {
    const model::SheetModel& a = again->model.sheets[i];
    const model::SheetModel& b = lenient->model.sheets[i];
    if (a.name != b.name || a.merges != b.merges || a.freeze_pane != b.freeze_pane || a.hyperlinks != b.hyperlinks ||
        a.cells.size() != b.cells.size()) {
      std::abort();
    }
  }
  return 0;
}
