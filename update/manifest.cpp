#include "update/manifest.h"

#include <algorithm>
#include <string_view>

#include "app/client_table.h"
#include "update/manifest_rules.h"

namespace {

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Windows opens a device, not a file, for these names, with or without an
// extension and trailing spaces ("nul", "Com1.txt", "AUX .log").
bool IsReservedDeviceName(std::string_view piece) {
  std::string_view base = piece.substr(0, piece.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::string_view kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kFixed) {
    if (EqualsNoCase(base, name)) return true;
  }
  if (base.size() < 4 || !(EqualsNoCase(base.substr(0, 3), "COM") || EqualsNoCase(base.substr(0, 3), "LPT"))) return false;
  const std::string_view number = base.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three count as digits here.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

const char* PiecesProblem(std::string_view path) {
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string_view piece = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (piece.empty()) return "empty path piece (leading, trailing or doubled \"/\")";
    if (piece == "." || piece == "..") return "path piece \".\" or \"..\"";
    if (piece.back() == '.' || piece.back() == ' ') return "path piece ends in \".\" or a space";
    if (IsReservedDeviceName(piece)) return "path piece is a Windows device name";
    if (slash == std::string_view::npos) return nullptr;
    start = slash + 1;
  }
}

bool ClientFromKey(std::string_view key, int32_t& client) {
  for (int32_t c = 0; c < 2; ++c) {
    if (key == ClientTable[c].key) {
      client = c;
      return true;
    }
  }
  return false;
}

WideString PathToWide(std::string_view path) {
  WideString wide = Utf8ToWide(std::string(path));
  for (char16_t& ch : wide) {
    if (ch == u'/') ch = u'\\';
  }
  return wide;
}

}  // namespace

bool IsLowerHex64(std::string_view field) {
  if (field.size() != 64) return false;
  for (char c : field) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

uint64_t ReadUnsigned64(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && IsCSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  uint64_t value = 0;
  bool overflow = false;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(field[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  if (overflow) return UINT64_MAX;
  return negative ? (~value + 1) : value;
}

int32_t ReadInt32(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && IsCSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  int64_t value = 0;  // stops growing once past the 32-bit range
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    if (value <= INT64_C(1) << 32) value = value * 10 + (field[i] - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool IsLauncherRequestPath(std::string_view path) {
  return path.substr(0, 10) == "/arquivos/" && path.find("..") == std::string_view::npos &&
         path.find('\\') == std::string_view::npos;
}

const char* ManifestPathProblem(std::string_view path) {
  if (path.empty()) return "empty path";
  if (path.find('\0') != std::string_view::npos) return "NUL byte in path";
  if (path.find('\\') != std::string_view::npos) return "backslash in path";
  if (path.find(':') != std::string_view::npos) return "\":\" in path";
  if (!IsValidUtf8(path)) return "path is not valid UTF-8";
  return PiecesProblem(path);
}

bool ParseManifest(const std::string& text, Manifest& manifest) {
  manifest = Manifest();
  const std::string_view all(text);
  // Saves the vector's regrowth on big manifests. Bounded by the shortest valid
  // "f" line (75 bytes), so a text of empty lines cannot reserve a fortune.
  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  manifest.files.reserve(std::min(lines, text.size() / 75 + 1));
  size_t position = 0;
  bool header = true;
  std::string_view fields[8];
  while (position < all.size()) {
    size_t end = all.find('\n', position);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = all.substr(position, end - position);
    position = end + 1;

    // Only the first 8 fields are kept; a count past 7 matches no line kind.
    size_t count = 0;
    ForEachPiece(line, '\t', [&](std::string_view field) {
      if (count < 8) fields[count] = field;
      ++count;
    });

    if (header) {
      if (line != kManifestHeader) return false;
      header = false;
      continue;
    }

    const std::string_view kind = fields[0];
    if (kind == "launcher" && count == 2) {
      manifest.launcher_version = ReadInt32(fields[1]);
    } else if (kind == "self" && count == 4) {
      const std::string_view path = fields[3];
      if (!IsLowerHex64(fields[1]) || !IsLauncherRequestPath(path)) continue;
      manifest.launcher_sha256.assign(fields[1]);
      manifest.launcher_size = ReadUnsigned64(fields[2]);
      manifest.launcher_path = Utf8ToWide(std::string(path));
    } else if (kind == "f" && count == 7) {
      FileEntry& entry = manifest.files.emplace_back();
      if (!ClientFromKey(fields[1], entry.client) || !IsLowerHex64(fields[2]) || ManifestPathProblem(fields[6])) {
        return false;
      }
      entry.sha256.assign(fields[2]);
      entry.size = ReadUnsigned64(fields[3]);
      entry.download_size = ReadUnsigned64(fields[4]);
      entry.keep_existing = fields[5] == "1";
      entry.path = PathToWide(fields[6]);
    }
  }
  return !header;
}
