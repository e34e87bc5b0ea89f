#include "update/part_resume_win32.h"

#include <windows.h>
#include <zlib.h>

#include <memory>

#include "app/file_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"

namespace {

constexpr uint32_t kReadChunk = 262144;
// A record is a few hundred bytes, a patch's window and applier included well
// under this; anything longer is not one.
constexpr uint32_t kLongestRecord = 2 * kDeflateWindow + 4096;

// A plain file that is the only name of its content: a link (or a second name
// of a file elsewhere) would be written through or moved into place.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         info.nNumberOfLinks == 1;
}

}  // namespace

bool OpenResumedPart(const WideString& client_dir, const WideString& part_path, const WideString& state_path,
                     const std::string& request_path, const std::string& sha256, uint64_t size,
                     const std::atomic<bool>& cancel, ResumedPart& part) {
  ResumeState state;
  if (!ParseResumeState(ReadWholeFile(state_path, kLongestRecord, FILE_FLAG_OPEN_REPARSE_POINT), state) ||
      !ResumeStateFits(state, request_path, sha256, size) || HasLinkBelow(client_dir, part_path)) {
    return false;
  }
  File file = File::OpenForWrite(part_path, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN);
  uint64_t length = 0;
  if (!file || !IsPlainFile(file.get()) || !file.Size(length) || length < state.part_size) {
    return false;
  }
  // Read again and hashed up to the point: the digest goes on from there, and
  // the CRC-32 shows the bytes are the ones the record was written after.
  Sha256 digest;
  uint32_t crc = 0;
  std::string window;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  for (uint64_t left = state.part_size; left > 0;) {
    if (cancel.load()) return false;
    const DWORD want = left < kReadChunk ? static_cast<DWORD>(left) : kReadChunk;
    if (!file.ReadExactly(buffer.get(), want)) return false;
    digest.Update(buffer.get(), want);
    crc = static_cast<uint32_t>(crc32(crc, buffer.get(), want));
    window.append(reinterpret_cast<const char*>(buffer.get()), want);
    if (window.size() > kDeflateWindow) window.erase(0, window.size() - kDeflateWindow);
    left -= want;
  }
  if (crc != state.part_crc) return false;
  if (!file.TruncateAt(state.part_size)) return false;
  // A patch's inflater looks back into the patch, not into the file it makes.
  if (!state.window.empty() || !state.consumer.empty()) window = state.window;
  part.file = std::move(file);
  part.state = state;
  part.digest = digest;
  part.window = window;
  return true;
}

bool SaveResumeState(const WideString& state_path, const ResumeState& state) {
  const WideString temporary = state_path + u".new";
  const std::string text = FormatResumeState(state);
  File file = File::CreateAlways(temporary);
  const bool written = file && file.WriteAll(text.data(), text.size());
  if (!file.Close() || !written) {
    DeleteFileW(WinText(temporary));
    return false;
  }
  if (MoveFileExW(WinText(temporary), WinText(state_path), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(WinText(temporary));
  return false;
}

void DropPart(const WideString& part_path, const WideString& state_path) {
  MakeReplaceable(part_path);
  DeleteFileW(WinText(part_path));
  DeleteFileW(WinText(state_path));
}
