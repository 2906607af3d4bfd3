// Column splitting of row pieces, by the same delimiter matcher that cut
// the rows.
#include "functions/text_split.h"

#include "formula/array_eval.h"

namespace cmx::formula {

std::vector<std::vector<std::string>> textsplit_split_columns(
    std::vector<std::string> row_pieces, std::span<const std::string> column_delimiters,
    bool ignore_case) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(row_pieces.size());
  for (std::string& piece : row_pieces) {
    rows.push_back(split_by_delimiters(piece, column_delimiters, ignore_case));
    std::string().swap(piece);  // keeps peak memory near one copy of the text
  }
  return rows;
}

}  // namespace cmx::formula
