// A mutex beside the data it guards. A holder that unwinds by an exception
// marks the mutex poisoned; the mark is kept for inspection but never
// consulted: later callers lock and use the data in whatever state it is.
#pragma once

#include <exception>
#include <mutex>
#include <utility>

namespace cmx::session {

template <typename T>
class Guarded {
 public:
  Guarded() = default;
  explicit Guarded(T value) : data_(std::move(value)) {}

  // Runs `fn` on the data under the lock and returns what it returns.
  template <typename Fn>
  decltype(auto) with(Fn&& fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    PoisonOnUnwind mark(poisoned_);
    return std::forward<Fn>(fn)(data_);
  }

  bool poisoned() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return poisoned_;
  }

 private:
  struct PoisonOnUnwind {
    explicit PoisonOnUnwind(bool& flag) : flag_(flag), depth_(std::uncaught_exceptions()) {}
    ~PoisonOnUnwind() {
      if (std::uncaught_exceptions() > depth_) flag_ = true;
    }
    bool& flag_;
    int depth_;
  };

  mutable std::mutex mutex_;
  bool poisoned_ = false;
  T data_{};
};

}  // namespace cmx::session
