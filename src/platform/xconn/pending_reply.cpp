#include "platform/xconn/pending_reply.h"

#include <xcb/xcbext.h>

#include <utility>

namespace platform::xconn {

PendingReply::PendingReply(PendingReply&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      sequence_(std::exchange(other.sequence_, 0)) {}

PendingReply& PendingReply::operator=(PendingReply&& other) noexcept {
  if (this != &other) {
    if (connection_ && sequence_) xcb_discard_reply(connection_->xcb(), sequence_);
    connection_ = std::exchange(other.connection_, nullptr);
    sequence_ = std::exchange(other.sequence_, 0);
  }
  return *this;
}

PendingReply::~PendingReply() {
  if (connection_ && sequence_) xcb_discard_reply(connection_->xcb(), sequence_);
}

void* PendingReply::takeRaw() {
  if (!connection_ || !sequence_) return nullptr;
  Connection& connection = *connection_;
  const unsigned sequence = std::exchange(sequence_, 0);
  xcb_generic_error_t* error = nullptr;
  void* reply = xcb_wait_for_reply(connection.xcb(), sequence, &error);
  if (error) {
    connection.noteError(error->error_code, error->resource_id, error->full_sequence);
    std::free(error);
  }
  connection.noteReplyWaited();
  return reply;
}

}  // namespace platform::xconn
