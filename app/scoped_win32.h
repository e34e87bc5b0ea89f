// Owners for Win32 handles and similar resources: each closes what it holds
// exactly once, on every way out of the scope that opened it, exceptions
// included. Nothing outside this file closes a handle by hand.
#pragma once
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

// Traits name the handle type, its "holds nothing" value and how it is closed;
// Close returns whether the close itself succeeded.
template <typename Traits>
class Scoped {
 public:
  using Handle = typename Traits::Handle;

  Scoped() = default;
  explicit Scoped(Handle handle) : handle_(handle) {}
  ~Scoped() { reset(); }
  Scoped(Scoped&& other) noexcept : handle_(other.release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  // Gives the handle up without closing it.
  Handle release() {
    const Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }

  // Closes the present handle, if any, and holds the new one.
  void reset(Handle handle = Traits::Invalid()) {
    if (handle_ != Traits::Invalid()) Traits::Close(handle_);
    handle_ = handle;
  }

  // Closes now and says whether the close succeeded: for a written file, whose
  // close can be the first to report a failed write.
  bool close() {
    if (handle_ == Traits::Invalid()) return true;
    return Traits::Close(release());
  }

  // For a function that returns the handle through an out-parameter: closes
  // the present one and hands out the slot to fill.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

// The traits of a handle type H closed by CloseFn, whose "holds nothing" value
// is INVALID_HANDLE_VALUE when kMinusOneInvalid, else NULL.
template <typename H, BOOL(WINAPI* CloseFn)(H), bool kMinusOneInvalid>
struct HandleTraits {
  using Handle = H;
  static Handle Invalid() { return kMinusOneInvalid ? INVALID_HANDLE_VALUE : nullptr; }
  static bool Close(Handle handle) { return CloseFn(handle) != 0; }
};

using ScopedHandle = Scoped<HandleTraits<HANDLE, CloseHandle, false>>;     // threads, processes, events
using ScopedFile = Scoped<HandleTraits<HANDLE, CloseHandle, true>>;        // CreateFileW
using ScopedInternet = Scoped<HandleTraits<HINTERNET, WinHttpCloseHandle, false>>;
using ScopedFind = Scoped<HandleTraits<HANDLE, FindClose, true>>;          // FindFirstFileW

// CNG's handles, whose closers return a status rather than a BOOL.
struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return BCryptCloseAlgorithmProvider(handle, 0) == 0; }
};
struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return BCryptDestroyKey(handle) == 0; }
};
using ScopedAlgorithm = Scoped<AlgorithmTraits>;
using ScopedKey = Scoped<KeyTraits>;
