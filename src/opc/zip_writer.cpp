#include "opc/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

namespace cmx::opc {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionMadeBy = 0x0314;  // UNIX host, version 2.0
constexpr uint16_t kUtf8NameFlag = 0x0800;
// Bits 1 and 2 describe the deflate level used; a raw copy keeps them.
constexpr uint16_t kDeflateOptionFlags = 0x0006;
constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
constexpr size_t kMaxNameLength = 0xFFFF;

void put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}
void put32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}
void patch32(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The fields from "version needed" to the extra-field length, which the
// local and the central header share.
void put_shared_fields(std::string& out, const ZipEntry& entry) {
  put16(out, kVersionNeeded);
  put16(out, entry.flags);
  put16(out, entry.method);
  put16(out, entry.dos_time);
  put16(out, entry.dos_date);
  put32(out, entry.crc32);
  put32(out, static_cast<uint32_t>(entry.compressed_size));
  put32(out, static_cast<uint32_t>(entry.uncompressed_size));
  put16(out, static_cast<uint16_t>(entry.name.size()));
  put16(out, 0);  // extra field
}

uint16_t name_flags(std::string_view name) {
  const bool wide = std::any_of(name.begin(), name.end(),
                                [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
  return wide ? kUtf8NameFlag : 0;
}

uint32_t crc_of(std::string_view bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    const uInt step = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
    crc = crc32(crc, data, step);
    data += step;
    left -= step;
  }
  return static_cast<uint32_t>(crc);
}

std::string zlib_message(const z_stream* stream, int code) {
  if (stream != nullptr && stream->msg != nullptr) return stream->msg;
  return "zlib error " + std::to_string(code);
}

}  // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::ZipWriter(ZipWriter&& other) noexcept
    : out_(std::move(other.out_)), central_(std::move(other.central_)), stream_(other.stream_) {
  other.stream_ = nullptr;
}

ZipWriter::~ZipWriter() {
  if (stream_ != nullptr) {
    auto* stream = static_cast<z_stream*>(stream_);
    deflateEnd(stream);
    delete stream;
  }
}

Result<void, std::string> ZipWriter::append_entry(ZipEntry entry, std::string_view data) {
  if (entry.name.size() > kMaxNameLength) return unexpected(std::string("entry name too long"));
  if (entry.compressed_size > kMax32 || entry.uncompressed_size > kMax32 || out_.size() > kMax32) {
    return unexpected(std::string("archive needs zip64, which is not written"));
  }
  entry.local_header_offset = out_.size();
  put32(out_, kLocalSignature);
  put_shared_fields(out_, entry);
  out_ += entry.name;
  out_ += data;
  central_.push_back(std::move(entry));
  return {};
}

Result<void, std::string> ZipWriter::add_deflated(std::string_view name, std::string_view bytes) {
  if (stream_ == nullptr) {
    auto* stream = new z_stream{};
    const int code = deflateInit2(stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) {
      std::string message = zlib_message(stream, code);
      delete stream;
      return unexpected(std::move(message));
    }
    stream_ = stream;
  } else {
    deflateReset(static_cast<z_stream*>(stream_));
  }
  auto* stream = static_cast<z_stream*>(stream_);
  if (name.size() > kMaxNameLength) return unexpected(std::string("entry name too long"));

  // The local header goes first with room for the sizes, which are patched
  // once the deflated length is known, so the data is never copied twice.
  const size_t header_at = out_.size();
  ZipEntry record;
  record.name = std::string(name);
  record.flags = name_flags(name);
  record.method = 8;
  record.dos_time = kFixedDosTime;
  record.dos_date = kFixedDosDate;
  record.crc32 = crc_of(bytes);
  record.uncompressed_size = bytes.size();
  if (bytes.size() > kMax32 || header_at > kMax32) {
    return unexpected(std::string("archive needs zip64, which is not written"));
  }
  CMX_TRY(append_entry(record, {}));
  const size_t data_at = out_.size();
  const uLong bound = deflateBound(stream, static_cast<uLong>(bytes.size()));
  out_.resize(data_at + bound);
  stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream->next_out = reinterpret_cast<Bytef*>(out_.data() + data_at);
  size_t in_left = bytes.size();
  size_t out_left = bound;
  int code = Z_OK;
  while (code != Z_STREAM_END) {
    const uInt in_step = static_cast<uInt>(std::min<size_t>(in_left, 1u << 30));
    const uInt out_step = static_cast<uInt>(std::min<size_t>(out_left, 1u << 30));
    stream->avail_in = in_step;
    stream->avail_out = out_step;
    code = deflate(stream, in_step == in_left ? Z_FINISH : Z_NO_FLUSH);
    if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) {
      out_.resize(header_at);
      central_.pop_back();
      return unexpected(zlib_message(stream, code));
    }
    in_left -= in_step - stream->avail_in;
    out_left -= out_step - stream->avail_out;
  }
  const size_t compressed = bound - out_left;
  out_.resize(data_at + compressed);
  patch32(out_, header_at + 18, static_cast<uint32_t>(compressed));
  central_.back().compressed_size = compressed;
  return {};
}

Result<void, std::string> ZipWriter::copy_raw(const ZipArchive& source, size_t index,
                                              std::string_view name) {
  const ZipEntry& entry = source.entry(index);
  Result<std::span<const uint8_t>, ZipError> data = source.raw_data(index);
  if (!data) return unexpected(zip_error_message(data.error()));
  ZipEntry record;
  record.name = std::string(name);
  // Sizes go into the local header, so a data descriptor is never announced.
  record.flags = static_cast<uint16_t>(name_flags(name) | (entry.flags & kDeflateOptionFlags));
  record.method = entry.method;
  record.dos_time = entry.dos_time;
  record.dos_date = entry.dos_date;
  record.crc32 = entry.crc32;
  record.compressed_size = entry.compressed_size;
  record.uncompressed_size = entry.uncompressed_size;
  return append_entry(std::move(record), std::string_view(reinterpret_cast<const char*>(data->data()),
                                                          data->size()));
}

Result<std::string, std::string> ZipWriter::finish() {
  if (central_.size() > 0xFFFF) return unexpected(std::string("too many entries without zip64"));
  const uint64_t directory_at = out_.size();
  for (const ZipEntry& entry : central_) {
    put32(out_, kCentralSignature);
    put16(out_, kVersionMadeBy);
    put_shared_fields(out_, entry);
    put16(out_, 0);  // comment
    put16(out_, 0);  // disk number start
    put16(out_, 0);  // internal attributes
    put32(out_, kFixedExternalAttributes);
    put32(out_, static_cast<uint32_t>(entry.local_header_offset));
    out_ += entry.name;
  }
  const uint64_t directory_size = out_.size() - directory_at;
  if (directory_at > kMax32 || directory_size > kMax32) {
    return unexpected(std::string("archive needs zip64, which is not written"));
  }
  put32(out_, kEndSignature);
  put16(out_, 0);
  put16(out_, 0);
  put16(out_, static_cast<uint16_t>(central_.size()));
  put16(out_, static_cast<uint16_t>(central_.size()));
  put32(out_, static_cast<uint32_t>(directory_size));
  put32(out_, static_cast<uint32_t>(directory_at));
  put16(out_, 0);
  central_.clear();
  return std::move(out_);
}

}  // namespace cmx::opc
