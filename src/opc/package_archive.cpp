#include "opc/package_archive.h"

#include <absl/container/flat_hash_set.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <new>

#include "base/number_text.h"
#include "base/unicode.h"
#include "opc/part_names.h"

namespace cmx::opc {

namespace {

std::string_view strip_leading_slashes(std::string_view name) {
  const size_t first = name.find_first_not_of('/');
  return first == std::string_view::npos ? std::string_view() : name.substr(first);
}

// An entry's whole content under the package's byte budget, with the
// archive step's errors.
Result<void, PackageError> read_entry(ZipEntryReader& reader, const std::string& name, uint64_t remaining,
                                      std::string& out) {
  // Capped at the budget plus one byte: inflation stops as soon as the
  // package is known to be too large.
  auto read = reader.read_to_end(out, remaining + 1);
  if (!read.has_value()) {
    return unexpected(PackageError{PackageErrorKind::ReadFailed, name, zip_error_message(read.error())});
  }
  if (out.size() > remaining) return unexpected(PackageError{PackageErrorKind::InflatedSize, {}, {}});
  return {};
}

// Whether an entry may stay sealed: a deflated worksheet of a size worth a
// window, within the budget and plausible for its compressed size.
bool may_seal(const ZipEntry& entry, std::string_view key, uint64_t remaining, const ArchiveOptions& options) {
  return options.seal_worksheets_from != 0 && entry.method == 8 &&
         entry.uncompressed_size >= options.seal_worksheets_from && entry.uncompressed_size <= remaining &&
         entry.uncompressed_size <= entry.compressed_size * kMaxDeflateRatio + 64 &&
         key.starts_with("xl/worksheets/") && key.ends_with(".xml");
}

}  // namespace

// Inflates a sealed part into the caller's window. Any doubt (bad data, a
// wrong size or CRC-32) ends the content early and leaves the verdict to the
// archive step's reader.
class SealedStream final : public ByteSource {
 public:
  explicit SealedStream(SealedPart& part) : part_(part) {
    isal_inflate_init(&state_);
    state_.next_in = const_cast<uint8_t*>(part.data_.data());
    state_.avail_in = static_cast<uint32_t>(std::min<size_t>(part.data_.size(), UINT32_MAX));
    consumed_ = state_.avail_in;
  }

  size_t read(char* out, size_t max) override {
    while (!done_ && max > 0) {
      if (state_.avail_in == 0 && consumed_ < part_.data_.size()) {
        const size_t left = part_.data_.size() - consumed_;
        state_.avail_in = static_cast<uint32_t>(std::min<size_t>(left, UINT32_MAX));
        consumed_ += state_.avail_in;
      }
      // One byte past the declared size is enough to know it is wrong.
      const uint64_t allowed = part_.declared_size_ + 1 - produced_;
      const auto room = static_cast<uint32_t>(std::min<uint64_t>({max, allowed, UINT32_MAX}));
      state_.next_out = reinterpret_cast<uint8_t*>(out);
      state_.avail_out = room;
      const int rc = isal_inflate(&state_);
      const size_t got = room - state_.avail_out;
      crc_ = libdeflate_crc32(crc_, out, got);
      produced_ += got;
      if (rc < 0 || produced_ > part_.declared_size_) return stop(got, false);
      if (state_.block_state == ISAL_BLOCK_FINISH) {
        return stop(got, produced_ == part_.declared_size_ && crc_ == part_.crc32_);
      }
      if (got == 0 && state_.avail_in == 0 && consumed_ == part_.data_.size()) return stop(0, false);
      if (got > 0) return got;
    }
    return 0;
  }

 private:
  size_t stop(size_t got, bool sound) {
    done_ = true;
    if (sound) {
      part_.checked_ = true;
      return got;
    }
    // What was delivered is not vouched for; the reader sees it end here.
    part_.stream_broke_ = true;
    return 0;
  }

