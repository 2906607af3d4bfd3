// Fuzzes the JSON reader against a second, deliberately plain reading of the
// same grammar: both must agree on acceptance, and where both accept, on the
// value. Also: errors carry a place inside the text, the compact text of a
// value reads back as the same value, skipping accepts what reading accepts,
// and the byte count of a tree equals its written length.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unicode.h"
#include "json/json.h"

using namespace cmx::json;

namespace {

// The plain reading: recursive descent straight from RFC 8259, with the
// reader's nesting limit and number classes. `unknown` marks inputs whose
// numbers it cannot classify without the reader's own range logic.
struct Oracle {
  std::string_view s;
  size_t i = 0;
  int depth = 0;
  bool unknown = false;

  void ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  bool lit(std::string_view word) {
    if (s.substr(i, word.size()) != word) return false;
    i += word.size();
    return true;
  }
  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  std::optional<unsigned> hex4() {
    if (s.size() - i < 4) return std::nullopt;
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      int h = hex(s[i + static_cast<size_t>(k)]);
      if (h < 0) return std::nullopt;
      v = v * 16 + static_cast<unsigned>(h);
    }
    i += 4;
    return v;
  }
  std::optional<std::string> str() {
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    ++i;
    std::string out;
    while (true) {
      if (i >= s.size()) return std::nullopt;
      unsigned char c = static_cast<unsigned char>(s[i++]);
      if (c == '"') break;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (i >= s.size()) return std::nullopt;
      char e = s[i++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          auto hi = hex4();
          if (!hi) return std::nullopt;
          unsigned cp = *hi;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!lit("\\u")) return std::nullopt;
            auto lo = hex4();
            if (!lo || *lo < 0xDC00 || *lo > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (*lo - 0xDC00);
          }
          cmx::unicode::append_utf8(out, static_cast<char32_t>(cp));
          break;
        }
        default: return std::nullopt;
      }
    }
    return out;
  }
  static bool digit(char c) { return c >= '0' && c <= '9'; }
  std::optional<JsonValue> num() {
    size_t start = i;
    bool neg = false;
    if (i < s.size() && s[i] == '-') { neg = true; ++i; }
    if (i >= s.size() || !digit(s[i])) return std::nullopt;
    if (s[i] == '0') ++i; else while (i < s.size() && digit(s[i])) ++i;
    bool is_float = false;
    if (i < s.size() && s[i] == '.') {
      is_float = true;
      ++i;
      if (i >= s.size() || !digit(s[i])) return std::nullopt;
      while (i < s.size() && digit(s[i])) ++i;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      is_float = true;
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      if (i >= s.size() || !digit(s[i])) return std::nullopt;
      while (i < s.size() && digit(s[i])) ++i;
    }
    // A leading zero followed by a digit is no number at all.
    if (i < s.size() && digit(s[i])) return std::nullopt;
    std::string_view text = s.substr(start, i - start);
    if (!is_float) {
      if (!neg) {
        uint64_t u = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), u);
        if (r.ec == std::errc()) return JsonValue::u64(u);
      } else {
        int64_t v = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec == std::errc()) return JsonValue::i64(v);  // "-0" is the integer 0
      }
    }
    double d = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), d);
    if (r.ec != std::errc()) {
      unknown = true;  // beyond the double range either way
      return JsonValue();
    }
    return JsonValue::f64(d);
  }
  std::optional<JsonValue> value() {
    ws();
    if (i >= s.size()) return std::nullopt;
    char c = s[i];
    if (c == 'n') return lit("null") ? std::optional<JsonValue>(JsonValue()) : std::nullopt;
    if (c == 't') return lit("true") ? std::optional<JsonValue>(JsonValue(true)) : std::nullopt;
    if (c == 'f') return lit("false") ? std::optional<JsonValue>(JsonValue(false)) : std::nullopt;
    if (c == '"') {
      auto t = str();
      if (!t) return std::nullopt;
      return JsonValue(std::move(*t));
    }
    if (c == '[') {
      if (++depth >= 128) return std::nullopt;
      ++i;
      JsonValue::Array items;
      ws();
      if (i < s.size() && s[i] == ']') {
        ++i;
      } else {
        while (true) {
          auto v = value();
          if (!v) return std::nullopt;
          items.push_back(std::move(*v));
          ws();
          if (i < s.size() && s[i] == ',') { ++i; continue; }
          if (i < s.size() && s[i] == ']') { ++i; break; }
          return std::nullopt;
        }
      }
      --depth;
      return JsonValue(std::move(items));
    }
    if (c == '{') {
      if (++depth >= 128) return std::nullopt;
      ++i;
      JsonObject object;
      ws();
      if (i < s.size() && s[i] == '}') {
        ++i;
      } else {
        while (true) {
          ws();
          auto k = str();
          if (!k) return std::nullopt;
          ws();
          if (!lit(":")) return std::nullopt;
          auto v = value();
          if (!v) return std::nullopt;
          object.insert(std::move(*k), std::move(*v));  // the last repeat wins
          ws();
          if (i < s.size() && s[i] == ',') { ++i; continue; }
          if (i < s.size() && s[i] == '}') { ++i; break; }
          return std::nullopt;
        }
      }
      --depth;
      return JsonValue(std::move(object));
    }
    if (c == '-' || digit(c)) return num();
    return std::nullopt;
  }
  std::optional<JsonValue> document() {
    auto v = value();
    if (!v) return std::nullopt;
    ws();
    if (i != s.size()) return std::nullopt;
    return v;
  }
};

