#include "xml/cell_scan.h"

#include <array>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Literals are matched as words where the machine stores them low byte first.
constexpr bool kWordScan = std::endian::native == std::endian::little;

inline uint64_t load_word(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  return word;
}

// A literal to match, as a word of its first eight bytes with a mask of the
// bytes it has and, when longer, the word of its last eight: a match is one
// or two loads and compares.
struct Literal {
  std::string_view text;
  uint64_t head = 0;
  uint64_t mask = 0;
  uint64_t tail = 0;
};

constexpr uint64_t word_of(std::string_view text) {
  uint64_t word = 0;
  for (size_t i = 0; i < text.size() && i < 8; ++i)
    word |= uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
  return word;
}

constexpr Literal literal(std::string_view text) {
  Literal out{text, word_of(text), 0, 0};
  for (size_t i = 0; i < text.size() && i < 8; ++i) out.mask |= uint64_t{0xFF} << (8 * i);
  if (text.size() > 8) out.tail = word_of(text.substr(text.size() - 8));
  return out;
}

[[gnu::always_inline]] inline bool starts(const char* at, const char* end, const Literal& expected) {
  const size_t n = expected.text.size();
  if (kWordScan && end - at >= 8 && n <= 16) {
    if ((load_word(at) & expected.mask) != expected.head) return false;
    return n <= 8 || (static_cast<size_t>(end - at) >= n && load_word(at + n - 8) == expected.tail);
  }
  return static_cast<size_t>(end - at) >= n && std::memcmp(at, expected.text.data(), n) == 0;
}

constexpr Literal kOpenFormula = literal("<f>");
constexpr Literal kCloseFormula = literal("</f>");
constexpr Literal kOpenValue = literal("<v>");
constexpr Literal kCloseValue = literal("</v>");
constexpr Literal kOpenInline = literal("<is><t");
constexpr Literal kTagEnd = literal(">");
constexpr Literal kPreserve = literal(" xml:space=\"preserve\">");
constexpr Literal kCloseInline = literal("</t></is>");
constexpr Literal kCloseCell = literal("</c>");

// Finds the ends of attribute values and texts one byte at a time. When
// scans follow one another closely, this reaches each end soonest: the loop
// runs ahead on predicted branches.
// Walks a text to the next "<", gathering its bytes' high bits: false at an
// "&" or the input's end.
[[gnu::always_inline]] inline bool walk_text(const char*& p, const char* end, unsigned char& high) {
  while (p < end && *p != '<') {
    if (*p == '&') return false;
    high |= static_cast<unsigned char>(*p);
    ++p;
  }
  return p < end;
}

struct ByteFinder {
  // From just past a value's opening quote to its closing quote: false when
  // a byte before it is not plain or the input ends.
  [[gnu::always_inline]] static bool value_end(const char*& q, const char* end) {
    while (q < end && kPlainByte[static_cast<unsigned char>(*q)]) ++q;
    return q < end && *q == '"';
  }
  // The text up to the next "<": false when an "&" comes first, or the
  // input ends, or the text is not UTF-8.
  [[gnu::always_inline]] static bool text(const char*& p, const char* end, std::string_view& out) {
    const char* const from = p;
    unsigned char high = 0;
    if (!walk_text(p, end, high)) return false;
    out = std::string_view(from, static_cast<size_t>(p - from));
    return high < 0x80 || unicode::is_valid_utf8(out);
  }
};

#ifdef __SSE2__
// Finds the same ends sixteen bytes at a time, with fewer instructions per
// byte but a longer wait for each end; the byte walk takes over for the last
// fifteen bytes of the input.
struct BlockFinder {
  static unsigned mask(__m128i flags) { return static_cast<unsigned>(_mm_movemask_epi8(flags)); }

