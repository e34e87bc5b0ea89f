// The few operating-system calls the publishing tool needs beyond the C++
// standard library: durable writes, atomic replacement and terminal detection.
// POSIX calls, in platform.cpp: the tool is built natively only.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "app/scoped.h"

namespace publish {

namespace fs = std::filesystem;

// The system's file descriptor, kept as an integer so this header names no
// system header; platform.cpp closes it.
struct SystemFileTraits {
  using Handle = intptr_t;
  static Handle Invalid() { return -1; }
  static bool Close(Handle file);
};
using SystemFile = Scoped<SystemFileTraits>;

// A file read from start to end.
class InFile {
 public:

  bool Open(const fs::path& path);
  // Bytes read (0 at the end); -1 on error.
  int64_t Read(void* buffer, uint32_t capacity);
  void Close();

 private:
  SystemFile file_;
};

// A file created (or truncated) and written from start to end.
class OutFile {
 public:

  bool Create(const fs::path& path);
  bool Write(const void* data, size_t length);
  // Waits until the data is on the disk, not just in the cache.
  bool Sync();
  bool Close();

 private:
  SystemFile file_;
};

// Moves `from` over `to` in one step: a reader sees the old file or the new
// one, never a mix or nothing.
bool MoveIntoPlace(const fs::path& from, const fs::path& to);
// A file written under a temporary name goes into place only when it was
// written whole (done); otherwise, or when the rename fails, the temporary file
// goes. false with `error` set then.
bool MoveTempIntoPlace(const fs::path& temp, const fs::path& target, bool done, std::string& error);

// Makes the names created or renamed in `dir` durable (fsync of the folder).
bool SyncDirectory(const fs::path& dir);

// Text of the last failed call of this layer (errno).
std::string LastErrorText();

bool StderrIsTerminal();
unsigned long ProcessId();

// The name a file is written under before it is renamed into place: hidden,
// beside its target, marked with this process's id. IsTempName tells such a
// name (of any process) apart, so leftovers and runs in progress can be seen.
std::string TempName(const std::string& name);
bool IsTempName(const std::string& name);

// A path's UTF-8 form, or false when the name has no valid UTF-8 form (bytes
// that are not UTF-8).
bool PathToUtf8(const fs::path& path, std::string& utf8);
// The UTF-8 name given on a command line or in a test, as a path.
fs::path PathFromUtf8(const std::string& utf8);
// For messages: the UTF-8 form, with undecodable bytes shown as \xNN.
std::string DisplayPath(const fs::path& path);

}  // namespace publish
