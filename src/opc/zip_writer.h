// ZIP archive writer into memory: fresh entries deflated by zlib with fixed
// metadata (so one list of parts always gives the same bytes), and raw copies
// of entries from an archive read with zip_reader.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "opc/zip_reader.h"

namespace cmx::opc {

// 1980-01-01 00:00:00 in MS-DOS form, and a regular rw-r--r-- file.
inline constexpr uint16_t kFixedDosTime = 0x0000;
inline constexpr uint16_t kFixedDosDate = 0x0021;
inline constexpr uint32_t kFixedExternalAttributes = 0100644u << 16;
inline constexpr int kDeflateLevel = 6;

class ZipWriter {
 public:
  ZipWriter();
  ZipWriter(ZipWriter&&) noexcept;
  ZipWriter& operator=(ZipWriter&&) = delete;
  ZipWriter(const ZipWriter&) = delete;
  ~ZipWriter();

  // Appends one entry deflated afresh. Errors are the deflater's text.
  Result<void, std::string> add_deflated(std::string_view name, std::string_view bytes);

  // Appends entry `index` of `source` as stored there (compressed bytes,
  // method, CRC-32, sizes, timestamp), under `name`.
  Result<void, std::string> copy_raw(const ZipArchive& source, size_t index, std::string_view name);

  // Writes the central directory and the end record and hands over the bytes.
  Result<std::string, std::string> finish();

 private:
  // `entry.name` is the name written; its local header offset is set here.
  Result<void, std::string> append_entry(ZipEntry entry, std::string_view data);

  std::string out_;
  std::vector<ZipEntry> central_;
  void* stream_ = nullptr;  // z_stream, reset between entries
};

}  // namespace cmx::opc
