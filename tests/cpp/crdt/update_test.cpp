// Remote updates: decoding, integration of concurrent edits, blocks and
// deletions that wait for missing predecessors, delete sets, collection of
// deleted content, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/number_text.h"
#include "crdt/crdt.h"
#include "test_util.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<Doc> new_doc(uint64_t client, bool gc = true) { return cant_fail(Doc::create(client, gc)); }
Any str(const char* text) { return Any::string(text); }

std::string text_of(const Value& value);

std::string any_text(const Any& any) {
  switch (any.kind()) {
    case AnyKind::kString:
      return "'" + any.as_string() + "'";
    case AnyKind::kInteger:
      return format_i64(any.as_integer());
    case AnyKind::kNumber:
      return format_i64(static_cast<int64_t>(any.as_number())) + ".0";
    case AnyKind::kNull:
      return "null";
    default:
      return "?";
  }
}

std::string map_text(const MapRef& map) {
  std::string out = "{";
  map.for_each([&](std::string_view key, const Value& value) {
    out += std::string(key) + ":" + text_of(value) + ",";
  });
  return out + "}";
}

std::string array_text(const ArrayRef& array) {
  std::string out = "[";
  for (const Value& value : array.to_vector()) out += text_of(value) + ",";
  return out + "]";
}

std::string text_of(const Value& value) {
  switch (value.kind) {
    case ValueKind::kAny:
      return any_text(value.any);
    case ValueKind::kMap:
      return map_text(value.as_map());
    case ValueKind::kArray:
      return array_text(value.as_array());
  }
  return {};
}

// Roots "m" (map) and "a" (array), as text.
std::string content(Doc& doc) {
  return map_text(cant_fail(doc.get_or_create_map("m"))) + array_text(cant_fail(doc.get_or_create_array("a")));
}

Bytes state(const Doc& doc) { return doc.encode_state_as_update(); }

// Sends `from`'s changes that `to` lacks.
void sync(const Doc& from, Doc& to) {
  const Bytes diff = cant_fail(from.encode_diff(to.encode_state_vector()));
  ASSERT_TRUE(to.apply_update(diff, "xlsx:remote").has_value());
}

// Updates written by one transaction each, through an observer.
struct Recorder {
  explicit Recorder(Doc& doc) {
    doc.observe_after_transaction([this](Doc& d, const TransactionEvent& event) {
      updates.push_back(d.encode_transaction_update(event));
    });
  }
  std::vector<Bytes> updates;
};

TEST(Remote, WholeStateReadsBackTheSame) {
  auto a = new_doc(1);
  MapRef m = cant_fail(a->get_or_create_map("m"));
  ArrayRef arr = cant_fail(a->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.set(txn, "k", Any::integer(7)).has_value());
    MapRef nested = cant_fail(m.insert_map(txn, "n"));
    ASSERT_TRUE(nested.set(txn, "x", str("deep")).has_value());
    ASSERT_TRUE(arr.insert(txn, 0, {str("p"), str("q"), str("r")}).has_value());
    MapRef in_array = cant_fail(arr.insert_map(txn, 1));
    ASSERT_TRUE(in_array.set(txn, "y", Any::number(2)).has_value());
  }
  {
    Transaction txn(*a);
    ASSERT_TRUE(arr.remove_range(txn, 2, 1).has_value());
    ASSERT_TRUE(m.set(txn, "k", Any::null()).has_value());
  }
  auto b = new_doc(2);
  ASSERT_TRUE(b->apply_update(state(*a)).has_value());
  EXPECT_EQ(content(*b), content(*a));
  EXPECT_EQ(content(*b), "{k:null,n:{x:'deep',},}['p',{y:2.0,},'r',]");
  EXPECT_EQ(b->state_vector(), a->state_vector());
  EXPECT_EQ(state(*b), state(*a));
  EXPECT_FALSE(b->has_pending());
  // Applying it again changes nothing.
  ASSERT_TRUE(b->apply_update(state(*a)).has_value());
  EXPECT_EQ(state(*b), state(*a));
}

