#include "ops/sheet_qualifiers.h"

#include "base/unicode.h"
#include "model/address.h"

namespace cmx::ops {

size_t char_length(std::string_view text, size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (pos + length > text.size()) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

size_t white_space_at(std::string_view text, size_t pos) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  if (c < 0x80) return 0;
  const size_t length = char_length(text, pos);
  uint32_t code = 0;
  if (length == 2) {
    code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[pos + 1]) & 0x3Fu);
  } else if (length == 3) {
    code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[pos + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(text[pos + 2]) & 0x3Fu);
  } else {
    return 0;
  }
  const bool space = code == 0x85 || code == 0xA0 || code == 0x1680 || (code >= 0x2000 && code <= 0x200A) ||
                     code == 0x2028 || code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
  return space ? length : 0;
}

namespace {

bool is_delimiter(char c) {
  switch (c) {
    case '!': case '"': case '%': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
    case '-': case '/': case ':': case '<': case '=': case '>': case '[': case ']': case '^':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<NameToken> read_name_token(std::string_view text, size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  if (text[pos] == '\'') {
    NameToken token;
    token.quoted = true;
    size_t i = pos + 1;
    while (i < text.size()) {
      if (text[i] == '\'') {
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          token.name.push_back('\'');
          i += 2;
          continue;
        }
        token.end = i + 1;
        return token;
      }
      token.name.push_back(text[i]);
      ++i;
    }
    return std::nullopt;
  }
  size_t i = pos;
  while (i < text.size() && !is_delimiter(text[i]) && white_space_at(text, i) == 0) i += char_length(text, i);
  if (i == pos) return std::nullopt;
  return NameToken{std::string(text.substr(pos, i - pos)), i, false};
}

size_t skip_blanks(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    const size_t space = white_space_at(text, pos);
    if (space == 0) break;
    pos += space;
  }
  return pos;
}

size_t skip_text_literal(std::string_view text, size_t pos) {
  ++pos;
  while (pos < text.size()) {
    if (text[pos] == '"') {
      if (pos + 1 < text.size() && text[pos + 1] == '"') {
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    ++pos;
  }
  return pos;
}

std::string_view trim_white_space(std::string_view text) {
  size_t start = skip_blanks(text, 0);
  size_t end = text.size();
  while (end > start) {
    // Step back over one UTF-8 character and test it.
    size_t back = end - 1;
    while (back > start && (static_cast<unsigned char>(text[back]) & 0xC0) == 0x80) --back;
    if (white_space_at(text, back) != end - back) break;
    end = back;
  }
  return text.substr(start, end - start);
}

bool same_sheet_name(std::string_view a, std::string_view b) {
  return a == b || unicode::to_lower(a) == unicode::to_lower(b);
}

std::vector<QualifierMention> scan_sheet_qualifiers(std::string_view text) {
  std::vector<QualifierMention> out;
  size_t pos = 0;
  uint32_t depth = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      pos = skip_text_literal(text, pos);
      continue;
    }
    if (c == '[') {
      ++depth;
      ++pos;
      continue;
    }
    if (c == ']') {
      if (depth > 0) --depth;
      ++pos;
      continue;
    }
    if (depth > 0) {
      pos += char_length(text, pos);
      continue;
    }
    auto token = read_name_token(text, pos);
    if (!token) {
      pos += char_length(text, pos);
      continue;
    }
    QualifierMention mention;
    mention.start = pos;
    mention.external = pos > 0 && text[pos - 1] == ']';
    if (token->end < text.size() && text[token->end] == '!') {
      mention.qualifier = true;
      mention.bang = token->end;
      mention.first = token->name;
      mention.last = token->name;
      if (token->quoted) {
        const size_t colon = token->name.find(':');
        if (colon != std::string::npos) {
          mention.first = token->name.substr(0, colon);
          mention.last = token->name.substr(colon + 1);
        }
      }
      out.push_back(std::move(mention));
      pos = token->end + 1;
      continue;
    }
    if (token->end < text.size() && text[token->end] == ':') {
      auto second = read_name_token(text, token->end + 1);
      if (second && second->end < text.size() && text[second->end] == '!') {
        mention.qualifier = true;
        mention.bang = second->end;
        mention.first = token->name;
        mention.last = second->name;
        out.push_back(std::move(mention));
        pos = second->end + 1;
        continue;
      }
    }
    mention.bang = token->end;
    mention.first = token->name;
    mention.last = token->name;
    if (!token->quoted) {
      const size_t next = skip_blanks(text, token->end);
      mention.call = next < text.size() && text[next] == '(';
    }
    out.push_back(std::move(mention));
    pos = token->end;
  }
  return out;
}

bool has_unresolvable_span_on_sheet(std::string_view text, const ShiftContext& context) {
  for (const QualifierMention& mention : scan_sheet_qualifiers(text)) {
    if (!mention.qualifier || mention.external) continue;
    const bool unknown = !find_sheet(context, mention.first) || !find_sheet(context, mention.last);
    if (unknown && (same_sheet_name(mention.first, context.edited_name) ||
                    same_sheet_name(mention.last, context.edited_name))) {
      return true;
    }
  }
  return false;
}

bool mentions_sheet(std::string_view text, const ShiftContext& context) {
  for (const QualifierMention& mention : scan_sheet_qualifiers(text)) {
    if (!mention.qualifier || mention.external) continue;
    auto first = find_sheet(context, mention.first);
    auto last = find_sheet(context, mention.last);
    if (first && last) {
      if (std::min(*first, *last) <= context.edited && context.edited <= std::max(*first, *last)) return true;
    } else if (same_sheet_name(mention.first, context.edited_name) ||
               same_sheet_name(mention.last, context.edited_name)) {
      return true;
    }
  }
  return false;
}

RenamedText rename_sheet_in_formula_text(std::string_view text, std::string_view old_name,
                                         std::string_view new_name) {
  RenamedText out;
  if (old_name == new_name) {
    out.text = std::string(text);
    return out;
  }
  size_t copied = 0;
  for (const QualifierMention& mention : scan_sheet_qualifiers(text)) {
    if (mention.external) continue;
    if (!mention.qualifier) {
      if (!mention.call && same_sheet_name(mention.first, old_name)) out.ambiguous = true;
      continue;
    }
    const bool first = same_sheet_name(mention.first, old_name);
    const bool last = same_sheet_name(mention.last, old_name);
    if (!first && !last) continue;
    out.text.append(text.substr(copied, mention.start - copied));
    out.text += format_sheet_qualifier(first ? new_name : std::string_view(mention.first),
                                       last ? new_name : std::string_view(mention.last));
    copied = mention.bang;
  }
  out.text.append(text.substr(copied));
  return out;
}

namespace {

std::string quoted(std::string_view text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

}  // namespace

std::string format_sheet_qualifier(std::string_view first, std::string_view last) {
  if (same_sheet_name(first, last)) {
    if (sheet_name_is_bare(first)) return std::string(first);
    return "'" + quoted(first) + "'";
  }
  if (sheet_name_is_bare(first) && sheet_name_is_bare(last)) {
    return std::string(first) + ":" + std::string(last);
  }
  return "'" + quoted(first) + ":" + quoted(last) + "'";
}

bool sheet_name_is_bare(std::string_view name) {
  if (name.empty()) return false;
  std::string upper;
  upper.reserve(name.size());
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
    upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  }
  if (name[0] >= '0' && name[0] <= '9') return false;
  if (model::parse_cell_ref(upper).has_value()) return false;
  if (upper == "R" || upper == "C") return false;
  if (upper[0] == 'R') {
    size_t i = 1;
    while (i < upper.size() && upper[i] >= '0' && upper[i] <= '9') ++i;
    if (i < upper.size() && upper[i] == 'C') return false;
  }
  return true;
}

}  // namespace cmx::ops
