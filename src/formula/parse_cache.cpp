// The parse cache: looked up and filled under its mutex, parsed outside it.
#include "formula/parse_cache.h"

#include "formula/parser.h"

namespace cmx::formula {

std::optional<ExprPtr> ParseCache::parse_cached(std::string_view text) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!trees_.empty()) {
      auto it = trees_.find(text);
      if (it != trees_.end()) return it->second;
    }
  }
  auto parsed = parse_formula(text);
  if (!parsed.has_value()) return std::nullopt;
  ExprPtr tree = std::move(parsed).value();
  std::lock_guard<std::mutex> lock(mutex_);
  // Another user may have stored the same text meanwhile; the later tree wins.
  trees_.insert_or_assign(std::string(text), tree);
  return tree;
}

size_t ParseCache::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trees_.size();
}

}  // namespace cmx::formula
