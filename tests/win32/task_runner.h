// Runs worker tasks the way the launcher window does: a hidden message-only
// window stands in for the main window, receives MsgTaskFinished, clears busy,
// and is pumped by the test thread. Also records and answers the worker's
// questions and the download page it would open.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/scoped_win32.h"
#include "app/task_handoff_win32.h"
#include "app/win32_text.h"
#include "update/questions_win32.h"
#include "update/worker_win32.h"

namespace tasks_test {

struct Question {
  HWND owner;
  WideString text;
  WideString caption;
  UINT type;
};

// What the worker asked, what it opened, and how the questions are answered.
struct Player {
  int answer = IDNO;
  ScopedHandle hold;   // when set, every answer waits for this event first
  ScopedHandle asked;  // set (if given) once a question is being asked
  std::vector<Question> questions;
  std::vector<WideString> pages;
};

inline Player& ThePlayer() {
  static Player player;
  return player;
}

inline int WINAPI RecordQuestion(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  Player& p = ThePlayer();
  p.questions.push_back({owner, FromWinText(text), FromWinText(caption), type});
  if (p.asked) SetEvent(p.asked.get());
  if (p.hold) WaitForSingleObject(p.hold.get(), 60000);
  return p.answer;
}

inline void RecordPage(const WideString& url) { ThePlayer().pages.push_back(url); }

inline void ResetPlayer(int answer) {
  Player& p = ThePlayer();
  p = Player();
  p.answer = answer;
  g_question_box = RecordQuestion;
  g_open_page = RecordPage;
}

struct Finished {
  int count = 0;
  WPARAM action = 0xFFFF;
  LPARAM lparam = 0;
};

inline Finished& TheFinished() {
  static Finished finished;
  return finished;
}

inline LRESULT CALLBACK FinishProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == MsgTaskFinished) {
    Finished& f = TheFinished();
    ++f.count;
    f.action = wparam;
    f.lparam = lparam;
    g_state.busy.exchange(false);  // what the window does first
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// A fresh hidden window, set as the main window, and the launcher's worker as
// the task body, as the entry sets them.
inline HWND MakeMainWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FinishProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MorvelTasksTestWnd";
    registered = RegisterClassW(&wc) != 0;
  }
  const HWND window = CreateWindowExW(0, L"MorvelTasksTestWnd", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  g_state.main_window = window;
  g_task_hooks.body = WorkerMain;
  return window;
}

inline void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

// Pumps until the task's end message arrives (bounded), then until its thread
// has returned, so a second message would be seen too.
inline Finished AwaitFinish(DWORD timeout_ms = 90000) {
  const DWORD start = GetTickCount();
  while (TheFinished().count == 0 && GetTickCount() - start < timeout_ms) Pump(20);
  if (g_worker_thread) {
    const DWORD left = 15000;
    const DWORD until = GetTickCount() + left;
    while (WaitForSingleObject(g_worker_thread.get(), 0) == WAIT_TIMEOUT &&
           static_cast<LONG>(until - GetTickCount()) > 0) {
      Pump(20);
    }
  }
  Pump(100);
  return TheFinished();
}

// Starts a task as the window's buttons do and waits for its end.
inline Finished RunTask(TaskKind kind, ClientKind client) {
  TheFinished() = Finished();
  StartTask(kind, client);
  return AwaitFinish();
}

}  // namespace tasks_test
