#include "ui/frame_inputs.h"

#include "app/launcher_state.h"

bool operator==(const FrameInputs& a, const FrameInputs& b) {
  return a.headline == b.headline && a.detail == b.detail && a.statusIsError == b.statusIsError &&
         a.busy == b.busy && a.installed[0] == b.installed[0] && a.installed[1] == b.installed[1] &&
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
  in.installed[0] = g_state.installed[0];
  in.installed[1] = g_state.installed[1];
  in.filePermille = static_cast<int32_t>(g_state.file_permille.load());
  in.totalPermille = static_cast<int32_t>(g_state.total_permille.load());
  in.widgets = widgets;
  in.displayLabels = displayLabels;
  in.systemLabels = systemLabels;
  return in;
}
