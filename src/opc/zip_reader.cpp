#include "opc/zip_reader.h"

#include <libdeflate.h>
#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::opc {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr size_t kMinChunk = 64 * 1024;

uint16_t u16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t u32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint64_t u64(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint64_t>(u32(b, at)) | (static_cast<uint64_t>(u32(b, at + 4)) << 32);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
bool fits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

ZipError fail(ZipErrorKind kind, uint64_t number = 0) { return ZipError{kind, number}; }

constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

struct DirectoryLocation {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t end = 0;  // where the directory must end: the first end record
};

Result<DirectoryLocation, ZipError> locate_directory(std::span<const uint8_t> bytes) {
  if (bytes.size() < kEndSize) return unexpected(fail(ZipErrorKind::NoEndRecord));
  const size_t last = bytes.size() - kEndSize;
  const size_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
  size_t pos = last + 1;
  bool found = false;
  while (pos > first) {
    --pos;
    if (bytes[pos] == 0x50 && u32(bytes, pos) == kEndSignature &&
        u16(bytes, pos + 20) <= bytes.size() - pos - kEndSize) {
      found = true;
      break;
    }
  }
  if (!found) return unexpected(fail(ZipErrorKind::NoEndRecord));
  const bool has_zip64 =
      pos >= kZip64LocatorSize && u32(bytes, pos - kZip64LocatorSize) == kZip64LocatorSignature;
  // With ZIP64 the disk fields may hold 0xFFFF; the ZIP64 record decides.
  if (!has_zip64 && (u16(bytes, pos + 4) != 0 || u16(bytes, pos + 6) != 0)) {
    return unexpected(fail(ZipErrorKind::MultiDisk));
  }
  DirectoryLocation loc;
  loc.entries = u16(bytes, pos + 10);
  loc.size = u32(bytes, pos + 12);
  loc.offset = u32(bytes, pos + 16);
  loc.end = pos;

  // A ZIP64 locator right before the end record carries the real values.
  if (has_zip64) {
    const size_t loc_at = pos - kZip64LocatorSize;
    if (u32(bytes, loc_at + 4) != 0 || u32(bytes, loc_at + 16) > 1) {
      return unexpected(fail(ZipErrorKind::MultiDisk));
    }
    const uint64_t record = u64(bytes, loc_at + 8);
    if (!fits(record, kZip64EndSize, loc_at) || u32(bytes, record) != kZip64EndSignature) {
      return unexpected(fail(ZipErrorKind::BadZip64Record));
    }
    if (u32(bytes, record + 16) != 0 || u32(bytes, record + 20) != 0) {
      return unexpected(fail(ZipErrorKind::MultiDisk));
    }
    loc.entries = u64(bytes, record + 32);
    loc.size = u64(bytes, record + 40);
    loc.offset = u64(bytes, record + 48);
    loc.end = record;
  } else if (loc.size == 0xFFFFFFFF || loc.offset == 0xFFFFFFFF) {
    return unexpected(fail(ZipErrorKind::BadZip64Record));
  }
  if (!fits(loc.offset, loc.size, loc.end)) {
    return unexpected(fail(ZipErrorKind::DirectoryOutOfRange));
  }
  if (loc.entries > loc.size / kCentralSize) {
    return unexpected(fail(ZipErrorKind::TooManyEntries, loc.entries));
  }
  return loc;
}

// Replaces the 32-bit fields that say "see the ZIP64 extra field".
bool apply_zip64_extra(std::span<const uint8_t> extra, ZipEntry& entry, bool need_usize,
                       bool need_csize, bool need_offset) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const uint16_t id = u16(extra, at);
    const uint16_t len = u16(extra, at + 2);
    if (at + 4 + len > extra.size()) break;
    if (id == kZip64ExtraId) {
      std::span<const uint8_t> field = extra.subspan(at + 4, len);
      size_t f = 0;
      auto take = [&](uint64_t& target) {
        if (f + 8 > field.size()) return false;
        target = u64(field, f);
        f += 8;
        return true;
      };
      if (need_usize && !take(entry.uncompressed_size)) return false;
      if (need_csize && !take(entry.compressed_size)) return false;
      if (need_offset && !take(entry.local_header_offset)) return false;
      return true;
    }
    at += 4 + len;
  }
  return !need_usize && !need_csize && !need_offset;
}

}  // namespace

