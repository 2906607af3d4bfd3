#include "collab/layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/number_text.h"
#include "base/saturate.h"

namespace cmx::collab {
namespace {

using crdt::Any;
using crdt::AnyKind;

// One optional "+", then one or more digits, no overflow of T.
template <typename T>
std::optional<T> parse_decimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  T value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, T{10}, &value)) return std::nullopt;
    if (__builtin_add_overflow(value, static_cast<T>(c - '0'), &value)) return std::nullopt;
  }
  return value;
}

// The kind tag of a content or value array. Writers write the integer kind;
// an integral number is read as the same tag, because peers built on the
// Rust port of Yjs decode integers below 2^53 as numbers and write them back
// so: a document relayed through such a peer would otherwise lose every cell.
std::optional<int64_t> read_kind(const Any& value) {
  if (value.is(AnyKind::kInteger)) return value.as_integer();
  if (value.is(AnyKind::kNumber)) {
    double v = value.as_number();
    if (std::isfinite(v) && std::trunc(v) == v) return saturate_cast<int64_t>(v);
  }
  return std::nullopt;
}

// A count of a merge or freeze pane: a non-negative integral number or an
// integer, at most 2^32 - 1.
std::optional<uint32_t> read_u32(const Any& value) {
  if (value.is(AnyKind::kInteger)) {
    int64_t v = value.as_integer();
    if (v < 0 || v > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(v);
  }
  if (value.is(AnyKind::kNumber)) {
    double v = value.as_number();
    if (!(v >= 0.0) || v > 4294967295.0 || std::trunc(v) != v) return std::nullopt;
    return static_cast<uint32_t>(v);
  }
  return std::nullopt;
}

Result<uint32_t, std::string> labelled_u32(const Any& value, std::string_view label) {
  if (auto v = read_u32(value)) return *v;
  return unexpected(std::string(label) + " is not a u32");
}

Result<bool, std::string> labelled_bool(const Any& value, std::string_view label) {
  if (value.is(AnyKind::kBool)) return value.as_bool();
  return unexpected(std::string(label) + " is not a boolean");
}

Any count(uint32_t value) { return Any::number(static_cast<double>(value)); }

}  // namespace

const SheetKeySet& sheet_key_set(int64_t schema_version) {
  static const SheetKeySet v3{{kColWidthsKey, kContentsKey, kMergesKey, kNameKey, kRowHeightsKey, kStylesKey}, {}};
  static const SheetKeySet v4{
      {kColWidthsKey, kContentsKey, kFreezePaneKey, kMergesKey, kNameKey, kRowHeightsKey, kStylesKey}, {}};
  static const SheetKeySet v5{{kColWidthsKey, kContentsKey, kFreezePaneKey, kHyperlinksKey, kMergesKey, kNameKey,
                               kRowHeightsKey, kStylesKey},
                              {}};
  static const SheetKeySet v6{v5.required, {kChartsKey}};
  switch (schema_version) {
    case 3: return v3;
    case 4: return v4;
    case 5: return v5;
    default: return v6;
  }
}

bool keys_match(const crdt::MapRef& map, const SheetKeySet& keys) {
  size_t required = 0;
  bool ok = true;
  map.for_each([&](std::string_view key, const crdt::Value&) {
    if (!ok) return;
    if (std::binary_search(keys.required.begin(), keys.required.end(), key)) {
      ++required;
    } else if (!std::binary_search(keys.optional.begin(), keys.optional.end(), key)) {
      ok = false;
    }
  });
  return ok && required == keys.required.size();
}

std::vector<std::string> sheet_key_list(size_t count) {
  std::vector<std::string> keys;
  keys.reserve(count);
  for (size_t i = 0; i < count; ++i) keys.push_back("sheet:" + format_u64(i));
  return keys;
}

std::optional<uint64_t> parse_bootstrap_sheet_index(std::string_view key) {
  constexpr std::string_view prefix = "sheet:";
  if (!key.starts_with(prefix)) return std::nullopt;
  return parse_decimal<uint64_t>(key.substr(prefix.size()));
}

std::string format_cell_key(uint32_t row, uint32_t col) {
  std::string key = format_u64(row);
  key.push_back(':');
  key += format_u64(col);
  return key;
}

