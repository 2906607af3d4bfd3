// lib0 encoder and decoder.
#include "crdt/lib0.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/unicode.h"

namespace cmx::crdt {

namespace {

constexpr size_t kMaxVarintBytes = 10;

CrdtError end_error(size_t wanted) { return CrdtError{CrdtErrorKind::kUnexpectedEnd, wanted}; }

}  // namespace

void Encoder::grow(size_t count) {
  const size_t cap = std::max<size_t>(cap_ * 2, std::max<size_t>(len_ + count, 64));
  std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
  if (len_ > 0) std::memcpy(bigger.get(), buf_.get(), len_);
  buf_ = std::move(bigger);
  cap_ = cap;
}

void Encoder::write_var_int(int64_t value) {
  const bool negative = value < 0;
  // The magnitude of INT64_MIN does not fit int64_t; unsigned negation does.
  uint64_t magnitude = negative ? (~static_cast<uint64_t>(value) + 1) : static_cast<uint64_t>(value);
  write_u8(static_cast<uint8_t>((magnitude > 0x3f ? 0x80 : 0) | (negative ? 0x40 : 0) | (magnitude & 0x3f)));
  magnitude >>= 6;
  while (magnitude > 0) {
    write_u8(static_cast<uint8_t>((magnitude > 0x7f ? 0x80 : 0) | (magnitude & 0x7f)));
    magnitude >>= 7;
  }
}

void Encoder::write_var_bytes(std::span<const uint8_t> bytes) {
  write_var_uint(bytes.size());
  write_bytes(bytes);
}

void Encoder::write_f32(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  uint8_t* out = reserve(4);
  for (int idx = 0; idx < 4; ++idx) out[idx] = static_cast<uint8_t>(bits >> (24 - 8 * idx));
  len_ += 4;
}

void Encoder::write_f64(double value) { write_i64(std::bit_cast<int64_t>(value)); }

void Encoder::write_i64(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  uint8_t* out = reserve(8);
  for (int idx = 0; idx < 8; ++idx) out[idx] = static_cast<uint8_t>(bits >> (56 - 8 * idx));
  len_ += 8;
}

Result<uint8_t, CrdtError> Decoder::read_u8() {
  if (pos_ >= input_.size()) return unexpected(end_error(1));
  return input_[pos_++];
}

Result<uint64_t, CrdtError> Decoder::read_var_uint() {
  uint64_t value = 0;
  for (size_t idx = 0; idx < kMaxVarintBytes; ++idx) {
    CMX_ASSIGN_OR_RETURN(uint8_t byte, read_u8());
    const uint64_t group = byte & 0x7f;
    // The tenth group holds bit 63 only.
    if (idx == kMaxVarintBytes - 1 && group > 1) return unexpected(CrdtError{CrdtErrorKind::kVarint});
    value |= group << (7 * idx);
    if ((byte & 0x80) == 0) {
      if (idx > 0 && byte == 0) return unexpected(CrdtError{CrdtErrorKind::kVarint});
      return value;
    }
  }
  return unexpected(CrdtError{CrdtErrorKind::kVarint});
}

Result<int64_t, CrdtError> Decoder::read_var_int() {
  CMX_ASSIGN_OR_RETURN(uint8_t first, read_u8());
  const bool negative = (first & 0x40) != 0;
  uint64_t magnitude = first & 0x3f;
  bool more = (first & 0x80) != 0;
  int shift = 6;
  for (size_t idx = 1; more; ++idx) {
    if (idx >= kMaxVarintBytes) return unexpected(CrdtError{CrdtErrorKind::kVarint});
    CMX_ASSIGN_OR_RETURN(uint8_t byte, read_u8());
    const uint64_t group = byte & 0x7f;
    // 6 + 7 * 8 bits fill nine bytes; the tenth may add bit 62 only.
    if (idx == kMaxVarintBytes - 1 && group > 1) return unexpected(CrdtError{CrdtErrorKind::kVarint});
    magnitude |= group << shift;
    shift += 7;
    more = (byte & 0x80) != 0;
    if (!more && byte == 0) return unexpected(CrdtError{CrdtErrorKind::kVarint});
  }
  if (negative && magnitude == 0) return unexpected(CrdtError{CrdtErrorKind::kVarint});
  return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

Result<std::span<const uint8_t>, CrdtError> Decoder::read_bytes(size_t count) {
  if (count > remaining()) return unexpected(end_error(count));
  auto out = input_.subspan(pos_, count);
  pos_ += count;
  return out;
}

Result<std::span<const uint8_t>, CrdtError> Decoder::read_var_bytes() {
  CMX_ASSIGN_OR_RETURN(uint64_t length, read_var_uint());
  if (length > remaining()) return unexpected(end_error(length));
  return read_bytes(static_cast<size_t>(length));
}

Result<std::string, CrdtError> Decoder::read_string() {
  CMX_ASSIGN_OR_RETURN(auto bytes, read_var_bytes());
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!unicode::is_valid_utf8(text)) return unexpected(utf8_error(text));
  return std::string(text);
}

Result<uint64_t, CrdtError> Decoder::read_be(size_t width) {
  CMX_ASSIGN_OR_RETURN(auto bytes, read_bytes(width));
  uint64_t value = 0;
  for (uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

Result<float, CrdtError> Decoder::read_f32() {
  CMX_ASSIGN_OR_RETURN(uint64_t bits, read_be(4));
  return std::bit_cast<float>(static_cast<uint32_t>(bits));
}

Result<double, CrdtError> Decoder::read_f64() {
  CMX_ASSIGN_OR_RETURN(uint64_t bits, read_be(8));
  return std::bit_cast<double>(bits);
}

Result<int64_t, CrdtError> Decoder::read_i64() {
  CMX_ASSIGN_OR_RETURN(uint64_t bits, read_be(8));
  return static_cast<int64_t>(bits);
}

CrdtError utf8_error(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const size_t size = text.size();
  auto in = [](uint8_t byte, uint8_t lo, uint8_t hi) { return byte >= lo && byte <= hi; };
  size_t idx = 0;
  while (idx < size) {
    const uint8_t lead = bytes[idx];
    size_t width = 0;
    uint8_t lo = 0x80, hi = 0xbf;
    if (lead < 0x80) width = 1;
    else if (in(lead, 0xc2, 0xdf)) width = 2;
    else if (in(lead, 0xe0, 0xef)) {
      width = 3;
      if (lead == 0xe0) lo = 0xa0;
      if (lead == 0xed) hi = 0x9f;
    } else if (in(lead, 0xf0, 0xf4)) {
      width = 4;
      if (lead == 0xf0) lo = 0x90;
      if (lead == 0xf4) hi = 0x8f;
    } else {
      return CrdtError{CrdtErrorKind::kInvalidUtf8, idx, 1};
    }
    for (size_t off = 1; off < width; ++off) {
      if (idx + off >= size) return CrdtError{CrdtErrorKind::kInvalidUtf8, idx, 0};
      const uint8_t byte = bytes[idx + off];
      const bool ok = off == 1 ? in(byte, lo, hi) : in(byte, 0x80, 0xbf);
      if (!ok) return CrdtError{CrdtErrorKind::kInvalidUtf8, idx, off};
    }
    idx += width;
  }
  return CrdtError{CrdtErrorKind::kInvalidUtf8, size, 0};
}

}  // namespace cmx::crdt
