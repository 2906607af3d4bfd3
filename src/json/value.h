// The two in-memory forms of a JSON value: `JsonValue`, a tree whose objects
// keep one value per key in byte order of the keys, and `Content`, the
// buffered form that keeps an object's members in document order, repeats
// included. Read reader.h for how text becomes either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "json/error.h"

namespace cmx::json {

// A number as the reader classifies it: an unsigned integer, a negative
// integer, or a finite double.
class JsonNumber {
 public:
  enum class Kind : uint8_t { U64, I64, F64 };

  static JsonNumber from_u64(uint64_t value) { return JsonNumber(Kind::U64, value, 0, 0.0); }
  // Non-negative values are held as unsigned.
  static JsonNumber from_i64(int64_t value) {
    if (value >= 0) return from_u64(static_cast<uint64_t>(value));
    return JsonNumber(Kind::I64, 0, value, 0.0);
  }
  // Absent for NaN and infinities.
  static std::optional<JsonNumber> from_f64(double value);

  Kind kind() const { return kind_; }
  uint64_t as_u64() const { return u64_; }
  int64_t as_i64() const { return i64_; }
  double as_f64() const { return f64_; }
  // The nearest double, whatever the kind.
  double to_f64() const;

  bool operator==(const JsonNumber& other) const;

 private:
  JsonNumber(Kind kind, uint64_t u, int64_t i, double f) : kind_(kind), u64_(u), i64_(i), f64_(f) {}
  Kind kind_;
  uint64_t u64_;
  int64_t i64_;
  double f64_;
};

// A member of an object: a template, so that it is completed only where
// used, after the value type it holds.
template <typename V>
struct KeyedValue {
  std::string key;
  V value;
  bool operator==(const KeyedValue&) const = default;
};

class JsonValue;
using JsonMember = KeyedValue<JsonValue>;

// An object of a value tree: members sorted by the bytes of their keys, one
// per key.
class JsonObject {
 public:
  JsonObject();
  JsonObject(const JsonObject&);
  JsonObject(JsonObject&&) noexcept;
  JsonObject& operator=(const JsonObject&);
  JsonObject& operator=(JsonObject&&) noexcept;
  ~JsonObject();

  // Replaces the value of a key that is already present.
  void insert(std::string key, JsonValue value);
  const JsonValue* find(std::string_view key) const;
  // Takes a key's value out of the object; absent when there was none.
  std::optional<JsonValue> take(std::string_view key);
  // Hands out all members, in byte order, leaving the object empty.
  std::vector<JsonMember> take_members();

  const std::vector<JsonMember>& members() const { return members_; }
  size_t size() const;
  bool empty() const;
  bool operator==(const JsonObject& other) const;

  // Builds an object from members in document order: the last of a repeated
  // key wins.
  static JsonObject from_document_order(std::vector<JsonMember> members);

 private:
  std::vector<JsonMember> members_;
};

class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  enum class Kind : uint8_t { Null, Bool, Number, String, Array, Object };

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  explicit JsonValue(bool value) : data_(value) {}
  JsonValue(JsonNumber value) : data_(value) {}
  explicit JsonValue(std::string value) : data_(std::move(value)) {}
  // Without these a string literal would convert to bool.
  explicit JsonValue(const char* text) : data_(std::string(text)) {}
  explicit JsonValue(std::string_view text) : data_(std::string(text)) {}
  JsonValue(Array value) : data_(std::move(value)) {}
  JsonValue(JsonObject value) : data_(std::move(value)) {}

  static JsonValue u64(uint64_t value) { return JsonValue(JsonNumber::from_u64(value)); }
  static JsonValue i64(int64_t value) { return JsonValue(JsonNumber::from_i64(value)); }
  // A NaN or an infinity gives null.
  static JsonValue f64(double value);
  static JsonValue string(std::string_view text) { return JsonValue(std::string(text)); }

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool as_bool() const { return std::get<1>(data_); }
  const JsonNumber& as_number() const { return std::get<2>(data_); }
  const std::string& as_string() const { return std::get<3>(data_); }
  std::string& as_string() { return std::get<3>(data_); }
  const Array& as_array() const { return std::get<4>(data_); }
  Array& as_array() { return std::get<4>(data_); }
  const JsonObject& as_object() const { return std::get<5>(data_); }
  JsonObject& as_object() { return std::get<5>(data_); }

  // Turn the value into an empty string or array and hand it out for
  // filling in place (the reader builds trees this way, without moves).
  std::string& emplace_string() { return data_.emplace<3>(); }
  Array& emplace_array() { return data_.emplace<4>(); }

  bool operator==(const JsonValue& other) const { return data_ == other.data_; }

 private:
  std::variant<std::monostate, bool, JsonNumber, std::string, Array, JsonObject> data_;
};

inline size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }

class Content;
using ContentMember = KeyedValue<Content>;

// A buffered value: objects keep every member in the order met.
class Content {
 public:
  using Array = std::vector<Content>;
  using Object = std::vector<ContentMember>;
  enum class Kind : uint8_t { Null, Bool, Number, String, Array, Object };

  Content() = default;
  explicit Content(bool value) : data_(value) {}
  Content(JsonNumber value) : data_(value) {}
  explicit Content(std::string value) : data_(std::move(value)) {}
  explicit Content(const char* text) : data_(std::string(text)) {}
  explicit Content(std::string_view text) : data_(std::string(text)) {}
  static Content array(Array value);
  static Content object(Object value);

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool as_bool() const { return std::get<1>(data_); }
  const JsonNumber& as_number() const { return std::get<2>(data_); }
  const std::string& as_string() const { return std::get<3>(data_); }
  std::string& as_string() { return std::get<3>(data_); }
  const Array& as_array() const { return std::get<4>(data_); }
  Array& as_array() { return std::get<4>(data_); }
  const Object& as_object() const { return std::get<5>(data_); }
  Object& as_object() { return std::get<5>(data_); }

  // Filled in place by the reader.
  std::string& emplace_string() { return data_.emplace<3>(); }
  Array& emplace_array() { return data_.emplace<4>(); }
  Object& emplace_object() { return data_.emplace<5>(); }

  bool operator==(const Content& other) const { return data_ == other.data_; }

 private:
  std::variant<std::monostate, bool, JsonNumber, std::string, Array, Object> data_;
};

// A tree value as buffered content (objects keep the tree's byte order).
Content content_from_value(const JsonValue& value);
// The same, taking the value's texts and lists instead of copying them.
Content content_from_value(JsonValue&& value);

// What a value is called in "invalid type" messages.
std::string describe_value(const JsonValue& value);
std::string describe_content(const Content& value);
std::string describe_number(const JsonNumber& number);

template <typename T>
using JsonResult = Result<T, JsonError>;

// The integer readers' range checks on a classified number: out of range is
// "invalid value", a float "invalid type".
JsonResult<uint32_t> number_to_u32(const JsonNumber& number);
JsonResult<uint16_t> number_to_u16(const JsonNumber& number);
JsonResult<uint8_t> number_to_u8(const JsonNumber& number);
JsonResult<uint64_t> number_to_u64(const JsonNumber& number);
JsonResult<int64_t> number_to_i64(const JsonNumber& number);

}  // namespace cmx::json
