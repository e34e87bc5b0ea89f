// The resume record and the Content-Range reader under libFuzzer. A record is
// accepted only as the exact text FormatResumeState makes of what was read (so
// no two texts mean the same record), and a range only with first <= last.
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/resume_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ResumeState state;
  if (ParseResumeState(text, state)) {
    CHECK(FormatResumeState(state) == text);
    CHECK(state.part_size <= state.size);
    CHECK(state.point.bits <= 7);
    CHECK(state.window.size() <= kDeflateWindow);
  }
  uint64_t first = 0, last = 0;
  if (ParseContentRange(text, first, last)) CHECK(first <= last);
  return 0;
}
