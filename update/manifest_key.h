// The public key the file host's manifests must be signed with: built into each
// launcher exe beside its file host (MORVEL_MANIFEST_KEY in the CMake cache).
// Empty when the build has none; the manifest is then read unsigned, as before.
#pragma once
#include <string>

std::string ManifestKeyText();
