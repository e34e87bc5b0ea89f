// Runs UpdateClientFiles on a published manifest under Wine, against nginx on
// loopback, and reports its time and the process's peak memory.
//   download_bench MANIFEST_PATH [IN_FLIGHT|launcher] [nopacks] [play|verify]
// MANIFEST_PATH is a Windows path (Z:\...\manifest.txt). IN_FLIGHT is the number
// of body requests under way at once: the launcher's own by default
// ("launcher"), 1 for the sequential order (each request read to its end
// before the next goes out). "nopacks" drops the manifest's packs, so every
// file comes as its own body. The task is "Jogar"'s (play, the default: the
// check pass trusts the records of verified files) or "Verificar arquivos"'
// (verify: every file hashed). Both clients are selected. The time is
// UpdateClientFiles' alone: the Http session is opened before it, as the worker
// opens it before the manifest. Prints "seconds", "result", "status" and
// "peak_working_set_kib" (GetProcessMemoryInfo). Under Wine a file opened by the
// program is opened by wineserver, so /proc/self is not this process: the bench
// script reads the process's VmHWM from outside.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/launcher_state.h"
#include "app/win32_text.h"
#include "bench/bench_support.h"
#include "tests/win32/support/test_services.h"
#include "update/download.h"
#include "update/file_hosts_win32.h"
#include "update/http_win32.h"

int main(int argc, char** argv) {
  long in_flight = static_cast<long>(kBodiesInFlight);
  bool verify = false;
  bool packs = true;
  bool usage = argc < 2 || argc > 5;
  for (int i = 2; i < argc && !usage; ++i) {
    if (std::strcmp(argv[i], "verify") == 0 || std::strcmp(argv[i], "play") == 0) {
      verify = argv[i][0] == 'v';
    } else if (std::strcmp(argv[i], "nopacks") == 0) {
      packs = false;
    } else if (std::strcmp(argv[i], "launcher") != 0) {
      char* end = nullptr;
      in_flight = std::strtol(argv[i], &end, 10);
      usage = *end != '\0' || in_flight < 1 || in_flight > 64;
    }
  }
  if (usage) {
    std::fprintf(stderr, "usage: download_bench MANIFEST_PATH [IN_FLIGHT 1-64|launcher] [nopacks] [play|verify]\n");
    return 2;
  }
  Manifest manifest;
  if (!PrepareRun("download_bench", argv[1], manifest)) return 2;
  const size_t pack_count = manifest.packs.size();
  if (!packs) manifest.packs.clear();

  bool ok;
  double seconds;
  {
    Http http(TestFileHost());
    FileHosts only(http);
    const bool selection[kClientCount] = {true, true};
    SettleBeforeTiming();
    const double start = SecondsNow();
    ok = UpdateClientFiles(only, manifest, selection, verify ? TaskKind::VerifyFiles : TaskKind::Play,
                           static_cast<size_t>(in_flight));
    seconds = SecondsNow() - start;
  }

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
