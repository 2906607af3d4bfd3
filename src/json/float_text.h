// The JSON layout of a double: shortest round-trip digits, fixed form for
// decimal exponents -5..15 ("2.0", "0.00001", "1500.0"), scientific outside
// ("1e-6", "1e+16", "1.5e-7"); the sign of -0.0 kept; null when not finite.
// The compact writer, the byte counters and the error descriptions all use it.
#pragma once

#include <string>

namespace cmx::json {

void append_json_f64(std::string& out, double value);
std::string format_json_f64(double value);

}  // namespace cmx::json
