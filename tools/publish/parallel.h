#pragma once
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace publish {

// Runs fn(0..count-1) on up to `jobs` threads; stops handing out work once fn
// returns false, and then returns false.
inline bool ParallelFor(size_t count, unsigned jobs, const std::function<bool(size_t)>& fn) {
  std::atomic<size_t> next{0};
  std::atomic<bool> ok{true};
  auto worker = [&] {
    while (ok.load()) {
      const size_t i = next.fetch_add(1);
      if (i >= count) return;
      if (!fn(i)) ok = false;
    }
  };
  const size_t threads = std::min<size_t>(std::max(1u, jobs), count);
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  return ok.load();
}

// 0 asks for one thread per core.
inline unsigned JobCount(unsigned requested) {
  if (requested > 0) return std::min(requested, 64u);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : std::min(cores, 16u);
}

}  // namespace publish
