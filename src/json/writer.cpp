#include "json/writer.h"

#include <array>
#include <charconv>

namespace cmx::json {

namespace {

// Bytes that are not copied as they are: 0 = copy, 'u' = \u00XX, else the
// letter after the backslash.
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte) table[static_cast<size_t>(byte)] = 'u';
  table['"'] = '"';
  table['\\'] = '\\';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  return table;
}
constexpr std::array<char, 256> kEscape = make_escape_table();

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t run_start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char escape = kEscape[static_cast<unsigned char>(text[i])];
    if (escape == 0) continue;
    out.append(text.data() + run_start, i - run_start);
    run_start = i + 1;
    out.push_back('\\');
    if (escape == 'u') {
      auto byte = static_cast<unsigned char>(text[i]);
      out += "u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(escape);
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out.push_back('"');
}

void append_json_u64(std::string& out, uint64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_json_i64(std::string& out, int64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

uint64_t json_string_length(std::string_view text) {
  uint64_t total = 2;
  for (char c : text) {
    char escape = kEscape[static_cast<unsigned char>(c)];
    total += escape == 0 ? 1 : escape == 'u' ? 6 : 2;
  }
  return total;
}

uint64_t json_u64_length(uint64_t value) {
  uint64_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

uint64_t json_i64_length(int64_t value) {
  if (value >= 0) return json_u64_length(static_cast<uint64_t>(value));
  return 1 + json_u64_length(0 - static_cast<uint64_t>(value));
}

uint64_t json_f64_length(double value) { return format_json_f64(value).size(); }

// --- value trees -------------------------------------------------------------------

namespace {

void write_number(std::string& out, const JsonNumber& number) {
  switch (number.kind()) {
    case JsonNumber::Kind::U64: append_json_u64(out, number.as_u64()); return;
    case JsonNumber::Kind::I64: append_json_i64(out, number.as_i64()); return;
    case JsonNumber::Kind::F64: append_json_f64(out, number.as_f64()); return;
  }
}

uint64_t number_length(const JsonNumber& number) {
  switch (number.kind()) {
    case JsonNumber::Kind::U64: return json_u64_length(number.as_u64());
    case JsonNumber::Kind::I64: return json_i64_length(number.as_i64());
    case JsonNumber::Kind::F64: return json_f64_length(number.as_f64());
  }
  return 0;
}

}  // namespace

void write_json_value(std::string& out, const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: out += "null"; return;
    case JsonValue::Kind::Bool: out += value.as_bool() ? "true" : "false"; return;
    case JsonValue::Kind::Number: write_number(out, value.as_number()); return;
    case JsonValue::Kind::String: append_json_string(out, value.as_string()); return;
    case JsonValue::Kind::Array: write_json_array(out, value.as_array()); return;
    case JsonValue::Kind::Object: {
      out.push_back('{');
      bool first = true;
      for (const JsonMember& member : value.as_object().members()) {
        write_json_object_entry(out, member.key, member.value, first);
        first = false;
      }
      out.push_back('}');
      return;
    }
  }
}

void write_json_array(std::string& out, const JsonValue::Array& items) {
  out.push_back('[');
  bool first = true;
  for (const JsonValue& item : items) {
    if (!first) out.push_back(',');
    first = false;
    write_json_value(out, item);
  }
  out.push_back(']');
}

void write_json_object_entry(std::string& out, std::string_view key, const JsonValue& value, bool first) {
  if (!first) out.push_back(',');
  append_json_string(out, key);
  out.push_back(':');
  write_json_value(out, value);
}

std::string json_value_to_string(const JsonValue& value) {
  std::string out;
  out.reserve(detail::kCompactStartCapacity);
  write_json_value(out, value);
  return out;
}

uint64_t json_value_length(const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: return 4;
    case JsonValue::Kind::Bool: return value.as_bool() ? 4 : 5;
    case JsonValue::Kind::Number: return number_length(value.as_number());
    case JsonValue::Kind::String: return json_string_length(value.as_string());
    case JsonValue::Kind::Array: {
      const auto& items = value.as_array();
      uint64_t total = 2 + (items.empty() ? 0 : items.size() - 1);
      for (const JsonValue& item : items) total += json_value_length(item);
      return total;
    }
    case JsonValue::Kind::Object: {
      const auto& members = value.as_object().members();
      uint64_t total = 2 + (members.empty() ? 0 : members.size() - 1);
      for (const JsonMember& member : members) {
        total += json_string_length(member.key) + 1 + json_value_length(member.value);
      }
      return total;
    }
  }
  return 0;
}

// --- builders --------------------------------------------------------------------

void value_map_insert_str(JsonObject& object, std::string_view key, std::string_view value) {
  object.insert(std::string(key), JsonValue::string(value));
}

void value_map_insert_string(JsonObject& object, std::string_view key, std::string value) {
  object.insert(std::string(key), JsonValue(std::move(value)));
}

void value_map_insert_optional_string(JsonObject& object, std::string_view key,
                                      std::optional<std::string_view> value) {
  object.insert(std::string(key), value ? JsonValue::string(*value) : JsonValue());
}

void value_map_insert_bool(JsonObject& object, std::string_view key, bool value) {
  object.insert(std::string(key), JsonValue(value));
}

void value_map_insert_u32(JsonObject& object, std::string_view key, uint32_t value) {
  object.insert(std::string(key), JsonValue::u64(value));
}

void value_map_insert_optional_u32(JsonObject& object, std::string_view key,
                                   std::optional<uint32_t> value) {
  object.insert(std::string(key), value ? JsonValue::u64(*value) : JsonValue());
}

void value_map_insert_f64(JsonObject& object, std::string_view key, double value) {
  object.insert(std::string(key), JsonValue::f64(value));
}

void value_map_insert_kind(JsonObject& object, std::string_view word) {
  value_map_insert_str(object, "kind", word);
}

void value_map_insert_string_list(JsonObject& object, std::string_view key,
                                  std::span<const std::string> values) {
  JsonValue::Array items;
  items.reserve(values.size());
  for (const std::string& value : values) items.push_back(JsonValue::string(value));
  object.insert(std::string(key), JsonValue(std::move(items)));
}

void value_map_insert_path(JsonObject& object, std::span<const uint32_t> path) {
  JsonValue::Array items;
  items.reserve(path.size());
  for (uint32_t step : path) items.push_back(JsonValue::u64(step));
  object.insert("path", JsonValue(std::move(items)));
}

void value_map_insert_error_value(JsonObject& object, model::CellErrorCode code) {
  value_map_insert_str(object, "value", model::error_code_text(code));
}

}  // namespace cmx::json
