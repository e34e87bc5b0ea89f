#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/unit/test_bytes.h"
#include "update/patch.h"
#include "update/patch_download.h"
#include "update/patch_maker.h"

namespace {

const uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::string Header(uint64_t base_size, uint64_t target_size) {
  std::string p;
  PutPatchHeader(p, base_size, target_size);
  return p;
}
std::string Copy(uint64_t offset, uint64_t length) {
  std::string p;
  PutPatchCopy(p, offset, length);
  return p;
}
std::string Literal(const std::string& bytes) {
  std::string p;
  PutPatchLiteral(p, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  return p;
}
std::string LiteralClaiming(uint32_t length) {  // a length field with no bytes behind it
  return std::string(1, '\x02') + std::string(reinterpret_cast<const char*>(&length), 4);
}
const std::string kEnd(1, '\0');

struct Applied {
  PatchOutcome outcome = PatchOutcome::Accepted;
  bool complete = false;
  std::string out;
  uint32_t largest_piece = 0;
};

// Applies `patch` fed in chunks of `chunk` bytes, to a base of `base` (or, when
// base_size is given, a base of that many zero bytes that is never held).
Applied Apply(const std::string& base, const std::string& patch, uint64_t target_size, size_t chunk,
              uint64_t base_size = kMax, bool base_fails = false, bool sink_fails = false) {
  Applied run;
  const bool zeros = base_size != kMax;
  PatchApplier applier(
      zeros ? base_size : base.size(), target_size,
      [&](uint64_t offset, uint8_t* data, uint32_t length) {
        EXPECT_LE(offset + length, zeros ? base_size : base.size());
        if (base_fails) return false;
        if (zeros) std::memset(data, 0, length);
        else std::memcpy(data, base.data() + offset, length);
        return true;
      },
      [&](const uint8_t* data, uint32_t length) {
        run.largest_piece = std::max(run.largest_piece, length);
        if (sink_fails) return false;
        if (!zeros) run.out.append(reinterpret_cast<const char*>(data), length);
        return true;
      });
  for (size_t at = 0; at < patch.size() && run.outcome == PatchOutcome::Accepted; at += chunk) {
    run.outcome = applier.Feed(reinterpret_cast<const uint8_t*>(patch.data()) + at, std::min(chunk, patch.size() - at));
  }
  run.complete = applier.Complete();
  if (zeros) run.out.assign(std::to_string(applier.produced()));
  return run;
}

TEST(PatchApplier, HostilePatches) {
  const std::string base = "0123456789";
  struct Case {
    const char* name;
    std::string patch;
    uint64_t target_size;
    PatchOutcome outcome;
    bool complete;
    std::string out;
  };
  const Case cases[] = {
      {"copy and literal", Header(10, 7) + Copy(2, 3) + Literal("ab") + Copy(9, 1) + Literal("z") + kEnd, 7,
       PatchOutcome::Accepted, true, "234ab9z"},
      {"whole base", Header(10, 10) + Copy(0, 10) + kEnd, 10, PatchOutcome::Accepted, true, base},
      {"empty target", Header(10, 0) + kEnd, 0, PatchOutcome::Accepted, true, ""},
      {"bad magic", "MGPATCH2" + Header(10, 1).substr(8) + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"base size differs", Header(11, 1) + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"target size differs", Header(10, 2) + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"copy starts past the base", Header(10, 1) + Copy(11, 1) + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"copy ends past the base", Header(10, 5) + Copy(8, 5) + kEnd, 5, PatchOutcome::Corrupt, false, ""},
      {"copy range wraps around 2^64", Header(10, 5) + Copy(5, kMax - 2) + kEnd, 5, PatchOutcome::Corrupt, false, ""},
      {"empty copy", Header(10, 1) + Copy(0, 0) + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"copy past the target size", Header(10, 3) + Copy(0, 4) + kEnd, 3, PatchOutcome::Corrupt, false, ""},
      {"empty literal", Header(10, 1) + LiteralClaiming(0) + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"huge literal length", Header(10, 1) + LiteralClaiming(0xFFFFFFFF) + "a", 1, PatchOutcome::Corrupt, false, ""},
      {"literal past the target size", Header(10, 2) + Literal("a") + Literal("bc") + kEnd, 2, PatchOutcome::Corrupt,
       false, "a"},
      {"end before the target size", Header(10, 3) + Copy(0, 2) + kEnd, 3, PatchOutcome::Corrupt, false, "01"},
      {"bytes after the end", Header(10, 1) + Literal("a") + kEnd + "x", 1, PatchOutcome::Corrupt, false, "a"},
      {"unknown tag", Header(10, 1) + "\x03" + Literal("a") + kEnd, 1, PatchOutcome::Corrupt, false, ""},
      {"truncated in the header", Header(10, 1).substr(0, 13), 1, PatchOutcome::Accepted, false, ""},
      {"truncated in a copy's fields", Header(10, 1) + Copy(0, 1).substr(0, 9), 1, PatchOutcome::Accepted, false, ""},
      {"truncated in a literal", Header(10, 4) + Literal("abcd").substr(0, 7), 4, PatchOutcome::Accepted, false, "ab"},
      {"no end operation", Header(10, 1) + Literal("a"), 1, PatchOutcome::Accepted, false, "a"},
      {"empty patch", "", 0, PatchOutcome::Accepted, false, ""},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{5}, size_t{4096}}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      const Applied run = Apply(base, c.patch, c.target_size, chunk);
      EXPECT_EQ(run.outcome, c.outcome);
      EXPECT_EQ(run.complete, c.complete);
      EXPECT_EQ(run.out, c.out);
    }
  }
}

