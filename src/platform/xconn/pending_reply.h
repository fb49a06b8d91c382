#pragma once

// A request sent at once whose reply is collected later, so that many
// requests wait for the server only once: send them all, then take the
// replies. The connection must outlive it.

#include <cstdlib>
#include <memory>

#include "platform/xconn/connection.h"

namespace platform::xconn {

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

class PendingReply {
 public:
  PendingReply() = default;
  // `sequence` is the request's cookie sequence (0 when it was not sent).
  PendingReply(Connection& connection, unsigned sequence)
      : connection_(&connection), sequence_(sequence) {}
  PendingReply(PendingReply&& other) noexcept;
  PendingReply& operator=(PendingReply&& other) noexcept;
  // Discards a reply that was never taken.
  ~PendingReply();

  // The reply, waiting for it; null when the request failed (an error about a
  // window that is gone is noted on the connection), the connection is broken
  // or it was taken before.
  template <class Reply>
  ReplyPtr<Reply> take() {
    return ReplyPtr<Reply>(static_cast<Reply*>(takeRaw()));
  }

 private:
  void* takeRaw();

  Connection* connection_ = nullptr;
  unsigned sequence_ = 0;
};

}  // namespace platform::xconn
