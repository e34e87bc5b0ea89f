#include "update/resume_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/unit/test_bytes.h"
#include "update/inflate_verify.h"

namespace {

ResumeState SampleState() {
  ResumeState s;
  s.request_path = "/arquivos/launcher/files/" + std::string(64, 'a') + ".dl";
  s.sha256 = std::string(64, 'b');
  s.size = 104857600;
  s.point = {94371840, 3, 0xa5, 94000000, 4000000000u};
  s.part_size = 94000000;
  s.part_crc = 17;
  s.window = std::string("\0\xff\x01", 3);
  s.consumer = "applier";
  return s;
}

bool SameState(const ResumeState& a, const ResumeState& b) {
  return a.request_path == b.request_path && a.sha256 == b.sha256 && a.size == b.size &&
         a.point.body_offset == b.point.body_offset && a.point.bits == b.point.bits &&
         a.point.bit_byte == b.point.bit_byte && a.point.inflated == b.point.inflated && a.point.crc == b.point.crc &&
         a.part_size == b.part_size && a.part_crc == b.part_crc && a.window == b.window && a.consumer == b.consumer;
}

// The record with one line's value replaced and its check line made again, so
// that only that value can be what the parser refuses.
std::string WithValue(const std::string& key, const std::string& value) {
  std::string text = FormatResumeState(SampleState());
  const size_t at = text.find("\n" + key + "\t") + key.size() + 2;
  text.replace(at, text.find('\n', at) - at, value);
  text.erase(text.find("check\t"));
  return text + "check\t" + std::to_string(crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                                                   static_cast<uInt>(text.size()))) + "\n";
}

TEST(ResumeState, ReadsBackWhatItWrites) {
  ResumeState read;
  ASSERT_TRUE(ParseResumeState(FormatResumeState(SampleState()), read));
  EXPECT_TRUE(SameState(read, SampleState()));
  ResumeState empty_window = SampleState();
  empty_window.window.clear();
  empty_window.consumer.clear();
  ASSERT_TRUE(ParseResumeState(FormatResumeState(empty_window), read));
  EXPECT_TRUE(SameState(read, empty_window));
  EXPECT_TRUE(ParseResumeState(WithValue("bits", "0"), read) == false) << "bits 0 with a byte";
  EXPECT_TRUE(ParseResumeState(WithValue("body", "0"), read));
}

TEST(ResumeState, RefusesAnythingElse) {
  const std::string good = FormatResumeState(SampleState());
  const std::string cases[] = {
      "",
      good.substr(0, good.size() - 1),                 // cut before its last line feed
      good.substr(0, good.size() / 2),                 // cut in the middle
      good + "more\t1\n",                              // a line more
      "morvel-resume\t2" + good.substr(15),            // another version
      [&] { std::string t = good; t[t.find("size\t") + 5] ^= 1; return t; }(),  // a changed byte
      WithValue("path", "arquivos/x.dl"),              // not a path on the host
      WithValue("sha256", std::string(64, 'B')),       // capitals
      WithValue("sha256", std::string(63, 'b')),
      WithValue("size", "01"),                         // a leading zero
      WithValue("size", "18446744073709551616"),       // past 64 bits
      WithValue("size", "-1"),
      WithValue("body", ""),
      WithValue("bits", "8"),
      WithValue("byte", "256"),
      WithValue("crc", "4294967296"),
      WithValue("part", "104857601"),                  // past the file
      WithValue("window", "abc"),                      // odd hex
      WithValue("window", "GG"),
      WithValue("window", std::string(2 * kDeflateWindow + 2, '0')),  // longer than deflate's window
      [&] { std::string t = good; t.replace(t.find("\nbits\t"), 6, "\nBITS\t"); return t; }(),
  };
  for (const std::string& text : cases) {
    ResumeState read;
    EXPECT_FALSE(ParseResumeState(text, read)) << &text - cases;
  }
}

