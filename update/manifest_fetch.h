// The manifest download: one GET of the file host's manifest.txt, held in full
// (at most kManifestLimit bytes) and parsed.
#pragma once
#include "update/manifest.h"

class Http;

bool FetchManifest(Http& http, Manifest& manifest);
