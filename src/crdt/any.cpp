// Any values and their lib0 encoding; both directions walk with an explicit
// stack so that nesting never deepens the call stack.
#include "crdt/any.h"

#include <cmath>

namespace cmx::crdt {

namespace {

constexpr double kMaxSafeInteger = 9007199254740991.0;

bool is_safe_integer(double value) {
  return std::trunc(value) == value && std::fabs(value) <= kMaxSafeInteger &&
         !(value == 0 && std::signbit(value));
}

void write_number(Encoder& encoder, double value) {
  if (is_safe_integer(value)) {
    encoder.write_u8(kTagInteger);
    encoder.write_var_int(static_cast<int64_t>(value));
  } else if (static_cast<double>(static_cast<float>(value)) == value) {
    encoder.write_u8(kTagFloat32);
    encoder.write_f32(static_cast<float>(value));
  } else {
    encoder.write_u8(kTagFloat64);
    encoder.write_f64(value);
  }
}

bool scalar_equal(const Any& lhs, const Any& rhs) {
  switch (lhs.kind()) {
    case AnyKind::kUndefined:
    case AnyKind::kNull:
      return true;
    case AnyKind::kBool:
      return lhs.as_bool() == rhs.as_bool();
    case AnyKind::kNumber:
      return lhs.as_number() == rhs.as_number() ||
             (std::isnan(lhs.as_number()) && std::isnan(rhs.as_number()));
    case AnyKind::kInteger:
      return lhs.as_integer() == rhs.as_integer();
    case AnyKind::kString:
      return lhs.as_string() == rhs.as_string();
    case AnyKind::kBuffer:
      return lhs.as_buffer() == rhs.as_buffer();
    case AnyKind::kArray:
      return lhs.as_array().size() == rhs.as_array().size();
    case AnyKind::kObject:
      return lhs.as_object().size() == rhs.as_object().size();
  }
  return false;
}

}  // namespace

Any Any::buffer(Buffer value) {
  return Any(Storage(std::in_place_index<6>, std::make_shared<const Buffer>(std::move(value))));
}

Any Any::array(Array values) {
  return Any(Storage(std::in_place_index<7>, std::make_shared<const Array>(std::move(values))));
}

Any Any::object(Object members) {
  return Any(Storage(std::in_place_index<8>, std::make_shared<const Object>(std::move(members))));
}

bool operator==(const Any& lhs, const Any& rhs) {
  std::vector<std::pair<const Any*, const Any*>> pending{{&lhs, &rhs}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (a->kind() != b->kind() || !scalar_equal(*a, *b)) return false;
    if (a->is(AnyKind::kArray)) {
      const auto& xs = a->as_array();
      const auto& ys = b->as_array();
      for (size_t idx = 0; idx < xs.size(); ++idx) pending.emplace_back(&xs[idx], &ys[idx]);
    } else if (a->is(AnyKind::kObject)) {
      const auto& xs = a->as_object();
      const auto& ys = b->as_object();
      for (size_t idx = 0; idx < xs.size(); ++idx) {
        if (xs[idx].first != ys[idx].first) return false;
        pending.emplace_back(&xs[idx].second, &ys[idx].second);
      }
    }
  }
  return true;
}

namespace {

// Writes a value that is not a container; returns false for containers.
bool write_scalar(Encoder& encoder, const Any& value) {
  switch (value.kind()) {
    case AnyKind::kUndefined:
      encoder.write_u8(kTagUndefined);
      return true;
    case AnyKind::kNull:
      encoder.write_u8(kTagNull);
      return true;
    case AnyKind::kBool:
      encoder.write_u8(value.as_bool() ? kTagTrue : kTagFalse);
      return true;
    case AnyKind::kNumber:
      write_number(encoder, value.as_number());
      return true;
    case AnyKind::kInteger:
      encoder.write_u8(kTagBigInt);
      encoder.write_i64(value.as_integer());
      return true;
    case AnyKind::kString:
      encoder.write_u8(kTagString);
      encoder.write_string(value.as_string());
      return true;
    case AnyKind::kBuffer:
      encoder.write_u8(kTagBuffer);
      encoder.write_var_bytes(value.as_buffer());
      return true;
    case AnyKind::kArray:
    case AnyKind::kObject:
      return false;
  }
  return false;
}

}  // namespace

void write_any(Encoder& encoder, const Any& root) {
  // Plain values, by far the most common, need no stack.
  if (write_scalar(encoder, root)) return;
  // A task is a value to write, or (when `key` is set) an object key.
  struct Task {
    const Any* value;
    const std::string* key;
  };
  std::vector<Task> tasks{{&root, nullptr}};
  while (!tasks.empty()) {
    Task task = tasks.back();
    tasks.pop_back();
    if (task.key != nullptr) {
      encoder.write_string(*task.key);
      continue;
    }
    const Any& value = *task.value;
    if (write_scalar(encoder, value)) continue;
    switch (value.kind()) {
      case AnyKind::kArray: {
        const auto& items = value.as_array();
        encoder.write_u8(kTagArray);
        encoder.write_var_uint(items.size());
        for (size_t idx = items.size(); idx-- > 0;) tasks.push_back({&items[idx], nullptr});
        break;
      }
      case AnyKind::kObject: {
        const auto& members = value.as_object();
        encoder.write_u8(kTagObject);
        encoder.write_var_uint(members.size());
        for (size_t idx = members.size(); idx-- > 0;) {
          tasks.push_back({&members[idx].second, nullptr});
          tasks.push_back({nullptr, &members[idx].first});
        }
        break;
      }
      default:
        break;
    }
  }
}

Result<Any, CrdtError> read_any(Decoder& decoder) {
  // An open container: its elements so far and how many are still to come.
  struct Frame {
    bool is_object;
    uint64_t left;
    Any::Array items;
    Any::Object members;
    std::string key;
  };
  std::vector<Frame> stack;
  // Bytes that the open containers' elements after the current ones need
  // (one each): a new container may claim only what is left beyond them, so
  // that all reservations together stay within the input.
  uint64_t claimed = 0;
  for (;;) {
    Any value;
    if (stack.size() >= kMaxAnyDepth) {
      return unexpected(CrdtError{CrdtErrorKind::kNestingTooDeep, kMaxAnyDepth});
    }
    if (!stack.empty() && stack.back().is_object) {
      CMX_ASSIGN_OR_RETURN(stack.back().key, decoder.read_string());
    }
    CMX_ASSIGN_OR_RETURN(uint8_t tag, decoder.read_u8());
    switch (tag) {
      case kTagUndefined:
        break;
      case kTagNull:
        value = Any::null();
        break;
      case kTagInteger: {
        CMX_ASSIGN_OR_RETURN(int64_t number, decoder.read_var_int());
        value = Any::number(static_cast<double>(number));
        break;
      }
      case kTagFloat32: {
        CMX_ASSIGN_OR_RETURN(float number, decoder.read_f32());
        value = Any::number(number);
        break;
      }
      case kTagFloat64: {
        CMX_ASSIGN_OR_RETURN(double number, decoder.read_f64());
        value = Any::number(number);
        break;
      }
      case kTagBigInt: {
        CMX_ASSIGN_OR_RETURN(int64_t number, decoder.read_i64());
        value = Any::integer(number);
        break;
      }
      case kTagFalse:
        value = Any::boolean(false);
        break;
      case kTagTrue:
        value = Any::boolean(true);
        break;
      case kTagString: {
        CMX_ASSIGN_OR_RETURN(std::string text, decoder.read_string());
        value = Any::string(std::move(text));
        break;
      }
      case kTagBuffer: {
        CMX_ASSIGN_OR_RETURN(auto bytes, decoder.read_var_bytes());
        value = Any::buffer(Any::Buffer(bytes.begin(), bytes.end()));
        break;
      }
      case kTagArray:
      case kTagObject: {
        CMX_ASSIGN_OR_RETURN(uint64_t length, decoder.read_var_uint());
        // Every element needs at least one byte (two for a member).
        const uint64_t free = decoder.remaining() - std::min<uint64_t>(claimed, decoder.remaining());
        const uint64_t room = tag == kTagArray ? free : free / 2;
        if (length > room) {
          return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, length, decoder.remaining()});
        }
        if (length > 0) {
          Frame frame{tag == kTagObject, length, {}, {}, {}};
          if (frame.is_object) frame.members.reserve(length);
          else frame.items.reserve(length);
          stack.push_back(std::move(frame));
          claimed += length - 1;
          continue;
        }
        value = tag == kTagArray ? Any::array({}) : Any::object({});
        break;
      }
      default:
        return unexpected(CrdtError{CrdtErrorKind::kUnexpectedValue});
    }
    // Hand the finished value to its container, closing every container it
    // completes.
    for (;;) {
      if (stack.empty()) return value;
      Frame& top = stack.back();
      if (top.is_object) top.members.emplace_back(std::move(top.key), std::move(value));
      else top.items.push_back(std::move(value));
      if (--top.left > 0) {
        --claimed;
        break;
      }
      value = top.is_object ? Any::object(std::move(top.members)) : Any::array(std::move(top.items));
      stack.pop_back();
    }
  }
}

}  // namespace cmx::crdt
