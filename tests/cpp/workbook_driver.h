// Shared by the test-only drivers that pytest runs over .xlsx files: reading
// the file, opening the workbook and answering a refusal as one JSON line.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "opc/package_archive.h"
#include "reader/workbook_reader.h"
#include "xml/parse_error.h"

namespace cmx::driver {

// The whole file; none when it cannot be opened.
inline std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Package bytes read into a workbook, or the message of the first refusal.
inline Result<reader::WorkbookRead, std::string> open_workbook(std::string_view bytes) {
  auto parts = opc::read_package_archive(bytes);
  if (!parts) return unexpected(opc::package_error_message(parts.error()));
  auto read = reader::read_workbook(*parts);
  if (!read) return unexpected(xml::parse_error_message(read.error()));
  return std::move(*read);
}

// {"ok":false,"error":"…"} with quotes and backslashes escaped and control
// characters dropped.
inline void print_refusal(std::string_view message) {
  std::string escaped;
  for (char ch : message) {
    if (ch == '"' || ch == '\\') escaped.push_back('\\');
    if (static_cast<unsigned char>(ch) < 0x20) continue;
    escaped.push_back(ch);
  }
  std::printf("{\"ok\":false,\"error\":\"%s\"}\n", escaped.c_str());
}

}  // namespace cmx::driver
