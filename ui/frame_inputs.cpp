#include "ui/frame_inputs.h"

#include <algorithm>

#include "app/launcher_state.h"

bool operator==(const FrameInputs& a, const FrameInputs& b) {
  return a.headline == b.headline && a.detail == b.detail && a.statusIsError == b.statusIsError &&
         a.busy == b.busy && std::equal(a.installed, a.installed + kClientCount, b.installed) &&
         a.filePermille == b.filePermille && a.totalPermille == b.totalPermille &&
         a.widgets.hoverButton == b.widgets.hoverButton && a.widgets.pressedButton == b.widgets.pressedButton &&
         a.displayLabels == b.displayLabels && a.systemLabels == b.systemLabels;
}

FrameInputs ReadFrameInputs(const WidgetState& widgets, FontPick displayLabels, FontPick systemLabels) {
  FrameInputs in;
  StatusTexts texts = CopyStatus();
  in.headline = std::move(texts.headline);
  in.detail = std::move(texts.detail);
  in.statusIsError = g_state.status_is_error;
  in.busy = g_state.busy;
  for (int c = 0; c < kClientCount; ++c) in.installed[c] = g_state.installed[c];
  in.filePermille = static_cast<int32_t>(g_state.file_permille.load());
  in.totalPermille = static_cast<int32_t>(g_state.total_permille.load());
  in.widgets = widgets;
  in.displayLabels = displayLabels;
  in.systemLabels = systemLabels;
  return in;
}