TEST(ResumeState, FitsOnlyItsBodyAndFile) {
  const ResumeState s = SampleState();
  EXPECT_TRUE(ResumeStateFits(s, s.request_path, s.sha256, s.size));
  EXPECT_FALSE(ResumeStateFits(s, s.request_path + "x", s.sha256, s.size));
  EXPECT_FALSE(ResumeStateFits(s, s.request_path, std::string(64, 'c'), s.size));
  EXPECT_FALSE(ResumeStateFits(s, s.request_path, s.sha256, s.size - 1));
}

TEST(ContentRange, TakesOnlyAWellFormedByteRange) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t first, last;
  };
  const Case cases[] = {
      {"bytes 0-9/10", true, 0, 9},
      {"bytes 100-199/*", true, 100, 199},
      {"bytes 94371840-104857599/104857600", true, 94371840, 104857599},
      {"bytes 5-4/10", false, 0, 0},
      {"bytes 0-10/10", false, 0, 0},
      {"bytes */10", false, 0, 0},
      {"bytes=0-9/10", false, 0, 0},
      {"items 0-9/10", false, 0, 0},
      {"bytes 0-9", false, 0, 0},
      {"bytes -1-9/10", false, 0, 0},
      {"bytes 0-9/10 ", false, 0, 0},
      {"bytes 00-9/10", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    uint64_t first = 7, last = 7;
    EXPECT_EQ(ParseContentRange(c.text, first, last), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(first, c.first) << c.text;
      EXPECT_EQ(last, c.last) << c.text;
    }
  }
}

// --- Taking an inflate up again at a point ------------------------------------

struct Point {
  ResumePoint point;
  std::string window;  // what CopyWindow gave at the point
};

struct InflateRun {
  std::string out;
  std::vector<Point> points;
  bool verified = false;
  bool accepted = true;
};

using Start = std::function<bool(InflateVerifier&)>;

// Feeds body[from..] in chunks of chunk bytes to a verifier started by start.
InflateRun Inflate(const std::string& body, size_t from, const std::string& file, const Start& start, uint64_t spacing,
            size_t chunk = 65536) {
  InflateRun run;
  InflateVerifier v(file.size(), [&run](const uint8_t* data, uint32_t length) {
    run.out.append(reinterpret_cast<const char*>(data), length);
    return true;
  });
  v.ReportPoints(spacing, [&](const ResumePoint& point) { run.points.push_back({point, v.CopyWindow()}); });
  EXPECT_TRUE(start(v));
  for (size_t at = from; at < body.size() && run.accepted; at += chunk) {
    const size_t n = std::min(chunk, body.size() - at);
    run.accepted = v.Feed(reinterpret_cast<const uint8_t*>(body.data() + at), static_cast<uint32_t>(n)) ==
                   ChunkOutcome::Accepted;
  }
  v.End();
  run.verified = v.Finish(Sha(file));
  return run;
}

// A resumed verifier at p, given the file's bytes before it as the ".part" holds them.
Start ResumeAt(const ResumePoint& p, const std::string& file) {
  return [p, file](InflateVerifier& v) {
    const size_t window = std::min<uint64_t>(p.inflated, kDeflateWindow);
    Sha256 digest;
    digest.Update(file.data(), static_cast<uint32_t>(p.inflated));
    return v.Resume(p, reinterpret_cast<const uint8_t*>(file.data() + p.inflated - window),
                    static_cast<uint32_t>(window), digest);
  };
}

std::string Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

