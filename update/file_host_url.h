// Addresses on the file host's web site, for the browser (never for Http).
#pragma once
#include <cstdint>

#include "app/text.h"

// "https://" + host, then ":" + port unless it is 443, then path.
WideString HttpsUrl(const WideString& host, uint16_t port, const WideString& path);
