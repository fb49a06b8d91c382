#include "telemetry/http/http_url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace tlm {

namespace {

// The parts of an absolute URL with a host, as the helpers below read it.
struct UrlParts {
  std::string scheme;  // lower case
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::string host;
  std::optional<std::string> port;  // decimal, no leading zeros
  std::string path;                 // begins with "/", no dot segments
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

// The schemes of the protocols a URL is sent over, each with a host.
constexpr std::array<std::string_view, 29> kSchemes = {
    "dict",  "ftp",  "ftps", "gopher", "gophers", "http",  "https", "imap",   "imaps",  "ldap",
    "ldaps", "mqtt", "pop3", "pop3s",  "rtmp",    "rtmpe", "rtmps", "rtmpt",  "rtmpte", "rtmpts",
    "rtsp",  "scp",  "sftp", "smb",    "smbs",    "smtp",  "smtps", "telnet", "tftp"};

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `path` without "." and ".." segments (RFC 3986, 5.2.4).
std::string withoutDotSegments(std::string_view path) {
  std::string out;
  while (!path.empty()) {
    if (path.starts_with("../")) {
      path.remove_prefix(3);
    } else if (path.starts_with("./") || path.starts_with("/./")) {
      path.remove_prefix(2);
    } else if (path == "/.") {
      path = "/";
    } else if (path.starts_with("/../") || path == "/..") {
      path = path.size() == 3 ? std::string_view("/") : path.substr(3);
      const std::size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (path == "." || path == "..") {
      path = {};
    } else {
      const std::size_t next = path.find('/', 1);
      const std::size_t length = next == std::string_view::npos ? path.size() : next;
      out.append(path.substr(0, length));
      path.remove_prefix(length);
    }
  }
  return out;
}

// A bracketed IPv6 address, in its shorter text form when that is shorter
// (one with a zone id as written, the id's "%" escaped); none when it is not
// one.
std::optional<std::string> ipv6HostOf(std::string_view text) {
  if (text.size() < 3 || !text.ends_with(']')) return std::nullopt;
  const std::string_view inner = text.substr(1, text.size() - 2);
  const std::size_t zone = inner.find('%');
  const std::string address(inner.substr(0, zone));
  in6_addr binary{};
  if (inet_pton(AF_INET6, address.c_str(), &binary) != 1) return std::nullopt;
  if (zone != std::string_view::npos) {
    std::string_view id = inner.substr(zone + 1);
    if (id.starts_with("25") && id.size() > 2) id.remove_prefix(2);
    if (id.empty()) return std::nullopt;
    for (const char c : id) {
      if (!isAlpha(c) && !isDigit(c) && std::string_view("-._~").find(c) == std::string_view::npos)
        return std::nullopt;
    }
    return "[" + address + "%25" + std::string(id) + "]";
  }
  char shorter[INET6_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET6, &binary, shorter, sizeof shorter) ||
      std::strlen(shorter) >= inner.size())
    return std::string(text);
  return "[" + std::string(shorter) + "]";
}

// A host name that is an IPv4 address in one of its numeric forms (1 to 4
// parts, each decimal, octal with a leading 0 or hex with 0x) as a dotted
// quad; none for other names.
std::optional<std::string> dottedQuadOf(std::string_view host) {
  std::uint64_t parts[4] = {};
  std::size_t count = 0;
  while (true) {
    if (count == 4) return std::nullopt;
    const std::size_t dot = host.find('.');
    std::string_view digits = host.substr(0, dot);
    int base = 10;
    if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits.remove_prefix(2);
    } else if (digits.size() > 1 && digits[0] == '0') {
      base = 8;
      digits.remove_prefix(1);
    }
    if (digits.empty() && base != 8) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
      const int digit = hexValue(c);
      if (digit < 0 || digit >= base) return std::nullopt;
      value = value * base + digit;
      if (value > 0xffffffffULL) return std::nullopt;
    }
    parts[count++] = value;
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
  }
  for (std::size_t i = 0; i + 1 < count; ++i)
    if (parts[i] > 255) return std::nullopt;
  if (parts[count - 1] >= (1ULL << (8 * (5 - count)))) return std::nullopt;
  std::uint64_t address = parts[count - 1];
  for (std::size_t i = 0; i + 1 < count; ++i)
    address |= parts[i] << (8 * (3 - i));
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

// A host name with its percent escapes decoded (a "%" that starts none is
// kept, escaped) and a numeric IPv4 address as a dotted quad, or a bracketed
// IPv6 address; none when it holds a character no host name has.
std::optional<std::string> hostOf(std::string_view text) {
  if (text.starts_with('[')) return ipv6HostOf(text);
  std::string host;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        host += "%25";
        continue;
      }
      c = static_cast<char>(high * 16 + low);
      i += 2;
      if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return std::nullopt;
    }
    if (std::string_view("!\"#$%&'()*+,/:;<=>?@[\\]^`{}").find(c) != std::string_view::npos) {
      return std::nullopt;
    }
    host.push_back(c);
  }
  if (host.empty()) return std::nullopt;
  return dottedQuadOf(host).value_or(host);
}

