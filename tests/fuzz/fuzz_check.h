// An invariant of a fuzz target: a failed one aborts, which libFuzzer reports
// with the input that broke it.
#pragma once
#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      std::fprintf(stderr, "invariant failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)
