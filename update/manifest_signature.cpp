#include "update/manifest_signature.h"

namespace {

constexpr std::string_view kSignaturePrefix = "sig\t";
constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c, bool upper_allowed) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (upper_allowed && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly 2 * size hex characters into size bytes.
bool DecodeHex(std::string_view hex, uint8_t* out, size_t size, bool upper_allowed) {
  if (hex.size() != 2 * size) return false;
  for (size_t i = 0; i < size; ++i) {
    const int high = HexValue(hex[2 * i], upper_allowed);
    const int low = HexValue(hex[2 * i + 1], upper_allowed);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

std::string EncodeHex(const uint8_t* bytes, size_t size) {
  std::string hex;
  hex.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    hex += kHexDigits[bytes[i] >> 4];
    hex += kHexDigits[bytes[i] & 15];
  }
  return hex;
}

}  // namespace

bool DecodeLowerHex(std::string_view hex, uint8_t* out, size_t size) { return DecodeHex(hex, out, size, false); }

bool SplitSignedManifest(std::string_view text, std::string_view& signed_part, ManifestSignature& signature) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  const size_t line_start = text.rfind('\n') == std::string_view::npos ? 0 : text.rfind('\n') + 1;
  const std::string_view line = text.substr(line_start);
  if (line.substr(0, kSignaturePrefix.size()) != kSignaturePrefix) return false;
  // Lower case only, as written: one signature has exactly one spelling.
  if (!DecodeLowerHex(line.substr(kSignaturePrefix.size()), signature.data(), signature.size())) return false;
  signed_part = text.substr(0, line_start);
  return true;
}

std::string SignatureLine(const ManifestSignature& signature) {
  return std::string(kSignaturePrefix) + EncodeHex(signature.data(), signature.size()) + "\n";
}

bool ParsePublicKey(std::string_view hex, ManifestPublicKey& key) {
  return hex.size() == 130 && hex.substr(0, 2) == "04" && DecodeHex(hex.substr(2), key.data(), key.size(), true);
}

std::string PublicKeyText(const ManifestPublicKey& key) { return "04" + EncodeHex(key.data(), key.size()); }
