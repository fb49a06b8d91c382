#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/secrets/fake/memory_secret_store.h"
#include "platform/secrets/file_secret_store.h"
#include "support/dead_pid.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FileSecretStoreTest : public ::testing::Test {
 protected:
  static mode_t modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  }

  support::TempDir temp_{"secrets-test"};
  fs::path root_ = temp_.path();
  fs::path dir_ = root_ / "keychain";
};

const base::Bytes kValue{'s', 'e', 'c', 'r', 'e', 't', 0, 0xFF};

TEST_F(FileSecretStoreTest, StoresPrivatelyAndPersistsAcrossInstances) {
  {
    FileSecretStore store(dir_);
    EXPECT_EQ(store.add("app.Wendrix.DarAveved", "kTLEncryptionKeyTag", kValue), kSecretSuccess);
    EXPECT_EQ(store.add("app.Wendrix.DarAveved", "other", {1}), kSecretSuccess);
    EXPECT_EQ(modeOf(dir_), 0700u);
    EXPECT_EQ(modeOf(store.fileForService("app.Wendrix.DarAveved")), 0600u);
  }
  FileSecretStore reopened(dir_);
  base::Bytes read;
  EXPECT_EQ(reopened.copy("app.Wendrix.DarAveved", "kTLEncryptionKeyTag", read), kSecretSuccess);
  EXPECT_EQ(read, kValue);
  // One file per service, and no temporary files left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FileSecretStoreTest, AnswersKeychainStatusCodes) {
  FileSecretStore store(dir_);
  base::Bytes read;
  EXPECT_EQ(store.copy("svc", "a", read), kSecretItemNotFound);
  EXPECT_EQ(store.remove("svc", "a"), kSecretItemNotFound);
  EXPECT_EQ(store.removeAll("svc"), kSecretItemNotFound);
  EXPECT_EQ(store.add("svc", "a", kValue), kSecretSuccess);
  EXPECT_EQ(store.add("svc", "a", {9}), kSecretDuplicateItem);
  EXPECT_EQ(store.copy("svc", "a", read), kSecretSuccess);
  EXPECT_EQ(read, kValue);  // the duplicate add changed nothing
  EXPECT_EQ(store.copy("other-service", "a", read), kSecretItemNotFound);
  EXPECT_EQ(store.remove("svc", "a"), kSecretSuccess);
  EXPECT_EQ(store.copy("svc", "a", read), kSecretItemNotFound);

  EXPECT_EQ(store.add("svc", "a", {1}), kSecretSuccess);
  EXPECT_EQ(store.add("svc", "b", {2}), kSecretSuccess);
  EXPECT_EQ(store.add("keep", "a", {3}), kSecretSuccess);
  EXPECT_EQ(store.removeAll("svc"), kSecretSuccess);
  EXPECT_EQ(store.copy("svc", "b", read), kSecretItemNotFound);
  EXPECT_EQ(store.copy("keep", "a", read), kSecretSuccess);

  EXPECT_EQ(store.add("", "a", {1}), kSecretParam);
  EXPECT_EQ(store.add("svc", "\xFF", {1}), kSecretParam);
}

TEST_F(FileSecretStoreTest, ServiceNamesCannotLeaveTheFolder) {
  FileSecretStore store(dir_);
  for (const char* service : {"..", ".", "../escape", "/etc/x", "a/b"}) {
    SCOPED_TRACE(service);
    const auto file = store.fileForService(service);
    EXPECT_EQ(file.parent_path(), dir_);
    ASSERT_EQ(store.add(service, "acct", kValue), kSecretSuccess);
    base::Bytes read;
    EXPECT_EQ(store.copy(service, "acct", read), kSecretSuccess);
    EXPECT_TRUE(fs::is_regular_file(file));
  }
  // Nothing was written beside the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
}

