#include "base/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/dead_pid.h"
#include "support/temp_dir.h"

namespace base {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
 protected:
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_))
      out.push_back(entry.path().filename().string());
    return out;
  }
  static mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  support::TempDir temp_{"file-io"};
  fs::path dir_ = temp_.path();
};

TEST_F(FileIoTest, ReplacesTheFileWithTheChosenPermissions) {
  const mode_t oldMask = ::umask(027);
  struct Case {
    const char* name;
    std::optional<mode_t> existing;  // none: no file yet
    std::optional<mode_t> mode;
    mode_t expected;
  } cases[] = {
      {"new, no mode: 0666 less the umask", std::nullopt, std::nullopt, 0640},
      {"new, explicit mode ignores the umask", std::nullopt, 0604, 0604},
      {"replaced, no mode: keeps its bits", 0604, std::nullopt, 0604},
      {"replaced, explicit mode wins", 0644, 0600, 0600},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir_ / ("f" + std::to_string(i++));
    if (c.existing) {
      std::ofstream(path) << "old contents that are longer";
      ASSERT_EQ(::chmod(path.c_str(), *c.existing), 0);
    }
    ASSERT_TRUE(writeFileAtomically(path, std::string_view("new"), c.mode));
    EXPECT_EQ(read(path), "new");
    EXPECT_EQ(modeOf(path), c.expected);
  }
  ::umask(oldMask);
  EXPECT_EQ(entries().size(), std::size(cases)) << "a temporary file was left behind";
}

// A folder in the way: the rename fails after the bytes were written.
void expectRefusedByAFolder(const Status& status, const fs::path& taken) {
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().domain, kFileErrorDomain);
  EXPECT_EQ(status.error().code, EISDIR);
  EXPECT_TRUE(status.error().description.starts_with("cannot replace \"" + taken.string() + "\": "))
      << status.error().description;
  EXPECT_TRUE(fs::is_directory(taken));
}

TEST_F(FileIoTest, FailuresNameTheStepAndLeaveNothingBehind) {
  const fs::path taken = dir_ / "taken";
  fs::create_directory(taken);
  auto status = writeFileAtomically(taken, std::string_view("x"));
  expectRefusedByAFolder(status, taken);
  EXPECT_EQ(entries(), std::vector<std::string>{"taken"});

  const fs::path orphan = dir_ / "missing" / "f";
  status = writeFileAtomically(orphan, std::string_view("x"), 0600);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().code, ENOENT);
  EXPECT_TRUE(status.error().description.starts_with("cannot create a temporary file beside \"" +
                                                     orphan.string() + "\": "));
}

std::vector<std::span<const std::uint8_t>> piecesOf(const std::vector<std::string_view>& texts) {
  std::vector<std::span<const std::uint8_t>> pieces;
  for (std::string_view text : texts)
    pieces.emplace_back(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return pieces;
}

ino_t inodeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_ino;
}

TEST_F(FileIoTest, ReplacingThroughASpareRewritesTheFileReplacedBeforeLast) {
  const fs::path path = dir_ / "f";
  const fs::path spare = dir_ / ".f.spare";
  ASSERT_TRUE(replaceFileThroughSpare(path, piecesOf({"first, ", "longer"}), 0600));
  ASSERT_TRUE(replaceFileThroughSpare(path, piecesOf({"second"}), 0600));
  EXPECT_EQ(read(path), "second");
  EXPECT_EQ(read(spare), "first, longer");
  const ino_t first = inodeOf(spare);

  ASSERT_TRUE(replaceFileThroughSpare(path, piecesOf({"third"}), 0640));
  EXPECT_EQ(read(path), "third");
  EXPECT_EQ(inodeOf(path), first) << "the spare was not reused";
  EXPECT_EQ(modeOf(path), 0640u);
  EXPECT_EQ(read(spare), "second");
  std::vector<std::string> names = entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".f.spare", "f"}));
}

