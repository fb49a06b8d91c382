#include "telemetry/http/compression.h"

#include <gtest/gtest.h>

#include "telemetry/ingestion/loopback_server.h"

namespace tlm {
namespace {

TEST(TLMCompressionTest, GzipRoundTripsInputsOfEverySize) {
  // One byte is where the old fixed output estimate (length * 1.01 + 12) was too small.
  for (std::size_t size : {1u, 17u, 1400u, 100000u}) {
    SCOPED_TRACE(size);
    std::string input;
    for (std::size_t i = 0; i < size; ++i)
      input.push_back(static_cast<char>((i * 7919) % 251));
    auto compressed = TLMCompression::compressData(input);
    ASSERT_TRUE(compressed);
    EXPECT_TRUE(tlmtest::isGzip(*compressed));
    EXPECT_EQ(tlmtest::gunzip(*compressed), input);
  }
}

TEST(TLMCompressionTest, EmptyInputGivesNothing) {
  EXPECT_FALSE(TLMCompression::compressData(""));
}

}  // namespace
}  // namespace tlm
