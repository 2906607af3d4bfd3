#include "json/value.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "json/error.h"

namespace cmx::json {

std::optional<JsonNumber> JsonNumber::from_f64(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return JsonNumber(Kind::F64, 0, 0, value);
}

double JsonNumber::to_f64() const {
  switch (kind_) {
    case Kind::U64: return static_cast<double>(u64_);
    case Kind::I64: return static_cast<double>(i64_);
    case Kind::F64: return f64_;
  }
  return f64_;
}

bool JsonNumber::operator==(const JsonNumber& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::U64: return u64_ == other.u64_;
    case Kind::I64: return i64_ == other.i64_;
    // Bitwise, so that -0.0 and 0.0 differ.
    case Kind::F64: return f64_ == other.f64_ && std::signbit(f64_) == std::signbit(other.f64_);
  }
  return false;
}

JsonObject::JsonObject() = default;
JsonObject::JsonObject(const JsonObject&) = default;
JsonObject::JsonObject(JsonObject&&) noexcept = default;
JsonObject& JsonObject::operator=(const JsonObject&) = default;
JsonObject& JsonObject::operator=(JsonObject&&) noexcept = default;
JsonObject::~JsonObject() = default;

namespace {

bool key_less(const JsonMember& member, std::string_view key) {
  return std::string_view(member.key) < key;
}

}  // namespace

void JsonObject::insert(std::string key, JsonValue value) {
  auto it = std::lower_bound(members_.begin(), members_.end(), std::string_view(key), key_less);
  if (it != members_.end() && it->key == key) {
    it->value = std::move(value);
    return;
  }
  members_.insert(it, JsonMember{std::move(key), std::move(value)});
}

const JsonValue* JsonObject::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, key_less);
  if (it == members_.end() || it->key != key) return nullptr;
  return &it->value;
}

std::optional<JsonValue> JsonObject::take(std::string_view key) {
  auto it = std::lower_bound(members_.begin(), members_.end(), key, key_less);
  if (it == members_.end() || it->key != key) return std::nullopt;
  JsonValue value = std::move(it->value);
  members_.erase(it);
  return value;
}

std::vector<JsonMember> JsonObject::take_members() {
  std::vector<JsonMember> members = std::move(members_);
  members_.clear();
  return members;
}

bool JsonObject::operator==(const JsonObject& other) const { return members_ == other.members_; }

JsonObject JsonObject::from_document_order(std::vector<JsonMember> members) {
  // Stable, so that among equal keys document order survives and the last
  // one can be kept. Records are small: insertion sort avoids stable_sort's
  // buffer for them.
  auto less = [](const JsonMember& a, const JsonMember& b) { return a.key < b.key; };
  constexpr size_t kInsertionSortMax = 16;
  if (members.size() <= kInsertionSortMax) {
    for (size_t i = 1; i < members.size(); ++i) {
      if (!less(members[i], members[i - 1])) continue;
      JsonMember moving = std::move(members[i]);
      size_t j = i;
      while (j > 0 && less(moving, members[j - 1])) {
        members[j] = std::move(members[j - 1]);
        --j;
      }
      members[j] = std::move(moving);
    }
  } else {
    std::stable_sort(members.begin(), members.end(), less);
  }
  JsonObject object;
  object.members_.reserve(members.size());
  for (auto& member : members) {
    if (!object.members_.empty() && object.members_.back().key == member.key) {
      object.members_.back().value = std::move(member.value);
    } else {
      object.members_.push_back(std::move(member));
    }
  }
  return object;
}

JsonValue JsonValue::f64(double value) {
  auto number = JsonNumber::from_f64(value);
  if (!number) return JsonValue();
  return JsonValue(*number);
}

Content Content::array(Array value) {
  Content content;
  content.data_.emplace<4>(std::move(value));
  return content;
}

Content Content::object(Object value) {
  Content content;
  content.data_.emplace<5>(std::move(value));
  return content;
}

Content content_from_value(const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: return Content();
    case JsonValue::Kind::Bool: return Content(value.as_bool());
    case JsonValue::Kind::Number: return Content(value.as_number());
    case JsonValue::Kind::String: return Content(value.as_string());
    case JsonValue::Kind::Array: {
      Content::Array items;
      items.reserve(value.as_array().size());
      for (const auto& item : value.as_array()) items.push_back(content_from_value(item));
      return Content::array(std::move(items));
    }
    case JsonValue::Kind::Object: {
      Content::Object members;
      members.reserve(value.as_object().size());
      for (const auto& member : value.as_object().members()) {
        members.push_back(ContentMember{member.key, content_from_value(member.value)});
      }
      return Content::object(std::move(members));
    }
  }
  return Content();
}

