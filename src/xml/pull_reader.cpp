#include "xml/pull_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::xml {

namespace {

constexpr std::array<bool, 256> make_name_table() {
  std::array<bool, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = true;
  for (unsigned char stop : {' ', '\t', '\n', '\r', '/', '>', '<', '=', '"', '\'', '&'}) {
    table[stop] = false;
  }
  return table;
}
constexpr std::array<bool, 256> kNameByte = make_name_table();

inline bool is_space(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }
inline bool is_name_byte(char ch) { return kNameByte[static_cast<unsigned char>(ch)]; }

XmlError error_at(XmlErrorKind kind, size_t offset, std::string_view name = {},
                  std::string_view other = {}) {
  return XmlError{kind, offset, std::string(name), std::string(other)};
}

// The code point a reference name stands for, or none.
std::optional<char32_t> decode_reference(std::string_view name) {
  if (name.size() < 2) return std::nullopt;
  if (name[0] == '#') {
    const bool hex = name[1] == 'x';
    const size_t first = hex ? 2 : 1;
    if (first >= name.size()) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = first; i < name.size(); ++i) {
      const char ch = name[i];
      uint32_t digit;
      if (ch >= '0' && ch <= '9') {
        digit = static_cast<uint32_t>(ch - '0');
      } else if (hex && ch >= 'a' && ch <= 'f') {
        digit = static_cast<uint32_t>(ch - 'a' + 10);
      } else if (hex && ch >= 'A' && ch <= 'F') {
        digit = static_cast<uint32_t>(ch - 'A' + 10);
      } else {
        return std::nullopt;
      }
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0x10FFFF) return std::nullopt;
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return static_cast<char32_t>(value);
  }
  switch (name.size()) {
    case 2:
      if (name == "lt") return U'<';
      if (name == "gt") return U'>';
      return std::nullopt;
    case 3:
      if (name == "amp") return U'&';
      return std::nullopt;
    case 4:
      if (name == "apos") return U'\'';
      if (name == "quot") return U'"';
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// The end of a reference's name starting after the "&" at `amp`, within
// [amp, limit): the position of its ";", or npos when the reference is not
// complete (no ";" before white space, "<", "&" or the limit; or no name).
size_t reference_end(std::string_view text, size_t amp, size_t limit) {
  size_t p = amp + 1;
  while (p < limit) {
    const char ch = text[p];
    if (ch == ';') return p > amp + 1 ? p : std::string_view::npos;
    if (is_space(ch) || ch == '<' || ch == '&') return std::string_view::npos;
    ++p;
  }
  return std::string_view::npos;
}

// Tag and attribute names are short: comparing them byte by byte inline
// beats a call to memcmp.
inline bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() > 16) return std::memcmp(a.data(), b.data(), a.size()) == 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

const char* find_byte(const char* from, const char* to, char byte) {
  return static_cast<const char*>(std::memchr(from, byte, static_cast<size_t>(to - from)));
}

// Cell values and attribute values are mostly a few bytes long, where a call
// to memchr costs more than the scan: look at the first bytes inline.
constexpr size_t kInlineScan = 16;

// The first `stop` byte in [from, to), or null; sets `saw_amp` when an "&"
// comes before it.
inline const char* scan_to(const char* from, const char* to, char stop, bool& saw_amp) {
  const char* inline_end = to - from > static_cast<ptrdiff_t>(kInlineScan) ? from + kInlineScan : to;
  for (const char* p = from; p < inline_end; ++p) {
    if (*p == stop) return p;
    saw_amp |= *p == '&';
  }
  if (inline_end == to) return nullptr;
  const char* found = find_byte(inline_end, to, stop);
  if (!saw_amp) saw_amp = find_byte(inline_end, found != nullptr ? found : to, '&') != nullptr;
  return found;
}

}  // namespace

std::string xml_error_message(const XmlError& error) {
  const std::string at = " at byte " + format_u64(error.offset);
  switch (error.kind) {
    case XmlErrorKind::UnclosedMarkup:
      return "unexpected end of input inside markup starting" + at;
    case XmlErrorKind::BadMarkup:
      return "malformed markup" + at;
    case XmlErrorKind::BadEndTag:
      return "malformed end tag" + at;
    case XmlErrorKind::BadAttribute:
      return "malformed attribute in tag <" + error.name + ">" + at;
    case XmlErrorKind::DuplicateAttribute:
      return "duplicate attribute " + error.name + at;
    case XmlErrorKind::BadReference:
      return "malformed character or entity reference" + at;
    case XmlErrorKind::UnknownReference:
      return "unknown entity &" + error.name + "; in an attribute value" + at;
    case XmlErrorKind::MismatchedEndTag:
      return "end tag </" + error.name + "> does not match start tag <" + error.other + ">" + at;
    case XmlErrorKind::UnexpectedEndTag:
      return "end tag </" + error.name + "> without an open element" + at;
    case XmlErrorKind::BadNamespaceBinding:
      return "invalid namespace binding " + error.name + at;
  }
  return "unknown xml error" + at;
}

