#include <gtest/gtest.h>

#include "support/telemetry_log_capture.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

using S = TLMUtility_StringFormatting;
using testing::LogCapture;

TEST(StringFormattingTest, SecretStringParts) {
  struct Case {
    const char* secret;
    std::optional<std::string> appSecret;
    std::optional<std::string> token;
  };
  const Case cases[] = {
      {"abc-123", "abc-123", std::nullopt},
      {"appsecret=abc;target=key-tok", "abc", "key-tok"},
      {"target=key-tok;appsecret=abc", "abc", "key-tok"},
      {"target=key-tok", std::nullopt, "key-tok"},
      {"abc;target=key-tok;", "abc", "key-tok"},
      {"ios=i1;macos=m1;android=a1", "m1", std::nullopt},
      {"ios=i1;macos=m1;target=key-tok;", "m1", "key-tok"},
      {"appsecret=abc;ios=i1;macos=m1", "m1", std::nullopt},  // only the marked part
      {"ios=i1;android=a1", "ios=i1", std::nullopt},          // no own marker: first part as it is
      {"macos=;ios=i1", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {";;", std::nullopt, std::nullopt},
      {"appsecret=", std::nullopt, std::nullopt},
      {"target=;target=key-tok", std::nullopt, "key-tok"},
      {"appsecret=;abc", "abc", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(S::appSecretFrom(c.secret), c.appSecret) << '"' << c.secret << '"';
    EXPECT_EQ(S::transmissionTargetTokenFrom(c.secret), c.token) << '"' << c.secret << '"';
  }
}

TEST(StringFormattingTest, TargetKeyAndIKeyOfTokens) {
  const std::tuple<const char*, std::optional<std::string>, std::optional<std::string>> cases[] = {
      {"key1-secret-part", "key1", "o:key1"},
      {"wholetoken", "wholetoken", "o:wholetoken"},
      {"-secret", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const auto& [token, key, iKey] : cases) {
    EXPECT_EQ(S::targetKeyFromTargetToken(token), key) << token;
    EXPECT_EQ(S::iKeyFromTargetToken(token), iKey) << token;
  }
}

TEST(StringFormattingTest, Sha256IsLowerCaseHexOfUtf8Bytes) {
  EXPECT_EQ(S::sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(S::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Text beyond ASCII is hashed as UTF-8 instead of giving nothing.
  EXPECT_EQ(S::sha256("\xc3\xa9"),
            "4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c");
}

TEST(StringFormattingTest, PrettyPrintKeepsOrderAndSlashesAndPassesOtherTextThrough) {
  EXPECT_EQ(S::prettyPrintJson(std::nullopt), std::nullopt);
  EXPECT_EQ(S::prettyPrintJson(R"({"z":"a/b","a":[1]})"),
            "{\n  \"z\": \"a/b\",\n  \"a\": [\n    1\n  ]\n}");
  EXPECT_EQ(S::prettyPrintJson("not json {"), "not json {");
  EXPECT_EQ(S::prettyPrintJson("\"just a string\""), "\"just a string\"");
  EXPECT_EQ(S::prettyPrintJson(""), "");
  // A body nested too deep to write back safely is given back as it came.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(S::prettyPrintJson(deep), deep);
}

TEST(StringFormattingTest, ObfuscationReplacesCaseInsensitiveMatches) {
  const char* pattern = R"("token"\s*:\s*"[^"]+")";
  EXPECT_EQ(S::obfuscateString(R"({"TOKEN" : "s3cr3t", "Token":"x", "other":"y"})", pattern,
                               R"("token" : "***")"),
            R"({"token" : "***", "token" : "***", "other":"y"})");
  EXPECT_EQ(S::obfuscateString("key=abc; KEY=def", "(key)=\\w+", "$1=***"), "key=***; KEY=***");
  EXPECT_EQ(S::obfuscateString(std::nullopt, pattern, "x"), std::nullopt);
  EXPECT_EQ(S::obfuscateString("no match", pattern, "x"), "no match");
}

TEST(StringFormattingTest, ObfuscationOfALargeBodyCompletes) {
  // One long match: a backtracking matcher that recursed per character would
  // overflow the stack here.
  const std::string body = R"({"token":")" + std::string(1 << 20, 'a') + R"("})";
  EXPECT_EQ(S::obfuscateString(body, R"("token"\s*:\s*"[^"]+")", R"("token" : "***")"),
            R"({"token" : "***"})");
}

TEST(StringFormattingTest, UnusablePatternOrTemplateGivesNothingAndLogsAnError) {
  LogCapture logs;
  EXPECT_EQ(S::obfuscateString("text", "(unclosed", "x"), std::nullopt);
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_EQ(logs.lines()[0].level, TLMLogLevel::Error);
  EXPECT_EQ(logs.lines()[0].tag, "DarAveved");
  EXPECT_EQ(
      logs.messages()[0].rfind("Couldn't create regular expression with pattern\"(unclosed\": ", 0),
      0u)
      << logs.messages()[0];

  logs.clear();
  EXPECT_EQ(S::obfuscateString("text", "t", "$9"), std::nullopt);
  EXPECT_EQ(logs.lines().size(), 1u);
}

}  // namespace
}  // namespace tlm
