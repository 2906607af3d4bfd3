// Saturating conversions: a double outside an integer type's range is
// undefined behaviour in C++, so every such conversion goes through here.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

namespace cmx {

// Truncates toward zero and clamps to T's range; NaN gives 0.
template <typename T>
constexpr T saturate_cast(double value) {
  static_assert(std::is_integral_v<T>);
  if (std::isnan(value)) return 0;
  // The bounds as doubles: max() may round up to 2^N, which is out of range.
  constexpr double lowest = static_cast<double>(std::numeric_limits<T>::lowest());
  constexpr double upper = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
  if (value <= lowest) return std::numeric_limits<T>::lowest();
  if (value >= upper) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

// Integer to integer, clamped.
template <typename T, typename U>
constexpr T saturate_int(U value) {
  static_assert(std::is_integral_v<T> && std::is_integral_v<U>);
  if (std::cmp_less(value, std::numeric_limits<T>::lowest())) return std::numeric_limits<T>::lowest();
  if (std::cmp_greater(value, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

}  // namespace cmx
