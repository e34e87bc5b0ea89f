// Brings the installed files of the game clients in line with the manifest: a
// check pass by size and SHA-256, a free-space test, then each missing or
// different file fetched as a gzip body, inflated into a ".part" file beside its
// target, verified and moved over it. Runs on the worker thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/text.h"
#include "update/manifest.h"

class FileHosts;
class Http;

enum class DownloadResult : int32_t {
  Ok = 0,            // verified and moved into place
  NetworkError = 1,  // transfer or verification failed; the only result tried again
  WriteError = 2,    // the ".part" file could not be made, written or closed, or no inflater
  ReplaceError = 3,  // the verified copy could not be moved over the target
  Cancelled = 4,
};

// Body requests under way at once, the one being read included. Each carries
// one request per round trip, so more hide more of it (at 150 ms, 4, 5, 6 and 8
// added 35, 28, 21 and 17 ms a file in the relay benchmark); but each costs the
// file host a connection, a player on a slow link a share of the line, and the
// process one of WinHTTP's threads (about 1 MiB each under Wine), and 5 is the
// most that keeps the 512 MiB install under 32 MiB there.
constexpr size_t kBodiesInFlight = 5;
// A request sent ahead waits unread until the bodies in front of it have all
// arrived; at most this many bytes of them, so that on a slow link it is not left
// long enough for the file host's send time-out to cut it (nginx: 60 s between
// two writes). Round trips matter for small bodies; a large one is read alone.
constexpr uint64_t kBytesAhead = 16u << 20;

// selection is indexed by ClientKind (0 OTClient, 1 Classic). true when every
// selected file is in place and verified; false with the status texts set.
// A Play task's check pass takes a file its record vouches for as valid without
// reading it (update/verified_record.h); every other task hashes every file.
// Either way the records of the selected clients are written anew at the end.
// At most bodies_in_flight body requests are under way; 1 is the sequential
// order (one request, read to its end, then the next). A body that fails moves
// its next try, and every request still out, to the next of the hosts.
bool UpdateClientFiles(FileHosts& hosts, const Manifest& manifest, const bool selection[kClientCount], TaskKind task,
                       size_t bodies_in_flight);

// One attempt at one file, staged at its target + ".part", as each try of an
// update makes it. done and total_transfer only drive the progress.
DownloadResult DownloadFile(Http& http, const FileEntry& entry, uint64_t done, uint64_t total_transfer);

// A fresh ".part" for one attempt at target, for writing, shared with no one.
// Whatever lies at its name goes first (an old one, or a link to a file
// elsewhere, which must be neither written through nor moved into place); a
// link among the folders below the client folder refuses the write instead of
// sending it elsewhere. Empty when it could not be made.
File CreatePartFile(const FileEntry& entry, const WideString& target, const WideString& part_path);

// Moves a verified ".part" over target: Ok, or ReplaceError with the ".part" gone.
DownloadResult MovePartIntoPlace(const WideString& part_path, const WideString& target);

// Attempts at one body, patch or pack before it counts as failed.
constexpr int kFetchAttempts = 3;
// Waits out the pause before another attempt of a file or a pack, unless the
// player cancels.
void PauseBeforeRetry();

// Progress of one transfer: the file bar from received of download_size, the
// total bar and the amounts under them from done + received of total_transfer.
void ShowTransfer(uint64_t received, uint64_t download_size, uint64_t done, uint64_t total_transfer);
