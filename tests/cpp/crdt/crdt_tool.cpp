// Test driver: reads edit commands on stdin and prints encoded updates and
// state vectors as hex, one line per request, so that pytest can exchange them
// with a real Yjs peer. Texts and values travel as hex (values as lib0 Any).
//
//   doc NAME CLIENT [nogc]        new document with that client id
//   begin NAME ORIGIN | commit NAME   explicit transaction (else one per edit)
//   mset NAME ROOT PATH KEY ANY   set a value in a root map or a nested map
//   mmap NAME ROOT PATH KEY       new nested map under KEY
//   mdel NAME ROOT PATH KEY       remove KEY
//   ains NAME ROOT INDEX ANY      insert the elements of an Any array
//   amap NAME ROOT INDEX          insert a nested map into a root array
//   adel NAME ROOT INDEX COUNT    delete a range of a root array
//   update NAME | sv NAME | diff NAME SV   print hex (diff: or "error: ...")
//   apply NAME UPDATE             apply a peer's update: prints "ok" or "error: ..."
//   pending NAME                  prints 1 when blocks or deletions wait, else 0
//   tupdate NAME                  the update of the document's last transaction
//   dump NAME ROOT KIND           a root's content (KIND m or a) as a hex lib0
//                                 Any, nested maps as objects and arrays as arrays
// PATH is "-" for the root itself, else comma-separated keys of nested maps.
//
// Edits anywhere in the document, by TARGET: "M" or "A" and a root name in
// hex (a root map or array), then "/k" and a key in hex or "/i" and an index
// per step into nested maps and arrays:
//   set NAME TARGET KEY ANY       set a value in a map
//   rm NAME TARGET KEY            remove a map entry
//   newmap NAME TARGET SLOT       new nested map (SLOT: a key in hex for a
//   newarr NAME TARGET KEY        map, an index for an array); new nested array
//   ins NAME TARGET INDEX ANY     insert the elements of an Any array
//   del NAME TARGET INDEX COUNT   delete a range of an array
//   applyas NAME ORIGIN UPDATE    apply an update in a transaction of ORIGIN
//                                 (hex): prints "ok" or "error: ..."
// Undo managers, one per document:
//   um NAME TIMEOUT ORIGIN ROOT... capture transactions of ORIGIN (hex, "-"
//                                 for none) that change the roots (as in
//                                 TARGET); its clock is set with `clock`
//   clock NAME MS | stop NAME     the manager's clock; stop capturing
//   undo NAME | redo NAME         prints 1 when a step applied, else 0
//   depth NAME                    prints the undo and redo stack depths
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "crdt/crdt.h"

using namespace cmx::crdt;

namespace {

[[noreturn]] void die(const std::string& message) {
  std::cerr << "crdt_tool: " << message << "\n";
  std::exit(2);
}

std::string unhex(const std::string& hex) {
  if (hex == "-") return {};
  if (hex.size() % 2 != 0) die("odd hex length");
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    die("bad hex digit");
  };
  std::string out;
  for (size_t idx = 0; idx < hex.size(); idx += 2) {
    out.push_back(static_cast<char>(digit(hex[idx]) * 16 + digit(hex[idx + 1])));
  }
  return out;
}

std::string to_hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : bytes) {
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 15]);
  }
  return out;
}

uint64_t number(const std::string& text) {
  auto parsed = cmx::parse_u64(text);
  if (!parsed) die("bad number " + text);
  return *parsed;
}

