#include <cstring>

#include "absl/container/flat_hash_map.h"

#include "writer/new_package.h"
#include "writer/save_plan.h"

namespace cmx::writer {

namespace {
constexpr size_t kCompareChunk = 65536;
constexpr size_t kMaxEntryName = 0xFFFF;  // the header's 16-bit length field

std::span<const uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::vector<opc::PartView> views_of(std::span<const opc::PackagePart> parts) {
  std::vector<opc::PartView> views;
  views.reserve(parts.size());
  for (const opc::PackagePart& part : parts) views.push_back(opc::PartView{part.name, part.bytes});
  return views;
}

// The package entry rule (opc::validate_package_entries), as its message.
Result<void, std::string> check_entries(std::span<const opc::PartView> parts) {
  Result<void, opc::PackageError> checked = opc::validate_package_entries(parts);
  if (!checked) return unexpected(opc::package_error_message(checked.error()));
  return {};
}

}  // namespace

Result<void, std::string> write_package_part(opc::ZipWriter& writer, std::string_view name,
                                             std::string_view bytes) {
  if (name.size() > kMaxEntryName) return unexpected("start_file " + std::string(name) + ": name too long");
  Result<void, std::string> added = writer.add_deflated(name, bytes);
  if (!added) return unexpected("write " + std::string(name) + ": " + added.error());
  return {};
}

namespace {

// The first entry of each stored name.
absl::flat_hash_map<std::string_view, size_t> index_entries(const opc::ZipArchive& source) {
  absl::flat_hash_map<std::string_view, size_t> index;
  index.reserve(source.entry_count());
  for (size_t i = 0; i < source.entry_count(); ++i) index.try_emplace(source.entry(i).raw_name, i);
  return index;
}

Result<bool, std::string> copy_if_unchanged(const opc::ZipArchive& source, std::optional<size_t> index,
                                            opc::ZipWriter& writer, std::string_view name,
                                            std::string_view bytes) {
  if (!index) return false;
  const opc::ZipEntry& entry = source.entry(*index);
  if (entry.is_directory() || entry.uncompressed_size != bytes.size()) return false;
  {
    Result<opc::ZipEntryReader, opc::ZipError> reader = source.open_entry(*index);
    if (!reader) return false;
    std::string chunk;
    size_t compared = 0;
    while (true) {
      chunk.clear();
      if (!reader->read_to_end(chunk, kCompareChunk)) return false;
      if (chunk.size() > bytes.size() - compared) return false;
      if (std::memcmp(chunk.data(), bytes.data() + compared, chunk.size()) != 0) return false;
      compared += chunk.size();
      if (reader->finished()) break;
      if (chunk.empty()) return false;
    }
    if (compared != bytes.size()) return false;
  }
  Result<opc::ZipEntryReader, opc::ZipError> reopened = source.open_entry(*index);
  if (!reopened) {
    return unexpected("reopen " + std::string(name) + ": " + opc::zip_error_message(reopened.error()));
  }
  Result<void, std::string> copied = writer.copy_raw(source, *index, name);
  if (!copied) return unexpected("copy " + std::string(name) + ": " + copied.error());
  return true;
}

}  // namespace

Result<bool, std::string> copy_unchanged_part(const opc::ZipArchive& source, opc::ZipWriter& writer,
                                              std::string_view name, std::string_view bytes) {
  std::optional<size_t> index;
  for (size_t i = 0; i < source.entry_count() && !index; ++i) {
    if (source.entry(i).raw_name == name) index = i;
  }
  return copy_if_unchanged(source, index, writer, name, bytes);
}

namespace {
Result<std::string, std::string> finish(opc::ZipWriter& writer) {
  Result<std::string, std::string> bytes = writer.finish();
  if (!bytes) return unexpected("finish: " + bytes.error());
  return bytes;
}
}  // namespace

Result<std::string, std::string> write_package_zip(std::span<const opc::PartView> parts) {
  CMX_TRY(check_entries(parts));
  opc::ZipWriter writer;
  for (const opc::PartView& part : parts) CMX_TRY(write_package_part(writer, part.name, part.bytes));
  return finish(writer);
}

Result<std::string, std::string> write_package_zip(std::span<const opc::PackagePart> parts) {
  const std::vector<opc::PartView> views = views_of(parts);
  return write_package_zip(std::span<const opc::PartView>(views));
}

Result<std::string, std::string> write_package_archive(std::span<const opc::PartView> parts,
                                                       std::optional<std::string_view> source_archive) {
  if (!source_archive) return write_package_zip(parts);
  CMX_TRY(check_entries(parts));
  Result<opc::ZipArchive, opc::ZipError> source = opc::ZipArchive::open(as_bytes(*source_archive));
  if (!source || source->entry_count() > opc::MAX_PACKAGE_ENTRIES) return write_package_zip(parts);
  const absl::flat_hash_map<std::string_view, size_t> index = index_entries(*source);
  opc::ZipWriter writer;
  for (const opc::PartView& part : parts) {
    const auto found = index.find(part.name);
    const std::optional<size_t> entry = found == index.end() ? std::nullopt : std::optional<size_t>(found->second);
    CMX_ASSIGN_OR_RETURN(const bool copied, copy_if_unchanged(*source, entry, writer, part.name, part.bytes));
    if (!copied) CMX_TRY(write_package_part(writer, part.name, part.bytes));
  }
  return finish(writer);
}

Result<std::string, std::string> write_package_archive(std::span<const opc::PackagePart> parts,
                                                       std::optional<std::string_view> source_archive) {
  const std::vector<opc::PartView> views = views_of(parts);
  return write_package_archive(std::span<const opc::PartView>(views), source_archive);
}

Result<std::string, std::string> write_package_archive(std::span<const SavedPart> parts,
                                                       std::optional<std::string_view> source_archive) {
  std::vector<opc::PartView> views;
  views.reserve(parts.size());
  for (const SavedPart& part : parts) views.push_back(opc::PartView{part.name, part.bytes});
  return write_package_archive(std::span<const opc::PartView>(views), source_archive);
}

}  // namespace cmx::writer
