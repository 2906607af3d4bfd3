// ParseCache: formula text to its shared parsed tree, so that a text is
// parsed once however many cells and names hold it.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "formula/expr.h"

namespace cmx::formula {

class ParseCache {
 public:
  // A share of the tree of `text` (the exact bytes are the key), parsing it
  // on a miss; absent when the text does not parse, which is not stored.
  std::optional<ExprPtr> parse_cached(std::string_view text) const;

  size_t size() const;

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  mutable std::mutex mutex_;
  mutable std::unordered_map<std::string, ExprPtr, Hash, std::equal_to<>> trees_;
};

}  // namespace cmx::formula