std::string zip_error_message(const ZipError& error) {
  switch (error.kind) {
    case ZipErrorKind::NoEndRecord:
      return "no end of central directory record";
    case ZipErrorKind::MultiDisk:
      return "multi-disk archives are not supported";
    case ZipErrorKind::BadZip64Record:
      return "damaged zip64 end of central directory record";
    case ZipErrorKind::DirectoryOutOfRange:
      return "central directory lies outside the archive";
    case ZipErrorKind::TooManyEntries:
      return "central directory cannot hold " + format_u64(error.number) + " entries";
    case ZipErrorKind::BadDirectoryEntry:
      return "damaged central directory entry " + format_u64(error.number);
    case ZipErrorKind::BadLocalHeader:
      return "damaged local header of entry " + format_u64(error.number);
    case ZipErrorKind::EntryOutOfRange:
      return "data of entry " + format_u64(error.number) + " lies outside the archive";
    case ZipErrorKind::Encrypted:
      return "encrypted entries are not supported";
    case ZipErrorKind::UnsupportedMethod:
      return "unsupported compression method " + format_u64(error.number);
    case ZipErrorKind::StoredSizeMismatch:
      return "stored entry " + format_u64(error.number) + " has differing sizes";
    case ZipErrorKind::CorruptData:
      return "corrupt deflate stream";
    case ZipErrorKind::SizeMismatch:
      return "content length differs from the declared size";
    case ZipErrorKind::CrcMismatch:
      return "invalid checksum";
    case ZipErrorKind::OutOfMemory:
      return "out of memory";
  }
  return "unknown zip error";
}

std::string decode_cp437(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      unicode::append_utf8(out, kCp437High[b - 0x80]);
    }
  }
  return out;
}

Result<ZipArchive, ZipError> ZipArchive::open(std::span<const uint8_t> bytes) {
  CMX_ASSIGN_OR_RETURN(const DirectoryLocation loc, locate_directory(bytes));
  ZipArchive archive;
  archive.bytes_ = bytes;
  archive.entries_.reserve(loc.entries);
  const uint64_t dir_end = loc.offset + loc.size;
  uint64_t pos = loc.offset;
  for (uint64_t index = 0; index < loc.entries; ++index) {
    if (!fits(pos, kCentralSize, dir_end) || u32(bytes, pos) != kCentralSignature) {
      return unexpected(fail(ZipErrorKind::BadDirectoryEntry, index));
    }
    const size_t at = static_cast<size_t>(pos);
    const uint16_t name_len = u16(bytes, at + 28);
    const uint16_t extra_len = u16(bytes, at + 30);
    const uint16_t comment_len = u16(bytes, at + 32);
    const uint64_t total = kCentralSize + uint64_t{name_len} + extra_len + comment_len;
    if (!fits(pos, total, dir_end)) return unexpected(fail(ZipErrorKind::BadDirectoryEntry, index));
    if (u16(bytes, at + 34) != 0 && u16(bytes, at + 34) != 0xFFFF) {
      return unexpected(fail(ZipErrorKind::MultiDisk));
    }
    ZipEntry entry;
    entry.version_made_by = u16(bytes, at + 4);
    entry.flags = u16(bytes, at + 8);
    entry.method = u16(bytes, at + 10);
    entry.dos_time = u16(bytes, at + 12);
    entry.dos_date = u16(bytes, at + 14);
    entry.crc32 = u32(bytes, at + 16);
    entry.compressed_size = u32(bytes, at + 20);
    entry.uncompressed_size = u32(bytes, at + 24);
    entry.external_attributes = u32(bytes, at + 38);
    entry.local_header_offset = u32(bytes, at + 42);
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data() + at + kCentralSize),
                               name_len);
    entry.raw_name.assign(raw);
    entry.name = (entry.flags & kUtf8NameFlag) ? unicode::to_valid_utf8(raw) : decode_cp437(raw);
    const bool need_usize = entry.uncompressed_size == 0xFFFFFFFF;
    const bool need_csize = entry.compressed_size == 0xFFFFFFFF;
    const bool need_offset = entry.local_header_offset == 0xFFFFFFFF;
    if (need_usize || need_csize || need_offset) {
      if (!apply_zip64_extra(bytes.subspan(at + kCentralSize + name_len, extra_len), entry,
                             need_usize, need_csize, need_offset)) {
        return unexpected(fail(ZipErrorKind::BadDirectoryEntry, index));
      }
    }
    archive.entries_.push_back(std::move(entry));
    pos += total;
  }
  return archive;
}

