// Reading a workbook file whole, refusing what could never end or never fit:
// a path that is not a regular file (a FIFO, a device such as /dev/zero) and
// a file longer than the cap.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include "base/result.h"

namespace cmx::pyext {

// Above any package the reader accepts, so no workbook it can open is refused.
inline constexpr uint64_t kMaxWorkbookFileBytes = 1073741824;

struct FileError {
  std::optional<int> error_number;  // the system's, when it reported one
  std::string message;
};

// "{description} (os error {n})" with the number.
FileError os_file_error(int error_number);

// Closes what it owns.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor over; the caller closes it.
  int release();

 private:
  int fd_;
};

// Calls no Python API: runs with the interpreter lock released.
Result<std::string, FileError> read_workbook_file(const std::string& path, uint64_t max_bytes = kMaxWorkbookFileBytes);

}  // namespace cmx::pyext
