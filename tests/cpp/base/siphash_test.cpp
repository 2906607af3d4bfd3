#include "base/siphash.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace cmx {
namespace {

TEST(SipHash13, MatchesCPythonsBytesHash) {
  // hash(b) & (2**64 - 1) under PYTHONHASHSEED=0, where CPython hashes bytes
  // with SipHash-1-3 and zero keys.
  const std::pair<std::string, uint64_t> cases[] = {
      {"abc", 13851880170939887858ULL},
      {"aaaaaaaa", 14195822311982140562ULL},
      {"Chart part bytes, 33 long........", 6889299405787936767ULL},
  };
  for (const auto& [data, hash] : cases) EXPECT_EQ(siphash13(0, 0, data), hash) << data;
  std::string all(64, '\0');
  for (int i = 0; i < 64; ++i) all[static_cast<size_t>(i)] = static_cast<char>(i);
  EXPECT_EQ(siphash13(0, 0, all), 8493894268803903686ULL);
}

}  // namespace
}  // namespace cmx
