#include "update/worker_win32.h"

#include <algorithm>

#include "app/client_table.h"
#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "clients/launch.h"
#include "update/download.h"
#include "update/file_hosts_win32.h"
#include "update/manifest.h"
#include "update/questions_win32.h"
#include "update/self_update_win32.h"

WorkerSettings g_worker_settings;

namespace {

FinishAction CheckUpdatesJob(FileHosts& hosts, const Manifest& manifest, bool obtained) {
  if (!obtained) {
    SetStatus(kTextNoConnection, kTextInstalledStillOpen, true);
    return FinishKeepOpen;
  }
  if (manifest.launcher_version <= g_worker_settings.launcher_version) {
    SetStatus(kTextReady, u"", false);
    return FinishKeepOpen;
  }
  return UpdateLauncherOrOfferDownload(hosts, manifest);
}

FinishAction PlayJob(FileHosts& hosts, const Manifest& manifest, bool obtained, ClientKind client) {
  bool selection[kClientCount] = {};
  selection[ClientIndex(client)] = true;
  if (!obtained) {
    if (!IsExistingFile(ClientExePath(client))) {
      SetStatus(kTextNoConnection, kTextCheckInternet, true);
      return FinishKeepOpen;
    }
    if (AskPlayer(kTextAskOpenClientAnyway, MB_ICONWARNING)) {
      return LaunchClient(client) ? FinishCloseLauncher : FinishKeepOpen;
    }
    SetStatus(kTextReady, u"", false);
    return FinishKeepOpen;
  }
  if (!UpdateClientFiles(hosts, manifest, selection, TaskKind::Play, kBodiesInFlight)) return FinishKeepOpen;
  SetStatus(TextOpening(InfoOf(client).label), u"", false);
  return LaunchClient(client) ? FinishCloseLauncher : FinishKeepOpen;
}

FinishAction VerifyFilesJob(FileHosts& hosts, const Manifest& manifest, bool obtained) {
  RefreshInstalledClients();
  bool selection[kClientCount];
  for (int c = 0; c < kClientCount; ++c) selection[c] = g_state.installed[c].load();
  if (!obtained) {
    SetStatus(kTextNoConnection, kTextCheckInternet, true);
    return FinishKeepOpen;
  }
  if (std::find(selection, selection + kClientCount, true) == selection + kClientCount) {
    SetStatus(kTextNoClientInstalled, u"", false);
    return FinishKeepOpen;
  }
  if (!UpdateClientFiles(hosts, manifest, selection, TaskKind::VerifyFiles, kBodiesInFlight)) return FinishKeepOpen;
  SetStatus(kTextAllFilesCurrent, u"", false);
  return FinishKeepOpen;
}

}  // namespace

DWORD WINAPI WorkerMain(LPVOID param) {
  WorkerTask* task = static_cast<WorkerTask*>(param);
  const TaskKind kind = task->kind;
  const ClientKind client = task->client;
  delete task;

  g_state.file_permille.exchange(0);
  g_state.total_permille.exchange(0);

  FinishAction action = FinishKeepOpen;
  {
    FileHosts hosts(g_worker_settings.file_hosts);
    Manifest manifest;
    if (kind != TaskKind::CheckUpdates) SetStatus(kTextConnecting, u"", false);
    const bool obtained = FetchTaskManifest(hosts, manifest);

    switch (kind) {
      case TaskKind::CheckUpdates:
        action = CheckUpdatesJob(hosts, manifest, obtained);
        break;
      case TaskKind::Play:
        if (IsClient(client)) {
          action = PlayJob(hosts, manifest, obtained, client);
        }
        break;
      case TaskKind::VerifyFiles:
        action = VerifyFilesJob(hosts, manifest, obtained);
        break;
    }
    // The task's last act on shared state; the manifest and the connection are
    // released after it, touching nothing the window reads.
    PostMessageW(static_cast<HWND>(g_state.main_window), MsgTaskFinished, static_cast<WPARAM>(action), 0);
  }
  return 0;
}
