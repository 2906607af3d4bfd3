// SipHash-1-3 (one compression round, three finalisation rounds) over a byte
// string with a 128-bit key.
#pragma once

#include <cstdint>
#include <string_view>

namespace cmx {

uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view data);

}  // namespace cmx
