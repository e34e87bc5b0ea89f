// Runs UpdateClientFiles on a published manifest under Wine, against nginx on
// loopback, and reports its time and the process's peak memory.
//   download_bench MANIFEST_PATH [IN_FLIGHT|launcher [nopacks]]
// MANIFEST_PATH is a Windows path (Z:\...\manifest.txt). IN_FLIGHT is the number
// of body requests under way at once: the launcher's own by default, 1 for the
// sequential order (each request read to its end before the next goes out).
// "nopacks" drops the manifest's packs, so every file comes as its own body.
// Both clients are selected. Prints "seconds", "result", "status" and
// "peak_working_set_kib" (GetProcessMemoryInfo). Under Wine a file opened by the
// program is opened by wineserver, so /proc/self is not this process: the bench
// script reads the process's VmHWM from outside.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/launcher_state.h"
#include "app/win32_text.h"
#include "bench/bench_support.h"
#include "tests/win32/support/test_services.h"
#include "update/download.h"
#include "update/http_win32.h"

int main(int argc, char** argv) {
  // "launcher": the launcher's own number.
  const bool own = argc < 3 || std::string(argv[2]) == "launcher";
  const long in_flight = own ? static_cast<long>(kBodiesInFlight) : std::strtol(argv[2], nullptr, 10);
  const bool packs = argc < 4;
  if (argc < 2 || argc > 4 || in_flight < 1 || in_flight > 64 || (argc == 4 && std::string(argv[3]) != "nopacks")) {
    std::fprintf(stderr, "usage: download_bench MANIFEST_PATH [IN_FLIGHT 1-64|launcher [nopacks]]\n");
    return 2;
  }
  Manifest manifest;
  if (!PrepareRun("download_bench", argv[1], manifest)) return 2;
  const size_t pack_count = manifest.packs.size();
  if (!packs) manifest.packs.clear();

  const double start = SecondsNow();
  bool ok;
  {
    Http http(TestFileHost());
    const bool selection[2] = {true, true};
    ok = UpdateClientFiles(http, manifest, selection, static_cast<size_t>(in_flight));
  }
  const double seconds = SecondsNow() - start;

  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  const StatusTexts status = CopyStatus();
  std::printf("seconds %.3f\n", seconds);
  std::printf("in_flight %ld\n", in_flight);
  std::printf("packs %zu\n", packs ? pack_count : 0);
  std::printf("result %s\n", ok ? "ok" : "failed");
  std::printf("status %s | %s\n", WideToUtf8(status.headline).c_str(), WideToUtf8(status.detail).c_str());
  std::printf("peak_working_set_kib %llu\n", static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024));
  return ok ? 0 : 1;
}
