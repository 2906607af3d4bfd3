#include "collab/base_fingerprint.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

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

// Little-endian fields, gathered and then fed to every running digest: the
// cells, merges and sizes of a sheet are the same bytes in every stream, so
// several fingerprints share one walk.
class Stream {
 public:
  explicit Stream(std::vector<Sha256*> digests) : digests_(std::move(digests)) {}
  ~Stream() { flush(); }
  void byte(uint8_t value) { put(&value, 1); }
  void u32(uint32_t value) { put_le(value); }
  void u64(uint64_t value) { put_le(value); }
  void f64(double value) { put_le(std::bit_cast<uint64_t>(value)); }
  void flag(bool value) { byte(value ? 1 : 0); }
  void bytes(std::string_view text) {
    u64(text.size());
    put(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  // Hands what gathered to the digests, before one of them is fed alone.
  void flush() {
    for (Sha256* digest : digests_) digest->update(std::span<const uint8_t>(buffer_.data(), used_));
    used_ = 0;
  }

 private:
  void put(const uint8_t* data, size_t count) {
    if (count == 0) return;  // an empty text may have no data at all
    if (used_ + count > buffer_.size()) {
      flush();
      if (count > buffer_.size()) {
        for (Sha256* digest : digests_) digest->update(std::span<const uint8_t>(data, count));
        return;
      }
    }
    std::memcpy(buffer_.data() + used_, data, count);
    used_ += count;
  }
  template <typename T>
  void put_le(T value) {
    std::array<uint8_t, sizeof(T)> out;
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
    put(out.data(), out.size());
  }
  std::vector<Sha256*> digests_;
  std::array<uint8_t, 8192> buffer_;
  size_t used_ = 0;
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

// The bytes every schema version hashes for a sheet.
void hash_sheet_body(Stream& s, const model::SheetModel& sheet) {
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
}

// The JSON texts of a sheet that later versions hash, made once per sheet.
struct SheetTexts {
  std::optional<std::string> hyperlinks;
  std::optional<std::string> charts;
  std::optional<std::string> column_styles;
};

// What a version adds after the shared bytes.
void hash_sheet_tail(Stream& s, const model::SheetModel& sheet, uint32_t version, bool column_styles,
                     SheetTexts& texts) {
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
  if (version >= 5) {
    if (!texts.hyperlinks) texts.hyperlinks = json::sheet_hyperlinks_to_json(sheet.hyperlinks);
    s.bytes(*texts.hyperlinks);
  }
  if (version >= 6) {
    if (!texts.charts) texts.charts = json::sheet_charts_to_json(sheet.charts);
    s.bytes(*texts.charts);
  }
  if (column_styles) {
    if (!texts.column_styles) texts.column_styles = column_styles_text(sheet.column_styles);
    s.bytes(*texts.column_styles);
  }
}

}  // namespace

std::string_view fingerprint_domain(uint32_t schema_version) {
  return kDomains[schema_version - kFirstFingerprintSchemaVersion];
}

void digest_length_prefixed(Sha256& digest, std::string_view bytes) {
  std::array<uint8_t, 8> length;
  for (size_t i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(uint64_t{bytes.size()} >> (8 * i));
  digest.update(length);
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
  const FingerprintRequest request{schema_version, include_defined_names, include_column_styles};
  CMX_ASSIGN_OR_RETURN(std::vector<BaseFingerprint> one, compute_base_fingerprints(workbook, {&request, 1}));
  return std::move(one.front());
}

Result<std::vector<BaseFingerprint>, std::string> compute_base_fingerprints(
    const model::WorkbookModel& workbook, std::span<const FingerprintRequest> requests) {
  for (const FingerprintRequest& request : requests) {
    const uint32_t version = request.schema_version;
    if (version < kFirstFingerprintSchemaVersion || version > kLastFingerprintSchemaVersion) {
      return unexpected("unsupported schema version " + format_u64(version) + "; supported versions are " +
                        format_u64(kFirstFingerprintSchemaVersion) + " through " +
                        format_u64(kLastFingerprintSchemaVersion));
    }
  }
  bool any_runs = false;
  for (const model::SheetModel& sheet : workbook.sheets) any_runs |= !sheet.column_styles.empty();
  std::vector<std::unique_ptr<Sha256>> digests;
  std::vector<Sha256*> all;
  // Decided once per stream: when it holds, every sheet contributes its runs' text.
  std::vector<bool> column_styles;
  std::optional<std::string> base_texts[2];
  for (const FingerprintRequest& request : requests) {
    digests.push_back(std::make_unique<Sha256>());
    Sha256& digest = *digests.back();
    all.push_back(&digest);
    column_styles.push_back(request.include_column_styles && request.schema_version == 6 && any_runs);
    digest.update(fingerprint_domain(request.schema_version));
    std::optional<std::string>& text = base_texts[request.include_defined_names ? 1 : 0];
    if (!text) text = base_text(workbook, request.include_defined_names);
    digest_length_prefixed(digest, *text);
  }
  {
    Stream shared(all);
    shared.u64(workbook.sheets.size());
    for (const model::SheetModel& sheet : workbook.sheets) {
      hash_sheet_body(shared, sheet);
      shared.flush();
      SheetTexts texts;
      for (size_t i = 0; i < requests.size(); ++i) {
        Stream own({digests[i].get()});
        hash_sheet_tail(own, sheet, requests[i].schema_version, column_styles[i], texts);
      }
    }
  }
  std::vector<BaseFingerprint> out;
  out.reserve(requests.size());
  for (const auto& digest : digests) {
    Sha256Digest bytes = digest->finish();
    out.push_back(BaseFingerprint{lower_hex(bytes), bootstrap_client_id_of(bytes)});
  }
  return out;
}

}  // namespace cmx::collab
