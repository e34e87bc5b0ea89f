#include "tools/publish/platform.h"

#include <cstdio>
#include <cstring>

#include "app/text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace publish {

namespace {

thread_local std::string g_last_error;

void RememberError() { g_last_error = std::strerror(errno); }

}  // namespace

std::string LastErrorText() { return g_last_error; }

std::string TempName(const std::string& name) { return "." + name + "." + std::to_string(ProcessId()) + ".tmp"; }

bool IsTempName(const std::string& name) {
  return name.size() > 5 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

void InFile::Close() { file_.reset(); }

bool OutFile::Close() {
  const bool ok = file_.close();
  if (!ok) RememberError();
  return ok;
}

bool SystemFileTraits::Close(Handle file) { return ::close(static_cast<int>(file)) == 0; }

bool InFile::Open(const fs::path& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    RememberError();
    return false;
  }
  file_.reset(fd);
  return true;
}

int64_t InFile::Read(void* buffer, uint32_t capacity) {
  while (true) {
    const ssize_t got = ::read(static_cast<int>(file_.get()), buffer, capacity);
    if (got >= 0) return got;
    if (errno != EINTR) {
      RememberError();
      return -1;
    }
  }
}

bool OutFile::Create(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    RememberError();
    return false;
  }
  file_.reset(fd);
  return true;
}

bool OutFile::Write(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ssize_t wrote = ::write(static_cast<int>(file_.get()), p, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      RememberError();
      return false;
    }
    p += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

bool OutFile::Sync() {
  if (::fsync(static_cast<int>(file_.get())) != 0) {
    RememberError();
    return false;
  }
  return true;
}

bool MoveIntoPlace(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    RememberError();
    return false;
  }
  return true;
}

bool MoveTempIntoPlace(const fs::path& temp, const fs::path& target, bool done, std::string& error) {
  if (done && !MoveIntoPlace(temp, target)) {
    error = "cannot rename " + DisplayPath(temp) + ": " + LastErrorText();
    done = false;
  }
  if (!done) {
    std::error_code ignore;
    fs::remove(temp, ignore);
  }
  return done;
}

bool SyncDirectory(const fs::path& dir) {
  const SystemFile folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) {
    RememberError();
    return false;
  }
  const bool ok = ::fsync(static_cast<int>(folder.get())) == 0;
  if (!ok) RememberError();
  return ok;
}

bool StderrIsTerminal() { return ::isatty(2) != 0; }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool PathToUtf8(const fs::path& path, std::string& utf8) {
  utf8 = path.native();
  return WideToUtf8(Utf8ToUtf16(utf8)) == utf8;  // invalid bytes came back as U+FFFD
}

fs::path PathFromUtf8(const std::string& utf8) { return fs::path(utf8); }

std::string DisplayPath(const fs::path& path) {
  std::string utf8;
  if (PathToUtf8(path, utf8)) return utf8;
  std::string shown;
  for (unsigned char c : path.native()) {
    if (c >= 0x80 || c < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    } else {
      shown.push_back(static_cast<char>(c));
    }
  }
  return shown;
}

}  // namespace publish
