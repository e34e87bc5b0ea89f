// The patch path of a file download: the patch body fetched, applied from the
// file already on disk into the ".part" file, verified like any download and
// moved over the target. Runs on the worker thread only.
#pragma once
#include <cstdint>

#include "app/text.h"
#include "update/download.h"
#include "update/download_plan.h"
#include "update/http_win32.h"
#include "update/manifest.h"

// One attempt, for an entry whose target holds the patch's base content (as
// the check pass hashed it); fetch streams the patch body from a byte on. The
// patch bytes of an earlier attempt that were kept are replayed from disk and
// only the rest is asked for. Ok: the target is the entry's file, verified.
// Cancelled: the player cancelled; what came is kept. Any other result: the
// target is unchanged; cut says that the try was cut after bytes that are
// kept, so another one may go on, else the caller fetches the whole body.
// received: how far into the patch the attempt got, kept bytes included.
DownloadResult DownloadPatched(const BodyFetch& fetch, const FileEntry& entry, const PatchEntry& patch,
                               const WideString& target, const WideString& part_path, uint64_t done,
                               uint64_t total_transfer, uint64_t& received, bool& cut);
