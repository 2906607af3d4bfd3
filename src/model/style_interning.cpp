#include "model/style_interning.h"

#include <bit>
#include <cmath>
#include <vector>

#include "model/style_equality.h"

namespace cmx::model {

namespace {

// A fixed-seed mix of 64-bit words: equal keys hash equally across runs, and
// every hit is verified against its table anyway.
class KeyHasher {
 public:
  void add(uint64_t word) {
    uint64_t z = state_ ^ (word + 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    state_ = z ^ (z >> 31);
  }
  void add_text(std::string_view text) {
    add(text.size());
    uint64_t word = 0;
    size_t filled = 0;
    for (unsigned char byte : text) {
      word = (word << 8) | byte;
      if (++filled == 8) {
        add(word);
        word = 0;
        filled = 0;
      }
    }
    if (filled) add(word);
  }
  // False for a NaN, which has no key.
  bool add_float(double value) {
    if (std::isnan(value)) return false;
    add(std::bit_cast<uint64_t>(value == 0 ? 0.0 : value));
    return true;
  }
  uint64_t value() const { return state_; }

 private:
  uint64_t state_ = 0x6a09e667f3bcc908ull;
};

bool add_color(KeyHasher& hasher, const Color& color) {
  hasher.add(color.index());
  if (const auto* rgb = std::get_if<RgbColor>(&color)) {
    hasher.add_text(rgb->text);
  } else if (const auto* theme = std::get_if<ThemeColor>(&color)) {
    hasher.add(theme->idx);
    return hasher.add_float(theme->tint);
  } else if (const auto* indexed = std::get_if<IndexedColor>(&color)) {
    hasher.add(indexed->index);
  }
  return true;
}

bool add_optional_color(KeyHasher& hasher, const std::optional<Color>& color) {
  hasher.add(color.has_value());
  return !color || add_color(hasher, *color);
}

template <typename T>
void add_optional(KeyHasher& hasher, const std::optional<T>& value) {
  hasher.add(value.has_value());
  if (value) hasher.add(static_cast<uint64_t>(*value));
}

bool is_default_font(const Font& font) {
  return !font.name && !font.size_pt && !font.color && !font.bold && !font.italic && !font.underline &&
         !font.strike;
}
bool is_default_border(const Border& border) {
  return !border.left && !border.right && !border.top && !border.bottom;
}

struct Appender {
  StyleSheet& styles;
  StyleTableLengths mark = style_table_lengths(styles);

