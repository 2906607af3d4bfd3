// CellValue: the one value type of the model, the evaluator, the collaborative
// document and the JSON interfaces. Texts are shared, so copies are cheap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/shared_string.h"

namespace cmx::model {

// The nine spreadsheet error codes, in their fixed order.
enum class CellErrorCode : uint8_t { Div0, NA, Name, Null, Num, Ref, Value, Spill, Calc };
inline constexpr int kCellErrorCodeCount = 9;

// "#DIV/0!", "#N/A", "#NAME?", "#NULL!", "#NUM!", "#REF!", "#VALUE!", "#SPILL!", "#CALC!".
std::string_view error_code_text(CellErrorCode code);
// The code whose text equals `text` exactly, if any.
std::optional<CellErrorCode> error_code_from_text(std::string_view text);

struct Empty {
  friend bool operator==(Empty, Empty) { return true; }
};

class CellValue {
 public:
  enum class Kind : uint8_t { Empty, Number, Text, Bool, Error };

  CellValue() = default;
  static CellValue number(double value) { return CellValue(Storage(std::in_place_index<1>, value)); }
  static CellValue text(SharedString value) {
    return CellValue(Storage(std::in_place_index<2>, std::move(value)));
  }
  static CellValue text(std::string_view value) { return text(SharedString(value)); }
  static CellValue text(const std::string& value) { return text(SharedString(value)); }
  static CellValue text(const char* value) { return text(SharedString(value)); }
  static CellValue boolean(bool value) { return CellValue(Storage(std::in_place_index<3>, value)); }
  static CellValue error(CellErrorCode code) {
    return CellValue(Storage(std::in_place_index<4>, code));
  }

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool is_empty() const { return storage_.index() == 0; }
  bool is_number() const { return storage_.index() == 1; }
  bool is_text() const { return storage_.index() == 2; }
  bool is_bool() const { return storage_.index() == 3; }
  bool is_error() const { return storage_.index() == 4; }

  // Accessors of the held variant; calling the wrong one is a bug.
  double as_number() const { return std::get<1>(storage_); }
  std::string_view as_text() const { return std::get<2>(storage_).view(); }
  const SharedString& shared_text() const { return std::get<2>(storage_); }
  bool as_bool() const { return std::get<3>(storage_); }
  CellErrorCode as_error() const { return std::get<4>(storage_); }

  // Same variant and equal contents; numbers compare with == (NaN ≠ NaN).
  friend bool operator==(const CellValue& a, const CellValue& b) { return a.storage_ == b.storage_; }

 private:
  using Storage = std::variant<Empty, double, SharedString, bool, CellErrorCode>;
  explicit CellValue(Storage storage) : storage_(std::move(storage)) {}
  // The variant's tail padding (seven bytes after its index) stays free, so
  // a record that declares its CellValue [[no_unique_address]] packs its next
  // members there; everywhere else a CellValue still takes sixteen bytes.
  [[no_unique_address]] Storage storage_;
};
static_assert(sizeof(CellValue) == 16);

}  // namespace cmx::model
