#pragma once

#include <string>
#include <vector>

namespace tlm {

// Implemented by logs that name authentication tickets (the ticket keys of a
// common-schema log's protocol extension); their tickets go with the request.
class TLMTicketKeysProvider {
 public:
  virtual ~TLMTicketKeysProvider() = default;
  virtual std::vector<std::string> ticketKeys() const = 0;
};

}  // namespace tlm
