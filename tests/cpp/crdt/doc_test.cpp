// Documents: client ids, roots, map and array edits, merging, collection of
// deleted content, transactions and their observers, state and diffs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crdt/crdt.h"
#include "test_util.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<Doc> new_doc(uint64_t client = 1, bool gc = true) { return cant_fail(Doc::create(client, gc)); }
Any str(const char* text) { return Any::string(text); }

std::vector<std::string> strings(const ArrayRef& array) {
  std::vector<std::string> out;
  for (const Value& value : array.to_vector()) out.push_back(value.any.as_string());
  return out;
}

TEST(Doc, ClientIds) {
  EXPECT_TRUE(Doc::create(kMaxClientId).has_value());
  EXPECT_THAT(Doc::create(kMaxClientId + 1), FailsWithKind(CrdtErrorKind::kClientIdTooLarge));
  auto a = Doc::create_random();
  auto b = Doc::create_random();
  EXPECT_LE(a->client_id(), kMaxClientId);
  EXPECT_NE(a->client_id(), b->client_id());
}

TEST(Doc, RootsByName) {
  auto doc = new_doc();
  EXPECT_FALSE(doc->find_map("m").has_value());
  EXPECT_EQ(doc->find_root("m"), nullptr);
  EXPECT_TRUE(doc->roots().empty());
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  EXPECT_EQ(cant_fail(doc->get_or_create_map("m")), m);
  ASSERT_TRUE(doc->find_map("m").has_value());
  EXPECT_EQ(*doc->find_map("m"), m);
  EXPECT_FALSE(doc->find_array("m").has_value());
  EXPECT_THAT(doc->get_or_create_array("m"), FailsWithKind(CrdtErrorKind::kRootKindMismatch));
  ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  EXPECT_THAT(doc->get_or_create_map("a"), FailsWithKind(CrdtErrorKind::kRootKindMismatch));
  EXPECT_EQ(*doc->find_array("a"), a);
}

TEST(Doc, EmptyUpdateIsTwoZeroBytes) {
  auto doc = new_doc();
  EXPECT_EQ(doc->encode_state_as_update(), (Bytes{0, 0}));
  EXPECT_EQ(doc->encode_state_vector(), (Bytes{0}));
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", str("v")).has_value());
  }
  // Nothing beyond the document's own state, and nothing deleted.
  EXPECT_EQ(cant_fail(doc->encode_diff(doc->encode_state_vector())), (Bytes{0, 0}));
  // A transaction that writes nothing adds nothing.
  const Bytes before = doc->encode_state_as_update();
  { Transaction txn(*doc, "xlsx:user"); }
  EXPECT_EQ(doc->encode_state_as_update(), before);
}

TEST(Map, SetGetRemoveIterate) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "b", Any::number(2.5)).has_value());
    ASSERT_TRUE(m.set(txn, "a", Any::integer(-7)).has_value());
    ASSERT_TRUE(m.set(txn, "c", str("x")).has_value());
    ASSERT_TRUE(m.set(txn, "c", str("y")).has_value());
  }
  EXPECT_EQ(m.size(), 3u);
  EXPECT_EQ(m.keys(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(m.get("a")->any == Any::integer(-7));
  EXPECT_TRUE(m.get("b")->any == Any::number(2.5));
  EXPECT_TRUE(m.get("c")->any == str("y"));
  EXPECT_FALSE(m.get("d").has_value());
  {
    Transaction txn(*doc);
    EXPECT_TRUE(m.remove(txn, "a"));
    EXPECT_FALSE(m.remove(txn, "a"));
    EXPECT_FALSE(m.remove(txn, "zz"));
  }
  EXPECT_FALSE(m.contains("a"));
  std::vector<std::string> seen;
  m.for_each([&](std::string_view key, const Value& value) {
    seen.push_back(std::string(key) + "=" + (value.any.is(AnyKind::kString) ? value.any.as_string() : "n"));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"b=n", "c=y"}));
  // Removed and overwritten entries are in the delete set.
  const DeleteSet ds = doc->store().delete_set();
  EXPECT_EQ(ds.clients().at(1), (std::vector<DeleteRange>{{1, 2}}));
}

