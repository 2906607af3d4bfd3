// Small pieces the statistics handlers share: the finiteness check of every
// numeric result, the in-order sums and deviations, and the one sort.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <tuple>
#include <utility>
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

// Order statistics of a list exactly as sort_numbers would place them, found
// by selection instead of a full sort. Selection sees -0 and 0 as equal, so
// a zero picked from a long list takes the sign the stable sort would have
// put at that index: the zeros keep their original order there.
class SortedPicker {
 public:
  explicit SortedPicker(std::vector<double>& xs) : xs_(xs) {
    if (xs_.size() <= 20) {
      sort_numbers(xs_);
      return;
    }
    for (double x : xs_) {
      if (x < 0) ++negatives_;
      if (x == 0) zero_signs_.push_back(std::signbit(x));
    }
  }

  size_t size() const { return xs_.size(); }

  // The element at `index` of the sorted list.
  double at(size_t index) {
    if (xs_.size() <= 20) return xs_[index];
    std::nth_element(xs_.begin(), xs_.begin() + static_cast<ptrdiff_t>(index), xs_.end());
    return signed_zero(xs_[index], index);
  }

  // The elements at `index` and `index + 1`.
  std::pair<double, double> adjacent(size_t index) {
    if (xs_.size() <= 20) return {xs_[index], xs_[index + 1]};
    const double low = at(index);
    // Everything after `index` is now no smaller than it.
    const double high = *std::min_element(xs_.begin() + static_cast<ptrdiff_t>(index) + 1,
                                          xs_.end());
    return {low, signed_zero(high, index + 1)};
  }

 private:
  double signed_zero(double x, size_t index) const {
    if (x != 0) return x;
    return zero_signs_[index - negatives_] ? -0.0 : 0.0;
  }

  std::vector<double>& xs_;
  size_t negatives_ = 0;
  std::vector<bool> zero_signs_;
};

// The Number at k × (n − 1), interpolated; `picker` non-empty and k in 0..1.
inline double interpolate_picked(SortedPicker& picker, double k) {
  const double c = k * static_cast<double>(picker.size() - 1);
  const double lo = std::floor(c);
  const double hi = std::ceil(c);
  const auto lo_index = static_cast<size_t>(lo);
  double a, b;
  if (hi > lo) {
    std::tie(a, b) = picker.adjacent(lo_index);
  } else {
    a = b = picker.at(lo_index);
  }
  return a + (b - a) * (c - lo);
}

inline double median_picked(SortedPicker& picker) {
  const size_t n = picker.size();
  if (n % 2 == 1) return picker.at(n / 2);
  auto [a, b] = picker.adjacent(n / 2 - 1);
  return (a + b) * 0.5;
}

inline double median_sorted(std::span<const double> sorted) {
  const size_t n = sorted.size();
  if (n % 2 == 1) return sorted[n / 2];
  return (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5;
}

}  // namespace cmx::formula
