#include "xml/parse_error.h"

namespace cmx::xml {

std::string_view parse_error_kind_name(ParseErrorKind kind) {
  switch (kind) {
    case ParseErrorKind::MissingPart: return "MissingPart";
    case ParseErrorKind::Xml: return "Xml";
    case ParseErrorKind::Malformed: return "Malformed";
    case ParseErrorKind::DepthExceeded: return "DepthExceeded";
    case ParseErrorKind::TooManyCells: return "TooManyCells";
    case ParseErrorKind::TooManyStrings: return "TooManyStrings";
    case ParseErrorKind::TooManyDefinedNames: return "TooManyDefinedNames";
    case ParseErrorKind::TooManyHyperlinks: return "TooManyHyperlinks";
    case ParseErrorKind::TooManyColumnStyles: return "TooManyColumnStyles";
    case ParseErrorKind::TooManyStyles: return "TooManyStyles";
    case ParseErrorKind::TreeTooLarge: return "TreeTooLarge";
    case ParseErrorKind::TooManyCharts: return "TooManyCharts";
    case ParseErrorKind::UnsupportedEdit: return "UnsupportedEdit";
  }
  return "Unknown";
}

bool parse_error_has_payload(ParseErrorKind kind) {
  return kind == ParseErrorKind::MissingPart || kind == ParseErrorKind::Xml ||
         kind == ParseErrorKind::Malformed || kind == ParseErrorKind::UnsupportedEdit;
}

std::string parse_error_message(const SpreadsheetParseError& error) {
  switch (error.kind) {
    case ParseErrorKind::MissingPart: return "missing part: " + error.payload;
    case ParseErrorKind::Xml: return "xml error: " + error.payload;
    case ParseErrorKind::Malformed: return "malformed spreadsheetml: " + error.payload;
    case ParseErrorKind::DepthExceeded: return "xml nesting exceeded depth cap";
    case ParseErrorKind::TooManyCells: return "worksheet cell count exceeded cap";
    case ParseErrorKind::TooManyStrings: return "shared string count exceeded cap";
    case ParseErrorKind::TooManyDefinedNames: return "defined name count exceeded cap";
    case ParseErrorKind::TooManyHyperlinks: return "worksheet hyperlink count exceeded cap";
    case ParseErrorKind::TooManyColumnStyles: return "worksheet column style count exceeded cap";
    case ParseErrorKind::TooManyStyles: return "style pool count exceeded cap";
    case ParseErrorKind::TreeTooLarge: return "part exceeded the element tree cap";
    case ParseErrorKind::TooManyCharts: return "chart reference or anchor count exceeded cap";
    case ParseErrorKind::UnsupportedEdit: return "unsupported edit: " + error.payload;
  }
  return "unknown parse error";
}

std::string parse_error_debug(const SpreadsheetParseError& error) {
  std::string out(parse_error_kind_name(error.kind));
  if (parse_error_has_payload(error.kind)) {
    out += "(\"";
    for (char ch : error.payload) {
      if (ch == '"' || ch == '\\') out.push_back('\\');
      out.push_back(ch);
    }
    out += "\")";
  }
  return out;
}

}  // namespace cmx::xml
