#include "update/verified_record_win32.h"

#include <winternl.h>

#include <algorithm>

#include "app/client_table.h"
#include "app/file_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"

namespace {

// NtQueryInformationFile, for FileInternalInformation: the file's index on its
// volume, the number GetFileInformationByHandle gives as nFileIndex. Taken
// from ntdll at run time, which every process has loaded.
using QueryInformationFile = decltype(&NtQueryInformationFile);

QueryInformationFile FileInformationQuery() {
  static const QueryInformationFile query = reinterpret_cast<QueryInformationFile>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  return query;
}

// The facts of an open file, its volume given: GetFileInformationByHandle
// would give them in one call, but asks for the volume's serial every time,
// which costs Wine 90 to 300 us a file, against a few us for these three.
bool ReadFacts(HANDLE file, uint32_t volume_serial, FileFacts& facts) {
  LARGE_INTEGER size;
  FILE_BASIC_INFO basic;
  IO_STATUS_BLOCK status{};
  LARGE_INTEGER index;
  const QueryInformationFile query = FileInformationQuery();
  if (!query || !GetFileSizeEx(file, &size) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      query(file, &status, &index, sizeof index, FileInternalInformation) < 0) {
    return false;
  }
  facts.size = static_cast<uint64_t>(size.QuadPart);
  facts.last_write = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
  facts.volume_serial = volume_serial;
  facts.file_index = static_cast<uint64_t>(index.QuadPart);
  return true;
}

// The serial of the volume a client folder is on, or 0 when it cannot be had
// (no folder yet). Its files are taken to be on that volume: the download
// writes through no link below the folder.
uint32_t FolderVolumeSerial(const WideString& folder) {
  const File handle = File::OpenForFacts(folder, FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !GetFileInformationByHandle(handle.get(), &info)) return 0;
  return info.dwVolumeSerialNumber;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

size_t FilesOf(const Manifest& manifest, ClientKind client) {
  size_t count = 0;
  for (const FileEntry& entry : manifest.files) count += entry.client == client ? 1 : 0;
  return count;
}

}  // namespace

VerifiedRecords::VerifiedRecords(const Manifest& manifest, const bool selection[kClientCount], TaskKind task)
    : manifest_(manifest), trusted_(task == TaskKind::Play), pass_(manifest.files) {
  std::copy(selection, selection + kClientCount, selected_);
  for (const ClientKind client : kClientKinds) {
    const size_t c = ClientIndex(client);
    const WideString path = VerifiedRecordPath(client);
    if (!selected_[c] || path.empty()) continue;
    // Read by every task, so that one that finds the same files again need
    // not rewrite (and flush) the same bytes; trusted by Play alone. Nothing
    // is read of a record larger than any this launcher writes for the manifest.
    read_[c] = ReadWholeFile(path, MaxRecordBytes(FilesOf(manifest, client)));
    std::vector<VerifiedFile> recorded;
    if (trusted_ && ParseRecord(read_[c], InfoOf(client).key, recorded)) pass_.Trust(client, std::move(recorded));
  }
}

VerifiedRecords::~VerifiedRecords() {
  for (const ClientKind client : kClientKinds) {
    const size_t c = ClientIndex(client);
    const WideString path = VerifiedRecordPath(client);
    if (!selected_[c] || path.empty()) continue;
    const std::vector<VerifiedFile> files = pass_.Result(client);
    const std::string text = FormatRecord(InfoOf(client).key, files);
    if (text == read_[c]) continue;
    // Nothing to record and no record to replace: no file for nothing.
    if (files.empty() && !IsExistingFile(path)) continue;
    WriteFileWhole(path, path + u".tmp", text);
  }
}

bool VerifiedRecords::ReadFactsOf(const FileEntry& entry, HANDLE file, FileFacts& facts) {
  uint32_t& serial = volume_serials_[ClientIndex(entry.client)];
  if (serial == 0) serial = FolderVolumeSerial(ClientDir(entry.client));
  return serial != 0 && ReadFacts(file, serial, facts);
}

size_t VerifiedRecords::IndexOf(const FileEntry& entry) const {
  return static_cast<size_t>(&entry - manifest_.files.data());
}

bool VerifiedRecords::Vouches(const FileEntry& entry, HANDLE file) {
  pending_ = IndexOf(entry);
  pending_start_ = Now();
  FileFacts facts;
  return trusted_ && ReadFactsOf(entry, file, facts) && pass_.Vouches(pending_, facts);
}

void VerifiedRecords::Hashed(const FileEntry& entry, HANDLE file) {
  // A write while the file was read moves its time past the start of the
  // reading, so the settle test also keeps out a digest of changing bytes.
  FileFacts facts;
  if (pending_ != IndexOf(entry) || !ReadFactsOf(entry, file, facts) ||
      !SettledBefore(facts.last_write, pending_start_)) {
    return;
  }
  pass_.Note(pending_, facts);
}

void VerifiedRecords::Written(const FileEntry& entry, const WideString& target) {
  // The launcher wrote this file alone (its ".part" shares with no one), so
  // its last write needs no time to settle.
  const File file = File::OpenForFacts(target);
  FileFacts facts;
  if (file && ReadFactsOf(entry, file.get(), facts) && facts.size == entry.size) pass_.Note(IndexOf(entry), facts);
}
