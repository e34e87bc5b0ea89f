// An advisory lock on the tree's root folder (flock): every publish holds it
// shared, prune exclusive. Prune thus never deletes an old body that a publish
// under way has found in place and chosen to reuse, and publishes still run
// side by side as before.
#pragma once
#include <string>

#include "tools/publish/platform.h"

namespace publish {

class TreeLock {
 public:
  enum class Mode { Shared, Exclusive };
  // Shared waits for a prune to end; Exclusive gives up at once when anyone
  // holds the lock. false with `busy` set when it is held, else with `error`.
  bool Take(const fs::path& tree, Mode mode, bool& busy, std::string& error);

 private:
  SystemFile folder_;
};

}  // namespace publish
