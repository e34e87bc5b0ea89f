// The worker's questions to the player and the one page it may open in the
// browser. Both go through replaceable functions so tests can answer without a
// display and without starting a browser.
#pragma once
#include <windows.h>

#include "app/text.h"

using QuestionBoxFn = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
extern QuestionBoxFn g_question_box;  // MessageBoxW

using OpenPageFn = void (*)(const WideString& url);
extern OpenPageFn g_open_page;  // ShellExecuteW "open"

// Yes/No box owned by the main window, caption kTextLauncherName; `icon`
// is MB_ICONWARNING or MB_ICONINFORMATION. True only for Yes.
bool AskPlayer(const char16_t* text, UINT icon);
