#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"

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

double SecondsNow() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
