// ZIP archive reader over bytes held in memory: the central directory in its
// own order, stored and deflated entries (zlib raw inflate), CRC-32 checks,
// ZIP64 records. Each entry keeps what a writer needs to copy it raw.
// The package rules built on it are in package_archive.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace cmx::opc {

// Deflate cannot expand input by more than about 1032 to 1, so a declared
// size beyond that is a lie and must not drive an allocation.
inline constexpr uint64_t kMaxDeflateRatio = 1032;

// Why the reader refuses an archive or an entry.
enum class ZipErrorKind : uint8_t {
  NoEndRecord,            // no end-of-central-directory record
  MultiDisk,              // the archive spans several disks
  BadZip64Record,         // a ZIP64 locator or record is missing or damaged
  DirectoryOutOfRange,    // the central directory lies outside the bytes
  TooManyEntries,         // more entries claimed than the directory can hold
  BadDirectoryEntry,      // a central-directory header is damaged
  BadLocalHeader,         // the local header of an entry is damaged
  EntryOutOfRange,        // an entry's compressed data lies outside the bytes
  Encrypted,              // the entry carries the encryption flag
  UnsupportedMethod,      // neither stored (0) nor deflated (8)
  StoredSizeMismatch,     // a stored entry whose two sizes differ
  CorruptData,            // inflate failed or the data ended early
  SizeMismatch,           // the content's length differs from the declared size
  CrcMismatch,            // the CRC-32 of the content differs from the declared one
  OutOfMemory,            // the content buffer could not grow
};

struct ZipError {
  ZipErrorKind kind;
  uint64_t number = 0;  // the method, or the entry's index where it helps
};
std::string zip_error_message(const ZipError& error);

// One central-directory entry, with everything a raw copy needs.
struct ZipEntry {
  std::string name;       // decoded: UTF-8 when flag bit 11 is set, else CP437
  std::string raw_name;   // the name's bytes as stored
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc32 = 0;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_header_offset = 0;
  uint32_t external_attributes = 0;
  uint16_t version_made_by = 0;

  bool encrypted() const { return (flags & 0x0001) != 0; }
  // A directory by its name, as the listed name ends in "/" or "\".
  bool is_directory() const {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
  }
};

class ZipEntryReader;

class ZipArchive {
 public:
  // Reads the end record and the whole central directory. The bytes are
  // borrowed and must outlive the archive and its readers.
  static Result<ZipArchive, ZipError> open(std::span<const uint8_t> bytes);

  // Every central-directory entry, directories included.
  size_t entry_count() const { return entries_.size(); }
  const ZipEntry& entry(size_t index) const { return entries_[index]; }

  // Checks the entry's flags, method and local header and returns a reader
  // over its inflated content.
  Result<ZipEntryReader, ZipError> open_entry(size_t index) const;
  // The entry's compressed bytes as stored, after its local header.
  Result<std::span<const uint8_t>, ZipError> raw_data(size_t index) const;

 private:
  std::span<const uint8_t> bytes_;
  std::vector<ZipEntry> entries_;
};

// Yields an entry's inflated content; verifies the size and the CRC-32 when
// the content has been read to its end.
class ZipEntryReader {
 public:
  ZipEntryReader(ZipEntryReader&& other) noexcept;
  ZipEntryReader& operator=(ZipEntryReader&&) = delete;
  ZipEntryReader(const ZipEntryReader&) = delete;
  ~ZipEntryReader();

  // Appends up to `max_bytes` of content to `out`. Reading stops early at the
  // cap without an error; `finished()` then tells whether the end was reached.
  Result<void, ZipError> read_to_end(std::string& out, uint64_t max_bytes);
  bool finished() const { return finished_; }

 private:
  friend class ZipArchive;
  ZipEntryReader(const ZipEntry& entry, size_t index, std::span<const uint8_t> data);
  Result<void, ZipError> finish();

  const ZipEntry* entry_;
  size_t index_;
  std::span<const uint8_t> data_;
  void* stream_ = nullptr;  // z_stream for deflated entries
  uint64_t produced_ = 0;
  uint32_t crc_ = 0;
  size_t consumed_ = 0;     // stored entries
  bool finished_ = false;
};

// Decodes a name stored without the UTF-8 flag.
std::string decode_cp437(std::string_view bytes);

}  // namespace cmx::opc
