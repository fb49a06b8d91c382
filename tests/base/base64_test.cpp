#include "base/base64.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(Base64Test, RoundTripsEveryLengthModThree) {
  const Bytes all = {0x00, 0xFF, 0x10, 0xFB, 0xEF, 0xBE, 0x7F, 0x80};
  const char* expected[] = {"",         "AA==",     "AP8=",         "AP8Q",        "AP8Q+w==",
                            "AP8Q++8=", "AP8Q++++", "AP8Q++++fw==", "AP8Q++++f4A="};
  for (std::size_t n = 0; n <= all.size(); ++n) {
    SCOPED_TRACE(n);
    const Bytes input(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string text = base64Encode(input);
    EXPECT_EQ(text, expected[n]);
    EXPECT_EQ(base64Decode(text), input);
    EXPECT_EQ(base64DecodeLenient(text), input);
  }
  EXPECT_EQ(base64Encode(std::string_view("Man")), "TWFu");
}

TEST(Base64Test, StrictDecodeRejectsMalformedText) {
  const char* bad[] = {
      "TWF",       // length not a multiple of four
      "TW=u",      // padding in the middle
      "TWFu\n",    // whitespace
      "TW u",      // space
      "TWF-",      // URL-safe alphabet
      "====",      // padding only
      "T===",      // too much padding
      "TWE=TWFu",  // data after padding
      "TR==",      // non-zero spare bits
      "TWG=",      // non-zero spare bits
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64Decode(text), std::nullopt);
  }
}

TEST(Base64Test, LenientDecodeSkipsNoiseAndStopsAtPadding) {
  const Bytes man = {'M', 'a', 'n'};
  const Bytes ma = {'M', 'a'};
  EXPECT_EQ(base64DecodeLenient("TW\r\nFu"), man);
  EXPECT_EQ(base64DecodeLenient(" T*W-F.u "), man);
  EXPECT_EQ(base64DecodeLenient("TWE"), ma);       // missing padding
  EXPECT_EQ(base64DecodeLenient("TWE=TWFu"), ma);  // stops at "="
  EXPECT_EQ(base64DecodeLenient("TWFuT"), man);    // dangling character dropped
  EXPECT_EQ(base64DecodeLenient("!!!"), Bytes{});
}

}  // namespace
}  // namespace base
