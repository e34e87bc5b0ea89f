// The release file host: constants from the build (MORVEL_FILE_HOST and
// MORVEL_FILE_PORT in the CMake cache). Test programs link a settable copy
// instead, so this file is never part of them.
#include "update/file_host.h"

#include "update/file_host_url.h"

#if !defined(MORVEL_FILE_HOST) || !defined(MORVEL_FILE_PORT)
#error "MORVEL_FILE_HOST and MORVEL_FILE_PORT come from the build"
#endif
static_assert(MORVEL_FILE_PORT > 0 && MORVEL_FILE_PORT < 65536, "file host port out of range");

WideString FileHostName() { return u"" MORVEL_FILE_HOST; }

uint16_t FileHostPort() { return MORVEL_FILE_PORT; }

WideString DownloadPageUrl() { return HttpsUrl(FileHostName(), FileHostPort(), u"/downloads"); }
