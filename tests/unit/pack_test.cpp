// Pack lines, the choice of packs to fetch and the cutting of a pack's bytes.
#include "update/pack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/manifest.h"

namespace {

const std::string kHeader = "morvel-launcher\t1\n";
const std::string kA(64, 'a'), kB(64, 'b'), kC(64, 'c'), kP(64, 'e');
const std::string kPath = "/arquivos/launcher/packs/x.pack";

std::string F(const std::string& client, const std::string& sha, const std::string& path) {
  return "f\t" + client + "\t" + sha + "\t10\t7\t0\t" + path + "\n";
}
const std::string kFiles = F("otc", kA, "a") + F("otc", kB, "b") + F("classic", kC, "c");

// k line for otc, pack size 100, at kPath, with the given member fields.
std::string K(const std::string& members, const std::string& size = "100", const std::string& client = "otc") {
  return "k\t" + client + "\t" + kP + "\t" + size + "\t" + kPath + members + "\n";
}

TEST(PackLines, TakenOrIgnoredNeverRejecting) {
  const struct {
    std::string line;
    size_t packs;
  } cases[] = {
      {K("\t" + kA + "\t0\t40\t" + kB + "\t40\t60"), 1},
      {K("\t" + kA + "\t10\t5\t" + kB + "\t50\t50"), 1},  // gaps are skipped bytes
      {K("\t" + kA + "\t0\t40"), 1},
      {K(""), 0},                                         // no member
      {K("\t" + kA + "\t0"), 0},                          // a member short of a field
      {K("\t" + kA + "\t0\t40\t" + kB + "\t39\t10"), 0},  // overlap
      {K("\t" + kB + "\t50\t10\t" + kA + "\t0\t40"), 0},  // out of order
      {K("\t" + kA + "\t0\t101"), 0},                     // past the end
      {K("\t" + kA + "\t0\t0"), 0},                       // empty member
      {K("\t" + kA + "\t0\t40\t" + kA + "\t40\t40"), 0},  // one content twice
      {K("\t" + kA + "\t 0\t40"), 0},                     // numbers are digits only
      {K("\t" + kA + "\t0\t+40"), 0},
      {K("\t" + kA + "\t0\t18446744073709551615", "18446744073709551615"), 0},  // too many digits
      {K("\t" + kC + "\t0\t40"), 0},                      // a file of the other client
      {K("\t" + kC + "\t0\t40", "100", "classic"), 1},
      {K("\t" + std::string(64, 'd') + "\t0\t40"), 0},    // no file has it
      {K("\t" + kA.substr(1) + "\t0\t40"), 0},
      {"k\tOTC\t" + kP + "\t100\t" + kPath + "\t" + kA + "\t0\t40\n", 0},
      {"k\totc\t" + kP + "\t100\t/arquivos/../x\t" + kA + "\t0\t40\n", 0},
      {"k\totc\t" + kP + "\t100\t/outro/x\t" + kA + "\t0\t40\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    for (const bool before_files : {false, true}) {  // members are checked once every "f" line is read
      Manifest m;
      ASSERT_TRUE(ParseManifest(kHeader + (before_files ? c.line + kFiles : kFiles + c.line), m));
      EXPECT_EQ(m.files.size(), 3u);
      EXPECT_EQ(m.packs.size(), c.packs);
    }
  }
}

TEST(PackLines, ReadBackAsWritten) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + kFiles + K("\t" + kA + "\t0\t40\t" + kB + "\t45\t55"), m));
  ASSERT_EQ(m.packs.size(), 1u);
  const PackEntry& p = m.packs[0];
  EXPECT_EQ(p.client, ClientKind::OTClient);
  EXPECT_EQ(p.sha256, kP);
  EXPECT_EQ(p.size, 100u);
  EXPECT_EQ(WideToUtf8(p.path), kPath);
  ASSERT_EQ(p.members.size(), 2u);
  EXPECT_EQ(p.members[1].sha256, kB);
  EXPECT_EQ(p.members[1].offset, 45u);
  EXPECT_EQ(p.members[1].length, 55u);
  Manifest again;
  ASSERT_TRUE(ParseManifest(FormatManifest(m), again));
  EXPECT_TRUE(SameManifest(m, again));
  EXPECT_EQ(PackRequestPaths(m), std::vector<std::string>{kPath});
  again.packs[0].members[0].length = 41;
  EXPECT_FALSE(SameManifest(m, again));
}

// A manifest of n otc files with contents "0", "1", ... and one pack per
// group of file indices, members in order and 10 bytes each.
Manifest WithPacks(size_t n, const std::vector<std::vector<size_t>>& groups) {
  Manifest m;
  for (size_t i = 0; i < n; ++i) {
    FileEntry& e = m.files.emplace_back();
    e.sha256 = std::to_string(i);
    e.download_size = 10;
  }
  for (const auto& group : groups) {
    PackEntry& p = m.packs.emplace_back();
    for (const size_t i : group) p.members.push_back(PackMember{std::to_string(i), p.size, 10});
    p.size += 10 * group.size();
  }
  return m;
}

