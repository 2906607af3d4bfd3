#include "model/cell_value.h"

namespace cmx::model {

std::string_view error_code_text(CellErrorCode code) {
  switch (code) {
    case CellErrorCode::Div0: return "#DIV/0!";
    case CellErrorCode::NA: return "#N/A";
    case CellErrorCode::Name: return "#NAME?";
    case CellErrorCode::Null: return "#NULL!";
    case CellErrorCode::Num: return "#NUM!";
    case CellErrorCode::Ref: return "#REF!";
    case CellErrorCode::Value: return "#VALUE!";
    case CellErrorCode::Spill: return "#SPILL!";
    case CellErrorCode::Calc: return "#CALC!";
  }
  return "#VALUE!";
}

std::optional<CellErrorCode> error_code_from_text(std::string_view text) {
  for (int i = 0; i < kCellErrorCodeCount; ++i) {
    auto code = static_cast<CellErrorCode>(i);
    if (error_code_text(code) == text) return code;
  }
  return std::nullopt;
}

}  // namespace cmx::model
