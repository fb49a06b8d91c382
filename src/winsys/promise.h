#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dispatch/queue.h"
#include "winsys/errors.h"

namespace wendrix::winsys {

template <class T>
class Promise;

namespace detail {

template <class T>
struct PromiseState {
  explicit PromiseState(dispatch::Queue& q) : queue(&q) {}

  using Handler = std::function<void(const base::Result<T>&)>;

  // Waiting handlers in registration order; most promises get just one,
  // which is kept without a vector.
  void add(Handler handler) {
    if (!first) {
      first.emplace(std::move(handler));
    } else {
      more.push_back(std::move(handler));
    }
  }
  std::vector<Handler> take() {
    std::vector<Handler> all;
    if (!first) return all;
    all.reserve(1 + more.size());
    all.push_back(std::move(*first));
    first.reset();
    for (auto& handler : more)
      all.push_back(std::move(handler));
    more.clear();
    return all;
  }

  dispatch::Queue* queue;
  std::optional<base::Result<T>> result;
  std::optional<Handler> first;
  std::vector<Handler> more;
};

template <class P>
struct IsPromise : std::false_type {};
template <class U>
struct IsPromise<Promise<U>> : std::true_type {};

}  // namespace detail

// Settles its promise. Only the first fulfil or reject counts; later calls
// return false and change nothing. Copies settle the same promise.
template <class T>
class Resolver {
 public:
  bool fulfill(T value) const { return settle(base::Result<T>(std::move(value))); }
  bool reject(base::Error error) const { return settle(base::Result<T>(std::move(error))); }

  bool settle(base::Result<T> result) const {
    if (state_->result) return false;
    state_->result.emplace(std::move(result));
    if (!state_->first) return true;
    if (state_->more.empty()) {
      auto handler = std::move(*state_->first);
      state_->first.reset();
      post(std::move(handler));
      return true;
    }
    for (auto& handler : state_->take())
      post(std::move(handler));
    return true;
  }

 private:
  friend class Promise<T>;
  explicit Resolver(std::shared_ptr<detail::PromiseState<T>> state) : state_(std::move(state)) {}

  void post(std::function<void(const base::Result<T>&)> handler) const {
    state_->queue->async(
        [state = state_, handler = std::move(handler)] { handler(*state->result); });
  }

  std::shared_ptr<detail::PromiseState<T>> state_;
};

// The eventual result of a window-system call: fulfilled with a value or
// rejected with an error, exactly once. Handlers always run later on the
// promise's queue (the main queue), never inside the call that registers them
// or settles the promise. Single-threaded: settle and register on the queue's
// thread.
template <class T>
class Promise {
 public:
  using value_type = T;
  using Handler = std::function<void(const base::Result<T>&)>;

  static std::pair<Promise, Resolver<T>> pending(dispatch::Queue& queue) {
    auto state = std::make_shared<detail::PromiseState<T>>(queue);
    return {Promise(state), Resolver<T>(state)};
  }
  static Promise value(dispatch::Queue& queue, T v) {
    auto [promise, resolver] = pending(queue);
    resolver.fulfill(std::move(v));
    return promise;
  }
  static Promise error(dispatch::Queue& queue, base::Error e) {
    auto [promise, resolver] = pending(queue);
    resolver.reject(std::move(e));
    return promise;
  }

  bool isPending() const { return !state_->result.has_value(); }
  // The result once settled.
  const std::optional<base::Result<T>>& result() const { return state_->result; }
  dispatch::Queue& queue() const { return *state_->queue; }

  // Runs `handler` with the result once settled.
  void done(Handler handler) const {
    if (state_->result) {
      Resolver<T>(state_).post(std::move(handler));
    } else {
      state_->add(std::move(handler));
    }
  }

  // On fulfilment, continues with the promise `f` returns; a rejection passes
  // through untouched.
  template <class F>
  auto then(F f) const -> std::invoke_result_t<F, const T&> {
    using Next = std::invoke_result_t<F, const T&>;
    static_assert(detail::IsPromise<Next>::value, "then() needs a function returning a Promise");
    using U = typename Next::value_type;
    auto [next, resolver] = Next::pending(*state_->queue);
    done([f = std::move(f), resolver = resolver](const base::Result<T>& r) {
      if (!r.ok()) {
        resolver.reject(r.error());
        return;
      }
      f(r.value()).done([resolver](const base::Result<U>& u) { resolver.settle(u); });
    });
    return next;
  }

  // On fulfilment, the value `f` makes of it.
  template <class F>
  auto map(F f) const -> Promise<std::invoke_result_t<F, const T&>> {
    using U = std::invoke_result_t<F, const T&>;
    auto [next, resolver] = Promise<U>::pending(*state_->queue);
    done([f = std::move(f), resolver = resolver](const base::Result<T>& r) {
      if (r.ok()) {
        resolver.fulfill(f(r.value()));
      } else {
        resolver.reject(r.error());
      }
    });
    return next;
  }

  // On rejection, continues with the promise `f` returns. A cancellation is
  // not recovered: it passes through.
  template <class F>
  Promise recover(F f) const {
    auto [next, resolver] = pending(*state_->queue);
    done([f = std::move(f), resolver = resolver](const base::Result<T>& r) {
      if (r.ok() || PromiseCancelled::is(r.error())) {
        resolver.settle(r);
        return;
      }
      f(r.error()).done([resolver](const base::Result<T>& u) { resolver.settle(u); });
    });
    return next;
  }

 private:
  explicit Promise(std::shared_ptr<detail::PromiseState<T>> state) : state_(std::move(state)) {}

  std::shared_ptr<detail::PromiseState<T>> state_;
};

}  // namespace wendrix::winsys
