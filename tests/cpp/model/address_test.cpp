// A1 references and ranges: the grammar, its check order, normalisation and
// the print/parse round trip.
#include <gtest/gtest.h>

#include <random>

#include "model/address.h"
#include "test_util.h"

namespace cmx::model {
namespace {

TEST(ColumnLetters, BijectiveBase26) {
  struct Case { uint32_t col; const char* letters; };
  const Case cases[] = {
      {0, "A"}, {25, "Z"}, {26, "AA"}, {51, "AZ"}, {52, "BA"}, {701, "ZZ"},
      {702, "AAA"}, {16383, "XFD"}, {16384, "XFE"}, {UINT32_MAX, "MWLQKWV"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.col);
    EXPECT_EQ(column_letters(c.col), c.letters);
  }
}

TEST(ParseCellRef, Accepted) {
  struct Case { const char* text; uint32_t row; uint32_t col; bool abs_row; bool abs_col; };
  const Case cases[] = {
      {"A1", 0, 0, false, false},
      {"$A$1", 0, 0, true, true},
      {"A$1", 0, 0, true, false},
      {"$A1", 0, 0, false, true},
      {"XFD1048576", 1048575, 16383, false, false},
      {"AA10", 9, 26, false, false},
      {"A007", 6, 0, false, false},
      {"A000000000000000000001", 0, 0, false, false},
      {"$XFD$1048576", 1048575, 16383, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_cell_ref(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, (CellRef{c.row, c.col, c.abs_row, c.abs_col}));
  }
}

TEST(ParseCellRef, RefusedInCheckOrder) {
  struct Case { const char* text; AddrError error; };
  const Case cases[] = {
      {"", AddrError::Malformed},
      {"$", AddrError::Malformed},
      {"a1", AddrError::Malformed},
      {"A", AddrError::Malformed},
      {"A$", AddrError::Malformed},
      {"1", AddrError::Malformed},
      {" A1", AddrError::Malformed},
      {"A1 ", AddrError::Malformed},
      {"A1B", AddrError::Malformed},
      {"$$A1", AddrError::Malformed},
      {"A$$1", AddrError::Malformed},
      {"A-1", AddrError::Malformed},
      {"A1.5", AddrError::Malformed},
      {"A1:B2", AddrError::Malformed},
      {"Ä1", AddrError::Malformed},
      {"A99999999999999999999", AddrError::Malformed},  // beyond 64 bits
      {"A0", AddrError::OutOfBounds},
      {"A1048577", AddrError::OutOfBounds},
      {"A18446744073709551615", AddrError::OutOfBounds},  // fits 64 bits
      {"XFE1", AddrError::OutOfBounds},
      {"AAAA", AddrError::OutOfBounds},        // decided at the letters
      {"AAAAAAAAAA", AddrError::OutOfBounds},
      {"XFEx", AddrError::OutOfBounds},        // before the bad tail is seen
      {"$ZZZZ$", AddrError::OutOfBounds},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_THAT(parse_cell_ref(c.text), FailsWith(c.error));
  }
  EXPECT_EQ(addr_error_message(AddrError::Malformed), "malformed address");
  EXPECT_EQ(addr_error_message(AddrError::OutOfBounds), "address out of sheet bounds");
}

TEST(FormatCellRef, FlagsAndDigits) {
  EXPECT_EQ(format_cell_ref({6, 1, true, true}), "$B$7");
  EXPECT_EQ(format_cell_ref({9, 26, false, false}), "AA10");
  EXPECT_EQ(format_cell_ref({0, 0, true, false}), "A$1");
  EXPECT_EQ(format_cell_ref({1048575, 16383, false, false}), "XFD1048576");
  EXPECT_EQ(format_cell_ref({UINT32_MAX, 0, false, false}), "A4294967296");
}

TEST(ParseRange, NormalisesAndKeepsFlagsWithTheirSide) {
  struct Case { const char* text; CellRange range; const char* printed; };
  const Case cases[] = {
      {"C3", {{2, 2}, {2, 2}}, "C3"},
      {"B3:A1", {{0, 0}, {2, 1}}, "A1:B3"},
      {"A1:A1", {{0, 0}, {0, 0}}, "A1"},
      {"A1:$A$1", {{0, 0}, {0, 0, true, true}}, "A1:$A$1"},
      {"B2:$A$1", {{0, 0, false, false}, {1, 1, true, true}}, "A1:$B$2"},
      {"A3:C1", {{0, 0}, {2, 2}}, "A1:C3"},
      {"$A$1:B2", {{0, 0, true, true}, {1, 1}}, "$A$1:B2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_range(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.range);
    EXPECT_EQ(format_range(*parsed), c.printed);
  }
}

TEST(ParseRange, Refused) {
  struct Case { const char* text; AddrError error; };
  const Case cases[] = {
      {"A:A", AddrError::Malformed},
      {"1:3", AddrError::Malformed},
      {"A1:B2:C3", AddrError::Malformed},
      {":A1", AddrError::Malformed},
      {"A1:", AddrError::Malformed},
      {"A0:B2", AddrError::OutOfBounds},
      {"A1:XFE2", AddrError::OutOfBounds},
      {"a1:B2", AddrError::Malformed},   // the left side's error comes first
      {"A0:b2", AddrError::OutOfBounds},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_THAT(parse_range(c.text), FailsWith(c.error));
  }
}

// Every normalised range prints to a text that parses back to the same range.
TEST(ParseRange, PrintParseRoundTrip) {
  std::mt19937 rng(7);
  auto pick = [&](uint32_t bound) {
    // Favour the edges, where off-by-one faults live.
    switch (rng() % 4) {
      case 0: return uint32_t{0};
      case 1: return bound - 1;
      default: return static_cast<uint32_t>(rng() % bound);
    }
  };
  for (int i = 0; i < 20000; ++i) {
    uint32_t r0 = pick(MAX_ROWS), r1 = pick(MAX_ROWS), c0 = pick(MAX_COLS), c1 = pick(MAX_COLS);
    CellRange range{{std::min(r0, r1), std::min(c0, c1), bool(rng() & 1), bool(rng() & 1)},
                    {std::max(r0, r1), std::max(c0, c1), bool(rng() & 1), bool(rng() & 1)}};
    std::string text = format_range(range);
    auto parsed = parse_range(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    ASSERT_EQ(*parsed, range) << text;
  }
}

}  // namespace
}  // namespace cmx::model
