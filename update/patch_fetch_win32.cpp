#include <windows.h>
#include <zlib.h>

#include <memory>

#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/win32_text.h"
#include "update/http_win32.h"
#include "update/part_resume_win32.h"
#include "update/patch_download.h"
#include "update/patch_fetch.h"
#include "update/resume_state.h"

namespace {

// The record of the kept bytes is written again after this many more: a kill
// loses at most these (a cut or a cancel loses none).
constexpr uint64_t kKeptSpacing = 65536;
constexpr DWORD kReplayChunk = 65536;

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
                               uint64_t total_transfer, uint64_t& received, bool& cut) {
  received = 0;
  cut = false;
  File base = File::OpenForRead(target, kShareAll);
  uint64_t base_size = 0;
  if (!base || !base.Size(base_size)) return DownloadResult::NetworkError;

  // The patch's own bytes, kept as they come: a later try replays them from
  // disk and asks the host only for the rest.
  const WideString kept_path = KeptPatchPath(part_path);
  const WideString record_path = ResumeStatePath(kept_path);
  const std::string request_path = WideToUtf8(patch.path);
  ResumedPart resumed;
  const bool resuming = OpenResumedPart(ClientDir(entry.client), kept_path, record_path, request_path, entry.sha256,
                                        patch.download_size, g_state.cancel_requested, resumed);
  if (!resuming && CancelRequested()) return DownloadResult::Cancelled;  // a re-read cut short keeps the record
  File kept = resuming ? std::move(resumed.file) : CreatePartFile(entry, target, kept_path);
  if (!resuming) DeleteFileW(WinText(record_path));
  File part = CreatePartFile(entry, target, part_path);
  if (!kept || !part) {
    kept.Drop();
    part.Drop();
    DropPart(kept_path, record_path);
    DeleteFileW(WinText(part_path));
    return DownloadResult::NetworkError;
  }

  std::unique_ptr<PatchedDownload> applied;
  // The header must name the file's present size; a base that changed since
  // the check pass then fails there or at the digest.
  const auto start_applier = [&] {
    applied = std::make_unique<PatchedDownload>(
        base_size, entry.size,
        [&base](uint64_t offset, uint8_t* data, uint32_t length) { return ReadAt(base.get(), offset, data, length); },
        [&part](const uint8_t* data, uint32_t length) { return part.WriteAll(data, length); });
    return applied->Start();
  };
  uint64_t position = resuming ? resumed.state.part_size : 0;  // patch bytes kept, and fed to the applier
  uint32_t crc = resuming ? resumed.state.part_crc : 0;
  uint64_t recorded = position;
  bool started = start_applier();
  bool ok = started;
  bool corrupt = !ok;       // what was kept or made is of no use: the whole body instead
  bool cancelled = false;
  bool arrived = false;     // bytes came in this try, so another one may go on
  const auto save = [&] {
    ResumeState state;
    state.request_path = request_path;
    state.sha256 = entry.sha256;
    state.size = patch.download_size;
    state.part_size = position;
    state.part_crc = crc;
    if (SaveResumeState(record_path, state)) recorded = position;
  };

  // OpenResumedPart checked the kept bytes against their CRC-32: an applier
  // that refuses them means the patch itself is bad.
  if (ok && resuming) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReplayChunk]);
    LARGE_INTEGER zero = {};
    ok = SetFilePointerEx(kept.get(), zero, nullptr, FILE_BEGIN) != 0;
    corrupt = !ok;
    for (uint64_t left = position; ok && left > 0;) {
      if (CancelRequested()) {
        cancelled = true;
        ok = false;
        break;
      }
      const DWORD want = left < kReplayChunk ? static_cast<DWORD>(left) : kReplayChunk;
      ok = kept.ReadExactly(buffer.get(), want) && applied->Feed(buffer.get(), want) == PatchOutcome::Accepted;
      corrupt = !ok;
      left -= want;
    }
  }
  if (ok) {
    g_state.file_permille.exchange(0);
    const uint64_t from = position;
    const BodyStart start = [&](uint64_t first_byte) {
      if (first_byte == from) return true;
      arrived = true;  // another try, from byte 0
      position = 0;
      crc = 0;
      recorded = 0;
      DeleteFileW(WinText(record_path));
      if (first_byte != 0) return false;  // not the range asked for: this try fails
      // The host sent the whole patch instead of the rest: start over with it.
      applied->End();
      started = kept.TruncateAt(0) && part.TruncateAt(0) && start_applier();
      if (!started) {
        corrupt = true;
        return false;
      }
      return true;
    };
    ok = fetch(from, start, [&](const uint8_t* data, uint32_t length) {
      if (CancelRequested()) {
        cancelled = true;
        return false;
      }
      if (applied->Feed(data, length) != PatchOutcome::Accepted || !kept.WriteAll(data, length)) {
        corrupt = true;
        return false;
      }
      arrived = true;
      position += length;
      crc = static_cast<uint32_t>(crc32(crc, data, length));
      if (position - recorded >= kKeptSpacing) save();
      ShowTransfer(position, patch.download_size, done, total_transfer);
      return true;
    });
  }
  if (started) applied->End();
  received = position;
  base.Drop();
  const bool kept_closed = kept.Close();
  const bool closed = part.Close();
  if (ok && closed && applied->Finish(entry.sha256)) {
    DropPart(kept_path, record_path);
    // The one move of every download (a read-only target made writable first);
    // a target it cannot replace is left to the whole body, which says why.
    if (MovePartIntoPlace(part_path, target) == DownloadResult::Ok) return DownloadResult::Ok;
    corrupt = true;
  }
  DeleteFileW(WinText(part_path));
  if (ok || corrupt || !kept_closed || position == 0) {
    DropPart(kept_path, record_path);  // a patch that does not make the file, or nothing kept
  } else if (position != recorded) {
    save();
  }
  if (cancelled || CancelRequested()) return DownloadResult::Cancelled;
  cut = arrived && !ok && !corrupt;
  return DownloadResult::NetworkError;
}