TEST(Remote, ConcurrentSetsOfOneKeyHaveOneWinnerEverywhere) {
  // Whatever the order of delivery, the set of the highest client wins.
  const std::vector<std::vector<int>> orders = {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}, {2, 0, 1}};
  for (const auto& order : orders) {
    std::vector<std::unique_ptr<Doc>> docs;
    for (uint64_t client : {5, 9, 7}) {
      docs.push_back(new_doc(client));
      MapRef m = cant_fail(docs.back()->get_or_create_map("m"));
      Transaction txn(*docs.back());
      ASSERT_TRUE(m.set(txn, "k", Any::string(format_u64(client))).has_value());
    }
    for (int from : order) {
      for (int to = 0; to < 3; ++to) {
        if (to != from) sync(*docs[from], *docs[to]);
      }
    }
    for (const auto& doc : docs) {
      EXPECT_EQ(content(*doc), "{k:'9',}[]");
      EXPECT_EQ(doc->state_vector(), docs[0]->state_vector());
      EXPECT_FALSE(doc->has_pending());
    }
  }
}

TEST(Remote, ConcurrentArrayInsertsConverge) {
  auto a = new_doc(1);
  auto b = new_doc(2);
  ArrayRef aa = cant_fail(a->get_or_create_array("a"));
  ArrayRef ba = cant_fail(b->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.insert(txn, 0, {str("x"), str("y")}).has_value());
  }
  sync(*a, *b);
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.insert(txn, 1, {str("a1")}).has_value());
    ASSERT_TRUE(aa.insert(txn, 0, {str("a0")}).has_value());
  }
  {
    Transaction txn(*b);
    ASSERT_TRUE(ba.insert(txn, 1, {str("b1"), str("b2")}).has_value());
    ASSERT_TRUE(ba.insert(txn, 0, {str("b0")}).has_value());
    ASSERT_TRUE(ba.remove_range(txn, 3, 1).has_value());  // b2... no: "x","b1" -> deletes b2
  }
  sync(*a, *b);
  sync(*b, *a);
  EXPECT_EQ(content(*a), content(*b));
  // Same origins: the lower client first.
  EXPECT_EQ(array_text(aa), "['a0','b0','x','a1','b1','y',]");
  EXPECT_EQ(a->state_vector(), b->state_vector());
}

TEST(Remote, OutOfOrderUpdatesWaitAndIntegrateWhenTheGapCloses) {
  auto a = new_doc(1);
  Recorder rec(*a);
  MapRef m = cant_fail(a->get_or_create_map("m"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.set(txn, "first", str("1")).has_value());
  }
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.insert_map(txn, "n").has_value());
  }
  {
    Transaction txn(*a);
    MapRef n = m.get("n")->as_map();
    ASSERT_TRUE(n.set(txn, "x", str("2")).has_value());
  }
  ASSERT_EQ(rec.updates.size(), 3u);
  // A second client's item whose origin is one of the first client's.
  auto c = new_doc(3);
  ASSERT_TRUE(c->apply_update(state(*a)).has_value());
  ArrayRef ca = cant_fail(c->get_or_create_array("a"));
  {
    Transaction txn(*c);
    ASSERT_TRUE(ca.insert(txn, 0, {str("c")}).has_value());
  }
  auto b = new_doc(2);
  ASSERT_TRUE(b->apply_update(state(*c), "xlsx:remote").has_value());
  EXPECT_TRUE(b->has_pending() == false);

  auto d = new_doc(4);
  ASSERT_TRUE(d->apply_update(rec.updates[2]).has_value());
  EXPECT_TRUE(d->has_pending());
  EXPECT_EQ(d->state_vector(), StateVector());
  EXPECT_EQ(d->pending_structs().awaits.at(1), (ID{1, 1}));
  ASSERT_TRUE(d->apply_update(rec.updates[1]).has_value());
  EXPECT_TRUE(d->has_pending());
  EXPECT_EQ(content(*d), "{}[]");
  // Sent again, the same blocks do not pile up.
  auto waiting = [&] {
    size_t count = 0;
    for (const auto& [client, queue] : d->pending_structs().clients) count += queue.waiting().size();
    return count;
  };
  const size_t before = waiting();
  EXPECT_EQ(before, 2u);
  for (int again = 0; again < 3; ++again) {
    ASSERT_TRUE(d->apply_update(rec.updates[2]).has_value());
    ASSERT_TRUE(d->apply_update(rec.updates[1]).has_value());
  }
  EXPECT_EQ(waiting(), before);
  ASSERT_TRUE(d->apply_update(rec.updates[0]).has_value());
  EXPECT_FALSE(d->has_pending());
  EXPECT_EQ(content(*d), "{first:'1',n:{x:'2',},}[]");
  EXPECT_EQ(d->state_vector(), a->state_vector());
}

