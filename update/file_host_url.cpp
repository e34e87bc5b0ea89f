#include "update/file_host_url.h"

WideString HttpsUrl(const WideString& host, uint16_t port, const WideString& path) {
  WideString url = u"https://" + host;
  if (port != 443) {
    WideString digits;
    for (unsigned n = port; n != 0 || digits.empty(); n /= 10) digits.insert(digits.begin(), char16_t(u'0' + n % 10));
    url += u":" + digits;
  }
  return url + path;
}