TEST_F(FileIoTest, ASpareThatIsNotAFileOfItsOwnIsNotWrittenInto) {
  // What a spare can be after an interrupted replace, or a user's link:
  // another name of the file, a symbolic link to it, a folder.
  const fs::path path = dir_ / "f";
  const fs::path spare = dir_ / ".f.spare";
  const fs::path reader = dir_ / "reader";  // another name of the file's contents
  const std::vector<std::pair<const char*, void (*)(const fs::path&, const fs::path&)>> cases = {
      {"hard link", [](const fs::path& to, const fs::path& at) { fs::create_hard_link(to, at); }},
      {"symbolic link", [](const fs::path& to, const fs::path& at) { fs::create_symlink(to, at); }},
      {"folder", [](const fs::path&, const fs::path& at) { fs::create_directory(at); }},
  };
  for (const auto& [name, make] : cases) {
    SCOPED_TRACE(name);
    fs::remove_all(spare);
    fs::remove(reader);
    std::ofstream(path) << "old";
    fs::create_hard_link(path, reader);
    make(path, spare);
    ASSERT_TRUE(replaceFileThroughSpare(path, piecesOf({"new"}), 0600));
    EXPECT_EQ(read(path), "new");
    EXPECT_EQ(read(reader), "old");
  }
  EXPECT_TRUE(fs::is_directory(spare));  // not ours to remove
  // A name left between the steps of a replace goes with the next one.
  fs::remove_all(spare);
  std::ofstream(dir_ / ".f.spare-next") << "left";
  ASSERT_TRUE(replaceFileThroughSpare(path, piecesOf({"newer"}), 0600));
  EXPECT_EQ(read(path), "newer");
  EXPECT_FALSE(fs::exists(dir_ / ".f.spare-next"));
}

TEST_F(FileIoTest, AReplaceThroughASpareThatFailsLeavesTheFile) {
  const fs::path taken = dir_ / "taken";
  fs::create_directory(taken);
  expectRefusedByAFolder(replaceFileThroughSpare(taken, piecesOf({"x"}), 0600), taken);
}

TEST_F(FileIoTest, MoveAsideTakesAFreeNameAndKeepsEarlierCopies) {
  const fs::path path = dir_ / "f";
  for (const char* contents : {"first", "second", "third"}) {
    std::ofstream(path) << contents;
    ASSERT_TRUE(moveAside(path, ".bad"));
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(read(dir_ / "f.bad"), "first");
  EXPECT_EQ(read(dir_ / "f.bad-1"), "second");
  EXPECT_EQ(read(dir_ / "f.bad-2"), "third");

  auto missing = moveAside(path, ".bad");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, ENOENT);
}

// Left by a writer killed between creating its temporary and the rename.
TEST_F(FileIoTest, TemporariesOfDeadWritersAreRemovedAndOthersKept) {
  const std::string dead = std::to_string(support::deadPid());
  const std::string live = std::to_string(::getpid());
  const std::string stale[] = {".f.tmp-" + dead + "-0", ".f.tmp-" + dead + "-17"};
  const std::string kept[] = {
      // Writes in progress (process 1 may belong to another user), another
      // file's, and names of no temporary.
      ".f.tmp-" + live + "-0",
      ".f.tmp-1-0",
      ".g.tmp-" + dead + "-0",
      ".f.tmp-" + dead + "-",
      ".f.tmp-" + dead + "-1x",
      ".f.tmp-x" + dead + "-1",
      "f.tmp-" + dead + "-0",
      "f",
      ".f.tmp-0-0",
  };
  for (const auto& name : stale)
    std::ofstream(dir_ / name) << "partial";
  for (const auto& name : kept)
    std::ofstream(dir_ / name) << "x";

  EXPECT_EQ(removeStaleTemporaries(dir_ / "f"), std::size(stale));

  std::vector<std::string> expected(std::begin(kept), std::end(kept));
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> left = entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, expected);

  // Any file's, when the filter takes every name; none in a missing folder.
  EXPECT_EQ(removeStaleTemporaries(dir_, [](std::string_view) { return true; }), 1u);
  EXPECT_FALSE(fs::exists(dir_ / (".g.tmp-" + dead + "-0")));
  EXPECT_EQ(removeStaleTemporaries(dir_ / "missing" / "f"), 0u);
}

}  // namespace
}  // namespace base
