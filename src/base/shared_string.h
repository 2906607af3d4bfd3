// SharedString: an immutable UTF-8 text shared by reference count, so that a
// string repeated in a million cells is stored once and a copy costs one
// increment.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cmx {

class TextArena;

class SharedString {
 public:
  SharedString() = default;  // the empty text, without allocation
  SharedString(std::string_view text) : rep_(make(text)) {}
  SharedString(const std::string& text) : SharedString(std::string_view(text)) {}
  SharedString(const char* text) : SharedString(std::string_view(text)) {}

  SharedString(const SharedString& other) : rep_(other.rep_) { retain(); }
  SharedString(SharedString&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  SharedString& operator=(const SharedString& other) {
    if (rep_ != other.rep_) {
      other.retain();
      release();
      rep_ = other.rep_;
    }
    return *this;
  }
  SharedString& operator=(SharedString&& other) noexcept {
    if (this != &other) {
      release();
      rep_ = other.rep_;
      other.rep_ = nullptr;
    }
    return *this;
  }
  ~SharedString() { release(); }

  std::string_view view() const {
    return rep_ ? std::string_view(rep_->data(), rep_->size()) : std::string_view();
  }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  size_t size() const { return rep_ ? rep_->size() : 0; }
  bool empty() const { return size() == 0; }
  const char* data() const { return rep_ ? rep_->data() : ""; }
  // True when both hold the same storage (a cheap identity check).
  bool same_storage(const SharedString& other) const { return rep_ == other.rep_; }
  uint32_t use_count() const { return rep_ ? rep_->refs.load(std::memory_order_relaxed) : 0; }

  friend bool operator==(const SharedString& a, const SharedString& b) {
    return a.rep_ == b.rep_ || a.view() == b.view();
  }
  friend bool operator==(const SharedString& a, std::string_view b) { return a.view() == b; }
  friend auto operator<=>(const SharedString& a, const SharedString& b) {
    return a.view() <=> b.view();
  }

 private:
  friend class TextArena;

  // Eight bytes of header keep a short text (a formula, a label) in the
  // allocator's smallest chunks; no text of a workbook comes near 2 GiB, so
  // the size's top bit can tell a text that lives in a TextArena block.
  static constexpr uint32_t kInArena = uint32_t{1} << 31;
  struct Rep {
    std::atomic<uint32_t> refs;
    uint32_t bits;  // the size, and kInArena
    uint32_t size() const { return bits & ~kInArena; }
    char* data() { return reinterpret_cast<char*>(this + 1); }
  };
  static_assert(sizeof(Rep) == 8);

  static Rep* make(std::string_view text) {
    if (text.empty()) return nullptr;
    if (text.size() >= kInArena) throw std::length_error("a text of 2 GiB or more");
    void* memory = ::operator new(sizeof(Rep) + text.size() + 1);
    Rep* rep = new (memory) Rep{{1}, static_cast<uint32_t>(text.size())};
    std::memcpy(rep->data(), text.data(), text.size());
    rep->data()[text.size()] = '\0';
    return rep;
  }
  void retain() const {
    if (rep_) rep_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void release() {
    if (rep_ && rep_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      if (rep_->bits & kInArena) {
        release_in_arena(rep_);
      } else {
        rep_->~Rep();
        ::operator delete(rep_);
      }
    }
    rep_ = nullptr;
  }
  static void release_in_arena(Rep* rep);

  Rep* rep_ = nullptr;
};

// Makes many small texts at once (the cells of a sheet being read) from
// blocks of 64 KiB rather than one allocation each: a million cells cost a
// few hundred allocations and half the memory. A block is freed when the
// arena has moved past it and the last text in it is released, on whatever
// thread; a few survivors keep their whole block alive. Not thread-safe
// itself: one arena per reading thread.
class TextArena {
 public:
  static constexpr size_t kBlockBytes = size_t{64} << 10;
  // Longer texts get an allocation of their own, so one survivor cannot pin
  // much more than itself.
  static constexpr size_t kMaxArenaText = 1024;

  TextArena() = default;
  TextArena(const TextArena&) = delete;
  TextArena& operator=(const TextArena&) = delete;
  ~TextArena() { leave_block(); }

  SharedString make(std::string_view text) {
    SharedString made;
    if (text.empty()) return made;
    if (text.size() > kMaxArenaText) return SharedString(text);
    const size_t bytes = (sizeof(SharedString::Rep) + text.size() + 1 + 7) & ~size_t{7};
    if (static_cast<size_t>(end_ - next_) < bytes) enter_block();
    auto* rep = new (next_) SharedString::Rep{{1}, static_cast<uint32_t>(text.size()) | SharedString::kInArena};
    std::memcpy(rep->data(), text.data(), text.size());
    rep->data()[text.size()] = '\0';
    next_ += bytes;
    ++made_;
    made.rep_ = rep;
    return made;
  }

 private:
  friend class SharedString;

  // `live` counts the block's texts not yet released. While the arena fills
  // a block it holds kFilling on it instead of counting each text made, so a
  // text costs no atomic operation; leaving the block trades the hold for
  // the count made.
  struct alignas(16) Block {
    std::atomic<uint32_t> live;
  };
  static constexpr uint32_t kFilling = uint32_t{1} << 31;
  static_assert(kBlockBytes / 16 < kFilling);

  static Block* block_of(const void* text) {
    return reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(text) & ~(uintptr_t{kBlockBytes} - 1));
  }
  static void free_block(Block* block) {
    block->~Block();
    ::operator delete(block, kBlockBytes, std::align_val_t{kBlockBytes});
  }
  // Drops a count (a text's or the arena's), freeing the block at the last.
  static void drop(Block* block, uint32_t count) {
    if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) free_block(block);
  }

  void enter_block() {
    leave_block();
    void* memory = ::operator new(kBlockBytes, std::align_val_t{kBlockBytes});
    block_ = new (memory) Block{{kFilling}};
    next_ = reinterpret_cast<char*>(block_) + sizeof(Block);
    end_ = reinterpret_cast<char*>(block_) + kBlockBytes;
  }
  void leave_block() {
    if (block_ == nullptr) return;
    drop(block_, kFilling - made_);
    block_ = nullptr;
    next_ = end_ = nullptr;
    made_ = 0;
  }

  Block* block_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  uint32_t made_ = 0;
};

inline void SharedString::release_in_arena(Rep* rep) {
  TextArena::drop(TextArena::block_of(rep), 1);
}

}  // namespace cmx
