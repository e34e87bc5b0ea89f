// Everything one frame is drawn from, besides the assets, which do not change
// once loaded. Two paints with equal inputs draw the same pixels, so the later
// one may show the earlier one's frame instead of composing it again.
#pragma once
#include <cstdint>

#include "app/client_table.h"
#include "app/text.h"
#include "ui/input.h"
#include "ui/layout.h"

struct FrameInputs {
  WideString headline, detail;
  bool statusIsError = false;
  bool busy = false;
  bool installed[kClientCount] = {};
  int32_t filePermille = 0, totalPermille = 0;
  WidgetState widgets;
  // The family the display-font labels and the system-font labels end up
  // with: a font that appears or goes away changes the frame too.
  FontPick displayLabels = FontPick::Display;
  FontPick systemLabels = FontPick::Display;
};

bool operator==(const FrameInputs& a, const FrameInputs& b);
inline bool operator!=(const FrameInputs& a, const FrameInputs& b) { return !(a == b); }

// The launcher's state as one paint reads it (both texts in one hold of the
// lock, each other value once), with the widget state and the label fonts.
FrameInputs ReadFrameInputs(const WidgetState& widgets, FontPick displayLabels, FontPick systemLabels);