  SealedPart& part_;
  inflate_state state_;
  size_t consumed_ = 0;
  uint64_t produced_ = 0;
  uint32_t crc_ = 0;
  bool done_ = false;
};

SealedPart::SealedPart(std::span<const uint8_t> archive, size_t entry_index, const ZipEntry& entry,
                       std::span<const uint8_t> data, uint64_t budget)
    : archive_(archive),
      entry_index_(entry_index),
      name_(entry.name),
      data_(data),
      declared_size_(entry.uncompressed_size),
      crc32_(entry.crc32),
      budget_(budget) {}

SealedPart::~SealedPart() = default;

void SealedPart::read_whole() {
  materialized_ = true;
  checked_ = true;
  // The archive step's own reading, from the directory on.
  auto archive = ZipArchive::open(archive_);
  if (!archive.has_value()) fail_invariant("an archive read once no longer opens");
  auto reader = archive->open_entry(entry_index_);
  if (!reader.has_value()) fail_invariant("an entry opened once no longer opens");
  auto read = read_entry(*reader, name_, budget_, bytes_);
  if (!read.has_value()) {
    error_ = std::move(read.error());
    std::string().swap(bytes_);
  }
}

const std::string& SealedPart::bytes() {
  if (!materialized_) read_whole();
  return bytes_;
}

std::unique_ptr<ByteSource> SealedPart::open_stream() { return std::make_unique<SealedStream>(*this); }

const std::optional<PackageError>& SealedPart::failure() {
  if (!checked_) read_whole();
  return error_;
}

std::optional<PackageError> first_sealed_failure(std::span<const std::shared_ptr<SealedPart>> sealed) {
  for (const std::shared_ptr<SealedPart>& part : sealed) {
    if (const std::optional<PackageError>& error = part->failure()) return error;
  }
  return std::nullopt;
}

std::optional<PackageError> first_sealed_failure(std::span<const PackagePart> parts) {
  for (const PackagePart& part : parts) {
    if (!part.sealed) continue;
    if (const std::optional<PackageError>& error = part.sealed->failure()) return error;
  }
  return std::nullopt;
}

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
                                                                    const PackageLimits& limits,
                                                                    const ArchiveOptions& options) {
  auto archive = ZipArchive::open(bytes);
  if (!archive.has_value()) {
    return unexpected(PackageError{PackageErrorKind::BadZip, {}, zip_error_message(archive.error())});
  }
  const size_t count = archive->entry_count();
  if (count > limits.max_entries) return unexpected(PackageError{PackageErrorKind::EntryCount, {}, {}});

  std::vector<PackagePart> parts;
  parts.reserve(count);
  // A sealed entry comes before any later failure, as reading it whole would.
  auto fail = [&](PackageError error) -> Unexpected<PackageError> {
    if (std::optional<PackageError> earlier = first_sealed_failure(parts)) return unexpected(std::move(*earlier));
    return unexpected(std::move(error));
  };
  absl::flat_hash_set<std::string> seen;
  seen.reserve(count);
  uint64_t total = 0;
  for (size_t index = 0; index < count; ++index) {
    auto reader = archive->open_entry(index);
    if (!reader.has_value()) {
      return fail(PackageError{PackageErrorKind::BadEntry, {}, zip_error_message(reader.error())});
    }
    const ZipEntry& entry = archive->entry(index);
    if (entry.is_directory()) continue;
    std::optional<std::string> key = normalize_entry_path(entry.name);
    if (!key.has_value()) return fail(PackageError{PackageErrorKind::UnsafePath, entry.name, {}});
    const uint64_t remaining = limits.max_inflated_bytes - total;
    if (may_seal(entry, *key, remaining, options)) {
      auto data = archive->raw_data(index);
      if (!data.has_value()) fail_invariant("an entry that opens has its data");
      if (!seen.insert(std::move(*key)).second) {
        return fail(PackageError{PackageErrorKind::DuplicatePath, entry.name, {}});
      }
      // Counted at its declared size, which reading it checks.
      PackagePart part{entry.name, {}, std::make_shared<SealedPart>(bytes, index, entry, *data, remaining)};
      total += entry.uncompressed_size;
      parts.push_back(std::move(part));
      continue;
    }
    if (!seen.insert(std::move(*key)).second) {
      return fail(PackageError{PackageErrorKind::DuplicatePath, entry.name, {}});
    }
    PackagePart part{entry.name, {}, nullptr};
    if (auto read = read_entry(*reader, entry.name, remaining, part.bytes); !read.has_value()) {
      return fail(std::move(read.error()));
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
  for (const PackagePart& part : parts) views.push_back(PartView{part.name, part_bytes(part)});
  return validate_package_entries(std::span<const PartView>(views), limits);
}

std::optional<std::string_view> find_package_part(std::span<const PackagePart> parts,
                                                  std::string_view name) {
  const std::string_view wanted = strip_leading_slashes(name);
  std::optional<std::string_view> folded;
  for (const PackagePart& part : parts) {
    const std::string_view have = strip_leading_slashes(part.name);
    if (have == wanted) return part_bytes(part);
    // Part names match without regard to ASCII case; an exact spelling wins.
    if (!folded && ascii_iequal(have, wanted)) folded = part_bytes(part);
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
  return part_bytes(parts_[*at]);
}

}  // namespace cmx::opc
