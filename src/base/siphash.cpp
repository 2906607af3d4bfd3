#include "base/siphash.h"

#include <bit>

namespace cmx {
namespace {

struct State {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  void absorb(uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

uint64_t load_le(const char* p, size_t n) {
  uint64_t out = 0;
  for (size_t i = 0; i < n; ++i) out |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  return out;
}

}  // namespace

uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view data) {
  State s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
          k1 ^ 0x7465646279746573ULL};
  const size_t whole = data.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) s.absorb(load_le(data.data() + i, 8));
  const uint64_t last = (uint64_t{data.size()} << 56) | load_le(data.data() + whole, data.size() - whole);
  s.absorb(last);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace cmx
