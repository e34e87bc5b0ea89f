// Progress of a long run on stderr: rewritten in place on a terminal, a line
// every few seconds otherwise (--progress into a log). Safe from any thread.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace publish {

class Progress {
 public:
  Progress(bool enabled, const char* what, uint64_t total_items, uint64_t total_bytes);
  ~Progress();

  void AddItem() { items_.fetch_add(1, std::memory_order_relaxed); Show(false); }
  std::atomic<uint64_t>& bytes() { return bytes_; }
  // Prints when due; the byte counter may have moved since the last call.
  void Show(bool final);

 private:
  bool enabled_;
  bool terminal_;
  std::string what_;
  uint64_t total_items_, total_bytes_;
  std::atomic<uint64_t> items_{0}, bytes_{0};
  std::mutex print_lock_;
  std::chrono::steady_clock::time_point last_{};
  bool printed_ = false;
};

}  // namespace publish
