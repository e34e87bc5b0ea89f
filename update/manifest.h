// The file host's description of a current installation.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/client_table.h"
#include "app/text.h"
#include "update/pack.h"

struct FileEntry {
  ClientKind client = ClientKind::OTClient;  // OTClient or Classic once parsed
  std::string sha256;      // 64 lower-case hex characters
  uint64_t size = 0;       // exact size on disk
  uint64_t download_size = 0;  // compressed body size, for progress only
  bool keep_existing = false;
  WideString path;         // inside the client folder, backslash-separated
};

// A patch the file host offers: the bytes that turn one content into another,
// named by both digests. A launcher that knows no patches skips these lines.
struct PatchEntry {
  std::string sha256;          // the content it produces: an "f" line's sha256
  std::string base_sha256;     // the content it applies to
  uint64_t download_size = 0;  // its gzip body on the file host, in bytes
  WideString path;             // request path on the file host, under "/arquivos/"
};

struct Manifest {
  // Grows with every publish; a launcher with a key never goes back to a lower
  // one than it has accepted. 0 when the manifest has no "serial" line.
  uint64_t serial = 0;
  // Unix time after which a launcher with a key no longer takes it (with some
  // leeway for wrong clocks); 0 when it has no "expires" line: never.
  uint64_t expires = 0;
  int32_t launcher_version = 0;
  std::string launcher_sha256;
  uint64_t launcher_size = 0;
  WideString launcher_path;
  std::vector<FileEntry> files;
  std::vector<PatchEntry> patches;  // "p" lines, in their order
  std::vector<PackEntry> packs;     // "k" lines, in their order (update/pack.h)
};

constexpr uint64_t kManifestLimit = 8388608;  // bytes held before the last chunk

// Reading and writing manifest.txt (update/manifest_text.cpp).
bool ParseManifest(const std::string& text, Manifest& manifest);

// What the parser makes of a line it does not take: one that rejects the whole
// manifest, a known kind of line it ignores (malformed), or a line of a kind it
// does not know (a later format's, ignored too).
enum class LineFate { Rejects, Ignored, Unknown };
// Told the line's number (from 1), its fate and what is wrong with it.
using LineNote = std::function<void(size_t number, LineFate fate, const std::string& why)>;
// The same parse, telling `note` about every line it does not take; it reads on
// past a rejecting line, so that every one is told, and still returns false.
bool ParseManifest(const std::string& text, Manifest& manifest, const LineNote& note);

// The text of a manifest, lines in its order: the header, "serial" and
// "expires" when set, "launcher" when launcher_version is set, "self" when
// launcher_sha256 is, one "f" line per file, one "p" line per patch, then one
// "k" line per pack. ParseManifest reads it back as the same manifest.
std::string FormatManifest(const Manifest& manifest);

// The patch from the content base_sha256 to sha256, or nullptr.
const PatchEntry* FindPatch(const Manifest& manifest, const std::string& sha256, const std::string& base_sha256);
// The contents some patch produces.
std::set<std::string> PatchTargets(const Manifest& manifest);

// Field for field, files, patches and packs in order.
bool SameManifest(const Manifest& a, const Manifest& b);

// A FileEntry path and the manifest's form of it (UTF-8, "/"-separated).
WideString EntryPath(std::string_view manifest_path);
std::string ManifestPath(const WideString& entry_path);
