// Fuzzes the ZIP reader and the package entry rule: no crash or hang, and
// every accepted archive is consistent: finished entries have their declared
// size and CRC, the part list passes the write-side rule, and every part is
// found by its own name.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "opc/package_archive.h"

using namespace cmx::opc;

namespace {

// Small budgets keep each run fast; the rule is the same at any size.
constexpr PackageLimits kLimits{.max_entries = 64, .max_inflated_bytes = 1 << 20};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  auto archive = ZipArchive::open(bytes);
  if (archive.has_value()) {
    check(archive->entry_count() <= size / 46);
    for (size_t i = 0; i < archive->entry_count() && i < 64; ++i) {
      const ZipEntry& entry = archive->entry(i);
      auto raw = archive->raw_data(i);
      if (raw.has_value()) {
        check(raw->data() >= data && raw->data() + raw->size() <= data + size);
        check(raw->size() == entry.compressed_size);
      }
      auto reader = archive->open_entry(i);
      if (!reader.has_value()) continue;
      check(raw.has_value());
      std::string out;
      auto read = reader->read_to_end(out, 1 << 20);
      check(out.size() <= (1 << 20));
      if (read.has_value() && reader->finished()) {
        check(out.size() == entry.uncompressed_size);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
        check(crc == entry.crc32);
      }
    }
  }

  auto parts = read_package_archive(bytes, kLimits);
  if (parts.has_value()) {
    check(archive.has_value());
    check(parts->size() <= archive->entry_count());
    check(validate_package_entries(*parts, kLimits).has_value());
    for (const PackagePart& part : *parts) {
      check(normalize_entry_path(part.name).has_value());
      check(find_package_part(*parts, part.name).has_value());
    }
  }
  return 0;
}
