// Small text helpers of the sheetData and cols patches.
#pragma once

#include <string_view>

#include "xml/error.h"
#include "xml/parse_error.h"

namespace cmx::writer {

inline xml::SpreadsheetParseError reader_error(const xml::XmlError& error) {
  return xml::SpreadsheetParseError::xml(xml::xml_error_message(error));
}

// Without leading and trailing spaces, tabs and line ends.
inline std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace cmx::writer
