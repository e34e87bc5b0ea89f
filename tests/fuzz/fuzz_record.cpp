// ParseRecord under libFuzzer. The input is read twice: as it is (any bytes, a
// damaged record), and sealed with the final line a writer gives it, so that
// the lines behind the digest are explored too. Beyond "no crash", a record
// that is accepted is the one text FormatRecord makes of what was read, byte
// for byte: nothing in it is ignored, and nothing read is made up.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/sha256.h"
#include "update/verified_record.h"

namespace {

void Check(const std::string& text) {
  for (const char* key : {"otc", "classic"}) {
    std::vector<VerifiedFile> files;
    if (!ParseRecord(text, key, files)) {
      if (!files.empty()) std::abort();
      continue;
    }
    if (FormatRecord(key, files) != text) {
      std::fprintf(stderr, "accepted a record FormatRecord does not write\n");
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  Check(body);
  Sha256 digest;
  digest.Update(body.data(), static_cast<uint32_t>(body.size()));
  Check(body + "end\t" + digest.FinishHex() + "\n");
  return 0;
}
