#include "collab/base_fingerprint.h"

#include <array>
#include <bit>
#include <cstring>

#include "base/number_text.h"
#include "json/sheet_records.h"
#include "json/style_records.h"

namespace cmx::collab {

namespace {

// Fixed once for every build that must share documents; 24 bytes each.
constexpr std::string_view kDomains[] = {
    "cindermantle-xlsx-base-3",
    "cindermantle-xlsx-base-4",
    "cindermantle-xlsx-base-5",
    "cindermantle-xlsx-base-6",
};
static_assert(kDomains[0].size() == 24 && kDomains[1].size() == 24 && kDomains[2].size() == 24 &&
              kDomains[3].size() == 24);

// Little-endian fields straight into the running digest.
class Stream {
 public:
  explicit Stream(Sha256& digest) : digest_(digest) {}
  void byte(uint8_t value) { digest_.update(std::span<const uint8_t>(&value, 1)); }
  void u32(uint32_t value) { put_le(value); }
  void u64(uint64_t value) { put_le(value); }
  void f64(double value) { put_le(std::bit_cast<uint64_t>(value)); }
  void flag(bool value) { byte(value ? 1 : 0); }
  void bytes(std::string_view text) { digest_length_prefixed(digest_, text); }

 private:
  template <typename T>
  void put_le(T value) {
    std::array<uint8_t, sizeof(T)> out;
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
    digest_.update(out);
  }
  Sha256& digest_;
};

std::string base_text(const model::WorkbookModel& workbook, bool include_defined_names) {
  json::CompactWriter w;
  w.begin_array();
  w.begin_element();
  w.value_str(workbook.date_system == model::DateSystem::V1904 ? "V1904" : "V1900");
  if (include_defined_names) {
    w.begin_element();
    w.begin_array();
    for (const model::DefinedName& name : workbook.defined_names) {
      w.begin_element();
      w.begin_object();
      w.write_field_str("name", name.name);
      w.write_field_str("formula", name.formula);
      w.write_field_optional_u32("local_sheet", name.local_sheet);
      w.write_field_bool("hidden", name.hidden);
      w.end_object();
    }
    w.end_array();
  }
  w.begin_element();
  w.write_string_array(workbook.shared_strings);
  w.begin_element();
  json::serialize_stylesheet(w, workbook.styles);
  w.end_array();
  return w.take();
}

std::string column_styles_text(const std::vector<model::ColumnStyle>& runs) {
  json::CompactWriter w;
  w.begin_array();
  for (const model::ColumnStyle& run : runs) {
    w.begin_element();
    w.begin_object();
    w.write_field_u32("first", run.first);
    w.write_field_u32("last", run.last);
    w.write_field_u32("xf", run.xf);
    w.end_object();
  }
  w.end_array();
  return w.take();
}

void hash_value(Stream& s, const model::CellValue& value) {
  switch (value.kind()) {
    case model::CellValue::Kind::Empty: s.byte(0); return;
    case model::CellValue::Kind::Number: s.byte(1); s.f64(value.as_number()); return;
    case model::CellValue::Kind::Text: s.byte(2); s.bytes(value.as_text()); return;
    case model::CellValue::Kind::Bool: s.byte(3); s.flag(value.as_bool()); return;
    case model::CellValue::Kind::Error: s.byte(4); s.bytes(model::error_code_text(value.as_error())); return;
  }
}

void hash_cell_ref(Stream& s, const model::CellRef& cell) {
  s.u32(cell.row);
  s.u32(cell.col);
  s.flag(cell.abs_row);
  s.flag(cell.abs_col);
}

void hash_sheet(Stream& s, const model::SheetModel& sheet, uint32_t version, bool column_styles) {
  s.bytes(sheet.name);
  s.u64(sheet.cells.size());
  for (const auto& [key, cell] : sheet.cells) {
    s.u32(key.row);
    s.u32(key.col);
    hash_value(s, cell.value);
    if (cell.formula) {
      s.byte(1);
      s.bytes(cell.formula->view());
    } else {
      s.byte(0);
    }
    if (cell.style) {
      s.byte(1);
      s.u32(*cell.style);
    } else {
      s.byte(0);
    }
  }
  s.u64(sheet.merges.size());
  for (const model::CellRange& range : sheet.merges) {
    hash_cell_ref(s, range.start);
    hash_cell_ref(s, range.end);
  }
  s.u64(sheet.col_widths.size());
  for (const auto& [col, width] : sheet.col_widths) {
    s.u32(col);
    s.f64(width);
  }
  s.u64(sheet.row_heights.size());
  for (const auto& [row, height] : sheet.row_heights) {
    s.u32(row);
    s.f64(height);
  }
  if (version >= 4) {
    if (sheet.freeze_pane) {
      s.byte(1);
      s.u32(sheet.freeze_pane->rows);
      s.u32(sheet.freeze_pane->cols);
      s.u32(sheet.freeze_pane->top_left.row);
      s.u32(sheet.freeze_pane->top_left.col);
      s.flag(sheet.freeze_pane->top_left.abs_row);
      s.flag(sheet.freeze_pane->top_left.abs_col);
    } else {
      s.byte(0);
    }
  }
  if (version >= 5) s.bytes(json::sheet_hyperlinks_to_json(sheet.hyperlinks));
  if (version >= 6) s.bytes(json::sheet_charts_to_json(sheet.charts));
  if (column_styles) s.bytes(column_styles_text(sheet.column_styles));
}

}  // namespace

std::string_view fingerprint_domain(uint32_t schema_version) {
  return kDomains[schema_version - kFirstFingerprintSchemaVersion];
}

void digest_length_prefixed(Sha256& digest, std::string_view bytes) {
  Stream(digest).u64(bytes.size());
  digest.update(bytes);
}

uint64_t bootstrap_client_id_of(const Sha256Digest& digest) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value = (value << 8) | digest[i];
  value &= (uint64_t{1} << 53) - 1;
  return value == 0 ? 1 : value;
}

Result<BaseFingerprint, std::string> compute_base_fingerprint(const model::WorkbookModel& workbook,
                                                              uint32_t schema_version,
                                                              bool include_defined_names,
                                                              bool include_column_styles) {
  if (schema_version < kFirstFingerprintSchemaVersion || schema_version > kLastFingerprintSchemaVersion) {
    return unexpected("unsupported schema version " + format_u64(schema_version) + "; supported versions are " +
                      format_u64(kFirstFingerprintSchemaVersion) + " through " +
                      format_u64(kLastFingerprintSchemaVersion));
  }
  Sha256 digest;
  Stream stream(digest);
  digest.update(fingerprint_domain(schema_version));
  stream.bytes(base_text(workbook, include_defined_names));
  // Decided once: when it holds, every sheet contributes its runs' text.
  bool column_styles = include_column_styles && schema_version == 6;
  if (column_styles) {
    column_styles = false;
    for (const model::SheetModel& sheet : workbook.sheets) column_styles |= !sheet.column_styles.empty();
  }
  stream.u64(workbook.sheets.size());
  for (const model::SheetModel& sheet : workbook.sheets) hash_sheet(stream, sheet, schema_version, column_styles);
  Sha256Digest bytes = digest.finish();
  return BaseFingerprint{lower_hex(bytes), bootstrap_client_id_of(bytes)};
}

}  // namespace cmx::collab