// `text` as an absolute URL with a scheme and a host; none when it is not one.
std::optional<UrlParts> parse(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return std::nullopt;
  }
  UrlParts url;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
  for (const char c : text.substr(0, colon)) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    url.scheme.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  bool known = false;
  for (const auto scheme : kSchemes)
    known = known || scheme == url.scheme;
  if (!known) return std::nullopt;
  text.remove_prefix(colon + 1);
  std::size_t slashes = 0;
  while (slashes < text.size() && text[slashes] == '/')
    ++slashes;
  if (slashes < 1 || slashes > 3) return std::nullopt;
  text.remove_prefix(slashes);

  if (const std::size_t hash = text.find('#'); hash != std::string_view::npos) {
    if (hash + 1 < text.size()) url.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (const std::size_t question = text.find('?'); question != std::string_view::npos) {
    if (question + 1 < text.size()) url.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  const std::size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  url.path = slash == std::string_view::npos ? "/" : withoutDotSegments(text.substr(slash));
  if (url.path.empty()) url.path = "/";

  if (const std::size_t at = authority.find('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    const std::size_t separator = userInfo.find(':');
    url.user = std::string(userInfo.substr(0, separator));
    if (separator != std::string_view::npos)
      url.password = std::string(userInfo.substr(separator + 1));
  }
  std::string_view hostText = authority;
  const std::size_t portColon =
      authority.starts_with('[') ? authority.find("]:") : authority.rfind(':');
  if (portColon != std::string_view::npos) {
    const std::size_t portStart = portColon + (authority.starts_with('[') ? 2 : 1);
    hostText = authority.substr(0, portStart - 1);
    const std::string_view port = authority.substr(portStart);
    if (!port.empty()) {
      long value = 0;
      for (const char c : port) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 65535) return std::nullopt;
      }
      url.port = std::to_string(value);
    }
  }
  auto host = hostOf(hostText);
  if (!host) return std::nullopt;
  url.host = std::move(*host);
  return url;
}

std::string text(const UrlParts& url) {
  std::string out = url.scheme + "://";
  if (url.user || url.password) {
    out += url.user.value_or("");
    if (url.password) out += ":" + *url.password;
    out += "@";
  }
  out += url.host;
  if (url.port) out += ":" + *url.port;
  out += url.path;
  if (url.query) out += "?" + *url.query;
  if (url.fragment) out += "#" + *url.fragment;
  return out;
}

}  // namespace

std::optional<std::string> TLMParseURL(const std::string& text) {
  const auto url = parse(text);
  if (!url) return std::nullopt;
  return tlm::text(*url);
}

std::optional<std::string> TLMReplaceURLComponents(const std::string& target,
                                                   const std::string& source) {
  auto to = parse(target);
  const auto from = parse(source);
  if (!to || !from) return std::nullopt;
  to->scheme = from->scheme;
  to->user = from->user;
  to->password = from->password;
  // The zone id of an IPv6 address is not a component taken over.
  to->host = from->host;
  if (const std::size_t zone = to->host.find("%25");
      to->host.starts_with('[') && zone != std::string::npos) {
    to->host = to->host.substr(0, zone) + "]";
  }
  to->port = from->port;
  // A path set on its own has its escapes in lower case ("%C3%A9" -> "%c3%a9").
  to->path = from->path;
  for (std::size_t i = 0; i + 2 < to->path.size(); ++i) {
    if (to->path[i] != '%' || hexValue(to->path[i + 1]) < 0 || hexValue(to->path[i + 2]) < 0)
      continue;
    for (std::size_t k = i + 1; k <= i + 2; ++k) {
      char& c = to->path[k];
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    i += 2;
  }
  return text(*to);
}

std::string TLMPercentEncodeQuery(const std::string& text) {
  static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/?";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum || kAllowed.find(static_cast<char>(c)) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

}  // namespace tlm
