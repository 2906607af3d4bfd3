// Encoding the whole state of a document whose root map holds n entries
// (bench/crdt_encode.py runs this beside pycrdt and prints the ratio).
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

}  // namespace
