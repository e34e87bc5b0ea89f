// The version of this launcher; a manifest naming a higher one triggers the
// self-update at start-up. Built into each launcher exe beside its file host.
#pragma once
#include <cstdint>

extern const int32_t kLauncherVersion;
