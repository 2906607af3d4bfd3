// Handles on shared maps and arrays: reads, and edits inside a transaction.
// Handles are cheap copies and stay valid for the document's life.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "crdt/any.h"
#include "crdt/doc.h"
#include "crdt/error.h"
#include "crdt/store.h"

namespace cmx::crdt {

enum class ValueKind : uint8_t { kAny, kMap, kArray };

// A value read from a shared type: a plain value or a nested shared type.
struct Value {
  ValueKind kind = ValueKind::kAny;
  Any any;
  Branch* branch = nullptr;

  MapRef as_map() const;
  ArrayRef as_array() const;
};

class MapRef {
 public:
  explicit MapRef(Branch* branch) : branch_(branch) {}
  Branch* branch() const { return branch_; }

  std::optional<Value> get(std::string_view key) const;
  bool contains(std::string_view key) const;
  size_t size() const;
  // Live keys in byte order.
  std::vector<std::string> keys() const;
  // Calls `fn(key, value)` for every live entry, keys in byte order.
  template <typename F>
  void for_each(F&& fn) const;

  Result<void, CrdtError> set(Transaction& txn, std::string_view key, Any value);
  // A new empty nested map (or array) under `key`, replacing what was there.
  Result<MapRef, CrdtError> insert_map(Transaction& txn, std::string_view key);
  Result<ArrayRef, CrdtError> insert_array(Transaction& txn, std::string_view key);
  // The nested map under `key`, or a new one when the key holds anything else.
  Result<MapRef, CrdtError> get_or_insert_map(Transaction& txn, std::string_view key);
  // Returns whether a live entry was removed.
  bool remove(Transaction& txn, std::string_view key);

  friend bool operator==(const MapRef&, const MapRef&) = default;

 private:
  Result<Item*, CrdtError> put(Transaction& txn, std::string_view key, Content content, uint32_t length);
  Branch* branch_;
};

class ArrayRef {
 public:
  explicit ArrayRef(Branch* branch) : branch_(branch) {}
  Branch* branch() const { return branch_; }

  size_t length() const { return static_cast<size_t>(branch_->length); }
  std::optional<Value> get(size_t index) const;
  std::vector<Value> to_vector() const;

  // Inserts the values as one item; fails with kIndexOutOfRange beyond the end.
  Result<void, CrdtError> insert(Transaction& txn, size_t index, std::vector<Any> values);
  Result<void, CrdtError> push_back(Transaction& txn, std::vector<Any> values) {
    return insert(txn, length(), std::move(values));
  }
  Result<MapRef, CrdtError> insert_map(Transaction& txn, size_t index);
  // Deletes `count` elements from `index`; fails with kIndexOutOfRange when
  // the range passes the end.
  Result<void, CrdtError> remove_range(Transaction& txn, size_t index, size_t count);

  friend bool operator==(const ArrayRef&, const ArrayRef&) = default;

 private:
  Result<Item*, CrdtError> insert_content(Transaction& txn, size_t index, Content content, uint32_t length);
  Branch* branch_;
};

// The value an item shows at `offset` (the last one for a map entry).
Value item_value(const Item& item, size_t offset);

template <typename F>
void MapRef::for_each(F&& fn) const {
  for (const auto& [key, item] : sorted_entries(*branch_)) {
    if (!item->deleted) fn(key, item_value(*item, item->length - 1));
  }
}

}  // namespace cmx::crdt