TEST(Map, NestedMaps) {
  auto doc = new_doc();
  MapRef root = cant_fail(doc->get_or_create_map("sheets"));
  MapRef inner(nullptr);
  {
    Transaction txn(*doc);
    inner = cant_fail(root.get_or_insert_map(txn, "s"));
    EXPECT_EQ(cant_fail(root.get_or_insert_map(txn, "s")), inner);
    ASSERT_TRUE(inner.set(txn, "k", str("v")).has_value());
    MapRef deeper = cant_fail(inner.insert_map(txn, "d"));
    ASSERT_TRUE(deeper.set(txn, "x", Any::boolean(true)).has_value());
  }
  auto value = root.get("s");
  ASSERT_TRUE(value.has_value());
  ASSERT_EQ(value->kind, ValueKind::kMap);
  EXPECT_EQ(value->as_map(), inner);
  EXPECT_TRUE(inner.get("d")->as_map().get("x")->any == Any::boolean(true));
  // A plain value under the key is replaced by a new map.
  {
    Transaction txn(*doc);
    ASSERT_TRUE(root.set(txn, "p", Any::null()).has_value());
    MapRef fresh = cant_fail(root.get_or_insert_map(txn, "p"));
    EXPECT_EQ(fresh.size(), 0u);
  }
  EXPECT_EQ(root.get("p")->kind, ValueKind::kMap);
}

TEST(Map, OverwrittenNestedMapIsCollected) {
  auto doc = new_doc();
  MapRef root = cant_fail(doc->get_or_create_map("m"));
  MapRef inner(nullptr);
  {
    Transaction txn(*doc);
    inner = cant_fail(root.insert_map(txn, "k"));
    ASSERT_TRUE(inner.set(txn, "a", str("one")).has_value());
  }
  {
    Transaction txn(*doc);
    ASSERT_TRUE(root.set(txn, "k", str("gone")).has_value());
  }
  EXPECT_TRUE(inner.branch()->collected);
  EXPECT_EQ(inner.size(), 0u);
  // The nested map's entry became a GC struct, the map's item deleted content.
  const auto& structs = doc->store().clients().at(1);
  ASSERT_EQ(structs.size(), 3u);
  EXPECT_EQ(structs[0]->content.kind, ContentKind::kDeleted);
  EXPECT_EQ(structs[1]->kind, StructKind::kGc);
  // Writing through a stale handle is harmless: the entry is deleted at once.
  {
    Transaction txn(*doc);
    ASSERT_TRUE(inner.set(txn, "late", str("x")).has_value());
  }
  EXPECT_FALSE(inner.contains("late"));
  EXPECT_TRUE(root.get("k")->any == str("gone"));
}

TEST(Map, DeepNestingIsDeletedWithoutRecursion) {
  auto doc = new_doc();
  MapRef root = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    MapRef level = root;
    for (int depth = 0; depth < 20000; ++depth) level = cant_fail(level.insert_map(txn, "n"));
  }
  {
    Transaction txn(*doc);
    EXPECT_TRUE(root.remove(txn, "n"));
  }
  EXPECT_EQ(root.size(), 0u);
  // One deleted item for the top map, then the collected rest as one GC struct.
  const auto& structs = doc->store().clients().at(1);
  ASSERT_EQ(structs.size(), 2u);
  EXPECT_EQ(structs[1]->kind, StructKind::kGc);
  EXPECT_EQ(structs[1]->length, 19999u);
}

