#include "session/session.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace cmx::session {
namespace {

// wyrand: one 64-bit multiply-mix per draw.
struct WyRand {
  uint64_t state;
  uint64_t next() {
    state += 0xa0761d6478bd642fULL;
    const __uint128_t product = static_cast<__uint128_t>(state) * (state ^ 0xe7037ed1a0b428dbULL);
    return static_cast<uint64_t>(product >> 64) ^ static_cast<uint64_t>(product);
  }
};

// Seeded once per thread from the time and the thread's identity.
WyRand& thread_generator() {
  thread_local WyRand generator{[] {
    const uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t thread = std::hash<std::thread::id>()(std::this_thread::get_id());
    WyRand mix{now ^ (thread * 0x9e3779b97f4a7c15ULL)};
    return mix.next();
  }()};
  return generator;
}

}  // namespace

uint64_t ChangeListeners::add(ChangeCallback callback) {
  return registry_.with([&](Registry& registry) {
    const uint64_t id = registry.next_id++;
    registry.callbacks.emplace(id, std::make_shared<const ChangeCallback>(std::move(callback)));
    return id;
  });
}

void ChangeListeners::remove(uint64_t id) {
  registry_.with([&](Registry& registry) { registry.callbacks.erase(id); });
}

void ChangeListeners::notify(ChangeEvent event) {
  std::vector<std::shared_ptr<const ChangeCallback>> callbacks;
  registry_.with([&](Registry& registry) {
    callbacks.reserve(registry.callbacks.size());
    for (const auto& [id, callback] : registry.callbacks) callbacks.push_back(callback);
  });
  for (const auto& callback : callbacks) (*callback)(ChangeEvent{event.update, event.source});
}

void notify_change_listeners(ChangeListeners& listeners, ChangeEvent event) { listeners.notify(std::move(event)); }

std::string new_version_id() {
  WyRand seeded{thread_generator().next()};
  uint64_t hi = seeded.next();
  uint64_t lo = seeded.next();
  hi = (hi & ~uint64_t{0xf000}) | uint64_t{0x4000};
  lo = (lo & ~(uint64_t{0xf} << 60)) | (uint64_t{8 + ((lo >> 60) & 3)} << 60);
  char buf[33];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(hi),
                static_cast<unsigned long long>(lo));
  return std::string(buf, 32);
}

PinnedChartAnchors collect_pinned_chart_anchors(const model::WorkbookModel& workbook) {
  PinnedChartAnchors pinned;
  for (const model::SheetModel& sheet : workbook.sheets) {
    for (const model::SheetChart& chart : sheet.charts) pinned[model::chart_frame_key(chart)] = chart.anchor;
  }
  return pinned;
}

std::string session_version(const WorkbookSession& session) {
  return session.version_id + "-" + std::to_string(session.revision);
}

Result<const model::SheetModel*, EngineError> sheet_at_or_error(const WorkbookSession& session, uint32_t index) {
  if (index >= session.model.sheets.size()) return unexpected(EngineError::sheet_out_of_range(index));
  return &session.model.sheets[index];
}

}  // namespace cmx::session