Result<std::span<const uint8_t>, ZipError> ZipArchive::raw_data(size_t index) const {
  const ZipEntry& entry = entries_[index];
  const uint64_t at = entry.local_header_offset;
  if (!fits(at, kLocalSize, bytes_.size()) || u32(bytes_, at) != kLocalSignature) {
    return unexpected(fail(ZipErrorKind::BadLocalHeader, index));
  }
  const uint64_t data_at =
      at + kLocalSize + u16(bytes_, at + 26) + uint64_t{u16(bytes_, at + 28)};
  if (!fits(data_at, entry.compressed_size, bytes_.size())) {
    return unexpected(fail(ZipErrorKind::EntryOutOfRange, index));
  }
  return bytes_.subspan(static_cast<size_t>(data_at), static_cast<size_t>(entry.compressed_size));
}

Result<ZipEntryReader, ZipError> ZipArchive::open_entry(size_t index) const {
  const ZipEntry& entry = entries_[index];
  if (entry.encrypted()) return unexpected(fail(ZipErrorKind::Encrypted, index));
  if (entry.method != 0 && entry.method != 8) {
    return unexpected(fail(ZipErrorKind::UnsupportedMethod, entry.method));
  }
  if (entry.method == 0 && entry.compressed_size != entry.uncompressed_size) {
    return unexpected(fail(ZipErrorKind::StoredSizeMismatch, index));
  }
  CMX_ASSIGN_OR_RETURN(std::span<const uint8_t> data, raw_data(index));
  return ZipEntryReader(entry, index, data);
}

ZipEntryReader::ZipEntryReader(const ZipEntry& entry, size_t index, std::span<const uint8_t> data)
    : entry_(&entry), index_(index), data_(data) {}

ZipEntryReader::ZipEntryReader(ZipEntryReader&& other) noexcept
    : entry_(other.entry_),
      index_(other.index_),
      data_(other.data_),
      stream_(other.stream_),
      produced_(other.produced_),
      crc_(other.crc_),
      consumed_(other.consumed_),
      finished_(other.finished_) {
  other.stream_ = nullptr;
}

ZipEntryReader::~ZipEntryReader() {
  if (stream_ != nullptr) {
    auto* z = static_cast<z_stream*>(stream_);
    inflateEnd(z);
    delete z;
  }
}

Result<void, ZipError> ZipEntryReader::finish() {
  finished_ = true;
  if (produced_ != entry_->uncompressed_size) return unexpected(fail(ZipErrorKind::SizeMismatch));
  if (crc_ != entry_->crc32) return unexpected(fail(ZipErrorKind::CrcMismatch));
  return {};
}

namespace {

// One decompressor per thread, kept: allocating its tables per entry costs
// more than inflating a small entry.
libdeflate_decompressor* decompressor() {
  struct Owner {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Owner() { libdeflate_free_decompressor(d); }
  };
  thread_local Owner owner;
  return owner.d;
}

// Maps the pages of a large fresh buffer in one call instead of one fault
// per page as the buffer is first written, which costs a part of tens of
// megabytes several milliseconds. A kernel without the call (or a failure)
// leaves them to fault as before.
void prefault(char* data, size_t size) {
  constexpr uintptr_t kPage = 4096;
  if (size < (size_t{4} << 20)) return;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

// Cuts the buffer to what was produced and gives back a large unused
// capacity, so that thousands of small entries do not each keep a chunk.
void fit(std::string& out, size_t filled) {
  out.resize(filled);
  if (out.capacity() - out.size() > out.size() / 8 + 64) out.shrink_to_fit();
}

}  // namespace

Result<void, ZipError> ZipEntryReader::read_to_end(std::string& out, uint64_t max_bytes) {
  if (finished_) return {};
  const size_t start = out.size();
  auto crc_of = [&](size_t from, size_t len) {
    crc_ = libdeflate_crc32(crc_, out.data() + from, len);
  };
  try {
    if (entry_->method == 0) {
      const size_t left = data_.size() - consumed_;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, max_bytes));
      out.append(reinterpret_cast<const char*>(data_.data() + consumed_), n);
      consumed_ += n;
      produced_ += n;
      crc_of(start, n);
      if (consumed_ == data_.size()) return finish();
      return {};
    }