TEST(Array, InsertDeleteIterate) {
  auto doc = new_doc();
  ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(a.insert(txn, 0, {str("a"), str("b"), str("c"), str("d")}).has_value());
    ASSERT_TRUE(a.insert(txn, 2, {str("x"), str("y")}).has_value());
    ASSERT_TRUE(a.push_back(txn, {str("z")}).has_value());
    ASSERT_TRUE(a.insert(txn, 0, {str("s")}).has_value());
  }
  EXPECT_EQ(strings(a), (std::vector<std::string>{"s", "a", "b", "x", "y", "c", "d", "z"}));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(a.remove_range(txn, 2, 3).has_value());  // b x y
    ASSERT_TRUE(a.remove_range(txn, 0, 0).has_value());
  }
  EXPECT_EQ(strings(a), (std::vector<std::string>{"s", "a", "c", "d", "z"}));
  EXPECT_EQ(a.length(), 5u);
  EXPECT_TRUE(a.get(4)->any == str("z"));
  EXPECT_FALSE(a.get(5).has_value());
  {
    Transaction txn(*doc);
    EXPECT_THAT(a.insert(txn, 6, {str("q")}), FailsWithKind(CrdtErrorKind::kIndexOutOfRange));
    EXPECT_THAT(a.remove_range(txn, 3, 3), FailsWithKind(CrdtErrorKind::kIndexOutOfRange));
    EXPECT_THAT(a.remove_range(txn, 6, 0), FailsWithKind(CrdtErrorKind::kIndexOutOfRange));
    MapRef m = cant_fail(a.insert_map(txn, 1));
    ASSERT_TRUE(m.set(txn, "k", Any::number(1)).has_value());
  }
  EXPECT_EQ(a.length(), 6u);
  EXPECT_EQ(a.get(1)->kind, ValueKind::kMap);
  EXPECT_TRUE(a.get(1)->as_map().get("k")->any == Any::number(1));
}

TEST(Array, AppendsInSeparateTransactionsMergeIntoOneItem) {
  auto doc = new_doc();
  ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  for (const char* text : {"a", "b", "c"}) {
    Transaction txn(*doc);
    ASSERT_TRUE(a.push_back(txn, {str(text)}).has_value());
  }
  const auto& structs = doc->store().clients().at(1);
  ASSERT_EQ(structs.size(), 1u);
  EXPECT_EQ(structs[0]->length, 3u);
  // Deleting the middle splits the item; deleting the rest merges it again.
  {
    Transaction txn(*doc);
    ASSERT_TRUE(a.remove_range(txn, 1, 1).has_value());
  }
  EXPECT_EQ(doc->store().clients().at(1).size(), 3u);
  {
    Transaction txn(*doc);
    ASSERT_TRUE(a.remove_range(txn, 0, 2).has_value());
  }
  ASSERT_EQ(doc->store().clients().at(1).size(), 1u);
  EXPECT_EQ(doc->store().clients().at(1)[0]->content.kind, ContentKind::kDeleted);
  EXPECT_EQ(a.length(), 0u);
}

TEST(Transaction, ObserversSeeOriginStateAndChanges) {
  auto doc = new_doc(5);
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "old", str("v")).has_value());
  }
  struct Seen {
    std::string origin;
    uint32_t before;
    uint32_t after;
    DeleteSet deleted;
    std::vector<std::string> keys;
  };
  std::vector<Seen> seen;
  const uint64_t id = doc->observe_after_transaction([&](Doc& d, const TransactionEvent& event) {
    Seen entry{event.origin, event.before_state.get(5), event.after_state.get(5), event.delete_set, {}};
    for (const ChangedType& changed : event.changed) {
      if (changed.type == d.find_root("m")) entry.keys = changed.keys;
    }
    seen.push_back(entry);
  });
  const std::string origin("\x00\x00\x00\x00\x00\x00\x00\x05", 8);
  {
    Transaction txn(*doc, origin);
    ASSERT_TRUE(m.set(txn, "new", str("w")).has_value());
    EXPECT_TRUE(m.remove(txn, "old"));
  }
  doc->unobserve(id);
  {
    Transaction txn(*doc, "xlsx:user");
    ASSERT_TRUE(m.set(txn, "later", str("x")).has_value());
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].origin, origin);
  EXPECT_EQ(seen[0].before, 1u);
  EXPECT_EQ(seen[0].after, 2u);
  EXPECT_TRUE(seen[0].deleted.contains({5, 0}));
  EXPECT_FALSE(seen[0].deleted.contains({5, 1}));
  EXPECT_EQ(seen[0].keys, (std::vector<std::string>{"new", "old"}));
}

