// The bounded scan over a 16 MB update (a map of a million entries plus an
// array of nested values), beside decoding and applying the same update.
#include <benchmark/benchmark.h>

#include <string>

#include "collab/update_scan.h"

using namespace cmx;

namespace {

const std::vector<uint8_t>& big_update() {
  static const std::vector<uint8_t> update = [] {
    auto doc = cant_fail(crdt::Doc::create(1));
    crdt::MapRef m = cant_fail(doc->get_or_create_map("m"));
    crdt::ArrayRef a = cant_fail(doc->get_or_create_array("a"));
    crdt::Transaction txn(*doc);
    for (int idx = 0; idx < 1000000; ++idx) {
      (void)m.set(txn, "k" + std::to_string(idx), crdt::Any::number(idx * 0.5));
    }
    for (int idx = 0; idx < 20000; ++idx) {
      (void)a.push_back(txn, {crdt::Any::array({crdt::Any::string("cell"), crdt::Any::number(idx),
                                                crdt::Any::object({{"f", crdt::Any::boolean(true)}})})});
    }
    txn.commit();
    return doc->encode_state_as_update();
  }();
  return update;
}

void BM_ScanUpdate(benchmark::State& state) {
  const auto& update = big_update();
  for (auto _ : state) {
    if (!collab::scan_update(update, collab::ScanLimits::own(update)).has_value()) state.SkipWithError("refused");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * update.size()));
  state.counters["update_bytes"] = static_cast<double>(update.size());
}
BENCHMARK(BM_ScanUpdate)->Unit(benchmark::kMillisecond);

void BM_ScanAndApplyUpdate(benchmark::State& state) {
  const auto& update = big_update();
  for (auto _ : state) {
    auto decoded = collab::decode_update_bounded(update, collab::ScanLimits::own(update));
    if (!decoded.has_value()) state.SkipWithError("refused");
    auto doc = cant_fail(crdt::Doc::create(2));
    crdt::Transaction txn(*doc);
    (void)txn.apply_update(std::move(decoded).value());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * update.size()));
}
BENCHMARK(BM_ScanAndApplyUpdate)->Unit(benchmark::kMillisecond);

}  // namespace
