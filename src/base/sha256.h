// SHA-256 over OpenSSL's EVP interface, fed incrementally. Small updates are
// gathered in a local block so that a stream of many integers costs few
// library calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace cmx {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Small pieces only gather in the block, without a call.
  void update(std::span<const uint8_t> bytes) {
    if (bytes.size() < block_.size() - used_) {
      if (!bytes.empty()) std::memcpy(block_.data() + used_, bytes.data(), bytes.size());
      used_ += bytes.size();
      return;
    }
    update_large(bytes);
  }
  void update(std::string_view bytes) {
    update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  }
  // The digest of everything fed so far; the hasher is spent afterwards.
  Sha256Digest finish();

 private:
  void flush();
  void update_large(std::span<const uint8_t> bytes);

  void* context_;  // EVP_MD_CTX
  std::array<uint8_t, 4096> block_;
  size_t used_ = 0;
};

Sha256Digest sha256(std::string_view bytes);

// Two lower-case hexadecimal digits a byte, first byte first.
std::string lower_hex(std::span<const uint8_t> bytes);

}  // namespace cmx