Any parse_any(const std::string& hex) {
  std::string bytes = unhex(hex);
  Decoder decoder({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  auto value = read_any(decoder);
  if (!value) die(crdt_error_message(value.error()));
  return *value;
}

template <typename T>
T check(cmx::Result<T, CrdtError> result) {
  if (!result) die(crdt_error_message(result.error()));
  if constexpr (!std::is_void_v<T>) return std::move(result).value();
}

Any to_any(const Value& value) {
  if (value.kind == ValueKind::kMap) {
    Any::Object members;
    value.as_map().for_each([&](std::string_view key, const Value& inner) {
      members.emplace_back(std::string(key), to_any(inner));
    });
    return Any::object(std::move(members));
  }
  if (value.kind == ValueKind::kArray) {
    Any::Array elements;
    for (const Value& inner : value.as_array().to_vector()) elements.push_back(to_any(inner));
    return Any::array(std::move(elements));
  }
  return value.any;
}

struct Replica {
  std::unique_ptr<Doc> doc;
  std::unique_ptr<Transaction> txn;
  std::vector<uint8_t> last_update;
  uint64_t now = 0;
  std::unique_ptr<UndoManager> undo;
};

Value root_value(Doc& doc, const std::string& root) {
  if (root.empty() || (root[0] != 'M' && root[0] != 'A')) die("bad target " + root);
  Value value;
  const std::string name = unhex(root.substr(1));
  value.kind = root[0] == 'M' ? ValueKind::kMap : ValueKind::kArray;
  value.branch = value.kind == ValueKind::kMap ? check(doc.get_or_create_map(name)).branch()
                                               : check(doc.get_or_create_array(name)).branch();
  return value;
}

// The shared type at `target`, or none when a step names no shared type.
std::optional<Value> resolve(Doc& doc, const std::string& target) {
  std::istringstream steps(target);
  std::string step;
  std::getline(steps, step, '/');
  Value value = root_value(doc, step);
  while (std::getline(steps, step, '/')) {
    std::optional<Value> next;
    if (step.size() > 1 && step[0] == 'k' && value.kind == ValueKind::kMap) {
      next = value.as_map().get(unhex(step.substr(1)));
    } else if (step.size() > 1 && step[0] == 'i' && value.kind == ValueKind::kArray) {
      next = value.as_array().get(number(step.substr(1)));
    }
    if (!next || next->kind == ValueKind::kAny) return std::nullopt;
    value = *next;
  }
  return value;
}

}  // namespace

int main() {
  std::map<std::string, Replica> replicas;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty()) continue;
    const std::string& cmd = words[0];
    auto arg = [&](size_t idx) -> const std::string& {
      if (idx >= words.size()) die("missing argument in: " + line);
      return words[idx];
    };
    if (cmd == "doc") {
      Replica& made = replicas[arg(1)];
      made.doc = check(Doc::create(number(arg(2)), !(words.size() > 3 && words[3] == "nogc")));
      made.doc->observe_after_transaction([&made](Doc& doc, const TransactionEvent& event) {
        made.last_update = doc.encode_transaction_update(event);
      });
      continue;
    }
    auto found = replicas.find(arg(1));
    if (found == replicas.end()) die("unknown document " + arg(1));
    Replica& replica = found->second;
    Doc& doc = *replica.doc;
    if (cmd == "begin") {
      replica.txn = std::make_unique<Transaction>(doc, unhex(arg(2)));
      continue;
    }
    if (cmd == "commit") {
      replica.txn.reset();
      continue;
    }
    if (cmd == "apply" || cmd == "applyas") {
      const bool as = cmd == "applyas";
      const std::string bytes = unhex(arg(as ? 3 : 2));
      auto applied = doc.apply_update({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                                      as ? unhex(arg(2)) : std::string("xlsx:remote"));
      std::cout << (applied ? std::string("ok") : "error: " + crdt_error_message(applied.error())) << std::endl;
      continue;
    }
    if (cmd == "um") {
      std::vector<Branch*> scope;
      for (size_t idx = 4; idx < words.size(); ++idx) scope.push_back(root_value(doc, words[idx]).branch);
      UndoOptions options;
      options.capture_timeout_ms = number(arg(2));
      options.tracked_origins = {unhex(arg(3))};
      options.clock = [&replica] { return replica.now; };
      replica.undo = std::make_unique<UndoManager>(doc, std::move(scope), std::move(options));
      continue;
    }
    if (cmd == "clock") {
      replica.now = number(arg(2));
      continue;
    }
    if (cmd == "stop" || cmd == "undo" || cmd == "redo" || cmd == "depth") {
      if (!replica.undo) die("no undo manager on " + arg(1));
      UndoManager& um = *replica.undo;
      if (cmd == "stop") {
        um.stop_capturing();
        continue;
      }
      if (cmd == "depth") {
        std::cout << um.undo_stack().size() << " " << um.redo_stack().size() << std::endl;
        continue;
      }
      auto applied = cmd == "undo" ? um.undo() : um.redo();
      if (!applied) std::cout << "error: " << crdt_error_message(applied.error()) << std::endl;
      else std::cout << (*applied != nullptr ? "1" : "0") << std::endl;
      continue;
    }
    if (cmd == "set" || cmd == "rm" || cmd == "newmap" || cmd == "newarr" || cmd == "ins" || cmd == "del") {
      std::unique_ptr<Transaction> own;
      Transaction* txn = replica.txn.get();
      if (txn == nullptr) {
        own = std::make_unique<Transaction>(doc);
        txn = own.get();
      }
      // An edit whose target an earlier edit of the transaction removed, or
      // whose index lies beyond the array, is skipped.
      std::optional<Value> found = resolve(doc, arg(2));
      if (!found) continue;
      Value target = *found;
      if (target.kind == ValueKind::kMap) {
        MapRef map = target.as_map();
        const std::string key = unhex(arg(3));
        if (cmd == "set") check(map.set(*txn, key, parse_any(arg(4))));
        else if (cmd == "rm") map.remove(*txn, key);
        else if (cmd == "newmap") check(map.insert_map(*txn, key));
        else if (cmd == "newarr") check(map.insert_array(*txn, key));
        else die(cmd + " needs an array target");
      } else {
        ArrayRef array = target.as_array();
        const size_t index = number(arg(3));
        if (index > array.length() || (cmd == "del" && number(arg(4)) > array.length() - index)) continue;
        if (cmd == "ins") {
          Any values = parse_any(arg(4));
          if (!values.is(AnyKind::kArray)) die("ins takes an Any array");
          check(array.insert(*txn, index, values.as_array()));
        } else if (cmd == "del") {
          check(array.remove_range(*txn, index, number(arg(4))));
        } else if (cmd == "newmap") {
          check(array.insert_map(*txn, index));
        } else {
          die(cmd + " needs a map target");
        }
      }
      continue;
    }
    if (cmd == "tupdate") {
      std::cout << to_hex(replica.last_update) << std::endl;
      continue;
    }
    if (cmd == "pending") {
      std::cout << (doc.has_pending() ? "1" : "0") << std::endl;
      continue;
    }
    if (cmd == "dump") {
      const std::string root = unhex(arg(2));
      Value value;
      value.kind = arg(3) == "m" ? ValueKind::kMap : ValueKind::kArray;
      value.branch = value.kind == ValueKind::kMap ? check(doc.get_or_create_map(root)).branch()
                                                   : check(doc.get_or_create_array(root)).branch();
      Encoder encoder;
      write_any(encoder, to_any(value));
      std::cout << to_hex(encoder.take()) << std::endl;
      continue;
    }
    if (cmd == "update" || cmd == "sv" || cmd == "diff") {
      if (cmd == "update") std::cout << to_hex(doc.encode_state_as_update()) << "\n";
      if (cmd == "sv") std::cout << to_hex(doc.encode_state_vector()) << "\n";
      if (cmd == "diff") {
        std::string sv = unhex(arg(2));
        auto diff = doc.encode_diff({reinterpret_cast<const uint8_t*>(sv.data()), sv.size()});
        if (diff) std::cout << to_hex(*diff) << "\n";
        else std::cout << "error: " << crdt_error_message(diff.error()) << "\n";
      }
      std::cout.flush();
      continue;
    }
    std::unique_ptr<Transaction> own;
    Transaction* txn = replica.txn.get();
    if (txn == nullptr) {
      own = std::make_unique<Transaction>(doc);
      txn = own.get();
    }
    const std::string root = unhex(arg(2));
    if (cmd[0] == 'm') {
      MapRef map = check(doc.get_or_create_map(root));
      if (arg(3) != "-") {
        std::istringstream path(arg(3));
        for (std::string key; std::getline(path, key, ',');) map = check(map.get_or_insert_map(*txn, unhex(key)));
      }
      const std::string key = unhex(arg(4));
      if (cmd == "mset") check(map.set(*txn, key, parse_any(arg(5))));
      else if (cmd == "mmap") check(map.insert_map(*txn, key));
      else if (cmd == "mdel") map.remove(*txn, key);
      else die("unknown command " + cmd);
    } else {
      ArrayRef array = check(doc.get_or_create_array(root));
      const size_t index = number(arg(3));
      if (cmd == "ains") {
        Any values = parse_any(arg(4));
        if (!values.is(AnyKind::kArray)) die("ains takes an Any array");
        check(array.insert(*txn, index, values.as_array()));
      } else if (cmd == "amap") {
        check(array.insert_map(*txn, index));
      } else if (cmd == "adel") {
        check(array.remove_range(*txn, index, number(arg(4))));
      } else {
        die("unknown command " + cmd);
      }
    }
  }
  return 0;
}
