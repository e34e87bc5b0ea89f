#include "update/self_update_win32.h"

#include <windows.h>

#include "app/file_win32.h"
#include "app/paths.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "update/download_progress.h"
#include "update/file_hosts_win32.h"
#include "update/http_win32.h"
#include "update/manifest.h"
#include "update/questions_win32.h"
#include "update/sha256.h"

FlushFileFn g_flush_file = FlushFileBuffers;

namespace {

enum class ExeFetch { Verified, Failed, WriteFailed };

// One try at the announced exe, from the start of the open ".novo" file:
// Verified when every byte came and the size and digest are the manifest's.
ExeFetch FetchLauncherExe(Http& http, const Manifest& manifest, const File& file) {
  if (!file.TruncateAt(0)) return ExeFetch::WriteFailed;
  Sha256 digest;
  uint64_t written = 0;
  bool write_ok = true;
  const uint64_t size = manifest.launcher_size;

  const bool got = HttpGet(http, manifest.launcher_path + CacheDefeatingQuery(),
                           [&](const uint8_t* data, uint32_t n) {
                             if (written + n > size) return false;  // longer than announced
                             if (!file.WriteAll(data, n)) {
                               write_ok = false;
                               return false;
                             }
                             digest.Update(data, n);
                             written += n;
                             g_state.total_permille.exchange(Permille(written, size));
                             return true;
                           });
  if (!write_ok) return ExeFetch::WriteFailed;
  return got && written == size && digest.FinishHex() == manifest.launcher_sha256 ? ExeFetch::Verified
                                                                                   : ExeFetch::Failed;
}

}  // namespace

bool SelfUpdate(FileHosts& hosts, const Manifest& manifest) {
  if (manifest.launcher_sha256.empty() || manifest.launcher_size == 0 || manifest.launcher_path.empty()) {
    return false;
  }
  if (manifest.launcher_size > kLauncherSizeLimit) return false;

  // A cut path names some other file or folder: the swap would move that one aside.
  const WideString own_path = OwnExePath();
  if (own_path.empty()) return false;
  const WideString novo = own_path + u".novo";
  const WideString old = own_path + u".old";

  File file = File::CreateAlways(novo);
  if (!file) return false;

  // Checked against the signed manifest whichever host it comes from; a host
  // that fails hands the next try to the one after it.
  ExeFetch fetched;
  while ((fetched = FetchLauncherExe(hosts.current(), manifest, file)) == ExeFetch::Failed &&
         hosts.PassOver()) {
  }
  // After the swap this file is the only launcher the player has: its bytes must
  // be on the disk first, or a power loss can leave an empty file in its place.
  bool durable = fetched == ExeFetch::Verified && g_flush_file(file.get());
  durable = file.Close() && durable;
  if (!durable) {
    DeleteFileW(WinText(novo));
    return false;
  }

  DeleteFileW(WinText(old));
  // A running executable cannot be overwritten, but it can be renamed.
  if (!g_move_file(WinText(own_path), WinText(old), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(WinText(novo));
    return false;
  }
  if (g_move_file(WinText(novo), WinText(own_path), MOVEFILE_REPLACE_EXISTING)) return true;
  g_move_file(WinText(old), WinText(own_path), MOVEFILE_REPLACE_EXISTING);
  DeleteFileW(WinText(novo));
  return false;
}

// Whether the running executable already is the announced one. A manifest that
// raises the version without a new "self" exe would otherwise make every start
// download, swap and restart into the same launcher, forever.
bool RunningLauncherIsAnnounced(const Manifest& manifest) {
  const WideString own_path = OwnExePath();
  if (own_path.empty() || manifest.launcher_sha256.empty()) return false;
  const File own = File::OpenForRead(own_path, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_FLAG_SEQUENTIAL_SCAN);
  uint64_t size = 0;
  if (!own || !own.Size(size) || size != manifest.launcher_size) {
    return false;
  }
  Sha256 digest;
  const bool read_all = DigestStream(
      digest,
      [&own](uint8_t* buffer, uint32_t capacity) -> int64_t {
        DWORD read = 0;
        return ReadFile(own.get(), buffer, capacity, &read, nullptr) ? read : -1;
      },
      [](const uint8_t*, uint32_t) { return true; });
  return read_all && digest.FinishHex() == manifest.launcher_sha256;
}

FinishAction UpdateLauncherOrOfferDownload(FileHosts& hosts, const Manifest& manifest) {
  if (RunningLauncherIsAnnounced(manifest)) {
    SetStatus(kTextReady, u"", false);
    return FinishKeepOpen;
  }
  SetStatus(kTextUpdatingLauncher, u"", false);
  if (SelfUpdate(hosts, manifest)) {
    SetStatus(kTextLauncherUpdated, u"", false);
    return FinishRestartLauncher;
  }
  SetStatus(kTextNewLauncherVersion, u"", false);
  if (AskPlayer(kTextAskOpenDownloadPage, MB_ICONINFORMATION)) {
    g_open_page(DownloadPageUrl(hosts.primary()));
  }
  return FinishKeepOpen;
}