TEST(Remote, BlocksWaitForAnotherClientsItems) {
  auto a = new_doc(1);
  ArrayRef aa = cant_fail(a->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.insert(txn, 0, {str("a"), str("b")}).has_value());
  }
  auto c = new_doc(3);
  sync(*a, *c);
  ArrayRef ca = cant_fail(c->get_or_create_array("a"));
  {
    Transaction txn(*c);
    ASSERT_TRUE(ca.insert(txn, 1, {str("c")}).has_value());  // between a and b
  }
  const Bytes from_c = cant_fail(c->encode_diff(a->encode_state_vector()));
  auto d = new_doc(4);
  ASSERT_TRUE(d->apply_update(from_c).has_value());
  EXPECT_TRUE(d->has_pending());
  EXPECT_EQ(d->pending_structs().awaits.at(3), (ID{1, 0}));
  EXPECT_EQ(content(*d), "{}[]");
  ASSERT_TRUE(d->apply_update(state(*a)).has_value());
  EXPECT_FALSE(d->has_pending());
  EXPECT_EQ(content(*d), "{}['a','c','b',]");
}

TEST(Remote, DeletionsOfUnknownItemsWait) {
  auto a = new_doc(1);
  Recorder rec(*a);
  ArrayRef aa = cant_fail(a->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.insert(txn, 0, {str("a"), str("b"), str("c"), str("d"), str("e")}).has_value());
  }
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.remove_range(txn, 1, 2).has_value());
  }
  // The second update carries only the delete set (its structs are known).
  auto b = new_doc(2);
  ASSERT_TRUE(b->apply_update(rec.updates[1]).has_value());
  EXPECT_TRUE(b->has_pending());
  EXPECT_FALSE(b->pending_delete_set().empty());
  ASSERT_TRUE(b->apply_update(rec.updates[0]).has_value());
  EXPECT_FALSE(b->has_pending());
  EXPECT_EQ(content(*b), "{}['a','d','e',]");
  // The one item was split around the deleted range.
  const auto& structs = b->store().clients().at(1);
  ASSERT_EQ(structs.size(), 3u);
  EXPECT_TRUE(structs[1]->deleted);
  EXPECT_EQ(structs[1]->length, 2u);
  EXPECT_EQ(structs[1]->content.kind, ContentKind::kDeleted);
  EXPECT_EQ(state(*b), state(*a));
}

TEST(Remote, DeleteSetSplitsKnownItems) {
  auto a = new_doc(1);
  ArrayRef aa = cant_fail(a->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.insert(txn, 0, {str("a"), str("b"), str("c"), str("d"), str("e")}).has_value());
  }
  auto b = new_doc(2, /*gc=*/false);
  sync(*a, *b);
  {
    Transaction txn(*a);
    ASSERT_TRUE(aa.remove_range(txn, 3, 1).has_value());
    ASSERT_TRUE(aa.remove_range(txn, 0, 2).has_value());
  }
  sync(*a, *b);
  EXPECT_EQ(content(*b), "{}['c','e',]");
  EXPECT_EQ(cant_fail(b->get_or_create_array("a")).length(), 2u);
  // Without collection the deleted parts keep their values.
  const auto& structs = b->store().clients().at(1);
  ASSERT_EQ(structs.size(), 4u);
  EXPECT_TRUE(structs[0]->deleted && structs[0]->length == 2 && structs[0]->content.values.size() == 2);
  EXPECT_FALSE(structs[1]->deleted);
  EXPECT_TRUE(structs[2]->deleted);
  EXPECT_FALSE(structs[3]->deleted);
}

