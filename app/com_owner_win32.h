// Owner of one COM interface pointer: Release on destruction, never by hand.
#pragma once
#include <objbase.h>

template <typename Interface>
class ComOwner {
 public:
  ComOwner() = default;
  ~ComOwner() { reset(); }
  ComOwner(const ComOwner&) = delete;
  ComOwner& operator=(const ComOwner&) = delete;

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  void reset() {
    if (pointer_) pointer_->Release();
    pointer_ = nullptr;
  }
  // For the out-parameter of CoCreateInstance and QueryInterface.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&pointer_);
  }

 private:
  Interface* pointer_ = nullptr;
};
