// The number format a mutation gives a cell, the decimal steps on format
// codes, and the colour texts that style edits accept.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "model/styles.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

// The new number format of a cell whose current one is `current`; only the
// two decimal steps look at it.
model::NumberFormat number_format_for_mutation(const NumberFormatMutation& mutation,
                                               const model::NumberFormat& current);

// One decimal more (`step` +1) or fewer (-1) in the first section of the
// code. Date and time codes come back unchanged; "@" and "General" become
// "0.0" or "0"; anything else comes back as a custom code, changed or not.
model::NumberFormat adjust_decimals(const model::NumberFormat& format, int step);

// "#" and six hexadecimal digits, lower-cased; one leading "#" is optional.
// Anything else: InvalidStyle "invalid color {text}; expected #rrggbb".
Result<std::string, OpsError> parse_hex_color(std::string_view text);

}  // namespace cmx::ops
