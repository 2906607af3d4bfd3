#include "xml/cell_scan.h"

#include <array>
#include <cstring>

#include "base/unicode.h"

namespace cmx::xml {
namespace {

// Attribute bytes taken as written: printable ASCII other than the quote,
// "<" and "&".
constexpr std::array<bool, 256> make_plain_table() {
  std::array<bool, 256> table{};
  for (int b = '!'; b < 0x7F; ++b) table[b] = b != '"' && b != '<' && b != '&';
  return table;
}
constexpr std::array<bool, 256> kPlainByte = make_plain_table();

template <size_t N>
inline bool starts(const char* at, const char* end, const char (&expected)[N]) {
  return static_cast<size_t>(end - at) >= N - 1 && std::memcmp(at, expected, N - 1) == 0;
}

// The text up to the next "<": false when an "&" comes first, or the input
// ends, or the text is not UTF-8. Texts are mostly short, so a byte loop beats
// memchr here.
inline bool scan_text(const char*& p, const char* end, std::string_view& out) {
  const char* const from = p;
  unsigned char high = 0;
  while (p < end && *p != '<') {
    if (*p == '&') return false;
    high |= static_cast<unsigned char>(*p);
    ++p;
  }
  if (p >= end) return false;
  out = std::string_view(from, static_cast<size_t>(p - from));
  return high < 0x80 || unicode::is_valid_utf8(out);
}

}  // namespace

bool scan_plain_cell(std::string_view in, PlainCell& out) {
  if (in.size() < 4 || in[0] != '<' || in[1] != 'c' || in[2] != ' ') return false;
  const char* p = in.data() + 3;
  const char* const end = in.data() + in.size();
  // Flags only: clearing the whole record per cell costs more than the scan.
  out.has_ref = out.has_style = out.has_type = false;
  out.has_formula = out.has_value = out.has_inline = false;
  out.depth = 1;
  while (true) {
    if (p >= end) return false;
    const char key = *p;
    if (key == '>' || key == '/') break;
    if (end - p < 4 || p[1] != '=' || p[2] != '"') return false;
    const char* const value = p + 3;
    const char* q = value;
    while (q < end && kPlainByte[static_cast<unsigned char>(*q)]) ++q;
    if (q >= end || *q != '"') return false;
    const std::string_view text(value, static_cast<size_t>(q - value));
    if (key == 'r') {
      if (out.has_ref) return false;
      out.has_ref = true;
      out.ref = text;
    } else if (key == 's') {
      if (out.has_style) return false;
      out.has_style = true;
      out.style = text;
    } else if (key == 't') {
      if (out.has_type) return false;
      out.has_type = true;
      out.type = text;
    } else {
      return false;
    }
    p = q + 1;
    if (p < end && *p == ' ') {
      ++p;
    } else if (p >= end || (*p != '>' && *p != '/')) {
      return false;
    }
  }
  if (*p == '/') {
    if (end - p < 2 || p[1] != '>') return false;
    out.length = static_cast<size_t>(p + 2 - in.data());
    return true;
  }
  ++p;  // past ">"
  if (starts(p, end, "<f>")) {
    p += 3;
    if (!scan_text(p, end, out.formula) || !starts(p, end, "</f>")) return false;
    p += 4;
    out.has_formula = true;
    out.depth = 2;
  }
  if (starts(p, end, "<v>")) {
    p += 3;
    if (!scan_text(p, end, out.value) || !starts(p, end, "</v>")) return false;
    p += 4;
    out.has_value = true;
    out.depth = 2;
  } else if (starts(p, end, "<is><t")) {
    p += 6;
    if (starts(p, end, ">")) {
      p += 1;
    } else if (starts(p, end, " xml:space=\"preserve\">")) {
      p += 22;
    } else {
      return false;
    }
    if (!scan_text(p, end, out.inline_text) || !starts(p, end, "</t></is>")) return false;
    p += 9;
    out.has_inline = true;
    out.depth = 3;
  }
  if (!starts(p, end, "</c>")) return false;
  out.length = static_cast<size_t>(p + 4 - in.data());
  return true;
}

}  // namespace cmx::xml