Result<model::CellRef, std::string> parse_cell_key(std::string_view key) {
  size_t colon = key.find(':');
  if (colon == std::string_view::npos) return unexpected("invalid cell key " + std::string(key));
  auto row = parse_decimal<uint32_t>(key.substr(0, colon));
  if (!row) return unexpected("invalid cell row in " + std::string(key));
  auto col = parse_decimal<uint32_t>(key.substr(colon + 1));
  if (!col) return unexpected("invalid cell column in " + std::string(key));
  if (format_cell_key(*row, *col) != key) return unexpected("noncanonical cell key " + std::string(key));
  if (*row >= kSheetRows || *col >= kSheetCols) {
    return unexpected("cell key " + std::string(key) + " is out of bounds");
  }
  return model::CellRef{*row, *col, false, false};
}

Result<DimensionMap, std::string> decode_dimension_map(const crdt::MapRef& map, uint32_t limit,
                                                       std::string_view label) {
  DimensionMap out;
  std::optional<std::string> failure;
  map.for_each([&](std::string_view key, const crdt::Value& value) {
    if (failure) return;
    auto index = parse_decimal<uint32_t>(key);
    if (!index) {
      failure = "invalid numeric key " + std::string(key);
      return;
    }
    if (format_u64(*index) != key) {
      failure = "noncanonical numeric key " + std::string(key);
      return;
    }
    if (*index >= limit) {
      failure = std::string(label) + " key " + std::string(key) + " is out of bounds";
      return;
    }
    double size = 0.0;
    if (value.kind == crdt::ValueKind::kAny && value.any.is(AnyKind::kNumber)) {
      size = value.any.as_number();
    } else if (value.kind == crdt::ValueKind::kAny && value.any.is(AnyKind::kInteger)) {
      size = static_cast<double>(value.any.as_integer());
    } else {
      failure = "invalid numeric value at " + std::string(key);
      return;
    }
    if (!std::isfinite(size)) {
      failure = "nonfinite " + std::string(label) + " at " + std::string(key);
      return;
    }
    out.emplace_hint(out.end(), *index, size);
  });
  if (failure) return unexpected(std::move(*failure));
  return out;
}

Result<model::CellValue, std::string> decode_cell_value(const Any& value) {
  if (!value.is(AnyKind::kArray)) return unexpected(std::string("cell value is not an array"));
  const Any::Array& items = value.as_array();
  if (items.empty()) return unexpected(std::string("cell value is empty"));
  std::optional<int64_t> tag = read_kind(items[0]);
  if (!tag) return unexpected(std::string("cell value kind is not an integer"));
  const int64_t kind = *tag;
  if (kind < 0 || kind > 4) return unexpected("unsupported cell value kind " + format_i64(kind));
  if (items.size() != (kind == 0 ? 1u : 2u)) {
    return unexpected(std::string("cell value has the wrong payload length"));
  }
  switch (kind) {
    case 0: return model::CellValue();
    case 1:
      if (!items[1].is(AnyKind::kNumber) || !std::isfinite(items[1].as_number())) {
        return unexpected(std::string("numeric cell has a non-number value"));
      }
      return model::CellValue::number(items[1].as_number());
    case 2:
      if (!items[1].is(AnyKind::kString)) return unexpected(std::string("text cell has a non-string value"));
      return model::CellValue::text(items[1].as_string());
    case 3:
      if (!items[1].is(AnyKind::kBool)) return unexpected(std::string("boolean cell has a non-boolean value"));
      return model::CellValue::boolean(items[1].as_bool());
    default: {
      if (!items[1].is(AnyKind::kString)) return unexpected(std::string("error cell has a non-string value"));
      auto code = model::error_code_from_text(items[1].as_string());
      if (!code) return unexpected("unsupported cell error " + items[1].as_string());
      return model::CellValue::error(*code);
    }
  }
}

Result<model::SheetCell, std::string> decode_cell_content(const Any& value) {
  if (!value.is(AnyKind::kArray)) return unexpected(std::string("cell content is not an array"));
  const Any::Array& items = value.as_array();
  if (items.empty()) return unexpected(std::string("cell content is empty"));
  std::optional<int64_t> tag = read_kind(items[0]);
  if (!tag) return unexpected(std::string("cell content kind is not an integer"));
  const int64_t kind = *tag;
  if (kind != 0 && kind != 1) return unexpected("unsupported cell content kind " + format_i64(kind));
  if (items.size() != (kind == 0 ? 2u : 3u)) {
    return unexpected(std::string("cell content has the wrong payload length"));
  }
  model::SheetCell cell;
  if (kind == 0) {
    CMX_ASSIGN_OR_RETURN(cell.value, decode_cell_value(items[1]));
    if (cell.value.is_empty()) return unexpected(std::string("empty literal cell content must be omitted"));
    return cell;
  }
  if (!items[1].is(AnyKind::kString)) {
    return unexpected(std::string("formula cell content is missing formula text"));
  }
  cell.formula = SharedString(items[1].as_string());
  CMX_ASSIGN_OR_RETURN(cell.value, decode_cell_value(items[2]));
  return cell;
}