TEST(PatchApplier, FailuresOfTheBaseAndTheSinkAreTheirOwnOutcomes) {
  const std::string patch = Header(4, 4) + Copy(0, 4) + kEnd;
  EXPECT_EQ(Apply("abcd", patch, 4, 64, kMax, true, false).outcome, PatchOutcome::BaseReadFailed);
  EXPECT_EQ(Apply("abcd", patch, 4, 64, kMax, false, true).outcome, PatchOutcome::WriteFailed);
  // A failed applier stays failed: a later chunk cannot revive it.
  PatchApplier applier(4, 4, [](uint64_t, uint8_t*, uint32_t) { return false; },
                       [](const uint8_t*, uint32_t) { return true; });
  EXPECT_EQ(applier.Feed(reinterpret_cast<const uint8_t*>(patch.data()), patch.size()), PatchOutcome::BaseReadFailed);
  EXPECT_EQ(applier.Feed(reinterpret_cast<const uint8_t*>(kEnd.data()), 1), PatchOutcome::BaseReadFailed);
  EXPECT_FALSE(applier.Complete());
}

TEST(PatchApplier, MemoryStaysBoundedWhateverTheLengths) {
  // A 3 GiB copy out of a 4 GiB base: the sink sees copy-buffer pieces only,
  // and nothing the size of the copy is ever allocated (ASan would notice).
  const uint64_t big = 3ull << 30;
  const Applied run = Apply("", Header(4ull << 30, big) + Copy(1ull << 30, big) + kEnd, big, 64, 4ull << 30);
  EXPECT_EQ(run.outcome, PatchOutcome::Accepted);
  EXPECT_TRUE(run.complete);
  EXPECT_EQ(run.out, std::to_string(big));
  EXPECT_EQ(run.largest_piece, kPatchCopyBuffer);
  // A literal is passed through as it arrives, never gathered.
  const std::string literal(100000, 'q');
  const Applied lit = Apply("", Header(0, literal.size()) + Literal(literal) + kEnd, literal.size(), 1000);
  EXPECT_TRUE(lit.complete);
  EXPECT_LE(lit.largest_piece, 1000u);
}

// Record-like content: the scenarios a server update makes of a client file.
std::string Edited(const std::string& s, const char* how) {
  std::string t = s;
  const std::string how_s = how;
  if (how_s == "change") t.replace(t.size() / 3, 300, std::string(300, 'X'));
  if (how_s == "insert") t.insert(t.size() / 2, Mixed(5000, 9));
  if (how_s == "remove") t.erase(t.size() / 4, 7000);
  if (how_s == "prepend") t.insert(0, "new header");
  if (how_s == "append") t += Mixed(3000, 8);
  if (how_s == "truncate") t.resize(t.size() / 2);
  if (how_s == "scatter") {
    for (size_t at = 1000; at + 10 < t.size(); at += 50000) t[at] ^= 0x55;
  }
  if (how_s == "unrelated") t = Mixed(s.size(), 77);
  if (how_s == "empty") t.clear();
  return t;
}

