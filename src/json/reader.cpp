#include "json/reader.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::json {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A byte that ends a run of plain string bytes.
bool is_string_special(unsigned char byte) { return byte == '"' || byte == '\\' || byte < 0x20; }

// The offset in `run` of the first byte that cannot continue well-formed
// UTF-8, or run.size() when the fault is that the run ends inside a sequence
// (or when there is no fault: then `complete` is true).
size_t utf8_fault_offset(std::string_view run, bool& complete) {
  complete = false;
  size_t i = 0;
  while (i < run.size()) {
    auto lead = static_cast<unsigned char>(run[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    for (size_t k = 1; k < length; ++k) {
      if (i + k == run.size()) return run.size();
      auto byte = static_cast<unsigned char>(run[i + k]);
      if (k == 1 ? (byte < low || byte > high) : (byte < 0x80 || byte > 0xBF)) return i + k;
    }
    i += length;
  }
  complete = true;
  return run.size();
}

}  // namespace

// --- places ------------------------------------------------------------------

void JsonReader::place_error(JsonError& error, std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  size_t line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  error.line = line;
  error.column = offset - line_start;
}

JsonError JsonReader::error_here(JsonErrorKind kind) const {
  JsonError error = syntax_error(kind);
  place_error(error, text_, pos_);
  return error;
}

JsonError JsonReader::error_after_peek(JsonErrorKind kind) const {
  JsonError error = syntax_error(kind);
  place_error(error, text_, std::min(pos_ + 1, text_.size()));
  return error;
}

JsonError JsonReader::fix_position(JsonError error) const {
  if (!error.has_position()) place_error(error, text_, pos_);
  return error;
}

// --- bytes and nesting ----------------------------------------------------------

std::optional<char> JsonReader::skip_whitespace() {
  while (pos_ < text_.size()) {
    char c = text_[pos_];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
    ++pos_;
  }
  return std::nullopt;
}

JsonResult<void> JsonReader::enter_nesting() {
  --remaining_depth_;
  if (remaining_depth_ == 0) {
    ++remaining_depth_;
    return unexpected(error_after_peek(JsonErrorKind::RecursionLimitExceeded));
  }
  return {};
}

// --- arrays and objects ------------------------------------------------------------

JsonResult<bool> JsonReader::next_element(bool& first) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingList));
  if (*peek == ']') return false;
  if (*peek == ',' && !first) {
    eat();
    peek = skip_whitespace();
    if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
    if (*peek == ']') return unexpected(error_after_peek(JsonErrorKind::TrailingComma));
    return true;
  }
  if (!first) return unexpected(error_after_peek(JsonErrorKind::ExpectedListCommaOrEnd));
  first = false;
  return true;
}

JsonResult<bool> JsonReader::next_member(bool& first) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingObject));
  if (*peek == '}') return false;
  if (*peek == ',' && !first) {
    eat();
    peek = skip_whitespace();
  } else if (first) {
    first = false;
  } else {
    return unexpected(error_after_peek(JsonErrorKind::ExpectedObjectCommaOrEnd));
  }
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek == '"') return true;
  if (*peek == '}') return unexpected(error_after_peek(JsonErrorKind::TrailingComma));
  return unexpected(error_after_peek(JsonErrorKind::KeyMustBeAString));
}

JsonResult<std::string> JsonReader::read_key() { return parse_string(); }

JsonResult<void> JsonReader::expect_colon() {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingObject));
  if (*peek != ':') return unexpected(error_after_peek(JsonErrorKind::ExpectedColon));
  eat();
  return {};
}

JsonResult<void> JsonReader::end_array() {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingList));
  if (*peek == ']') {
    eat();
    return {};
  }
  if (*peek == ',') {
    eat();
    peek = skip_whitespace();
    if (peek && *peek == ']') return unexpected(error_after_peek(JsonErrorKind::TrailingComma));
  }
  return unexpected(error_after_peek(JsonErrorKind::TrailingCharacters));
}

JsonResult<void> JsonReader::end_object() {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingObject));
  if (*peek == '}') {
    eat();
    return {};
  }
  if (*peek == ',') return unexpected(error_after_peek(JsonErrorKind::TrailingComma));
  return unexpected(error_after_peek(JsonErrorKind::TrailingCharacters));
}

