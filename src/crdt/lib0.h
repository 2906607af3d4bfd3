// lib0 binary encoding, the byte layer under the Yjs update format:
// variable-length integers, strings, big-endian floats and 64-bit integers.
// Read next: any.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "crdt/error.h"

namespace cmx::crdt {

class Encoder {
 public:
  void write_u8(uint8_t value) {
    *reserve(1) = value;
    ++len_;
  }
  // Little-endian base-128 groups, high bit as continuation mark.
  void write_var_uint(uint64_t value) {
    uint8_t* out = reserve(10);
    size_t count = 0;
    while (value > 0x7f) {
      out[count++] = static_cast<uint8_t>(0x80 | (value & 0x7f));
      value >>= 7;
    }
    out[count++] = static_cast<uint8_t>(value);
    len_ += count;
  }
  // First byte: continuation, sign (0x40) and six bits; then seven bits a byte.
  void write_var_int(int64_t value);
  // Length-prefixed UTF-8 bytes; the text is written as given.
  void write_string(std::string_view text) {
    write_var_uint(text.size());
    write_bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }
  void write_var_bytes(std::span<const uint8_t> bytes);
  void write_bytes(std::span<const uint8_t> bytes) {
    const size_t count = bytes.size();
    if (count == 0) return;
    copy_bytes(reserve(count), bytes.data(), count);
    len_ += count;
  }
  void write_f32(float value);
  void write_f64(double value);
  void write_i64(int64_t value);

  std::span<const uint8_t> data() const { return {buf_.get(), len_}; }
  std::vector<uint8_t> take() {
    std::vector<uint8_t> out(buf_.get(), buf_.get() + len_);
    len_ = 0;
    return out;
  }
  size_t size() const { return len_; }

 private:
  // Room for `count` more bytes; writers fill it and then advance len_.
  uint8_t* reserve(size_t count) {
    if (cap_ - len_ < count) grow(count);
    return buf_.get() + len_;
  }
  void grow(size_t count);
  // Keys and root names are short: up to 16 bytes go as two fixed-size
  // (overlapping) moves instead of a call into the C library.
  static void copy_bytes(uint8_t* out, const uint8_t* src, size_t count) {
    if (count >= 8 && count <= 16) {
      std::memcpy(out, src, 8);
      std::memcpy(out + count - 8, src + count - 8, 8);
    } else if (count >= 4 && count < 8) {
      std::memcpy(out, src, 4);
      std::memcpy(out + count - 4, src + count - 4, 4);
    } else if (count < 4) {
      out[0] = src[0];
      out[count / 2] = src[count / 2];
      out[count - 1] = src[count - 1];
    } else {
      std::memcpy(out, src, count);
    }
  }

  // Uninitialised storage: growing never zero-fills what writers overwrite.
  std::unique_ptr<uint8_t[]> buf_;
  size_t cap_ = 0;
  size_t len_ = 0;
};

// Reads lib0 values from borrowed bytes. Every read checks the bytes left;
// variable-length integers must be canonical (no trailing zero group).
class Decoder {
 public:
  explicit Decoder(std::span<const uint8_t> input) : input_(input) {}

  Result<uint8_t, CrdtError> read_u8();
  Result<uint64_t, CrdtError> read_var_uint();
  Result<int64_t, CrdtError> read_var_int();
  // Fails with kInvalidUtf8 on bytes that are not UTF-8.
  Result<std::string, CrdtError> read_string();
  Result<std::span<const uint8_t>, CrdtError> read_bytes(size_t count);
  Result<std::span<const uint8_t>, CrdtError> read_var_bytes();
  Result<float, CrdtError> read_f32();
  Result<double, CrdtError> read_f64();
  Result<int64_t, CrdtError> read_i64();

  size_t position() const { return pos_; }
  size_t remaining() const { return input_.size() - pos_; }
  bool at_end() const { return pos_ == input_.size(); }

 private:
  Result<uint64_t, CrdtError> read_be(size_t width);

  std::span<const uint8_t> input_;
  size_t pos_ = 0;
};

// The failure for bytes that are not UTF-8, with the index and length of the
// first bad sequence; `text` must be ill-formed.
CrdtError utf8_error(std::string_view text);

}  // namespace cmx::crdt
