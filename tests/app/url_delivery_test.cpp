// Handing URLs to the running instance over its Unix socket: real sockets on
// a real main loop; the clients' deadlines run on virtual time.

#include "app/url_delivery.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "dispatch/manual_queue.h"
#include "support/temp_dir.h"

namespace wendrix {
namespace {

using namespace std::chrono_literals;

TEST(URLMessageTest, OnlyLinesOfPrintableUTF8WithinTheLimitsPass) {
  const URLMessageLimits limits{.maxBytes = 40, .maxURLs = 2};
  struct Case {
    std::string message;
    std::optional<std::vector<std::string>> urls;
  };
  const std::vector<Case> cases = {
      {"wendrix:save\n", {{"wendrix:save"}}},
      {"a\nwendrix:restore?name=Caf\u00e9\n", {{"a", "wendrix:restore?name=Caf\u00e9"}}},
      {"", {{}}},  // a probe
      {"wendrix:save", std::nullopt},
      {"a\n\nb\n", std::nullopt},
      {"a\nb\nc\n", std::nullopt},
      {"tab\there\n", std::nullopt},
      {std::string("nul\0here\n", 9), std::nullopt},
      {"del\x7f\n", std::nullopt},
      {"bad\xff\n", std::nullopt},
      {std::string(40, 'x') + "\n", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto parsed = parseURLMessage(c.message, limits);
    ASSERT_EQ(parsed.ok(), c.urls.has_value());
    if (c.urls) {
      EXPECT_EQ(parsed.value(), *c.urls);
    }
  }
  EXPECT_FALSE(makeURLMessage({"line\nbreak"}).ok());
  EXPECT_EQ(makeURLMessage({"a", "b"}).value(), "a\nb\n");
}

// A raw client: connects and sends what a test says.
class RawClient {
 public:
  explicit RawClient(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  // Sends as much of `bytes` as the agent takes, then ends the message.
  void sendAndEnd(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::shutdown(fd_, SHUT_WR);
  }
  // The agent's answer up to its closing (a blocking read).
  std::string answer() {
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof(buffer), 0)) > 0)
      out.append(buffer, static_cast<std::size_t>(n));
    return out;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class URLServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto made = dispatch::MainLoop::create();
    ASSERT_TRUE(made.ok());
    loop = std::move(made.value());
    ASSERT_TRUE(paths.preparePrivateFolder().ok());
  }

  void listen(URLMessageLimits limits = {}) {
    auto made = URLServer::listen(
        *loop, timers, paths.socket,
        [this](std::vector<std::string> urls, URLServer::Reply reply) {
          received.insert(received.end(), urls.begin(), urls.end());
          if (holdReplies) {
            replies.push_back(std::move(reply));
          } else {
            reply({});
          }
        },
        log, limits);
    ASSERT_TRUE(made.ok()) << made.error();
    server = std::move(made.value());
  }

  // Runs `work` on another thread while the loop serves, until it is done.
  template <class F>
  auto serveWhile(F work) {
    using R = decltype(work());
    std::promise<R> promise;
    auto future = promise.get_future();
    // The loop checks for the end after each of its tasks: the worker posts
    // one once the result is there.
    std::thread worker([&] {
      promise.set_value(work());
      loop->post([] {});
    });
    EXPECT_TRUE(
        loop->runUntil([&] { return future.wait_for(0s) == std::future_status::ready; }, 5s));
    worker.join();
    return future.get();
  }