  template <typename T>
  Result<uint32_t, InternError> append(std::vector<T>& table, const T& record) {
    if (table.size() >= kMaxStyleRecords) return unexpected(InternError::StyleTableFull);
    table.push_back(record);
    return static_cast<uint32_t>(table.size() - 1);
  }
  // Leaves the tables as they were when the call began.
  template <typename T>
  Result<T, InternError> fail(InternError error) {
    rollback_stylesheet(styles, mark);
    return unexpected(error);
  }
};

// Font, fill, border or cell format: the first equal record, else appended.
template <typename T, typename Find>
Result<uint32_t, InternError> find_or_append_linear(Appender& appender, std::vector<T>& table, const T& record,
                                                     Find find) {
  const uint32_t found = find(table, record);
  if (found < table.size()) return found;
  return appender.append(table, record);
}

template <typename T, typename Find, typename Eq>
Result<uint32_t, InternError> find_or_append_cached(Appender& appender, std::vector<T>& table, LookupCache& cache,
                                                     const T& record, std::optional<uint64_t> key, Find find,
                                                     Eq eq) {
  if (table.size() < kLookupCacheThreshold) return find_or_append_linear(appender, table, record, find);
  if (cache.in_line_length != table.size()) {
    cache.positions.clear();
    cache.in_line_length = table.size();
  }
  if (key) {
    auto hit = cache.positions.find(*key);
    if (hit != cache.positions.end() && hit->second < table.size() && eq(table[hit->second], record)) {
      return hit->second;
    }
  }
  uint32_t position = find(table, record);
  if (position == table.size()) {
    CMX_ASSIGN_OR_RETURN(position, appender.append(table, record));
    cache.in_line_length = table.size();
  }
  if (key) cache.positions.insert_or_assign(*key, position);
  return position;
}

CellXf build_cell_xf(const CellFormat& format, uint32_t font, uint32_t fill, uint32_t border,
                     std::optional<uint16_t> num_fmt_id) {
  CellXf xf;
  if (!is_default_font(format.font)) xf.font = font;
  if (!std::holds_alternative<NoFill>(format.fill)) xf.fill = fill;
  if (!is_default_border(format.border)) xf.border = border;
  xf.num_fmt_id = num_fmt_id;
  if (!(format.alignment == Alignment{})) xf.alignment = format.alignment;
  return xf;
}

bool xf_eq(const CellXf& a, const CellXf& b) { return a == b; }

Result<uint32_t, InternError> intern_records(Appender& appender, const CellFormat& format,
                                             std::optional<uint16_t> num_fmt_id, bool cached, bool shortcut) {
  StyleSheet& styles = appender.styles;
  StyleLookupCaches& caches = styles.caches;
  uint32_t font = 0;
  uint32_t fill = 0;
  uint32_t border = 0;
  if (cached) {
    CMX_ASSIGN_OR_RETURN(font, find_or_append_cached(appender, styles.fonts, caches.font_lookup, format.font,
                                                     hash_font_key(format.font), find_font, font_eq));
    CMX_ASSIGN_OR_RETURN(fill, find_or_append_cached(appender, styles.fills, caches.fill_lookup, format.fill,
                                                     hash_fill_key(format.fill), find_fill, fill_eq));
    CMX_ASSIGN_OR_RETURN(border,
                         find_or_append_cached(appender, styles.borders, caches.border_lookup, format.border,
                                               border_lookup_key(format.border), find_border, border_eq));
  } else {
    CMX_ASSIGN_OR_RETURN(font, find_or_append_linear(appender, styles.fonts, format.font, find_font));
    CMX_ASSIGN_OR_RETURN(fill, find_or_append_linear(appender, styles.fills, format.fill, find_fill));
    CMX_ASSIGN_OR_RETURN(border, find_or_append_linear(appender, styles.borders, format.border, find_border));
  }
  const CellXf xf = build_cell_xf(format, font, fill, border, num_fmt_id);
  // A lone font format usually sits at the font's own position; the first
  // equal format may lie earlier, but files written this way expect it.
  if (shortcut && xf.font && !xf.fill && !xf.border && !xf.num_fmt_id && !xf.alignment &&
      font < styles.cell_xfs.size() && styles.cell_xfs[font] == CellXf{font, {}, {}, {}, {}}) {
    return font;
  }
  if (cached) {
    return find_or_append_cached(appender, styles.cell_xfs, caches.xf_lookup, xf, hash_cell_xf(xf), find_cell_xf,
                                 xf_eq);
  }
  return find_or_append_linear(appender, styles.cell_xfs, xf, find_cell_xf);
}

Result<uint32_t, InternError> intern_checked(StyleSheet& styles, const CellFormat& format,
                                             std::optional<uint16_t> num_fmt_id, bool cached, bool shortcut) {
  Appender appender{styles};
  Result<uint32_t, InternError> result = intern_records(appender, format, num_fmt_id, cached, shortcut);
  if (!result.has_value()) return appender.fail<uint32_t>(result.error());
  return result;
}

void rebuild_num_fmt_lookup(const std::vector<CustomNumFmt>& table, NumFmtLookup& lookup) {
  lookup.entries.clear();
  lookup.first_by_id.clear();
  for (size_t i = 0; i < table.size(); ++i) {
    const auto position = static_cast<uint32_t>(i);
    lookup.entries.try_emplace(table[i].code, table[i].id, position);
    lookup.first_by_id.try_emplace(table[i].id, position);
  }
  lookup.in_line_length = table.size();
}

// A reusable entry: its code, an id of 164 or more, the first to carry it.
bool reusable(const std::vector<CustomNumFmt>& table, const NumFmtLookup& lookup, uint32_t position,
              std::string_view code) {
  if (position >= table.size()) return false;
  const CustomNumFmt& entry = table[position];
  if (entry.code != code || entry.id < kFirstCustomNumFmtId) return false;
  auto first = lookup.first_by_id.find(entry.id);
  return first != lookup.first_by_id.end() && first->second == position;
}

std::optional<uint16_t> reuse_num_fmt(std::vector<CustomNumFmt>& table, NumFmtLookup& lookup,
                                      std::string_view code) {
  if (lookup.in_line_length != table.size()) rebuild_num_fmt_lookup(table, lookup);
  const std::string key(code);
  auto hit = lookup.entries.find(key);
  if (hit != lookup.entries.end() && reusable(table, lookup, hit->second.second, code)) return hit->second.first;
  for (size_t i = 0; i < table.size(); ++i) {
    const auto position = static_cast<uint32_t>(i);
    if (reusable(table, lookup, position, code)) {
      lookup.entries.insert_or_assign(key, std::make_pair(table[i].id, position));
      return table[i].id;
    }
  }
  return std::nullopt;
}

std::optional<uint16_t> smallest_free_id(const std::vector<CustomNumFmt>& table) {
  std::vector<bool> taken(65536, false);
  for (const CustomNumFmt& entry : table) taken[entry.id] = true;
  for (uint32_t id = kFirstCustomNumFmtId; id <= 65535; ++id) {
    if (!taken[id]) return static_cast<uint16_t>(id);
  }
  return std::nullopt;
}

}  // namespace

StyleTableLengths style_table_lengths(const StyleSheet& styles) {
  return StyleTableLengths{styles.fonts.size(), styles.fills.size(), styles.borders.size(), styles.cell_xfs.size(),
                           styles.num_fmts.size()};
}

void rollback_stylesheet(StyleSheet& styles, const StyleTableLengths& mark) {
  auto truncate = [](auto& table, size_t length) {
    if (table.size() > length) table.resize(length);
  };
  truncate(styles.fonts, mark.fonts);
  truncate(styles.fills, mark.fills);
  truncate(styles.borders, mark.borders);
  truncate(styles.cell_xfs, mark.cell_xfs);
  truncate(styles.num_fmts, mark.num_fmts);
}

Result<uint32_t, InternError> intern_format_builtin_numfmt(StyleSheet& styles, const CellFormat& format,
                                                           uint16_t id) {
  const std::optional<uint16_t> num_fmt_id = id == 0 ? std::nullopt : std::optional<uint16_t>(id);
  const bool cached = styles.cell_xfs.size() >= kLookupCacheThreshold;
  return intern_checked(styles, format, num_fmt_id, cached, /*shortcut=*/!cached && id == 0);
}

Result<uint32_t, InternError> intern_format_custom_numfmt(StyleSheet& styles, const CellFormat& format,
                                                          std::string_view code) {
  Appender appender{styles};
  std::optional<uint16_t> id = reuse_num_fmt(styles.num_fmts, styles.caches.num_fmt_lookup, code);
  if (!id) {
    id = smallest_free_id(styles.num_fmts);
    if (!id) return unexpected(InternError::NumFmtTableFull);
    Result<uint32_t, InternError> position = appender.append(styles.num_fmts, CustomNumFmt{*id, std::string(code)});
    if (!position.has_value()) return unexpected(position.error());
    NumFmtLookup& lookup = styles.caches.num_fmt_lookup;
    lookup.entries.try_emplace(std::string(code), *id, position.value());
    lookup.first_by_id.try_emplace(*id, position.value());
    lookup.in_line_length = styles.num_fmts.size();
  }
  const bool cached = styles.cell_xfs.size() >= kLookupCacheThreshold;
  Result<uint32_t, InternError> result = intern_records(appender, format, id, cached, /*shortcut=*/false);
  if (!result.has_value()) return appender.fail<uint32_t>(result.error());
  return result;
}

Result<uint32_t, InternError> intern_with_lookup_caches(StyleSheet& styles, const CellFormat& format,
                                                        std::optional<uint16_t> num_fmt_id) {
  return intern_checked(styles, format, num_fmt_id, /*cached=*/true, /*shortcut=*/false);
}

Result<uint32_t, InternError> intern_with_linear_search(StyleSheet& styles, const CellFormat& format,
                                                        std::optional<uint16_t> num_fmt_id) {
  return intern_checked(styles, format, num_fmt_id, /*cached=*/false, /*shortcut=*/false);
}

std::optional<uint64_t> hash_color_key(const Color& color) {
  KeyHasher hasher;
  if (!add_color(hasher, color)) return std::nullopt;
  return hasher.value();
}

std::optional<uint64_t> hash_font_key(const Font& font) {
  KeyHasher hasher;
  hasher.add(font.name.has_value());
  if (font.name) hasher.add_text(*font.name);
  hasher.add(font.size_pt.has_value());
  if (font.size_pt && !hasher.add_float(*font.size_pt)) return std::nullopt;
  hasher.add((font.bold ? 1u : 0u) | (font.italic ? 2u : 0u) | (font.underline ? 4u : 0u) | (font.strike ? 8u : 0u));
  if (!add_optional_color(hasher, font.color)) return std::nullopt;
  return hasher.value();
}

std::optional<uint64_t> hash_fill_key(const Fill& fill) {
  KeyHasher hasher;
  hasher.add(fill.index());
  if (const auto* solid = std::get_if<SolidFill>(&fill)) {
    if (!add_color(hasher, solid->color)) return std::nullopt;
  }
  return hasher.value();
}

std::optional<uint64_t> border_lookup_key(const Border& border) {
  KeyHasher hasher;
  for (const std::optional<BorderEdge>* edge : {&border.left, &border.right, &border.top, &border.bottom}) {
    hasher.add(edge->has_value());
    if (!*edge) continue;
    hasher.add(static_cast<uint64_t>((*edge)->style));
    if (!add_optional_color(hasher, (*edge)->color)) return std::nullopt;
  }
  return hasher.value();
}

uint64_t hash_cell_xf(const CellXf& xf) {
  KeyHasher hasher;
  add_optional(hasher, xf.font);
  add_optional(hasher, xf.fill);
  add_optional(hasher, xf.border);
  add_optional(hasher, xf.num_fmt_id);
  hasher.add(xf.alignment.has_value());
  if (xf.alignment) {
    add_optional(hasher, xf.alignment->h);
    add_optional(hasher, xf.alignment->v);
    hasher.add((xf.alignment->wrap_text ? 1u : 0u) | (xf.alignment->shrink_to_fit ? 2u : 0u));
  }
  return hasher.value();
}

}  // namespace cmx::model
