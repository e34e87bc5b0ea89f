#include "update/part_resume_win32.h"

#include <windows.h>
#include <zlib.h>

#include <memory>

#include "app/paths.h"
#include "app/win32_text.h"

namespace {

constexpr uint32_t kReadChunk = 262144;
// A record is a few hundred bytes, a patch's window and applier included well
// under this; anything longer is not one.
constexpr uint32_t kLongestRecord = 2 * kDeflateWindow + 4096;

std::string ReadRecord(const WideString& path) {
  const ScopedFile file(CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLongestRecord) return std::string();
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && (!ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
                        read != text.size())) {
    return std::string();
  }
  return text;
}

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
  if (!ParseResumeState(ReadRecord(state_path), state) || !ResumeStateFits(state, request_path, sha256, size) ||
      HasLinkBelow(client_dir, part_path)) {
    return false;
  }
  ScopedFile file(CreateFileW(WinText(part_path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER length;
  if (!file || !IsPlainFile(file.get()) || !GetFileSizeEx(file.get(), &length) ||
      static_cast<uint64_t>(length.QuadPart) < state.part_size) {
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
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.get(), want, &read, nullptr) || read != want) return false;
    digest.Update(buffer.get(), read);
    crc = static_cast<uint32_t>(crc32(crc, buffer.get(), read));
    window.append(reinterpret_cast<const char*>(buffer.get()), read);
    if (window.size() > kDeflateWindow) window.erase(0, window.size() - kDeflateWindow);
    left -= read;
  }
  if (crc != state.part_crc) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(state.part_size);
  if (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) return false;
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
  {
    const ScopedFile file(CreateFileW(WinText(temporary), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD wrote = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
        wrote != text.size()) {
      DeleteFileW(WinText(temporary));
      return false;
    }
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
