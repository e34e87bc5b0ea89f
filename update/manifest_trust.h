// What a launcher with a manifest key asks of a manifest beyond its signature:
// no going back to an older one than it has accepted (a file host or a stale
// cache serving a manifest that was validly signed once), and, when the
// publisher set one, not past its expiry.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "update/manifest.h"

// Players' clocks are often wrong by hours (time zones, daylight saving) and
// sometimes by a day; an expiry only counts once it is this far behind the
// player's clock.
constexpr uint64_t kExpiryLeewaySeconds = 2 * 86400;

enum class ManifestVerdict {
  Usable,
  NoFiles,  // describes no installation: as good as none
  Older,    // its serial is below the highest one accepted before
  Expired,
};

// recorded_serial: the highest serial accepted before (0: none); now: Unix time.
ManifestVerdict JudgeManifest(const Manifest& manifest, uint64_t recorded_serial, uint64_t now);

// The record of the highest serial accepted: its decimal digits and a line
// feed (which the reading may leave out). Anything else, a damaged or
// hand-made file, reads as no record: 0.
std::string SerialRecordText(uint64_t serial);
uint64_t ReadSerialRecordText(std::string_view text);
