#pragma once

#include <cassert>
#include <concepts>
#include <ostream>
#include <utility>
#include <variant>

#include "rx/rx_error.h"

namespace wendrix::rx {

// The element of streams that carry no data ("something happened").
struct Unit {
  friend bool operator==(Unit, Unit) = default;
};

inline std::ostream& operator<<(std::ostream& os, Unit) {
  return os << "()";
}

// One notification of a stream: an element, an error, or completion. Error
// and completion end the stream.
template <class T>
class Event {
 public:
  using Element = T;

  static Event next(T value) { return Event(std::in_place_index<0>, std::move(value)); }
  static Event error(Error error) { return Event(std::in_place_index<1>, std::move(error)); }
  static Event completed() { return Event(std::in_place_index<2>, Done{}); }

  bool isNext() const { return v_.index() == 0; }
  bool isError() const { return v_.index() == 1; }
  bool isCompleted() const { return v_.index() == 2; }
  bool isStopEvent() const { return !isNext(); }

  const T& element() const {
    assert(isNext());
    return std::get<0>(v_);
  }
  const Error& error() const {
    assert(isError());
    return std::get<1>(v_);
  }

  // The same stop event for a stream of another element type.
  template <class U>
  Event<U> stopAs() const {
    assert(isStopEvent());
    return isError() ? Event<U>::error(error()) : Event<U>::completed();
  }

  friend bool operator==(const Event& a, const Event& b) requires std::equality_comparable<T> {
    return a.v_ == b.v_;
  }

 private:
  struct Done {
    friend bool operator==(Done, Done) = default;
  };

  template <std::size_t I, class A>
  Event(std::in_place_index_t<I> i, A&& a) : v_(i, std::forward<A>(a)) {}

  std::variant<T, Error, Done> v_;
};

template <class T>
std::ostream& operator<<(std::ostream& os, const Event<T>& e) {
  if (e.isNext()) {
    if constexpr (requires { os << e.element(); }) {
      return os << "next(" << e.element() << ")";
    } else {
      return os << "next(...)";
    }
  }
  if (e.isError()) return os << "error(" << e.error() << ")";
  return os << "completed";
}

}  // namespace wendrix::rx
