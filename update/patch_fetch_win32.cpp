#include <windows.h>

#include "app/launcher_state.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"
#include "update/http_win32.h"
#include "update/patch_download.h"
#include "update/patch_fetch.h"

namespace {

bool CancelRequested() { return g_state.cancel_requested.load(); }

// Reads exactly length bytes at offset, however the copies jump about.
bool ReadAt(HANDLE file, uint64_t offset, uint8_t* data, uint32_t length) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ReadFile(file, data, length, &read, &at) && read == length;
}

}  // namespace

DownloadResult DownloadPatched(const BodyFetch& fetch, const FileEntry& entry, const PatchEntry& patch,
                               const WideString& target, const WideString& part_path, uint64_t done,
                               uint64_t total_transfer, uint64_t& received) {
  received = 0;
  ScopedFile base(CreateFileW(WinText(target), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER base_size;
  if (!base || !GetFileSizeEx(base.get(), &base_size)) return DownloadResult::NetworkError;
  ScopedFile part = CreatePartFile(entry, target, part_path);
  if (!part) return DownloadResult::WriteError;

  // The header must name the file's present size; a base that changed since
  // the check pass then fails there or at the digest.
  PatchedDownload applied(
      static_cast<uint64_t>(base_size.QuadPart), entry.size,
      [&base](uint64_t offset, uint8_t* data, uint32_t length) { return ReadAt(base.get(), offset, data, length); },
      [&part](const uint8_t* data, uint32_t length) {
        DWORD wrote = 0;
        return WriteFile(part.get(), data, length, &wrote, nullptr) && wrote == length;
      });
  bool ok = applied.Start();
  bool cancelled = false;
  if (ok) {
    g_state.file_permille.exchange(0);
    ok = fetch(0, nullptr, [&](const uint8_t* data, uint32_t length) {
      if (CancelRequested()) {
        cancelled = true;
        return false;
      }
      received += length;
      if (applied.Feed(data, length) != PatchOutcome::Accepted) return false;
      ShowTransfer(received, patch.download_size, done, total_transfer);
      return true;
    });
    applied.End();
  }
  base.reset();
  const bool closed = part.close();
  if (ok && closed && applied.Finish(entry.sha256) &&
      MoveFileExW(WinText(part_path), WinText(target), MOVEFILE_REPLACE_EXISTING)) {
    return DownloadResult::Ok;
  }
  DeleteFileW(WinText(part_path));
  return cancelled || CancelRequested() ? DownloadResult::Cancelled : DownloadResult::NetworkError;
}
