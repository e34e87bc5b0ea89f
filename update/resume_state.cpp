#include "update/resume_state.h"

#include <zlib.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "update/manifest_rules.h"

namespace {

constexpr char kHeader[] = "morvel-resume\t1";
constexpr char kHexDigits[] = "0123456789abcdef";

// Decimal without sign, leading zeros (but "0") or overflow.
bool ParseNumber(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (digit > limit || v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

std::string Hex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out.push_back(kHexDigits[static_cast<uint8_t>(c) >> 4]);
    out.push_back(kHexDigits[static_cast<uint8_t>(c) & 15]);
  }
  return out;
}

bool Unhex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = hex[k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    bytes.push_back(static_cast<char>(v));
  }
  return true;
}

uint32_t Crc(std::string_view text) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

void Line(std::string& out, const char* key, const std::string& value) {
  out += key;
  out += '\t';
  out += value;
  out += '\n';
}

std::string Number(uint64_t value) { return std::to_string(value); }

}  // namespace

WideString ResumeStatePath(const WideString& part_path) { return part_path + u".state"; }

std::string FormatResumeState(const ResumeState& s) {
  std::string out = std::string(kHeader) + "\n";
  Line(out, "path", s.request_path);
  Line(out, "sha256", s.sha256);
  Line(out, "size", Number(s.size));
  Line(out, "body", Number(s.point.body_offset));
  Line(out, "bits", Number(s.point.bits));
  Line(out, "byte", Number(s.point.bit_byte));
  Line(out, "inflated", Number(s.point.inflated));
  Line(out, "crc", Number(s.point.crc));
  Line(out, "part", Number(s.part_size));
  Line(out, "partcrc", Number(s.part_crc));
  Line(out, "window", Hex(s.window));
  Line(out, "consumer", Hex(s.consumer));
  // Last, over every byte before it: a record cut short or torn by a crash fails here.
  Line(out, "check", Number(Crc(out)));
  return out;
}

bool ParseResumeState(const std::string& text, ResumeState& state) {
  std::vector<std::string_view> lines;
  ForEachPiece(text, '\n', [&lines](std::string_view line) { lines.push_back(line); });
  // Header, twelve fields, check, and the empty piece after the last line feed.
  if (lines.size() != 15 || lines[0] != kHeader || !lines[14].empty()) return false;
  static const char* const order[] = {"path", "sha256",  "size",   "body",     "bits",  "byte",  "inflated",
                                      "crc",  "part",    "partcrc", "window",  "consumer", "check"};
  std::string_view values[13];
  for (size_t i = 0; i < 13; ++i) {
    const std::string_view line = lines[i + 1];
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || line.substr(0, tab) != order[i]) return false;
    values[i] = line.substr(tab + 1);
  }
  ResumeState s;
  uint64_t bits = 0, byte = 0, crc = 0, part_crc = 0, check = 0;
  if (values[0].empty() || values[0][0] != '/' || !IsValidUtf8(values[0]) || !IsLowerHex64(values[1]) ||
      !ParseNumber(values[2], UINT64_MAX, s.size) || !ParseNumber(values[3], UINT64_MAX, s.point.body_offset) ||
      !ParseNumber(values[4], 7, bits) || !ParseNumber(values[5], 255, byte) ||
      !ParseNumber(values[6], UINT64_MAX, s.point.inflated) || !ParseNumber(values[7], UINT32_MAX, crc) ||
      !ParseNumber(values[8], UINT64_MAX, s.part_size) || !ParseNumber(values[9], UINT32_MAX, part_crc) ||
      !Unhex(values[10], s.window) || !Unhex(values[11], s.consumer) || !ParseNumber(values[12], UINT32_MAX, check)) {
    return false;
  }
  const size_t checked = text.size() - (lines[13].size() + 1);
  if (Crc(std::string_view(text).substr(0, checked)) != check) return false;
  // A point past the file, a window longer than deflate's or bits without a
  // byte never come from a real body.
  if (s.part_size > s.size || s.window.size() > kDeflateWindow || (bits == 0 && byte != 0)) return false;
  s.request_path = std::string(values[0]);
  s.sha256 = std::string(values[1]);
  s.point.bits = static_cast<uint8_t>(bits);
  s.point.bit_byte = static_cast<uint8_t>(byte);
  s.point.crc = static_cast<uint32_t>(crc);
  s.part_crc = static_cast<uint32_t>(part_crc);
  state = s;
  return true;
}

bool ResumeStateFits(const ResumeState& state, const std::string& request_path, const std::string& sha256,
                     uint64_t size) {
  return state.request_path == request_path && state.sha256 == sha256 && state.size == size;
}

bool ParseContentRange(const std::string& value, uint64_t& first, uint64_t& last) {
  const std::string_view text(value);
  if (text.substr(0, 6) != "bytes ") return false;
  const size_t dash = text.find('-', 6);
  const size_t slash = text.find('/', 6);
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return false;
  uint64_t a = 0, b = 0, total = 0;
  if (!ParseNumber(text.substr(6, dash - 6), UINT64_MAX, a) ||
      !ParseNumber(text.substr(dash + 1, slash - dash - 1), UINT64_MAX, b) || b < a) {
    return false;
  }
  const std::string_view length = text.substr(slash + 1);
  if (length != "*" && (!ParseNumber(length, UINT64_MAX, total) || b >= total)) return false;
  first = a;
  last = b;
  return true;
}
