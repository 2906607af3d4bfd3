#include "json/float_text.h"

#include <cmath>

#include "base/number_text.h"

namespace cmx::json {

namespace {

// Decimal exponents with the fixed layout; outside them the layout is
// scientific.
constexpr int kFixedMinExponent = -5;
constexpr int kFixedMaxExponent = 15;

}  // namespace

void append_json_f64(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == 0.0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  ShortestDigits d = shortest_digits(value);
  if (d.negative) out.push_back('-');
  const std::string& digits = d.digits;
  const int n = static_cast<int>(digits.size());
  const int e = d.point - 1;  // exponent of the first digit
  if (e >= kFixedMinExponent && e <= kFixedMaxExponent) {
    if (e < 0) {
      out += "0.";
      out.append(static_cast<size_t>(-e - 1), '0');
      out += digits;
    } else if (n > e + 1) {
      out.append(digits, 0, static_cast<size_t>(e + 1));
      out.push_back('.');
      out.append(digits, static_cast<size_t>(e + 1));
    } else {
      out += digits;
      out.append(static_cast<size_t>(e + 1 - n), '0');
      out += ".0";
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits, 1);
  }
  out.push_back('e');
  out.push_back(e < 0 ? '-' : '+');
  out += format_u64(static_cast<uint64_t>(e < 0 ? -e : e));
}

std::string format_json_f64(double value) {
  std::string out;
  append_json_f64(out, value);
  return out;
}

}  // namespace cmx::json
