// Small pieces the statistics handlers share: the finiteness check of every
// numeric result, the in-order sums and deviations, and the one sort.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "model/cell_value.h"

namespace cmx::formula {

inline model::CellValue finite_number(double x) {
  return std::isfinite(x) ? model::CellValue::number(x)
                          : model::CellValue::error(model::CellErrorCode::Num);
}

// Summed in order from -0.0: the fold order is part of the result.
inline double sum_in_order(std::span<const double> xs) {
  double sum = -0.0;
  for (double x : xs) sum += x;
  return sum;
}

// The sum of squared deviations from the mean, both passes in order.
inline double squared_deviations(std::span<const double> xs) {
  const double mean = sum_in_order(xs) / static_cast<double>(xs.size());
  double ss = -0.0;
  for (double x : xs) ss += (x - mean) * (x - mean);
  return ss;
}

// Ascending. Short lists by insertion under the IEEE total order (-0 before
// 0), longer ones by a stable sort.
inline void sort_numbers(std::vector<double>& xs) {
  if (xs.size() < 2) return;
  if (xs.size() <= 20) {
    auto before = [](double a, double b) {
      int64_t ia, ib;
      std::memcpy(&ia, &a, sizeof a);
      std::memcpy(&ib, &b, sizeof b);
      // Total order: negative values have their magnitude bits flipped.
      ia ^= static_cast<int64_t>(static_cast<uint64_t>(ia >> 63) >> 1);
      ib ^= static_cast<int64_t>(static_cast<uint64_t>(ib >> 63) >> 1);
      return ia < ib;
    };
    for (size_t i = 1; i < xs.size(); ++i) {
      double x = xs[i];
      size_t j = i;
      for (; j > 0 && before(x, xs[j - 1]); --j) xs[j] = xs[j - 1];
      xs[j] = x;
    }
    return;
  }
  std::stable_sort(xs.begin(), xs.end());
}

// Interpolated at k × (n − 1) of a sorted, non-empty list.
inline double interpolate_sorted(std::span<const double> sorted, double k) {
  const double c = k * static_cast<double>(sorted.size() - 1);
  const double lo = std::floor(c);
  const double hi = std::ceil(c);
  const double a = sorted[static_cast<size_t>(lo)];
  return a + (sorted[static_cast<size_t>(hi)] - a) * (c - lo);
}

inline double median_sorted(std::span<const double> sorted) {
  const size_t n = sorted.size();
  if (n % 2 == 1) return sorted[n / 2];
  return (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5;
}

}  // namespace cmx::formula