TEST(Transaction, KeptItemsKeepTheirContent) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", str("first")).has_value());
  }
  doc->observe_after_transaction([](Doc& d, const TransactionEvent& event) {
    for (const auto& [client, ranges] : event.delete_set.clients()) {
      for (const DeleteRange& range : ranges) d.store().find({client, range.clock})->keep = true;
    }
  });
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", str("second")).has_value());
  }
  const Item* first = doc->store().find({1, 0});
  EXPECT_TRUE(first->deleted);
  ASSERT_EQ(first->content.kind, ContentKind::kAny);
  EXPECT_TRUE(first->content.values[0] == str("first"));
}

// Values of a nested array deleted in an earlier transaction are offered for
// merging when the array itself goes; once collected, the right one merges
// into two left neighbours at once, and the commit must not then merge at a
// position past the shortened list.
TEST(Transaction, CollectedChildrenMergingTwiceCommitSafely) {
  auto doc = new_doc(7);
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  ArrayRef array(nullptr);
  MapRef nested(nullptr);
  {
    Transaction txn(*doc);
    array = cant_fail(m.insert_array(txn, "a"));
    ASSERT_TRUE(array.insert(txn, 0, {str("0")}).has_value());
    nested = cant_fail(array.insert_map(txn, 0));
  }
  {
    Transaction txn(*doc);
    ASSERT_TRUE(array.remove_range(txn, 0, 2).has_value());
    ASSERT_TRUE(nested.set(txn, "d", Any::number(1)).has_value());
  }
  {
    Transaction txn(*doc);
    EXPECT_TRUE(m.remove(txn, "a"));
  }
  EXPECT_FALSE(m.contains("a"));
  uint32_t clock = 0;
  for (const auto& item : doc->store().clients().at(7)) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->id.clock, clock);
    clock += item->length;
  }
  EXPECT_EQ(clock, 4u);
  auto copy = new_doc(2);
  ASSERT_TRUE(copy->apply_update(doc->encode_state_as_update()).has_value());
  EXPECT_EQ(copy->encode_state_as_update(), doc->encode_state_as_update());
}

TEST(Transaction, WithoutCollectionDeletedValuesStayInUpdates) {
  auto collected = new_doc(1, /*gc=*/true);
  auto kept = new_doc(1, /*gc=*/false);
  for (Doc* doc : {collected.get(), kept.get()}) {
    MapRef m = cant_fail(doc->get_or_create_map("m"));
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", str("secret")).has_value());
    ASSERT_TRUE(m.set(txn, "k", str("v")).has_value());
  }
  auto contains = [](const Bytes& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
  };
  EXPECT_FALSE(contains(collected->encode_state_as_update(), "secret"));
  EXPECT_TRUE(contains(kept->encode_state_as_update(), "secret"));
}

Bytes scripted_update(uint64_t client) {
  auto doc = new_doc(client);
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  for (int round = 0; round < 20; ++round) {
    Transaction txn(*doc, "xlsx:user");
    const std::string key = std::to_string(round % 7);
    if (round % 3 == 0) {
      MapRef inner = cant_fail(m.get_or_insert_map(txn, key));
      EXPECT_TRUE(inner.set(txn, std::to_string(round), Any::number(round * 0.5)).has_value());
    } else {
      EXPECT_TRUE(m.set(txn, key, Any::integer(round)).has_value());
    }
    EXPECT_TRUE(a.insert(txn, static_cast<size_t>(round) % (a.length() + 1), {Any::number(round)}).has_value());
    if (round % 4 == 3) {
      EXPECT_TRUE(a.remove_range(txn, 0, 1).has_value());
    }
  }
  return doc->encode_state_as_update();
}

TEST(Encoding, SameEditsSameBytes) {
  const Bytes first = scripted_update(77);
  EXPECT_EQ(scripted_update(77), first);
  EXPECT_NE(scripted_update(78), first);
}

