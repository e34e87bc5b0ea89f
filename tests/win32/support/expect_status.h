// The status the window would paint, compared in UTF-8 so that a failure
// prints readable text.
#pragma once
#include <gtest/gtest.h>

#include "app/launcher_state.h"

inline void ExpectStatus(const WideString& headline, const WideString& detail, bool error) {
  const StatusTexts status = CopyStatus();
  EXPECT_EQ(WideToUtf8(status.headline), WideToUtf8(headline));
  EXPECT_EQ(WideToUtf8(status.detail), WideToUtf8(detail));
  EXPECT_EQ(g_state.status_is_error.load(), error);
}
