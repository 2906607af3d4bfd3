// Fuzzes the decoders of outside input of the Yjs library: state vectors
// (then a diff against them from a small document) and Any values. Whatever
// decodes must encode back to bytes that decode to the same value.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "crdt/crdt.h"

using namespace cmx::crdt;

namespace {

Doc& sample_doc() {
  static std::unique_ptr<Doc> doc = [] {
    auto made = cmx::cant_fail(Doc::create(3));
    MapRef m = cmx::cant_fail(made->get_or_create_map("m"));
    ArrayRef a = cmx::cant_fail(made->get_or_create_array("a"));
    {
      Transaction txn(*made);
      (void)a.insert(txn, 0, {Any::string("p"), Any::string("q"), Any::string("r")});
      (void)m.set(txn, "k", Any::number(1.5));
      (void)m.insert_map(txn, "n");
    }
    {
      Transaction txn(*made);
      (void)a.remove_range(txn, 1, 1);
      (void)m.set(txn, "k", Any::null());
    }
    return made;
  }();
  return *doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  auto sv = decode_state_vector(input);
  if (sv.has_value()) {
    auto again = decode_state_vector(encode_state_vector(*sv));
    if (!again.has_value() || !(*again == *sv)) std::abort();
    auto diff = sample_doc().encode_diff(input);
    if (!diff.has_value() || diff->size() < 2) std::abort();
  }
  Decoder decoder(input);
  auto value = read_any(decoder);
  if (value.has_value()) {
    Encoder encoder;
    write_any(encoder, *value);
    Decoder second(encoder.data());
    auto back = read_any(second);
    if (!back.has_value() || !(*back == *value) || !second.at_end()) std::abort();
  }
  return 0;
}
