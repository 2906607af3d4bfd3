// A workbook held as a session holds it for a save into its source package
// (the model, the source record, one origin and string map per sheet), and
// the two edits the save tests and the source_save driver make.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/source_moves.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "writer/new_package.h"
#include "writer/save_into_source.h"
#include "xml/parse_error.h"

namespace cmx::writer::testing {

struct HeldWorkbook {
  reader::OpenedPackage opened;
  model::WorkbookModel model;  // the edited copy
  std::vector<model::SheetOrigin> origins;
  std::vector<model::CellStringIndexMap> string_indexes;
  std::vector<std::optional<model::SheetMoveMap>> move_maps;
  bool edited = false;

  // Every sheet taken from its source record, nothing moved yet, as on open.
  explicit HeldWorkbook(reader::OpenedPackage package) : opened(std::move(package)), model(opened.model) {
    const reader::SourcePackage& source = opened.source;
    for (size_t index = 0; index < model.sheets.size(); ++index) {
      const bool taken = index < source.sheets.size();
      origins.push_back(taken ? model::SheetOrigin{1, static_cast<uint32_t>(index)} : model::SheetOrigin{});
      string_indexes.emplace_back(taken ? model::CellStringIndexMap(source.sheets[index].shared_string_cells.begin(),
                                                                    source.sheets[index].shared_string_cells.end())
                                        : model::CellStringIndexMap());
      move_maps.emplace_back(taken ? std::optional(model::identity_move_map()) : std::nullopt);
    }
  }

  // Where rows and columns went is no longer known (as after an undo): the
  // save writes each edited sheet's cells from the model.
  void forget_moves() {
    for (std::optional<model::SheetMoveMap>& moves : move_maps) moves.reset();
  }

  // A1 of the first sheet read from a worksheet part, created when empty.
  model::SheetCell* first_a1() {
    const std::vector<reader::SourceSheet>& sheets = opened.source.sheets;
    for (size_t index = 0; index < sheets.size() && index < model.sheets.size(); ++index) {
      const std::optional<std::string>& type = sheets[index].rel_type;
      if (!type || type->ends_with("/worksheet")) return &model.sheets[index].cells[model::CellKey{0, 0}];
    }
    return nullptr;
  }

  // The number 4242 in A1, its style kept; an array formula over A1 goes.
  bool set_a1() {
    model::SheetCell* cell = first_a1();
    if (cell == nullptr) return false;
    cell->value = model::CellValue::number(4242);
    cell->formula.reset();
    for (model::SheetModel& sheet : model.sheets) {
      if (sheet.cells.contains(model::CellKey{0, 0}) && &sheet.cells[model::CellKey{0, 0}] == cell) {
        std::erase_if(sheet.array_ranges, [](const auto& entry) {
          return entry.second.start.row == 0 && entry.second.start.col == 0;
        });
      }
    }
    edited = true;
    return true;
  }

  // A1 gets a new bold 13-point font on a new cell format copied from its own.
  bool restyle_a1() {
    model::SheetCell* cell = first_a1();
    if (cell == nullptr) return false;
    model::StyleSheet& styles = model.styles;
    styles.fonts.push_back(model::Font{"Arial", 13.0, true, false, false, false, std::nullopt});
    model::CellXf xf =
        cell->style && *cell->style < styles.cell_xfs.size() ? styles.cell_xfs[*cell->style] : model::CellXf{};
    xf.font = static_cast<uint32_t>(styles.fonts.size() - 1);
    styles.cell_xfs.push_back(xf);
    cell->style = static_cast<uint32_t>(styles.cell_xfs.size() - 1);
    edited = true;
    return true;
  }

  Result<std::vector<SavedPart>, SpreadsheetParseError> save() const {
    const SourceSaveInputs inputs{origins, string_indexes, move_maps, edited, false, opened.active_tab};
    return save_into_source(model, opened.source, inputs);
  }
};

// The package's bytes opened as a session opens them, or the refusal's text.
inline Result<HeldWorkbook, std::string> hold_workbook(std::string_view bytes) {
  auto parts = opc::read_package_archive(bytes);
  if (!parts) return unexpected(opc::package_error_message(parts.error()));
  auto opened = reader::open_source_package(std::move(*parts));
  if (!opened) return unexpected(xml::parse_error_message(opened.error()));
  return HeldWorkbook(std::move(*opened));
}

}  // namespace cmx::writer::testing
