#include "app/task_handoff_win32.h"
#include "app/texts.h"

#include <new>

ScopedHandle g_worker_thread;

static HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  return CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
}
TaskHooks g_task_hooks = {nullptr, CreateWorkerThread};

void StartTask(TaskKind kind, ClientKind client) {
  if (g_state.busy.exchange(true)) return;
  g_state.cancel_requested.exchange(false);
  g_state.status_is_error.exchange(false);

  // The earlier worker has posted its end already; it is not waited for.
  g_worker_thread.reset();

  WorkerTask* task = new (std::nothrow) WorkerTask{kind, client};
  g_worker_thread.reset(task && g_task_hooks.body ? g_task_hooks.start_thread(g_task_hooks.body, task) : nullptr);
  if (!g_worker_thread) {
    delete task;
    g_state.busy.exchange(false);
    SetStatus(kTextTaskNotStarted, u"", true);
  }
}

void RequestClose(HWND window) {
  g_state.cancel_requested.exchange(true);
  if (g_state.busy && g_worker_thread) {
    WaitForSingleObject(g_worker_thread.get(), 3000);
  }
  DestroyWindow(window);
}

int FinishProcess(int exit_code) {
  if (g_worker_thread && WaitForSingleObject(g_worker_thread.get(), 0) == WAIT_TIMEOUT) {
    ExitProcess(static_cast<UINT>(exit_code));
  }
  return exit_code;
}
