#include "app/launcher_state.h"
#include "app/texts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

TEST(LauncherState, StartsWithTheConnectingTextAndNothingSet) {
  LauncherState fresh;
  EXPECT_EQ(fresh.headline, kTextConnecting);
  EXPECT_TRUE(fresh.detail.empty());
  EXPECT_FALSE(fresh.busy || fresh.cancel_requested || fresh.status_is_error);
  EXPECT_EQ(fresh.total_permille + fresh.file_permille, 0u);
  EXPECT_FALSE(fresh.installed[0] || fresh.installed[1]);
}

TEST(LauncherState, ThreeArgumentSetStatusWritesTheFlagBothWays) {
  SetStatus(u"Falhou", u"detalhe", true);
  EXPECT_TRUE(g_state.status_is_error);
  StatusTexts texts = CopyStatus();
  EXPECT_EQ(texts.headline, u"Falhou");
  EXPECT_EQ(texts.detail, u"detalhe");

  SetStatus(u"Pronto", u"", false);
  EXPECT_FALSE(g_state.status_is_error);
  SetStatus(u"Só texto", u"x");  // the two-argument form leaves the flag alone
  g_state.status_is_error = true;
  SetStatus(u"Outro", u"y");
  EXPECT_TRUE(g_state.status_is_error);
  g_state.status_is_error = false;
}

TEST(LauncherState, SetDetailKeepsTheHeadlineAndTheFlag) {
  SetStatus(u"Baixando a.dat", u"", true);
  SetDetail(u"1,0 MB de 2,0 MB");
  const StatusTexts texts = CopyStatus();
  EXPECT_EQ(texts.headline, u"Baixando a.dat");
  EXPECT_EQ(texts.detail, u"1,0 MB de 2,0 MB");
  EXPECT_TRUE(g_state.status_is_error);
  g_state.status_is_error = false;
}

// A reader copying under the lock must never see the title of one update with
// the detail of another.
TEST(LauncherState, PairsAreNeverTornUnderConcurrentWriters) {
  constexpr int kWrites = 200000;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};

  SetStatus(u"title 0", u"detail 0", false);
  std::thread writer([&] {
    for (int i = 1; i <= kWrites; ++i) {
      const std::string n = std::to_string(i);
      const std::u16string number(n.begin(), n.end());
      SetStatus(u"title " + number, u"detail " + number, i % 2 == 1);
    }
    done = true;
  });
  std::thread reader([&] {
    const auto number = [](const std::u16string& s) { return s.substr(s.find(u' ') + 1); };
    while (!done) {
      const StatusTexts t = CopyStatus();
      if (number(t.headline) != number(t.detail)) ++torn;
      ++reads;
    }
  });
  writer.join();
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(reads, 0);
  const StatusTexts last = CopyStatus();
  EXPECT_EQ(last.headline, u"title 200000");
  EXPECT_EQ(last.detail, u"detail 200000");
  EXPECT_FALSE(g_state.status_is_error);
}

}  // namespace
