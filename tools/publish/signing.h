// The manifest's signature on the publishing side (OpenSSL): the key pair, the
// signature line of every manifest written, and its check in verify.
#pragma once
#include <string>

#include "tools/publish/platform.h"
#include "update/manifest_signature.h"

namespace publish {

// A new P-256 key pair: the private key as PEM at key_path (owner-only, never
// overwriting a file), the public key's text (PublicKeyText) at key_path + ".pub".
bool MakeKeyPair(const fs::path& key_path, std::string& public_text, std::string& error);

// Whether key_path holds a P-256 private key this tool can sign with.
bool CanSignWith(const fs::path& key_path, std::string& error);

// text followed by its signature line.
bool SignManifestText(const fs::path& key_path, const std::string& text, std::string& signed_text,
                      std::string& error);

// The public key in a ".pub" file (its first line, as MakeKeyPair writes it).
bool ReadPublicKeyFile(const fs::path& path, ManifestPublicKey& key, std::string& error);

// Whether the signature is the key's ECDSA P-256 signature of SHA-256(data).
bool SignatureMatches(std::string_view data, const ManifestSignature& signature, const ManifestPublicKey& key);

}  // namespace publish
