#pragma once

// Checks the order in which real-clock timers fired. A timer's due time is
// read by the queue somewhere between the test's clock reads just before and
// just after after(); on a loaded machine the test thread can be preempted
// between two calls for longer than the gap between their delays, so only the
// orders that these windows make certain are required.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "dispatch/queue.h"

namespace dispatch {

class TimerOrder {
 public:
  using SteadyClock = std::chrono::steady_clock;

  // Sets a timer on `queue`; `fired(name, late)` runs on the queue when it
  // fires, `late` being its fire time minus the earliest time it could have
  // been due.
  void add(Queue& queue, const std::string& name, Duration delay,
           std::function<void(const std::string&, Duration)> fired) {
    const auto earliest = SteadyClock::now() + delay;
    queue.after(delay, [fired = std::move(fired), name, earliest] {
      fired(name, SteadyClock::now() - earliest);
    });
    const auto after = SteadyClock::now();
    // A past delay may be taken as due now.
    windows_.push_back({name, earliest, after + std::max(delay, Duration::zero())});
  }

  // `names` is the order they fired in. Timers due at the same time fire in
  // the order they were set.
  void expectOrder(const std::vector<std::string>& names) const {
    ASSERT_EQ(names.size(), windows_.size());
    auto position = [&](const std::string& name) {
      return std::find(names.begin(), names.end(), name) - names.begin();
    };
    for (std::size_t i = 0; i < windows_.size(); ++i) {
      for (std::size_t j = i + 1; j < windows_.size(); ++j) {
        const Window& first = windows_[i];  // set first
        const Window& second = windows_[j];
        if (first.latest <= second.earliest) {
          EXPECT_LT(position(first.name), position(second.name))
              << first.name << " was due first but fired after " << second.name;
        } else if (second.latest < first.earliest) {
          EXPECT_LT(position(second.name), position(first.name))
              << second.name << " was due first but fired after " << first.name;
        }
      }
    }
  }

 private:
  struct Window {
    std::string name;
    SteadyClock::time_point earliest;
    SteadyClock::time_point latest;
  };
  std::vector<Window> windows_;
};

}  // namespace dispatch
