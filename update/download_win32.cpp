#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "app/launcher_state.h"
#include "app/move_file_win32.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"
#include "update/body_requests_win32.h"
#include "update/download.h"
#include "update/download_plan.h"
#include "update/download_progress.h"
#include "update/file_hosts_win32.h"
#include "update/host_layout.h"
#include "update/http_win32.h"
#include "update/inflate_verify.h"
#include "update/part_resume_win32.h"
#include "update/pack.h"
#include "update/pack_fetch.h"
#include "update/patch_fetch.h"
#include "update/resume_state.h"
#include "update/sha256.h"
#include "update/stale_parts_win32.h"
#include "update/verified_record_win32.h"

namespace {

constexpr DWORD kRetryPauseMs = 1500;

// The file system compares names without case; so must every test of whether
// two manifest paths are the same file.
WideString FoldCase(const WideString& path) {
  WideString folded = path;
  if (!folded.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(&folded[0]), static_cast<DWORD>(folded.size()));
  return folded;
}

// Hashes the rest of an open file through buffer (kDigestChunk bytes); a
// cancel or a failed read leaves a partial digest, which matches nothing.
std::string ContentDigest(HANDLE file, uint8_t* buffer) {
  Sha256 digest;
  DigestStream(
      digest, buffer,
      [file](uint8_t* buffer, uint32_t capacity) -> int64_t {
        DWORD read = 0;
        if (CancelRequested() || !ReadFile(file, buffer, capacity, &read, nullptr)) return 0;
        return read;
      },
      [](const uint8_t*, uint32_t) { return true; });
  return digest.FinishHex();
}

// One entry of the check pass: whether the file at target is the manifest's.
// content_sha256 gets the digest of what is there when it was hashed: always
// when the size matches, and whatever the size when a patch could start from
// it (patched_to), read through read_buffer. records may vouch for the file
// instead of a read, and learn of it when it was hashed.
bool EntryIsInPlace(const FileEntry& entry, const WideString& target, bool patched_to, VerifiedRecords& records,
                    uint8_t* read_buffer, std::string& content_sha256) {
  const ScopedFile file(CreateFileW(WinText(target), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    // A kept file (the player's own settings) that exists but is locked or
    // unreadable right now is still the player's: fetching it would move the
    // server's copy over it as soon as the lock goes.
    return entry.keep_existing && IsExistingFile(target);
  }
  if (entry.keep_existing) return true;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (static_cast<uint64_t>(size.QuadPart) != entry.size && !patched_to) return false;
  const bool sized = static_cast<uint64_t>(size.QuadPart) == entry.size;
  if (sized && records.Vouches(entry, file.get())) return true;
  content_sha256 = ContentDigest(file.get(), read_buffer);
  const bool valid = sized && content_sha256 == entry.sha256;
  if (valid) records.Hashed(entry, file.get());
  return valid;
}

void ReportCheckCancelled() { SetStatus(u"Cancelado.", u"", false); }

void ReportFailure(DownloadResult result, const FileEntry& entry) {
  switch (result) {
    case DownloadResult::Cancelled:
      SetStatus(u"Cancelado. O download continua de onde parou.", u"", false);
      break;
    case DownloadResult::WriteError:
      SetStatus(u"Não foi possível gravar os arquivos.", u"Confira o espaço em disco e o antivírus.", true);
      break;
    case DownloadResult::ReplaceError:
      SetStatus(u"Feche o client aberto e tente de novo.", entry.path, true);
      break;
    default:
      SetStatus(u"Falha ao baixar os arquivos.", u"Confira sua conexão e tente de novo.", true);
      break;
  }
}

void ReportAllDone() {
  g_state.file_permille.exchange(1000);
  g_state.total_permille.exchange(1000);
}

// What to ask the file host for an entry's whole body: its gzip, named by its digest.
WideString BodyRequestPath(const FileEntry& entry) {
  return Utf8ToWide(host_layout::BodyRequestPath(entry.sha256));
}

// The whole body as a request of its own, to the host current when it is made.
BodyFetch WholeBody(FileHosts& hosts, const FileEntry& entry) {
  return [&hosts, &entry](uint64_t from, const BodyStart& start, const DataCallback& callback) {
    return SentGet(hosts.current(), BodyRequestPath(entry), from).Receive(callback, start, &g_state.cancel_requested);
  };
}

// One attempt, with the target and its staging path already worked out. The
// ".part" is made (or taken up again, when state_path holds a record that fits
// it) before the body is asked for; an empty state_path never resumes.
DownloadResult DownloadTo(const BodyFetch& fetch, const FileEntry& entry, const WideString& target,
                          const WideString& part_path, const WideString& state_path, uint64_t done,
                          uint64_t total_transfer) {
  const std::string request_path = WideToUtf8(BodyRequestPath(entry));
  ResumedPart resumed;
  const bool resuming = !state_path.empty() &&
                        OpenResumedPart(ClientDir(entry.client), part_path, state_path, request_path, entry.sha256,
                                        entry.size, g_state.cancel_requested, resumed);
  if (!resuming && CancelRequested()) return DownloadResult::Cancelled;  // a re-read cut short keeps the record
  // No sharing: nothing else reads a half-written file.
  ScopedFile part = resuming ? std::move(resumed.file) : CreatePartFile(entry, target, part_path);
  if (!part) return DownloadResult::WriteError;
  if (!resuming && !state_path.empty()) DeleteFileW(WinText(state_path));

  bool has_record = resuming;  // a record on disk names a point this .part reaches
  std::unique_ptr<InflateVerifier> verifier;
  const auto start_verifier = [&](bool from_point) {
    verifier = std::make_unique<InflateVerifier>(entry.size, [&part](const uint8_t* data, uint32_t length) {
      DWORD wrote = 0;
      return WriteFile(part.get(), data, length, &wrote, nullptr) && wrote == length;
    });
    if (!state_path.empty()) {
      verifier->ReportPoints(kResumeSpacing, [&](const ResumePoint& point) {
        ResumeState state;
        state.request_path = request_path;
        state.sha256 = entry.sha256;
        state.size = entry.size;
        state.point = point;
        state.part_size = point.inflated;
        state.part_crc = point.crc;
        has_record = SaveResumeState(state_path, state);
      });
    }
    return from_point ? verifier->Resume(resumed.state.point, reinterpret_cast<const uint8_t*>(resumed.window.data()),
                                         static_cast<uint32_t>(resumed.window.size()), resumed.digest)
                      : verifier->Start();
  };
  if (!start_verifier(resuming)) {
    part.reset();
    DropPart(part_path, state_path);
    return DownloadResult::WriteError;
  }

  const uint64_t from = resuming ? resumed.state.point.body_offset : 0;
  DownloadResult result = DownloadResult::NetworkError;
  bool keep = true;      // a cut or a cancel keeps the .part for the next attempt
  uint64_t received = 0;  // of the whole body, the bytes before from included
  const BodyStart start = [&](uint64_t first_byte) {
    if (first_byte == from) {
      received = from;
      return true;
    }
    keep = false;
    if (first_byte != 0) return true;  // a range other than the one asked for: the try fails
    // The host sent the whole body instead of the rest: start over with it.
    LARGE_INTEGER zero = {};
    has_record = false;
    if (!state_path.empty()) DeleteFileW(WinText(state_path));
    if (!SetFilePointerEx(part.get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(part.get()) ||
        !start_verifier(false)) {
      result = DownloadResult::WriteError;
      return false;
    }
    keep = true;
    return true;
  };
  const bool ok = fetch(from, start, [&](const uint8_t* data, uint32_t length) {
    if (CancelRequested()) {
      result = DownloadResult::Cancelled;
      return false;
    }
    received += length;
    switch (verifier->Feed(data, length)) {
      case ChunkOutcome::Accepted:
        break;
      case ChunkOutcome::WriteFailed:
        result = DownloadResult::WriteError;
        keep = false;
        return false;
      default:
        keep = false;  // a corrupt or oversized body: what it made is of no use
        return false;  // stays a NetworkError
    }
    ShowTransfer(received, entry.download_size, done, total_transfer);
    return true;
  });
  verifier->End();
  part.reset();

  if (ok && verifier->Finish(entry.sha256)) {
    if (!state_path.empty()) DeleteFileW(WinText(state_path));
    return MovePartIntoPlace(part_path, target);
  }
  // A whole body that is not the file, or a .part no record names, starts over next time.
  if (ok || !keep || !has_record) DropPart(part_path, state_path);
  if (CancelRequested()) return DownloadResult::Cancelled;
  return result;
}

// One entry: its patch when the file on disk is the patch's base, and the
// whole body, tried up to three times, when there is none or it fails. first
// streams the first of them (the patch, or else the body); done and
// total_transfer grow by what was actually downloaded.
DownloadResult FetchEntry(FileHosts& hosts, const BodyFetch& first, const FileEntry& entry, const PatchEntry* patch,
                          const WideString& target, const WideString& part_path, const WideString& state_path,
                          uint64_t& done, uint64_t& total_transfer) {
  if (patch) {
    uint64_t received = 0;
    DownloadResult patched = DownloadResult::NetworkError;
    // A cut patch goes on from its kept bytes in the next try.
    for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
      bool cut = false;
      g_state.file_permille.exchange(0);
      patched = DownloadPatched(first, entry, *patch, target, part_path, done, total_transfer, received, cut);
      if (!cut || attempt == kFetchAttempts - 1) break;
      if (!hosts.PassOver()) PauseBeforeRetry();
      if (CancelRequested()) return DownloadResult::Cancelled;
    }
    received = received < patch->download_size ? received : patch->download_size;
    done = SaturatingAdd(done, received);
    if (patched == DownloadResult::Ok || patched == DownloadResult::Cancelled) return patched;
    DropPart(KeptPatchPath(part_path), ResumeStatePath(KeptPatchPath(part_path)));  // the whole body replaces it
    // Silently the whole body instead: the total loses the patch's unreceived
    // bytes and gains the body.
    total_transfer = SaturatingAdd(total_transfer - (patch->download_size - received), entry.download_size);
  }
  const BodyFetch body = WholeBody(hosts, entry);
  DownloadResult result = DownloadResult::NetworkError;
  for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
    g_state.file_permille.exchange(0);
    result = DownloadTo(patch ? body : first, entry, target, part_path, state_path, done, total_transfer);
    if (result != DownloadResult::NetworkError || attempt == kFetchAttempts - 1) break;
    // The next try goes to the next host at once; the last host, after a pause.
    if (!hosts.PassOver()) PauseBeforeRetry();
    if (CancelRequested()) return DownloadResult::Cancelled;
  }
  if (result == DownloadResult::Ok) done = SaturatingAdd(done, entry.download_size);
  return result;
}

// Every staging file of the selected clients that no download of this list
// goes on with: those of files the manifest dropped, or found in place, and
// the kept bytes of a patch no longer to be used.
void DeleteStalePartsOf(const Manifest& manifest, const std::vector<size_t>& to_fetch,
                        const std::vector<const PatchEntry*>& patches, const bool selection[kClientCount],
                        const WideString client_dirs[kClientCount], const TargetPath& target_of,
                        const std::set<WideString>& target_keys) {
  std::set<WideString> keep = target_keys;
  for (size_t k = 0; k < to_fetch.size(); ++k) {
    const WideString part_path = PartPathFor(target_of(manifest.files[to_fetch[k]]), target_keys, FoldCase);
    keep.insert(FoldCase(part_path));
    keep.insert(FoldCase(ResumeStatePath(part_path)));
    if (patches[k]) {
      keep.insert(FoldCase(KeptPatchPath(part_path)));
      keep.insert(FoldCase(ResumeStatePath(KeptPatchPath(part_path))));
    }
  }
  for (int client = 0; client < kClientCount; ++client) {
    if (selection[client]) DeleteStaleParts(client_dirs[client], keep, FoldCase);
  }
}

}  // namespace

