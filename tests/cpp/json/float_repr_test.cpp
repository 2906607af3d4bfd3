// 100,000 doubles written by the compact writer and compared with the
// digits of Python's repr (make_float_repr_cases.py lays them out the same
// way from repr's own digits); each text also reads back to the same bits.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "json/json.h"

namespace cmx::json {
namespace {

TEST(JsonFloatRepr, MatchesPythonDigits) {
  std::ifstream in(CMX_JSON_FLOAT_CASES);
  ASSERT_TRUE(in) << "missing " << CMX_JSON_FLOAT_CASES;
  std::string line;
  size_t count = 0;
  size_t failures = 0;
  while (std::getline(in, line)) {
    size_t first = line.find(' ');
    size_t second = line.find(' ', first + 1);
    ASSERT_NE(second, std::string::npos) << line;
    uint64_t bits = 0;
    std::from_chars(line.data(), line.data() + first, bits, 16);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    std::string_view repr(line.data() + first + 1, second - first - 1);
    std::string_view expected(line.data() + second + 1, line.size() - second - 1);
    std::string text = format_json_f64(value);
    if (text != expected && ++failures <= 10) {
      ADD_FAILURE() << "repr " << repr << ": wrote " << text << ", expected " << expected;
    }
    auto back = parse_json_value(text);
    ASSERT_TRUE(back.has_value()) << text;
    double reread = back->as_number().as_f64();
    uint64_t reread_bits = 0;
    std::memcpy(&reread_bits, &reread, sizeof reread);
    EXPECT_EQ(reread_bits, bits) << text;
    EXPECT_EQ(json_f64_length(value), text.size());
    ++count;
  }
  EXPECT_EQ(count, 100000u);
  EXPECT_EQ(failures, 0u);
}

}  // namespace
}  // namespace cmx::json
