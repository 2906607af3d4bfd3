// Shared helpers of the record tests: reading a whole text and writing the
// record again, and random texts and numbers for the round-trip properties.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "json/json.h"

namespace cmx::json::testing {

// The record read from `text` written again, or the reader's error text.
template <typename Read, typename Write>
std::string reread(std::string_view text, Read&& read, Write&& write) {
  auto result = read_json_text(text, read);
  if (!result.has_value()) return json_error_text(result.error());
  CompactWriter writer;
  write(writer, *result);
  return writer.take();
}

// Form 1 and form 2 of one record: the text, and whether the counter agrees.
template <typename Write>
std::string written_and_counted(Write&& write, bool& counts_match) {
  CompactWriter writer;
  write(writer);
  ByteCounter counter;
  write(counter);
  counts_match = counter.total() == writer.text().size();
  return writer.take();
}

class RandomRecords {
 public:
  explicit RandomRecords(uint32_t seed) : rng_(seed) {}

  uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
  bool coin() { return below(2) == 1; }
  uint64_t u64() { return std::uniform_int_distribution<uint64_t>()(rng_); }
  int64_t i64() {
    switch (below(4)) {
      case 0: return static_cast<int64_t>(u64());
      case 1: return -static_cast<int64_t>(below(1000));
      case 2: return below(2) ? INT64_MIN : INT64_MAX;
      default: return static_cast<int64_t>(below(100000));
    }
  }

  // Texts with quotes, backslashes, control bytes and multi-byte characters.
  std::string text(size_t max_length = 12) {
    static constexpr std::string_view kPieces[] = {"a", "Z", "0", " ", "\"", "\\", "/", "\t", "\n",
                                                   "\x01", "\x1f", "\x7f", "\xc3\xa9", "\xe2\x82\xac",
                                                   "\xf0\x9f\x98\x80", "#", ":", "{", "]"};
    std::string out;
    size_t length = below(static_cast<uint32_t>(max_length) + 1);
    for (size_t i = 0; i < length; ++i) out += kPieces[below(std::size(kPieces))];
    return out;
  }

  // Finite doubles of every shape: integers, fractions, tiny, huge, -0.0.
  double finite() {
    switch (below(6)) {
      case 0: return static_cast<double>(static_cast<int>(below(200)) - 100);
      case 1: return -0.0;
      case 2: return std::ldexp(static_cast<double>(below(1u << 30)), static_cast<int>(below(200)) - 100);
      case 3: {
        double value;
        do {
          uint64_t bits = u64();
          std::memcpy(&value, &bits, sizeof value);
        } while (!std::isfinite(value));
        return value;
      }
      case 4: return static_cast<double>(below(1000)) / 8.0;
      default: return std::uniform_real_distribution<double>(-1.0, 1.0)(rng_);
    }
  }

 private:
  std::mt19937 rng_;
};

inline RangeTarget random_target(RandomRecords& rnd) {
  RangeTarget target;
  target.sheet_id = rnd.text();
  if (rnd.coin()) {
    target.range = RangeAddressA1{rnd.text()};
  } else {
    auto corner = [&] { return CellPosition{static_cast<uint32_t>(rnd.u64()), rnd.below(20000)}; };
    target.range = RangeAddressRowCol{corner(), corner()};
  }
  return target;
}

inline model::CellValue random_value(RandomRecords& rnd) {
  switch (rnd.below(5)) {
    case 0: return model::CellValue();
    case 1: return model::CellValue::number(rnd.finite());
    case 2: return model::CellValue::text(rnd.text());
    case 3: return model::CellValue::boolean(rnd.coin());
    default: return model::CellValue::error(static_cast<model::CellErrorCode>(rnd.below(9)));
  }
}

}  // namespace cmx::json::testing
