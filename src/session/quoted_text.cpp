#include "session/quoted_text.h"

#include <cstdint>
#include <cstdio>

#include "base/unicode.h"

namespace cmx::session {
namespace {

// Controls, separators and format characters that would print as nothing or
// move the text around.
bool unprintable(uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f)) return true;
  if (cp == 0xad || cp == 0x061c || cp == 0x180e) return true;
  if ((cp >= 0x200b && cp <= 0x200f) || (cp >= 0x2028 && cp <= 0x202e)) return true;
  if ((cp >= 0x2060 && cp <= 0x206f) || cp == 0xfeff) return true;
  if (cp >= 0xfff9 && cp <= 0xfffb) return true;
  if ((cp & 0xfffe) == 0xfffe) return true;  // the two noncharacters closing every plane
  if (cp >= 0xd800 && cp <= 0xdfff) return true;
  return cp >= 0xe0000 && cp <= 0xe007f;
}

void append_escape(std::string& out, uint32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
  out += buf;
}

}  // namespace

std::string quote_text(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  size_t pos = 0;
  while (pos < text.size()) {
    const uint32_t cp = unicode::decode_utf8(text, pos);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case 0: out += "\\0"; break;
      default:
        if (unprintable(cp)) {
          append_escape(out, cp);
        } else {
          unicode::append_utf8(out, cp);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace cmx::session
