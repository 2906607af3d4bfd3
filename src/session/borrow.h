// The per-object borrow that serialises calls on one open workbook: many
// shared holders or one exclusive holder, never waiting. A caller that cannot
// take the borrow fails at once instead of racing the holder.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cmx::session {

inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";
inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";

// 0 free, n > 0 shared holders, -1 one exclusive holder.
class BorrowFlag {
 public:
  class Guard {
   public:
    Guard(Guard&& other) noexcept : flag_(other.flag_), exclusive_(other.exclusive_) { other.flag_ = nullptr; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (flag_ == nullptr) return;
      if (exclusive_) {
        flag_->store(0, std::memory_order_release);
      } else {
        flag_->fetch_sub(1, std::memory_order_release);
      }
    }

   private:
    friend class BorrowFlag;
    Guard(std::atomic<int64_t>* flag, bool exclusive) : flag_(flag), exclusive_(exclusive) {}
    std::atomic<int64_t>* flag_;
    bool exclusive_;
  };

  // Absent while an exclusive borrow is held ("Already mutably borrowed").
  std::optional<Guard> try_shared() {
    int64_t seen = flag_.load(std::memory_order_acquire);
    while (true) {
      if (seen < 0) return std::nullopt;
      if (flag_.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel)) return Guard(&flag_, false);
    }
  }

  // Absent while any borrow is held ("Already borrowed").
  std::optional<Guard> try_exclusive() {
    int64_t expected = 0;
    if (!flag_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) return std::nullopt;
    return Guard(&flag_, true);
  }

  int64_t state() const { return flag_.load(std::memory_order_acquire); }

 private:
  std::atomic<int64_t> flag_{0};
};

}  // namespace cmx::session
