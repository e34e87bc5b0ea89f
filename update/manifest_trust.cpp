#include "update/manifest_trust.h"

#include "update/manifest_rules.h"

ManifestVerdict JudgeManifest(const Manifest& manifest, uint64_t recorded_serial, uint64_t now) {
  if (manifest.files.empty()) return ManifestVerdict::NoFiles;
  if (manifest.serial < recorded_serial) return ManifestVerdict::Older;
  if (manifest.expires != 0 && now > manifest.expires && now - manifest.expires > kExpiryLeewaySeconds) {
    return ManifestVerdict::Expired;
  }
  return ManifestVerdict::Usable;
}

std::string SerialRecordText(uint64_t serial) { return std::to_string(serial) + "\n"; }

uint64_t ReadSerialRecordText(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  uint64_t serial = 0;
  return ReadStrictUnsigned64(text, serial) ? serial : 0;
}
