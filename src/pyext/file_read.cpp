#include "pyext/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cmx::pyext {

FileError os_file_error(int error_number) {
  return FileError{error_number, std::string(std::strerror(error_number)) + " (os error " +
                                     std::to_string(error_number) + ")"};
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Result<std::string, FileError> read_workbook_file(const std::string& path, uint64_t max_bytes) {
  if (path.find('\0') != std::string::npos) {
    return unexpected(FileError{std::nullopt, "file name contained an unexpected NUL byte"});
  }
  // O_NONBLOCK keeps the open of a FIFO without a writer from hanging; the
  // type check below refuses it before anything is read.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return unexpected(os_file_error(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return unexpected(os_file_error(errno));
  if (S_ISDIR(info.st_mode)) return unexpected(os_file_error(EISDIR));
  if (!S_ISREG(info.st_mode)) return unexpected(FileError{std::nullopt, "not a regular file"});
  const auto too_large = [max_bytes] {
    return FileError{std::nullopt, "file is larger than the limit of " + std::to_string(max_bytes) + " bytes"};
  };
  const uint64_t hinted = static_cast<uint64_t>(info.st_size);
  if (hinted > max_bytes) return unexpected(too_large());
  std::string data;
  // One spare byte tells a file that grew past its stated length.
  data.resize(static_cast<size_t>(hinted) + 1);
  size_t filled = 0;
  while (true) {
    if (filled == data.size()) {
      if (data.size() > max_bytes) return unexpected(too_large());
      data.resize(std::min<uint64_t>(max_bytes + 1, data.size() * 2 + 4096));
    }
    const ssize_t got = ::read(fd.get(), data.data() + filled, data.size() - filled);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return unexpected(os_file_error(errno));
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  if (filled > max_bytes) return unexpected(too_large());
  data.resize(filled);
  return data;
}

}  // namespace cmx::pyext
