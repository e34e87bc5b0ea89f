// The pack path of the download: one request brings several files, each
// member streamed through the same inflate, verify, ".part" and move as a body
// fetched alone. Runs on the worker thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "app/text.h"
#include "update/download.h"
#include "update/file_hosts_win32.h"
#include "update/http_win32.h"
#include "update/manifest.h"

// One file the pack brings.
struct PackItem {
  const FileEntry* entry = nullptr;
  const PackMember* member = nullptr;
  WideString target, part_path;
  bool placed = false;  // verified and moved into place
};

// Fetches the file of one item alone, the way a file outside any pack comes.
using SingleFetch = std::function<DownloadResult(const PackItem& item)>;

// Tries the pack (fetch streams it) up to three times while what is still
// missing keeps it worth fetching, then brings every item not yet in place
// alone. done and total_transfer count the bytes really fetched: the caller's
// total holds pack.size for the first attempt. On a result other than Ok,
// failed is the item whose file it concerns.
// A failed attempt passes the current host over, as a failed body does.
DownloadResult FetchPack(FileHosts& hosts, const BodyFetch& fetch, const PackEntry& pack, std::vector<PackItem>& items,
                         uint64_t& done, uint64_t& total_transfer, const SingleFetch& single,
                         const PackItem*& failed);
