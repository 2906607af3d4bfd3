// Test support for the collaborative document: opening a workbook file with
// what the bootstrap needs besides the model, the model a projection must
// give back, and a model comparison that names the first difference.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "collab/bootstrap.h"
#include "collab/cell_formats.h"
#include "model/style_equality.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"

namespace cmx::collab::testing {

struct OpenedWorkbook {
  std::string source;  // the file, for messages
  model::WorkbookModel model;
  std::vector<DeclaredDimensions> declared;
  std::optional<model::StyleSheet> declared_styles;
};

inline std::optional<OpenedWorkbook> open_workbook_bytes(const std::string& bytes) {
  auto parts = opc::read_package_archive(bytes);
  if (!parts) return std::nullopt;
  auto read = reader::read_workbook(*parts);
  if (!read) return std::nullopt;
  OpenedWorkbook opened;
  opened.model = std::move(read->model);
  for (const reader::SourceDimensions& dims : read->source_dimensions) {
    DeclaredDimensions declared;
    declared.column_widths = dims.column_widths;
    declared.row_heights.insert(dims.row_heights.begin(), dims.row_heights.end());
    opened.declared.push_back(std::move(declared));
  }
  opened.declared_styles = std::move(read->style_copy);
  return opened;
}

inline std::optional<OpenedWorkbook> open_workbook_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto opened = open_workbook_bytes(bytes);
  if (opened) opened->source = path;
  return opened;
}

inline std::filesystem::path corpus_root() {
  if (const char* dir = std::getenv("CMX_CORPUS_DIR")) return dir;
  // The shared folder stands beside the source tree.
  return std::filesystem::path(CMX_SOURCE_DIR).parent_path() / "shared" / "corpus";
}

// Every tenth workbook of the corpus in path order; all of them with
// CMX_COLLAB_FULL_CORPUS set. Empty without a corpus.
inline std::vector<std::filesystem::path> corpus_sample() {
  namespace fs = std::filesystem;
  std::vector<fs::path> books;
  const fs::path root = corpus_root();
  if (!fs::is_directory(root)) return books;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") books.push_back(entry.path());
  }
  std::sort(books.begin(), books.end());
  if (std::getenv("CMX_COLLAB_FULL_CORPUS") != nullptr) return books;
  std::vector<fs::path> sample;
  for (size_t i = 0; i < books.size(); i += 10) sample.push_back(books[i]);
  return sample;
}

// What the document cannot tell apart collapses: a style index becomes the
// lowest index of an equal format, and array-formula ranges are not carried.
inline model::WorkbookModel expected_projection(model::WorkbookModel workbook) {
  std::map<CellFormatId, uint32_t> lowest;
  std::vector<uint32_t> canonical(workbook.styles.cell_xfs.size());
  for (uint32_t i = 0; i < canonical.size(); ++i) {
    canonical[i] = lowest.try_emplace(encode_cell_format(model::resolve_cell_format(workbook.styles, i)).id, i)
                       .first->second;
  }
  for (model::SheetModel& sheet : workbook.sheets) {
    sheet.array_ranges.clear();
    for (auto& [key, cell] : sheet.cells) {
      if (cell.style && *cell.style < canonical.size()) cell.style = canonical[*cell.style];
    }
  }
  return workbook;
}

// Empty when the models are equal (workbook_eq); else where they first differ.
inline std::string model_difference(const model::WorkbookModel& a, const model::WorkbookModel& b) {
  if (model::workbook_eq(a, b)) return {};
  if (a.sheets.size() != b.sheets.size()) return "sheet count";
  for (size_t i = 0; i < a.sheets.size(); ++i) {
    const model::SheetModel& x = a.sheets[i];
    const model::SheetModel& y = b.sheets[i];
    const std::string at = "sheet " + std::to_string(i) + " ";
    if (x.name != y.name) return at + "name";
    if (x.default_row_height != y.default_row_height || x.custom_height != y.custom_height ||
        x.zero_height != y.zero_height) {
      return at + "header";
    }
    if (x.cells.size() != y.cells.size()) return at + "cell count";
    for (auto ix = x.cells.begin(), iy = y.cells.begin(); ix != x.cells.end(); ++ix, ++iy) {
      if (ix->first != iy->first || !(ix->second == iy->second)) {
        return at + "cell " + std::to_string(ix->first.row) + ":" + std::to_string(ix->first.col);
      }
    }
    if (x.hyperlinks != y.hyperlinks) return at + "hyperlinks";
    if (x.merges != y.merges) return at + "merges";
    if (x.col_widths != y.col_widths) return at + "column widths";
    if (x.row_heights != y.row_heights) return at + "row heights";
    if (x.column_styles != y.column_styles) return at + "column styles";
    if (x.charts != y.charts) return at + "charts";
    if (x.array_ranges != y.array_ranges) return at + "array ranges";
    if (x.freeze_pane != y.freeze_pane) return at + "freeze pane";
  }
  if (a.defined_names != b.defined_names) return "defined names";
  if (a.shared_strings != b.shared_strings) return "shared strings";
  if (!model::stylesheet_eq(a.styles, b.styles)) return "styles";
  if (a.tables != b.tables) return "tables";
  if (a.date_system != b.date_system) return "date system";
  return "another field";
}

}  // namespace cmx::collab::testing
