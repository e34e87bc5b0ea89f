// The one record the window thread and the worker thread share, and the request
// and end-of-task types that pass between them.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "app/client_table.h"
#include "app/text.h"
#include "app/texts.h"

enum class TaskKind : int32_t { CheckUpdates = 0, Play = 1, VerifyFiles = 2 };

struct WorkerTask {
  TaskKind kind;
  ClientKind client;
};

// WM_APP + 1; wParam carries a FinishAction, lParam is 0.
constexpr unsigned MsgTaskFinished = 0x8000 + 1;

enum FinishAction : int32_t {
  FinishKeepOpen = 0,
  FinishCloseLauncher = 1,
  FinishRestartLauncher = 2,
};

struct LauncherState {
  // Guards headline and detail only; held just while they are copied or replaced.
  std::mutex lock;
  WideString headline = kTextConnecting;
  WideString detail;

  std::atomic<uint32_t> total_permille{0};
  std::atomic<uint32_t> file_permille{0};
  std::atomic<bool> status_is_error{false};
  std::atomic<bool> cancel_requested{false};
  std::atomic<bool> busy{false};

  void* main_window = nullptr;    // HWND; written once before any worker exists

  std::atomic<bool> installed[kClientCount] = {};
};

extern LauncherState g_state;

// Whether the player asked the running task to stop; its loops look between steps.
inline bool CancelRequested() { return g_state.cancel_requested.load(); }

// Replaces both texts in one hold of the lock; the three-argument form then
// stores the error flag, so the error colour never shows before the texts.
void SetStatus(const WideString& title, const WideString& detail);
void SetStatus(const WideString& title, const WideString& detail, bool error);

// Replaces the detail only (the download's running amounts under its headline).
void SetDetail(const WideString& detail);

// Both texts copied in one hold of the lock, as the paint takes them.
struct StatusTexts {
  WideString headline;
  WideString detail;
};
StatusTexts CopyStatus();
