#include "app/file_win32.h"

#include "app/move_file_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"

CloseFileFn g_close_file = CloseHandle;

namespace {

HANDLE Open(const WideString& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return CreateFileW(WinText(path), access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace

File File::CreateNew(const WideString& path) {
  return File(Open(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
}

File File::CreateAlways(const WideString& path) {
  return File(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
}

File File::OpenForRead(const WideString& path, DWORD share, DWORD flags) {
  return File(Open(path, GENERIC_READ, share, OPEN_EXISTING, flags));
}

File File::OpenForWrite(const WideString& path, DWORD flags) {
  return File(Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, flags));
}

File File::OpenForFacts(const WideString& path, DWORD flags) {
  return File(Open(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, flags));
}

bool File::Size(uint64_t& size) const {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(get(), &length)) return false;
  size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool File::ReadExactly(void* data, uint32_t length) const {
  DWORD read = 0;
  return ReadFile(get(), data, length, &read, nullptr) && read == length;
}

bool File::WriteAll(const void* data, size_t length) const {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const DWORD want = length < 0x40000000u ? static_cast<DWORD>(length) : 0x40000000u;
    DWORD wrote = 0;
    if (!WriteFile(get(), bytes, want, &wrote, nullptr) || wrote == 0) return false;
    bytes += wrote;
    length -= wrote;
  }
  return true;
}

bool File::TruncateAt(uint64_t offset) const {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(get());
}

bool File::Flush() const { return FlushFileBuffers(get()) != 0; }

bool File::Close() { return handle_.close(); }

std::string ReadWholeFile(const WideString& path, uint64_t max_bytes, DWORD flags) {
  const File file = File::OpenForRead(path, FILE_SHARE_READ, flags);
  uint64_t size = 0;
  if (!file || !file.Size(size) || size == 0 || size > max_bytes || size > 0x7fffffffu) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  return file.ReadExactly(&text[0], static_cast<uint32_t>(size)) ? text : std::string();
}

bool FileAttributesOf(const WideString& path, DWORD& attributes) {
  attributes = GetFileAttributesW(WinText(path));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveTempOver(const WideString& temp, const WideString& path) {
  MakeReplaceable(path);
  if (g_move_file(WinText(temp), WinText(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(WinText(temp));
  return false;
}

bool WriteFileWhole(const WideString& path, const WideString& temp, const std::string& bytes) {
  MakeReplaceable(temp);
  DeleteFileW(WinText(temp));
  File file = File::CreateNew(temp);
  bool ok = file && file.WriteAll(bytes.data(), bytes.size()) && file.Flush();
  ok = file.Close() && ok;
  if (ok) return MoveTempOver(temp, path);
  DeleteFileW(WinText(temp));
  return false;
}
