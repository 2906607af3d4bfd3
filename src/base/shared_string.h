// SharedString: an immutable UTF-8 text shared by reference count, so that a
// string repeated in a million cells is stored once and a copy costs one
// increment.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace cmx {

class TextArena;
class OptionalSharedString;

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

  // The present empty text of an OptionalSharedString, kept apart from
  // absence (the null rep). Its count starts halfway up: every holder
  // retains before it releases, so the count never falls below the start,
  // and it wraps only with 2^31 live holders (16 GiB of pointers). It thus
  // never reaches zero, and nothing tries to delete the static storage.
  struct ImmortalEmpty {
    Rep rep;
    char terminator;
  };
  static_assert(offsetof(ImmortalEmpty, terminator) == sizeof(Rep));  // data() reads it
  static constexpr uint32_t kImmortalRefs = uint32_t{1} << 31;
  static inline constinit ImmortalEmpty immortal_empty_{{{kImmortalRefs}, 0}, '\0'};

  friend class OptionalSharedString;
  // The same text, with the empty one on the immortal rep.
  static SharedString present(SharedString text) {
    if (text.rep_ == nullptr) {
      text.rep_ = &immortal_empty_.rep;
      text.retain();
    }
    return text;
  }

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
    ::operator delete(block, std::align_val_t{kBlockBytes});
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

// A SharedString that may be absent, in one pointer where std::optional
// takes two: absent is the null rep, and the present empty text (a formula
// read as <f/>) holds an immortal empty rep. A million cells each carry one.
class OptionalSharedString {
 public:
  OptionalSharedString() = default;
  OptionalSharedString(std::nullopt_t) {}
  // Anything a SharedString is made from, as std::optional<SharedString> takes.
  template <typename T>
    requires std::is_constructible_v<SharedString, T&&>
  OptionalSharedString(T&& text) : text_(SharedString::present(SharedString(std::forward<T>(text)))) {}
  // Exactly std::optional<SharedString>: deduction keeps a string literal
  // from reaching it through the optional's own converting constructor.
  template <typename T>
    requires std::is_same_v<std::remove_cvref_t<T>, std::optional<SharedString>>
  OptionalSharedString(T&& other) {
    if (other) text_ = SharedString::present(*std::forward<T>(other));
  }

  OptionalSharedString& operator=(std::nullopt_t) {
    reset();
    return *this;
  }
  template <typename T>
    requires std::is_constructible_v<SharedString, T&&>
  OptionalSharedString& operator=(T&& text) {
    text_ = SharedString::present(SharedString(std::forward<T>(text)));
    return *this;
  }
  template <typename T>
    requires std::is_same_v<std::remove_cvref_t<T>, std::optional<SharedString>>
  OptionalSharedString& operator=(T&& other) {
    return *this = OptionalSharedString(std::forward<T>(other));
  }

  bool has_value() const { return text_.rep_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  // Like std::optional, only meaningful when present. Read-only: writing an
  // empty text through it would turn the value absent.
  const SharedString& operator*() const { return text_; }
  const SharedString* operator->() const { return &text_; }

  template <typename... Args>
  const SharedString& emplace(Args&&... args) {
    text_ = SharedString::present(SharedString(std::forward<Args>(args)...));
    return text_;
  }
  void reset() { text_ = SharedString(); }

  friend bool operator==(const OptionalSharedString& a, const OptionalSharedString& b) {
    return a.has_value() == b.has_value() && a.text_ == b.text_;
  }
  friend bool operator==(const OptionalSharedString& a, std::nullopt_t) { return !a.has_value(); }

 private:
  SharedString text_;
};

static_assert(sizeof(OptionalSharedString) == sizeof(SharedString));

}  // namespace cmx
