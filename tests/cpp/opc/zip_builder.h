// Builds ZIP archives for the tests: stored or deflated entries, chosen
// flags, methods and CRCs, ZIP64 records, and long runs of zeros that are
// deflated piecewise so that huge entries stay small archives.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cmx::opc::testing {

struct TestEntry {
  std::string name;               // raw name bytes
  std::string content;
  uint64_t zeros = 0;             // appended zero bytes, deflated in pieces
  uint16_t method = 8;
  uint16_t flags = 0;
  std::optional<uint32_t> crc;    // overrides the real CRC-32
  bool zip64 = false;             // sizes and offset in a ZIP64 extra field
  std::optional<uint32_t> listed_compressed_size;  // central directory only
  std::optional<uint32_t> listed_size;  // overrides the uncompressed size, both headers
};

struct ZipOptions {
  bool zip64_end = false;         // write ZIP64 end record and locator
  uint16_t end_disk_fields = 0;   // the disk numbers of the classic end record
  std::string comment;
};

inline void put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
inline void put64(std::string& out, uint64_t v) {
  put32(out, static_cast<uint32_t>(v));
  put32(out, static_cast<uint32_t>(v >> 32));
}

struct Compressed {
  std::string data;
  uint32_t crc = 0;
  uint64_t size = 0;
};

inline Compressed compress_entry(const TestEntry& e) {
  Compressed c;
  c.size = e.content.size() + e.zeros;
  uLong crc = crc32(0, nullptr, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(e.content.data()), static_cast<uInt>(e.content.size()));
  const std::string zero_block(1 << 20, '\0');
  for (uint64_t left = e.zeros; left > 0;) {
    const uInt n = static_cast<uInt>(std::min<uint64_t>(left, zero_block.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zero_block.data()), n);
    left -= n;
  }
  c.crc = static_cast<uint32_t>(crc);
  if (e.method != 8) {
    c.data = e.content + std::string(e.zeros, '\0');
    return c;
  }
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out;
  char buf[1 << 16];
  auto pump = [&](const char* data, size_t size, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    do {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof(buf);
      deflate(&z, flush);
      out.append(buf, sizeof(buf) - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
  };
  pump(e.content.data(), e.content.size(), Z_NO_FLUSH);
  for (uint64_t left = e.zeros; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, zero_block.size()));
    pump(zero_block.data(), n, Z_NO_FLUSH);
    left -= n;
  }
  int rc;
  do {
    z.next_in = nullptr;
    z.avail_in = 0;
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof(buf);
    rc = deflate(&z, Z_FINISH);
    out.append(buf, sizeof(buf) - z.avail_out);
  } while (rc != Z_STREAM_END);
  deflateEnd(&z);
  c.data = std::move(out);
  return c;
}

inline std::string build_zip(const std::vector<TestEntry>& entries, const ZipOptions& options = {}) {
  std::string out;
  std::string central;
  for (const TestEntry& e : entries) {
    const Compressed c = compress_entry(e);
    const uint32_t crc = e.crc.value_or(c.crc);
    const uint64_t offset = out.size();
    std::string extra;
    if (e.zip64) {
      put16(extra, 0x0001);
      put16(extra, 24);
      put64(extra, c.size);
      put64(extra, c.data.size());
      put64(extra, offset);
    }
    const uint32_t usize = e.zip64 ? 0xFFFFFFFF : e.listed_size.value_or(static_cast<uint32_t>(c.size));
    const uint32_t csize = e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(c.data.size());
    put32(out, 0x04034b50);
    put16(out, e.zip64 ? 45 : 20);
    put16(out, e.flags);
    put16(out, e.method);
    put16(out, 0);
    put16(out, 0x21);
    put32(out, crc);
    put32(out, csize);
    put32(out, usize);
    put16(out, static_cast<uint32_t>(e.name.size()));
    put16(out, static_cast<uint32_t>(extra.size()));
    out += e.name;
    out += extra;
    out += c.data;

    put32(central, 0x02014b50);
    put16(central, 0x031E);
    put16(central, e.zip64 ? 45 : 20);
    put16(central, e.flags);
    put16(central, e.method);
    put16(central, 0);
    put16(central, 0x21);
    put32(central, crc);
    put32(central, e.listed_compressed_size.value_or(csize));
    put32(central, usize);
    put16(central, static_cast<uint32_t>(e.name.size()));
    put16(central, static_cast<uint32_t>(extra.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(offset));
    central += e.name;
    central += extra;
  }
  const uint64_t dir_offset = out.size();
  out += central;
  if (options.zip64_end) {
    const uint64_t record = out.size();
    put32(out, 0x06064b50);
    put64(out, 44);
    put16(out, 45);
    put16(out, 45);
    put32(out, 0);
    put32(out, 0);
    put64(out, entries.size());
    put64(out, entries.size());
    put64(out, central.size());
    put64(out, dir_offset);
    put32(out, 0x07064b50);
    put32(out, 0);
    put64(out, record);
    put32(out, 1);
  }
  put32(out, 0x06054b50);
  put16(out, options.end_disk_fields);
  put16(out, options.end_disk_fields);
  const uint32_t count = options.zip64_end ? 0xFFFF : static_cast<uint32_t>(entries.size());
  put16(out, count);
  put16(out, count);
  put32(out, options.zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(central.size()));
  put32(out, options.zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(dir_offset));
  put16(out, static_cast<uint32_t>(options.comment.size()));
  out += options.comment;
  return out;
}

}  // namespace cmx::opc::testing