Content content_from_value(JsonValue&& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: return Content();
    case JsonValue::Kind::Bool: return Content(value.as_bool());
    case JsonValue::Kind::Number: return Content(value.as_number());
    case JsonValue::Kind::String: return Content(std::move(value.as_string()));
    case JsonValue::Kind::Array: {
      Content::Array items;
      items.reserve(value.as_array().size());
      for (JsonValue& item : value.as_array()) items.push_back(content_from_value(std::move(item)));
      return Content::array(std::move(items));
    }
    case JsonValue::Kind::Object: {
      std::vector<JsonMember> taken = value.as_object().take_members();
      Content::Object members;
      members.reserve(taken.size());
      for (JsonMember& member : taken) {
        members.push_back(ContentMember{std::move(member.key), content_from_value(std::move(member.value))});
      }
      return Content::object(std::move(members));
    }
  }
  return Content();
}

std::string describe_number(const JsonNumber& number) {
  switch (number.kind()) {
    case JsonNumber::Kind::U64: return describe_u64(number.as_u64());
    case JsonNumber::Kind::I64: return describe_i64(number.as_i64());
    case JsonNumber::Kind::F64: return describe_f64(number.as_f64());
  }
  return {};
}

std::string describe_value(const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: return describe_null();
    case JsonValue::Kind::Bool: return describe_bool(value.as_bool());
    case JsonValue::Kind::Number: return describe_number(value.as_number());
    case JsonValue::Kind::String: return describe_string(value.as_string());
    case JsonValue::Kind::Array: return describe_sequence();
    case JsonValue::Kind::Object: return describe_map();
  }
  return {};
}

std::string describe_content(const Content& value) {
  switch (value.kind()) {
    case Content::Kind::Null: return describe_null();
    case Content::Kind::Bool: return describe_bool(value.as_bool());
    case Content::Kind::Number: return describe_number(value.as_number());
    case Content::Kind::String: return describe_string(value.as_string());
    case Content::Kind::Array: return describe_sequence();
    case Content::Kind::Object: return describe_map();
  }
  return {};
}

namespace {

JsonResult<uint64_t> unsigned_in_range(const JsonNumber& number, uint64_t max,
                                       std::string_view expected) {
  switch (number.kind()) {
    case JsonNumber::Kind::U64:
      if (number.as_u64() > max) return unexpected(invalid_value(describe_number(number), expected));
      return number.as_u64();
    case JsonNumber::Kind::I64: return unexpected(invalid_value(describe_number(number), expected));
    case JsonNumber::Kind::F64: break;
  }
  return unexpected(invalid_type(describe_number(number), expected));
}

}  // namespace

JsonResult<uint32_t> number_to_u32(const JsonNumber& number) {
  CMX_ASSIGN_OR_RETURN(uint64_t value,
                       unsigned_in_range(number, std::numeric_limits<uint32_t>::max(), "u32"));
  return static_cast<uint32_t>(value);
}

JsonResult<uint16_t> number_to_u16(const JsonNumber& number) {
  CMX_ASSIGN_OR_RETURN(uint64_t value,
                       unsigned_in_range(number, std::numeric_limits<uint16_t>::max(), "u16"));
  return static_cast<uint16_t>(value);
}

JsonResult<uint8_t> number_to_u8(const JsonNumber& number) {
  CMX_ASSIGN_OR_RETURN(uint64_t value,
                       unsigned_in_range(number, std::numeric_limits<uint8_t>::max(), "u8"));
  return static_cast<uint8_t>(value);
}

JsonResult<uint64_t> number_to_u64(const JsonNumber& number) {
  return unsigned_in_range(number, std::numeric_limits<uint64_t>::max(), "u64");
}

JsonResult<int64_t> number_to_i64(const JsonNumber& number) {
  switch (number.kind()) {
    case JsonNumber::Kind::U64:
      if (number.as_u64() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return unexpected(invalid_value(describe_number(number), "i64"));
      }
      return static_cast<int64_t>(number.as_u64());
    case JsonNumber::Kind::I64: return number.as_i64();
    case JsonNumber::Kind::F64: break;
  }
  return unexpected(invalid_type(describe_number(number), "i64"));
}

}  // namespace cmx::json
