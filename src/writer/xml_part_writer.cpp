#include "writer/xml_part_writer.h"

#include <array>
#include <cmath>
#include <cstring>

#include "base/number_text.h"
#include "opc/part_names.h"
#include "writer/namespaces.h"

namespace cmx::writer {

namespace {

// Bytes that stop the plain copy: controls, the five specials, 0xEF (which
// leads U+FFFE and U+FFFF) and "_" (only the escaped-string form minds it).
constexpr std::array<bool, 256> make_special_table() {
  std::array<bool, 256> table{};
  for (int i = 0; i < 0x20; ++i) table[i] = true;
  for (unsigned char ch : {'&', '<', '>', '"', '\'', '_'}) table[ch] = true;
  table[0xEF] = true;
  return table;
}
constexpr std::array<bool, 256> kSpecial = make_special_table();

bool is_hex(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

// True when the character at `pos` cannot stand in XML: written as an
// "_xHHHH_" escape in string items and refused elsewhere.
bool becomes_escape(std::string_view text, size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x20) return byte != '\t' && byte != '\n' && byte != '\r';
  return byte == 0xEF && pos + 2 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0xBF &&
         (static_cast<unsigned char>(text[pos + 2]) & 0xFE) == 0xBE;
}

// "_", "x" or "X" and four hexadecimal digits, then a "_" of the text or of
// an escape written for the next character: what a reader would decode.
bool escape_sequence_at(std::string_view text, size_t pos) {
  return pos + 7 <= text.size() && text[pos] == '_' && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
         is_hex(text[pos + 2]) && is_hex(text[pos + 3]) && is_hex(text[pos + 4]) &&
         is_hex(text[pos + 5]) && (text[pos + 6] == '_' || becomes_escape(text, pos + 6));
}

void append_hex4(std::string& out, char32_t cp) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(cp >> shift) & 0xF]);
}

std::string code_point_hex(char32_t cp) {
  std::string out;
  append_hex4(out, cp);
  return out;
}

}  // namespace

std::optional<char32_t> append_escaped(std::string& out, std::string_view text, TextForm form) {
  std::optional<char32_t> refused;
  size_t pos = 0;
  size_t plain_from = 0;
  const auto refuse = [&](char32_t cp) {
    if (form == TextForm::EscapedString) {
      out += "_x";
      append_hex4(out, cp);
      out.push_back('_');
    } else if (!refused) {
      refused = cp;
    }
  };
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (!kSpecial[byte]) {
      ++pos;
      continue;
    }
    if (becomes_escape(text, pos)) {
      out.append(text.data() + plain_from, pos - plain_from);
      const bool wide = byte == 0xEF;
      refuse(wide ? (static_cast<unsigned char>(text[pos + 2]) == 0xBE ? 0xFFFE : 0xFFFF) : byte);
      pos += wide ? 3 : 1;
      plain_from = pos;
      continue;
    }
    const char* replacement = nullptr;
    switch (byte) {
      case '&': replacement = "&amp;"; break;
      case '<': replacement = "&lt;"; break;
      case '>': replacement = "&gt;"; break;
      case '"': replacement = "&quot;"; break;
      case '\'': replacement = "&apos;"; break;
      case '\r': replacement = "&#13;"; break;
      case '\t': replacement = form == TextForm::Attribute ? "&#9;" : nullptr; break;
      case '\n': replacement = form == TextForm::Attribute ? "&#10;" : nullptr; break;
      case '_':
        replacement = form == TextForm::EscapedString && escape_sequence_at(text, pos) ? "_x005F_" : nullptr;
        break;
      default: break;  // a lead byte of another character
    }
    ++pos;
    if (replacement == nullptr) continue;
    out.append(text.data() + plain_from, pos - 1 - plain_from);
    out += replacement;
    plain_from = pos;
  }
  out.append(text.data() + plain_from, text.size() - plain_from);
  return refused;
}

std::optional<std::string> escape_xml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  if (append_escaped(out, text, TextForm::Content)) return std::nullopt;
  return out;
}

bool expressible_in_xml(std::string_view text) {
  for (size_t pos = 0; pos < text.size(); ++pos) {
    if (becomes_escape(text, pos)) return false;
  }
  return true;
}

SpreadsheetParseError unexpressible_character(char32_t cp) {
  return SpreadsheetParseError::unsupported_edit("a rewrite carries U+" + code_point_hex(cp) +
                                                 ", which xml cannot express");
}

void append_u64(std::string& out, uint64_t value) {
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out.push_back(digits[--count]);
}

void append_xml_number(std::string& out, double value) {
  if (std::isfinite(value) && std::fabs(value) < 1e15 && value == std::trunc(value)) {
    const auto integer = static_cast<int64_t>(value);
    if (integer < 0) out.push_back('-');
    append_u64(out, integer < 0 ? static_cast<uint64_t>(-integer) : static_cast<uint64_t>(integer));
    return;
  }
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
  } else {
    out += format_positional(value);
  }
}

std::string format_xml_number(double value) {
  std::string out;
  append_xml_number(out, value);
  return out;
}

void append_cell_ref(std::string& out, uint32_t row, uint32_t col) {
  char letters[8];
  size_t count = 0;
  uint64_t n = static_cast<uint64_t>(col) + 1;
  while (n > 0) {
    const uint64_t d = n - 1;
    letters[count++] = static_cast<char>('A' + d % 26);
    n = d / 26;
  }
  while (count > 0) out.push_back(letters[--count]);
  append_u64(out, static_cast<uint64_t>(row) + 1);
}

