// Cell formats as the collaborative document keeps them: the canonical JSON
// text of a resolved format, keyed by the SHA-256 of that text, so that equal
// formats get equal ids on every replica without coordination; and the
// reading of the document's catalog back into a style sheet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/result.h"
#include "crdt/types.h"
#include "model/style_equality.h"
#include "model/styles.h"

namespace cmx::collab {

// 64 lower-case hexadecimal digits: the SHA-256 of the canonical text.
using CellFormatId = std::string;

inline constexpr size_t kMaxCellFormatTextBytes = 65536;

struct EncodedCellFormat {
  CellFormatId id;
  std::string text;  // canonical: what the catalog stores under `id`
};

// Writing to memory cannot fail.
EncodedCellFormat encode_cell_format(const model::CellFormat& format);

// The id of the resolved format at a style index; fails with "cell style index
// {} is out of range" when the index is not below the number of cell formats.
Result<CellFormatId, std::string> cell_format_id_of_style(const model::StyleSheet& styles, uint32_t index);

// Field by field; floats numerically (0.0 equals -0.0, a NaN equals nothing).
using model::cell_format_eq;

// The format of a cell without style.
model::CellFormat default_cell_format();

// "#" and six lower-case hexadecimal digits, the only colour text a catalog
// entry may carry: anything else would reach a save or a render unchecked.
bool is_canonical_rgb_text(std::string_view text);

struct CellFormatCatalog {
  model::StyleSheet styles;  // the base with the catalog's new formats appended
  // Catalog id -> style index; none for the default format when the base has
  // no default cell format.
  std::map<CellFormatId, std::optional<uint32_t>> style_of;
};

// Checks every entry of the catalog map, then interns the formats into a copy
// of `base`. Fails with the message of the first failure; neither the
// document nor `base` changes. The caller holds the document's read lock.
Result<CellFormatCatalog, std::string> read_cell_format_catalog(const crdt::MapRef& catalog,
                                                                const model::StyleSheet& base);
// The same over catalog entries held outside a document (id -> text).
Result<CellFormatCatalog, std::string> read_cell_format_texts(const std::map<CellFormatId, std::string>& entries,
                                                              const model::StyleSheet& base);

}  // namespace cmx::collab
