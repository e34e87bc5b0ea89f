#include "update/file_host.h"

#include "update/file_host_url.h"

WideString DownloadPageUrl(const FileHost& host) { return HttpsUrl(host.name, host.port, u"/downloads"); }
