#include "crdt/undo_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crdt/crdt.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kLocal = "local";

// Content of a value as short text: maps as {k:v,}, arrays as [v,].
std::string text(const Value& value) {
  if (value.kind == ValueKind::kMap) {
    std::string out = "{";
    value.as_map().for_each([&](std::string_view key, const Value& inner) {
      out += std::string(key) + ":" + text(inner) + ",";
    });
    return out + "}";
  }
  if (value.kind == ValueKind::kArray) {
    std::string out = "[";
    for (const Value& inner : value.as_array().to_vector()) out += text(inner) + ",";
    return out + "]";
  }
  if (value.any.is(AnyKind::kString)) return value.any.as_string();
  if (value.any.is(AnyKind::kNumber)) return std::to_string(static_cast<int>(value.any.as_number()));
  return "?";
}

struct Replica {
  explicit Replica(uint64_t client, bool gc = true) : doc(cant_fail(Doc::create(client, gc))) {
    m = cant_fail(doc->get_or_create_map("m")).branch();
    a = cant_fail(doc->get_or_create_array("a")).branch();
  }
  MapRef map() const { return MapRef(m); }
  ArrayRef array() const { return ArrayRef(a); }
  std::string content() const {
    Value mv{ValueKind::kMap, {}, m};
    Value av{ValueKind::kArray, {}, a};
    return text(mv) + text(av);
  }
  UndoOptions options(uint64_t* now) const {
    UndoOptions out;
    out.tracked_origins = {kLocal};
    out.clock = [now] { return *now; };
    return out;
  }
  std::unique_ptr<Doc> doc;
  Branch* m;
  Branch* a;
};

void sync(Replica& from, Replica& to) {
  const Bytes diff = cant_fail(from.doc->encode_diff(to.doc->encode_state_vector()));
  ASSERT_TRUE(to.doc->apply_update(diff, "remote").has_value());
}

Any str(const char* text) { return Any::string(text); }

bool undo(UndoManager& um) { return cant_fail(um.undo()) != nullptr; }
bool redo(UndoManager& um) { return cant_fail(um.redo()) != nullptr; }

TEST(Undo, MapAndArrayEditsGoBackAndForth) {
  for (bool gc : {true, false}) {
    SCOPED_TRACE(gc);
    Replica r(1, gc);
    uint64_t now = 1000;
    UndoManager um(*r.doc, {r.m, r.a}, r.options(&now));
    {
      Transaction txn(*r.doc, kLocal);
      ASSERT_TRUE(r.map().set(txn, "k", str("a")).has_value());
      ASSERT_TRUE(r.array().insert(txn, 0, {str("x"), str("y"), str("z")}).has_value());
    }
    now += 1000;
    {
      Transaction txn(*r.doc, kLocal);
      ASSERT_TRUE(r.map().set(txn, "k", str("b")).has_value());
      ASSERT_TRUE(r.array().remove_range(txn, 1, 1).has_value());
      MapRef inner = cant_fail(r.map().insert_map(txn, "n"));
      ASSERT_TRUE(inner.set(txn, "deep", str("d")).has_value());
    }
    now += 1000;
    {
      Transaction txn(*r.doc, kLocal);
      r.map().remove(txn, "n");
    }
    EXPECT_EQ(r.content(), "{k:b,}[x,z,]");
    EXPECT_EQ(um.undo_stack().size(), 3u);
    ASSERT_TRUE(undo(um));
    // The nested map comes back with what it held, garbage collection or not.
    EXPECT_EQ(r.content(), "{k:b,n:{deep:d,},}[x,z,]");
    ASSERT_TRUE(undo(um));
    EXPECT_EQ(r.content(), "{k:a,}[x,y,z,]");
    ASSERT_TRUE(undo(um));
    EXPECT_EQ(r.content(), "{}[]");
    EXPECT_FALSE(undo(um));
    EXPECT_EQ(um.redo_stack().size(), 3u);
    ASSERT_TRUE(redo(um));
    ASSERT_TRUE(redo(um));
    EXPECT_EQ(r.content(), "{k:b,n:{deep:d,},}[x,z,]");
    ASSERT_TRUE(redo(um));
    EXPECT_EQ(r.content(), "{k:b,}[x,z,]");
    EXPECT_FALSE(redo(um));
    // A new edit after an undo empties the redo stack.
    ASSERT_TRUE(undo(um));
    {
      Transaction txn(*r.doc, kLocal);
      ASSERT_TRUE(r.map().set(txn, "k", str("c")).has_value());
    }
    EXPECT_TRUE(um.redo_stack().empty());
  }
}

