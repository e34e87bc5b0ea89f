#include "tools/publish/progress.h"

#include <cstdio>

#include "tools/publish/platform.h"

namespace publish {

Progress::Progress(bool enabled, const char* what, uint64_t total_items, uint64_t total_bytes)
    : enabled_(enabled), terminal_(StderrIsTerminal()), what_(what), total_items_(total_items), total_bytes_(total_bytes) {}

Progress::~Progress() {
  if (enabled_ && printed_) Show(true);
}

void Progress::Show(bool final) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> hold(print_lock_, std::try_to_lock);
  if (!hold.owns_lock() && !final) return;  // someone else is printing
  if (!hold.owns_lock()) hold.lock();
  const auto interval = terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(5000);
  if (!final && printed_ && now - last_ < interval) return;
  last_ = now;
  printed_ = true;
  const double mb = static_cast<double>(bytes_.load()) / 1048576.0;
  const double total_mb = static_cast<double>(total_bytes_) / 1048576.0;
  std::fprintf(stderr, "%s%s: %llu/%llu files, %.1f/%.1f MB%s", terminal_ ? "\r" : "", what_.c_str(),
               static_cast<unsigned long long>(items_.load()), static_cast<unsigned long long>(total_items_), mb,
               total_mb, terminal_ && !final ? "\x1b[K" : "\n");
  std::fflush(stderr);
}

}  // namespace publish
