#include "pyext/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace cmx::pyext {

namespace {

std::atomic<uint64_t> g_temp_counter{0};

// Writing through a link replaces what it points at, as a plain write would.
std::string resolve_link(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Result<void, FileError> write_all(int fd, std::string_view bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      return unexpected(os_file_error(errno));
    }
    written += static_cast<size_t>(put);
  }
  return {};
}

}  // namespace

Result<void, FileError> write_file_replacing(const std::string& path, std::string_view bytes) {
  if (path.find('\0') != std::string::npos) {
    return unexpected(FileError{std::nullopt, "file name contained an unexpected NUL byte"});
  }
  const std::string target = resolve_link(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return unexpected(os_file_error(EISDIR));
  // A device or a pipe must never be swapped for a plain file.
  if (exists && !S_ISREG(existing.st_mode)) return unexpected(FileError{std::nullopt, "not a regular file"});
  if (!target.empty() && target.back() == '/') return unexpected(os_file_error(EISDIR));

  const std::string folder = folder_of(target);
  const std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 64 && raw < 0; ++attempt) {
    temp = folder + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(g_temp_counter.fetch_add(1));
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return unexpected(os_file_error(errno));
  }
  if (raw < 0) return unexpected(os_file_error(EEXIST));

  FileDescriptor fd(raw);
  const auto fail = [&temp](FileError error) -> Result<void, FileError> {
    ::unlink(temp.c_str());
    return unexpected(std::move(error));
  };
  if (exists && ::fchmod(fd.get(), existing.st_mode & 07777) != 0) return fail(os_file_error(errno));
  if (auto written = write_all(fd.get(), bytes); !written) return fail(written.error());
  if (::fsync(fd.get()) != 0) return fail(os_file_error(errno));
  if (::close(fd.release()) != 0) return fail(os_file_error(errno));
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(os_file_error(errno));
  // The rename itself reaches the disk with the folder; a folder that cannot
  // be synced (some file systems refuse) still holds the new file.
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return {};
}

}  // namespace cmx::pyext
