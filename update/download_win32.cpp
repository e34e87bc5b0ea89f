#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/move_file_win32.h"
#include "app/paths.h"
#include "app/texts.h"
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
  const File file = File::OpenForRead(target, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!file) {
    // A kept file (the player's own settings) that exists but is locked or
    // unreadable right now is still the player's: fetching it would move the
    // server's copy over it as soon as the lock goes.
    return entry.keep_existing && IsExistingFile(target);
  }
  if (entry.keep_existing) return true;
  uint64_t size = 0;
  if (!file.Size(size)) return false;
  if (size != entry.size && !patched_to) return false;
  const bool sized = size == entry.size;
  if (sized && records.Vouches(entry, file.get())) return true;
  content_sha256 = ContentDigest(file.get(), read_buffer);
  const bool valid = sized && content_sha256 == entry.sha256;
  if (valid) records.Hashed(entry, file.get());
  return valid;
}

void ReportCheckCancelled() { SetStatus(kTextCancelled, u"", false); }

void ReportFailure(DownloadResult result, const FileEntry& entry) {
  switch (result) {
    case DownloadResult::Cancelled:
      SetStatus(kTextCancelledResumable, u"", false);
      break;
    case DownloadResult::WriteError:
      SetStatus(kTextWriteFailed, kTextCheckDiskAndAntivirus, true);
      break;
    case DownloadResult::ReplaceError:
      SetStatus(kTextCloseOpenClient, entry.path, true);
      break;
    default:
      SetStatus(kTextDownloadFailed, kTextCheckConnection, true);
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
  File part = resuming ? std::move(resumed.file) : CreatePartFile(entry, target, part_path);
  if (!part) return DownloadResult::WriteError;
  if (!resuming && !state_path.empty()) DeleteFileW(WinText(state_path));

  bool has_record = resuming;  // a record on disk names a point this .part reaches
  std::unique_ptr<InflateVerifier> verifier;
  const auto start_verifier = [&](bool from_point) {
    verifier = std::make_unique<InflateVerifier>(
        entry.size, [&part](const uint8_t* data, uint32_t length) { return part.WriteAll(data, length); });
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
    part.Drop();
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
    has_record = false;
    if (!state_path.empty()) DeleteFileW(WinText(state_path));
    if (!part.TruncateAt(0) || !start_verifier(false)) {
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
  if (!part.Close()) {
    // The close can be the first to say the bytes never reached the disk (a
    // full network drive, a delayed write): none of them can be trusted.
    DropPart(part_path, state_path);
    return DownloadResult::WriteError;
  }

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

// The files of one update: where each entry goes, and the keys of every
// manifest target, which staging names must keep clear of.
struct ClientFiles {
  explicit ClientFiles(const Manifest& manifest)
      : manifest(manifest),
        // Looked up once per update rather than once per file.
        client_dirs{ClientDir(ClientKind::OTClient), ClientDir(ClientKind::Classic)},
        target_of([this](const FileEntry& entry) {
          return client_dirs[ClientIndex(entry.client)] + u"\\" + entry.path;
        }),
        target_keys(TargetKeys(manifest.files, target_of, FoldCase)) {}
  ClientFiles(const ClientFiles&) = delete;
  ClientFiles& operator=(const ClientFiles&) = delete;

  WideString PartPath(const WideString& target) const { return PartPathFor(target, target_keys, FoldCase); }
  WideString StatePath(const WideString& part_path) const { return StatePathFor(part_path, target_keys, FoldCase); }

  const Manifest& manifest;
  const WideString client_dirs[kClientCount];
  const TargetPath target_of;  // the client folder, then the entry's path
  const std::set<WideString> target_keys;
};

// What the check pass found missing or different: manifest indices, and by the
// same position the patch each comes by (nullptr: the whole body).
struct FilesToFetch {
  std::vector<size_t> entries;
  std::vector<const PatchEntry*> patches;
};

// The check pass over the selected entries, in manifest order. false when the
// player cancelled it.
bool CheckFiles(const ClientFiles& files, const std::vector<size_t>& selected, VerifiedRecords& records,
                FilesToFetch& fetch) {
  const Manifest& manifest = files.manifest;
  const std::unique_ptr<uint8_t[]> read_buffer(new uint8_t[kDigestChunk]);  // one for every file hashed
  const std::set<std::string> patch_targets = PatchTargets(manifest);
  const size_t count = selected.size();
  for (size_t i = 0; i < count && !CancelRequested(); ++i) {
    const WideString title = CheckPassTitle(i, count);
    if (!title.empty()) SetStatus(title, u"", false);
    g_state.total_permille.exchange(Permille(i, count));
    g_state.file_permille.exchange(0);
    const FileEntry& entry = manifest.files[selected[i]];
    std::string content_sha256;
    if (EntryIsInPlace(entry, files.target_of(entry), patch_targets.count(entry.sha256) != 0, records,
                       read_buffer.get(), content_sha256)) {
      continue;
    }
    fetch.entries.push_back(selected[i]);
    fetch.patches.push_back(content_sha256.empty() ? nullptr : FindPatch(manifest, entry.sha256, content_sha256));
  }
  if (!CancelRequested()) return true;
  ReportCheckCancelled();
  return false;
}

// A patch whose kept bytes would be staged under a manifest target's name
// gives way to the whole body.
void ForgoBlockedPatches(const ClientFiles& files, FilesToFetch& fetch) {
  for (size_t k = 0; k < fetch.entries.size(); ++k) {
    const WideString part_path = files.PartPath(files.target_of(files.manifest.files[fetch.entries[k]]));
    if (!KeptPatchNamesFree(part_path, files.target_keys, FoldCase)) fetch.patches[k] = nullptr;
  }
}

// Every staging file of the selected clients that no download of this list
// goes on with: those of files the manifest dropped, or found in place, and
// the kept bytes of a patch no longer to be used.
void DeleteStalePartsOf(const ClientFiles& files, const FilesToFetch& fetch, const bool selection[kClientCount]) {
  std::set<WideString> keep = files.target_keys;
  for (size_t k = 0; k < fetch.entries.size(); ++k) {
    const WideString part_path = files.PartPath(files.target_of(files.manifest.files[fetch.entries[k]]));
    keep.insert(FoldCase(part_path));
    keep.insert(FoldCase(ResumeStatePath(part_path)));
    if (fetch.patches[k]) {
      keep.insert(FoldCase(KeptPatchPath(part_path)));
      keep.insert(FoldCase(ResumeStatePath(KeptPatchPath(part_path))));
    }
  }
  for (int client = 0; client < kClientCount; ++client) {
    if (selection[client]) DeleteStaleParts(files.client_dirs[client], keep, FoldCase);
  }
}

// The fetches in the order they are requested: small files in packs where
// enough of a pack is missing, a patched file by its patch, the rest whole.
struct TransferPlan {
  std::vector<PackFetch> packs;
  std::vector<FetchUnit> order;
  std::vector<uint64_t> first_sizes;  // by unit: what its first request brings
  uint64_t total_transfer = 0;        // the "Total" bar's bytes
  uint64_t total_size = 0;            // the bytes the fetched files take on disk
};

TransferPlan PlanTransfer(const Manifest& manifest, const FilesToFetch& fetch) {
  TransferPlan plan;
  std::vector<bool> packable;
  for (const PatchEntry* patch : fetch.patches) packable.push_back(patch == nullptr);
  plan.packs = PlanPackFetches(manifest, fetch.entries, packable);
  plan.order = FetchOrder(fetch.entries.size(), plan.packs);
  for (const FetchUnit& unit : plan.order) {
    plan.first_sizes.push_back(unit.pack != kNoPack         ? manifest.packs[plan.packs[unit.pack].pack].size
                               : fetch.patches[unit.item] ? fetch.patches[unit.item]->download_size
                                                          : manifest.files[fetch.entries[unit.item]].download_size);
  }
  for (const uint64_t size : plan.first_sizes) plan.total_transfer = SaturatingAdd(plan.total_transfer, size);
  for (const size_t index : fetch.entries) plan.total_size = SaturatingAdd(plan.total_size, manifest.files[index].size);
  return plan;
}

// Whether the install folder's disk holds total_size more bytes; says so when not.
bool HasRoomFor(uint64_t total_size) {
  const WideString install_dir = InstallDir();
  CreateDirectoryTree(install_dir);
  ULARGE_INTEGER free_bytes;
  if (!GetDiskFreeSpaceExW(WinText(install_dir), &free_bytes, nullptr, nullptr) ||
      EnoughFreeSpace(free_bytes.QuadPart, total_size)) {
    return true;
  }
  SetStatus(kTextNoDiskSpace, TextSpaceNeeded(FormatMegabytes(total_size)), true);
  return false;
}

// The fetches of one update, in the plan's order, and the counts of its progress.
struct Transfer {
  FileHosts& hosts;
  const ClientFiles& files;
  const FilesToFetch& fetch;
  TransferPlan& plan;
  VerifiedRecords& records;
  uint64_t done = 0;  // bytes of the "Total" bar already received
};

// One pack: its members streamed into place, or on their own after it failed.
DownloadResult FetchPackUnit(Transfer& transfer, const FetchUnit& unit, const BodyFetch& first) {
  const Manifest& manifest = transfer.files.manifest;
  const PackFetch& fetch = transfer.plan.packs[unit.pack];
  const PackEntry& pack = manifest.packs[fetch.pack];
  std::vector<PackItem> items;
  for (size_t i = 0; i < fetch.items.size(); ++i) {
    const FileEntry& entry = manifest.files[transfer.fetch.entries[fetch.items[i]]];
    const WideString target = transfer.files.target_of(entry);
    items.push_back(PackItem{&entry, &pack.members[fetch.members[i]], target, transfer.files.PartPath(target)});
  }
  FileHosts& hosts = transfer.hosts;
  uint64_t& done = transfer.done;
  uint64_t& total_transfer = transfer.plan.total_transfer;
  const PackItem* failed = nullptr;
  const DownloadResult result = FetchPack(hosts, first, pack, items, done, total_transfer, [&](const PackItem& item) {
    SetStatus(TextDownloading(item.entry->path), u"", false);
    return FetchEntry(hosts, WholeBody(hosts, *item.entry), *item.entry, nullptr, item.target, item.part_path,
                      transfer.files.StatePath(item.part_path), done, total_transfer);
  }, failed);
  if (result != DownloadResult::Ok) {
    ReportFailure(result, *failed->entry);
    return result;
  }
  for (const PackItem& item : items) transfer.records.Written(*item.entry, item.target);
  return result;
}

// One file, by its patch or its whole body.
DownloadResult FetchFileUnit(Transfer& transfer, const FetchUnit& unit, const BodyFetch& first) {
  const FileEntry& entry = transfer.files.manifest.files[transfer.fetch.entries[unit.item]];
  SetStatus(TextDownloading(entry.path), u"", false);
  const WideString target = transfer.files.target_of(entry);
  const WideString part_path = transfer.files.PartPath(target);
  const DownloadResult result =
      FetchEntry(transfer.hosts, first, entry, transfer.fetch.patches[unit.item], target, part_path,
                 transfer.files.StatePath(part_path), transfer.done, transfer.plan.total_transfer);
  if (result != DownloadResult::Ok) {
    ReportFailure(result, entry);
    return result;
  }
  transfer.records.Written(entry, target);
  return result;
}

// Every unit of the plan, with up to bodies_in_flight of their first requests
// under way at once. false at the first that fails, with its status set.
bool FetchAll(Transfer& transfer, size_t bodies_in_flight) {
  const Manifest& manifest = transfer.files.manifest;
  const TransferPlan& plan = transfer.plan;
  const FilesToFetch& fetch = transfer.fetch;
  BodyRequests requests(
      transfer.hosts, std::vector<uint64_t>(plan.first_sizes), bodies_in_flight, kBytesAhead,
      [&](size_t u) {
        const FetchUnit& unit = plan.order[u];
        if (unit.pack != kNoPack) return manifest.packs[plan.packs[unit.pack].pack].path;
        return fetch.patches[unit.item] ? fetch.patches[unit.item]->path
                                        : BodyRequestPath(manifest.files[fetch.entries[unit.item]]);
      },
      &g_state.cancel_requested);
  for (size_t u = 0; u < plan.order.size(); ++u) {
    const BodyFetch first = [&](uint64_t from, const BodyStart& start, const DataCallback& callback) {
      return requests.Receive(u, from, start, callback);
    };
    const FetchUnit& unit = plan.order[u];
    const DownloadResult result =
        unit.pack != kNoPack ? FetchPackUnit(transfer, unit, first) : FetchFileUnit(transfer, unit, first);
    if (result != DownloadResult::Ok) return false;
  }
  return true;
}

}  // namespace

void PauseBeforeRetry() {
  for (DWORD waited = 0; waited < kRetryPauseMs && !CancelRequested(); waited += 10) Sleep(10);
}

File CreatePartFile(const FileEntry& entry, const WideString& target, const WideString& part_path) {
  if (HasLinkBelow(ClientDir(entry.client), part_path)) return File();
  const size_t last_separator = target.rfind(u'\\');
  if (last_separator != WideString::npos) CreateDirectoryTree(target.substr(0, last_separator));
  MakeReplaceable(part_path);
  DeleteFileW(WinText(part_path));
  return File::CreateNew(part_path);
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

DownloadResult DownloadFile(Http& http, const FileEntry& entry, uint64_t done, uint64_t total_transfer) {
  FileHosts only(http);
  const WideString target = ClientDir(entry.client) + u"\\" + entry.path;
  const WideString part_path = target + u".part";
  return DownloadTo(WholeBody(only, entry), entry, target, part_path, ResumeStatePath(part_path), done,
                    total_transfer);
}

bool UpdateClientFiles(FileHosts& hosts, const Manifest& manifest, const bool selection[kClientCount], TaskKind task,
                       size_t bodies_in_flight) {
  const ClientFiles files(manifest);
  const std::vector<size_t> selected = SelectEntries(manifest.files, selection, files.target_of, FoldCase);
  VerifiedRecords records(manifest, selection, task);  // written on every way out
  FilesToFetch fetch;
  if (!CheckFiles(files, selected, records, fetch)) return false;
  ForgoBlockedPatches(files, fetch);
  DeleteStalePartsOf(files, fetch, selection);
  if (fetch.entries.empty()) {
    ReportAllDone();
    return true;
  }
  TransferPlan plan = PlanTransfer(manifest, fetch);
  if (!HasRoomFor(plan.total_size)) return false;
  Transfer transfer{hosts, files, fetch, plan, records};
  if (!FetchAll(transfer, bodies_in_flight)) return false;
  ReportAllDone();
  return true;
}