TEST(Encoding, DiffSlicesTheFirstStruct) {
  auto doc = new_doc(3);
  ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(a.insert(txn, 0, {str("p"), str("q"), str("r")}).has_value());
  }
  StateVector since;
  since.set(3, 1);
  // One group of one struct from clock 1: an Any item with origin (3, 0).
  const Bytes expected = {1, 1, 3, 1, 0x88, 3, 0, 2, 119, 1, 'q', 119, 1, 'r', 0};
  EXPECT_EQ(doc->encode_state_as_update(since), expected);
  EXPECT_EQ(cant_fail(doc->encode_diff(encode_state_vector(since))), expected);
  // A state vector that knows everything, or more, gives the empty update.
  since.set(3, 9);
  EXPECT_EQ(doc->encode_state_as_update(since), (Bytes{0, 0}));
  EXPECT_THAT(doc->encode_diff(Bytes{1, 3}), FailsWithKind(CrdtErrorKind::kLengthExceedsPayload));
}

}  // namespace
}  // namespace cmx::crdt

namespace cmx::crdt {
namespace {

TEST(Encoding, GcAndSkipStructsAndTheirSlices) {
  Item gc;
  gc.id = {4, 10};
  gc.length = 5;
  gc.kind = StructKind::kGc;
  Item skip = gc;
  skip.kind = StructKind::kSkip;
  struct Case {
    const char* name;
    const Item* item;
    uint32_t offset;
    Bytes bytes;
  };
  const Case cases[] = {
      {"gc", &gc, 0, {0, 5}},
      {"gc slice", &gc, 3, {0, 2}},
      {"skip", &skip, 0, {10, 5}},
      {"skip slice", &skip, 4, {10, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Encoder encoder;
    write_struct(encoder, *c.item, c.offset);
    EXPECT_EQ(encoder.take(), c.bytes);
  }
}

TEST(Encoding, DiffSlicesCollectedStructs) {
  auto doc = new_doc(2);
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    MapRef inner = cant_fail(m.insert_map(txn, "k"));
    for (const char* key : {"a", "b", "c"}) ASSERT_TRUE(inner.set(txn, key, str("v")).has_value());
  }
  {
    Transaction txn(*doc);
    EXPECT_TRUE(m.remove(txn, "k"));
  }
  StateVector since;
  since.set(2, 2);
  // The GC struct of clocks 1..3 sliced at clock 2, then the delete set.
  EXPECT_EQ(doc->encode_state_as_update(since), (Bytes{1, 1, 2, 2, 0, 2, 1, 2, 1, 0, 4}));
}

}  // namespace
}  // namespace cmx::crdt

namespace cmx::crdt {
namespace {

TEST(Doc, ReadLockIsFreeOutsideTransactions) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    auto lock = doc->read_lock();
    EXPECT_TRUE(lock.owns_lock());
    EXPECT_EQ(doc->encode_state_vector(), (Bytes{0}));
  }
  {
    Transaction txn(*doc);
    EXPECT_EQ(doc->active_transaction(), &txn);
    ASSERT_TRUE(m.set(txn, "k", str("v")).has_value());
  }
  EXPECT_EQ(doc->active_transaction(), nullptr);
  auto lock = doc->read_lock();
  EXPECT_EQ(doc->encode_state_vector(), (Bytes{1, 1, 1}));
}

}  // namespace
}  // namespace cmx::crdt

namespace cmx::crdt {
namespace {

TEST(Doc, UntypedRootsTakeTheirFirstKind) {
  auto doc = new_doc();
  Branch* open = doc->root("r");
  EXPECT_EQ(open->type_ref, TypeRef::kUnknown);
  EXPECT_EQ(doc->root("r"), open);
  // Untyped roots are visible to both lookups until one kind is asked for.
  EXPECT_TRUE(doc->find_map("r").has_value());
  EXPECT_TRUE(doc->find_array("r").has_value());
  EXPECT_EQ(cant_fail(doc->get_or_create_array("r")).branch(), open);
  EXPECT_EQ(open->type_ref, TypeRef::kArray);
  EXPECT_FALSE(doc->find_map("r").has_value());
  EXPECT_THAT(doc->get_or_create_map("r"), FailsWithKind(CrdtErrorKind::kRootKindMismatch));
}

}  // namespace
}  // namespace cmx::crdt
