// ParseManifest and the signature line under libFuzzer. Beyond "no crash",
// every accepted manifest is checked against an independent reading of the same
// text: the entries match their "f" lines one by one, numbers agree with the C
// library's own strtoull and strtol, and no accepted path can name anything
// outside its client folder.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/split_text.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = SplitText(text, '\n');
  // A final line feed ends the last line; it does not start an empty one.
  if (!text.empty() && text.back() == '\n') lines.pop_back();
  if (text.empty()) lines.clear();
  return lines;
}

bool LowerHex64(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

int32_t ClampedStrtol(const std::string& field) {
  const long long v = std::strtoll(field.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void CheckPathStaysInside(const WideString& path) {
  CHECK(!path.empty());
  for (char16_t c : path) {
    CHECK(c != u':' && c != u'/' && c >= 0x20);
    CHECK(c != u'<' && c != u'>' && c != u'"' && c != u'|' && c != u'?' && c != u'*');  // Windows refuses them
  }
  size_t start = 0;
  while (true) {
    const size_t end = path.find(u'\\', start);
    const WideString piece = path.substr(start, end == WideString::npos ? WideString::npos : end - start);
    CHECK(!piece.empty());
    CHECK(piece != u"." && piece != u"..");
    CHECK(piece.back() != u'.' && piece.back() != u' ');  // Windows would strip them
    if (end == WideString::npos) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A signature line is read only as the text's last line, and exactly as written.
  std::string_view signed_part;
  ManifestSignature signature;
  if (SplitSignedManifest(text, signed_part, signature)) {
    CHECK(text.compare(0, signed_part.size(), signed_part) == 0);
    const std::string line = text.substr(signed_part.size());
    CHECK(line == SignatureLine(signature) || line + "\n" == SignatureLine(signature));
  }
  Manifest first, second;
  const bool accepted = ParseManifest(text, first);
  CHECK(ParseManifest(text, second) == accepted);
  if (!accepted) return 0;
  CHECK(SameManifest(first, second));

  const std::vector<std::string> lines = Lines(text);
  CHECK(!lines.empty());
  CHECK(lines[0] == "morvel-launcher\t1");

  size_t next_entry = 0;
  bool saw_launcher = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = SplitText(lines[i], '\t');
    if (f[0] == "launcher" && f.size() == 2) {
      saw_launcher = true;
    } else if (f[0] == "f" && f.size() == 7) {
      CHECK(next_entry < first.files.size());
      const FileEntry& e = first.files[next_entry++];
      CHECK((f[1] == "otc" && e.client == ClientKind::OTClient) || (f[1] == "classic" && e.client == ClientKind::Classic));
      CHECK(e.sha256 == f[2]);
      CHECK(LowerHex64(e.sha256));
      CHECK(e.size == std::strtoull(f[3].c_str(), nullptr, 10));
      CHECK(e.download_size == std::strtoull(f[4].c_str(), nullptr, 10));
      CHECK(e.keep_existing == (f[5] == "1"));
      CheckPathStaysInside(e.path);
      std::string back = WideToUtf8(e.path);
      for (char& c : back) {
        if (c == '\\') c = '/';
      }
      CHECK(back == f[6]);  // nothing lost or replaced in the conversion
    }
  }
  CHECK(next_entry == first.files.size());

  if (saw_launcher) {
    std::string last;
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> f = SplitText(lines[i], '\t');
      if (f[0] == "launcher" && f.size() == 2) last = f[1];
    }
    CHECK(first.launcher_version == ClampedStrtol(last));
  } else {
    CHECK(first.launcher_version == 0);
  }

  // "serial" and "expires": the last line of the kind whose value is 1 to 20
  // digits that strtoull reads without overflow, else 0.
  for (const char* kind : {"serial", "expires"}) {
    uint64_t expected = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> f = SplitText(lines[i], '\t');
      if (f[0] != kind || f.size() != 2 || f[1].empty() || f[1].size() > 20 ||
          f[1].find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      errno = 0;
      const unsigned long long value = std::strtoull(f[1].c_str(), nullptr, 10);
      if (errno == 0) expected = value;
    }
    CHECK((std::string(kind) == "serial" ? first.serial : first.expires) == expected);
  }

  if (first.launcher_sha256.empty()) {
    CHECK(first.launcher_size == 0 && first.launcher_path.empty());
  } else {
    CHECK(LowerHex64(first.launcher_sha256));
    CHECK(first.launcher_path.compare(0, 10, u"/arquivos/") == 0);
    CHECK(first.launcher_path.find(u"..") == WideString::npos);
    CHECK(first.launcher_path.find(u'\\') == WideString::npos);
  }
  return 0;
}