TEST(InflateResume, EveryPointGoesOnToTheSameFile) {
  struct Body {
    const char* what;
    std::string file;
    int level;
  };
  const Body bodies[] = {
      {"mixed", Mixed(3 << 20, 5), 9},
      {"incompressible, stored blocks", Random(1 << 20, 6), 9},
      {"zeros", std::string(6 << 20, '\0'), 6},
      {"fast level", Mixed(2 << 20, 7), 1},
  };
  bool inside_a_byte = false;  // stored blocks start on a byte; the others mostly not
  for (const Body& b : bodies) {
    SCOPED_TRACE(b.what);
    const std::string body = Deflate(b.file, 31, b.level);
    const uint64_t spacing = body.size() / 12;
    const InflateRun whole = Inflate(body, 0, b.file, [](InflateVerifier& v) { return v.Start(); }, spacing);
    ASSERT_TRUE(whole.verified);
    ASSERT_FALSE(whole.points.empty());
    uint64_t last = 0;
    for (const Point& p : whole.points) {
      inside_a_byte = inside_a_byte || p.point.bits != 0;
      EXPECT_GE(p.point.body_offset - last, spacing) << "points come at the spacing, no closer";
      last = p.point.body_offset;
      EXPECT_LE(p.point.inflated, b.file.size());
      EXPECT_TRUE(p.window == b.file.substr(p.point.inflated - p.window.size(), p.window.size()));
      EXPECT_EQ(p.point.crc, crc32(0, reinterpret_cast<const Bytef*>(b.file.data()),
                                   static_cast<uInt>(p.point.inflated)));
    }
    // From every point, and from a point of a resumed run, in odd chunk sizes.
    for (size_t i = 0; i < whole.points.size(); i += std::max<size_t>(1, whole.points.size() / 7)) {
      const ResumePoint& p = whole.points[i].point;
      const InflateRun rest = Inflate(body, p.body_offset, b.file, ResumeAt(p, b.file), spacing, 7777);
      EXPECT_TRUE(rest.verified) << "point " << i;
      EXPECT_TRUE(rest.out == b.file.substr(p.inflated)) << "point " << i;
      for (const Point& q : rest.points) EXPECT_GT(q.point.body_offset, p.body_offset);
      if (!rest.points.empty()) {
        const ResumePoint& q = rest.points.back().point;
        EXPECT_TRUE(Inflate(body, q.body_offset, b.file, ResumeAt(q, b.file), spacing).verified);
      }
    }
  }
  EXPECT_TRUE(inside_a_byte) << "no point inside a byte: priming never tried";
}

TEST(InflateResume, AResumedBodyStillAnswersForItsTrailerAndItsEnd) {
  const std::string file = Mixed(1 << 20, 9);
  const std::string body = Gzip(file);
  const InflateRun whole = Inflate(body, 0, file, [](InflateVerifier& v) { return v.Start(); }, 100000);
  ASSERT_GE(whole.points.size(), 2u);
  const ResumePoint p = whole.points[1].point;
  std::string bad_crc = body;
  bad_crc[bad_crc.size() - 8] ^= 1;
  std::string bad_size = body;
  bad_size[bad_size.size() - 1] ^= 1;
  std::string trailing = body + "tail";
  struct Case {
    const char* what;
    std::string body;
    bool verified;
  };
  const Case cases[] = {
      {"the body as published", body, true},
      {"bytes after the member are ignored", trailing, true},
      {"another CRC in the trailer", bad_crc, false},
      {"another size in the trailer", bad_size, false},
      {"cut inside the trailer", body.substr(0, body.size() - 3), false},
      {"cut before the last block", body.substr(0, body.size() - 1000), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Inflate(c.body, p.body_offset, file, ResumeAt(p, file), 100000, 1000).verified, c.verified) << c.what;
  }
  // A ".part" that is not what the point stands for cannot end in the file.
  std::string other = file;
  other[p.inflated - 10] ^= 0x40;
  EXPECT_FALSE(Inflate(body, p.body_offset, file, ResumeAt(p, other), 100000).verified);
  // The window must be what deflate may look back at: no more, no less.
  InflateVerifier v(file.size(), [](const uint8_t*, uint32_t) { return true; });
  EXPECT_FALSE(v.Resume(p, reinterpret_cast<const uint8_t*>(file.data()), 100, Sha256()));
}

}  // namespace
