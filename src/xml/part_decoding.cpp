#include "xml/part_decoding.h"

#include <algorithm>

#include "base/unicode.h"

namespace cmx::xml {

namespace {

inline uint8_t byte_at(std::string_view bytes, size_t index) { return static_cast<uint8_t>(bytes[index]); }

bool starts_with_bytes(std::string_view bytes, std::initializer_list<uint8_t> prefix) {
  if (bytes.size() < prefix.size()) return false;
  size_t index = 0;
  for (uint8_t b : prefix) {
    if (byte_at(bytes, index++) != b) return false;
  }
  return true;
}

Result<void, SpreadsheetParseError> decode_utf16(std::string_view body, bool little_endian, std::string& out) {
  if (body.size() % 2 != 0) return unexpected(SpreadsheetParseError::malformed("utf-16 part has an odd byte length"));
  const size_t units = body.size() / 2;
  auto unit_at = [&](size_t index) -> uint32_t {
    const uint32_t first = byte_at(body, 2 * index);
    const uint32_t second = byte_at(body, 2 * index + 1);
    return little_endian ? (first | (second << 8)) : ((first << 8) | second);
  };
  // Reserve by the exact UTF-8 length so the transcoding never reallocates.
  size_t needed = 0;
  for (size_t index = 0; index < units; ++index) {
    const uint32_t unit = unit_at(index);
    needed += unit < 0x80 ? 1 : unit < 0x800 ? 2 : (unit >= 0xD800 && unit <= 0xDFFF) ? 2 : 3;
  }
  // An oversized text is refused after decoding, so that an unpaired
  // surrogate is reported first; its storage stays bounded all the same.
  out.reserve(std::min<size_t>(needed, MAX_PART_BYTES + 4));
  for (size_t index = 0; index < units; ++index) {
    const uint32_t unit = unit_at(index);
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
      continue;
    }
    if (unit < 0xD800 || unit > 0xDFFF) {
      unicode::append_utf8(out, static_cast<char32_t>(unit));
      continue;
    }
    if (unit >= 0xDC00 || index + 1 >= units) {
      return unexpected(SpreadsheetParseError::malformed("utf-16 part has an unpaired surrogate"));
    }
    const uint32_t low = unit_at(index + 1);
    if (low < 0xDC00 || low > 0xDFFF) {
      return unexpected(SpreadsheetParseError::malformed("utf-16 part has an unpaired surrogate"));
    }
    unicode::append_utf8(out, static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
    ++index;
  }
  return {};
}

bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

size_t skip_white_space(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    size_t next = pos;
    const char32_t cp = unicode::decode_utf8(text, next);
    if (!unicode::is_white_space(cp)) break;
    pos = next;
  }
  return pos;
}

// A declaration at the very start of the text that names an encoding this
// layer cannot read would otherwise be decoded silently by its bytes.
Result<void, SpreadsheetParseError> check_declared_encoding(std::string_view text) {
  if (text.size() <= 4 || !text.starts_with("<?xml")) return {};
  const size_t close = text.find("?>", 5);
  if (close == std::string_view::npos) return {};
  const std::string_view body = text.substr(5, close - 5);
  const size_t keyword = body.find("encoding");
  if (keyword == std::string_view::npos) return {};
  size_t pos = skip_white_space(body, keyword + 8);
  if (pos >= body.size() || body[pos] != '=') return {};
  pos = skip_white_space(body, pos + 1);
  if (pos >= body.size() || (body[pos] != '"' && body[pos] != '\'')) return {};
  const char quote = body[pos];
  const size_t value_start = pos + 1;
  size_t value_end = body.find(quote, value_start);
  if (value_end == std::string_view::npos) value_end = body.size();
  const std::string_view value = body.substr(value_start, value_end - value_start);
  for (std::string_view accepted : {"utf8", "utf-8", "utf16", "utf-16", "utf-16le", "utf-16be"}) {
    if (ascii_iequal(value, accepted)) return {};
  }
  return unexpected(
      SpreadsheetParseError::malformed("part declares the unsupported encoding " + std::string(value)));
}

void append_unit(std::string& out, uint32_t unit, bool little_endian) {
  const char high = static_cast<char>((unit >> 8) & 0xFF);
  const char low = static_cast<char>(unit & 0xFF);
  if (little_endian) {
    out.push_back(low);
    out.push_back(high);
  } else {
    out.push_back(high);
    out.push_back(low);
  }
}

}  // namespace

Result<DecodedPart, SpreadsheetParseError> decode_part(std::string_view bytes) {
  if (bytes.size() > MAX_PART_BYTES) return unexpected(SpreadsheetParseError::of(ParseErrorKind::TreeTooLarge));
  DecodedPart part;
  size_t skip = 0;
  if (starts_with_bytes(bytes, {0xEF, 0xBB, 0xBF})) {
    part.had_bom = true;
    skip = 3;
  } else if (starts_with_bytes(bytes, {0xFF, 0xFE, 0x00, 0x00}) || starts_with_bytes(bytes, {0x00, 0x00, 0xFE, 0xFF})) {
    return unexpected(SpreadsheetParseError::malformed("part is not utf-8 or utf-16"));
  } else if (starts_with_bytes(bytes, {0xFF, 0xFE})) {
    part.encoding = PartEncoding::Utf16Le;
    part.had_bom = true;
    skip = 2;
  } else if (starts_with_bytes(bytes, {0xFE, 0xFF})) {
    part.encoding = PartEncoding::Utf16Be;
    part.had_bom = true;
    skip = 2;
  } else if (starts_with_bytes(bytes, {0x00, 0x3C})) {
    part.encoding = PartEncoding::Utf16Be;
  } else if (starts_with_bytes(bytes, {0x3C, 0x00})) {
    part.encoding = PartEncoding::Utf16Le;
  }
  const std::string_view body = bytes.substr(skip);
  if (part.encoding == PartEncoding::Utf8) {
    if (!unicode::is_ascii(body) && !unicode::is_valid_utf8(body)) {
      return unexpected(SpreadsheetParseError::malformed("part is not valid utf-8"));
    }
    part.text.assign(body);
  } else {
    CMX_TRY(decode_utf16(body, part.encoding == PartEncoding::Utf16Le, part.text));
  }
  if (part.text.size() > MAX_PART_BYTES) return unexpected(SpreadsheetParseError::of(ParseErrorKind::TreeTooLarge));
  CMX_TRY(check_declared_encoding(part.text));
  return part;
}

std::string encode_part_text(std::string_view text, PartEncoding encoding, bool had_bom) {
  std::string out;
  if (encoding == PartEncoding::Utf8) {
    out.reserve(text.size() + 3);
    if (had_bom) out.append("\xEF\xBB\xBF");
    out.append(text);
    return out;
  }
  const bool little_endian = encoding == PartEncoding::Utf16Le;
  out.reserve(2 * text.size() + 2);
  if (had_bom) append_unit(out, 0xFEFF, little_endian);
  size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
      append_unit(out, lead, little_endian);
      ++pos;
      continue;
    }
    const char32_t cp = unicode::decode_utf8(text, pos);
    if (cp < 0x10000) {
      append_unit(out, static_cast<uint32_t>(cp), little_endian);
    } else {
      const uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      append_unit(out, 0xD800 + (v >> 10), little_endian);
      append_unit(out, 0xDC00 + (v & 0x3FF), little_endian);
    }
  }
  return out;
}

}  // namespace cmx::xml
