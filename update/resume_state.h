// What lets an interrupted body download go on later instead of starting over:
// a point between two deflate blocks of its gzip body (the idea of zlib's
// examples/zran.c), and the record kept beside the ".part" that names the body,
// the file it makes and how much of the ".part" the point stands for. No
// Windows header: the format is read and written the same on every build.
#pragma once
#include <cstdint>
#include <string>

#include "app/text.h"

// Bodies are taken up again only at a point this many compressed bytes past
// the last one: each point costs a small file write, and a cut loses at most
// the bytes since the last point (plus one deflate block).
constexpr uint64_t kResumeSpacing = 1u << 20;
// Deflate looks back at most this far; a resumed inflater needs that much of
// the output before its point.
constexpr uint32_t kDeflateWindow = 32768;

struct ResumePoint {
  uint64_t body_offset = 0;  // compressed bytes before the point: where the next request starts
  uint8_t bits = 0;          // 0-7: bits of the byte before body_offset that come after the point
  uint8_t bit_byte = 0;      // that byte, when bits is not 0
  uint64_t inflated = 0;     // inflated bytes before the point
  uint32_t crc = 0;          // their CRC-32, which the gzip trailer must end with
};

struct ResumeState {
  std::string request_path;  // the body on the file host, UTF-8
  std::string sha256;        // the file the download makes
  uint64_t size = 0;         // and its size
  ResumePoint point;
  uint64_t part_size = 0;    // bytes of the ".part" made before the point
  uint32_t part_crc = 0;     // their CRC-32, checked against the ".part" before it is trusted
  // The inflated bytes just before the point, up to kDeflateWindow, when the
  // ".part" does not hold them (a patch is inflated into an applier, not into
  // the file); empty when it does.
  std::string window;
  // The consumer's own position (a patch applier's), opaque here.
  std::string consumer;
};

// Where the record of part_path lives.
WideString ResumeStatePath(const WideString& part_path);

std::string FormatResumeState(const ResumeState& state);
// Strict: anything but the text FormatResumeState makes (a cut or torn write,
// another version's record, a hand edit) is false, and the download starts over.
bool ParseResumeState(const std::string& text, ResumeState& state);

// Whether a state made for a download is one for this body and this file.
bool ResumeStateFits(const ResumeState& state, const std::string& request_path, const std::string& sha256,
                     uint64_t size);

// The value of a "Content-Range" header of a 206: "bytes FIRST-LAST/TOTAL" or
// "bytes FIRST-LAST/*". false for any other text, or LAST < FIRST.
bool ParseContentRange(const std::string& value, uint64_t& first, uint64_t& last);
