// The manifest's signature checked with Windows' own CNG (bcrypt.dll).
#pragma once
#include <string_view>

#include "update/manifest_signature.h"

// Whether signature is the key's ECDSA P-256 signature of SHA-256(data).
bool VerifyManifestSignature(std::string_view data, const ManifestSignature& signature, const ManifestPublicKey& key);
