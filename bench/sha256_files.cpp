// Hashes the files named on the command line and prints sha256sum-style lines.
// "--portable" pins the portable transform, so both can be measured.
#include <cstdio>
#include <cstring>
#include <vector>

#include "update/sha256.h"

int main(int argc, char** argv) {
  int first = 1;
  sha256_detail::TransformFn transform = sha256_detail::ActiveTransform();
  if (argc > 1 && std::strcmp(argv[1], "--portable") == 0) {
    transform = sha256_detail::TransformPortable;
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: sha256_files [--portable] FILE...\n");
    return 2;
  }
  std::vector<unsigned char> buffer(262144);
  int status = 0;
  for (int i = first; i < argc; ++i) {
    FILE* f = std::fopen(argv[i], "rb");
    if (!f) {
      std::fprintf(stderr, "sha256_files: cannot open %s\n", argv[i]);
      status = 1;
      continue;
    }
    Sha256 h(transform);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) h.Update(buffer.data(), static_cast<uint32_t>(n));
    std::fclose(f);
    std::printf("%s  %s\n", h.FinishHex().c_str(), argv[i]);
  }
  return status;
}
