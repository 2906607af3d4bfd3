#include "collab/format_interning.h"

#include "json/style_records.h"

namespace cmx::collab {

namespace {

// Numerically equal floats must give one key: -0.0 is keyed as 0.0.
void unsign_zero(double& value) {
  if (value == 0.0) value = 0.0;
}
void unsign_zeros(model::Color& color) {
  if (auto* theme = std::get_if<model::ThemeColor>(&color)) unsign_zero(theme->tint);
}
void unsign_zeros(std::optional<model::Color>& color) {
  if (color) unsign_zeros(*color);
}
void unsign_zeros(model::Font& font) {
  if (font.size_pt) unsign_zero(*font.size_pt);
  unsign_zeros(font.color);
}
void unsign_zeros(model::Fill& fill) {
  if (auto* solid = std::get_if<model::SolidFill>(&fill)) unsign_zeros(solid->color);
}
void unsign_zeros(model::Border& border) {
  for (auto* edge : {&border.left, &border.right, &border.top, &border.bottom}) {
    if (*edge) unsign_zeros((*edge)->color);
  }
}

template <typename T, typename Write>
std::string key_of(T record, Write&& write) {
  unsign_zeros(record);
  json::CompactWriter writer;
  write(writer, record);
  return writer.take();
}

std::string font_key(const model::Font& font) {
  return key_of(font, [](auto& w, const model::Font& f) { json::serialize_font(w, f); });
}
std::string fill_key(const model::Fill& fill) {
  return key_of(fill, [](auto& w, const model::Fill& f) { json::serialize_fill(w, f); });
}
std::string border_key(const model::Border& border) {
  return key_of(border, [](auto& w, const model::Border& b) { json::serialize_border(w, b); });
}
std::string format_key(const model::CellFormat& format) {
  model::CellFormat copy = format;
  unsign_zeros(copy.font);
  unsign_zeros(copy.fill);
  unsign_zeros(copy.border);
  return json::cell_format_to_json(copy);
}

template <typename T, typename Key>
void index_table(const std::vector<T>& table, absl::flat_hash_map<std::string, uint32_t>& index, Key&& key) {
  for (size_t i = 0; i < table.size(); ++i) index.try_emplace(key(table[i]), static_cast<uint32_t>(i));
}

template <typename T>
uint32_t find_or_append(std::vector<T>& table, absl::flat_hash_map<std::string, uint32_t>& index,
                        std::string key, const T& record) {
  auto [it, inserted] = index.try_emplace(std::move(key), static_cast<uint32_t>(table.size()));
  if (inserted) table.push_back(record);
  return it->second;
}

}  // namespace

FormatInterner::FormatInterner(model::StyleSheet& styles) : styles_(styles) {
  index_table(styles.fonts, fonts_, font_key);
  index_table(styles.fills, fills_, fill_key);
  index_table(styles.borders, borders_, border_key);
  for (const model::CustomNumFmt& format : styles.num_fmts) {
    used_ids_.set(format.id);
    if (format.id >= model::kFirstCustomNumFmtId) custom_codes_.try_emplace(format.code, format.id);
  }
}

void FormatInterner::note_existing(uint32_t index, const model::CellFormat& format) {
  formats_.try_emplace(format_key(format), index);
}

Result<uint16_t, std::string> FormatInterner::custom_number_format_id(const std::string& code) {
  if (auto it = custom_codes_.find(code); it != custom_codes_.end()) return it->second;
  // Ids up to 65,534 are handed out; 65,535 stays unused.
  while (next_free_id_ < 65535 && used_ids_.test(next_free_id_)) ++next_free_id_;
  if (next_free_id_ >= 65535) return unexpected(std::string(kNumberFormatTableFull));
  auto id = static_cast<uint16_t>(next_free_id_);
  used_ids_.set(id);
  styles_.num_fmts.push_back(model::CustomNumFmt{id, code});
  custom_codes_.emplace(code, id);
  return id;
}

Result<uint32_t, std::string> FormatInterner::intern(const model::CellFormat& format) {
  std::string key = format_key(format);
  if (auto it = formats_.find(key); it != formats_.end()) return it->second;
  uint16_t number_format_id = 0;
  if (const auto* builtin = std::get_if<model::BuiltinNumFmt>(&format.number_format)) {
    number_format_id = builtin->id;
  } else {
    CMX_ASSIGN_OR_RETURN(number_format_id,
                         custom_number_format_id(std::get<model::CustomPattern>(format.number_format).pattern));
  }
  model::CellXf xf;
  xf.font = find_or_append(styles_.fonts, fonts_, font_key(format.font), format.font);
  xf.fill = find_or_append(styles_.fills, fills_, fill_key(format.fill), format.fill);
  xf.border = find_or_append(styles_.borders, borders_, border_key(format.border), format.border);
  xf.num_fmt_id = number_format_id;
  xf.alignment = format.alignment;
  auto index = static_cast<uint32_t>(styles_.cell_xfs.size());
  styles_.cell_xfs.push_back(xf);
  formats_.emplace(std::move(key), index);
  return index;
}

}  // namespace cmx::collab
