// Brings the installed files of the game clients in line with the manifest: a
// check pass by size and SHA-256, a free-space test, then each missing or
// different file fetched as a gzip body, inflated into a ".part" file beside its
// target, verified and moved over it. Runs on the worker thread only.
#pragma once
#include <cstdint>

#include "app/text.h"
#include "update/manifest.h"

class Http;

enum class DownloadResult : int32_t {
  Ok = 0,            // verified and moved into place
  NetworkError = 1,  // transfer or verification failed; the only result tried again
  WriteError = 2,    // the ".part" file could not be made or written, or no inflater
  ReplaceError = 3,  // the verified copy could not be moved over the target
  Cancelled = 4,
};

// selection is indexed by ClientKind (0 OTClient, 1 Classic). true when every
// selected file is in place and verified; false with the status texts set.
bool UpdateClientFiles(Http& http, const Manifest& manifest, const bool selection[2]);

// One attempt at one file. done and total_transfer only drive the progress.
DownloadResult DownloadFile(Http& http, const FileEntry& entry, uint64_t done, uint64_t total_transfer);
// The same attempt with the ".part" path chosen by the caller.
DownloadResult DownloadFile(Http& http, const FileEntry& entry, const WideString& part_path, uint64_t done,
                            uint64_t total_transfer);

// Progress of one transfer: the "Arquivo" bar from received of download_size,
// the "Total" bar and the "MB de MB" detail from done + received of total_transfer.
void ShowTransfer(uint64_t received, uint64_t download_size, uint64_t done, uint64_t total_transfer);

// ClientDir of the entry's client + "\" + its path, without normalisation.
WideString ClientFilePath(const FileEntry& entry);
