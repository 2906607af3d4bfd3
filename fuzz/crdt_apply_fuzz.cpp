// Fuzzes decoding and applying remote updates. The input is applied to a
// document that already holds maps, arrays and collected items (so that its
// origins and parents can hit something), and to an empty one that gets the
// same document's state afterwards. After every apply the struct store must
// be consistent, its whole state must apply cleanly to a fresh document, and
// the two orders must end with the same state vector.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "crdt/crdt.h"

using namespace cmx::crdt;

namespace {

constexpr uint64_t kSampleClient = 3;

std::vector<uint8_t> sample_state() {
  auto doc = cmx::cant_fail(Doc::create(kSampleClient));
  MapRef m = cmx::cant_fail(doc->get_or_create_map("m"));
  ArrayRef a = cmx::cant_fail(doc->get_or_create_array("a"));
  {
    Transaction txn(*doc);
    (void)a.insert(txn, 0, {Any::string("p"), Any::string("q"), Any::string("r"), Any::string("s")});
    (void)m.set(txn, "k", Any::number(1.5));
    MapRef n = cmx::cant_fail(m.insert_map(txn, "n"));
    (void)n.set(txn, "x", Any::integer(1));
    (void)m.insert_map(txn, "gone");
  }
  {
    Transaction txn(*doc);
    (void)a.remove_range(txn, 1, 2);
    (void)m.set(txn, "k", Any::null());
    (void)m.remove(txn, "gone");
  }
  return doc->encode_state_as_update();
}

void check_branch(const Branch& branch, size_t bound) {
  uint64_t live = 0;
  const Item* prev = nullptr;
  size_t steps = 0;
  for (const Item* item = branch.start; item != nullptr; item = item->right) {
    if (++steps > bound) std::abort();  // a cycle
    if (item->left != prev || item->parent != &branch || item->parent_sub || item->kind != StructKind::kItem) {
      std::abort();
    }
    if (!item->deleted && item->countable()) live += item->length;
    prev = item;
  }
  if (live != branch.length) std::abort();
  for (const auto& [key, item] : branch.map) {
    if (item->right != nullptr || item->parent != &branch || !item->parent_sub || *item->parent_sub != key) {
      std::abort();
    }
  }
}

// `forked`: the input writes under the sample's client, so one id may name
// two different blocks.
void check_store(const Doc& doc, bool forked) {
  size_t total = 0;
  for (const auto& [client, structs] : doc.store().clients()) total += structs.size();
  for (const auto& [client, structs] : doc.store().clients()) {
    uint32_t clock = 0;
    for (const auto& item : structs) {
      if (item->id.client != client || item->id.clock != clock || item->length == 0) std::abort();
      if (item->kind == StructKind::kSkip) std::abort();
      if (item->kind == StructKind::kItem) {
        if (item->content.kind == ContentKind::kAny && item->content.values.size() != item->length) std::abort();
        if (item->content.kind == ContentKind::kType) check_branch(*item->content.type, total);
      }
      clock += item->length;
    }
  }
  for (const auto& [name, root] : doc.roots()) check_branch(*root, total);
  // The whole state travels to a fresh document and back unchanged, what
  // waits for predecessors included. A waiting block that overlaps what the
  // store holds travels as its slice beyond it, which follows its own
  // predecessor: under a forked id the copy may take a slice that waits here.
  const std::vector<uint8_t> state = doc.encode_state_as_update();
  auto copy = cmx::cant_fail(Doc::create(1));
  if (!copy->apply_update(state).has_value()) std::abort();
  if (forked && doc.has_pending()) return;
  if (copy->has_pending() != doc.has_pending() || !(copy->state_vector() == doc.state_vector())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> sample = sample_state();
  std::span<const uint8_t> input(data, size);

  // Replicas converge only while every client id has one writer: an input that
  // writes under the sample's own client forks that id, and then the order of
  // arrival may decide which of two different blocks with one id survives.
  auto decoded = decode_update(input);
  const bool forks_sample_client = decoded.has_value() && decoded->clients.count(kSampleClient) != 0;

  auto first = cmx::cant_fail(Doc::create(2));
  if (!first->apply_update(sample).has_value()) std::abort();
  const bool first_ok = first->apply_update(input).has_value();
  check_store(*first, forks_sample_client);

  auto second = cmx::cant_fail(Doc::create(2));
  const bool second_input_ok = second->apply_update(input).has_value();
  check_store(*second, forks_sample_client);
  const bool second_ok = second->apply_update(sample).has_value();
  check_store(*second, forks_sample_client);
  if (first_ok && second_input_ok && second_ok && !forks_sample_client &&
      !(first->state_vector() == second->state_vector())) {
    std::abort();
  }
  return 0;
}
