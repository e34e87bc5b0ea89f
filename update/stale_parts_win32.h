// Staging files that no download will take up again: a ".part" (and its resume
// record) outlives its attempt so that a later one can go on with it, and would
// stay for ever once the manifest no longer names its file.
#pragma once
#include <set>

#include "app/text.h"
#include "update/download_plan.h"

// Deletes every staging file (IsStagingName) below client_dir whose key is not
// in keep: keep holds every manifest target (a client file may be named like a
// ".part") and the staging files of the downloads still to come. Folders that
// are links are not entered.
void DeleteStaleParts(const WideString& client_dir, const std::set<WideString>& keep, const PathKey& key);
