#include "update/pack_fetch.h"

#include <windows.h>

#include <memory>

#include "app/launcher_state.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "update/download_progress.h"
#include "update/inflate_verify.h"
#include "update/pack.h"

namespace {

// The file bar follows the member being written, the total bar and the amount
// the pack's bytes as they come, skipped members' included.
void ShowPackTransfer(uint64_t member_received, uint64_t member_length, uint64_t pack_received, uint64_t pack_size,
                      uint64_t done, uint64_t total_transfer) {
  g_state.file_permille.exchange(FilePermille(member_received, member_length));
  const uint64_t current = TransferCurrent(done, pack_received, pack_size);
  g_state.total_permille.exchange(Permille(current, total_transfer));
  SetDetail(TransferDetail(current, total_transfer));
}

// The member being written: its ".part" and its verifier.
struct MemberWrite {
  PackItem* item = nullptr;
  File part;
  std::unique_ptr<InflateVerifier> verifier;
  uint64_t received = 0;

  // Ends a member that did not verify: nothing of it stays.
  void Discard() {
    if (verifier) verifier->End();
    verifier.reset();
    part.Drop();
    if (item) DeleteFileW(WinText(item->part_path));
    item = nullptr;
  }
};

// One request for the pack, taking the members still missing. Ok only when
// each of them is in place.
DownloadResult PackAttempt(const BodyFetch& fetch, const PackEntry& pack, std::vector<PackItem>& items,
                           uint64_t done, uint64_t total_transfer, uint64_t& received, const PackItem*& failed) {
  std::vector<PackCutter::Range> wanted;
  std::vector<PackItem*> which;
  for (PackItem& item : items) {
    if (item.placed) continue;
    wanted.push_back(PackCutter::Range{item.member->offset, item.member->length});
    which.push_back(&item);
  }
  PackCutter cutter(std::move(wanted));
  MemberWrite now;
  uint64_t shown_received = 0, shown_length = 0;
  bool member_lost = false;
  DownloadResult result = DownloadResult::NetworkError;

  const auto take = [&](size_t m, const uint8_t* data, uint32_t length, bool last) -> PackCutter::Take {
    PackItem& item = *which[m];
    if (now.item != &item) {
      SetStatus(TextDownloading(item.entry->path), u"", false);
      now.item = &item;
      now.received = 0;
      now.part = CreatePartFile(*item.entry, item.target, item.part_path);
      now.verifier = std::make_unique<InflateVerifier>(
          item.entry->size, [&now](const uint8_t* d, uint32_t n) { return now.part.WriteAll(d, n); });
      if (!now.part || !now.verifier->Start()) {
        failed = &item;
        result = DownloadResult::WriteError;
        return PackCutter::Take::Stop;
      }
    }
    now.received += length;
    shown_received = now.received;
    shown_length = item.member->length;
    const ChunkOutcome outcome = now.verifier->Feed(data, length);
    if (outcome == ChunkOutcome::WriteFailed) {
      failed = &item;
      result = DownloadResult::WriteError;
      return PackCutter::Take::Stop;
    }
    if (outcome != ChunkOutcome::Accepted) {  // a corrupt member: the rest of the pack may still serve
      now.Discard();
      member_lost = true;
      return PackCutter::Take::DropMember;
    }
    if (!last) return PackCutter::Take::Next;
    now.verifier->End();
    if (!now.part.Close()) {  // what it wrote may not be on disk
      now.Discard();
      failed = &item;
      result = DownloadResult::WriteError;
      return PackCutter::Take::Stop;
    }
    if (!now.verifier->Finish(item.entry->sha256)) {
      now.Discard();
      member_lost = true;
      return PackCutter::Take::Next;
    }
    now.verifier.reset();
    now.item = nullptr;
    const DownloadResult moved = MovePartIntoPlace(item.part_path, item.target);
    if (moved != DownloadResult::Ok) {
      failed = &item;
      result = moved;
      return PackCutter::Take::Stop;
    }
    item.placed = true;
    return PackCutter::Take::Next;
  };

  const bool ok = fetch(0, nullptr, [&](const uint8_t* data, uint32_t length) {
    if (CancelRequested()) {
      result = DownloadResult::Cancelled;
      return false;
    }
    received += length;
    if (!cutter.Feed(data, length, take)) return false;
    ShowPackTransfer(shown_received, shown_length, received, pack.size, done, total_transfer);
    return true;
  });
  now.Discard();  // a member cut off by the end of the transfer
  if (CancelRequested()) return DownloadResult::Cancelled;
  if (result != DownloadResult::NetworkError) return result;
  return ok && cutter.Complete() && !member_lost ? DownloadResult::Ok : DownloadResult::NetworkError;
}

bool StillWorthFetching(const PackEntry& pack, const std::vector<PackItem>& items) {
  uint64_t bytes = 0;
  size_t count = 0;
  for (const PackItem& item : items) {
    if (item.placed) continue;
    bytes = SaturatingAdd(bytes, item.member->length);
    ++count;
  }
  return PackWorthFetching(bytes, count, pack.size);
}

}  // namespace

DownloadResult FetchPack(FileHosts& hosts, const BodyFetch& fetch, const PackEntry& pack, std::vector<PackItem>& items,
                         uint64_t& done, uint64_t& total_transfer, const SingleFetch& single,
                         const PackItem*& failed) {
  failed = nullptr;
  for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
    if (attempt > 0) {
      // A pack fetched again brings every byte again; once what is missing
      // no longer pays for that, the files come alone.
      if (!StillWorthFetching(pack, items)) break;
      // The next host at once; the last one after a pause (a cancel during it
      // ends the next attempt at once).
      if (!hosts.PassOver()) PauseBeforeRetry();
      total_transfer = SaturatingAdd(total_transfer, pack.size);
    }
    g_state.file_permille.exchange(0);
    uint64_t received = 0;
    const DownloadResult result = PackAttempt(fetch, pack, items, done, total_transfer, received, failed);
    const uint64_t counted = received < pack.size ? received : pack.size;
    if (result == DownloadResult::Ok) {
      done = SaturatingAdd(done, pack.size);
      return result;
    }
    done = SaturatingAdd(done, counted);
    // The rest of this attempt's bytes will not come.
    total_transfer -= pack.size - counted;
    if (result != DownloadResult::NetworkError) {
      // A cancel concerns no file in particular: the first the pack still owed.
      for (const PackItem& item : items) {
        if (!failed && !item.placed) failed = &item;
      }
      if (!failed) failed = &items.front();
      return result;
    }
  }
  // Silently alone, as if there were no pack.
  for (const PackItem& item : items) {
    if (!item.placed) total_transfer = SaturatingAdd(total_transfer, item.entry->download_size);
  }
  for (const PackItem& item : items) {
    if (item.placed) continue;
    const DownloadResult result = single(item);
    if (result != DownloadResult::Ok) {
      failed = &item;
      return result;
    }
  }
  return DownloadResult::Ok;
}