void check(bool condition) {
  if (!condition) std::abort();
}

// The record rules over the same input: whatever they refuse carries a
// place inside the text.
constexpr FieldSpec kPairFields[] = {{"row"}, {"col", Presence::Optional, /*array_default=*/true}};
constexpr RecordSpec kPair{"struct Pair", kPairFields};
constexpr std::string_view kWords[] = {"a1", "rowCol", "x"};
constexpr TaggedSpec kTagged{"Address", "kind", kWords, /*allow_index=*/true};

template <typename T>
void check_placed(std::string_view text, const JsonResult<T>& result) {
  if (result.has_value()) return;
  check(result.error().line >= 1);
  check(result.error().column <= text.size());
}

void run_rules(std::string_view text) {
  auto record = read_json_text(text, [](JsonReader& reader) {
    return read_record(reader, kPair, [](size_t, JsonReader& r) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(bool none, r.read_null_if_next());
      if (none) return {};
      CMX_TRY(r.read_u32());
      return {};
    });
  });
  check_placed(text, record);
  auto word = read_json_text(text, [](JsonReader& reader) { return read_word(reader, kWords); });
  check_placed(text, word);
  auto tagged = read_json_text(text, [](JsonReader& reader) -> JsonResult<size_t> {
    CMX_ASSIGN_OR_RETURN(TaggedContent content, read_tagged(reader, kTagged));
    if (content.variant == 2) {
      CMX_TRY(read_unit_variant(content.rest));
      return content.variant;
    }
    CMX_TRY(read_record(content.rest, kPair, [](size_t, const Content& v) -> JsonResult<void> {
      if (v.is_null()) return {};
      CMX_TRY(content_to_u32(v));
      return {};
    }));
    return content.variant;
  });
  check_placed(text, tagged);
  auto list = read_json_text(text, [](JsonReader& reader) -> JsonResult<size_t> {
    size_t count = 0;
    CMX_TRY(read_list(reader, [&](JsonReader& r) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(JsonValue element, r.read_value());
      CMX_ASSIGN_OR_RETURN(TaggedContent content, tagged_from_value(element, kTagged));
      CMX_TRY(word_from_content(content.rest, kWords));
      ++count;
      return {};
    }));
    return count;
  });
  check_placed(text, list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto ours = parse_json_value(text);
  if (!ours) {
    const JsonError& error = ours.error();
    check(error.line >= 1);
    check(error.column <= size);
  }

  // Skipping is exempt from the nesting limit and the range check only.
  JsonReader skipper(text);
  bool skipped = skipper.skip_value().has_value() && skipper.finish().has_value();
  if (ours) check(skipped);

  Oracle oracle{text};
  auto plain = oracle.document();
  // Strings must be UTF-8 for the oracle too.
  if (plain && !cmx::unicode::is_valid_utf8(text)) plain.reset();
  if (!oracle.unknown) {
    if (plain.has_value() != ours.has_value()) std::abort();
    if (plain && !(*plain == *ours)) std::abort();
  }

  run_rules(text);

  if (ours) {
    std::string compact = json_value_to_string(*ours);
    check(json_value_length(*ours) == compact.size());
    auto again = parse_json_value(compact);
    check(again.has_value());
    check(*again == *ours);
    check(json_value_to_string(*again) == compact);
  }
  return 0;
}
