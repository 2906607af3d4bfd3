#include "base/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace cmx {
namespace {

FileWriteError os_error(int error_number) {
  return FileWriteError{error_number,
                        std::string(std::strerror(error_number)) + " (os error " + std::to_string(error_number) + ")"};
}

// A link is replaced through the file it names, not by a plain file.
std::string resolve_target(const std::string& path) {
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

std::string unique_suffix() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 generator{std::random_device{}()};
  return std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + "." +
         std::to_string(generator() & 0xffffffffu);
}

// Opens a new file beside the target; the kernel applies the creation mask
// to 0o666.
Result<std::pair<int, std::string>, FileWriteError> create_beside(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string prefix = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string temp = prefix + "." + name + "." + unique_suffix() + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return std::make_pair(fd, std::move(temp));
    if (errno != EEXIST) return unexpected(os_error(errno));
  }
  return unexpected(os_error(EEXIST));
}

Result<void, FileWriteError> write_all(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return unexpected(os_error(errno));
    }
    done += static_cast<size_t>(wrote);
  }
  return {};
}

}  // namespace

Result<void, FileWriteError> replace_file_contents(const std::string& path, std::string_view bytes) {
  if (path.find('\0') != std::string::npos) {
    return unexpected(FileWriteError{std::nullopt, "file name contained an unexpected NUL byte"});
  }
  if (path.empty()) return unexpected(os_error(ENOENT));
  const std::string target = resolve_target(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return unexpected(os_error(EISDIR));

  CMX_ASSIGN_OR_RETURN(auto created, create_beside(target));
  auto [fd, temp] = std::move(created);
  const auto fail = [&, fd = fd](int error_number, bool open) -> Result<void, FileWriteError> {
    if (open) ::close(fd);
    ::unlink(temp.c_str());
    return unexpected(os_error(error_number));
  };
  if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) return fail(errno, true);
  if (auto wrote = write_all(fd, bytes); !wrote) {
    ::close(fd);
    ::unlink(temp.c_str());
    return wrote;
  }
  if (::fsync(fd) != 0) return fail(errno, true);
  if (::close(fd) != 0) return fail(errno, false);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno, false);
  // The rename itself lasts once the folder is synced; a folder that cannot
  // be opened for that leaves the new content in place all the same.
  const int folder = ::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace cmx
