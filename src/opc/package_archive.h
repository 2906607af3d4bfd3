// The package's entry rule over the ZIP reader: the part list of an archive,
// the safe-name normalisation shared with the writer, and part lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "opc/zip_reader.h"

namespace cmx::opc {

inline constexpr uint64_t MAX_PACKAGE_ENTRIES = 5000;
inline constexpr uint64_t MAX_INFLATED_BYTES = uint64_t{1} << 29;

// One file entry: the name exactly as listed and its whole inflated content.
struct PackagePart {
  std::string name;
  std::string bytes;
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

// Every file entry in central-directory order; directories (a name ending in
// "/" or "\") count toward the entry limit but yield no part.
Result<std::vector<PackagePart>, PackageError> read_package_archive(
    std::span<const uint8_t> bytes, const PackageLimits& limits = {});
inline Result<std::vector<PackagePart>, PackageError> read_package_archive(std::string_view bytes) {
  return read_package_archive(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

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
