#pragma once

// A vector whose elements are shared by its copies until one of them is
// changed (copy on write): a copy costs one reference count, so records that
// hold long lists copy cheaply. Reading never copies the elements; `edit`
// copies them first when another copy shares them, so a change is never
// seen through another copy. Like any value, one object is not used from
// two threads at once; copies may live on different threads.

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace base {

template <class T>
class SharedVector {
 public:
  using value_type = T;
  using size_type = std::size_t;
  using const_iterator = typename std::vector<T>::const_iterator;
  using iterator = const_iterator;
  using const_reference = const T&;
  using reference = const T&;

  SharedVector() = default;
  SharedVector(std::vector<T> items)  // NOLINT: a vector converts implicitly
      : items_(items.empty() ? nullptr : std::make_shared<std::vector<T>>(std::move(items))) {}
  SharedVector(std::initializer_list<T> items) : SharedVector(std::vector<T>(items)) {}

  const std::vector<T>& items() const { return items_ ? *items_ : empty_; }
  operator const std::vector<T>&() const { return items(); }  // NOLINT

  std::size_t size() const { return items_ ? items_->size() : 0; }
  bool empty() const { return size() == 0; }
  const_iterator begin() const { return items().begin(); }
  const_iterator end() const { return items().end(); }
  const T& operator[](std::size_t i) const { return (*items_)[i]; }
  const T& at(std::size_t i) const { return items().at(i); }
  const T& front() const { return items_->front(); }
  const T& back() const { return items_->back(); }

  // The elements to change, no longer shared with any other copy.
  std::vector<T>& edit() {
    if (!items_) {
      items_ = std::make_shared<std::vector<T>>();
    } else if (items_.use_count() > 1) {
      items_ = std::make_shared<std::vector<T>>(*items_);
    }
    return *items_;
  }
  void push_back(T item) { edit().push_back(std::move(item)); }

  friend bool operator==(const SharedVector& a, const SharedVector& b) {
    return a.items_ == b.items_ || a.items() == b.items();
  }

 private:
  static inline const std::vector<T> empty_{};
  std::shared_ptr<std::vector<T>> items_;
};

}  // namespace base
