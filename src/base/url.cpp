#include "base/url.h"

#include <uriparser/Uri.h>

#include <cstring>
#include <utility>

namespace base {
namespace {

// Owns the members of a parsed UriUriA.
struct ParsedUri {
  UriUriA uri{};
  bool live = false;
  ~ParsedUri() {
    if (live) uriFreeUriMembersA(&uri);
  }
  bool parse(std::string_view text) {
    const char* error = nullptr;
    live =
        uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &error) == URI_SUCCESS;
    return live;
  }
};

std::string rangeText(const UriTextRangeA& range) {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return std::string(range.first, range.afterLast);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes decoded to bytes; a malformed escape is kept as written.
std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Characters kept as they are in a path: unreserved, sub-delims, ":", "@", "/".
bool keptInPath(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) !=
         std::string_view::npos;
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
  ParsedUri parsed;
  if (!parsed.parse(text) || parsed.uri.scheme.first == nullptr) return std::nullopt;
  const UriUriA& uri = parsed.uri;
  Url url;
  url.text_ = std::string(text);
  url.scheme_ = lower(rangeText(uri.scheme));
  url.host_ = rangeText(uri.hostText);
  // Segments are joined again; an empty segment's range does not point into
  // the text, so the path cannot be sliced out of it.
  if (uri.pathHead != nullptr) {
    const bool leadingSlash = uri.hostText.first != nullptr || uri.absolutePath;
    for (const UriPathSegmentA* segment = uri.pathHead; segment; segment = segment->next) {
      if (segment != uri.pathHead || leadingSlash) url.rawPath_ += '/';
      url.rawPath_ += rangeText(segment->text);
    }
  }
  url.query_ = rangeText(uri.query);
  return url;
}

Url Url::fromFilePath(std::string_view absolutePath, bool isDirectory) {
  std::string encoded;
  if (absolutePath.empty() || absolutePath.front() != '/') encoded += '/';
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : absolutePath) {
    const auto byte = static_cast<unsigned char>(c);
    if (keptInPath(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  if (isDirectory && encoded.back() != '/') encoded += '/';
  Url url;
  url.text_ = "file://" + encoded;
  url.scheme_ = "file";
  url.rawPath_ = std::move(encoded);
  return url;
}

std::string Url::scheme() const {
  return scheme_;
}

std::string Url::path() const {
  return percentDecode(rawPath_);
}

bool Url::isFileUrl() const {
  return scheme_ == "file";
}

std::optional<std::string> Url::filePath() const {
  if (!isFileUrl()) return std::nullopt;
  if (!host_.empty() && lower(host_) != "localhost") return std::nullopt;
  std::string decoded = path();
  if (decoded.empty() || decoded.find('\0') != std::string::npos) return std::nullopt;
  if (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
  return decoded;
}

std::optional<Url> Url::resolve(std::string_view relative) const {
  ParsedUri base, reference;
  if (!base.parse(text_) || !reference.parse(relative)) return std::nullopt;
  ParsedUri resolved;
  if (uriAddBaseUriExA(&resolved.uri, &reference.uri, &base.uri, URI_RESOLVE_STRICTLY) !=
      URI_SUCCESS)
    return std::nullopt;
  resolved.live = true;
  int required = 0;
  if (uriToStringCharsRequiredA(&resolved.uri, &required) != URI_SUCCESS) return std::nullopt;
  std::string out(static_cast<std::size_t>(required) + 1, '\0');
  int written = 0;
  if (uriToStringA(out.data(), &resolved.uri, required + 1, &written) != URI_SUCCESS)
    return std::nullopt;
  (void)written;
  out.resize(std::strlen(out.c_str()));
  return parse(out);
}

}  // namespace base
