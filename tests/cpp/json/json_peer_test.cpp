// Texts written by Python's json, read here and written back compactly,
// against what Python's json.loads read from them (make_json_peer_cases.py
// lays Python's value out in the compact form).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "json/json.h"

namespace cmx::json {
namespace {

std::string from_hex(std::string_view hex) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
  }
  return out;
}

TEST(JsonPeer, ReadsWhatPythonWritesAsPythonReadsIt) {
  std::ifstream in(CMX_JSON_PEER_CASES);
  ASSERT_TRUE(in) << "missing " << CMX_JSON_PEER_CASES;
  std::string line;
  size_t count = 0;
  while (std::getline(in, line)) {
    size_t space = line.find(' ');
    ASSERT_NE(space, std::string::npos);
    std::string input = from_hex(std::string_view(line).substr(0, space));
    std::string expected = from_hex(std::string_view(line).substr(space + 1));
    auto value = parse_json_value(input);
    ASSERT_TRUE(value.has_value()) << input << "\n" << json_error_text(value.error());
    std::string written = json_value_to_string(*value);
    ASSERT_EQ(written, expected) << input;
    ASSERT_EQ(json_value_length(*value), written.size());
    // Skipping accepts the same text, and buffering keeps every member.
    JsonReader skipper(input);
    ASSERT_TRUE(skipper.skip_value().has_value());
    ASSERT_TRUE(skipper.finish().has_value());
    ++count;
  }
  EXPECT_EQ(count, 2000u);
}

}  // namespace
}  // namespace cmx::json