TEST(PackPlan, APackComesWhenEnoughOfItIsMissing) {
  const Manifest m = WithPacks(7, {{0, 1, 2, 3}, {4, 5, 6}});
  const struct {
    std::vector<size_t> to_fetch;
    std::vector<bool> eligible;
    std::vector<std::vector<size_t>> items;  // per planned pack, positions in to_fetch
  } cases[] = {
      {{0, 1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1, 1}, {{0, 1, 2, 3}, {4, 5, 6}}},  // a fresh install
      {{1}, {1}, {}},                                                            // one file: its body
      {{0, 3}, {1, 1}, {{0, 1}}},                                                 // half a pack is enough
      {{0, 5}, {1, 1}, {}},                                                       // one of each: bodies
      {{4, 5}, {1, 1}, {{0, 1}}},                                                 // 20 of 30 bytes
      {{0, 1, 2}, {1, 0, 1}, {{0, 2}}},                                           // a patched file comes by its patch
      {{0, 1}, {0, 0}, {}},
  };
  for (const auto& c : cases) {
    const std::vector<PackFetch> plan = PlanPackFetches(m, c.to_fetch, c.eligible);
    ASSERT_EQ(plan.size(), c.items.size());
    for (size_t p = 0; p < plan.size(); ++p) EXPECT_EQ(plan[p].items, c.items[p]);
  }
  EXPECT_TRUE(PackWorthFetching(5, 2, 10));
  EXPECT_FALSE(PackWorthFetching(4, 2, 10));
  EXPECT_TRUE(PackWorthFetching(5, 2, 9));
  EXPECT_FALSE(PackWorthFetching(10, 1, 10));
}

TEST(PackPlan, AContentIsBroughtOnceAndTheOrderFollowsTheList) {
  // Files 0..3; file 4 has the content of file 1 (a second path).
  Manifest m = WithPacks(4, {{1, 2}, {1, 3}});
  m.files.push_back(m.files[1]);
  const std::vector<PackFetch> plan = PlanPackFetches(m, {0, 1, 2, 3, 4}, std::vector<bool>(5, true));
  ASSERT_EQ(plan.size(), 1u) << "the second pack would bring only file 3";
  EXPECT_EQ(plan[0].items, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(plan[0].members, (std::vector<size_t>{0, 1}));
  const std::vector<FetchUnit> order = FetchOrder(5, plan);
  ASSERT_EQ(order.size(), 4u);
  const size_t expected[][2] = {{kNoPack, 0}, {0, 1}, {kNoPack, 3}, {kNoPack, 4}};
  for (size_t u = 0; u < order.size(); ++u) {
    EXPECT_EQ(order[u].pack, expected[u][0]);
    EXPECT_EQ(order[u].item, expected[u][1]);
  }
}

// The pieces each member gets, however the bytes arrive.
TEST(PackCutter, EachMemberGetsItsBytesAndNothingElse) {
  std::string pack;
  for (int i = 0; i < 100; ++i) pack += static_cast<char>(i);
  const std::vector<PackCutter::Range> wanted = {{0, 10}, {30, 25}, {55, 1}, {90, 10}};
  for (const size_t chunk : {1u, 7u, 10u, 30u, 100u}) {
    SCOPED_TRACE(chunk);
    PackCutter cutter(wanted);
    std::vector<std::string> got(wanted.size());
    std::vector<int> ends(wanted.size(), 0);
    for (size_t at = 0; at < pack.size(); at += chunk) {
      const size_t n = std::min(chunk, pack.size() - at);
      ASSERT_TRUE(cutter.Feed(reinterpret_cast<const uint8_t*>(pack.data() + at), static_cast<uint32_t>(n),
                              [&](size_t m, const uint8_t* d, uint32_t l, bool last) {
                                EXPECT_EQ(ends[m], 0) << "bytes after the member's end";
                                got[m].append(reinterpret_cast<const char*>(d), l);
                                ends[m] += last;
                                return PackCutter::Take::Next;
                              }));
      EXPECT_EQ(cutter.Complete(), at + n >= 100);
    }
    for (size_t m = 0; m < wanted.size(); ++m) {
      EXPECT_EQ(got[m], pack.substr(wanted[m].offset, wanted[m].length));
      EXPECT_EQ(ends[m], 1);
    }
  }
}

TEST(PackCutter, ADroppedMemberIsSkippedAndStopEndsTheFeed) {
  std::string pack(60, 'x');
  PackCutter cutter({{0, 20}, {20, 20}, {40, 20}});
  std::vector<size_t> calls(3, 0);
  const auto sink = [&](size_t m, const uint8_t*, uint32_t, bool) {
    ++calls[m];
    if (m == 0) return PackCutter::Take::DropMember;
    if (m == 2) return PackCutter::Take::Stop;
    return PackCutter::Take::Next;
  };
  const auto* data = reinterpret_cast<const uint8_t*>(pack.data());
  EXPECT_TRUE(cutter.Feed(data, 5, sink));
  EXPECT_TRUE(cutter.Feed(data + 5, 30, sink));
  EXPECT_FALSE(cutter.Feed(data + 35, 25, sink));
  EXPECT_EQ(calls, (std::vector<size_t>{1, 2, 1}));
  EXPECT_FALSE(cutter.Complete());
}

}  // namespace
