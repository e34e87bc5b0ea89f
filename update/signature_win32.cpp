#include "update/signature_win32.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "app/scoped_win32.h"
#include "update/sha256.h"

bool VerifyManifestSignature(std::string_view data, const ManifestSignature& signature, const ManifestPublicKey& key) {
  Sha256 sha;
  uint8_t digest[32];
  for (size_t at = 0; at < data.size();) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(data.size() - at, 1u << 30));
    sha.Update(data.data() + at, piece);
    at += piece;
  }
  if (!DecodeLowerHex(sha.FinishHex(), digest, sizeof digest)) return false;

  ScopedAlgorithm algorithm;
  if (BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return false;
  struct {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t point[64];
  } blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, {}};
  std::memcpy(blob.point, key.data(), key.size());
  ScopedKey public_key;
  if (BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, public_key.put(),
                          reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0) != 0) {
    return false;
  }
  return BCryptVerifySignature(public_key.get(), nullptr, digest, sizeof digest,
                               const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0) == 0;
}
