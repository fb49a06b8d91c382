#pragma once

// `share`: one subscription of the source multicast to many subscribers,
// with a replay buffer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "rx/detail/sink.h"
#include "rx/observable.h"

namespace wendrix::rx {

namespace detail {

// One subscriber of a connection; a dead one has left.
template <class T>
struct ShareEntry {
  std::uint64_t key;
  AnyObserver<T> observer;
  bool live;
};

// The subscribers, buffer and source subscription of one connection. With
// the forever scope there is only ever one; it remembers the stop event.
template <class T>
struct ShareConnection {
  std::size_t replay = 0;
  SubjectLifetimeScope scope = SubjectLifetimeScope::whileConnected;
  // The subscribers in subscription order (keys only grow). One that left is
  // a dead entry until the list is compacted, so that leaving costs no
  // search through a tree and no shift of the list.
  std::vector<ShareEntry<T>> observers;
  std::size_t live = 0;
  std::uint64_t nextKey = 0;
  // The last `replay` elements, oldest first (a short vector: a deque
  // allocates even while empty).
  std::vector<T> buffer;
  std::optional<Event<T>> stop;
  Disposable source;
  bool connected = false;
  // Counts connections made, so that a subscription that returns after a
  // nested reconnection does not overwrite the newer one.
  std::uint64_t generation = 0;
};

template <class T>
class ShareState {
 public:
  ShareState(Observable<T> source, std::size_t replay, SubjectLifetimeScope scope)
      : source_(std::move(source)), replay_(replay), scope_(scope) {}

  static Disposable subscribe(const std::shared_ptr<ShareState>& self, const AnyObserver<T>& o) {
    if (!self->connection_) {
      self->connection_ = std::make_shared<ShareConnection<T>>();
      self->connection_->replay = self->replay_;
      self->connection_->scope = self->scope_;
    }
    auto c = self->connection_;
    // Copies: the observer may cause new elements while it gets these. One
    // element (the usual replay) goes out without a list of its own.
    if (c->buffer.size() == 1) {
      o.on(Event<T>::next(c->buffer.front()));
    } else if (!c->buffer.empty()) {
      std::vector<T> replayed = c->buffer;
      for (auto&& v : replayed)
        o.onNext(std::move(v));
    }
    if (c->stop) {
      o.on(*c->stop);
      return Disposable();
    }
    const std::uint64_t key = c->nextKey++;
    c->observers.push_back(ShareEntry<T>{key, o, true});
    ++c->live;
    // While connected, the connection's closures hold the shared stream, so
    // that a stream with subscribers stays alive even when nothing else holds
    // it; they are released when the connection ends.
    if (!c->connected) {
      c->connected = true;
      const std::uint64_t generation = ++c->generation;
      Disposable d = self->source_.subscribe(
          observer<T>([self, c](const Event<T>& e) { deliver(self, c, e); }));
      if (c->connected && c->generation == generation) {
        c->source = d;
      } else {
        d.dispose();
      }
    }
    return Disposable([self, c, key] { unsubscribe(self, c, key); });
  }

 private:
  static void deliver(const std::shared_ptr<ShareState>& self,
                      const std::shared_ptr<ShareConnection<T>>& c, const Event<T>& e) {
    if (e.isNext()) {
      if (c->replay > 0) {
        c->buffer.push_back(e.element());
        if (c->buffer.size() > c->replay) {
          c->buffer.erase(c->buffer.begin(), c->buffer.begin() + static_cast<std::ptrdiff_t>(
                                                                     c->buffer.size() - c->replay));
        }
      }
      for (const auto& o : snapshot(c))
        o.on(e);
      return;
    }
    c->connected = false;
    ++c->generation;
    if (c->scope == SubjectLifetimeScope::forever) {
      c->stop = e;
    } else {
      detach(self, c);
    }
    auto observers = snapshot(c);
    c->observers.clear();
    c->live = 0;
    Disposable source = std::move(c->source);
    c->source = Disposable();
    for (const auto& o : observers)
      o.on(e);
    source.dispose();
  }

  static void unsubscribe(const std::shared_ptr<ShareState>& self,
                          const std::shared_ptr<ShareConnection<T>>& c, std::uint64_t key) {
    auto& observers = c->observers;
    const auto it =
        std::lower_bound(observers.begin(), observers.end(), key,
                         [](const ShareEntry<T>& entry, std::uint64_t k) { return entry.key < k; });
    if (it == observers.end() || it->key != key || !it->live) return;
    {
      // Released before the connection is looked at, as an erased entry's
      // observer would be (its release may subscribe again).
      AnyObserver<T> leaving = std::move(it->observer);
      it->live = false;
      --c->live;
      const std::size_t dead = observers.size() - c->live;
      if (dead >= 16 && dead * 2 > observers.size())
        std::erase_if(observers, [](const ShareEntry<T>& entry) { return !entry.live; });
    }
    if (c->live > 0 || !c->connected) return;
    c->connected = false;
    ++c->generation;
    if (c->scope == SubjectLifetimeScope::whileConnected) detach(self, c);
    Disposable source = std::move(c->source);
    c->source = Disposable();
    source.dispose();
  }

  // Ends a whileConnected connection: the next subscriber starts afresh.
  static void detach(const std::shared_ptr<ShareState>& self,
                     const std::shared_ptr<ShareConnection<T>>& c) {
    if (self->connection_ == c) self->connection_ = nullptr;
  }

  static std::vector<AnyObserver<T>> snapshot(const std::shared_ptr<ShareConnection<T>>& c) {
    std::vector<AnyObserver<T>> observers;
    observers.reserve(c->live);
    for (const ShareEntry<T>& entry : c->observers)
      if (entry.live) observers.push_back(entry.observer);
    return observers;
  }

  Observable<T> source_;
  std::size_t replay_;
  SubjectLifetimeScope scope_;
  std::shared_ptr<ShareConnection<T>> connection_;
};

}  // namespace detail

template <class T>
Observable<T> Observable<T>::share(std::size_t replay, SubjectLifetimeScope scope) const {
  auto state = std::make_shared<detail::ShareState<T>>(*this, replay, scope);
  return Observable(
      [state](const AnyObserver<T>& o) { return detail::ShareState<T>::subscribe(state, o); });
}

}  // namespace wendrix::rx