Result<std::optional<model::FreezePane>, std::string> decode_freeze_pane(const Any& value) {
  if (value.is(AnyKind::kNull)) return std::optional<model::FreezePane>();
  if (!value.is(AnyKind::kArray)) return unexpected(std::string("sheet freeze pane is not an array"));
  const Any::Array& items = value.as_array();
  if (items.size() != 6) return unexpected(std::string("sheet freeze pane must contain six values"));
  model::FreezePane pane;
  CMX_ASSIGN_OR_RETURN(pane.rows, labelled_u32(items[0], "frozen row count"));
  CMX_ASSIGN_OR_RETURN(pane.cols, labelled_u32(items[1], "frozen column count"));
  CMX_ASSIGN_OR_RETURN(pane.top_left.row, labelled_u32(items[2], "freeze pane top row"));
  CMX_ASSIGN_OR_RETURN(pane.top_left.col, labelled_u32(items[3], "freeze pane left column"));
  CMX_ASSIGN_OR_RETURN(pane.top_left.abs_row, labelled_bool(items[4], "freeze pane absolute row"));
  CMX_ASSIGN_OR_RETURN(pane.top_left.abs_col, labelled_bool(items[5], "freeze pane absolute column"));
  if (pane.rows > kSheetRows || pane.cols > kSheetCols || pane.top_left.row >= kSheetRows ||
      pane.top_left.col >= kSheetCols) {
    return unexpected(std::string("sheet freeze pane is out of bounds"));
  }
  return std::optional<model::FreezePane>(pane);
}

Result<std::vector<model::CellRange>, std::string> decode_merges(const Any& value) {
  if (!value.is(AnyKind::kArray)) return unexpected(std::string("sheet merges are not an array"));
  std::vector<model::CellRange> merges;
  merges.reserve(value.as_array().size());
  for (const Any& entry : value.as_array()) {
    if (!entry.is(AnyKind::kArray)) return unexpected(std::string("merge entry is not an array"));
    const Any::Array& items = entry.as_array();
    if (items.size() != 8) return unexpected(std::string("merge entry must contain eight values"));
    model::CellRange range;
    CMX_ASSIGN_OR_RETURN(range.start.row, labelled_u32(items[0], "merge start row"));
    CMX_ASSIGN_OR_RETURN(range.start.col, labelled_u32(items[1], "merge start column"));
    CMX_ASSIGN_OR_RETURN(range.start.abs_row, labelled_bool(items[2], "merge start absolute row"));
    CMX_ASSIGN_OR_RETURN(range.start.abs_col, labelled_bool(items[3], "merge start absolute column"));
    CMX_ASSIGN_OR_RETURN(range.end.row, labelled_u32(items[4], "merge end row"));
    CMX_ASSIGN_OR_RETURN(range.end.col, labelled_u32(items[5], "merge end column"));
    CMX_ASSIGN_OR_RETURN(range.end.abs_row, labelled_bool(items[6], "merge end absolute row"));
    CMX_ASSIGN_OR_RETURN(range.end.abs_col, labelled_bool(items[7], "merge end absolute column"));
    merges.push_back(range);
  }
  return merges;
}

Any encode_cell_value(const model::CellValue& value) {
  switch (value.kind()) {
    case model::CellValue::Kind::Empty: return Any::array({Any::integer(0)});
    case model::CellValue::Kind::Number: return Any::array({Any::integer(1), Any::number(value.as_number())});
    case model::CellValue::Kind::Text:
      return Any::array({Any::integer(2), Any::string(std::string(value.as_text()))});
    case model::CellValue::Kind::Bool: return Any::array({Any::integer(3), Any::boolean(value.as_bool())});
    case model::CellValue::Kind::Error:
      return Any::array({Any::integer(4), Any::string(std::string(model::error_code_text(value.as_error())))});
  }
  return Any::array({Any::integer(0)});
}

