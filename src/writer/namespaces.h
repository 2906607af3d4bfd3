// Namespaces, relationship types and content types of the packages the
// writer generates (the transitional family).
#pragma once

#include <string_view>

#include "xml/tree_queries.h"

namespace cmx::writer {

inline constexpr std::string_view kMainNs = xml::kSpreadsheetMainNs;
inline constexpr std::string_view kOfficeRelNs = xml::kRelationshipsNs;
inline constexpr std::string_view kPackageRelNs = xml::kPackageRelationshipsNs;
inline constexpr std::string_view kDrawingMainNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr std::string_view kContentTypesNs = xml::kContentTypesNs;

inline constexpr std::string_view kRelOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr std::string_view kRelWorksheet =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
inline constexpr std::string_view kRelSharedStrings =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
inline constexpr std::string_view kRelStyles =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
inline constexpr std::string_view kRelTheme =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme";
inline constexpr std::string_view kRelHyperlink =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

}  // namespace cmx::writer
