// The patch maker and the launcher's streaming patch path, timed on files, for
// bench/patch.sh:
//   patch_tool make OLD NEW PATCH        prints "seconds" (MakePatch alone) and "bytes"
//   patch_tool apply OLD BODY OUT SIZE SHA
//                                        BODY is the gzip-wrapped patch; applies it
//                                        from OLD into OUT in 64 KiB chunks, as the
//                                        launcher does, and checks OUT's size and SHA-256;
//                                        prints "seconds" (reading, applying,
//                                        writing) and "result"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "update/patch_download.h"
#include "update/patch_maker.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool ReadAll(const char* path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return static_cast<bool>(in) || in.eof();
}

int Make(const char* old_path, const char* new_path, const char* patch_path) {
  std::string old_bytes, new_bytes, patch;
  if (!ReadAll(old_path, old_bytes) || !ReadAll(new_path, new_bytes)) return 2;
  const double start = Now();
  const bool ok = MakePatch(reinterpret_cast<const uint8_t*>(old_bytes.data()), old_bytes.size(),
                            reinterpret_cast<const uint8_t*>(new_bytes.data()), new_bytes.size(), new_bytes.size(), patch);
  const double seconds = Now() - start;
  if (!ok) return 1;
  std::ofstream(patch_path, std::ios::binary).write(patch.data(), static_cast<std::streamsize>(patch.size()));
  std::printf("seconds %.3f\nbytes %zu\n", seconds, patch.size());
  return 0;
}

int Apply(const char* old_path, const char* body_path, const char* out_path, uint64_t size, const char* sha) {
  const double start = Now();
  std::FILE* base = std::fopen(old_path, "rb");
  std::FILE* body = std::fopen(body_path, "rb");
  std::FILE* out = std::fopen(out_path, "wb");
  if (!base || !body || !out) return 2;
  std::fseek(base, 0, SEEK_END);
  const uint64_t base_size = static_cast<uint64_t>(std::ftell(base));
  PatchedDownload applied(
      base_size, size,
      [base](uint64_t offset, uint8_t* data, uint32_t length) {
        return std::fseek(base, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(data, 1, length, base) == length;
      },
      [out](const uint8_t* data, uint32_t length) { return std::fwrite(data, 1, length, out) == length; });
  bool ok = applied.Start();
  std::vector<uint8_t> chunk(65536);
  size_t got;
  while (ok && (got = std::fread(chunk.data(), 1, chunk.size(), body)) > 0) {
    ok = applied.Feed(chunk.data(), static_cast<uint32_t>(got)) == PatchOutcome::Accepted;
  }
  applied.End();
  ok = std::fclose(out) == 0 && ok && applied.Finish(sha);
  std::fclose(base);
  std::fclose(body);
  std::printf("seconds %.3f\nresult %s\n", Now() - start, ok ? "ok" : "failed");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], argv[3], argv[4]);
  if (argc == 7 && std::strcmp(argv[1], "apply") == 0) {
    return Apply(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 10), argv[6]);
  }
  std::fprintf(stderr, "usage: patch_tool make OLD NEW PATCH | apply OLD BODY OUT SIZE SHA\n");
  return 2;
}
