// The process entry: a one-shot Automap run, or the launcher itself, kept to
// one instance per logon.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cwchar>

#include "shell/dll_search_win32.h"
#include "shell/installed_copy.h"
#include "app/scoped_win32.h"
#include "app/paths.h"
#include "app/task_handoff_win32.h"
#include "app/win32_text.h"
#include "clients/automap.h"
#include "ui/assets_win32.h"
#include "ui/gdiplus_win32.h"
#include "ui/input.h"
#include "ui/main_window_win32.h"
#include "update/worker_win32.h"

// The values each launcher exe is built with (morvel_launcher_exe in
// app/CMakeLists.txt); a test build raises the version to play a newer launcher.
#if !defined(MORVEL_FILE_HOSTS) || !defined(MORVEL_LAUNCHER_VERSION) || !defined(MORVEL_MANIFEST_KEY)
#error "MORVEL_FILE_HOSTS, MORVEL_LAUNCHER_VERSION and MORVEL_MANIFEST_KEY come from the build"
#endif
static_assert(MORVEL_LAUNCHER_VERSION > 0, "launcher version out of range");

namespace {

struct BuiltInHost {
  const char16_t* name;
  uint16_t port;
};
constexpr BuiltInHost kFileHosts[] = {MORVEL_FILE_HOSTS};

WorkerSettings BuiltInSettings() {
  WorkerSettings settings;
  for (const BuiltInHost& host : kFileHosts) settings.file_hosts.push_back({host.name, host.port, MORVEL_MANIFEST_KEY});
  settings.launcher_version = MORVEL_LAUNCHER_VERSION;
  return settings;
}

bool CommandLineHas(const wchar_t* command_line, const wchar_t* text) {
  return std::wcsstr(command_line, text) != nullptr;
}

// False when another launcher keeps running: its window is brought to the
// front. The handle is never closed; its release at process end is what a
// restarted launcher waits for.
bool TakeSingleInstance(bool restarted) {
  for (int retries = 0;; ++retries) {
    ScopedHandle mutex(CreateMutexW(nullptr, TRUE, L"MorvelGlobalLauncher"));
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) {
      mutex.release();
      return true;
    }
    // The launcher that has just replaced itself gets 50 x 200 ms to end.
    if (restarted && retries <= 49) {
      mutex.reset();
      Sleep(200);
      continue;
    }
    mutex.release();
    if (const HWND first = FindWindowW(kMainWindowClass, nullptr)) {
      ShowWindow(first, SW_RESTORE);
      SetForegroundWindow(first);
    }
    return false;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // Before any call into a DLL other than kernel32's.
  RestrictDllSearch();
  const wchar_t* command_line = GetCommandLineW();
  // Before the single-instance guard: it runs while a launcher window is open.
  if (CommandLineHas(command_line, L"--instalar-mapa")) {
    InstallAutomap(ClientKind::Classic);
    return 0;
  }
  if (!TakeSingleInstance(CommandLineHas(command_line, WinText(kRestartedSwitch)))) return 0;

  RemovePreviousExecutable();
  // g_state's lock is a std::mutex, ready before any code runs.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    const GdiplusSession gdiplus;
    InstallLauncherCopy();
    RefreshInstalledClients();
    LoadUiAssets(instance);
    if (!CreateMainWindow(instance, show_command)) ExitProcess(1);
    g_worker_settings = BuiltInSettings();
    g_task_hooks.body = WorkerMain;
    StartTask(TaskKind::CheckUpdates, ClientKind::None);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    ReleaseUiAssets();
  }
  CoUninitialize();
  return FinishProcess(0);
}
