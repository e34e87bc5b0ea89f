#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "tests/win32/support/test_services.h"

namespace {

bool LoadManifest(const char* path, Manifest& manifest) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::string text;
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
  std::fclose(f);
  return ParseManifest(text, manifest);
}

}  // namespace

bool PrepareRun(const char* program, const char* manifest_path, Manifest& manifest) {
  if (!LoadManifest(manifest_path, manifest)) {
    std::fprintf(stderr, "%s: cannot read the manifest %s\n", program, manifest_path);
    return false;
  }
  if (!UseNginx()) {
    std::fprintf(stderr, "%s: no MORVEL_TEST_HOST / MORVEL_NGINX_PORT\n", program);
    return false;
  }
  return true;
}

void SettleBeforeTiming() { Sleep(1000); }

double SecondsNow() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
