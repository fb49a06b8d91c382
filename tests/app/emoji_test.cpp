#include "app/emoji.h"

#include <gtest/gtest.h>

namespace wendrix {
namespace {

TEST(EmojiTest, KnownCodesBecomeEmojiAndEverythingElseStays) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {":rocket:", "\U0001F680"},
      {"Ship :rocket: it :tada:", "Ship \U0001F680 it \U0001F389"},
      {":+1::-1:", "\U0001F44D\U0001F44E"},
      {":white_check_mark:", "\u2705"},
      {"::rocket:", ":\U0001F680"},
      {":nope:rocket:", ":nope\U0001F680"},
      {":Rocket:", ":Rocket:"},
      {"10:30 meeting", "10:30 meeting"},
      {":rocket", ":rocket"},
      {"::", "::"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(emojiUnescapedString(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace wendrix
