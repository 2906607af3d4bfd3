#include "base/sha256.h"

#include <openssl/evp.h>

#include <cstring>

#include "base/result.h"

namespace cmx {

namespace {

EVP_MD_CTX* ctx(void* context) { return static_cast<EVP_MD_CTX*>(context); }

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  // Only allocation failure can make these fail.
  if (context_ == nullptr || EVP_DigestInit_ex(ctx(context_), EVP_sha256(), nullptr) != 1) {
    fail_invariant("SHA-256 context could not be set up");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx(context_)); }

void Sha256::flush() {
  if (used_ == 0) return;
  if (EVP_DigestUpdate(ctx(context_), block_.data(), used_) != 1) fail_invariant("SHA-256 update failed");
  used_ = 0;
}

void Sha256::update_large(std::span<const uint8_t> bytes) {
  if (bytes.size() >= block_.size()) {
    flush();
    if (EVP_DigestUpdate(ctx(context_), bytes.data(), bytes.size()) != 1) fail_invariant("SHA-256 update failed");
    return;
  }
  if (used_ + bytes.size() > block_.size()) flush();
  if (!bytes.empty()) std::memcpy(block_.data() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

Sha256Digest Sha256::finish() {
  flush();
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx(context_), digest.data(), &length) != 1 || length != digest.size()) {
    fail_invariant("SHA-256 final failed");
  }
  return digest;
}

Sha256Digest sha256(std::string_view bytes) {
  Sha256 hasher;
  hasher.update(bytes);
  return hasher.finish();
}

std::string lower_hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xF]);
  }
  return out;
}

}  // namespace cmx
