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
    return rep_ ? std::string_view(rep_->data(), rep_->size) : std::string_view();
  }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  size_t size() const { return rep_ ? rep_->size : 0; }
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
  // Eight bytes of header keep a short text (a formula, a label) in the
  // allocator's smallest chunks; no text of a workbook comes near 4 GiB.
  struct Rep {
    std::atomic<uint32_t> refs;
    uint32_t size;
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
    if (text.size() > UINT32_MAX) throw std::length_error("a text of 4 GiB or more");
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
      rep_->~Rep();
      ::operator delete(rep_);
    }
    rep_ = nullptr;
  }

  Rep* rep_ = nullptr;
};

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
