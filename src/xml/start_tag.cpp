#include "xml/start_tag.h"

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::xml {

namespace {

std::string code_point_hex(char32_t cp) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = 20; shift >= 0; shift -= 4) {
    const auto digit = static_cast<unsigned>((cp >> shift) & 0xF);
    if (digit != 0 || !out.empty() || shift < 16) out.push_back(kDigits[digit]);
  }
  return out;
}

}  // namespace

Result<void, SpreadsheetParseError> check_utf8(std::string_view text) {
  if (unicode::is_ascii(text) || unicode::is_valid_utf8(text)) return {};
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = pos;
    const char32_t cp = unicode::decode_utf8(text, pos);
    if (cp == 0xFFFD && !(pos - at == 3 && static_cast<unsigned char>(text[at]) == 0xEF &&
                          static_cast<unsigned char>(text[at + 1]) == 0xBF &&
                          static_cast<unsigned char>(text[at + 2]) == 0xBD)) {
      return unexpected(SpreadsheetParseError::xml("cannot decode input using UTF-8: invalid byte sequence at byte " +
                                                   format_u64(at)));
    }
  }
  return {};
}

Result<AttributePair, SpreadsheetParseError> read_start_tag_attribute(const XmlAttribute& attr) {
  AttributePair pair;
  pair.name = unicode::to_valid_utf8(attr.name);
  if (attr.has_references) {
    append_unescaped(attr.value, pair.value);
  } else {
    pair.value.assign(attr.value);
  }
  CMX_TRY(check_utf8(pair.value));
  return pair;
}

Result<AttributeList, SpreadsheetParseError> parse_start_tag(const XmlPullReader& reader) {
  AttributeList list;
  list.reserve(reader.attributes().size());
  for (const XmlAttribute& attr : reader.attributes()) {
    CMX_ASSIGN_OR_RETURN(AttributePair pair, read_start_tag_attribute(attr));
    list.push_back(std::move(pair));
  }
  return list;
}

Result<std::string, SpreadsheetParseError> escape_xml_value(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x20 && byte != '&' && byte != '<' && byte != '>' && byte != 0xEF) {
      out.push_back(static_cast<char>(byte));
      ++pos;
      continue;
    }
    switch (byte) {
      case '&': out += "&amp;"; ++pos; continue;
      case '<': out += "&lt;"; ++pos; continue;
      case '>': out += "&gt;"; ++pos; continue;
      case '\r': out += "&#13;"; ++pos; continue;
      case '\t':
      case '\n': out.push_back(static_cast<char>(byte)); ++pos; continue;
      default: break;
    }
    if (byte < 0x20) {
      return unexpected(SpreadsheetParseError::unsupported_edit(
          "a rewrite carries U+" + code_point_hex(byte) + ", which xml cannot express"));
    }
    // 0xEF leads U+F000..U+FFFF; only U+FFFE and U+FFFF are refused.
    if (pos + 2 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[pos + 2]) == 0xBE ||
         static_cast<unsigned char>(text[pos + 2]) == 0xBF)) {
      const char32_t cp = static_cast<unsigned char>(text[pos + 2]) == 0xBE ? 0xFFFE : 0xFFFF;
      return unexpected(SpreadsheetParseError::unsupported_edit(
          "a rewrite carries U+" + code_point_hex(cp) + ", which xml cannot express"));
    }
    out.push_back(static_cast<char>(byte));
    ++pos;
  }
  return out;
}

}  // namespace cmx::xml
