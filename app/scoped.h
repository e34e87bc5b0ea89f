// Owners of resources that close: each closes what it holds exactly once, on
// every way out of the scope that opened it, exceptions included. Nothing
// closes a handle, a descriptor or a C file by hand; the Win32 handles' owners
// are in app/scoped_win32.h.
#pragma once
#include <cstdio>

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

// A C stream from fopen or _wfopen.
struct StdFileTraits {
  using Handle = FILE*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle file) { return std::fclose(file) == 0; }
};
using ScopedStdFile = Scoped<StdFileTraits>;