TEST(Remote, ItemsInADeletedTypeAreBornDeletedOrCollected) {
  for (bool gc : {true, false}) {
    SCOPED_TRACE(gc);
    auto a = new_doc(1);
    auto b = new_doc(2, gc);
    MapRef am = cant_fail(a->get_or_create_map("m"));
    {
      Transaction txn(*a);
      MapRef n = cant_fail(am.insert_map(txn, "n"));
      ASSERT_TRUE(n.set(txn, "old", str("o")).has_value());
    }
    sync(*a, *b);
    MapRef bm = cant_fail(b->get_or_create_map("m"));
    {
      Transaction txn(*b);
      ASSERT_TRUE(bm.remove(txn, "n"));
    }
    {
      Transaction txn(*a);
      ASSERT_TRUE(am.get("n")->as_map().set(txn, "new", str("x")).has_value());
    }
    sync(*a, *b);
    sync(*b, *a);
    EXPECT_EQ(content(*a), "{}[]");
    EXPECT_EQ(content(*b), "{}[]");
    EXPECT_EQ(a->state_vector(), b->state_vector());
    // The late entry: a GC struct where the map was collected, a deleted item
    // where it was not.
    const Item* late = b->store().find(ID{1, 2});
    ASSERT_NE(late, nullptr);
    if (gc) {
      EXPECT_EQ(late->kind, StructKind::kGc);
    } else {
      EXPECT_EQ(late->kind, StructKind::kItem);
      EXPECT_TRUE(late->deleted);
    }
    // A third replica learns all of it from either.
    auto c = new_doc(3);
    sync(*b, *c);
    EXPECT_EQ(content(*c), "{}[]");
    EXPECT_EQ(c->state_vector(), a->state_vector());
  }
}

// An update of one client's items, written by hand.
struct UpdateWriter {
  Encoder enc;
  void header(uint64_t blocks, uint64_t client, uint32_t clock) {
    enc.write_var_uint(1);
    enc.write_var_uint(blocks);
    enc.write_var_uint(client);
    enc.write_var_uint(clock);
  }
  void root_entry(const char* root, const char* key, const Any& value) {
    enc.write_u8(0x28);  // Any, key follows
    enc.write_var_uint(1);
    enc.write_string(root);
    enc.write_string(key);
    enc.write_var_uint(1);
    write_any(enc, value);
  }
  Bytes finish() {
    enc.write_var_uint(0);
    return enc.take();
  }
};

TEST(Remote, ParentThatIsNeitherTypeNorDeletedIsRefused) {
  UpdateWriter w;
  w.header(2, 4, 0);
  w.root_entry("m", "k", str("v"));
  w.enc.write_u8(0x28);  // parent: the item (4, 0), which holds an Any value
  w.enc.write_var_uint(0);
  w.enc.write_var_uint(4);
  w.enc.write_var_uint(0);
  w.enc.write_string("x");
  w.enc.write_var_uint(1);
  write_any(w.enc, str("w"));
  auto doc = new_doc(1);
  auto applied = doc->apply_update(w.finish());
  ASSERT_FALSE(applied.has_value());
  EXPECT_EQ(applied.error(), (CrdtError{CrdtErrorKind::kInvalidParent, 4, 0, 8}));
  EXPECT_EQ(crdt_error_message(applied.error()), "block parent <4#0> must be deleted or shared ref type. Type: 8");
  // What came before the refused block stays, and the store stays usable.
  EXPECT_EQ(content(*doc), "{k:'v',}[]");
  EXPECT_EQ(doc->state_vector().get(4), 1u);
  auto other = new_doc(2);
  ASSERT_TRUE(other->apply_update(state(*doc)).has_value());
  EXPECT_EQ(content(*other), "{k:'v',}[]");
}