  std::size_t logLines() const {
    const std::string text = log.str();
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  support::TempDir temp{"wendrix-url"};
  InstancePaths paths = InstancePaths::in(temp.path() / "app.Wendrix");
  std::unique_ptr<dispatch::MainLoop> loop;
  dispatch::ManualQueue timers;
  std::ostringstream log;
  std::vector<std::string> received;
  // Kept to be answered by the test rather than at once.
  bool holdReplies = false;
  std::vector<URLServer::Reply> replies;
  std::unique_ptr<URLServer> server;
};

TEST_F(URLServerTest, URLsReachTheInstanceInAPrivateFolderAndSocket) {
  listen();
  struct stat folder {
  }, socket{};
  ASSERT_EQ(::stat(paths.folder.c_str(), &folder), 0);
  ASSERT_EQ(::stat(paths.socket.c_str(), &socket), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(socket.st_mode & 0777, 0600u);

  const std::vector<std::string> urls = {"wendrix:save?name=A", "wendrix:restore?name=B"};
  auto sent = serveWhile([&] { return sendURLsToInstance(paths.socket, urls); });
  ASSERT_TRUE(sent.ok()) << sent.error();
  EXPECT_TRUE(sent.value());
  EXPECT_EQ(received, urls);
  // A probe is answered and hands nothing on.
  EXPECT_TRUE(serveWhile([&] { return sendURLsToInstance(paths.socket, {}); }).value());
  EXPECT_EQ(received.size(), 2u);
  EXPECT_EQ(logLines(), 0u);

  server.reset();
  EXPECT_FALSE(std::filesystem::exists(paths.socket));
  EXPECT_FALSE(sendURLsToInstance(paths.socket, urls).value());
}

TEST_F(URLServerTest, GarbageHugeAndSilentClientsDoNotStopTheNextURL) {
  listen();
  RawClient silent(paths.socket);
  ASSERT_TRUE(silent.connected());

  const std::string garbage = serveWhile([&] {
    RawClient client(paths.socket);
    client.sendAndEnd(std::string("\x00\x01\xfe garbage", 11));
    return client.answer();
  });
  EXPECT_TRUE(garbage.starts_with("ERR ")) << garbage;

  const std::string huge = serveWhile([&] {
    RawClient client(paths.socket);
    client.sendAndEnd(std::string(4 << 20, 'x'));
    return client.answer();
  });
  EXPECT_EQ(huge, "ERR message longer than 65536 bytes\n");

  auto sent = serveWhile([&] { return sendURLsToInstance(paths.socket, {"wendrix:save"}); });
  ASSERT_TRUE(sent.ok()) << sent.error();
  EXPECT_TRUE(sent.value());
  EXPECT_EQ(received, std::vector<std::string>{"wendrix:save"});
  EXPECT_EQ(logLines(), 2u) << log.str();
  EXPECT_EQ(server->clientCount(), 1u);

  // The silent one is dropped at its deadline.
  timers.advance(5s);
  EXPECT_EQ(server->clientCount(), 0u);
  EXPECT_EQ(silent.answer(), "ERR message did not end in time\n");
  EXPECT_EQ(logLines(), 3u);
}

TEST_F(URLServerTest, ClientsBeyondTheLimitAreToldTheAgentIsBusy) {
  listen({.maxClients = 1});
  RawClient first(paths.socket);
  loop->runUntil([&] { return server->clientCount() == 1; }, 5s);
  const std::string second = serveWhile([&] {
    RawClient client(paths.socket);
    return client.answer();
  });
  EXPECT_TRUE(second.starts_with("ERR busy: ")) << second;
  // The sender reads that answer, not a broken pipe, also with a message
  // larger than the socket's buffer.
  auto sent = serveWhile([&] {
    return sendURLsToInstance(paths.socket, std::vector<std::string>(60, std::string(1000, 'u')));
  });
  ASSERT_FALSE(sent.ok());
  EXPECT_NE(sent.error().description.find("busy"), std::string::npos) << sent.error();
  EXPECT_EQ(server->clientCount(), 1u);
  EXPECT_NE(log.str().find("clients already"), std::string::npos);
}

TEST_F(URLServerTest, TheAnswerWaitsForTheURLsToBeCarriedOut) {
  holdReplies = true;
  listen();
  auto pending = std::async(std::launch::async, [&] {
    return sendURLsToInstance(paths.socket, {"wendrix:save?name=A"});
  });
  ASSERT_TRUE(loop->runUntil([&] { return replies.size() == 1; }, 5s));
  // Not answered while the URL is being carried out.
  loop->runUntil([] { return false; }, 50ms);
  EXPECT_EQ(pending.wait_for(0s), std::future_status::timeout);
  replies[0](base::Error("test", 1, "the layout could not be written"));
  loop->runUntil([&] { return pending.wait_for(0s) == std::future_status::ready; }, 5s);
  auto sent = pending.get();
  ASSERT_FALSE(sent.ok());
  EXPECT_NE(sent.error().description.find("the layout could not be written"), std::string::npos)
      << sent.error();

  // A reply after the server is gone does nothing.
  auto late = std::async(std::launch::async,
                         [&] { return sendURLsToInstance(paths.socket, {"wendrix:save?name=B"}); });
  ASSERT_TRUE(loop->runUntil([&] { return replies.size() == 2; }, 5s));
  server.reset();
  replies[1]({});
  const auto lost = late.get();
  ASSERT_FALSE(lost.ok());
  EXPECT_NE(lost.error().description.find("may still carry"), std::string::npos) << lost.error();
}

// A stopped agent: its socket listens, but nothing accepts or answers.
TEST(URLClientTest, EveryStepEndsWithinItsDeadline) {
  support::TempDir temp{"wendrix-stuck"};
  const InstancePaths paths = InstancePaths::in(temp.path() / "app.Wendrix");
  ASSERT_TRUE(paths.preparePrivateFolder().ok());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, paths.socket.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  const URLClientDeadlines deadlines{.connect = 100ms, .send = 100ms, .answer = 100ms};

  // The backlog has room: the message goes out, the answer never comes.
  auto start = std::chrono::steady_clock::now();
  auto unanswered = sendURLsToInstance(paths.socket, {"wendrix:save"}, deadlines);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_FALSE(unanswered.ok());
  EXPECT_NE(unanswered.error().description.find("may still carry the URLs out"), std::string::npos)
      << unanswered.error();

  // Full: connecting itself times out, and nothing was delivered.
  std::vector<int> waiting;
  for (;;) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      ASSERT_EQ(errno, EAGAIN);
      ::close(fd);
      break;
    }
    waiting.push_back(fd);
  }
  start = std::chrono::steady_clock::now();
  auto refused = sendURLsToInstance(paths.socket, {"wendrix:save"}, deadlines);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.error().description.find("not delivered"), std::string::npos)
      << refused.error();
  for (int fd : waiting)
    ::close(fd);
  ::close(listener);
}

