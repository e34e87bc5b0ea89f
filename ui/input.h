// What the window does with a mouse release and with the end of a task, as
// plain decisions; the window procedure adds only the platform calls.
#pragma once
#include <cstdint>

#include "app/text.h"

// Widget state: both hold a ButtonId, -1 when none. Window thread only.
struct WidgetState {
  int hoverButton = -1;
  int pressedButton = -1;
};

// The window's own: read by the paint, written by the mouse handlers.
extern WidgetState g_widgets;

enum class ClickAction { None, PlayOTClient, PlayClassic, VerifyFiles, Cancel, Close, Minimize };

// A release on button b (a HitTestButtons result): clears the press and says
// what the click means. The caller releases the capture in every case.
ClickAction OnButtonRelease(WidgetState& widgets, int b, bool busy);

enum class FinishReaction { StayOpen, Close, Restart };
FinishReaction ReactionToFinish(uintptr_t finishAction);

// The switch that tells a launcher it was started by the one it replaced,
// which it waits for to end rather than bringing that one's window forward.
constexpr char16_t kRestartedSwitch[] = u"--atualizado";
// The command line that starts the launcher again after it replaced itself.
WideString RestartCommandLine(const WideString& exePath);

// The texts the buttons show.
const char16_t* ClientSecondLine(bool installed);
const char16_t* ExitCaption(bool busy);

// Cancel while a task runs: asks the worker to stop and says so at once; the
// worker ends the task with its own texts.
void CancelRunningTask();
