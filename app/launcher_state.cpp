#include "app/launcher_state.h"

LauncherState g_state;

void SetStatus(const WideString& title, const WideString& detail) {
  std::lock_guard<std::mutex> hold(g_state.lock);
  g_state.headline = title;
  g_state.detail = detail;
}

void SetStatus(const WideString& title, const WideString& detail, bool error) {
  SetStatus(title, detail);
  g_state.status_is_error.exchange(error);
}

void SetDetail(const WideString& detail) {
  std::lock_guard<std::mutex> hold(g_state.lock);
  g_state.detail = detail;
}

StatusTexts CopyStatus() {
  std::lock_guard<std::mutex> hold(g_state.lock);
  return {g_state.headline, g_state.detail};
}
