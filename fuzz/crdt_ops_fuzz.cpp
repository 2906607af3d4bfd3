// Fuzzes local edits: the input is read as a script of map and array edits in
// transactions on one document. After every transaction the struct store must
// be consistent (clocks contiguous, list lengths right, key maps pointing at
// their last item) and encoding must be repeatable.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "crdt/crdt.h"

using namespace cmx::crdt;

namespace {

void check_store(Doc& doc, const std::vector<ArrayRef>& arrays, const std::vector<MapRef>& maps) {
  for (const auto& [client, structs] : doc.store().clients()) {
    uint32_t clock = 0;
    for (const auto& item : structs) {
      if (item->id.clock != clock || item->length == 0) std::abort();
      clock += item->length;
    }
  }
  for (const ArrayRef& array : arrays) {
    size_t live = 0;
    const Item* prev = nullptr;
    for (const Item* item = array.branch()->start; item != nullptr; item = item->right) {
      if (item->left != prev || item->parent != array.branch()) std::abort();
      if (!item->deleted && item->countable()) live += item->length;
      prev = item;
    }
    if (live != array.length() || array.to_vector().size() != live) std::abort();
  }
  for (const MapRef& map : maps) {
    for (const auto& [key, item] : map.branch()->map) {
      if (item->right != nullptr || !item->parent_sub || *item->parent_sub != key) std::abort();
    }
  }
  if (doc.encode_state_as_update() != doc.encode_state_as_update()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto doc = cmx::cant_fail(Doc::create(7));
  std::vector<MapRef> maps{cmx::cant_fail(doc->get_or_create_map("m"))};
  std::vector<ArrayRef> arrays{cmx::cant_fail(doc->get_or_create_array("a"))};
  size_t pos = 0;
  auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
  int counter = 0;
  while (pos < size) {
    {
      Transaction txn(*doc, "fuzz");
      const int ops = 1 + next() % 4;
      for (int op_idx = 0; op_idx < ops && pos < size; ++op_idx) {
        const uint8_t op = next();
        MapRef& map = maps[next() % maps.size()];
        ArrayRef& array = arrays[next() % arrays.size()];
        const std::string key(1, static_cast<char>('a' + next() % 4));
        switch (op % 7) {
          case 0:
            (void)map.set(txn, key, Any::number(counter++));
            break;
          case 1:
            map.remove(txn, key);
            break;
          case 2:
            if (maps.size() < 64) maps.push_back(cmx::cant_fail(map.insert_map(txn, key)));
            break;
          case 3: {
            std::vector<Any> values;
            for (int idx = 1 + next() % 3; idx > 0; --idx) values.push_back(Any::string(std::to_string(counter++)));
            const size_t index = array.length() == 0 ? 0 : next() % (array.length() + 1);
            if (!array.insert(txn, index, std::move(values)).has_value()) std::abort();
            break;
          }
          case 4: {
            if (array.length() == 0) break;
            const size_t index = next() % array.length();
            const size_t count = 1 + next() % (array.length() - index);
            if (!array.remove_range(txn, index, count).has_value()) std::abort();
            break;
          }
          case 5:
            if (maps.size() < 64) {
              auto made = array.insert_map(txn, array.length() == 0 ? 0 : next() % (array.length() + 1));
              if (!made.has_value()) std::abort();
              maps.push_back(*made);
            }
            break;
          case 6:
            if (arrays.size() < 16) arrays.push_back(cmx::cant_fail(map.insert_array(txn, key)));
            break;
        }
      }
    }
    check_store(*doc, arrays, maps);
  }
  return 0;
}
