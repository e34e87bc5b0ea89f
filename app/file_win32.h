// The owner of every file the launcher opens by name, and the operations its
// modules share: each kind of open spelled once, reads and writes that move
// every byte or fail, and a close whose failure the caller sees (on a full
// network drive, or after a delayed write error, the close is the first to
// say the bytes are not on disk).
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/scoped.h"
#include "app/text.h"

// Closes every handle a File holds; tests replace it to make a close fail as
// one after a delayed write error does (the handle closed all the same).
using CloseFileFn = BOOL(WINAPI*)(HANDLE file);
extern CloseFileFn g_close_file;  // CloseHandle

// What a reader lets others do with a file it reads: anything, even delete it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class File {
 public:
  // A new file at path, for writing, shared with no one: nothing else reads a
  // half-written file. Fails when anything (a link too) is at path already.
  static File CreateNew(const WideString& path);
  // The same, replacing a file at path (a link there is written through).
  static File CreateAlways(const WideString& path);
  // An existing file, for reading; share is what others may do meanwhile,
  // flags CreateFileW's (FILE_FLAG_SEQUENTIAL_SCAN, FILE_FLAG_OPEN_REPARSE_POINT).
  static File OpenForRead(const WideString& path, DWORD share, DWORD flags = FILE_ATTRIBUTE_NORMAL);
  // An existing file, for writing and reading, shared with no one.
  static File OpenForWrite(const WideString& path, DWORD flags = FILE_ATTRIBUTE_NORMAL);
  // An existing file or folder (FILE_FLAG_BACKUP_SEMANTICS) for its size,
  // times and identity only, whoever else has it open.
  static File OpenForFacts(const WideString& path, DWORD flags = FILE_ATTRIBUTE_NORMAL);

  File() = default;
  explicit operator bool() const { return static_cast<bool>(handle_); }
  HANDLE get() const { return handle_.get(); }

  bool Size(uint64_t& size) const;
  // Exactly length bytes from the present position.
  bool ReadExactly(void* data, uint32_t length) const;
  // Every byte of data at the present position, or false.
  bool WriteAll(const void* data, size_t length) const;
  // Ends the file at offset, the next read or write going there.
  bool TruncateAt(uint64_t offset) const;
  bool Flush() const;
  // Closes now: false when the close failed, so what was written may not be
  // on disk. Closing nothing succeeds.
  bool Close();
  // Closes now, for a file being given up, whatever the close says.
  void Drop() { handle_.reset(); }

 private:
  struct Traits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return g_close_file(handle) != 0; }
  };
  explicit File(HANDLE handle) : handle_(handle) {}
  Scoped<Traits> handle_;
};

// The whole of a file (opened with flags) no longer than max_bytes; empty when
// there is none, it is empty or longer, or it cannot be read.
std::string ReadWholeFile(const WideString& path, uint64_t max_bytes, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// The attributes of the file at path; false when there is none or a folder
// is there. Whether it can be opened now does not matter.
bool FileAttributesOf(const WideString& path, DWORD& attributes);

// Moves a finished temporary file over path (made replaceable first) in one
// step, written through; the temporary goes when it cannot.
bool MoveTempOver(const WideString& temp, const WideString& path);

// Writes bytes as the whole of path: under temp, made fresh (whatever lies there
// goes first, so a link there is never written through), flushed, then moved
// over path. A crash or a full disk leaves the old file or the new one, never
// a mix.
bool WriteFileWhole(const WideString& path, const WideString& temp, const std::string& bytes);