JsonError JsonReader::fail_in_array(JsonError error) {
  if (error.has_position()) return error;
  (void)end_array();
  return fix_position(std::move(error));
}

JsonError JsonReader::fail_in_object(JsonError error) {
  if (error.has_position()) return error;
  (void)end_object();
  return fix_position(std::move(error));
}

// --- strings -------------------------------------------------------------------

JsonResult<uint16_t> JsonReader::decode_hex_escape() {
  if (text_.size() - pos_ < 4) {
    pos_ = text_.size();
    return unexpected(error_here(JsonErrorKind::EofWhileParsingString));
  }
  int value = 0;
  bool valid = true;
  for (int i = 0; i < 4; ++i) {
    int digit = hex_value(text_[pos_ + static_cast<size_t>(i)]);
    if (digit < 0) valid = false;
    value = value * 16 + (digit < 0 ? 0 : digit);
  }
  pos_ += 4;
  if (!valid) return unexpected(error_here(JsonErrorKind::InvalidEscape));
  return static_cast<uint16_t>(value);
}

JsonResult<void> JsonReader::parse_unicode_escape(std::string* out) {
  CMX_ASSIGN_OR_RETURN(uint16_t first, decode_hex_escape());
  if (first >= 0xDC00 && first <= 0xDFFF) {
    return unexpected(error_here(JsonErrorKind::LoneLeadingSurrogate));
  }
  if (first < 0xD800 || first > 0xDBFF) {
    if (out) unicode::append_utf8(*out, first);
    return {};
  }
  // A high surrogate must be followed at once by a "\u" low surrogate.
  for (char expected : {'\\', 'u'}) {
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingString));
    if (text_[pos_] != expected) {
      ++pos_;
      return unexpected(error_here(JsonErrorKind::UnexpectedEndOfHexEscape));
    }
    ++pos_;
  }
  CMX_ASSIGN_OR_RETURN(uint16_t second, decode_hex_escape());
  if (second < 0xDC00 || second > 0xDFFF) {
    return unexpected(error_here(JsonErrorKind::LoneLeadingSurrogate));
  }
  char32_t cp = 0x10000 + ((static_cast<char32_t>(first - 0xD800) << 10) |
                           static_cast<char32_t>(second - 0xDC00));
  if (out) unicode::append_utf8(*out, cp);
  return {};
}

JsonResult<void> JsonReader::parse_string_impl(std::string* out) {
  ++pos_;  // the opening quote
  while (true) {
    size_t run_start = pos_;
    bool ascii = true;
    while (pos_ < text_.size()) {
      auto byte = static_cast<unsigned char>(text_[pos_]);
      if (is_string_special(byte)) break;
      if (byte >= 0x80) ascii = false;
      ++pos_;
    }
    std::string_view run = text_.substr(run_start, pos_ - run_start);
    if (!ascii) {
      bool complete = false;
      size_t fault = utf8_fault_offset(run, complete);
      if (!complete) {
        // Placed just after the byte that breaks the sequence; when the run
        // ends inside one, that is the byte that ended the run.
        pos_ = run_start + fault;
        return unexpected(error_after_peek(JsonErrorKind::InvalidUtf8));
      }
    }
    if (out) out->append(run);
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingString));
    char c = text_[pos_++];
    if (c == '"') return {};
    if (c != '\\') return unexpected(error_here(JsonErrorKind::ControlCharacter));
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingString));
    char escape = text_[pos_++];
    char decoded = 0;
    switch (escape) {
      case '"': decoded = '"'; break;
      case '\\': decoded = '\\'; break;
      case '/': decoded = '/'; break;
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      case 'u': CMX_TRY(parse_unicode_escape(out)); continue;
      default: return unexpected(error_here(JsonErrorKind::InvalidEscape));
    }
    if (out) out->push_back(decoded);
  }
}

JsonResult<std::string> JsonReader::parse_string() {
  std::string out;
  CMX_TRY(parse_string_impl(&out));
  return out;
}