TEST(Undo, CaptureWindowAndStop) {
  Replica r(1);
  uint64_t now = 1000;
  UndoManager um(*r.doc, {r.m, r.a}, r.options(&now));
  auto set = [&](const char* key, const char* value) {
    Transaction txn(*r.doc, kLocal);
    ASSERT_TRUE(r.map().set(txn, key, str(value)).has_value());
  };
  set("a", "1");
  now += 499;  // within the window: joins the step
  set("b", "2");
  EXPECT_EQ(um.undo_stack().size(), 1u);
  um.stop_capturing();
  set("c", "3");
  EXPECT_EQ(um.undo_stack().size(), 2u);
  now += 500;  // the window has passed
  set("d", "4");
  EXPECT_EQ(um.undo_stack().size(), 3u);
  ASSERT_TRUE(undo(um));
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(r.content(), "{a:1,b:2,}[]");
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(r.content(), "{}[]");
}

TEST(Undo, OnlyTrackedOriginsAndTheScopeAreCaptured) {
  Replica r(1);
  uint64_t now = 1000;
  UndoManager um(*r.doc, {r.m}, r.options(&now));
  {
    Transaction txn(*r.doc, "other");
    ASSERT_TRUE(r.map().set(txn, "k", str("a")).has_value());
  }
  {
    Transaction txn(*r.doc, kLocal);
    ASSERT_TRUE(r.array().insert(txn, 0, {str("x")}).has_value());
  }
  EXPECT_TRUE(um.undo_stack().empty());
  um.add_tracked_origin("other");
  {
    Transaction txn(*r.doc, "other");
    ASSERT_TRUE(r.map().set(txn, "k", str("b")).has_value());
    // Outside the scope: part of the transaction, never undone.
    ASSERT_TRUE(r.array().insert(txn, 0, {str("w")}).has_value());
  }
  ASSERT_EQ(um.undo_stack().size(), 1u);
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(r.content(), "{k:a,}[w,x,]");
}

TEST(Undo, RemoteChangesBetweenAnEditAndItsUndoStay) {
  Replica a(1), b(2);
  uint64_t now = 1000;
  UndoManager um(*a.doc, {a.m, a.a}, a.options(&now));
  {
    Transaction txn(*a.doc, kLocal);
    ASSERT_TRUE(a.map().set(txn, "mine", str("1")).has_value());
    ASSERT_TRUE(a.map().set(txn, "shared", str("a")).has_value());
    ASSERT_TRUE(a.array().insert(txn, 0, {str("p"), str("q")}).has_value());
  }
  sync(a, b);
  {
    Transaction txn(*b.doc);
    ASSERT_TRUE(b.map().set(txn, "shared", str("b")).has_value());
    ASSERT_TRUE(b.map().set(txn, "theirs", str("t")).has_value());
    ASSERT_TRUE(b.array().insert(txn, 1, {str("r")}).has_value());
  }
  sync(b, a);
  // Undo takes back only what replica 1 wrote; the peer's entries and the
  // element it put between ours stay.
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(a.content(), "{shared:b,theirs:t,}[r,]");
  sync(a, b);
  EXPECT_EQ(b.content(), a.content());
  ASSERT_TRUE(redo(um));
  EXPECT_EQ(a.content(), "{mine:1,shared:b,theirs:t,}[p,r,q,]");
  sync(a, b);
  EXPECT_EQ(b.content(), a.content());
  // A peer's own edit is never undone.
  {
    Transaction txn(*b.doc);
    ASSERT_TRUE(b.map().set(txn, "late", str("l")).has_value());
  }
  sync(b, a);
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(a.content(), "{late:l,shared:b,theirs:t,}[r,]");
}