bool resolve_reference(std::string_view name, std::string& out) {
  const std::optional<char32_t> cp = decode_reference(name);
  if (!cp.has_value()) return false;
  if (*cp < 0x80) {
    out.push_back(static_cast<char>(*cp));
  } else {
    unicode::append_utf8(out, *cp);
  }
  return true;
}

void append_unescaped(std::string_view raw, std::string& out) {
  size_t pos = 0;
  while (pos < raw.size()) {
    const size_t amp = raw.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(raw.substr(pos));
      return;
    }
    out.append(raw.substr(pos, amp - pos));
    const size_t semi = raw.find(';', amp);
    if (semi == std::string_view::npos || !resolve_reference(raw.substr(amp + 1, semi - amp - 1), out)) {
      // Not reached for text the reader checked; keep the bytes as written.
      out.append(raw.substr(amp));
      return;
    }
    pos = semi + 1;
  }
}

XmlPullReader::XmlPullReader(std::string_view text, XmlReaderOptions options, bool final)
    : text_(text), options_(options), final_(final) {
  if (text_.size() >= 3 && static_cast<unsigned char>(text_[0]) == 0xEF &&
      static_cast<unsigned char>(text_[1]) == 0xBB && static_cast<unsigned char>(text_[2]) == 0xBF) {
    pos_ = 3;
  }
  before_ = pos_;
  attributes_.reserve(16);
  stack_.reserve(64);
}

XmlError XmlPullReader::error_here(XmlErrorKind kind, size_t offset, std::string_view name,
                                   std::string_view other) const {
  return error_at(kind, base_ + offset, name, other);
}

void XmlPullReader::move_window(std::string_view text, size_t dropped, bool final) {
  if (pending_end_ || dropped > pos_) fail_invariant("a window moved in the middle of an event");
  // Open elements' names may lie in the bytes about to go: keep copies.
  size_t total = 0;
  for (const std::string_view name : stack_) total += name.size();
  // Names may lie in the old store itself: gather them first.
  std::string store;
  store.reserve(total);
  for (const std::string_view name : stack_) store.append(name);
  stack_store_ = store;
  size_t at = 0;
  for (std::string_view& name : stack_) {
    const size_t size = name.size();
    name = std::string_view(stack_store_.data() + at, size);
    at += size;
  }
  text_ = text;
  pos_ -= dropped;
  before_ = pos_;
  base_ += dropped;
  final_ = final;
  name_ = {};
  raw_ = {};
  has_references_ = false;
  attributes_.clear();
}

const XmlAttribute* XmlPullReader::find_attribute(std::string_view wanted) const {
  for (const XmlAttribute& attr : attributes_) {
    if (local_name(attr.name) == wanted) return &attr;
  }
  return nullptr;
}

std::string_view XmlPullReader::attribute_value(const XmlAttribute& attr, std::string& scratch) {
  if (!attr.has_references) return attr.value;
  scratch.clear();
  append_unescaped(attr.value, scratch);
  return scratch;
}

void XmlPullReader::append_text(std::string& out) const {
  if (has_references_) {
    append_unescaped(raw_, out);
  } else {
    out.append(raw_);
  }
}

Result<XmlEvent, XmlError> XmlPullReader::next() {
  if (pending_end_) {
    pending_end_ = false;
    before_ = pos_;
    name_ = stack_.back();
    stack_.pop_back();
    raw_ = {};
    attributes_.clear();
    return XmlEvent::EndTag;
  }
  before_ = pos_;
  has_references_ = false;
  // Attributes belong to the tag event that read them only.
  attributes_.clear();
  if (pos_ >= text_.size()) {
    name_ = {};
    raw_ = {};
    return XmlEvent::Eof;
  }
  if (text_[pos_] == '<') return read_markup();
  return read_text();
}

Result<XmlEvent, XmlError> XmlPullReader::read_text() {
  const char* data = text_.data();
  const char* start = data + pos_;
  const char* end = data + text_.size();
  bool saw_amp = false;
  const char* lt = scan_to(start, end, '<', saw_amp);
  if (lt == nullptr) lt = end;
  const char* amp = saw_amp ? find_byte(start, lt, '&') : nullptr;
  while (amp != nullptr) {
    const size_t at = static_cast<size_t>(amp - data);
    const size_t semi = reference_end(text_, at, static_cast<size_t>(lt - data));
    if (semi == std::string_view::npos) return unexpected(error_here(XmlErrorKind::BadReference, at));
    const std::string_view ref = text_.substr(at + 1, semi - at - 1);
    if (!decode_reference(ref).has_value()) {
      if (amp == start) {
        name_ = ref;
        raw_ = text_.substr(at, semi + 1 - at);
        pos_ = semi + 1;
        return XmlEvent::Reference;
      }
      // The text stops before the reference, which comes next on its own.
      lt = amp;
      break;
    }
    has_references_ = true;
    amp = find_byte(data + semi + 1, lt, '&');
  }
  name_ = {};
  raw_ = std::string_view(start, static_cast<size_t>(lt - start));
  pos_ = static_cast<size_t>(lt - data);
  return XmlEvent::Text;
}

