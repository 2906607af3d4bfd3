// Fuzzes the bounded scan of updates and peer state vectors. The scan may
// allocate no more than a small multiple of its input; an update it passes
// must decode in the document library and apply to a document, and the
// state of that document must pass the scan again.
#include <cstdint>
#include <cstdlib>
#include <span>

#include <sanitizer/allocator_interface.h>

#include "collab/update_scan.h"

using namespace cmx;

namespace {
// Bytes allocated while `counting`.
bool counting = false;
size_t allocated = 0;
void on_malloc(const volatile void*, size_t size) {
  if (counting) allocated += size;
}
void on_free(const volatile void*) {}
const int hooked = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)hooked;
  const std::span<const uint8_t> input(data, size);
  // Error texts, and the state vector's map: a node (about 48 bytes) per
  // entry, and an entry takes two bytes at least.
  const size_t allowance = 1024 + 32 * size;
  allocated = 0;
  counting = true;
  (void)collab::decode_peer_state_vector(input);
  const bool passed = collab::scan_update(input, collab::ScanLimits::remote()).has_value();
  counting = false;
  if (allocated > allowance) std::abort();
  if (!passed) return 0;
  auto decoded = collab::decode_update_bounded(input, collab::ScanLimits::own(input));
  if (!decoded.has_value()) std::abort();
  auto doc = cant_fail(crdt::Doc::create(1));
  {
    crdt::Transaction txn(*doc);
    (void)txn.apply_update(std::move(decoded).value());
  }
  const auto state = doc->encode_state_as_update();
  if (!collab::scan_update(state, collab::ScanLimits::own(state)).has_value()) std::abort();
  return 0;
}
