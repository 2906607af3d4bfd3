#include "opc/package_archive.h"

#include <absl/container/flat_hash_set.h>

#include "base/number_text.h"
#include "base/unicode.h"
#include "opc/part_names.h"

namespace cmx::opc {

namespace {

std::string_view strip_leading_slashes(std::string_view name) {
  const size_t first = name.find_first_not_of('/');
  return first == std::string_view::npos ? std::string_view() : name.substr(first);
}

}  // namespace

std::string package_error_message(const PackageError& error) {
  switch (error.kind) {
    case PackageErrorKind::BadZip:
      return "bad zip: " + error.detail;
    case PackageErrorKind::EntryCount:
      return "zip entry count exceeds " + format_u64(MAX_PACKAGE_ENTRIES);
    case PackageErrorKind::BadEntry:
      return "bad zip entry: " + error.detail;
    case PackageErrorKind::UnsafePath:
      return "unsafe zip entry path: " + error.name;
    case PackageErrorKind::DuplicatePath:
      return "duplicate normalized zip entry path: " + error.name;
    case PackageErrorKind::ReadFailed:
      return "read failed for " + error.name + ": " + error.detail;
    case PackageErrorKind::InflatedSize:
      return "inflated size exceeds " + format_u64(MAX_INFLATED_BYTES) + " bytes";
  }
  return "unknown package error";
}

std::optional<std::string> normalize_entry_path(std::string_view name) {
  std::string copy(name);
  for (char& ch : copy) {
    if (ch == '\\') ch = '/';
  }
  if (!copy.empty() && copy[0] == '/') return std::nullopt;
  if (copy.size() > 1 && copy[1] == ':') return std::nullopt;
  std::string joined;
  joined.reserve(copy.size());
  size_t pos = 0;
  while (pos <= copy.size()) {
    size_t end = copy.find('/', pos);
    if (end == std::string::npos) end = copy.size();
    const std::string_view segment(copy.data() + pos, end - pos);
    pos = end + 1;
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") return std::nullopt;
    if (!joined.empty()) joined.push_back('/');
    joined.append(segment);
  }
  if (joined.empty()) return std::nullopt;
  return unicode::to_lower(joined);
}

Result<std::vector<PackagePart>, PackageError> read_package_archive(std::span<const uint8_t> bytes,
                                                                    const PackageLimits& limits) {
  auto archive = ZipArchive::open(bytes);
  if (!archive.has_value()) {
    return unexpected(PackageError{PackageErrorKind::BadZip, {}, zip_error_message(archive.error())});
  }
  const size_t count = archive->entry_count();
  if (count > limits.max_entries) return unexpected(PackageError{PackageErrorKind::EntryCount, {}, {}});

  std::vector<PackagePart> parts;
  parts.reserve(count);
  absl::flat_hash_set<std::string> seen;
  seen.reserve(count);
  uint64_t total = 0;
  for (size_t index = 0; index < count; ++index) {
    auto reader = archive->open_entry(index);
    if (!reader.has_value()) {
      return unexpected(PackageError{PackageErrorKind::BadEntry, {}, zip_error_message(reader.error())});
    }
    const ZipEntry& entry = archive->entry(index);
    if (entry.is_directory()) continue;
    std::optional<std::string> key = normalize_entry_path(entry.name);
    if (!key.has_value()) return unexpected(PackageError{PackageErrorKind::UnsafePath, entry.name, {}});
    if (!seen.insert(std::move(*key)).second) {
      return unexpected(PackageError{PackageErrorKind::DuplicatePath, entry.name, {}});
    }
    // Capped at the budget plus one byte: inflation stops as soon as the
    // package is known to be too large.
    const uint64_t remaining = limits.max_inflated_bytes - total;
    PackagePart part{entry.name, {}};
    auto read = reader->read_to_end(part.bytes, remaining + 1);
    if (!read.has_value()) {
      return unexpected(
          PackageError{PackageErrorKind::ReadFailed, entry.name, zip_error_message(read.error())});
    }
    if (part.bytes.size() > remaining) {
      return unexpected(PackageError{PackageErrorKind::InflatedSize, {}, {}});
    }
    total += part.bytes.size();
    parts.push_back(std::move(part));
  }
  return parts;
}

Result<void, PackageError> validate_package_entries(std::span<const PartView> parts,
                                                    const PackageLimits& limits) {
  if (parts.size() > limits.max_entries) return unexpected(PackageError{PackageErrorKind::EntryCount, {}, {}});
  absl::flat_hash_set<std::string> seen;
  seen.reserve(parts.size());
  uint64_t total = 0;
  for (const PartView& part : parts) {
    std::optional<std::string> key = normalize_entry_path(part.name);
    if (!key.has_value()) return unexpected(PackageError{PackageErrorKind::UnsafePath, std::string(part.name), {}});
    if (!seen.insert(std::move(*key)).second) {
      return unexpected(PackageError{PackageErrorKind::DuplicatePath, std::string(part.name), {}});
    }
    if (__builtin_add_overflow(total, part.bytes.size(), &total) || total > limits.max_inflated_bytes) {
      return unexpected(PackageError{PackageErrorKind::InflatedSize, {}, {}});
    }
  }
  return {};
}

Result<void, PackageError> validate_package_entries(std::span<const PackagePart> parts,
                                                    const PackageLimits& limits) {
  if (parts.size() > limits.max_entries) return unexpected(PackageError{PackageErrorKind::EntryCount, {}, {}});
  std::vector<PartView> views;
  views.reserve(parts.size());
  for (const PackagePart& part : parts) views.push_back(PartView{part.name, part.bytes});
  return validate_package_entries(std::span<const PartView>(views), limits);
}

std::optional<std::string_view> find_package_part(std::span<const PackagePart> parts,
                                                  std::string_view name) {
  const std::string_view wanted = strip_leading_slashes(name);
  std::optional<std::string_view> folded;
  for (const PackagePart& part : parts) {
    const std::string_view have = strip_leading_slashes(part.name);
    if (have == wanted) return std::string_view(part.bytes);
    // Part names match without regard to ASCII case; an exact spelling wins.
    if (!folded && ascii_iequal(have, wanted)) folded = std::string_view(part.bytes);
  }
  return folded;
}

PartIndex::PartIndex(std::span<const PackagePart> parts) : parts_(parts) {
  by_name_.reserve(parts.size());
  by_key_.reserve(parts.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    by_name_.emplace(strip_leading_slashes(parts[i].name), i);
    by_key_.emplace(part_name_key(parts[i].name), i);
  }
}

std::optional<size_t> PartIndex::position(std::string_view name) const {
  const auto found = by_name_.find(strip_leading_slashes(name));
  if (found != by_name_.end()) return found->second;
  const auto folded = by_key_.find(part_name_key(name));
  if (folded == by_key_.end()) return std::nullopt;
  return folded->second;
}

std::optional<std::string_view> PartIndex::find(std::string_view name) const {
  const std::optional<size_t> at = position(name);
  if (!at) return std::nullopt;
  return std::string_view(parts_[*at].bytes);
}

}  // namespace cmx::opc
