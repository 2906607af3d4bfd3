// OptionalStyleIndex: a cell's index into styles.cell_xfs, or none, in four
// bytes where std::optional<uint32_t> takes eight. A million cells each
// carry one.
#pragma once

#include <cstdint>
#include <optional>

#include "base/result.h"
#include "model/styles.h"

namespace cmx::model {

class OptionalStyleIndex {
 public:
  // Absence, so never an index: no style sheet comes near it. Indices come
  // from tables of at most kMaxStyleRecords formats, except a file's own,
  // which the worksheet reader takes one below when it is this value.
  static constexpr uint32_t kAbsent = UINT32_MAX;
  static_assert(kMaxStyleRecords < kAbsent);

  constexpr OptionalStyleIndex() = default;
  constexpr OptionalStyleIndex(std::nullopt_t) {}
  constexpr OptionalStyleIndex(uint32_t index) : index_(checked(index)) {}
  constexpr OptionalStyleIndex(const std::optional<uint32_t>& index) : index_(index ? checked(*index) : kAbsent) {}

  constexpr bool has_value() const { return index_ != kAbsent; }
  constexpr explicit operator bool() const { return has_value(); }
  // Like std::optional, only meaningful when present.
  constexpr uint32_t operator*() const { return index_; }
  constexpr uint32_t value_or(uint32_t fallback) const { return has_value() ? index_ : fallback; }
  constexpr operator std::optional<uint32_t>() const {
    return has_value() ? std::optional<uint32_t>(index_) : std::nullopt;
  }
  constexpr void reset() { index_ = kAbsent; }

  // As std::optional<uint32_t> compares: absent equals only absent. Each
  // form is spelled out so that std::optional's own templates, which would
  // take an absent optional for unequal to an absent index, never match
  // better.
  friend constexpr bool operator==(OptionalStyleIndex, OptionalStyleIndex) = default;
  friend constexpr bool operator==(OptionalStyleIndex a, std::nullopt_t) { return !a.has_value(); }
  friend constexpr bool operator==(OptionalStyleIndex a, uint32_t b) { return a.has_value() && a.index_ == b; }
  friend constexpr bool operator==(OptionalStyleIndex a, const std::optional<uint32_t>& b) {
    return b ? a == *b : !a.has_value();
  }

 private:
  // Storing kAbsent as an index would drop a style without a word.
  static constexpr uint32_t checked(uint32_t index) {
    if (index == kAbsent) fail_invariant("a style index of UINT32_MAX, which marks a cell without style");
    return index;
  }

  uint32_t index_ = kAbsent;
};

static_assert(sizeof(OptionalStyleIndex) == 4);

}  // namespace cmx::model
