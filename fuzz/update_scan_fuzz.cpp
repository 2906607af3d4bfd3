// Fuzzes the bounded scan of updates and peer state vectors. An update the
// scan passes must decode in the document library and apply to a document,
// and the state of that document must pass the scan again.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "collab/update_scan.h"

using namespace cmx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  (void)collab::decode_peer_state_vector(input);
  if (!collab::scan_update(input, collab::ScanLimits::remote()).has_value()) return 0;
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