  static bool value_end(const char*& q, const char* end) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i del = _mm_set1_epi8(0x7F);
    // As signed bytes, those below "!" are the controls, the space and every
    // byte with its high bit set.
    const __m128i bang = _mm_set1_epi8('!');
    while (end - q >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      const unsigned quotes = mask(_mm_cmpeq_epi8(block, quote));
      const unsigned odd = mask(_mm_or_si128(
          _mm_or_si128(_mm_cmplt_epi8(block, bang), _mm_cmpeq_epi8(block, del)),
          _mm_or_si128(_mm_cmpeq_epi8(block, lt), _mm_cmpeq_epi8(block, amp))));
      // The bits below the first quote; all sixteen when there is none.
      const unsigned before = (quotes & (0u - quotes)) - 1u;
      if (odd & before & 0xFFFFu) return false;
      if (quotes != 0) {
        q += std::countr_zero(quotes);
        return true;
      }
      q += 16;
    }
    return ByteFinder::value_end(q, end);
  }

  static bool text(const char*& p, const char* end, std::string_view& out) {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    const char* const from = p;
    unsigned highs = 0;
    while (end - p >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const unsigned stops =
          mask(_mm_or_si128(_mm_cmpeq_epi8(block, lt), _mm_cmpeq_epi8(block, amp)));
      if (stops == 0) {
        highs |= mask(block);
        p += 16;
        continue;
      }
      const int at = std::countr_zero(stops);
      if (p[at] == '&') return false;
      highs |= mask(block) & ((1u << at) - 1u);
      p += at;
      out = std::string_view(from, static_cast<size_t>(p - from));
      return highs == 0 || unicode::is_valid_utf8(out);
    }
    unsigned char high = 0;
    if (!walk_text(p, end, high)) return false;
    out = std::string_view(from, static_cast<size_t>(p - from));
    return (highs == 0 && high < 0x80) || unicode::is_valid_utf8(out);
  }
};
#endif

enum class TextElement : uint8_t { Absent, Read, Broken };

// `open` text `close` at p, the text into `text`: Absent when p does not
// start it, Broken when it does but is not whole.
template <typename Finder>
[[gnu::always_inline]] inline TextElement read_text_element(const char*& p, const char* end, const Literal& open,
                                                            const Literal& close, std::string_view& text) {
  if (!starts(p, end, open)) return TextElement::Absent;
  p += open.text.size();
  if (!Finder::text(p, end, text) || !starts(p, end, close)) return TextElement::Broken;
  p += close.text.size();
  return TextElement::Read;
}

template <typename Finder>
bool scan_cell(std::string_view in, PlainCell& out) {
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
    if (!Finder::value_end(q, end)) return false;
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
  const TextElement formula = read_text_element<Finder>(p, end, kOpenFormula, kCloseFormula, out.formula);
  if (formula == TextElement::Broken) return false;
  if (formula == TextElement::Read) {
    out.has_formula = true;
    out.depth = 2;
  }
  const TextElement value = read_text_element<Finder>(p, end, kOpenValue, kCloseValue, out.value);
  if (value == TextElement::Broken) return false;
  if (value == TextElement::Read) {
    out.has_value = true;
    out.depth = 2;
  } else if (starts(p, end, kOpenInline)) {
    p += 6;
    if (starts(p, end, kTagEnd)) {
      p += 1;
    } else if (starts(p, end, kPreserve)) {
      p += 22;
    } else {
      return false;
    }
    if (!Finder::text(p, end, out.inline_text) || !starts(p, end, kCloseInline)) return false;
    p += 9;
    out.has_inline = true;
    out.depth = 3;
  }
  if (!starts(p, end, kCloseCell)) return false;
  out.length = static_cast<size_t>(p + 4 - in.data());
  return true;
}

}  // namespace

bool scan_plain_cell(std::string_view in, PlainCell& out) { return scan_cell<ByteFinder>(in, out); }

bool scan_plain_cell_wide(std::string_view in, PlainCell& out) {
#ifdef __SSE2__
  return scan_cell<BlockFinder>(in, out);
#else
  return scan_cell<ByteFinder>(in, out);
#endif
}

}  // namespace cmx::xml
