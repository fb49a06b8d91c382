#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/error.h"

namespace base {

// Either a value or an Error. Use `ok()` before `value()`; `error()` is only
// meaningful when `!ok()`.
template <class T>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<std::decay_t<T>, Error>, "Result<Error> is ambiguous");

 public:
  using value_type = T;

  Result(const T& value) : v_(std::in_place_index<0>, value) {}
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class U>
  requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::decay_t<U>, T> &&
           !std::is_same_v<std::decay_t<U>, Error> && !std::is_same_v<std::decay_t<U>, Result<T>>)
      Result(U&& value)
      : v_(std::in_place_index<0>, T(std::forward<U>(value))) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(v_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(v_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(v_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Error& error() const {
    assert(!ok());
    return std::get<1>(v_);
  }

  template <class U>
  T valueOr(U&& fallback) const& {
    return ok() ? std::get<0>(v_) : T(std::forward<U>(fallback));
  }

 private:
  std::variant<T, Error> v_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const {
    assert(!ok_);
    return error_;
  }

 private:
  Error error_;
  bool ok_ = true;
};

using Status = Result<void>;

}  // namespace base
