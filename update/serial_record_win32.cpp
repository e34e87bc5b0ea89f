#include "update/serial_record_win32.h"

#include <windows.h>

#include <string>

#include "app/file_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"
#include "update/manifest_trust.h"

WideString SerialRecordPath() {
  const WideString dir = InstallDir();
  return dir.empty() ? dir : dir + u"\\manifest-serial.txt";
}

uint64_t ReadSerialRecord() {
  const WideString path = SerialRecordPath();
  return path.empty() ? 0 : ReadSerialRecordText(ReadSmallFile(path));
}

bool WriteSerialRecord(uint64_t serial) {
  const WideString path = SerialRecordPath();
  if (path.empty()) return false;
  CreateDirectoryTree(InstallDir());
  return WriteFileWhole(path, path + u".part", SerialRecordText(serial));
}

uint64_t UnixTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr uint64_t kTicksTo1970 = 116444736000000000ull;  // 100 ns ticks from 1601 to 1970
  return ticks < kTicksTo1970 ? 0 : (ticks - kTicksTo1970) / 10000000;
}
