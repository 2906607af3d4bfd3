// Replacing a file's contents: new and existing targets, kept permission
// bits, links, and failures that leave the old file and no stray file.
#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "base/file_replace.h"

namespace cmx {
namespace {

class FileReplace : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cmx-replace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& name : entries()) ::unlink((dir_ + "/" + name).c_str());
    ::rmdir((dir_ + "/sub").c_str());
    ::rmdir(dir_.c_str());
  }
  std::set<std::string> entries() const {
    std::set<std::string> names;
    DIR* d = ::opendir(dir_.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(d);
    return names;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void write(const std::string& path, const std::string& bytes, mode_t mode) {
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), mode);
  }
  static mode_t mode_of(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }
  std::string dir_;
};

TEST_F(FileReplace, NewFileTakesTheCreationMask) {
  const mode_t old_mask = ::umask(027);
  const auto written = replace_file_contents(dir_ + "/new.xlsx", "fresh");
  ::umask(old_mask);
  ASSERT_TRUE(written) << written.error().message;
  EXPECT_EQ(read(dir_ + "/new.xlsx"), "fresh");
  EXPECT_EQ(mode_of(dir_ + "/new.xlsx"), 0640u);
  EXPECT_EQ(entries(), std::set<std::string>{"new.xlsx"});
}

TEST_F(FileReplace, ExistingFileKeepsItsModeAndLinksAreFollowed) {
  write(dir_ + "/book.xlsx", "a much longer old content", 0604);
  ASSERT_EQ(::symlink("book.xlsx", (dir_ + "/link.xlsx").c_str()), 0);
  ASSERT_TRUE(replace_file_contents(dir_ + "/book.xlsx", "new"));
  EXPECT_EQ(read(dir_ + "/book.xlsx"), "new");
  EXPECT_EQ(mode_of(dir_ + "/book.xlsx"), 0604u);
  ASSERT_TRUE(replace_file_contents(dir_ + "/link.xlsx", "through the link"));
  struct stat info {};
  ASSERT_EQ(::lstat((dir_ + "/link.xlsx").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(read(dir_ + "/book.xlsx"), "through the link");
  EXPECT_EQ(entries(), (std::set<std::string>{"book.xlsx", "link.xlsx"}));
}

TEST_F(FileReplace, RefusalsNameTheReason) {
  ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0755), 0);
  struct Case {
    std::string path;
    std::optional<int> error_number;
    std::string message;
  };
  const Case cases[] = {
      {dir_ + "/missing/book.xlsx", ENOENT, "No such file or directory (os error 2)"},
      {dir_ + "/sub", EISDIR, "Is a directory (os error 21)"},
      {dir_ + std::string("/a\0b", 4), std::nullopt, "file name contained an unexpected NUL byte"},
  };
  for (const Case& c : cases) {
    const auto written = replace_file_contents(c.path, "x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().error_number, c.error_number);
    EXPECT_EQ(written.error().message, c.message);
  }
  EXPECT_EQ(entries(), std::set<std::string>{"sub"});
}

// A write that stops half-way (here at the file-size limit, as on a full
// disk) leaves the old file whole and removes the new one.
TEST_F(FileReplace, FailedWriteLeavesTheOldFile) {
  const std::string old_content(100, 'o');
  write(dir_ + "/book.xlsx", old_content, 0644);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto written = replace_file_contents(dir_ + "/book.xlsx", std::string(10000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().error_number, EFBIG);
  EXPECT_EQ(read(dir_ + "/book.xlsx"), old_content);
  EXPECT_EQ(entries(), std::set<std::string>{"book.xlsx"});
}

}  // namespace
}  // namespace cmx
