// The free-space test on a real small disk: the hook download_space_tests.hook.sh
// mounts a 64 MiB tmpfs on the prefix's install folder before this program runs.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/texts.h"
#include "tests/win32/download_test_util.h"

using namespace download_test;

namespace {

class DownloadSpace : public FaultServerTest {
 protected:
  void SetUp() override {
    FaultServerTest::SetUp();
    if (HasFatalFailure()) return;
    ULARGE_INTEGER free_bytes;
    ASSERT_TRUE(GetDiskFreeSpaceExW(WinText(InstallDir()), &free_bytes, nullptr, nullptr));
    // Guards the test itself: without the small disk nothing below means anything.
    ASSERT_LE(free_bytes.QuadPart, uint64_t{64} << 20) << "the install folder is not on the small tmpfs";
    ASSERT_GT(free_bytes.QuadPart, uint64_t{60} << 20);
  }
};

TEST_F(DownloadSpace, TooLittleRoomStopsBeforeAnyDownload) {
  // 20 MiB of files plus the 50 MiB margin do not fit on 64 MiB.
  const Manifest manifest = LoadScenario(u"space");
  EXPECT_FALSE(Update(manifest, true, false));
  ExpectStatus(kTextNoDiskSpace, TextSpaceNeeded(u"20,0 MB"), true);
  EXPECT_TRUE(FetchedBodies().empty());
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient)));
}

TEST_F(DownloadSpace, WhatFitsWithTheMarginIsDownloaded) {
  const Manifest manifest = LoadScenario(u"small");
  EXPECT_TRUE(Update(manifest, true, false));
  ExpectInstalled(u"install", manifest, true, false);
}

}  // namespace
