// Owners of COM interface pointers, on the template of app/scoped_win32.h:
// Release exactly once, never by hand.
#pragma once
#include <objbase.h>

#include "app/scoped_win32.h"

template <typename Interface>
struct ComTraits {
  using Handle = Interface*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle object) {
    object->Release();
    return true;
  }
};

template <typename Interface>
using ComOwner = Scoped<ComTraits<Interface>>;

// The out-parameter of CoCreateInstance and QueryInterface.
template <typename Interface>
void** ComSlot(ComOwner<Interface>& owner) {
  return reinterpret_cast<void**>(owner.put());
}
