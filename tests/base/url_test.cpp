#include "base/url.h"

#include <gtest/gtest.h>

#include <string_view>
#include <unordered_set>

namespace base {
namespace {

TEST(UrlTest, ParsesComponents) {
  struct Case {
    const char* text;
    const char* scheme;
    const char* host;
    const char* path;
    const char* query;
  };
  const Case cases[] = {
      {"file:///Users/a%20b/c.txt", "file", "", "/Users/a b/c.txt", ""},
      {"HTTPS://Example.org:8080/a%20b/?x=1&y=%20#frag", "https", "Example.org", "/a b/",
       "x=1&y=%20"},
      {"http://example.org", "http", "example.org", "", ""},
      {"http://example.org/", "http", "example.org", "/", ""},
      {"http://[::1]/x//y", "http", "::1", "/x//y", ""},
      {"wendrix:restore?name=Work", "wendrix", "", "restore", "name=Work"},
      {"mailto:someone@example.org", "mailto", "", "someone@example.org", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto url = Url::parse(c.text);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme);
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->path(), c.path);
    EXPECT_EQ(url->query(), c.query);
  }
}

TEST(UrlTest, RejectsTextThatIsNotAnAbsoluteUri) {
  using namespace std::string_view_literals;
  for (const std::string_view text :
       {""sv, "not a url"sv, "relative/path"sv, "/abs/path"sv, "http://exa mple.org/"sv,
        "http://h/%zz"sv, "://missing-scheme"sv, "1http://x/"sv, "http://h/a\0b"sv}) {
    EXPECT_EQ(Url::parse(text), std::nullopt) << text;
  }
}

TEST(UrlTest, FilePathsRoundTrip) {
  struct Case {
    const char* path;
    bool isDirectory;
    const char* text;
  };
  const Case cases[] = {
      {"/a b/c", false, "file:///a%20b/c"},
      {"/notes/#1 draft?.txt", false, "file:///notes/%231%20draft%3F.txt"},
      {"/100%/caf\xC3\xA9", false, "file:///100%25/caf%C3%A9"},
      {"/tmp/dir", true, "file:///tmp/dir/"},
      {"/", true, "file:///"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Url url = Url::fromFilePath(c.path, c.isDirectory);
    EXPECT_EQ(url.absoluteString(), c.text);
    EXPECT_TRUE(url.isFileUrl());
    EXPECT_EQ(url.filePath(), c.path);
    // The text parses back to the same URL and path.
    const auto parsed = Url::parse(url.absoluteString());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, url);
    EXPECT_EQ(parsed->filePath(), c.path);
  }
}

TEST(UrlTest, FilePathOnlyForLocalFileUrls) {
  EXPECT_EQ(Url::parse("file://localhost/etc/hosts")->filePath(), "/etc/hosts");
  EXPECT_EQ(Url::parse("http://example.org/a")->filePath(), std::nullopt);
  EXPECT_FALSE(Url::parse("http://example.org/a")->isFileUrl());
  EXPECT_EQ(Url::parse("file://server/share/x")->filePath(), std::nullopt);
  // An escaped NUL would silently cut the path short in every system call.
  EXPECT_EQ(Url::parse("file:///etc/passwd%00.txt")->filePath(), std::nullopt);
}

TEST(UrlTest, ResolvesRelativeReferences) {
  const Url base = *Url::parse("http://example.org/a/b/c?q=1");
  struct Case {
    const char* relative;
    const char* expected;
  };
  const Case cases[] = {
      {"d", "http://example.org/a/b/d"},       {"../d?x=2", "http://example.org/a/d?x=2"},
      {"/root", "http://example.org/root"},    {"?only", "http://example.org/a/b/c?only"},
      {"//other.net/p", "http://other.net/p"}, {"https://x.org/", "https://x.org/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.relative);
    const auto resolved = base.resolve(c.relative);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->absoluteString(), c.expected);
  }
  EXPECT_EQ(base.resolve("bad ref"), std::nullopt);
}

TEST(UrlTest, EqualityAndHashFollowTheText) {
  const Url a = *Url::parse("http://example.org/x");
  std::unordered_set<Url> set{a, *Url::parse("http://example.org/x"),
                              *Url::parse("http://example.org/y")};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.count(a), 1u);
  EXPECT_NE(a, *Url::parse("http://example.org/y"));
}

}  // namespace
}  // namespace base
