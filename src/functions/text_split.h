// The second stage of text splitting: row pieces, already cut at the row
// delimiters, cut at the column delimiters.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace cmx::formula {

// One list of column pieces per row piece, in order. Each row piece is
// released once split. Empty pieces are kept; with no delimiters a piece
// comes back whole. Cannot fail.
std::vector<std::vector<std::string>> textsplit_split_columns(
    std::vector<std::string> row_pieces, std::span<const std::string> column_delimiters,
    bool ignore_case);

}  // namespace cmx::formula
