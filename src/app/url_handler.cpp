#include "app/url_handler.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <map>
#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/emoji.h"
#include "engine/actions.h"
#include "model/layout.h"
#include "rx/observable.h"
#include "storage/defaults_storage.h"
#include "telemetry/analytics/analytics.h"
#include "util/name_slug.h"
#include "util/query_string.h"

namespace wendrix {
namespace {

constexpr std::string_view kScheme = "wendrix:";
constexpr std::string_view kRestore = "restore?";
constexpr std::string_view kHide = "hide?";
constexpr std::string_view kSave = "save";

// Whether the text starts with a code point that joins the character before
// it (a combining mark, a joiner): then a prefix ending there ends inside a
// character.
bool continuesCharacter(std::string_view text) {
  if (text.empty()) return false;
  UChar32 c = 0;
  int32_t i = 0;
  U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), i, static_cast<int32_t>(text.size()), c);
  if (c < 0) return false;
  const auto breakClass = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
  return breakClass == U_GCB_EXTEND || breakClass == U_GCB_ZWJ || breakClass == U_GCB_SPACING_MARK;
}

// Removes `prefix` from the front of `text` when `text` begins with it
// character by character (not merely byte by byte).
bool consumePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix) || continuesCharacter(text.substr(prefix.size()))) return false;
  text.remove_prefix(prefix.size());
  return true;
}

void sendHandled(std::string_view source) {
  tlm::TLMEventProperties properties;
  properties.setString(keys::kSource, source);
  tlm::TLMAnalytics::trackEvent(events::kURLHandled, properties);
}

}  // namespace

base::Error makeURLHandlerError(URLHandlerError code) {
  return base::makeDefaultError(kURLHandlerErrorDomain, static_cast<std::int64_t>(code));
}

std::optional<Layout> findLayout(const std::vector<Layout>& layouts, std::string_view name) {
  if (auto exact = layoutNamed(layouts, name)) return exact;
  const std::string slug = nameSlug(name);
  // An empty slug would equal the slug of every name made of symbols only.
  if (slug.empty()) return std::nullopt;
  auto it = std::find_if(layouts.begin(), layouts.end(),
                         [&](const Layout& layout) { return nameSlug(layout.name) == slug; });
  if (it == layouts.end()) return std::nullopt;
  return *it;
}

URLHandler::URLHandler(std::shared_ptr<Actions> actions, std::shared_ptr<LayoutStorage> storage)
    : actions_(std::move(actions)), storage_(std::move(storage)) {}

URLHandler::~URLHandler() {
  commands_.dispose();
}

void URLHandler::handleURLs(const std::vector<std::string>& urls) {
  for (const std::string& url : urls)
    handleURL(url);
}

void URLHandler::handleURL(std::string_view url) {
  std::string_view rest = url;
  if (!consumePrefix(rest, kScheme)) return;
  if (consumePrefix(rest, kRestore)) {
    restoreCommand(rest);
  } else if (consumePrefix(rest, kHide)) {
    hideCommand(rest);
  } else if (consumePrefix(rest, kSave)) {
    if (!rest.empty() && rest.front() == '?') rest.remove_prefix(1);
    saveCommand(rest);
  } else {
    // Sent as it is: the description names no user data.
    tlm::TLMEventProperties properties;
    properties.setString(keys::kErrorDescription,
                         makeURLHandlerError(URLHandlerError::CommandNotFound).description);
    properties.setString(keys::kErrorLocation, error_location::kUrlhandlerHandleURL000);
    tlm::TLMAnalytics::trackEvent(events::kError, properties);
  }
}

void URLHandler::restoreCommand(std::string_view query) {
  layoutCommand(LayoutCommand::restore, query);
}

void URLHandler::hideCommand(std::string_view query) {
  layoutCommand(LayoutCommand::hide, query);
}

void URLHandler::layoutCommand(LayoutCommand command, std::string_view query) {
  const std::map<std::string, std::string> parameters = parseQueryString(query);
  auto found = parameters.find("name");
  if (found == parameters.end()) return;
  const std::string name = found->second;
  const bool restore = command == LayoutCommand::restore;

  std::weak_ptr<Actions> weak = actions_;
  auto single = storage_->savedStream().take(1).asSingle().flatMap(
      [weak, name, restore](const std::vector<Layout>& layouts) -> rx::Single<rx::Unit> {
        const std::optional<Layout> layout = findLayout(layouts, name);
        if (!layout) {
          return rx::Single<rx::Unit>::error(
              makeURLHandlerError(restore ? URLHandlerError::LayoutNotFoundOnRestore
                                          : URLHandlerError::LayoutNotFoundOnHide));
        }
        auto actions = weak.lock();
        if (!actions) return rx::Single<rx::Unit>::just({});
        return restore ? actions->restoreLayout(*layout) : actions->closeLayoutApps(*layout);
      });
  run(std::move(single), restore ? "restore" : "close",
      restore ? error_location::kUrlhandlerRestore000 : error_location::kUrlhandlerClose000,
      {{name, std::string(placeholders::kName)}});
}

void URLHandler::saveCommand(std::string_view query) {
  const std::map<std::string, std::string> parameters = parseQueryString(query);
  std::optional<std::string> name;
  if (auto found = parameters.find("name"); found != parameters.end()) {
    // Codes first: shortcodes that hold "_" would never match once every "_"
    // had become a space.
    std::string text = emojiUnescapedString(found->second);
    std::replace(text.begin(), text.end(), '_', ' ');
    name = std::move(text);
  }
  std::weak_ptr<Actions> weak = actions_;
  auto single = rx::Single<rx::Unit>::deferred([weak, name]() -> rx::Single<rx::Unit> {
    auto actions = weak.lock();
    if (!actions) return rx::Single<rx::Unit>::just({});
    return actions->saveLayout(name);
  });
  run(std::move(single), "save", error_location::kUrlhandlerSave000,
      {{name, std::string(placeholders::kName)}});
}

void URLHandler::run(rx::Single<rx::Unit> command, std::string_view source,
                     std::string_view location, AnonymizingReplacements replacements) {
  struct Entry {
    std::optional<rx::CompositeDisposable::Key> key;
    bool ended = false;
  };
  auto entry = std::make_shared<Entry>();
  rx::CompositeDisposable commands = commands_;
  auto ended = [entry, commands] {
    entry->ended = true;
    if (entry->key) commands.remove(*entry->key);
  };
  rx::Disposable subscription = command.subscribe(
      [ended, source = std::string(source)](const rx::Unit&) {
        sendHandled(source);
        ended();
      },
      [ended, location = std::string(location),
       replacements = std::move(replacements)](const base::Error& error) {
        Track::errorWithLocation(error, location, replacements);
        ended();
      });
  if (!entry->ended) entry->key = commands_.insert(subscription);
}

}  // namespace wendrix