std::optional<Any> encode_cell_content(const model::SheetCell& cell) {
  if (cell.formula) {
    return Any::array({Any::integer(1), Any::string(std::string(cell.formula->view())), encode_cell_value(cell.value)});
  }
  if (cell.value.is_empty()) return std::nullopt;
  return Any::array({Any::integer(0), encode_cell_value(cell.value)});
}

Any encode_freeze_pane(const std::optional<model::FreezePane>& pane) {
  if (!pane) return Any::null();
  return Any::array({count(pane->rows), count(pane->cols), count(pane->top_left.row), count(pane->top_left.col),
                     Any::boolean(pane->top_left.abs_row), Any::boolean(pane->top_left.abs_col)});
}

Any encode_merges(const std::vector<model::CellRange>& merges) {
  Any::Array entries;
  entries.reserve(merges.size());
  for (const model::CellRange& range : merges) {
    entries.push_back(Any::array({count(range.start.row), count(range.start.col), Any::boolean(range.start.abs_row),
                                  Any::boolean(range.start.abs_col), count(range.end.row), count(range.end.col),
                                  Any::boolean(range.end.abs_row), Any::boolean(range.end.abs_col)}));
  }
  return Any::array(std::move(entries));
}

std::optional<int64_t> read_metadata_integer(const crdt::MapRef& metadata, std::string_view key) {
  auto value = metadata.get(key);
  if (!value || value->kind != crdt::ValueKind::kAny) return std::nullopt;
  if (value->any.is(AnyKind::kInteger)) return value->any.as_integer();
  if (value->any.is(AnyKind::kNumber)) return saturate_cast<int64_t>(value->any.as_number());
  return std::nullopt;
}

Any encode_structure_generation(uint64_t generation) {
  constexpr uint64_t kMaxSafeInteger = (uint64_t{1} << 53) - 1;
  if (generation <= kMaxSafeInteger) return Any::number(static_cast<double>(generation));
  return Any::integer(saturate_int<int64_t>(generation));
}

std::string write_failure(const crdt::CrdtError& error) { return crdt::crdt_error_message(error); }

Result<bool, std::string> write_plain(crdt::Transaction& txn, crdt::MapRef map, std::string_view key,
                                      Any value) {
  if (auto present = map.get(key); present && present->kind == crdt::ValueKind::kAny && present->any == value) {
    return false;
  }
  auto written = map.set(txn, key, std::move(value));
  if (!written) return unexpected(write_failure(written.error()));
  return true;
}

Result<crdt::MapRef, std::string> fetch_or_create_map(crdt::Transaction& txn, crdt::MapRef map,
                                                      std::string_view key) {
  auto nested = map.get_or_insert_map(txn, key);
  if (!nested) return unexpected(write_failure(nested.error()));
  return *nested;
}

namespace {

// Removes every live key of `map` that `wanted(key)` rejects, in byte order.
template <typename Wanted>
void remove_unwanted(crdt::Transaction& txn, crdt::MapRef map, Wanted&& wanted) {
  if (map.size() == 0) return;
  for (const std::string& key : map.keys()) {
    if (!wanted(key)) map.remove(txn, key);
  }
}

}  // namespace

Result<void, std::string> sync_dimension_map(crdt::Transaction& txn, crdt::MapRef map,
                                             const DimensionMap& wanted) {
  remove_unwanted(txn, map, [&](const std::string& key) {
    auto index = parse_decimal<uint32_t>(key);
    return index && format_u64(*index) == key && wanted.contains(*index);
  });
  for (const auto& [index, size] : wanted) {
    CMX_TRY(write_plain(txn, map, format_u64(index), Any::number(size)));
  }
  return {};
}

Result<void, std::string> sync_string_map(crdt::Transaction& txn, crdt::MapRef map,
                                          const std::vector<std::pair<std::string, Any>>& wanted) {
  remove_unwanted(txn, map, [&](const std::string& key) {
    auto it = std::lower_bound(wanted.begin(), wanted.end(), key,
                               [](const auto& entry, const std::string& k) { return entry.first < k; });
    return it != wanted.end() && it->first == key;
  });
  for (const auto& [key, value] : wanted) CMX_TRY(write_plain(txn, map, key, value));
  return {};
}

std::optional<crdt::MapRef> nested_map(const crdt::MapRef& map, std::string_view key) {
  auto value = map.get(key);
  if (!value || value->kind != crdt::ValueKind::kMap) return std::nullopt;
  return value->as_map();
}

}  // namespace cmx::collab
