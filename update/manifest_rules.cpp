#include "update/manifest_rules.h"

#include "app/text.h"
#include "update/host_layout.h"

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

// Where the digits of a number field start, past white space and one sign.
size_t DigitsStart(std::string_view field, bool& negative) {
  size_t i = 0;
  while (i < field.size() && IsCSpace(field[i])) ++i;
  negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  return i;
}

}  // namespace

bool ReadStrictUnsigned64(std::string_view field, uint64_t& value) {
  if (field.empty() || field.size() > 20) return false;
  uint64_t result = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

bool IsLowerHex64(std::string_view field) {
  if (field.size() != 64) return false;
  for (char c : field) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

uint64_t ReadUnsigned64(std::string_view field) {
  bool negative;
  size_t i = DigitsStart(field, negative);
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
  bool negative;
  size_t i = DigitsStart(field, negative);
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
  const std::string_view root = host_layout::kRequestRoot;
  return path.substr(0, root.size()) == root && path.find("..") == std::string_view::npos &&
         path.find('\\') == std::string_view::npos;
}

const char* ManifestPathProblem(std::string_view path) {
  if (path.empty()) return "empty path";
  if (path.find('\0') != std::string_view::npos) return "NUL byte in path";
  if (path.find('\\') != std::string_view::npos) return "backslash in path";
  if (path.find(':') != std::string_view::npos) return "\":\" in path";
  // CreateFileW fails on these, so every player would stop at the first of them.
  for (const unsigned char c : path) {
    if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      return "character Windows does not allow in names (<>\"|?* or a control character)";
    }
  }
  if (!IsValidUtf8(path)) return "path is not valid UTF-8";
  return PiecesProblem(path);
}