TEST_F(URLServerTest, ARefusedMessageIsAnErrorForTheSender) {
  listen({.maxURLs = 1});
  auto sent = serveWhile([&] { return sendURLsToInstance(paths.socket, {"a", "b"}, {}, {}); });
  ASSERT_FALSE(sent.ok());
  EXPECT_NE(sent.error().description.find("more than 1 URLs"), std::string::npos);
  EXPECT_TRUE(received.empty());
}

TEST(InstanceTest, OneLockPerSessionAndAStaleSocketMeansNoInstance) {
  support::TempDir temp{"wendrix-lock"};
  const InstancePaths paths = InstancePaths::in(temp.path() / "app.Wendrix");
  ASSERT_TRUE(paths.preparePrivateFolder().ok());
  {
    auto first = InstanceLock::tryAcquire(paths.lock);
    ASSERT_TRUE(first.ok() && first.value().has_value());
    auto second = InstanceLock::tryAcquire(paths.lock);
    ASSERT_TRUE(second.ok());
    EXPECT_FALSE(second.value().has_value());
  }
  auto again = InstanceLock::tryAcquire(paths.lock);
  EXPECT_TRUE(again.ok() && again.value().has_value());

  // A socket file whose instance died.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, paths.socket.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  auto sent = sendURLsToInstance(paths.socket, {"wendrix:save"});
  ASSERT_TRUE(sent.ok()) << sent.error();
  EXPECT_FALSE(sent.value());
}

TEST(InstanceTest, TheFolderMustBeTheUsersOwnAndPrivate) {
  support::TempDir temp{"wendrix-folder"};
  const auto folder = temp.path() / "app.Wendrix";
  std::filesystem::create_directory(folder);
  ::chmod(folder.c_str(), 0755);
  EXPECT_TRUE(InstancePaths::in(folder).preparePrivateFolder().ok());
  struct stat info {};
  ::stat(folder.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  std::filesystem::create_directory_symlink(folder, temp.path() / "link");
  EXPECT_FALSE(InstancePaths::in(temp.path() / "link").preparePrivateFolder().ok());
}

}  // namespace
}  // namespace wendrix