// --- numbers and literals ----------------------------------------------------------

JsonResult<JsonNumber> JsonReader::parse_number_impl(bool want_value) {
  const size_t start = pos_;
  bool negative = false;
  if (text_[pos_] == '-') {
    negative = true;
    ++pos_;
  }
  if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingValue));
  char lead = text_[pos_++];
  if (lead == '0') {
    // One leading zero only.
    if (pos_ < text_.size() && is_digit(text_[pos_])) {
      return unexpected(error_after_peek(JsonErrorKind::InvalidNumber));
    }
  } else if (is_digit(lead)) {
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
  } else {
    return unexpected(error_here(JsonErrorKind::InvalidNumber));
  }
  const size_t int_end = pos_;
  bool is_float = false;
  if (pos_ < text_.size() && text_[pos_] == '.') {
    is_float = true;
    ++pos_;
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingValue));
    if (!is_digit(text_[pos_])) return unexpected(error_after_peek(JsonErrorKind::InvalidNumber));
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    is_float = true;
    ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingValue));
    if (!is_digit(text_[pos_++])) return unexpected(error_here(JsonErrorKind::InvalidNumber));
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
  }
  if (!want_value) return JsonNumber::from_u64(0);

  std::string_view number = text_.substr(start, pos_ - start);
  if (!is_float) {
    // The digits are checked already; accumulate with an overflow test.
    uint64_t magnitude = 0;
    bool overflow = false;
    for (size_t i = start + (negative ? 1 : 0); i < int_end; ++i) {
      auto digit = static_cast<uint64_t>(text_[i] - '0');
      overflow |= __builtin_mul_overflow(magnitude, uint64_t{10}, &magnitude);
      overflow |= __builtin_add_overflow(magnitude, digit, &magnitude);
    }
    if (!overflow) {
      if (!negative) return JsonNumber::from_u64(magnitude);
      constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;
      if (magnitude <= kMinMagnitude) return JsonNumber::from_i64(static_cast<int64_t>(0 - magnitude));
    }
    // Integers beyond the 64-bit ranges read as the nearest double.
  }
  // Fast path for the common in-range float; the grammar is checked above.
  double fast = 0.0;
  auto converted = std::from_chars(number.data(), number.data() + number.size(), fast);
  if (converted.ec == std::errc() && converted.ptr == number.data() + number.size()) {
    return *JsonNumber::from_f64(fast);
  }
  // Out of range one way or the other: overflow is refused, underflow is zero.
  std::optional<ParsedFloat> parsed = parse_float(number, FloatSyntax{.allow_bare_point = false});
  if (!parsed || parsed->range == FloatRange::Overflow) {
    return unexpected(error_here(JsonErrorKind::NumberOutOfRange));
  }
  // Below the smallest subnormal the value is a (signed) zero.
  return *JsonNumber::from_f64(parsed->value);
}

JsonResult<JsonNumber> JsonReader::parse_number() { return parse_number_impl(/*want_value=*/true); }

JsonResult<void> JsonReader::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    if (pos_ == text_.size()) return unexpected(error_here(JsonErrorKind::EofWhileParsingValue));
    if (text_[pos_++] != expected) return unexpected(error_here(JsonErrorKind::ExpectedIdent));
  }
  return {};
}

// --- typed reads ---------------------------------------------------------------

JsonError JsonReader::peek_invalid_type(std::string_view expected) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return error_after_peek(JsonErrorKind::EofWhileParsingValue);
  std::string found;
  switch (*peek) {
    case 'n': {
      eat();
      if (auto r = parse_ident("ull"); !r) return std::move(r).error();
      found = describe_null();
      break;
    }
    case 't':
    case 'f': {
      eat();
      bool value = *peek == 't';
      if (auto r = parse_ident(value ? "rue" : "alse"); !r) return std::move(r).error();
      found = describe_bool(value);
      break;
    }
    case '"': {
      auto text = parse_string();
      if (!text) return std::move(text).error();
      found = describe_string(*text);
      break;
    }
    case '[': found = describe_sequence(); break;
    case '{': found = describe_map(); break;
    default: {
      if (*peek != '-' && !is_digit(*peek)) return error_after_peek(JsonErrorKind::ExpectedValue);
      auto number = parse_number();
      if (!number) return std::move(number).error();
      found = describe_number(*number);
    }
  }
  return fix_position(invalid_type(std::move(found), expected));
}

