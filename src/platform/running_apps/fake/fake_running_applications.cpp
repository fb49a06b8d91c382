#include "platform/running_apps/fake/fake_running_applications.h"

#include <utility>

namespace platform {

FakeRunningApplications::FakeRunningApplications(CurrentApplication self) : self_(std::move(self)) {
  running_.insert(self_.processIdentifier);
}

std::optional<bool> FakeRunningApplications::isActive(std::int32_t processIdentifier) {
  if (running_.count(processIdentifier) == 0) return std::nullopt;
  return frontmost_ == processIdentifier;
}

bool FakeRunningApplications::activate(std::int32_t processIdentifier, std::uint32_t options) {
  if (running_.count(processIdentifier) == 0) return false;
  Activation activation{processIdentifier, options};
  activations_.push_back(activation);
  if (handler_) {
    handler_(activation);
  } else {
    frontmost_ = processIdentifier;
  }
  return true;
}

void FakeRunningApplications::removeProcess(std::int32_t processIdentifier) {
  running_.erase(processIdentifier);
  if (frontmost_ == processIdentifier) frontmost_.reset();
}

}  // namespace platform
