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

}  // namespace cmx
