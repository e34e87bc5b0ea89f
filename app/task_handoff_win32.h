// Where every job begins and where the window's close meets a running job. Both
// run on the window thread only.
#pragma once
#include <windows.h>

#include "app/launcher_state.h"
#include "app/scoped_win32.h"

// The last worker started; window thread only. Kept after the worker ends so
// the window can still wait on it; the next start replaces it.
extern ScopedHandle g_worker_thread;

// How StartTask starts a worker. body: the routine the thread runs, which takes
// ownership of the heap-allocated WorkerTask in its parameter; the entry sets
// WorkerMain before the first task, the window test a stand-in; none set, no
// task can start. start_thread: CreateThread with the default stack; a test puts
// a failing one here to see a start that the system refuses.
using StartThreadFn = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* parameter);
struct TaskHooks {
  LPTHREAD_START_ROUTINE body;
  StartThreadFn start_thread;
};
extern TaskHooks g_task_hooks;

// Starts a worker thread for the task unless one is already running.
void StartTask(TaskKind kind, ClientKind client);

// Asks a running task to stop, waits at most 3000 ms for it, then destroys the
// window.
void RequestClose(HWND window);

// The entry's last step. A worker that outlived RequestClose's wait still
// reaches g_state and the runtime, which a normal return's static destructors
// would tear down under it: then the process ends here, with exit_code, and
// nothing is destroyed. Otherwise returns exit_code for the entry to return.
int FinishProcess(int exit_code);
