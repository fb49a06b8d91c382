#include "crashcapture/capture/reporter_setup/log_writer_facts.h"

#include <random>

#include "crashcapture/capture/writer_setup/log_writer_setup.h"

namespace tlcrash {
namespace {

std::array<std::uint8_t, 16> randomUuid() {
  std::random_device random;
  std::array<std::uint8_t, 16> uuid{};
  for (std::size_t i = 0; i < uuid.size(); i += 4) {
    const auto word = random();
    for (std::size_t j = 0; j < 4; ++j)
      uuid[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
  }
  uuid[6] = static_cast<std::uint8_t>((uuid[6] & 0x0f) | 0x40);  // version 4
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3f) | 0x80);  // RFC 4122 variant
  return uuid;
}

}  // namespace

tlcrash_error_t tlcrash_log_writer_init(tlcrash_log_writer* writer, TLCrashPlatform& platform,
                                        const std::string& applicationIdentifier,
                                        const std::string& applicationVersion,
                                        const std::optional<std::string>& marketingVersion,
                                        std::uint32_t symbolicationStrategy, bool userRequested) {
  TLCrashLogWriterFacts facts;
  facts.symbolicationStrategy = symbolicationStrategy;
  facts.userRequested = userRequested;
  facts.reportUuid = randomUuid();
  facts.applicationIdentifier = applicationIdentifier;
  facts.applicationVersion = applicationVersion;
  facts.applicationMarketingVersion = marketingVersion;

  const bool known = platform.systemFacts(&facts);
  tlcrash_log_writer_init_with_facts(writer, facts);
  return known ? tlcrash_error_t::success : tlcrash_error_t::invalidArgument;
}

}  // namespace tlcrash
