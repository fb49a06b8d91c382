#include "platform/workspace/fake/fake_workspace.h"

#include <utility>

namespace platform {

std::optional<base::Url> FakeWorkspace::urlForApplication(std::string_view bundleIdentifier) {
  auto it = installed_.find(bundleIdentifier);
  if (it == installed_.end()) return std::nullopt;
  return it->second;
}

void FakeWorkspace::openApplication(const base::Url& applicationURL, OpenCompletion completion) {
  dispatch(Request{applicationURL, std::nullopt}, std::move(completion));
}

void FakeWorkspace::openURLs(const std::vector<base::Url>& urls, const base::Url& applicationURL,
                             OpenCompletion completion) {
  dispatch(Request{applicationURL, urls}, std::move(completion));
}

void FakeWorkspace::reopenApplication(const base::Url& applicationURL, OpenCompletion completion) {
  dispatch(Request{applicationURL, std::nullopt, true}, std::move(completion));
}

void FakeWorkspace::install(std::string bundleIdentifier, base::Url url) {
  installed_.insert_or_assign(std::move(bundleIdentifier), std::move(url));
}

void FakeWorkspace::uninstall(const std::string& bundleIdentifier) {
  installed_.erase(bundleIdentifier);
}

base::Error FakeWorkspace::noApplicationError(const base::Url& url) {
  return base::Error("Wendrix.WorkspaceError", 1,
                     "No application at " + url.absoluteString() + ".");
}

void FakeWorkspace::dispatch(Request request, OpenCompletion completion) {
  requests_.push_back(request);
  if (handler_) {
    handler_(request, std::move(completion));
    return;
  }
  completion(std::nullopt, noApplicationError(request.applicationURL));
}

}  // namespace platform
