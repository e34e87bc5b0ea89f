// Owners for Win32 handles and similar resources: each closes what it holds
// exactly once, on every way out of the scope that opened it, exceptions
// included. Nothing outside this file closes a handle by hand.
#pragma once
#include <windows.h>
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

// Threads, processes, events: NULL when nothing is held.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return CloseHandle(handle) != 0; }
};

// Files from CreateFileW: INVALID_HANDLE_VALUE when nothing is held.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) { return CloseHandle(handle) != 0; }
};

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return WinHttpCloseHandle(handle) != 0; }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) { return FindClose(handle) != 0; }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedFile = Scoped<FileHandleTraits>;
using ScopedInternet = Scoped<InternetHandleTraits>;
using ScopedFind = Scoped<FindHandleTraits>;