TEST(Remote, ParentThatWasDeletedMakesGc) {
  auto a = new_doc(1);
  MapRef m = cant_fail(a->get_or_create_map("m"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.insert_map(txn, "n").has_value());
  }
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.remove(txn, "n"));
  }
  // A late entry of client 6 in the collected map (1, 0).
  UpdateWriter w;
  w.header(1, 6, 0);
  w.enc.write_u8(0x28);
  w.enc.write_var_uint(0);
  w.enc.write_var_uint(1);
  w.enc.write_var_uint(0);
  w.enc.write_string("x");
  w.enc.write_var_uint(1);
  write_any(w.enc, str("w"));
  ASSERT_TRUE(a->apply_update(w.finish()).has_value());
  const Item* late = a->store().find(ID{6, 0});
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->kind, StructKind::kGc);
  EXPECT_EQ(content(*a), "{}[]");
}

TEST(Remote, ASliceWhosePredecessorLiesElsewhereBecomesGc) {
  // Two documents under one client id: the second one's array item overlaps
  // the first one's map entry, and its new part would follow that entry.
  auto first = new_doc(3);
  auto forked = new_doc(3);
  {
    Transaction txn(*first);
    ASSERT_TRUE(cant_fail(first->get_or_create_map("m")).set(txn, "k", str("v")).has_value());
  }
  {
    Transaction txn(*forked);
    ASSERT_TRUE(cant_fail(forked->get_or_create_array("a")).insert(txn, 0, {str("p"), str("q")}).has_value());
  }
  auto doc = new_doc(1);
  ASSERT_TRUE(doc->apply_update(state(*first)).has_value());
  ASSERT_TRUE(doc->apply_update(state(*forked)).has_value());
  EXPECT_EQ(content(*doc), "{k:'v',}[]");
  EXPECT_EQ(cant_fail(doc->get_or_create_array("a")).length(), 0u);
  const Item* slice = doc->store().find(ID{3, 1});
  ASSERT_NE(slice, nullptr);
  EXPECT_EQ(slice->kind, StructKind::kGc);
  EXPECT_EQ(doc->state_vector().get(3), 2u);
}

