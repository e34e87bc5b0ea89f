// ParseManifest over a generated manifest of many files: prints the best and
// median time of several runs. Usage: manifest_parse [FILES] [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/manifest.h"

namespace {

// Realistic lines: both clients, nested folders, some accented names, sizes
// past 32 bits now and then, and a launcher/self pair at the top.
std::string MakeManifest(unsigned files) {
  std::string text = "morvel-launcher\t1\nlauncher\t3\nself\t" + std::string(64, 'e') +
                     "\t1048576\t/arquivos/launcher/MorvelGlobalLauncher-3-eeeeeeee.exe\n";
  static const char kHex[] = "0123456789abcdef";
  uint64_t x = 88172645463325252ull;
  char line[512];
  for (unsigned i = 0; i < files; ++i) {
    std::string sha(64, '0');
    for (char& c : sha) {
      x ^= x << 13; x ^= x >> 7; x ^= x << 17;
      c = kHex[x & 15];
    }
    const uint64_t size = (i % 997 == 0) ? 5000000000ull + i : (x >> 40);
    std::snprintf(line, sizeof line, "f\t%s\t%s\t%llu\t%llu\t%d\tdata/things/pasta %03u/regi\xC3\xA3o_%06u.dat\n",
                  i % 3 ? "otc" : "classic", sha.c_str(), static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(size / 2), i % 50 == 0, i % 512, i);
    text += line;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned files = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
  const std::string text = MakeManifest(files);
  std::vector<double> ms;
  for (int r = 0; r < runs; ++r) {
    Manifest m;
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = ParseManifest(text, m);
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok || m.files.size() != files) {
      std::fprintf(stderr, "manifest_parse: parse failed (%d, %zu files)\n", ok, m.files.size());
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%u files, %.1f MB: best %.1f ms, median %.1f ms over %d runs\n", files,
              static_cast<double>(text.size()) / 1048576.0, ms.front(), ms[ms.size() / 2], runs);
  return 0;
}
