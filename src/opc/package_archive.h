// The package's entry rule over the ZIP reader: the part list of an archive,
// the safe-name normalisation shared with the writer, and part lookup.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/byte_source.h"
#include "base/result.h"
#include "opc/zip_reader.h"

namespace cmx::opc {

inline constexpr uint64_t MAX_PACKAGE_ENTRIES = 5000;
inline constexpr uint64_t MAX_INFLATED_BYTES = uint64_t{1} << 29;

class SealedPart;

// One file entry: the name exactly as listed and its whole inflated content,
// unless the archive step left it sealed (see ArchiveOptions); part_bytes()
// answers for both.
struct PackagePart {
  std::string name;
  std::string bytes;
  std::shared_ptr<SealedPart> sealed;
  friend bool operator==(const PackagePart&, const PackagePart&) = default;
};

enum class PackageErrorKind : uint8_t {
  BadZip,            // the ZIP reader refused the archive
  EntryCount,        // more entries (or parts) than MAX_PACKAGE_ENTRIES
  BadEntry,          // the ZIP reader refused to open an entry
  UnsafePath,        // the name fails normalisation
  DuplicatePath,     // two names normalise alike; the later one is named
  ReadFailed,        // reading an entry's content failed
  InflatedSize,      // the content of all parts exceeds the byte limit
};

struct PackageError {
  PackageErrorKind kind;
  std::string name;      // the entry named by UnsafePath, DuplicatePath, ReadFailed
  std::string detail;    // the ZIP reader's message for BadZip, BadEntry, ReadFailed
};
std::string package_error_message(const PackageError& error);

// The limits of the entry rule; only tests and fuzzers lower them.
struct PackageLimits {
  uint64_t max_entries = MAX_PACKAGE_ENTRIES;
  uint64_t max_inflated_bytes = MAX_INFLATED_BYTES;
};

// The comparison key of an entry name: "\" read as "/", empty and "."
// segments dropped, lower-cased with full Unicode mapping. Absent for an
// absolute name, a drive prefix, any ".." segment, or nothing left.
std::optional<std::string> normalize_entry_path(std::string_view name);

// Deflated worksheets of at least `seal_worksheets_from` declared bytes
// (0: none) are left sealed: their reader inflates them through a window,
// which for a big sheet costs far less than a buffer of the whole part.
inline constexpr uint64_t kSealWorksheetsFrom = uint64_t{1} << 20;
struct ArchiveOptions {
  uint64_t seal_worksheets_from = 0;
};

// Every file entry in central-directory order; directories (a name ending in
// "/" or "\") count toward the entry limit but yield no part. Sealed parts
// borrow `bytes`, which must outlive them; when one turns out broken, its
// error (first_sealed_failure) is the one this would have returned.
Result<std::vector<PackagePart>, PackageError> read_package_archive(
    std::span<const uint8_t> bytes, const PackageLimits& limits = {}, const ArchiveOptions& options = {});
inline Result<std::vector<PackagePart>, PackageError> read_package_archive(std::string_view bytes,
                                                                           const ArchiveOptions& options = {}) {
  return read_package_archive(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), {}, options);
}

// A deflated entry whose content is inflated only when something reads it:
// whole through bytes(), or through a window with open_stream(). The size
// and CRC-32 are checked either way; a failure is reproduced by the archive
// step's own reading, so its error is exactly the one reading the entry
// whole reports. One thread at a time.
class SealedPart {
 public:
  SealedPart(std::span<const uint8_t> archive, size_t entry_index, const ZipEntry& entry,
             std::span<const uint8_t> data, uint64_t budget);
  ~SealedPart();

  uint64_t declared_size() const { return declared_size_; }
  // The whole content, inflated on first use; empty when the entry is broken.
  const std::string& bytes();
  // The content from its start: the bytes as stored, or fewer when the entry
  // is broken, which failure() then reports. Reading it to the end checks
  // the entry.
  std::unique_ptr<ByteSource> open_stream();
  // The entry's error, checking it first when nothing has read it whole.
  const std::optional<PackageError>& failure();
  // Whether a stream ended before the content's end for want of sound data.
  bool stream_broke() const { return stream_broke_; }

 private:
  friend class SealedStream;
  void read_whole();

  std::span<const uint8_t> archive_;
  size_t entry_index_;
  std::string name_;
  std::span<const uint8_t> data_;
  uint64_t declared_size_;
  uint32_t crc32_;
  uint64_t budget_;
  bool checked_ = false;
  bool stream_broke_ = false;
  bool materialized_ = false;
  std::optional<PackageError> error_;
  std::string bytes_;
};

// The content of a part, sealed or not.
inline std::string_view part_bytes(const PackagePart& part) {
  return part.sealed ? std::string_view(part.sealed->bytes()) : std::string_view(part.bytes);
}

// The error of the first broken sealed part, in order, checking each; none
// when every one is sound.
std::optional<PackageError> first_sealed_failure(std::span<const std::shared_ptr<SealedPart>> sealed);
std::optional<PackageError> first_sealed_failure(std::span<const PackagePart> parts);

// A part whose name and bytes live elsewhere.
struct PartView {
  std::string_view name;
  std::string_view bytes;
};

// The same rule on a list of parts about to be written.
Result<void, PackageError> validate_package_entries(std::span<const PartView> parts,
                                                    const PackageLimits& limits = {});
Result<void, PackageError> validate_package_entries(std::span<const PackagePart> parts,
                                                    const PackageLimits& limits = {});

// Lookup ignoring leading "/" on both sides: an exact spelling first, else
// the first name equal without regard to ASCII case; no separator folding.
std::optional<std::string_view> find_package_part(std::span<const PackagePart> parts,
                                                  std::string_view name);

// The same lookup through a hash index built once over a part list, so that
// a package of thousands of parts opens without a scan per lookup. The list
// must outlive the index and stay unchanged.
class PartIndex {
 public:
  explicit PartIndex(std::span<const PackagePart> parts);

  std::span<const PackagePart> parts() const { return parts_; }
  // The position of the first part of this name (leading "/" ignored on both
  // sides; an exact spelling first, else one equal without ASCII case), or
  // none.
  std::optional<size_t> position(std::string_view name) const;
  std::optional<std::string_view> find(std::string_view name) const;

 private:
  std::span<const PackagePart> parts_;
  absl::flat_hash_map<std::string_view, size_t> by_name_;
  absl::flat_hash_map<std::string, size_t> by_key_;  // by part_name_key
};

}  // namespace cmx::opc
