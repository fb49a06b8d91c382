#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/workspace/workspace.h"

namespace platform {

// A workspace in memory. Installed applications are registered by bundle
// identifier; every request is recorded and handed to `handler`, which
// decides the outcome. Without a handler a request fails at once.
class FakeWorkspace final : public Workspace {
 public:
  struct Request {
    base::Url applicationURL;
    // Set for openURLs (possibly empty), absent for openApplication.
    std::optional<std::vector<base::Url>> documents;
    // Set for reopenApplication.
    bool reopen = false;
  };
  using Handler = std::function<void(const Request&, OpenCompletion)>;

  std::optional<base::Url> urlForApplication(std::string_view bundleIdentifier) override;
  void openApplication(const base::Url& applicationURL, OpenCompletion completion) override;
  void openURLs(const std::vector<base::Url>& urls, const base::Url& applicationURL,
                OpenCompletion completion) override;
  void reopenApplication(const base::Url& applicationURL, OpenCompletion completion) override;

  void install(std::string bundleIdentifier, base::Url url);
  void uninstall(const std::string& bundleIdentifier);
  void setHandler(Handler handler) { handler_ = std::move(handler); }
  const std::vector<Request>& requests() const { return requests_; }

  // The error of a request nobody handles: nothing at that location.
  static base::Error noApplicationError(const base::Url& url);

 private:
  void dispatch(Request request, OpenCompletion completion);

  std::map<std::string, base::Url, std::less<>> installed_;
  Handler handler_;
  std::vector<Request> requests_;
};

}  // namespace platform
