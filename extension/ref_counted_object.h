// Adds the atomic reference count to a host-facing interface implementation.
// A new object starts at 0; its maker takes the first reference with addRef
// before handing it out.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace tavro {

template <class T>
class RefCountedObject final : public T {
 public:
  template <class... Args>
  explicit RefCountedObject(Args&&... args) : T(std::forward<Args>(args)...) {}

  void addRef() const override { count_.fetch_add(1); }

  // 0 when this dropped the last reference (the object is destroyed then),
  // 1 otherwise.
  int32_t release() const override {
    if (count_.fetch_sub(1) == 1) {
      delete this;
      return 0;
    }
    return 1;
  }

  bool hasOneRef() const override { return count_.load() == 1; }

 private:
  ~RefCountedObject() override = default;

  mutable std::atomic<int32_t> count_{0};
};

}  // namespace tavro
