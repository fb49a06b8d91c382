#include "base/private_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

namespace base {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// A usual umask that leaves group and other bits on.
class PrivateFilesTest : public ::testing::Test {
 protected:
  ~PrivateFilesTest() override { ::umask(oldMask_); }

  mode_t oldMask_ = ::umask(022);
  support::TempDir temp_{"private-files"};
  fs::path root_ = temp_.path();
};

TEST_F(PrivateFilesTest, NewOnesArePrivateAndExistingOnesAreNarrowed) {
  const fs::path dir = root_ / "a" / "b";
  const fs::path file = dir / "f";
  ASSERT_TRUE(createPrivateDirectories(dir).ok());
  ASSERT_TRUE(createPrivateFile(file).ok());
  EXPECT_EQ(modeOf(root_ / "a"), 0700u);
  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(fs::file_size(file), 0u);

  std::ofstream(file) << "keep";
  fs::permissions(file, fs::perms(0644));
  fs::permissions(dir, fs::perms(0755));
  fs::permissions(root_ / "a", fs::perms(0755));
  ASSERT_TRUE(createPrivateDirectories(dir).ok());
  ASSERT_TRUE(createPrivateFile(file).ok());
  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(root_ / "a"), 0755u) << "folders above are left as they are";
  EXPECT_EQ(modeOf(file), 0600u);
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

TEST_F(PrivateFilesTest, WhatIsInTheWayFails) {
  const fs::path file = root_ / "file";
  std::ofstream(file) << "x";
  const struct {
    const char* name;
    Status status;
    int code;
  } cases[] = {
      {"folder where a file is", createPrivateDirectories(file), ENOTDIR},
      {"folder below a file", createPrivateDirectories(file / "below"), ENOTDIR},
      {"file where a folder is", createPrivateFile(root_), EISDIR},
      {"file in a missing folder", createPrivateFile(root_ / "missing" / "f"), ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.status.ok());
    EXPECT_TRUE(c.status.error().is(kFileErrorDomain, c.code)) << c.status.error();
  }
}

}  // namespace
}  // namespace base