TEST_F(FileSecretStoreTest, CorruptFileIsMovedAsideNotOverwritten) {
  FileSecretStore store(dir_);
  ASSERT_EQ(store.add("svc", "a", kValue), kSecretSuccess);
  const auto file = store.fileForService("svc");
  std::ofstream(file, std::ios::trunc) << "{not json";

  base::Bytes read;
  EXPECT_EQ(store.copy("svc", "a", read), kSecretItemNotFound);
  int asides = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().filename().string().starts_with("svc.secrets.corrupt-")) {
      ++asides;
      std::ifstream in(entry.path());
      std::string text((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(text, "{not json");
    }
  }
  EXPECT_EQ(asides, 1);
  EXPECT_EQ(store.add("svc", "a", kValue), kSecretSuccess);
}

// A folder or a FIFO where the file should be neither blocks nor stops the
// store: it is moved aside like a corrupt file, and the store works on.
TEST_F(FileSecretStoreTest, SomethingThatIsNoFileIsMovedAside) {
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "fifo" : "folder");
    const std::string service = fifo ? "fifo" : "folder";
    FileSecretStore store(dir_);
    const auto file = store.fileForService(service);
    if (fifo) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else {
      fs::create_directories(file / "inside");
    }

    base::Bytes read;
    EXPECT_EQ(store.copy(service, "a", read), kSecretItemNotFound);
    EXPECT_EQ(store.add(service, "a", kValue), kSecretSuccess);
    EXPECT_EQ(store.copy(service, "a", read), kSecretSuccess);
    EXPECT_TRUE(fs::is_regular_file(file));
  }
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Copies are named by the second: a second corrupt file in the same second
// replaced the first copy.
TEST_F(FileSecretStoreTest, CorruptCopiesFromOneSecondAreAllKept) {
  FileSecretStore store(dir_);
  ASSERT_EQ(store.add("svc", "a", kValue), kSecretSuccess);
  const auto file = store.fileForService("svc");
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  // Earlier copies of this second and the next (should the clock move on).
  for (auto second : {now, now + 1})
    std::ofstream(file.string() + ".corrupt-" + std::to_string(second)) << "earlier";
  std::ofstream(file, std::ios::trunc) << "{not json";

  base::Bytes read;
  EXPECT_EQ(store.copy("svc", "a", read), kSecretItemNotFound);

  int earlier = 0, latest = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string text = readFile(entry.path());
    earlier += text == "earlier";
    latest += text == "{not json";
  }
  EXPECT_EQ(earlier, 2);
  EXPECT_EQ(latest, 1);
}

// A writer killed mid-write leaves its temporary, which may hold items
// removed from the store since.
TEST_F(FileSecretStoreTest, OpeningRemovesTemporariesOfDeadWriters) {
  fs::create_directories(dir_);
  const std::string dead = std::to_string(support::deadPid());
  const fs::path stale = dir_ / (".svc.secrets.tmp-" + dead + "-0");
  const fs::path live = dir_ / (".svc.secrets.tmp-" + std::to_string(::getpid()) + "-0");
  const fs::path foreign = dir_ / (".notes.tmp-" + dead + "-0");
  for (const auto& path : {stale, live, foreign})
    std::ofstream(path) << R"({"items":{"removed":"00"},"version":1})";

  FileSecretStore store(dir_);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));     // its writer may still rename it
  EXPECT_TRUE(fs::exists(foreign));  // not a secrets file's
}

TEST(MemorySecretStoreTest, InjectedFailuresLeaveItemsAlone) {
  MemorySecretStore store;
  ASSERT_EQ(store.add("svc", "a", kValue), kSecretSuccess);
  store.failCalls(MemorySecretStore::Call::copy, kSecretIO);
  store.failCalls(MemorySecretStore::Call::remove, -34018);
  base::Bytes read;
  EXPECT_EQ(store.copy("svc", "a", read), kSecretIO);
  EXPECT_EQ(store.remove("svc", "a"), -34018);
  EXPECT_EQ(store.item("svc", "a"), kValue);
  store.failCalls(MemorySecretStore::Call::copy, kSecretSuccess);
  EXPECT_EQ(store.copy("svc", "a", read), kSecretSuccess);
  EXPECT_EQ(store.callCount(MemorySecretStore::Call::copy), 2);
}

}  // namespace
}  // namespace platform
