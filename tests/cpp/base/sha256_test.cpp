// SHA-256: the published test vectors, and any split of a message into
// updates gives the digest of the whole.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/sha256.h"

namespace cmx {
namespace {

TEST(Sha256, PublishedVectors) {
  struct Case {
    std::string input;
    std::string_view digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 10));
    EXPECT_EQ(lower_hex(sha256(c.input)), c.digest);
  }
}

TEST(Sha256, AnySplitGivesTheSameDigest) {
  std::mt19937 rng(256);
  std::string message(20000, '\0');
  for (char& c : message) c = static_cast<char>(rng());
  const Sha256Digest whole = sha256(message);
  for (int trial = 0; trial < 50; ++trial) {
    Sha256 hasher;
    size_t at = 0;
    while (at < message.size()) {
      // Pieces from empty to larger than the hasher's own block.
      size_t piece = std::uniform_int_distribution<size_t>(0, trial % 2 ? 9000 : 12)(rng);
      piece = std::min(piece, message.size() - at);
      hasher.update(std::string_view(message).substr(at, piece));
      at += piece;
    }
    ASSERT_EQ(hasher.finish(), whole);
  }
}

TEST(Sha256, LowerHex) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(lower_hex(bytes), "000fa5ff");
  EXPECT_EQ(lower_hex({}), "");
}

}  // namespace
}  // namespace cmx
