// The ".part" of a body download kept across attempts and processes: its record
// (update/resume_state.h) saved at each point, and a ".part" taken up again only
// once it has been re-read and found to be what the record says. Runs on the
// worker thread only.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "app/file_win32.h"
#include "app/text.h"
#include "update/resume_state.h"
#include "update/sha256.h"

struct ResumedPart {
  File file;           // open for writing, at the end of the bytes the point stands for
  ResumeState state;
  Sha256 digest;       // of those bytes
  std::string window;  // their last kDeflateWindow bytes (all when fewer)
};

// Takes the ".part" at part_path up again when the record at state_path names
// this body and this file, the ".part" is a plain file of its own (no link in
// its place, no second name) under a folder with no link below client_dir, is
// at least as long as the record says and those bytes have its CRC-32. Cuts
// off whatever was written after the point. false for anything else, and the
// caller starts over from byte 0; also false when cancel is set during the
// re-read, with nothing changed on disk.
bool OpenResumedPart(const WideString& client_dir, const WideString& part_path, const WideString& state_path,
                     const std::string& request_path, const std::string& sha256, uint64_t size,
                     const std::atomic<bool>& cancel, ResumedPart& part);

// Replaces the record as a whole (written beside it, then moved over it), so a
// crash leaves the old record or the new one. false when it could not.
bool SaveResumeState(const WideString& state_path, const ResumeState& state);

// The ".part" and its record, gone.
void DropPart(const WideString& part_path, const WideString& state_path);
