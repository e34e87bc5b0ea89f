// The record of verified files, one per client, kept in the install folder so
// that the play task need not read a file that cannot have changed since the launcher
// last verified it. For each file it holds the facts that a change of content
// moves (size, last-write time, and the file's identity: volume serial and file
// index) with the SHA-256 the file had. A file counts as valid without being
// read only while all of them are unchanged and that digest is the manifest's;
// a record that is not whole and consistent counts as no record. Someone who
// rewrites a file and sets its time back deceives it: the verify task
// (kTextVerifyFiles) trusts no record. No Windows header.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/client_table.h"
#include "app/text.h"
#include "update/manifest.h"

struct FileFacts {
  uint64_t size = 0;
  uint64_t last_write = 0;     // 100 ns units since 1601, as a FILETIME
  uint32_t volume_serial = 0;  // of the volume its client folder is on
  uint64_t file_index = 0;     // its index on that volume; 0 where none is given
};
bool operator==(const FileFacts& a, const FileFacts& b);
inline bool operator!=(const FileFacts& a, const FileFacts& b) { return !(a == b); }

struct VerifiedFile {
  WideString path;     // inside its client folder, as the manifest names it
  std::string sha256;  // the file's digest when it had these facts
  FileFacts facts;
};

// The text of client_key's record, the files in the order given. Its last line
// carries the SHA-256 of every byte before it, so that a damaged record is
// told from a whole one.
std::string FormatRecord(const std::string& client_key, const std::vector<VerifiedFile>& files);
// The files of a whole record of client_key in its format's version. false, with
// files empty, for anything else: another version or client, a bad line or
// number, a count that is not the number of lines, a path named twice, or a
// final digest that is not that of the text before it.
bool ParseRecord(std::string_view text, const std::string& client_key, std::vector<VerifiedFile>& files);

// The largest record worth reading for a client of manifest_files files: its
// header and final line, and one line per file with a path of at most 1,000
// bytes. A bigger file is not one this launcher wrote for that manifest.
uint64_t MaxRecordBytes(size_t manifest_files);

// A file's last write must lie this long before its reading starts for the
// digest to go into the record: a write within the same tick of the file
// system's clock (NTFS about 16 ms, FAT 2 s) leaves the last-write time as it
// was, so a file written while or just before it was read could change unseen.
constexpr uint64_t kSettleTime = 20000000;  // 2 s in 100 ns units
bool SettledBefore(uint64_t last_write, uint64_t read_start);

// One check pass's part in the records of the selected clients: what they
// vouch for, and what the pass saw, which becomes the new records. Entries are
// named by their index in the manifest's files.
class PassRecord {
 public:
  explicit PassRecord(const std::vector<FileEntry>& files);

  // The record found on disk for client; a task that trusts no record gives none.
  void Trust(ClientKind client, std::vector<VerifiedFile> recorded);
  // Whether files[index]'s record vouches for the file with these facts: the
  // same facts, with an identity, and the manifest's size and digest. A record
  // whose facts differ is dropped from the new record.
  bool Vouches(size_t index, const FileFacts& facts);
  // files[index] is the manifest's file and had these facts then. Facts
  // without an identity, and kept files (never compared), are not recorded.
  void Note(size_t index, const FileFacts& facts);
  // The new record of client, in manifest order: for each of its entries, what
  // the pass noted, else its old record unless the pass saw other facts.
  std::vector<VerifiedFile> Result(ClientKind client) const;

 private:
  enum class Fate { Unseen, Kept, Dropped, Noted };
  const std::vector<FileEntry>& files_;
  std::vector<Fate> fates_;
  std::vector<FileFacts> noted_;
  std::unordered_map<WideString, VerifiedFile> recorded_[kClientCount];
};
