#include "collab/cell_formats.h"

#include <limits>

#include "base/number_text.h"
#include "base/sha256.h"
#include "json/style_records.h"
#include "model/style_interning.h"

namespace cmx::collab {

namespace {

using model::Color;

// The first colour text of the format that is not in canonical form.
const std::string* first_bad_rgb(const model::CellFormat& format) {
  const std::string* bad = nullptr;
  // Pointers, not optionals: the text found must outlive the check.
  auto check = [&](const Color* color) {
    if (bad || !color) return;
    const auto* rgb = std::get_if<model::RgbColor>(color);
    if (rgb && !is_canonical_rgb_text(rgb->text)) bad = &rgb->text;
  };
  auto check_optional = [&](const std::optional<Color>& color) { check(color ? &*color : nullptr); };
  check_optional(format.font.color);
  if (const auto* solid = std::get_if<model::SolidFill>(&format.fill)) check(&solid->color);
  for (const auto* edge : {&format.border.left, &format.border.right, &format.border.top, &format.border.bottom}) {
    if (*edge) check_optional((*edge)->color);
  }
  return bad;
}

// The model's interning, except that the last custom number-format id,
// 65,535, is never handed out here.
Result<uint32_t, std::string> intern_catalog_format(model::StyleSheet& styles, const model::CellFormat& format) {
  const std::string table_full = "number format table is full";
  if (const auto* builtin = std::get_if<model::BuiltinNumFmt>(&format.number_format)) {
    auto index = model::intern_format_builtin_numfmt(styles, format, builtin->id);
    if (!index) return unexpected(std::string("style table is full"));
    return *index;
  }
  const model::StyleTableLengths mark = model::style_table_lengths(styles);
  auto index =
      model::intern_format_custom_numfmt(styles, format, std::get<model::CustomPattern>(format.number_format).pattern);
  if (!index) {
    if (index.error() == model::InternError::NumFmtTableFull) return unexpected(table_full);
    return unexpected(std::string("style table is full"));
  }
  if (styles.num_fmts.size() > mark.num_fmts && styles.num_fmts.back().id == 65535) {
    model::rollback_stylesheet(styles, mark);
    return unexpected(table_full);
  }
  return *index;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  out.append(text);
  out.push_back('"');
  return out;
}

}  // namespace

EncodedCellFormat encode_cell_format(const model::CellFormat& format) {
  EncodedCellFormat encoded;
  encoded.text = json::cell_format_to_json(format);
  encoded.id = lower_hex(sha256(encoded.text));
  return encoded;
}

Result<CellFormatId, std::string> cell_format_id_of_style(const model::StyleSheet& styles, uint32_t index) {
  if (index >= styles.cell_xfs.size()) {
    return unexpected("cell style index " + format_u64(index) + " is out of range");
  }
  return encode_cell_format(model::resolve_cell_format(styles, index)).id;
}

model::CellFormat default_cell_format() { return model::CellFormat{}; }

bool is_canonical_rgb_text(std::string_view text) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (char c : text.substr(1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

namespace {

// One catalog entry: the canonical text of a valid format under its own id.
Result<model::CellFormat, std::string> check_catalog_entry(const std::string& key, const std::string& text) {
  if (text.size() > kMaxCellFormatTextBytes) return unexpected("cell format " + key + " exceeds its size limit");
  auto format = json::parse_cell_format(text);
  if (!format) return unexpected("invalid cell format " + key + ": " + json::json_error_text(format.error()));
  if (const std::string* bad = first_bad_rgb(*format)) {
    return unexpected("invalid cell format " + key + ": colour " + quoted(*bad) +
                      " is not \"#\" and six lower-case hexadecimal digits");
  }
  EncodedCellFormat encoded = encode_cell_format(*format);
  if (encoded.id != key || encoded.text != text) return unexpected("cell format " + key + " is not canonical");
  return std::move(*format);
}

Result<CellFormatCatalog, std::string> intern_catalog(std::map<CellFormatId, model::CellFormat>& kept,
                                                      const model::StyleSheet& base) {
  // Phase 2: the base's formats keep their lowest index.
  CellFormatCatalog result;
  result.styles = base;  // copying a style sheet starts its lookup caches empty
  std::map<CellFormatId, std::optional<uint32_t>, std::less<>> recorded;
  for (size_t i = 0; i < base.cell_xfs.size(); ++i) {
    if (i > std::numeric_limits<uint32_t>::max()) return unexpected(std::string("cell format table is too large"));
    auto index = static_cast<uint32_t>(i);
    recorded.try_emplace(encode_cell_format(model::resolve_cell_format(base, index)).id, index);
  }

  // Phase 3: in byte order of the ids, so every replica appends alike.
  for (auto& [id, format] : kept) {
    std::optional<uint32_t> style;
    if (auto it = recorded.find(id); it != recorded.end()) {
      style = it->second;
    } else if (!cell_format_eq(format, default_cell_format())) {
      CMX_ASSIGN_OR_RETURN(style, intern_catalog_format(result.styles, format));
    }
    recorded.insert_or_assign(id, style);
    result.style_of.emplace(id, style);
  }
  return result;
}

}  // namespace

Result<CellFormatCatalog, std::string> read_cell_format_catalog(const crdt::MapRef& catalog,
                                                                const model::StyleSheet& base) {
  // Phase 1: every entry must be the canonical text of a valid format.
  std::map<CellFormatId, model::CellFormat> kept;
  std::optional<std::string> failure;
  catalog.for_each([&](std::string_view key_view, const crdt::Value& value) {
    const std::string key(key_view);
    if (failure) return;
    if (value.kind != crdt::ValueKind::kAny || !value.any.is(crdt::AnyKind::kString)) {
      failure = "cell format " + key + " is not a string";
      return;
    }
    auto format = check_catalog_entry(key, value.any.as_string());
    if (!format) {
      failure = std::move(format).error();
      return;
    }
    kept.emplace(key, std::move(*format));
  });
  if (failure) return unexpected(std::move(*failure));
  return intern_catalog(kept, base);
}

Result<CellFormatCatalog, std::string> read_cell_format_texts(const std::map<CellFormatId, std::string>& entries,
                                                              const model::StyleSheet& base) {
  std::map<CellFormatId, model::CellFormat> kept;
  for (const auto& [key, text] : entries) {
    CMX_ASSIGN_OR_RETURN(model::CellFormat format, check_catalog_entry(key, text));
    kept.emplace_hint(kept.end(), key, std::move(format));
  }
  return intern_catalog(kept, base);
}

}  // namespace cmx::collab
