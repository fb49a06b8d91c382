#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace base {

// An absolute URL (RFC 3986), parsed once; components are kept as text.
// Equality and hashing go by the absolute string as given.
class Url {
 public:
  // nullopt unless `text` is a valid absolute URI (it has a scheme).
  static std::optional<Url> parse(std::string_view text);

  // "file://" URL of an absolute path, percent-encoding as needed
  // ("/a b/c" -> "file:///a%20b/c"). With `isDirectory` the URL ends in "/".
  // A path not starting with "/" is taken as relative to the root.
  static Url fromFilePath(std::string_view absolutePath, bool isDirectory = false);

  const std::string& absoluteString() const { return text_; }
  std::string scheme() const;  // lower-case
  std::string host() const { return host_; }
  std::string path() const;                     // percent-decoded
  std::string query() const { return query_; }  // raw, without "?"; "" when absent

  bool isFileUrl() const;
  // The local path of a file URL: percent-decoded, trailing "/" removed (except
  // for the root). nullopt for other schemes, for a host other than ""/
  // "localhost", and for a path that would decode to a NUL byte.
  std::optional<std::string> filePath() const;

  // `relative` resolved against this URL as base; nullopt when `relative` is
  // not a valid URI reference.
  std::optional<Url> resolve(std::string_view relative) const;

  friend bool operator==(const Url& a, const Url& b) { return a.text_ == b.text_; }

 private:
  Url() = default;

  std::string text_;
  std::string scheme_;
  std::string host_;
  std::string rawPath_;
  std::string query_;
};

}  // namespace base

template <>
struct std::hash<base::Url> {
  std::size_t operator()(const base::Url& url) const noexcept {
    return std::hash<std::string>{}(url.absoluteString());
  }
};
