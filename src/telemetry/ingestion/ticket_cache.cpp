#include "telemetry/ingestion/ticket_cache.h"

namespace tlm {

TLMTicketCache& TLMTicketCache::sharedInstance() {
  static TLMTicketCache cache;
  return cache;
}

std::optional<std::string> TLMTicketCache::ticketFor(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = tickets_.find(key);
  if (it == tickets_.end()) return std::nullopt;
  return it->second;
}

void TLMTicketCache::setTicket(const std::optional<std::string>& ticket, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (ticket) {
    tickets_[key] = *ticket;
  } else {
    tickets_.erase(key);
  }
}

void TLMTicketCache::clearCache() {
  std::lock_guard lock(mutex_);
  tickets_.clear();
}

}  // namespace tlm
