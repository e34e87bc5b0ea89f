// The launcher's own version, from the build (MORVEL_LAUNCHER_VERSION in the
// CMake cache): a test build raises it to play a published newer launcher.
#include "update/launcher_version.h"

#if !defined(MORVEL_LAUNCHER_VERSION)
#error "MORVEL_LAUNCHER_VERSION comes from the build"
#endif
static_assert(MORVEL_LAUNCHER_VERSION > 0, "launcher version out of range");

const int32_t kLauncherVersion = MORVEL_LAUNCHER_VERSION;
