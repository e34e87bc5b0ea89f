#include "ui/input.h"

#include "app/launcher_state.h"
#include "app/texts.h"
#include "ui/layout.h"

WidgetState g_widgets;

ClickAction OnButtonRelease(WidgetState& widgets, int b, bool busy) {
  const int pressed = widgets.pressedButton;
  widgets.pressedButton = ButtonNone;
  if (b == ButtonNone || pressed != b) return ClickAction::None;
  switch (b) {
    case ButtonClient0: return busy ? ClickAction::None : ClickAction::PlayOTClient;
    case ButtonClient1: return busy ? ClickAction::None : ClickAction::PlayClassic;
    case ButtonVerify: return busy ? ClickAction::None : ClickAction::VerifyFiles;
    case ButtonExit: return busy ? ClickAction::Cancel : ClickAction::Close;
    case ButtonMinimize: return ClickAction::Minimize;
    case ButtonClose: return ClickAction::Close;
  }
  return ClickAction::None;
}

FinishReaction ReactionToFinish(uintptr_t finishAction) {
  if (finishAction == FinishCloseLauncher) return FinishReaction::Close;
  if (finishAction == FinishRestartLauncher) return FinishReaction::Restart;
  return FinishReaction::StayOpen;
}

WideString RestartCommandLine(const WideString& exePath) {
  return u"\"" + exePath + u"\" " + kRestartedSwitch;
}

const char16_t* ClientSecondLine(bool installed) { return installed ? kTextPlay : kTextInstallAndPlay; }

const char16_t* ExitCaption(bool busy) { return busy ? kTextCancel : kTextExit; }

void CancelRunningTask() {
  g_state.cancel_requested.exchange(true);
  SetStatus(kTextCancelling, u"", false);
}
