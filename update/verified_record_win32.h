// The records of verified files as one UpdateClientFiles call uses them: read
// at its start when the task trusts them, told what its check pass and its
// downloads saw, and written when it ends, however it ends.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/launcher_state.h"
#include "app/text.h"
#include "update/manifest.h"
#include "update/verified_record.h"

class VerifiedRecords {
 public:
  // A Play task trusts the records of the selected clients; any other task
  // ignores them and writes them anew.
  VerifiedRecords(const Manifest& manifest, const bool selection[kClientCount], TaskKind task);
  // Writes each selected client's record (temporary name, flush, rename)
  // unless it is the one read, byte for byte.
  ~VerifiedRecords();
  VerifiedRecords(const VerifiedRecords&) = delete;
  VerifiedRecords& operator=(const VerifiedRecords&) = delete;

  // The entry's file, open for reading and of the manifest's size, is about to
  // be hashed: true when its record vouches for it, so it need not be.
  bool Vouches(const FileEntry& entry, HANDLE file);
  // The file that Vouches was last asked about was hashed whole and is the
  // manifest's. It is recorded only if its last write had settled before its
  // reading began.
  void Hashed(const FileEntry& entry, HANDLE file);
  // The entry's verified download was moved into place at target.
  void Written(const FileEntry& entry, const WideString& target);

 private:
  // The facts of the entry's open file, with its client folder's volume.
  bool ReadFactsOf(const FileEntry& entry, HANDLE file, FileFacts& facts);
  size_t IndexOf(const FileEntry& entry) const;

  const Manifest& manifest_;
  bool selected_[kClientCount];
  bool trusted_;
  std::string read_[kClientCount];  // the record texts as read (empty when none or too large)
  PassRecord pass_;
  uint32_t volume_serials_[kClientCount] = {};  // of each client folder, once known
  // The file about to be hashed, and when its reading began.
  size_t pending_ = SIZE_MAX;
  uint64_t pending_start_ = 0;
};