JsonResult<std::string> JsonReader::read_string() {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '"') return unexpected(peek_invalid_type("a string"));
  return parse_string();
}

JsonResult<bool> JsonReader::read_bool() {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek == 't' || *peek == 'f') {
    eat();
    bool value = *peek == 't';
    CMX_TRY(parse_ident(value ? "rue" : "alse"));
    return value;
  }
  return unexpected(peek_invalid_type("a boolean"));
}

JsonResult<JsonNumber> JsonReader::read_number_token(std::string_view expected) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '-' && !is_digit(*peek)) return unexpected(peek_invalid_type(expected));
  return parse_number();
}

JsonResult<double> JsonReader::read_f64() {
  CMX_ASSIGN_OR_RETURN(JsonNumber number, read_number_token("f64"));
  return number.to_f64();
}

template <typename T>
JsonResult<T> JsonReader::read_integer(std::string_view expected, JsonResult<T> (*convert)(const JsonNumber&)) {
  CMX_ASSIGN_OR_RETURN(JsonNumber number, read_number_token(expected));
  auto value = convert(number);
  if (!value) return unexpected(fix_position(std::move(value).error()));
  return *value;
}

JsonResult<uint32_t> JsonReader::read_u32() { return read_integer<uint32_t>("u32", number_to_u32); }
JsonResult<uint16_t> JsonReader::read_u16() { return read_integer<uint16_t>("u16", number_to_u16); }
JsonResult<uint8_t> JsonReader::read_u8() { return read_integer<uint8_t>("u8", number_to_u8); }
JsonResult<uint64_t> JsonReader::read_u64() { return read_integer<uint64_t>("u64", number_to_u64); }
JsonResult<int64_t> JsonReader::read_i64() { return read_integer<int64_t>("i64", number_to_i64); }

JsonResult<bool> JsonReader::read_null_if_next() {
  std::optional<char> peek = skip_whitespace();
  if (!peek || *peek != 'n') return false;
  eat();
  CMX_TRY(parse_ident("ull"));
  return true;
}

// --- whole values ----------------------------------------------------------------

JsonResult<JsonValue> JsonReader::read_value() {
  JsonValue value;
  CMX_TRY(read_value_into(value));
  return value;
}

JsonResult<void> JsonReader::read_value_into(JsonValue& out) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  switch (*peek) {
    case 'n': eat(); return parse_ident("ull");
    case 't': eat(); CMX_TRY(parse_ident("rue")); out = JsonValue(true); return {};
    case 'f': eat(); CMX_TRY(parse_ident("alse")); out = JsonValue(false); return {};
    case '"': return parse_string_impl(&out.emplace_string());
    case '[': {
      CMX_TRY(enter_nesting());
      eat();
      JsonValue::Array& items = out.emplace_array();
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, next_element(first));
        if (!more) break;
        CMX_TRY(read_value_into(items.emplace_back()));
      }
      leave_nesting();
      return end_array();
    }
    case '{': {
      CMX_TRY(enter_nesting());
      eat();
      std::vector<JsonMember> members;
      members.reserve(8);
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, next_member(first));
        if (!more) break;
        JsonMember& member = members.emplace_back();
        CMX_TRY(parse_string_impl(&member.key));
        CMX_TRY(expect_colon());
        CMX_TRY(read_value_into(member.value));
      }
      leave_nesting();
      CMX_TRY(end_object());
      out = JsonValue(JsonObject::from_document_order(std::move(members)));
      return {};
    }
    default:
      if (*peek == '-' || is_digit(*peek)) {
        CMX_ASSIGN_OR_RETURN(JsonNumber number, parse_number());
        out = JsonValue(number);
        return {};
      }
      return unexpected(error_after_peek(JsonErrorKind::ExpectedValue));
  }
}

JsonResult<Content> JsonReader::read_content() {
  Content content;
  CMX_TRY(read_content_into(content));
  return content;
}