TEST(PatchMaker, RoundTripsAndStaysSmallForSmallChanges) {
  const std::string base = Mixed(400000, 5);
  struct Case {
    const char* how;
    size_t max_patch;  // what the change itself costs, with room for a block or two
  };
  const Case cases[] = {{"same", 100},          {"change", 1500},      {"insert", 6500},    {"remove", 200},
                        {"prepend", 100},       {"append", 3200},      {"truncate", 100},   {"scatter", 9 * 1100},
                        {"unrelated", 410000},  {"empty", 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    const std::string target = Edited(base, c.how);
    std::string patch, rebuilt;
    ASSERT_TRUE(MakePatch(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                          reinterpret_cast<const uint8_t*>(target.data()), target.size(), SIZE_MAX, patch));
    EXPECT_LE(patch.size(), c.max_patch);
    ASSERT_TRUE(ApplyPatch(base, patch, target.size(), rebuilt));
    EXPECT_TRUE(rebuilt == target);
  }
}

TEST(PatchMaker, EdgeSizesAndTheLimit) {
  const std::string some = Mixed(3000, 3);
  for (const auto& [base, target] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"", some}, {some, ""}, {"short", "shorter"}, {some.substr(0, 511), some.substr(0, 513)},
           {std::string(100000, '\0'), std::string(100001, '\0')}}) {
    std::string patch, rebuilt;
    ASSERT_TRUE(MakePatch(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                          reinterpret_cast<const uint8_t*>(target.data()), target.size(), SIZE_MAX, patch, 64));
    ASSERT_TRUE(ApplyPatch(base, patch, target.size(), rebuilt));
    EXPECT_TRUE(rebuilt == target) << base.size() << " -> " << target.size();
  }
  // Nothing in common: the patch would be as large as the file.
  const std::string a(3000, 'a'), b(3000, 'b');
  std::string patch;
  EXPECT_FALSE(MakePatch(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                         reinterpret_cast<const uint8_t*>(b.data()), b.size(), 1500, patch));
}

// The launcher's streaming path: gzip body in network-sized chunks.
struct Downloaded {
  PatchOutcome outcome = PatchOutcome::Accepted;
  bool verified = false;
  std::string out;
};

Downloaded Download(const std::string& base, const std::string& body, uint64_t target_size, const std::string& sha,
                    bool sink_fails = false) {
  Downloaded run;
  PatchedDownload download(
      base.size(), target_size,
      [&](uint64_t offset, uint8_t* data, uint32_t length) {
        std::memcpy(data, base.data() + offset, length);
        return true;
      },
      [&](const uint8_t* data, uint32_t length) {
        run.out.append(reinterpret_cast<const char*>(data), length);
        return !sink_fails;
      });
  EXPECT_TRUE(download.Start());
  for (size_t at = 0; at < body.size() && run.outcome == PatchOutcome::Accepted; at += 1000) {
    run.outcome = download.Feed(reinterpret_cast<const uint8_t*>(body.data()) + at,
                                static_cast<uint32_t>(std::min<size_t>(1000, body.size() - at)));
  }
  download.End();
  run.verified = download.Finish(sha);
  return run;
}

TEST(PatchedDownload, AcceptsOnlyACompletePatchThatGivesTheDigest) {
  const std::string base = Mixed(200000, 11);
  const std::string target = Edited(base, "insert");
  std::string patch;
  ASSERT_TRUE(MakePatch(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                        reinterpret_cast<const uint8_t*>(target.data()), target.size(), SIZE_MAX, patch));
  const std::string body = Gzip(patch);
  std::string flipped = patch;
  flipped[flipped.size() / 2] ^= 1;  // inside the inserted literal: applies, wrong digest
  std::string bad_op = patch;
  bad_op[kPatchHeaderSize] = 9;  // first tag

  struct Case {
    const char* name;
    std::string body;
    std::string sha;
    bool sink_fails;
    PatchOutcome outcome;
    bool verified;
  };
  const Case cases[] = {
      {"sound", body, Sha(target), false, PatchOutcome::Accepted, true},
      {"trailing bytes after the gzip member", body + "junk", Sha(target), false, PatchOutcome::Accepted, true},
      {"another digest announced", body, Sha(base), false, PatchOutcome::Accepted, false},
      {"a flipped literal byte", Gzip(flipped), Sha(target), false, PatchOutcome::Accepted, false},
      {"a bad operation", Gzip(bad_op), Sha(target), false, PatchOutcome::Corrupt, false},
      {"gzip cut short", body.substr(0, body.size() - 10), Sha(target), false, PatchOutcome::Accepted, false},
      {"not gzip", patch, Sha(target), false, PatchOutcome::Corrupt, false},
      {"the .part cannot be written", body, Sha(target), true, PatchOutcome::WriteFailed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Downloaded run = Download(base, c.body, target.size(), c.sha, c.sink_fails);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_EQ(run.verified, c.verified);
    if (c.verified) {
      EXPECT_TRUE(run.out == target);
    }
  }
}

}  // namespace
