#include "rx/disposable.h"

#include <algorithm>
#include <utility>

namespace wendrix::rx {

Disposable::Disposable(std::function<void()> action)
    : state_(std::make_shared<Action<std::function<void()>>>(std::move(action))) {}

void Disposable::dispose() const {
  if (!state_ || state_->disposed_) return;
  state_->disposed_ = true;
  // An action is released before it runs, so that whatever it captured is
  // freed even if it disposes this handle again; the state outlives the run
  // even if the action drops this handle.
  const std::shared_ptr<Target> state = state_;
  state->disposeOnce();
}

void Disposable::disposed(DisposeBag& bag) const {
  bag.insert(*this);
}

CompositeDisposable::CompositeDisposable() : state_(std::make_shared<State>()) {}

std::optional<CompositeDisposable::Key> CompositeDisposable::insert(Disposable d) const {
  if (state_->disposed) {
    d.dispose();
    return std::nullopt;
  }
  const Key key = state_->nextKey++;
  // Most groups stay small: skip the first doublings.
  if (state_->members.capacity() == 0) state_->members.reserve(4);
  state_->members.emplace_back(key, std::move(d));
  return key;
}

void CompositeDisposable::remove(Key key) const {
  auto& members = state_->members;
  const auto it = std::lower_bound(members.begin(), members.end(), key,
                                   [](const auto& member, Key k) { return member.first < k; });
  if (it == members.end() || it->first != key) return;
  Disposable d = std::move(it->second);
  state_->members.erase(it);
  d.dispose();
}

void CompositeDisposable::dispose() const {
  state_->disposeOnce();
}

void CompositeDisposable::State::disposeOnce() {
  if (disposed) return;
  disposed = true;
  auto all = std::move(members);
  members.clear();
  for (auto& [key, d] : all)
    d.dispose();
}

Disposable CompositeDisposable::asDisposable() const {
  return Disposable::of(state_);
}

SerialDisposable::SerialDisposable() : state_(std::make_shared<State>()) {}

void detail::SerialSlot::set(Disposable d) {
  if (disposed_) {
    d.dispose();
    return;
  }
  Disposable old = std::move(current_);
  current_ = std::move(d);
  old.dispose();
}

void detail::SerialSlot::dispose() {
  if (disposed_) return;
  disposed_ = true;
  Disposable old = std::move(current_);
  current_ = Disposable();
  old.dispose();
}

void SerialDisposable::set(Disposable d) const {
  state_->slot.set(std::move(d));
}

void SerialDisposable::dispose() const {
  state_->slot.dispose();
}

Disposable SerialDisposable::asDisposable() const {
  return Disposable::of(state_);
}

DisposeBag::~DisposeBag() {
  // Disposing may run code that inserts into this bag; keep going until it
  // stays empty.
  while (!items_.empty()) {
    auto items = std::move(items_);
    items_.clear();
    for (auto& d : items)
      d.dispose();
  }
}

void DisposeBag::insert(Disposable d) {
  // Most bags hold a few: skip the first doublings.
  if (items_.capacity() == 0) items_.reserve(4);
  items_.push_back(std::move(d));
}

}  // namespace wendrix::rx
