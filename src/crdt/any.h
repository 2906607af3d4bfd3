// Any: the plain values that Yjs stores in items (JSON-like values plus
// undefined, 64-bit integers and byte buffers) and their lib0 encoding.
// Read next: id.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "crdt/error.h"
#include "crdt/lib0.h"

namespace cmx::crdt {

// Values at this depth or deeper are refused by decoding; the top value is at
// depth 0, the elements of a container one deeper than the container.
inline constexpr size_t kMaxAnyDepth = 64;

// The tag byte that leads each value in the lib0 encoding.
enum AnyTag : uint8_t {
  kTagBuffer = 116,
  kTagArray = 117,
  kTagObject = 118,
  kTagString = 119,
  kTagTrue = 120,
  kTagFalse = 121,
  kTagBigInt = 122,
  kTagFloat64 = 123,
  kTagFloat32 = 124,
  kTagInteger = 125,
  kTagNull = 126,
  kTagUndefined = 127,
};

// Numbers (64-bit floats) and integers (64-bit signed) are distinct kinds.
enum class AnyKind : uint8_t {
  kUndefined,
  kNull,
  kBool,
  kNumber,
  kInteger,
  kString,
  kBuffer,
  kArray,
  kObject,
};

// An immutable value; arrays, objects and buffers share their payload on copy.
class Any {
 public:
  using Array = std::vector<Any>;
  // Members keep their order: the encoding writes them as given.
  using Object = std::vector<std::pair<std::string, Any>>;
  using Buffer = std::vector<uint8_t>;

  Any() = default;  // undefined
  static Any undefined() { return Any(); }
  static Any null() { return Any(Storage(std::in_place_index<1>, nullptr)); }
  static Any boolean(bool value) { return Any(Storage(std::in_place_index<2>, value)); }
  static Any number(double value) { return Any(Storage(std::in_place_index<3>, value)); }
  static Any integer(int64_t value) { return Any(Storage(std::in_place_index<4>, value)); }
  static Any string(std::string value) { return Any(Storage(std::in_place_index<5>, std::move(value))); }
  static Any buffer(Buffer value);
  static Any array(Array values);
  static Any object(Object members);

  AnyKind kind() const { return static_cast<AnyKind>(data_.index()); }
  bool is(AnyKind kind) const { return this->kind() == kind; }

  // Accessors require the matching kind.
  bool as_bool() const { return std::get<2>(data_); }
  double as_number() const { return std::get<3>(data_); }
  int64_t as_integer() const { return std::get<4>(data_); }
  const std::string& as_string() const { return std::get<5>(data_); }
  const Buffer& as_buffer() const { return *std::get<6>(data_); }
  const Array& as_array() const { return *std::get<7>(data_); }
  const Object& as_object() const { return *std::get<8>(data_); }

  // Values compare as values: kinds must match, numbers compare with ==
  // (NaN equals NaN so that an unchanged value is recognised as such).
  friend bool operator==(const Any& lhs, const Any& rhs);

 private:
  using Storage = std::variant<std::monostate, std::nullptr_t, bool, double, int64_t, std::string,
                               std::shared_ptr<const Buffer>, std::shared_ptr<const Array>,
                               std::shared_ptr<const Object>>;
  explicit Any(Storage data) : data_(std::move(data)) {}
  Storage data_;
};

// Writes a value with its lib0 tag. A number is written as an integer (125)
// when it is a safe integer, as a float32 (124) when that holds it exactly,
// else as a float64 (123); negative zero keeps its sign as a float32.
void write_any(Encoder& encoder, const Any& value);

// Reads one tagged value. Container lengths are checked against the bytes
// left before anything is reserved; nesting beyond kMaxAnyDepth fails.
Result<Any, CrdtError> read_any(Decoder& decoder);

}  // namespace cmx::crdt
