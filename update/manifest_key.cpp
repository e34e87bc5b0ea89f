// The manifest key from the build (MORVEL_MANIFEST_KEY in the CMake cache).
#include "update/manifest_key.h"

#if !defined(MORVEL_MANIFEST_KEY)
#error "MORVEL_MANIFEST_KEY comes from the build"
#endif

std::string ManifestKeyText() { return MORVEL_MANIFEST_KEY; }