JsonResult<void> JsonReader::read_content_into(Content& out) {
  std::optional<char> peek = skip_whitespace();
  if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
  switch (*peek) {
    case 'n': eat(); return parse_ident("ull");
    case 't': eat(); CMX_TRY(parse_ident("rue")); out = Content(true); return {};
    case 'f': eat(); CMX_TRY(parse_ident("alse")); out = Content(false); return {};
    case '"': return parse_string_impl(&out.emplace_string());
    case '[': {
      CMX_TRY(enter_nesting());
      eat();
      Content::Array& items = out.emplace_array();
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, next_element(first));
        if (!more) break;
        CMX_TRY(read_content_into(items.emplace_back()));
      }
      leave_nesting();
      return end_array();
    }
    case '{': {
      CMX_TRY(enter_nesting());
      eat();
      Content::Object& members = out.emplace_object();
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, next_member(first));
        if (!more) break;
        ContentMember& member = members.emplace_back();
        CMX_TRY(parse_string_impl(&member.key));
        CMX_TRY(expect_colon());
        CMX_TRY(read_content_into(member.value));
      }
      leave_nesting();
      return end_object();
    }
    default:
      if (*peek == '-' || is_digit(*peek)) {
        CMX_ASSIGN_OR_RETURN(JsonNumber number, parse_number());
        out = Content(number);
        return {};
      }
      return unexpected(error_after_peek(JsonErrorKind::ExpectedValue));
  }
}

JsonResult<void> JsonReader::skip_scalar(char first) {
  switch (first) {
    case 'n': eat(); return parse_ident("ull");
    case 't': eat(); return parse_ident("rue");
    case 'f': eat(); return parse_ident("alse");
    case '"': return parse_string_impl(nullptr);
    default:
      if (first == '-' || is_digit(first)) {
        CMX_TRY(parse_number_impl(/*want_value=*/false));
        return {};
      }
      return unexpected(error_after_peek(JsonErrorKind::ExpectedValue));
  }
}

JsonResult<void> JsonReader::skip_value() {
  // Remote peers send the values that get skipped, so nesting depth is only
  // bounded by the input length: an explicit stack instead of recursion.
  std::vector<bool> open_is_object;
  while (true) {
    // A value begins here.
    std::optional<char> peek = skip_whitespace();
    if (!peek) return unexpected(error_after_peek(JsonErrorKind::EofWhileParsingValue));
    bool descended = false;
    if (*peek == '[') {
      eat();
      bool first = true;
      CMX_ASSIGN_OR_RETURN(bool more, next_element(first));
      if (more) {
        open_is_object.push_back(false);
        descended = true;
      } else {
        eat();
      }
    } else if (*peek == '{') {
      eat();
      bool first = true;
      CMX_ASSIGN_OR_RETURN(bool more, next_member(first));
      if (more) {
        CMX_TRY(parse_string_impl(nullptr));
        CMX_TRY(expect_colon());
        open_is_object.push_back(true);
        descended = true;
      } else {
        eat();
      }
    } else {
      CMX_TRY(skip_scalar(*peek));
    }
    if (descended) continue;
    // A value ended: close every container that ends with it.
    while (!open_is_object.empty()) {
      bool first = false;
      if (open_is_object.back()) {
        CMX_ASSIGN_OR_RETURN(bool more, next_member(first));
        if (more) {
          CMX_TRY(parse_string_impl(nullptr));
          CMX_TRY(expect_colon());
          break;
        }
      } else {
        CMX_ASSIGN_OR_RETURN(bool more, next_element(first));
        if (more) break;
      }
      eat();  // the closing bracket
      open_is_object.pop_back();
    }
    if (open_is_object.empty()) return {};
  }
}

JsonResult<void> JsonReader::finish() {
  if (skip_whitespace()) return unexpected(error_after_peek(JsonErrorKind::TrailingCharacters));
  return {};
}

JsonResult<JsonValue> parse_json_value(std::string_view text) {
  return read_json_text(text, [](JsonReader& reader) { return reader.read_value(); });
}

}  // namespace cmx::json
