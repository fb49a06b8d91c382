// Wrapper exceptions saved by a dying process and tied to its report.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "telemetry/crash_service/crashes_fixture.h"

namespace tlm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class WrapperExceptionsTest : public CrashesFixture {
 protected:
  static std::shared_ptr<TLMErrorReport> reportOf(std::string id, std::uint64_t pid) {
    return std::make_shared<TLMErrorReport>(std::move(id), "", std::nullopt, std::nullopt,
                                            std::nullopt, std::nullopt, std::nullopt, nullptr, pid);
  }
  static TLMWrapperException exceptionOf(std::int64_t pid) {
    TLMWrapperException exception;
    exception.processId = pid;
    exception.exceptionData = base::Bytes{1, 2, 3};
    return exception;
  }
  std::filesystem::path folder() const { return dataDir() / "crasheswrapperexceptions"; }
};

TEST_F(WrapperExceptionsTest, TheLastSavedExceptionIsTiedToTheFirstReportOfItsProcess) {
  TLMWrapperExceptionManager::saveWrapperException(exceptionOf(7));
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
      {reportOf("A", 5), reportOf("B", 7), reportOf("C", 7)});

  EXPECT_THAT(namesIn(folder()), ElementsAre("B"));
  const auto tied = TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString("B");
  ASSERT_TRUE(tied);
  EXPECT_EQ(*tied, exceptionOf(7));
  EXPECT_EQ(TLMWrapperExceptionManager::loadWrapperExceptionWithUUIDString("C"), nullptr);
}

TEST_F(WrapperExceptionsTest, AnExceptionOfNoReportedProcessIsDeleted) {
  TLMWrapperExceptionManager::saveWrapperException(exceptionOf(9));
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({reportOf("A", 5)});
  EXPECT_THAT(namesIn(folder()), IsEmpty());
}

TEST_F(WrapperExceptionsTest, AnUndecodableFileIsLoggedAndDeleted) {
  writeFile(folder() / "last_saved_wrapper_exception", "garbage");
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({reportOf("A", 5)});
  EXPECT_THAT(namesIn(folder()), IsEmpty());
  EXPECT_TRUE(logs.has(TLMLogLevel::Error,
                       "Could not read exception data stored on disk with file name "
                       "last_saved_wrapper_exception",
                       kTLMCrashesLogTag));
}

// Something that cannot be read is kept aside, so no later start meets it.
TEST_F(WrapperExceptionsTest, AnUnreadableFileIsMovedAside) {
  std::filesystem::create_directories(folder() / "last_saved_wrapper_exception" / "inside");
  TLMWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({reportOf("A", 5)});
  EXPECT_THAT(namesIn(folder()), ElementsAre("last_saved_wrapper_exception.unreadable"));
}

TEST_F(WrapperExceptionsTest, SavingAfterDeletingEverythingMakesTheFolderAgain) {
  TLMWrapperExceptionManager::saveWrapperException(exceptionOf(1), "X");
  TLMWrapperExceptionManager::deleteAllWrapperExceptions();
  EXPECT_FALSE(std::filesystem::exists(folder()));
  TLMWrapperExceptionManager::saveWrapperException(exceptionOf(1), "Y");
  EXPECT_THAT(namesIn(folder()), ElementsAre("Y"));
}

TEST_F(WrapperExceptionsTest, ACrashLogCarriesTheExceptionTiedToItsReport) {
  TLMWrapperException saved = exceptionOf(4242);
  saved.modelException = std::make_shared<TLMException>();
  saved.modelException->type = "System.NullReferenceException";
  TLMWrapperExceptionManager::saveWrapperException(saved);
  pendingReport = reportBytes(4242);
  start();
  processingQueue->advance(std::chrono::seconds(1));

  const auto sent = unit("Crashes")->enqueued();
  ASSERT_EQ(sent.size(), 1u);
  const auto crashLog = std::dynamic_pointer_cast<TLMAppleErrorLog>(sent[0].log);
  ASSERT_TRUE(crashLog && crashLog->exception);
  EXPECT_EQ(crashLog->exception->type, "System.NullReferenceException");
  // Sent: its file goes.
  EXPECT_THAT(namesIn(folder()), IsEmpty());
}

}  // namespace
}  // namespace tlm::testing
