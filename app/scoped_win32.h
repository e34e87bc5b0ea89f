// Owners for Win32 handles and similar resources, on the template of
// app/scoped.h. Nothing outside these files closes a handle by hand.
#pragma once
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include "app/scoped.h"

// The traits of a handle type H closed by CloseFn, whose "holds nothing" value
// is INVALID_HANDLE_VALUE when kMinusOneInvalid, else NULL.
template <typename H, BOOL(WINAPI* CloseFn)(H), bool kMinusOneInvalid>
struct HandleTraits {
  using Handle = H;
  static Handle Invalid() { return kMinusOneInvalid ? INVALID_HANDLE_VALUE : nullptr; }
  static bool Close(Handle handle) { return CloseFn(handle) != 0; }
};

using ScopedHandle = Scoped<HandleTraits<HANDLE, CloseHandle, false>>;     // threads, processes, events
using ScopedFile = Scoped<HandleTraits<HANDLE, CloseHandle, true>>;        // CreateFileW (the product opens by File)
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

// Memory the system allocated for the caller with LocalAlloc (FormatMessageW's
// FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle memory) { return LocalFree(memory) == nullptr; }
};
using ScopedLocal = Scoped<LocalMemoryTraits>;
