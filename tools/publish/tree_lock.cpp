#include "tools/publish/tree_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

namespace publish {

bool TreeLock::Take(const fs::path& tree, Mode mode, bool& busy, std::string& error) {
  busy = false;
  folder_.reset(::open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_) {
    error = "cannot open " + DisplayPath(tree) + ": " + std::strerror(errno);
    return false;
  }
  const int how = mode == Mode::Shared ? LOCK_SH : LOCK_EX | LOCK_NB;
  int result;
  while ((result = ::flock(static_cast<int>(folder_.get()), how)) != 0 && errno == EINTR) {
  }
  if (result == 0) return true;
  busy = errno == EWOULDBLOCK;
  error = "cannot lock " + DisplayPath(tree) + ": " + std::strerror(errno);
  folder_.reset();
  return false;
}

}  // namespace publish
