// Which manifest entries one update works on, and where each one's download is
// staged. Target paths are compared through a key (the Win32 side folds case,
// as the file system does), so two lines naming one file count as one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "app/text.h"
#include "update/manifest.h"

// Maps a target path to the form under which the file system treats two paths
// as the same file.
using PathKey = std::function<WideString(const WideString& path)>;
using TargetPath = std::function<WideString(const FileEntry& entry)>;

// Indices of the entries whose client is selected, in manifest order. When
// several selected entries name one target, only the last is kept: checked one
// after the other they could never all be valid at once, so every run would
// fetch them again and still report success for a file it just overwrote.
std::vector<size_t> SelectEntries(const std::vector<FileEntry>& files, const bool selection[kClientCount],
                                  const TargetPath& target, const PathKey& key);

// The keys of every entry's target, whichever client it belongs to.
std::set<WideString> TargetKeys(const std::vector<FileEntry>& files, const TargetPath& target, const PathKey& key);

// Where the download of target is staged: target + ".part", unless that is the
// target of a manifest entry (then ".part" again, until it is not), so that
// staging one file never truncates another that the manifest installs.
WideString PartPathFor(const WideString& target, const std::set<WideString>& target_keys, const PathKey& key);

// Where the resume record of part_path is kept (ResumeStatePath), or empty
// when that name is the target of a manifest entry: that file then resumes
// nothing rather than lose the entry's file.
WideString StatePathFor(const WideString& part_path, const std::set<WideString>& target_keys, const PathKey& key);

// Where the patch bytes of the download staged at part_path are kept between
// tries; their record is at ResumeStatePath of it.
WideString KeptPatchPath(const WideString& part_path);
// Whether those names and the record's temporary one are free of manifest
// targets: else the patch would overwrite another entry's file.
bool KeptPatchNamesFree(const WideString& part_path, const std::set<WideString>& target_keys, const PathKey& key);

// A name the download stages under: a ".part" file, its resume record, or a
// record being written.
bool IsStagingName(const WideString& path);

// The window of body requests while the body of item current of a download list
// is read: one past the last item that may be requested by then. It holds at
// most in_flight items, current included, and takes a later item only while the
// bodies in front of it (current's included) add up to at most bytes_ahead,
// since that request waits, unread, until they have all arrived.
size_t RequestWindowEnd(const std::vector<uint64_t>& body_sizes, size_t current, size_t in_flight,
                        uint64_t bytes_ahead);
