// The reader error: one message per variant, payloads inserted unchanged,
// and the debugging form.
#include "xml/parse_error.h"

#include <gtest/gtest.h>

#include <set>

namespace cmx::xml {
namespace {

TEST(SpreadsheetParseError, Messages) {
  EXPECT_EQ(parse_error_message(SpreadsheetParseError::malformed("bad number x")),
            "malformed spreadsheetml: bad number x");
  EXPECT_EQ(parse_error_message(SpreadsheetParseError::missing_part("xl/workbook.xml")),
            "missing part: xl/workbook.xml");
  EXPECT_EQ(parse_error_message(SpreadsheetParseError::of(ParseErrorKind::TooManyCells)),
            "worksheet cell count exceeded cap");
  EXPECT_EQ(parse_error_message(SpreadsheetParseError::xml("x")), "xml error: x");
  EXPECT_EQ(parse_error_message(SpreadsheetParseError::unsupported_edit("y")), "unsupported edit: y");
}

TEST(SpreadsheetParseError, EveryVariantHasItsOwnMessageAndName) {
  std::set<std::string> messages;
  std::set<std::string_view> names;
  int with_payload = 0;
  for (int k = 0; k < kParseErrorKindCount; ++k) {
    const auto kind = static_cast<ParseErrorKind>(k);
    const std::string message = parse_error_message({kind, "p"});
    EXPECT_TRUE(messages.insert(message).second) << message;
    EXPECT_TRUE(names.insert(parse_error_kind_name(kind)).second);
    // Messages of unit variants name no number.
    if (!parse_error_has_payload(kind)) {
      EXPECT_EQ(message.find_first_of("0123456789"), std::string::npos) << message;
    } else {
      ++with_payload;
      EXPECT_TRUE(message.ends_with(": p")) << message;
    }
  }
  EXPECT_EQ(with_payload, 4);
}

TEST(SpreadsheetParseError, DebugForm) {
  EXPECT_EQ(parse_error_debug(SpreadsheetParseError::malformed("bad \"x\"")), "Malformed(\"bad \\\"x\\\"\")");
  EXPECT_EQ(parse_error_debug(SpreadsheetParseError::of(ParseErrorKind::DepthExceeded)), "DepthExceeded");
}

}  // namespace
}  // namespace cmx::xml
