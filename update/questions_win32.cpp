#include "update/questions_win32.h"

#include <shellapi.h>

#include "app/launcher_state.h"
#include "app/texts.h"
#include "app/win32_text.h"

namespace {

void OpenInBrowser(const WideString& url) {
  ShellExecuteW(nullptr, L"open", WinText(url), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

QuestionBoxFn g_question_box = MessageBoxW;
OpenPageFn g_open_page = OpenInBrowser;

bool AskPlayer(const char16_t* text, UINT icon) {
  const HWND owner = static_cast<HWND>(g_state.main_window);
  // Once the window is gone the player has closed the launcher: an ownerless box
  // would pop up after it vanished, and a Yes would act on a closed launcher.
  if (!IsWindow(owner)) return false;
  return g_question_box(owner, WinText(text), WinText(kTextLauncherName), MB_YESNO | icon) == IDYES;
}
