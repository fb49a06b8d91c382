#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tlm {

// The process-wide store of authentication tickets, by ticket key.
class TLMTicketCache {
 public:
  static TLMTicketCache& sharedInstance();

  std::optional<std::string> ticketFor(const std::string& key) const;
  // No ticket removes the entry.
  void setTicket(const std::optional<std::string>& ticket, const std::string& key);
  void clearCache();

 private:
  TLMTicketCache() = default;

  mutable std::mutex mutex_;
  std::map<std::string, std::string> tickets_;
};

}  // namespace tlm