TEST(Undo, EventsAndMetadata) {
  Replica r(1);
  uint64_t now = 1000;
  UndoManager um(*r.doc, {r.m}, r.options(&now));
  std::vector<std::string> seen;
  um.observe([&](const UndoEvent& event) {
    switch (event.kind) {
      case UndoEventKind::kAdded:
        event.item->meta["cursor"] = "A1";
        seen.push_back(std::string("added ") + (event.redo ? "redo" : "undo"));
        break;
      case UndoEventKind::kUpdated:
        seen.push_back("updated");
        break;
      case UndoEventKind::kPopped:
        seen.push_back(std::string("popped ") + (event.redo ? "redo " : "undo ") + event.item->meta["cursor"]);
        break;
      case UndoEventKind::kCleared:
        seen.push_back("cleared");
        break;
    }
  });
  auto set = [&](const char* value) {
    Transaction txn(*r.doc, kLocal);
    ASSERT_TRUE(r.map().set(txn, "k", str(value)).has_value());
  };
  set("a");
  set("b");
  ASSERT_TRUE(undo(um));
  um.clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"added undo", "updated", "added redo", "popped undo A1", "cleared"}));
}

TEST(Undo, StacksCarryOverToAFreshManager) {
  // Each operation builds a manager from saved stacks and saves them back.
  Replica r(1);
  uint64_t now = 1000;
  std::vector<StackItem> undo_stack;
  std::vector<StackItem> redo_stack;
  auto with_manager = [&](auto&& fn) {
    UndoOptions options = r.options(&now);
    options.undo_stack = undo_stack;
    options.redo_stack = redo_stack;
    UndoManager um(*r.doc, {r.m}, std::move(options));
    fn(um);
    undo_stack = um.undo_stack();
    redo_stack = um.redo_stack();
  };
  for (const char* value : {"a", "b"}) {
    with_manager([&](UndoManager&) {
      Transaction txn(*r.doc, kLocal);
      ASSERT_TRUE(r.map().set(txn, "k", str(value)).has_value());
    });
  }
  EXPECT_EQ(undo_stack.size(), 2u);  // fresh managers never join steps
  with_manager([&](UndoManager& um) { ASSERT_TRUE(undo(um)); });
  EXPECT_EQ(r.content(), "{k:a,}[]");
  with_manager([&](UndoManager& um) { ASSERT_TRUE(redo(um)); });
  EXPECT_EQ(r.content(), "{k:b,}[]");
  EXPECT_EQ(undo_stack.size(), 2u);
  EXPECT_TRUE(redo_stack.empty());
}

TEST(Undo, UpdatesAppliedUnderTheTrackedOriginAreSteps) {
  // An edit made on a scratch copy with the same client id, integrated as
  // an update under the tracked origin, is undone like a local edit.
  Replica live(1);
  {
    Transaction txn(*live.doc, "setup");
    ASSERT_TRUE(live.map().set(txn, "k", str("a")).has_value());
  }
  Replica scratch(1);
  sync(live, scratch);
  const StateVector before = scratch.doc->state_vector();
  {
    Transaction txn(*scratch.doc);
    ASSERT_TRUE(scratch.map().set(txn, "k", str("b")).has_value());
  }
  const Bytes update = scratch.doc->encode_state_as_update(before);
  uint64_t now = 1000;
  UndoManager um(*live.doc, {live.m}, live.options(&now));
  ASSERT_TRUE(live.doc->apply_update(update, kLocal).has_value());
  EXPECT_EQ(live.content(), "{k:b,}[]");
  ASSERT_TRUE(undo(um));
  EXPECT_EQ(live.content(), "{k:a,}[]");
}

}  // namespace
}  // namespace cmx::crdt
