#include "reader/text_rules.h"

#include "base/unicode.h"

namespace cmx::reader {
namespace {

bool is_ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The byte length of a white-space scalar starting at `pos`, or 0.
size_t space_at(std::string_view text, size_t pos) {
  const unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) return is_ascii_space(c) ? 1 : 0;
  size_t next = pos;
  const char32_t cp = unicode::decode_utf8(text, next);
  return unicode::is_white_space(cp) ? next - pos : 0;
}

// The start of the white-space scalar that ends at `end`, or `end`.
size_t space_before(std::string_view text, size_t end) {
  const unsigned char last = static_cast<unsigned char>(text[end - 1]);
  if (last < 0x80) return is_ascii_space(last) ? end - 1 : end;
  size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4)
    --start;
  const size_t width = space_at(text, start);
  return width != 0 && start + width == end ? start : end;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t width = space_at(text, begin);
    if (width == 0) break;
    begin += width;
  }
  size_t end = text.size();
  while (end > begin) {
    const size_t start = space_before(text, end);
    if (start == end) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::optional<uint64_t> parse_plus_digits(std::string_view text, uint64_t max) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace cmx::reader
