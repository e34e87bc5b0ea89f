// What resuming inside a body costs, for bench/resume.sh:
//   resume_cost BODY SIZE SHA    BODY is a file's gzip body. Five interleaved
//                                pairs of inflating and hashing it in 64 KiB
//                                chunks, as the download does, without and with
//                                resume points; then the re-read a resume makes
//                                at 90% (SHA-256 and CRC-32 of 90% of the file,
//                                from memory). Prints medians, spreads and the
//                                points' count and record bytes.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "update/inflate_verify.h"
#include "update/resume_state.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Pass {
  double seconds = 0;
  size_t points = 0;
  size_t record_bytes = 0;
  bool verified = false;
};

// The file comes back into out (so the re-read has the bytes the .part would hold).
Pass Inflate(const std::string& body, uint64_t size, const std::string& sha, bool with_points, std::string& out) {
  Pass pass;
  out.clear();
  const double start = Now();
  InflateVerifier v(size, [&out](const uint8_t* data, uint32_t length) {
    out.append(reinterpret_cast<const char*>(data), length);
    return true;
  });
  if (with_points) {
    v.ReportPoints(kResumeSpacing, [&pass](const ResumePoint& point) {
      ResumeState state;
      state.request_path = "/arquivos/launcher/files/" + std::string(64, '0') + ".dl";
      state.sha256 = std::string(64, '0');
      state.point = point;
      pass.record_bytes += FormatResumeState(state).size();  // what each point writes
      ++pass.points;
    });
  }
  v.Start();
  for (size_t at = 0; at < body.size(); at += 65536) {
    const size_t n = std::min<size_t>(65536, body.size() - at);
    if (v.Feed(reinterpret_cast<const uint8_t*>(body.data() + at), static_cast<uint32_t>(n)) != ChunkOutcome::Accepted) {
      break;
    }
  }
  v.End();
  pass.verified = v.Finish(sha);
  pass.seconds = Now() - start;
  return pass;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: resume_cost BODY SIZE SHA\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string body = s.str();
  const uint64_t size = std::strtoull(argv[2], nullptr, 10);
  const std::string sha = argv[3];

  std::vector<double> plain, points, ratio, reread;
  Pass last;
  std::string file;
  for (int pair = 0; pair < 5; ++pair) {
    const Pass a = Inflate(body, size, sha, false, file);
    last = Inflate(body, size, sha, true, file);
    if (!a.verified || !last.verified) {
      std::printf("result: not verified\n");
      return 1;
    }
    plain.push_back(a.seconds);
    points.push_back(last.seconds);
    ratio.push_back(last.seconds / a.seconds);
    // The re-read of a resume at 90%: SHA-256 and CRC-32 of the kept bytes.
    const double start = Now();
    Sha256 digest;
    uint32_t crc = 0;
    const size_t kept = file.size() / 10 * 9;
    for (size_t at = 0; at < kept; at += 262144) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(262144, kept - at));
      digest.Update(file.data() + at, n);
      crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(file.data() + at), n));
    }
    reread.push_back(Now() - start);
    if (digest.FinishHex().empty() || crc == 1) return 1;  // keeps the work from being optimised away
  }
  const auto range = [](const std::vector<double>& v) {
    return std::to_string(*std::min_element(v.begin(), v.end())).substr(0, 5) + "-" +
           std::to_string(*std::max_element(v.begin(), v.end())).substr(0, 5);
  };
  std::printf("body %zu bytes, file %llu bytes\n", body.size(), static_cast<unsigned long long>(size));
  std::printf("inflate+hash without points: median %.3f s (%s)\n", Median(plain), range(plain).c_str());
  std::printf("inflate+hash with points:    median %.3f s (%s)\n", Median(points), range(points).c_str());
  std::printf("with/without per pair: median %.3f (%s)\n", Median(ratio), range(ratio).c_str());
  std::printf("points %zu, record bytes written %zu (%zu a point)\n", last.points, last.record_bytes,
              last.points ? last.record_bytes / last.points : 0);
  std::printf("re-read at 90%%: SHA-256 + CRC-32 of %zu bytes: median %.3f s (%s), %.0f MB/s\n",
              file.size() / 10 * 9, Median(reread), range(reread).c_str(), file.size() * 0.9 / Median(reread) / 1e6);
  return 0;
}