void PauseBeforeRetry() {
  for (DWORD waited = 0; waited < kRetryPauseMs && !CancelRequested(); waited += 10) Sleep(10);
}

ScopedFile CreatePartFile(const FileEntry& entry, const WideString& target, const WideString& part_path) {
  if (HasLinkBelow(ClientDir(entry.client), part_path)) return ScopedFile();
  const size_t last_separator = target.rfind(u'\\');
  if (last_separator != WideString::npos) CreateDirectoryTree(target.substr(0, last_separator));
  MakeReplaceable(part_path);
  DeleteFileW(WinText(part_path));
  return ScopedFile(
      CreateFileW(WinText(part_path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

DownloadResult MovePartIntoPlace(const WideString& part_path, const WideString& target) {
  MakeReplaceable(target);
  if (g_move_file(WinText(part_path), WinText(target), MOVEFILE_REPLACE_EXISTING)) return DownloadResult::Ok;
  DeleteFileW(WinText(part_path));
  return DownloadResult::ReplaceError;
}

void ShowTransfer(uint64_t received, uint64_t download_size, uint64_t done, uint64_t total_transfer) {
  g_state.file_permille.exchange(FilePermille(received, download_size));
  const uint64_t current = TransferCurrent(done, received, download_size);
  g_state.total_permille.exchange(Permille(current, total_transfer));
  SetDetail(TransferDetail(current, total_transfer));
}

WideString ClientFilePath(const FileEntry& entry) {
  return ClientDir(entry.client) + u"\\" + entry.path;
}

DownloadResult DownloadFile(Http& http, const FileEntry& entry, uint64_t done, uint64_t total_transfer) {
  return DownloadFile(http, entry, ClientFilePath(entry) + u".part", done, total_transfer);
}

DownloadResult DownloadFile(Http& http, const FileEntry& entry, const WideString& part_path, uint64_t done,
                            uint64_t total_transfer) {
  FileHosts only(http);
  return DownloadTo(WholeBody(only, entry), entry, ClientFilePath(entry), part_path, ResumeStatePath(part_path), done,
                    total_transfer);
}

bool UpdateClientFiles(Http& http, const Manifest& manifest, const bool selection[kClientCount], TaskKind task) {
  return UpdateClientFiles(http, manifest, selection, task, kBodiesInFlight);
}

bool UpdateClientFiles(Http& http, const Manifest& manifest, const bool selection[kClientCount], TaskKind task,
                       size_t bodies_in_flight) {
  FileHosts only(http);
  return UpdateClientFiles(only, manifest, selection, task, bodies_in_flight);
}

bool UpdateClientFiles(FileHosts& hosts, const Manifest& manifest, const bool selection[kClientCount], TaskKind task,
                       size_t bodies_in_flight) {
  // ClientFilePath of every entry, with the two client folders looked up once
  // per call rather than once per file.
  const WideString client_dirs[kClientCount] = {ClientDir(ClientKind::OTClient), ClientDir(ClientKind::Classic)};
  const TargetPath target_of = [&client_dirs](const FileEntry& entry) {
    return client_dirs[ClientIndex(entry.client)] + u"\\" + entry.path;
  };
  const std::vector<size_t> selected = SelectEntries(manifest.files, selection, target_of, FoldCase);
  VerifiedRecords records(manifest, selection, task);  // written on every way out
  const std::unique_ptr<uint8_t[]> read_buffer(new uint8_t[kDigestChunk]);  // one for every file hashed

  std::vector<size_t> to_fetch;
  std::vector<const PatchEntry*> patches;  // by position in to_fetch; nullptr: the whole body
  const std::set<std::string> patch_targets = PatchTargets(manifest);
  const size_t count = selected.size();
  for (size_t i = 0; i < count; ++i) {
    if (CancelRequested()) {
      ReportCheckCancelled();
      return false;
    }
    const WideString title = CheckPassTitle(i, count);
    if (!title.empty()) SetStatus(title, u"", false);
    g_state.total_permille.exchange(Permille(i, count));
    g_state.file_permille.exchange(0);
    const FileEntry& entry = manifest.files[selected[i]];
    std::string content_sha256;
    if (EntryIsInPlace(entry, target_of(entry), patch_targets.count(entry.sha256) != 0, records, read_buffer.get(),
                       content_sha256)) {
      continue;
    }
    to_fetch.push_back(selected[i]);
    patches.push_back(content_sha256.empty() ? nullptr : FindPatch(manifest, entry.sha256, content_sha256));
  }
  if (CancelRequested()) {
    ReportCheckCancelled();
    return false;
  }
  const std::set<WideString> target_keys = TargetKeys(manifest.files, target_of, FoldCase);
  for (size_t k = 0; k < to_fetch.size(); ++k) {
    const WideString part_path = PartPathFor(target_of(manifest.files[to_fetch[k]]), target_keys, FoldCase);
    if (!KeptPatchNamesFree(part_path, target_keys, FoldCase)) patches[k] = nullptr;  // comes whole instead
  }
  DeleteStalePartsOf(manifest, to_fetch, patches, selection, client_dirs, target_of, target_keys);
  if (to_fetch.empty()) {
    ReportAllDone();
    return true;
  }

  // Small files come in packs where enough of a pack is missing; a patched
  // file comes by its patch.
  std::vector<bool> packable;
  for (const PatchEntry* patch : patches) packable.push_back(patch == nullptr);
  const std::vector<PackFetch> pack_plan = PlanPackFetches(manifest, to_fetch, packable);
  const std::vector<FetchUnit> order = FetchOrder(to_fetch.size(), pack_plan);
  // What each unit's first request brings: a pack, a patch, or a body.
  std::vector<uint64_t> first_sizes;
  for (const FetchUnit& unit : order) {
    first_sizes.push_back(unit.pack != kNoPack  ? manifest.packs[pack_plan[unit.pack].pack].size
                          : patches[unit.item] ? patches[unit.item]->download_size
                                               : manifest.files[to_fetch[unit.item]].download_size);
  }
  uint64_t total_transfer = 0;
  uint64_t total_size = 0;
  for (const uint64_t size : first_sizes) total_transfer = SaturatingAdd(total_transfer, size);
  for (const size_t index : to_fetch) total_size = SaturatingAdd(total_size, manifest.files[index].size);

  const WideString install_dir = InstallDir();
  CreateDirectoryTree(install_dir);
  ULARGE_INTEGER free_bytes;
  if (GetDiskFreeSpaceExW(WinText(install_dir), &free_bytes, nullptr, nullptr) &&
      !EnoughFreeSpace(free_bytes.QuadPart, total_size)) {
    SetStatus(u"Sem espaço em disco.", u"São necessários " + FormatMegabytes(total_size) + u".", true);
    return false;
  }

  BodyRequests requests(
      hosts, std::move(first_sizes), bodies_in_flight, kBytesAhead,
      [&](size_t u) {
        const FetchUnit& unit = order[u];
        if (unit.pack != kNoPack) return manifest.packs[pack_plan[unit.pack].pack].path;
        return patches[unit.item] ? patches[unit.item]->path : BodyRequestPath(manifest.files[to_fetch[unit.item]]);
      },
      &g_state.cancel_requested);
  uint64_t done = 0;
  for (size_t u = 0; u < order.size(); ++u) {
    const BodyFetch first = [&](uint64_t from, const BodyStart& start, const DataCallback& callback) {
      return requests.Receive(u, from, start, callback);
    };
    if (order[u].pack != kNoPack) {
      const PackFetch& fetch = pack_plan[order[u].pack];
      const PackEntry& pack = manifest.packs[fetch.pack];
      std::vector<PackItem> items;
      for (size_t i = 0; i < fetch.items.size(); ++i) {
        const FileEntry& entry = manifest.files[to_fetch[fetch.items[i]]];
        const WideString target = target_of(entry);
        items.push_back(PackItem{&entry, &pack.members[fetch.members[i]], target,
                                 PartPathFor(target, target_keys, FoldCase)});
      }
      const PackItem* failed = nullptr;
      const DownloadResult result = FetchPack(hosts, first, pack, items, done, total_transfer, [&](const PackItem& item) {
        SetStatus(u"Baixando " + item.entry->path, u"", false);
        return FetchEntry(hosts, WholeBody(hosts, *item.entry), *item.entry, nullptr, item.target, item.part_path,
                          StatePathFor(item.part_path, target_keys, FoldCase), done, total_transfer);
      }, failed);
      if (result != DownloadResult::Ok) {
        ReportFailure(result, *failed->entry);
        return false;
      }
      for (const PackItem& item : items) records.Written(*item.entry, item.target);
      continue;
    }
    const size_t k = order[u].item;
    const FileEntry& entry = manifest.files[to_fetch[k]];
    SetStatus(u"Baixando " + entry.path, u"", false);
    const WideString target = target_of(entry);
    const WideString part_path = PartPathFor(target, target_keys, FoldCase);
    const WideString state_path = StatePathFor(part_path, target_keys, FoldCase);
    const DownloadResult result =
        FetchEntry(hosts, first, entry, patches[k], target, part_path, state_path, done, total_transfer);
    if (result != DownloadResult::Ok) {
      ReportFailure(result, entry);
      return false;
    }
    records.Written(entry, target);
  }
  ReportAllDone();
  return true;
}
