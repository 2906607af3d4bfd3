#include "base/unicode.h"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>

#include <memory>

namespace cmx::unicode {
namespace {

struct CaseMapDeleter {
  void operator()(UCaseMap* map) const { ucasemap_close(map); }
};

// One case map per thread: ucasemap objects are not thread-safe to share.
UCaseMap* root_case_map() {
  thread_local std::unique_ptr<UCaseMap, CaseMapDeleter> map = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* created = ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
    return std::unique_ptr<UCaseMap, CaseMapDeleter>(U_SUCCESS(status) ? created : nullptr);
  }();
  return map.get();
}

using Mapper = int32_t (*)(const UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string map_case(std::string_view text, Mapper mapper) {
  std::string out;
  if (text.empty()) return out;
  UCaseMap* map = root_case_map();
  if (map == nullptr || text.size() > INT32_MAX / 4) return std::string(text);
  // Case mapping grows UTF-8 text by at most a factor of three.
  out.resize(text.size() * 3 + 4);
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = mapper(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                          static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(length));
    status = U_ZERO_ERROR;
    length = mapper(map, out.data(), length, text.data(), static_cast<int32_t>(text.size()),
                    &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  out.resize(static_cast<size_t>(length));
  return out;
}

}  // namespace

bool is_ascii(std::string_view text) {
  for (unsigned char byte : text) {
    if (byte >= 0x80) return false;
  }
  return true;
}

std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
  }
  return map_case(text, ucasemap_utf8ToLower);
}

std::string to_upper(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    }
    return out;
  }
  return map_case(text, ucasemap_utf8ToUpper);
}

bool is_alphabetic(char32_t cp) {
  if (cp < 0x80) return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z';
  return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_ALPHABETIC);
}

bool is_numeric(char32_t cp) {
  if (cp < 0x80) return cp >= '0' && cp <= '9';
  int8_t category = u_charType(static_cast<UChar32>(cp));
  return category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER ||
         category == U_OTHER_NUMBER;
}

bool is_white_space(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0d);
  return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_WHITE_SPACE);
}

char32_t decode_utf8(std::string_view text, size_t& pos) {
  auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) {
    ++pos;
    return byte;
  }
  size_t length;
  char32_t cp;
  char32_t min;
  if (byte >= 0xC2 && byte <= 0xDF) {
    length = 2, cp = byte & 0x1F, min = 0x80;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    length = 3, cp = byte & 0x0F, min = 0x800;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    length = 4, cp = byte & 0x07, min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (text.size() - pos < length) {
    ++pos;
    return 0xFFFD;
  }
  for (size_t i = 1; i < length; ++i) {
    auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += length;
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

size_t count_scalars(std::string_view text) {
  size_t count = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
    } else {
      decode_utf8(text, pos);
    }
    ++count;
  }
  return count;
}

std::string to_valid_utf8(std::string_view text) {
  if (is_ascii(text) || is_valid_utf8(text)) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) append_utf8(out, decode_utf8(text, pos));
  return out;
}

bool is_valid_utf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    size_t before = pos;
    char32_t cp = decode_utf8(text, pos);
    // U+FFFD itself is three bytes; a one-byte step means an ill-formed byte.
    if (cp == 0xFFFD && pos - before == 1) return false;
  }
  return true;
}

}  // namespace cmx::unicode