Result<XmlEvent, XmlError> XmlPullReader::read_markup() {
  if (pos_ + 1 >= text_.size()) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, pos_));
  switch (text_[pos_ + 1]) {
    case '/':
      return read_end_tag();
    case '!':
      return read_bang();
    case '?':
      return read_instruction();
    default:
      return read_start_tag();
  }
}

Result<XmlEvent, XmlError> XmlPullReader::read_start_tag() {
  const size_t tag_start = pos_;
  const size_t size = text_.size();
  size_t p = pos_ + 1;
  while (p < size && is_name_byte(text_[p])) ++p;
  if (p == pos_ + 1) return unexpected(error_here(XmlErrorKind::BadMarkup, tag_start));
  // The name, the attributes and the stack entry are built from locals and
  // stored whole: values written field by field and read back as one wider
  // load stalled store forwarding on every tag.
  const std::string_view tag_name = text_.substr(pos_ + 1, p - pos_ - 1);
  name_ = tag_name;
  bool empty = false;
  while (true) {
    const size_t ws_start = p;
    while (p < size && is_space(text_[p])) ++p;
    if (p >= size) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
    const char ch = text_[p];
    if (ch == '>') {
      ++p;
      break;
    }
    if (ch == '/') {
      if (p + 1 >= size) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
      if (text_[p + 1] != '>') return unexpected(error_here(XmlErrorKind::BadAttribute, tag_start, name_));
      p += 2;
      empty = true;
      break;
    }
    if (p == ws_start) return unexpected(error_here(XmlErrorKind::BadAttribute, tag_start, name_));
    const size_t attr_start = p;
    while (p < size && is_name_byte(text_[p])) ++p;
    if (p == attr_start) return unexpected(error_here(XmlErrorKind::BadAttribute, tag_start, name_));
    const std::string_view attr_name = text_.substr(attr_start, p - attr_start);
    while (p < size && is_space(text_[p])) ++p;
    if (p >= size) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
    if (text_[p] != '=') return unexpected(error_here(XmlErrorKind::BadAttribute, tag_start, name_));
    ++p;
    while (p < size && is_space(text_[p])) ++p;
    if (p >= size) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
    const char quote = text_[p];
    if (quote != '"' && quote != '\'') {
      return unexpected(error_here(XmlErrorKind::BadAttribute, tag_start, name_));
    }
    const char* data = text_.data();
    bool saw_amp = false;
    const char* close = scan_to(data + p + 1, data + size, quote, saw_amp);
    if (close == nullptr) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
    const size_t value_start = p + 1;
    const size_t value_end = static_cast<size_t>(close - data);
    bool has_references = false;
    const char* amp = saw_amp ? find_byte(data + value_start, close, '&') : nullptr;
    while (amp != nullptr) {
      const size_t at = static_cast<size_t>(amp - data);
      const size_t semi = reference_end(text_, at, value_end);
      if (semi == std::string_view::npos) return unexpected(error_here(XmlErrorKind::BadReference, at));
      const std::string_view ref = text_.substr(at + 1, semi - at - 1);
      if (!decode_reference(ref).has_value()) {
        return unexpected(error_here(XmlErrorKind::UnknownReference, at, ref));
      }
      has_references = true;
      amp = find_byte(data + semi + 1, close, '&');
    }
    attributes_.push_back(XmlAttribute{attr_name, text_.substr(value_start, value_end - value_start), has_references});
    p = value_end + 1;
  }
  raw_ = text_.substr(tag_start + 1, p - tag_start - (empty ? 3 : 2));
  if (attributes_.size() > 1) CMX_TRY(check_duplicates(tag_start));
  pos_ = p;
  if (!empty) {
    stack_.push_back(tag_name);
    return XmlEvent::StartTag;
  }
  if (options_.expand_empty_elements) {
    stack_.push_back(tag_name);
    pending_end_ = true;
    return XmlEvent::StartTag;
  }
  return XmlEvent::EmptyTag;
}

