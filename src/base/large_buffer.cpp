#include "base/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace cmx {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Below a few huge pages the advice saves nothing worth a system call.
constexpr size_t kWorthAdvising = 4 * kHugePage;

}  // namespace

void reserve_large(std::string& out, size_t size) {
  const size_t want = out.size() + size;
  if (want <= out.capacity()) return;
  out.reserve(want);
  if (size < kWorthAdvising) return;
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<uintptr_t>(out.data() + out.size());
  const auto end = reinterpret_cast<uintptr_t>(out.data() + want);
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = end & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace cmx