TEST(Remote, HostileUpdatesAreRefusedWithoutChangingTheDocument) {
  struct Case {
    const char* name;
    Bytes bytes;
    CrdtErrorKind kind;
  };
  // One client group of one block, then an empty delete set.
  auto group = [](std::initializer_list<uint8_t> block) {
    Bytes out = {1, 1, 4, 0};
    for (uint8_t byte : block) out.push_back(byte);
    out.push_back(0);
    return out;
  };
  const std::vector<Case> cases = {
      {"GC of length 0", group({0x00, 0}), CrdtErrorKind::kEmptyBlock},
      {"skip of length 0", group({0x0a, 0}), CrdtErrorKind::kEmptyBlock},
      {"string content", group({0x04, 1, 1, 'm', 1, 'x'}), CrdtErrorKind::kUnsupportedContent},
      {"GC with a flag bit", group({0x20, 1}), CrdtErrorKind::kUnsupportedContent},
      {"skip with a flag bit", group({0x8a, 1}), CrdtErrorKind::kUnsupportedContent},
      {"item ending at 2^31", Bytes{1, 1, 4, 0xff, 0xff, 0xff, 0xff, 0x07, 0x07, 1, 1, 'm', 1, 0},
       CrdtErrorKind::kClockTooLarge},
      {"text type", group({0x07, 1, 1, 'm', 2}), CrdtErrorKind::kUnsupportedType},
      {"parent flag 2", group({0x08, 2, 1, 'm', 1, 0x7e}), CrdtErrorKind::kUnexpectedValue},
      {"Any longer than the input", group({0x08, 1, 1, 'm', 0x7f}), CrdtErrorKind::kLengthExceedsPayload},
      {"block count beyond the input", Bytes{1, 0x7f, 4, 0, 0}, CrdtErrorKind::kLengthExceedsPayload},
      {"client id of 2^53", Bytes{1, 1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x10, 0, 0, 1, 0},
       CrdtErrorKind::kClientIdTooLarge},
      {"clock past 2^31 - 1", Bytes{1, 1, 4, 0xff, 0xff, 0xff, 0xff, 0x07, 0, 2, 0},
       CrdtErrorKind::kClockTooLarge},
      {"block ending past 2^31 - 1", Bytes{1, 1, 4, 0xfe, 0xff, 0xff, 0xff, 0x07, 0, 3, 0},
       CrdtErrorKind::kClockTooLarge},
      {"trailing bytes", Bytes{0, 0, 0}, CrdtErrorKind::kUpdateTrailingBytes},
      {"empty delete range", Bytes{0, 1, 4, 1, 0, 0}, CrdtErrorKind::kEmptyDeleteRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = new_doc(1);
    EXPECT_THAT(doc->apply_update(c.bytes), FailsWithKind(c.kind));
    EXPECT_EQ(state(*doc), (Bytes{0, 0}));
    EXPECT_FALSE(doc->has_pending());
  }
}

TEST(Remote, ContentsOfLengthZeroTakeNoClockAndAreDropped) {
  // An Any and a Deleted content of length 0 at clock 0, then a one-value
  // Any that therefore also starts at clock 0.
  const Bytes bytes = {1, 3, 4, 0, 0x08, 1, 1, 'm', 0, 0x01, 1, 1, 'm', 0, 0x28, 1, 1, 'm', 1, 'k', 1, 0x77, 1, 'v', 0};
  auto doc = new_doc(1);
  ASSERT_TRUE(doc->apply_update(bytes).has_value());
  EXPECT_EQ(content(*doc), "{k:'v',}[]");
  EXPECT_EQ(doc->state_vector().get(4), 1u);
  EXPECT_EQ(doc->store().clients().at(4).size(), 1u);
}

TEST(Remote, EveryTruncationOfAnUpdateIsRefused) {
  auto a = new_doc(1);
  MapRef m = cant_fail(a->get_or_create_map("m"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(m.set(txn, "k", Any::array({str("v"), Any::number(0.5)})).has_value());
    ASSERT_TRUE(m.insert_map(txn, "n").has_value());
    ASSERT_TRUE(m.remove(txn, "k"));
  }
  const Bytes full = state(*a);
  for (size_t len = 0; len < full.size(); ++len) {
    auto doc = new_doc(2);
    EXPECT_FALSE(doc->apply_update(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len))).has_value())
        << len;
    EXPECT_EQ(state(*doc), (Bytes{0, 0}));
  }
}

TEST(Remote, DeepNestingIsIntegratedDeletedAndCollectedWithoutRecursion) {
  constexpr int kDepth = 50000;
  auto a = new_doc(1);
  MapRef root = cant_fail(a->get_or_create_map("m"));
  {
    Transaction txn(*a);
    MapRef level = root;
    for (int depth = 0; depth < kDepth; ++depth) level = cant_fail(level.insert_map(txn, "n"));
    ASSERT_TRUE(level.set(txn, "leaf", str("x")).has_value());
  }
  auto b = new_doc(2);
  sync(*a, *b);
  MapRef level = cant_fail(b->get_or_create_map("m"));
  for (int depth = 0; depth < kDepth; ++depth) level = level.get("n")->as_map();
  EXPECT_TRUE(level.get("leaf")->any == str("x"));
  {
    Transaction txn(*a);
    EXPECT_TRUE(root.remove(txn, "n"));
  }
  sync(*a, *b);
  EXPECT_EQ(content(*b), "{}[]");
  EXPECT_EQ(state(*b), state(*a));
}

