// The floor of the full check pass: every file of a published manifest, in
// manifest order, opened as the check pass opens it (GENERIC_READ, shared,
// sequential scan), read in reads of 262144 bytes into one buffer until a read
// gives 0 bytes, hashed, its digest compared, closed. Nothing else: no size
// query, no progress, no texts, no record. Under Wine, beside download_bench:
//   check_floor MANIFEST_PATH      (a Windows path)
// Prints "seconds", "files", "bytes" and "result" (ok when every digest is the
// manifest's).
#include <windows.h>

#include <cstdio>
#include <memory>

#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"
#include "bench/bench_support.h"
#include "update/sha256.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_floor MANIFEST_PATH\n");
    return 2;
  }
  Manifest manifest;
  if (!PrepareRun("check_floor", argv[1], manifest)) return 2;

  SettleBeforeTiming();
  const double start = SecondsNow();
  const WideString client_dirs[2] = {ClientDir(ClientKind::OTClient), ClientDir(ClientKind::Classic)};
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kDigestChunk]);
  size_t files = 0;
  uint64_t bytes = 0;
  bool ok = true;
  for (const FileEntry& entry : manifest.files) {
    const WideString path = client_dirs[ClientIndex(entry.client)] + u"\\" + entry.path;
    ScopedFile file(CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
      ok = false;
      continue;
    }
    Sha256 digest;
    DWORD read = 0;
    while (ReadFile(file.get(), buffer.get(), kDigestChunk, &read, nullptr) && read > 0) {
      digest.Update(buffer.get(), read);
      bytes += read;
    }
    file.reset();
    ok = digest.FinishHex() == entry.sha256 && ok;
    ++files;
  }
  const double seconds = SecondsNow() - start;
  std::printf("seconds %.3f\n", seconds);
  std::printf("files %u\n", static_cast<unsigned>(files));
  std::printf("bytes %llu\n", static_cast<unsigned long long>(bytes));
  std::printf("result %s\n", ok ? "ok" : "failed");
  return ok ? 0 : 1;
}
