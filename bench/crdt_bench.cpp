// Encoding the whole state of a document whose root map holds n entries,
// applying that state to an empty document, and applying many one-entry
// updates one after another (bench/crdt_peer.py runs these beside pycrdt and
// prints the ratios).
#include <benchmark/benchmark.h>

#include <string>

#include "crdt/crdt.h"

using namespace cmx::crdt;

namespace {

std::unique_ptr<Doc> map_doc(int64_t entries) {
  auto doc = cmx::cant_fail(Doc::create(1));
  MapRef m = cmx::cant_fail(doc->get_or_create_map("m"));
  Transaction txn(*doc);
  for (int64_t idx = 0; idx < entries; ++idx) {
    std::string key = "k";
    key += std::to_string(idx);
    (void)m.set(txn, key, Any::number(static_cast<double>(idx)));
  }
  return doc;
}

void BM_EncodeMapState(benchmark::State& state) {
  auto doc = map_doc(state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    auto update = doc->encode_state_as_update();
    bytes = update.size();
    benchmark::DoNotOptimize(update.data());
  }
  state.counters["update_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeMapState)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_BuildMap(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(map_doc(state.range(0)).get());
}
BENCHMARK(BM_BuildMap)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ApplyMapUpdate(benchmark::State& state) {
  const std::vector<uint8_t> update = map_doc(state.range(0))->encode_state_as_update();
  for (auto _ : state) {
    auto doc = cmx::cant_fail(Doc::create(2));
    if (!doc->apply_update(update).has_value()) state.SkipWithError("apply failed");
    benchmark::DoNotOptimize(doc.get());
  }
  state.counters["update_bytes"] = static_cast<double>(update.size());
}
BENCHMARK(BM_ApplyMapUpdate)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// n updates of one map entry each, as a peer sends them after each edit.
void BM_ApplySmallUpdates(benchmark::State& state) {
  auto source = cmx::cant_fail(Doc::create(1));
  std::vector<std::vector<uint8_t>> updates;
  source->observe_after_transaction([&](Doc& doc, const TransactionEvent& event) {
    updates.push_back(doc.encode_transaction_update(event));
  });
  MapRef m = cmx::cant_fail(source->get_or_create_map("m"));
  for (int64_t idx = 0; idx < state.range(0); ++idx) {
    Transaction txn(*source);
    (void)m.set(txn, "k" + std::to_string(idx % 100), Any::number(static_cast<double>(idx)));
  }
  for (auto _ : state) {
    auto doc = cmx::cant_fail(Doc::create(2));
    for (const auto& update : updates) {
      if (!doc->apply_update(update).has_value()) state.SkipWithError("apply failed");
    }
    benchmark::DoNotOptimize(doc.get());
  }
}
BENCHMARK(BM_ApplySmallUpdates)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// Client B's n map entries each overwrite (and so follow) one entry of
// client A; B's update arrives first and waits, then A's entries arrive one
// update at a time, each letting one of B's waiting entries in.
void BM_ApplyWaitingChain(benchmark::State& state) {
  const int64_t count = state.range(0);
  auto a = cmx::cant_fail(Doc::create(1));
  std::vector<std::vector<uint8_t>> from_a;
  const uint64_t watch = a->observe_after_transaction([&](Doc& doc, const TransactionEvent& event) {
    from_a.push_back(doc.encode_transaction_update(event));
  });
  MapRef map = cmx::cant_fail(a->get_or_create_map("m"));
  for (int64_t idx = 0; idx < count; ++idx) {
    Transaction txn(*a);
    (void)map.set(txn, "k" + std::to_string(idx), Any::number(static_cast<double>(idx)));
  }
  a->unobserve(watch);
  auto b = cmx::cant_fail(Doc::create(2));
  (void)b->apply_update(a->encode_state_as_update());
  MapRef b_map = cmx::cant_fail(b->get_or_create_map("m"));
  {
    Transaction txn(*b);
    for (int64_t idx = 0; idx < count; ++idx) (void)b_map.set(txn, "k" + std::to_string(idx), Any::string("b"));
  }
  const std::vector<uint8_t> from_b = cmx::cant_fail(b->encode_diff(a->encode_state_vector()));
  for (auto _ : state) {
    auto doc = cmx::cant_fail(Doc::create(3));
    if (!doc->apply_update(from_b).has_value()) state.SkipWithError("apply failed");
    for (const auto& update : from_a) {
      if (!doc->apply_update(update).has_value()) state.SkipWithError("apply failed");
    }
    if (doc->has_pending() || cmx::cant_fail(doc->get_or_create_map("m")).size() != static_cast<size_t>(count)) {
      state.SkipWithError("entries still wait");
    }
  }
}
BENCHMARK(BM_ApplyWaitingChain)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// Undoing and then redoing n map edits (100 keys, each written n / 100
// times), every edit its own step; bench/crdt_peer.py runs the same beside
// pycrdt's undo manager.
void BM_UndoRedoMapEdits(benchmark::State& state) {
  auto doc = cmx::cant_fail(Doc::create(1));
  MapRef m = cmx::cant_fail(doc->get_or_create_map("m"));
  UndoOptions options;
  options.tracked_origins = {"local"};
  options.capture_timeout_ms = 0;
  UndoManager um(*doc, {m.branch()}, std::move(options));
  const int64_t count = state.range(0);
  for (int64_t idx = 0; idx < count; ++idx) {
    Transaction txn(*doc, "local");
    (void)m.set(txn, "k" + std::to_string(idx % 100), Any::number(static_cast<double>(idx)));
  }
  for (auto _ : state) {
    int64_t steps = 0;
    while (cmx::cant_fail(um.undo()) != nullptr) ++steps;
    while (cmx::cant_fail(um.redo()) != nullptr) ++steps;
    if (steps != 2 * count) state.SkipWithError("steps lost");
  }
}
BENCHMARK(BM_UndoRedoMapEdits)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
