// Interning of resolved cell formats into a style sheet for the catalog
// reader: equal fonts, fills, borders, custom number formats and whole
// formats are reused, the others appended.
//
// A small stand-in for the model's own format interning, which is being
// built separately; read_cell_format_catalog calls only `intern`, so the
// model's functions can replace this class without touching the reader.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "model/styles.h"

namespace cmx::collab {

inline constexpr std::string_view kNumberFormatTableFull = "number format table is full";

class FormatInterner {
 public:
  // Indexes the fonts, fills, borders and custom number formats of `styles`,
  // which must outlive the interner and change only through it.
  explicit FormatInterner(model::StyleSheet& styles);

  // Makes `format` findable at `index`, an existing cell format of the sheet
  // whose resolved format it is; the lowest index of a format wins.
  void note_existing(uint32_t index, const model::CellFormat& format);

  // The index of an equal cell format noted or interned before, else of one
  // appended with the parts it needs; fails when a custom number format
  // needs an id and none is free.
  Result<uint32_t, std::string> intern(const model::CellFormat& format);

 private:
  Result<uint16_t, std::string> custom_number_format_id(const std::string& code);

  model::StyleSheet& styles_;
  absl::flat_hash_map<std::string, uint32_t> fonts_;
  absl::flat_hash_map<std::string, uint32_t> fills_;
  absl::flat_hash_map<std::string, uint32_t> borders_;
  absl::flat_hash_map<std::string, uint32_t> formats_;
  absl::flat_hash_map<std::string, uint16_t> custom_codes_;
  std::bitset<65536> used_ids_;
  uint32_t next_free_id_ = model::kFirstCustomNumFmtId;
};

}  // namespace cmx::collab