    // An entry whose declared size fits the cap inflates in one call into a
    // buffer of that size. Any other outcome (a wrong size, bad data) starts
    // again through the streaming path below, whose results and errors are
    // the reference.
    if (stream_ == nullptr && produced_ == 0 && entry_->uncompressed_size <= max_bytes &&
        entry_->uncompressed_size <= data_.size() * kMaxDeflateRatio + 64) {
      if (libdeflate_decompressor* d = decompressor()) {
        const auto declared = static_cast<size_t>(entry_->uncompressed_size);
        out.reserve(start + declared);
        prefault(out.data() + start, declared);
        out.resize(start + declared);
        size_t got = 0;
        const libdeflate_result rc = libdeflate_deflate_decompress_ex(
            d, data_.data(), data_.size(), out.data() + start, declared, nullptr, &got);
        if (rc == LIBDEFLATE_SUCCESS && got == declared) {
          crc_of(start, declared);
          produced_ = declared;
          return finish();
        }
        out.resize(start);
      }
    }

    if (stream_ == nullptr) {
      auto* z = new z_stream{};
      if (inflateInit2(z, -MAX_WBITS) != Z_OK) {
        delete z;
        return unexpected(fail(ZipErrorKind::OutOfMemory));
      }
      stream_ = z;
      z->next_in = const_cast<Bytef*>(data_.data());
      z->avail_in = 0;
    }
    auto* z = static_cast<z_stream*>(stream_);
    // First guess at the size: the declared size, bounded by the cap and by
    // what the compressed bytes could possibly expand to.
    const uint64_t plausible = data_.size() * kMaxDeflateRatio + 64;
    uint64_t want = std::min({max_bytes, entry_->uncompressed_size, plausible});
    size_t filled = start;
    uint64_t budget = max_bytes;
    while (budget > 0) {
      if (out.size() == filled) {
        // The declared size plus one byte lets the stream end inside the
        // first buffer; only a wrong declaration grows by chunks.
        const uint64_t first = want > 0 ? want + 1 : kMinChunk;
        const uint64_t grow =
            std::min<uint64_t>(budget, std::max<uint64_t>(first, (filled - start) / 2));
        out.resize(filled + static_cast<size_t>(grow));
        want = 0;
      }
      const size_t in_left = data_.size() - static_cast<size_t>(z->next_in - data_.data());
      if (z->avail_in == 0 && in_left > 0) {
        z->avail_in = static_cast<uInt>(std::min<size_t>(in_left, 1u << 30));
      }
      const size_t space = std::min<uint64_t>(out.size() - filled, budget);
      const auto avail = static_cast<uInt>(std::min<size_t>(space, 1u << 30));
      z->next_out = reinterpret_cast<Bytef*>(out.data() + filled);
      z->avail_out = avail;
      const int rc = inflate(z, Z_NO_FLUSH);
      const size_t got = avail - z->avail_out;
      crc_of(filled, got);
      filled += got;
      produced_ += got;
      budget -= got;
      if (rc == Z_STREAM_END) {
        fit(out, filled);
        return finish();
      }
      if (rc == Z_MEM_ERROR) {
        fit(out, filled);
        return unexpected(fail(ZipErrorKind::OutOfMemory));
      }
      if (rc != Z_OK && !(rc == Z_BUF_ERROR && got > 0)) {
        fit(out, filled);
        return unexpected(fail(ZipErrorKind::CorruptData));
      }
      if (got == 0 && z->avail_in == 0) {
        fit(out, filled);
        return unexpected(fail(ZipErrorKind::CorruptData));
      }
    }
    fit(out, filled);
    return {};
  } catch (const std::bad_alloc&) {
    return unexpected(fail(ZipErrorKind::OutOfMemory));
  } catch (const std::length_error&) {
    return unexpected(fail(ZipErrorKind::OutOfMemory));
  }
}

}  // namespace cmx::opc
