// The floor of the client download's design, one layer at a time: every body of
// a published manifest fetched in manifest order over one connection of the
// launcher's Http, each level adding one of the launcher's steps to the level
// before it:
//   get      GET every body and discard the bytes
//   inflate  + inflate it (a gzip-only inflater and a zero-filled 262144-byte
//              output buffer per body, as every download attempt has)
//   sha256   + hash the inflated bytes; size and digest must be the manifest's
//   files    + create, write and close a ".part" file per body, all of them
//              in the install folder
//   move     + CreateDirectoryTree of the file's folder and the move of its
//              ".part" over the file's place in its client folder, as every
//              attempt does
// None of the launcher's bookkeeping: no check pass, selection, progress, status
// texts or retries. Under Wine against nginx, like download_bench:
//   download_floor MANIFEST_PATH LEVEL      (a Windows path)
// Prints "seconds" (the whole run), "setup_seconds" (start to the first byte of
// the first body: connection, TLS handshake and the first request), "files",
// "bytes" (bodies received) and "result".
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/paths.h"
#include "app/win32_text.h"
#include "bench/bench_support.h"
#include "tests/win32/support/test_services.h"
#include "update/http_win32.h"
#include "update/inflate_verify.h"
#include "update/sha256.h"

namespace {

enum class Level { Get, Inflate, Sha256, Files, Move };

struct LevelName {
  const char* name;
  Level level;
};
constexpr LevelName kLevels[] = {
    {"get", Level::Get}, {"inflate", Level::Inflate}, {"sha256", Level::Sha256},
    {"files", Level::Files}, {"move", Level::Move},
};

// What one run keeps from body to body.
struct Floor {
  Level level = Level::Get;
  WideString install_dir;
  WideString client_dirs[2];
  Http http{TestFileHost()};
  double first_byte = -1;
  uint64_t bytes = 0;
};

// One body on its way through the level's steps.
struct Body {
  z_stream stream{};
  std::unique_ptr<uint8_t[]> out;
  Sha256 digest;
  uint64_t size = 0;
  HANDLE part = INVALID_HANDLE_VALUE;
  bool inflating = false;
  bool ended = false;
};

bool TakePiece(Level level, Body& body, uint32_t length) {
  body.size += length;
  if (level >= Level::Sha256) body.digest.Update(body.out.get(), length);
  if (level < Level::Files) return true;
  DWORD wrote = 0;
  return WriteFile(body.part, body.out.get(), length, &wrote, nullptr) && wrote == length;
}

bool Feed(Floor& floor, Body& body, const uint8_t* data, uint32_t length) {
  if (floor.first_byte < 0) floor.first_byte = SecondsNow();
  floor.bytes += length;
  if (floor.level == Level::Get) return true;
  body.stream.next_in = const_cast<Bytef*>(data);
  body.stream.avail_in = length;
  while (body.stream.avail_in > 0 && !body.ended) {
    body.stream.next_out = body.out.get();
    body.stream.avail_out = kInflateBufferSize;
    const int status = inflate(&body.stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return false;
    if (!TakePiece(floor.level, body, kInflateBufferSize - body.stream.avail_out)) return false;
    body.ended = status == Z_STREAM_END;
  }
  return true;
}

bool FetchOne(Floor& floor, const FileEntry& entry, size_t index) {
  WideString part;
  WideString target;
  if (floor.level == Level::Move) {
    target = floor.client_dirs[ClientIndex(entry.client)] + u"\\" + entry.path;
    part = target + u".part";
    CreateDirectoryTree(target.substr(0, target.rfind(u'\\')));
  } else if (floor.level == Level::Files) {
    part = floor.install_dir + u"\\" + Utf8ToWide(std::to_string(index)) + u".part";
  }

  Body body;
  if (floor.level >= Level::Files) {
    body.part = CreateFileW(WinText(part), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (body.part == INVALID_HANDLE_VALUE) return false;
  }
  if (floor.level >= Level::Inflate) {
    // 31: the gzip wrapper only, as the launcher inflates.
    body.inflating = inflateInit2(&body.stream, 31) == Z_OK;
    body.out.reset(new uint8_t[kInflateBufferSize]());
  }
  if (floor.level >= Level::Inflate && !body.inflating) {
    if (body.part != INVALID_HANDLE_VALUE) CloseHandle(body.part);
    return false;
  }
  const WideString request = u"/arquivos/launcher/files/" + Utf8ToWide(entry.sha256) + u".dl";
  bool ok = HttpGet(floor.http, request,
                    [&](const uint8_t* data, uint32_t length) { return Feed(floor, body, data, length); });
  if (body.inflating) inflateEnd(&body.stream);
  if (body.part != INVALID_HANDLE_VALUE) CloseHandle(body.part);
  if (floor.level >= Level::Inflate) ok = ok && body.ended;
  if (floor.level >= Level::Sha256) ok = ok && body.size == entry.size && body.digest.FinishHex() == entry.sha256;
  if (floor.level == Level::Move) ok = ok && MoveFileExW(WinText(part), WinText(target), MOVEFILE_REPLACE_EXISTING);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const LevelName* level = nullptr;
  for (const LevelName& candidate : kLevels) {
    if (argc == 3 && std::strcmp(argv[2], candidate.name) == 0) level = &candidate;
  }
  if (!level) {
    std::fprintf(stderr, "usage: download_floor MANIFEST_PATH get|inflate|sha256|files|move\n");
    return 2;
  }
  Manifest manifest;
  if (!PrepareRun("download_floor", argv[1], manifest)) return 2;

  SettleBeforeTiming();
  const double start = SecondsNow();
  Floor floor;
  floor.level = level->level;
  floor.install_dir = InstallDir();
  floor.client_dirs[0] = ClientDir(ClientKind::OTClient);
  floor.client_dirs[1] = ClientDir(ClientKind::Classic);
  CreateDirectoryTree(floor.install_dir);
  size_t files = 0;
  bool ok = true;
  for (const FileEntry& entry : manifest.files) {
    if (!FetchOne(floor, entry, files)) {
      std::fprintf(stderr, "download_floor: %s failed\n", WideToUtf8(entry.path).c_str());
      ok = false;
      break;
    }
    ++files;
  }
  const double seconds = SecondsNow() - start;
  std::printf("seconds %.3f\n", seconds);
  std::printf("setup_seconds %.3f\n", floor.first_byte < 0 ? 0.0 : floor.first_byte - start);
  std::printf("files %u\n", static_cast<unsigned>(files));
  std::printf("bytes %llu\n", static_cast<unsigned long long>(floor.bytes));
  std::printf("result %s\n", ok ? "ok" : "failed");
  return ok ? 0 : 1;
}
