// The manifest's signature line: ECDSA P-256 over SHA-256 of every byte before
// it, as "sig" TAB r and s in lower-case hex (64 bytes, 128 characters). It is
// the last line, so nothing unsigned can follow it; launchers that know no key
// skip it like any line of an unknown kind.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using ManifestSignature = std::array<uint8_t, 64>;  // r then s, big-endian
using ManifestPublicKey = std::array<uint8_t, 64>;  // the point's X then Y, big-endian

// Splits a signed manifest text at its last line: the signed bytes (everything
// before that line, line feed included) and the signature. false unless the
// last line is a well-formed signature line (one final line feed allowed).
bool SplitSignedManifest(std::string_view text, std::string_view& signed_part, ManifestSignature& signature);

// Exactly 2 * size lower-case hex characters into size bytes.
bool DecodeLowerHex(std::string_view hex, uint8_t* out, size_t size);

// The line that SplitSignedManifest reads back, with its line feed.
std::string SignatureLine(const ManifestSignature& signature);

// A public key as the build takes it: the uncompressed point, "04" then X and
// Y, 130 hex characters (either case). false for anything else.
bool ParsePublicKey(std::string_view hex, ManifestPublicKey& key);
std::string PublicKeyText(const ManifestPublicKey& key);
