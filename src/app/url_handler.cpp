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
  // No ASCII character joins the one before it.
  if (c < 0x80) return false;
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

base::Error urlFailure(std::string text) {
  return base::Error(std::string(kURLHandlerErrorDomain), 0, std::move(text));
}

void tell(const URLHandler::Done& done, const base::Status& outcome) {
  if (done) done(outcome);
}

// The raw value of the last "name=" piece of a query, as parseQueryString
// picks it.
std::optional<std::string_view> rawName(std::string_view query) {
  std::optional<std::string_view> found;
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view piece = query.substr(0, end);
    const std::size_t equals = piece.find('=');
    if (equals != std::string_view::npos && piece.find('=', equals + 1) == std::string_view::npos &&
        piece.substr(0, equals) == "name") {
      found = piece.substr(equals + 1);
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return found;
}

// A name whose escapes do not decode to UTF-8 text makes the command
// malformed: sends one "Error" event and fails.
bool malformedName(std::string_view query, std::string_view location,
                   const URLHandler::Done& done) {
  const auto raw = rawName(query);
  if (!raw) return false;
  std::string text(*raw);
  std::replace(text.begin(), text.end(), '+', ' ');
  if (percentDecode(text)) return false;
  const base::Error error = urlFailure("The layout name is not valid percent-encoded UTF-8 text");
  Track::errorWithLocation(error, location);
  tell(done, error);
  return true;
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

void URLHandler::handleURLs(const std::vector<std::string>& urls, Done done) {
  if (urls.empty()) {
    tell(done, {});
    return;
  }
  struct Batch {
    std::size_t left;
    std::vector<std::optional<base::Error>> failures;
    Done done;
  };
  auto batch = std::make_shared<Batch>(Batch{urls.size(), {}, std::move(done)});
  batch->failures.resize(urls.size());
  for (std::size_t i = 0; i < urls.size(); ++i) {
    handleURL(urls[i], [batch, i, url = urls[i]](const base::Status& outcome) {
      if (!outcome) {
        batch->failures[i] = base::Error(outcome.error().domain, outcome.error().code,
                                         url + ": " + outcome.error().description);
      }
      if (--batch->left > 0 || !batch->done) return;
      for (const auto& failure : batch->failures) {
        if (failure) {
          batch->done(*failure);
          return;
        }
      }
      batch->done({});
    });
  }
}

void URLHandler::handleURL(std::string_view url, Done done) {
  std::string_view rest = url;
  if (!consumePrefix(rest, kScheme)) {
    tell(done, urlFailure("not a wendrix: URL"));
    return;
  }
  if (consumePrefix(rest, kRestore)) {
    restoreCommand(rest, std::move(done));
  } else if (consumePrefix(rest, kHide)) {
    hideCommand(rest, std::move(done));
  } else if (consumePrefix(rest, kSave)) {
    if (!rest.empty() && rest.front() == '?') rest.remove_prefix(1);
    saveCommand(rest, std::move(done));
  } else {
    // Sent as it is: the description names no user data.
    const base::Error error = makeURLHandlerError(URLHandlerError::CommandNotFound);
    Track::errorWithLocationAsIs(error, error_location::kUrlhandlerHandleURL000);
    tell(done, error);
  }
}

void URLHandler::restoreCommand(std::string_view query, Done done) {
  layoutCommand(LayoutCommand::restore, query, std::move(done));
}

void URLHandler::hideCommand(std::string_view query, Done done) {
  layoutCommand(LayoutCommand::hide, query, std::move(done));
}

void URLHandler::layoutCommand(LayoutCommand command, std::string_view query, Done done) {
  const bool restore = command == LayoutCommand::restore;
  const std::string_view location =
      restore ? error_location::kUrlhandlerRestore000 : error_location::kUrlhandlerClose000;
  if (malformedName(query, location, done)) return;
  const std::map<std::string, std::string> parameters = parseQueryString(query);
  auto found = parameters.find("name");
  if (found == parameters.end()) {
    tell(done, urlFailure("no layout name (name=...) given"));
    return;
  }
  const std::string name = found->second;

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
  run(std::move(single), restore ? "restore" : "close", location,
      {{name, std::string(placeholders::kName)}}, std::move(done));
}

void URLHandler::saveCommand(std::string_view query, Done done) {
  if (malformedName(query, error_location::kUrlhandlerSave000, done)) return;
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
      {{name, std::string(placeholders::kName)}}, std::move(done));
}

void URLHandler::run(rx::Single<rx::Unit> command, std::string_view source,
                     std::string_view location, AnonymizingReplacements replacements, Done done) {
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
      [ended, done, source = std::string(source)](const rx::Unit&) {
        Track::urlHandled(source);
        ended();
        tell(done, {});
      },
      [ended, done, location = std::string(location),
       replacements = std::move(replacements)](const base::Error& error) {
        Track::errorWithLocation(error, location, replacements);
        ended();
        tell(done, error);
      });
  if (!entry->ended) entry->key = commands_.insert(subscription);
}

}  // namespace wendrix
