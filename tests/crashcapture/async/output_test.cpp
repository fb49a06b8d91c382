#include "crashcapture/readers/core/output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

namespace tlcrash {
namespace {

// A pipe whose read end the test inspects; writes never block for the small
// amounts written here.
class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2";
  }
  ~Pipe() {
    closeRead();
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int readEnd() const { return fds_[0]; }
  int writeEnd() const { return fds_[1]; }
  // The write end is closed by the code under test.
  void forgetWriteEnd() { fds_[1] = -1; }
  void closeRead() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    fds_[0] = -1;
  }
  int pending() const {
    int bytes = 0;
    ::ioctl(fds_[0], FIONREAD, &bytes);
    return bytes;
  }
  std::string drain() {
    std::string text(static_cast<std::size_t>(pending()), '\0');
    if (!text.empty() && ::read(fds_[0], text.data(), text.size()) < 0) ADD_FAILURE() << "read";
    return text;
  }

 private:
  int fds_[2] = {-1, -1};
};

// Ignores SIGPIPE while a test writes into a pipe without a reader.
class IgnoreSigpipe {
 public:
  IgnoreSigpipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~IgnoreSigpipe() { ::sigaction(SIGPIPE, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

TEST(WritenTest, WritesEverythingOrAnswersMinusOne) {
  Pipe pipe;
  const std::string text(5000, 'q');
  EXPECT_EQ(tlcrash_async_writen(pipe.writeEnd(), text.data(), text.size()), 5000);
  EXPECT_EQ(pipe.drain(), text);
  EXPECT_EQ(tlcrash_async_writen(-1, "x", 1), -1);
  IgnoreSigpipe ignore;
  pipe.closeRead();
  EXPECT_EQ(tlcrash_async_writen(pipe.writeEnd(), "x", 1), -1);
}

TEST(FileOutputTest, WritesMoreThanTheBufferHoldsStraightThrough) {
  Pipe pipe;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, pipe.writeEnd(), 0);
  const std::string large(300, 'a');
  EXPECT_TRUE(tlcrash_async_file_write(&file, large.data(), large.size()));
  EXPECT_EQ(pipe.pending(), 300);
}

TEST(FileOutputTest, FlushesTheBufferBeforeBytesThatDoNotFitBesideIt) {
  Pipe pipe;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, pipe.writeEnd(), 0);
  const std::string first(200, 'a');
  const std::string second(100, 'b');
  EXPECT_TRUE(tlcrash_async_file_write(&file, first.data(), first.size()));
  EXPECT_EQ(pipe.pending(), 0);
  EXPECT_TRUE(tlcrash_async_file_write(&file, second.data(), second.size()));
  EXPECT_EQ(pipe.drain(), first);
  EXPECT_TRUE(tlcrash_async_file_flush(&file));
  EXPECT_EQ(pipe.drain(), second);
}

TEST(FileOutputTest, ALimitRefusesAWholeWriteThatWouldPassItAndAcceptsLaterOnesThatFit) {
  Pipe pipe;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, pipe.writeEnd(), 10);
  EXPECT_FALSE(tlcrash_async_file_write(&file, "0123456789A", 11));
  EXPECT_TRUE(tlcrash_async_file_write(&file, "0123456", 7));
  EXPECT_FALSE(tlcrash_async_file_write(&file, "abcd", 4));
  EXPECT_TRUE(tlcrash_async_file_write(&file, "abc", 3));
  EXPECT_FALSE(tlcrash_async_file_write(&file, "z", 1));
  EXPECT_TRUE(tlcrash_async_file_flush(&file));
  EXPECT_EQ(pipe.drain(), "0123456abc");
}

TEST(FileOutputTest, CloseWritesTheBufferAndClosesTheDescriptor) {
  Pipe pipe;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, pipe.writeEnd(), 0);
  EXPECT_TRUE(tlcrash_async_file_write(&file, "tail", 4));
  EXPECT_TRUE(tlcrash_async_file_close(&file));
  pipe.forgetWriteEnd();
  EXPECT_EQ(pipe.drain(), "tail");
  EXPECT_EQ(::fcntl(file.fd, F_GETFD), -1);
}

TEST(FileOutputTest, CloseStillClosesTheDescriptorWhenTheFlushFails) {
  IgnoreSigpipe ignore;
  Pipe pipe;
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, pipe.writeEnd(), 0);
  EXPECT_TRUE(tlcrash_async_file_write(&file, "lost", 4));
  pipe.closeRead();
  EXPECT_FALSE(tlcrash_async_file_close(&file));
  pipe.forgetWriteEnd();
  EXPECT_EQ(::fcntl(file.fd, F_GETFD), -1);
}

}  // namespace
}  // namespace tlcrash