Result<void, XmlError> XmlPullReader::check_duplicates(size_t tag_start) const {
  // Tags in real parts carry a handful of attributes; a hostile tag with
  // thousands is sorted instead of compared pairwise.
  constexpr size_t kPairwiseLimit = 16;
  const size_t n = attributes_.size();
  if (n <= kPairwiseLimit) {
    for (size_t i = 1; i < n; ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (same_name(attributes_[i].name, attributes_[j].name)) {
          return unexpected(error_here(XmlErrorKind::DuplicateAttribute, tag_start, attributes_[i].name));
        }
      }
    }
    return {};
  }
  std::vector<std::string_view> names;
  names.reserve(n);
  for (const XmlAttribute& attr : attributes_) names.push_back(attr.name);
  std::sort(names.begin(), names.end());
  const auto dup = std::adjacent_find(names.begin(), names.end());
  if (dup != names.end()) return unexpected(error_here(XmlErrorKind::DuplicateAttribute, tag_start, *dup));
  return {};
}

Result<XmlEvent, XmlError> XmlPullReader::read_end_tag() {
  const size_t tag_start = pos_;
  const size_t size = text_.size();
  size_t p = pos_ + 2;
  while (p < size && is_name_byte(text_[p])) ++p;
  const std::string_view name = text_.substr(pos_ + 2, p - pos_ - 2);
  while (p < size && is_space(text_[p])) ++p;
  if (p >= size) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, tag_start));
  if (text_[p] != '>' || name.empty()) return unexpected(error_here(XmlErrorKind::BadEndTag, tag_start));
  if (stack_.empty()) return unexpected(error_here(XmlErrorKind::UnexpectedEndTag, tag_start, name));
  if (!same_name(stack_.back(), name)) {
    return unexpected(error_here(XmlErrorKind::MismatchedEndTag, tag_start, name, stack_.back()));
  }
  stack_.pop_back();
  name_ = name;
  raw_ = text_.substr(tag_start + 2, p - tag_start - 2);
  pos_ = p + 1;
  return XmlEvent::EndTag;
}

Result<XmlEvent, XmlError> XmlPullReader::read_bang() {
  const size_t start = pos_;
  const std::string_view rest = text_.substr(pos_);
  name_ = {};
  auto opens_with = [&](std::string_view prefix) -> std::optional<bool> {
    if (rest.size() >= prefix.size()) {
      if (rest.substr(0, prefix.size()) == prefix) return true;
      return false;
    }
    return prefix.substr(0, rest.size()) == rest ? std::optional<bool>() : std::optional<bool>(false);
  };
  struct Delimited {
    std::string_view open;
    std::string_view close;
    XmlEvent event;
  };
  for (const Delimited& d : {Delimited{"<!--", "-->", XmlEvent::Comment},
                             Delimited{"<![CDATA[", "]]>", XmlEvent::CData}}) {
    const std::optional<bool> opens = opens_with(d.open);
    if (!opens.has_value()) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, start));
    if (!*opens) continue;
    const size_t close = text_.find(d.close, start + d.open.size());
    if (close == std::string_view::npos) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, start));
    raw_ = text_.substr(start + d.open.size(), close - start - d.open.size());
    pos_ = close + d.close.size();
    return d.event;
  }
  const std::optional<bool> doctype = opens_with("<!DOCTYPE");
  if (!doctype.has_value()) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, start));
  if (!*doctype) return unexpected(error_here(XmlErrorKind::BadMarkup, start));
  // The internal subset may hold ">" inside brackets and quoted literals.
  size_t p = start + 9;
  int brackets = 0;
  char quote = 0;
  for (; p < text_.size(); ++p) {
    const char ch = text_[p];
    if (quote != 0) {
      if (ch == quote) quote = 0;
    } else if (ch == '"' || ch == '\'') {
      quote = ch;
    } else if (ch == '[') {
      ++brackets;
    } else if (ch == ']') {
      if (brackets > 0) --brackets;
    } else if (ch == '>' && brackets == 0) {
      raw_ = text_.substr(start + 9, p - start - 9);
      pos_ = p + 1;
      return XmlEvent::DocType;
    }
  }
  return unexpected(error_here(XmlErrorKind::UnclosedMarkup, start));
}

Result<XmlEvent, XmlError> XmlPullReader::read_instruction() {
  const size_t start = pos_;
  const size_t close = text_.find("?>", start + 2);
  if (close == std::string_view::npos) return unexpected(error_here(XmlErrorKind::UnclosedMarkup, start));
  size_t p = start + 2;
  while (p < close && !is_space(text_[p])) ++p;
  if (p == start + 2) return unexpected(error_here(XmlErrorKind::BadMarkup, start));
  name_ = text_.substr(start + 2, p - start - 2);
  raw_ = text_.substr(p, close - p);
  pos_ = close + 2;
  return name_ == "xml" ? XmlEvent::Declaration : XmlEvent::Instruction;
}

}  // namespace cmx::xml