// Records the walk of the decoder.
class Trace final : public UpdateVisitor {
 public:
  Result<void, CrdtError> client_count(uint64_t count) override {
    events.push_back("clients " + format_u64(count));
    return {};
  }
  Result<void, CrdtError> client_group(uint64_t client, uint32_t clock, uint64_t count) override {
    events.push_back("group " + format_u64(client) + " " + format_u64(clock) + " " + format_u64(count));
    return {};
  }
  Result<void, CrdtError> content_length(StructKind, ContentKind content, uint64_t length) override {
    events.push_back("length " + format_u64(static_cast<uint64_t>(content)) + " " + format_u64(length));
    if (length > limit) return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, length, limit});
    return {};
  }
  Result<void, CrdtError> block(Block&& block) override {
    events.push_back("block " + format_u64(block.id.clock) + "+" + format_u64(block.length));
    return {};
  }
  Result<void, CrdtError> delete_client(uint64_t client, uint64_t count) override {
    events.push_back("deletes " + format_u64(client) + " " + format_u64(count));
    return {};
  }
  Result<void, CrdtError> delete_range(uint64_t, uint32_t clock, uint32_t len) override {
    events.push_back("range " + format_u64(clock) + "+" + format_u64(len));
    return {};
  }
  std::vector<std::string> events;
  uint64_t limit = 100;
};

TEST(Decoder, VisitorSeesEveryPartAsItIsRead) {
  auto a = new_doc(1);
  ArrayRef arr = cant_fail(a->get_or_create_array("a"));
  {
    Transaction txn(*a);
    ASSERT_TRUE(arr.insert(txn, 0, {str("p"), str("q"), str("r")}).has_value());
    ASSERT_TRUE(arr.insert_map(txn, 3).has_value());
  }
  {
    Transaction txn(*a);
    ASSERT_TRUE(arr.remove_range(txn, 1, 1).has_value());
  }
  const Bytes bytes = state(*a);
  Decoder decoder(bytes);
  Trace trace;
  ASSERT_TRUE(decode_update(decoder, trace).has_value());
  EXPECT_TRUE(decoder.at_end());
  EXPECT_EQ(trace.events,
            (std::vector<std::string>{"clients 1", "group 1 0 4", "length 8 1", "block 0+1", "length 1 1",
                                      "block 1+1", "length 8 1", "block 2+1", "block 3+1", "deletes 1 1",
                                      "range 1+1"}));
  // A visitor's refusal ends the walk before the values are read.
  Trace strict;
  strict.limit = 0;
  Decoder again(bytes);
  EXPECT_THAT(decode_update(again, strict), FailsWithKind(CrdtErrorKind::kLengthExceedsPayload));
  EXPECT_EQ(strict.events.back(), "length 8 1");
}


// Client 2's items each follow one item of client 1; they arrive first and
// wait, then client 1's items arrive one update each (in `order`).
void chain_case(const std::vector<size_t>& order) {
  const size_t count = order.size();
  auto a = new_doc(1);
  Recorder rec(*a);
  ArrayRef list = cant_fail(a->get_or_create_array("a"));
  for (size_t idx = 0; idx < count; ++idx) {
    Transaction txn(*a);
    ASSERT_TRUE(list.insert(txn, idx, {Any::number(static_cast<double>(idx))}).has_value());
  }
  auto b = new_doc(2);
  sync(*a, *b);
  ArrayRef b_list = cant_fail(b->get_or_create_array("a"));
  {
    Transaction txn(*b);
    for (size_t idx = 0; idx < count; ++idx) ASSERT_TRUE(b_list.insert(txn, 2 * idx + 1, {str("b")}).has_value());
  }
  auto d = new_doc(3);
  ASSERT_TRUE(d->apply_update(cant_fail(b->encode_diff(a->encode_state_vector()))).has_value());
  for (size_t idx = 0; idx < count; ++idx) {
    EXPECT_TRUE(d->has_pending());
    ASSERT_TRUE(d->apply_update(rec.updates[order[idx]]).has_value());
  }
  EXPECT_FALSE(d->has_pending());
  EXPECT_EQ(content(*d), content(*b));
  EXPECT_EQ(d->state_vector(), b->state_vector());
}

TEST(Remote, WaitingChainIntegratesAsItsPredecessorsArrive) {
  std::vector<size_t> forward(50);
  for (size_t idx = 0; idx < forward.size(); ++idx) forward[idx] = idx;
  chain_case(forward);
  // Backwards: every update waits until the first one arrives last.
  std::vector<size_t> backward(forward.rbegin(), forward.rend());
  chain_case(backward);
}

}  // namespace
}  // namespace cmx::crdt
