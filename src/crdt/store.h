// The struct store: every item, GC and skip struct of a document, per client
// in clock order, with the linked lists and key maps of the shared types that
// hold them. Read next: doc.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/inlined_vector.h"
#include "absl/hash/hash.h"
#include "crdt/any.h"
#include "crdt/id.h"

namespace cmx::crdt {

struct Branch;

// Struct kinds; an item's content ref (below) is written in the low five bits
// of its info byte, GC is info 0 and skip info 10.
enum class StructKind : uint8_t { kItem, kGc, kSkip };
enum class ContentKind : uint8_t { kDeleted = 1, kType = 7, kAny = 8 };
// Info byte of a struct in the update encoding: the content ref in the low
// bits, then flags for what the item carries.
inline constexpr uint8_t kContentMask = 0x1f;
inline constexpr uint8_t kInfoGc = 0;
inline constexpr uint8_t kInfoSkip = 10;
inline constexpr uint8_t kHasOrigin = 0x80;
inline constexpr uint8_t kHasRightOrigin = 0x40;
inline constexpr uint8_t kHasParentSub = 0x20;
// Type refs of shared types; kUnknown is a root that a peer named before any
// local lookup gave it a kind.
enum class TypeRef : uint8_t { kArray = 0, kMap = 1, kUnknown = 0xff };

struct Content {
  ContentKind kind = ContentKind::kDeleted;
  absl::InlinedVector<Any, 1> values;  // kAny
  Branch* type = nullptr;              // kType; the document owns the branch
};

// One struct of the store. GC and skip structs use only id, length and kind.
struct Item {
  ID id;
  uint32_t length = 0;
  StructKind kind = StructKind::kItem;
  bool deleted = false;
  // Kept items are not collected when deleted (an undo step may restore them).
  bool keep = false;
  Item* left = nullptr;
  Item* right = nullptr;
  OptionalId origin;
  OptionalId right_origin;
  OptionalId redone;
  Branch* parent = nullptr;
  std::optional<std::string> parent_sub;
  Content content;

  ID last_id() const { return ID{id.client, id.clock + length - 1}; }
  bool countable() const { return kind == StructKind::kItem && content.kind != ContentKind::kDeleted; }
  bool is_deleted() const { return kind != StructKind::kItem || deleted; }
};

// Hashing of map keys that takes std::string_view lookups as they are (the
// system's abseil has its own string_view type).
struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view key) const { return absl::Hash<std::string_view>{}(key); }
};
struct KeyEq {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

// A shared type: an array (list of items from `start`) or a map (latest item
// per key; older items of a key hang off its `left` chain). The key map is
// hashed (looked up by string_view); walks whose order shows go through
// sorted_entries.
struct Branch {
  TypeRef type_ref = TypeRef::kUnknown;
  Item* start = nullptr;
  absl::flat_hash_map<std::string, Item*, KeyHash, KeyEq> map;
  // Countable length of the live list items.
  uint64_t length = 0;
  // The item holding a nested type; null for roots and once collected.
  Item* item = nullptr;
  // Identity: the holding item's id for nested types, the name for roots.
  std::optional<ID> item_id;
  std::string root_name;
  // Set when the holding item was deleted and collected.
  bool collected = false;

  bool is_root() const { return !item_id.has_value(); }
  bool is_deleted() const { return collected || (item != nullptr && item->deleted); }
};

// A map's entries (latest item per key) with keys in byte order.
std::vector<std::pair<std::string_view, Item*>> sorted_entries(const Branch& branch);

class StructStore {
 public:
  using ClientStructs = std::vector<std::unique_ptr<Item>>;

  // Next clock of a client: the end of its last struct, 0 when unknown.
  uint32_t get_state(uint64_t client) const;
  StateVector state_vector() const;
  // Appends a struct; its clock must be the client's state.
  void append(std::unique_ptr<Item> item);
  // Index of the struct holding `clock` in a client's list; the clock must lie
  // inside the list.
  static size_t find_index(const ClientStructs& structs, uint32_t clock);
  // The struct holding `id`, or null when the store has no such clock.
  Item* find(ID id) const;
  ClientStructs* client_structs(uint64_t client);
  const std::map<uint64_t, ClientStructs>& clients() const { return clients_; }
  // Every deleted clock range (deleted items and GC structs), merged.
  DeleteSet delete_set() const;

 private:
  std::map<uint64_t, ClientStructs> clients_;
};

// Appends the deleted clock ranges (deleted items and GC structs, neighbours
// joined) of one client's structs to `ds`.
void add_deleted_ranges(DeleteSet& ds, uint64_t client, const StructStore::ClientStructs& structs);

// Splits `item` at `diff` (0 < diff < length): the item keeps the first
// `diff` clocks, the returned new item the rest; the caller places it in the
// store right after `item`.
std::unique_ptr<Item> split_item(Item* item, uint32_t diff);

// Tries to merge structs[pos] into its left neighbours, as far as they merge;
// removes merged structs and returns how many were removed.
size_t try_merge_with_lefts(StructStore::ClientStructs& structs, size_t pos);

}  // namespace cmx::crdt
