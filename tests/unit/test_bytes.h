// Byte-string helpers shared by the unit tests of the download's verifying steps.
#pragma once
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

#include "update/sha256.h"

// windowBits: 31 gzip, 15 zlib, -15 raw deflate.
inline std::string Deflate(const std::string& data, int window_bits, int level = 6) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

inline std::string Gzip(const std::string& data) { return Deflate(data, 31); }

inline std::string Sha(const std::string& data) {
  Sha256 h;
  h.Update(data.data(), static_cast<uint32_t>(data.size()));
  return h.FinishHex();
}

inline std::string Mixed(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = (i / 4096) % 2 ? static_cast<char>(rng()) : static_cast<char>('a' + i % 7);
  return s;
}