void XmlPartWriter::declaration() { out_ += R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"; }

void XmlPartWriter::escape(std::string_view text, TextForm form) {
  const std::optional<char32_t> refused = append_escaped(out_, text, form);
  if (refused && !refused_) refused_ = refused;
}

void XmlPartWriter::open(std::string_view name) {
  out_.push_back('<');
  out_ += name;
}

void XmlPartWriter::attribute(std::string_view name, std::string_view value) {
  open_attribute(name);
  escape(value, TextForm::Attribute);
  out_.push_back('"');
}

void XmlPartWriter::attribute_u64(std::string_view name, uint64_t value) {
  open_attribute(name);
  append_u64(out_, value);
  out_.push_back('"');
}

void XmlPartWriter::attribute_number(std::string_view name, double value) {
  open_attribute(name);
  append_xml_number(out_, value);
  out_.push_back('"');
}

void XmlPartWriter::open_attribute(std::string_view name) {
  out_.push_back(' ');
  out_ += name;
  out_ += "=\"";
}

void XmlPartWriter::start_tag(std::string_view name, std::initializer_list<Attribute> attributes) {
  open(name);
  for (const Attribute& attr : attributes) attribute(attr.first, attr.second);
  close();
}

void XmlPartWriter::empty_tag(std::string_view name, std::initializer_list<Attribute> attributes) {
  open(name);
  for (const Attribute& attr : attributes) attribute(attr.first, attr.second);
  close_empty();
}

void XmlPartWriter::end_tag(std::string_view name) {
  out_ += "</";
  out_ += name;
  out_.push_back('>');
}

Result<std::string, SpreadsheetParseError> XmlPartWriter::finish() {
  if (refused_) return unexpected(unexpressible_character(*refused_));
  return std::move(out_);
}

void write_text_element(XmlPartWriter& writer, std::string_view name,
                        std::initializer_list<Attribute> attributes, std::string_view text) {
  writer.start_tag(name, attributes);
  writer.text(text);
  writer.end_tag(name);
}

void write_preserved_text(XmlPartWriter& writer, std::string_view text) {
  writer.raw(R"(<t xml:space="preserve">)");
  writer.escaped_string(text);
  writer.raw("</t>");
}

std::string upper_hex_without_hash(std::string_view text) {
  while (!text.empty() && text.front() == '#') text.remove_prefix(1);
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return out;
}

void write_color_element(XmlPartWriter& writer, std::string_view name, const model::Color& color) {
  writer.open(name);
  if (const auto* rgb = std::get_if<model::RgbColor>(&color)) {
    writer.attribute("rgb", "FF" + upper_hex_without_hash(rgb->text));
  } else if (const auto* theme = std::get_if<model::ThemeColor>(&color)) {
    writer.attribute_u64("theme", theme->idx);
    if (!(theme->tint == 0.0)) {
      writer.attribute("tint", std::isfinite(theme->tint) ? format_positional(theme->tint)
                                                            : format_xml_number(theme->tint));
    }
  } else if (const auto* indexed = std::get_if<model::IndexedColor>(&color)) {
    writer.attribute_u64("indexed", indexed->index);
  } else {
    writer.attribute("auto", "1");
  }
  writer.close_empty();
}

std::string next_free_relationship_id(std::set<std::string>& in_use) {
  for (uint64_t n = 1;; ++n) {
    std::string candidate = "rId" + format_u64(n);
    if (in_use.insert(candidate).second) return candidate;
  }
}

opc::AttributeList relationship_attributes(std::string_view id, std::string_view type,
                                           std::string_view target) {
  return {{"Id", std::string(id)}, {"Type", std::string(type)}, {"Target", std::string(target)}};
}

std::string relationship_target_for_part(std::string_view part_name) {
  while (!part_name.empty() && part_name.front() == '/') part_name.remove_prefix(1);
  if (part_name.starts_with("xl/")) part_name.remove_prefix(3);
  return std::string(part_name);
}

namespace {
const opc::AttributePair* first_type(const opc::AttributeList& attributes) {
  for (const opc::AttributePair& pair : attributes) {
    if (opc::attribute_local_name(pair.name) == "Type") return &pair;
  }
  return nullptr;
}
}  // namespace

std::string relationship_type_for(const std::vector<opc::AttributeList>& relationships,
                                  std::string_view word, std::string_view default_type) {
  for (const opc::AttributeList& rel : relationships) {
    if (opc::relationship_type_is(rel, word)) return first_type(rel)->value;
  }
  for (const opc::AttributeList& rel : relationships) {
    const opc::AttributePair* type = first_type(rel);
    if (type == nullptr) continue;
    const size_t slash = type->value.rfind('/');
    if (slash == std::string::npos) continue;
    const std::string_view base = std::string_view(type->value).substr(0, slash);
    if (base.ends_with("/officeDocument/relationships")) return std::string(base) + "/" + std::string(word);
  }
  return std::string(default_type);
}

void push_package_part(std::vector<opc::PackagePart>& parts, std::string name, std::string bytes) {
  parts.push_back(opc::PackagePart{std::move(name), std::move(bytes)});
}

Result<std::string, SpreadsheetParseError> write_relationships_part(
    const std::vector<opc::AttributeList>& relationships) {
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("Relationships", {{"xmlns", kPackageRelNs}});
  for (const opc::AttributeList& rel : relationships) {
    writer.open("Relationship");
    for (const opc::AttributePair& pair : rel) writer.attribute(pair.name, pair.value);
    writer.close_empty();
  }
  writer.end_tag("Relationships");
  return writer.finish();
}

}  // namespace cmx::writer
