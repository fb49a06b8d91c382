#pragma once

#include <chrono>

namespace dispatch {

using Duration = std::chrono::nanoseconds;
using WallTime = std::chrono::system_clock::time_point;

// The wall clock, injected wherever a date is taken (log timestamps, layout
// names, session times), so that tests can fix it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual WallTime now() const = 0;
};

class SystemClock final : public Clock {
 public:
  WallTime now() const override { return std::chrono::system_clock::now(); }
  static SystemClock& instance();
};

// A clock that only moves when told to. ManualQueue moves it as virtual time
// passes.
class VirtualClock final : public Clock {
 public:
  // 2024-05-01T10:00:00Z: a fixed, recognisable start for tests.
  static constexpr std::chrono::seconds kDefaultStart{1714557600};

  explicit VirtualClock(WallTime start = WallTime(kDefaultStart)) : now_(start) {}
  WallTime now() const override { return now_; }
  void set(WallTime t) { now_ = t; }
  // Saturates at WallTime::max() rather than overflowing.
  void advance(Duration d) {
    const auto step = std::chrono::duration_cast<WallTime::duration>(d);
    now_ = step >= WallTime::max() - now_ ? WallTime::max() : now_ + step;
  }

 private:
  WallTime now_;
};

}  // namespace dispatch
