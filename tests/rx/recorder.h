#pragma once

// Test helpers for streams on virtual time: a recorder of (time, event)
// lists, scripted hot sources and a source that logs its subscriptions.

#include <chrono>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "dispatch/manual_queue.h"
#include "rx/rx.h"

namespace wendrix::rx::testing {

// The error the tests make streams fail with.
inline const Error kBoom("test", 1, "boom");

using std::chrono::milliseconds;

template <class T>
struct Recorded {
  milliseconds time;
  Event<T> event;

  friend bool operator==(const Recorded&, const Recorded&) = default;
};

template <class T>
std::ostream& operator<<(std::ostream& os, const Recorded<T>& r) {
  return os << "@" << r.time.count() << " " << r.event;
}

template <class T>
Recorded<T> next(long ms, T value) {
  return {milliseconds(ms), Event<T>::next(std::move(value))};
}
template <class T>
Recorded<T> completed(long ms) {
  return {milliseconds(ms), Event<T>::completed()};
}
template <class T>
Recorded<T> failed(long ms, Error e) {
  return {milliseconds(ms), Event<T>::error(std::move(e))};
}

inline milliseconds now(const dispatch::ManualQueue& queue) {
  return std::chrono::duration_cast<milliseconds>(queue.elapsed());
}

// Records every event it observes with the virtual time of its arrival.
template <class T>
class Recorder {
 public:
  explicit Recorder(const dispatch::ManualQueue& queue)
      : queue_(queue), events_(std::make_shared<std::vector<Recorded<T>>>()) {}

  AnyObserver<T> observer() const {
    return AnyObserver<T>([queue = &queue_, events = events_](const Event<T>& e) {
      events->push_back({now(*queue), e});
    });
  }
  const std::vector<Recorded<T>>& events() const { return *events_; }
  std::vector<T> values() const {
    std::vector<T> result;
    for (const auto& r : *events_) {
      if (r.event.isNext()) result.push_back(r.event.element());
    }
    return result;
  }

 private:
  const dispatch::ManualQueue& queue_;
  std::shared_ptr<std::vector<Recorded<T>>> events_;
};

// Sends each recorded event into `subject` at its virtual time.
template <class T>
void script(dispatch::ManualQueue& queue, const PublishSubject<T>& subject,
            const std::vector<Recorded<T>>& events) {
  for (const auto& r : events) {
    queue.after(r.time - now(queue), [subject, e = r.event] { subject.on(e); });
  }
}

// Subscribe and dispose times of a tracked source.
struct Subscription {
  milliseconds subscribed;
  std::optional<milliseconds> disposed;

  friend bool operator==(const Subscription&, const Subscription&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const Subscription& s) {
  os << "(" << s.subscribed.count() << ", ";
  if (s.disposed) {
    os << s.disposed->count();
  } else {
    os << "-";
  }
  return os << ")";
}

// Wraps `source` so that each subscription and its end are logged.
template <class T>
class Tracked {
 public:
  Tracked(const dispatch::ManualQueue& queue, Observable<T> source)
      : log_(std::make_shared<std::vector<Subscription>>()),
        stream_(Observable<T>([queue = &queue, log = log_, source](const AnyObserver<T>& o) {
          const std::size_t index = log->size();
          log->push_back({now(*queue), std::nullopt});
          Disposable d = source.subscribe(o);
          return Disposable([queue, log, index, d] {
            d.dispose();
            (*log)[index].disposed = now(*queue);
          });
        })) {}

  const Observable<T>& stream() const { return stream_; }
  const std::vector<Subscription>& subscriptions() const { return *log_; }

 private:
  std::shared_ptr<std::vector<Subscription>> log_;
  Observable<T> stream_;
};

}  // namespace wendrix::rx::testing
