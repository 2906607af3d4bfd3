// Shared maps and arrays.
#include "crdt/types.h"

namespace cmx::crdt {

namespace {

Content any_content(std::vector<Any> values) {
  Content content;
  content.kind = ContentKind::kAny;
  content.values.assign(std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
  return content;
}

Content type_content(Transaction& txn, TypeRef type_ref) {
  Content content;
  content.kind = ContentKind::kType;
  content.type = txn.doc().new_branch(type_ref);
  return content;
}

}  // namespace

Value item_value(const Item& item, size_t offset) {
  Value value;
  if (item.content.kind == ContentKind::kType) {
    value.branch = item.content.type;
    value.kind = value.branch->type_ref == TypeRef::kArray ? ValueKind::kArray : ValueKind::kMap;
  } else if (item.content.kind == ContentKind::kAny) {
    value.any = item.content.values[offset];
  }
  return value;
}

MapRef Value::as_map() const { return MapRef(branch); }
ArrayRef Value::as_array() const { return ArrayRef(branch); }

// ---- MapRef -------------------------------------------------------------

std::optional<Value> MapRef::get(std::string_view key) const {
  auto found = branch_->map.find(key);
  if (found == branch_->map.end() || found->second->deleted) return std::nullopt;
  return item_value(*found->second, found->second->length - 1);
}

bool MapRef::contains(std::string_view key) const {
  auto found = branch_->map.find(key);
  return found != branch_->map.end() && !found->second->deleted;
}

size_t MapRef::size() const {
  size_t count = 0;
  for (const auto& [key, item] : branch_->map) count += item->deleted ? 0 : 1;
  return count;
}

std::vector<std::string> MapRef::keys() const {
  std::vector<std::string> out;
  for (const auto& [key, item] : sorted_entries(*branch_)) {
    if (!item->deleted) out.emplace_back(key);
  }
  return out;
}

Result<Item*, CrdtError> MapRef::put(Transaction& txn, std::string_view key, Content content,
                                     uint32_t length) {
  CMX_ASSIGN_OR_RETURN(ID id, txn.next_id(length));
  auto found = branch_->map.find(key);
  Item* left = found == branch_->map.end() ? nullptr : found->second;
  auto item = std::make_unique<Item>();
  item->id = id;
  item->length = length;
  item->left = left;
  if (left != nullptr) item->origin = left->last_id();
  item->parent = branch_;
  item->parent_sub = std::string(key);
  item->content = std::move(content);
  return txn.integrate_local(std::move(item));
}

Result<void, CrdtError> MapRef::set(Transaction& txn, std::string_view key, Any value) {
  std::vector<Any> values;
  values.push_back(std::move(value));
  CMX_TRY(put(txn, key, any_content(std::move(values)), 1));
  return {};
}

Result<MapRef, CrdtError> MapRef::insert_map(Transaction& txn, std::string_view key) {
  CMX_ASSIGN_OR_RETURN(Item * item, put(txn, key, type_content(txn, TypeRef::kMap), 1));
  return MapRef(item->content.type);
}

Result<ArrayRef, CrdtError> MapRef::insert_array(Transaction& txn, std::string_view key) {
  CMX_ASSIGN_OR_RETURN(Item * item, put(txn, key, type_content(txn, TypeRef::kArray), 1));
  return ArrayRef(item->content.type);
}

Result<MapRef, CrdtError> MapRef::get_or_insert_map(Transaction& txn, std::string_view key) {
  auto current = get(key);
  if (current && current->kind == ValueKind::kMap) return current->as_map();
  return insert_map(txn, key);
}

bool MapRef::remove(Transaction& txn, std::string_view key) {
  auto found = branch_->map.find(key);
  if (found == branch_->map.end() || found->second->deleted) return false;
  txn.delete_item(found->second);
  return true;
}

// ---- ArrayRef -----------------------------------------------------------

std::optional<Value> ArrayRef::get(size_t index) const {
  for (const Item* item = branch_->start; item != nullptr; item = item->right) {
    if (item->deleted || !item->countable()) continue;
    if (index < item->length) return item_value(*item, index);
    index -= item->length;
  }
  return std::nullopt;
}

std::vector<Value> ArrayRef::to_vector() const {
  std::vector<Value> out;
  out.reserve(length());
  for (const Item* item = branch_->start; item != nullptr; item = item->right) {
    if (item->deleted || !item->countable()) continue;
    for (uint32_t offset = 0; offset < item->length; ++offset) out.push_back(item_value(*item, offset));
  }
  return out;
}

Result<Item*, CrdtError> ArrayRef::insert_content(Transaction& txn, size_t index, Content content,
                                                  uint32_t length) {
  if (index > branch_->length) return unexpected(CrdtError{CrdtErrorKind::kIndexOutOfRange, index, branch_->length});
  CMX_ASSIGN_OR_RETURN(ID id, txn.next_id(length));
  Item* left = nullptr;
  if (index > 0) {
    for (Item* item = branch_->start; item != nullptr; item = item->right) {
      if (item->deleted || !item->countable()) continue;
      if (index <= item->length) {
        if (index < item->length) txn.clean_start(ID{item->id.client, item->id.clock + static_cast<uint32_t>(index)});
        left = item;
        break;
      }
      index -= item->length;
    }
  }
  Item* right = left != nullptr ? left->right : branch_->start;
  auto item = std::make_unique<Item>();
  item->id = id;
  item->length = length;
  item->left = left;
  if (left != nullptr) item->origin = left->last_id();
  item->right = right;
  if (right != nullptr) item->right_origin = right->id;
  item->parent = branch_;
  item->content = std::move(content);
  return txn.integrate_local(std::move(item));
}

Result<void, CrdtError> ArrayRef::insert(Transaction& txn, size_t index, std::vector<Any> values) {
  if (values.empty()) {
    if (index > branch_->length) return unexpected(CrdtError{CrdtErrorKind::kIndexOutOfRange, index, branch_->length});
    return {};
  }
  if (values.size() > kMaxClock) return unexpected(CrdtError{CrdtErrorKind::kClockExhausted, kMaxClock});
  const auto count = static_cast<uint32_t>(values.size());
  CMX_TRY(insert_content(txn, index, any_content(std::move(values)), count));
  return {};
}

Result<MapRef, CrdtError> ArrayRef::insert_map(Transaction& txn, size_t index) {
  CMX_ASSIGN_OR_RETURN(Item * item, insert_content(txn, index, type_content(txn, TypeRef::kMap), 1));
  return MapRef(item->content.type);
}

Result<void, CrdtError> ArrayRef::remove_range(Transaction& txn, size_t index, size_t count) {
  if (index > branch_->length || count > branch_->length - index) {
    return unexpected(CrdtError{CrdtErrorKind::kIndexOutOfRange, index + count, branch_->length});
  }
  if (count == 0) return {};
  Item* item = branch_->start;
  for (; item != nullptr && index > 0; item = item->right) {
    if (item->deleted || !item->countable()) continue;
    if (index < item->length) txn.clean_start(ID{item->id.client, item->id.clock + static_cast<uint32_t>(index)});
    index -= std::min<size_t>(index, item->length);
  }
  for (; item != nullptr && count > 0; item = item->right) {
    if (item->deleted) continue;
    if (count < item->length) txn.clean_start(ID{item->id.client, item->id.clock + static_cast<uint32_t>(count)});
    txn.delete_item(item);
    count -= item->length;
  }
  return {};
}

}  // namespace cmx::crdt
