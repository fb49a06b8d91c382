#pragma once

// The "wendrix:" URL commands other programs drive the agent with:
//   wendrix:restore?name=<layout>   restores a saved layout
//   wendrix:hide?name=<layout>      puts its applications away
//   wendrix:save[?][name=<name>]    saves the current windows as a layout
// Every outcome is a usage event; nothing is shown to the user. The caller
// may ask to be told when a URL's command has ended and how.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/anonymizing.h"
#include "base/error.h"
#include "rx/disposable.h"
#include "rx/single.h"

namespace wendrix {

class Actions;
class LayoutStorage;
struct Layout;

enum class URLHandlerError : std::int64_t {
  Unknown = 0,
  LayoutNotFoundOnRestore = 1,
  LayoutNotFoundOnHide = 2,
  CommandNotFound = 3,
};

inline constexpr std::string_view kURLHandlerErrorDomain = "Wendrix.URLHandlerError";

// The error with the default description of its domain and code.
base::Error makeURLHandlerError(URLHandlerError code);

// The saved layout a URL names: the first named exactly `name`, else the
// first whose name slug equals the slug of `name`. A name whose slug is empty
// (only symbols or spaces, e.g. an emoji) is found by its exact name only.
std::optional<Layout> findLayout(const std::vector<Layout>& layouts, std::string_view name);

// Main thread only. Commands run concurrently, each reporting on its own.
class URLHandler {
 public:
  URLHandler(std::shared_ptr<Actions> actions, std::shared_ptr<LayoutStorage> storage);
  ~URLHandler();
  URLHandler(const URLHandler&) = delete;
  URLHandler& operator=(const URLHandler&) = delete;

  // Told once a command has ended: success, or why it failed. A URL that is
  // ignored or dropped (another scheme, an unknown command, no layout name, a
  // malformed name) fails.
  using Done = std::function<void(const base::Status& outcome)>;

  // Handles each URL in the given order; `done`, when given, is told once
  // every command has ended: success when all succeeded, else the first
  // failure (in the order of `urls`), naming its URL.
  void handleURLs(const std::vector<std::string>& urls, Done done = {});
  // Parses one URL (its absolute string) and starts its command.
  void handleURL(std::string_view url, Done done = {});

  void restoreCommand(std::string_view query, Done done = {});
  void hideCommand(std::string_view query, Done done = {});

  // Commands still running (diagnostics and tests).
  std::size_t runningCommands() const { return commands_.count(); }

 private:
  enum class LayoutCommand { restore, hide };
  void layoutCommand(LayoutCommand command, std::string_view query, Done done);
  void saveCommand(std::string_view query, Done done);
  // Subscribes to the command's Single until it ends; sends "URL_Handled"
  // with `source` on success, the error at `location` otherwise; then tells
  // `done`.
  void run(rx::Single<rx::Unit> command, std::string_view source, std::string_view location,
           AnonymizingReplacements replacements, Done done);

  std::shared_ptr<Actions> actions_;
  std::shared_ptr<LayoutStorage> storage_;
  // The subscriptions of the commands still running.
  rx::CompositeDisposable commands_;
};

}  // namespace wendrix
