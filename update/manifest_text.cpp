#include "update/manifest.h"

#include <algorithm>
#include <string_view>

#include "app/client_table.h"
#include "update/manifest_rules.h"

namespace {

bool ClientFromKey(std::string_view key, ClientKind& client) {
  for (const ClientKind kind : kClientKinds) {
    if (key == InfoOf(kind).key) {
      client = kind;
      return true;
    }
  }
  return false;
}

}  // namespace

WideString EntryPath(std::string_view manifest_path) {
  WideString wide = Utf8ToWide(std::string(manifest_path));
  std::replace(wide.begin(), wide.end(), u'/', u'\\');
  return wide;
}

std::string ManifestPath(const WideString& entry_path) {
  std::string utf8 = WideToUtf8(entry_path);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

const PatchEntry* FindPatch(const Manifest& manifest, const std::string& sha256, const std::string& base_sha256) {
  for (const PatchEntry& patch : manifest.patches) {
    if (patch.sha256 == sha256 && patch.base_sha256 == base_sha256) return &patch;
  }
  return nullptr;
}

std::set<std::string> PatchTargets(const Manifest& manifest) {
  std::set<std::string> targets;
  for (const PatchEntry& patch : manifest.patches) targets.insert(patch.sha256);
  return targets;
}

bool SameManifest(const Manifest& a, const Manifest& b) {
  if (a.serial != b.serial || a.expires != b.expires || a.launcher_version != b.launcher_version ||
      a.launcher_sha256 != b.launcher_sha256 || a.launcher_size != b.launcher_size ||
      a.launcher_path != b.launcher_path || a.files.size() != b.files.size() || a.patches.size() != b.patches.size() ||
      a.packs.size() != b.packs.size()) {
    return false;
  }
  for (size_t i = 0; i < a.packs.size(); ++i) {
    if (FormatPackLine(a.packs[i]) != FormatPackLine(b.packs[i])) return false;
  }
  for (size_t i = 0; i < a.patches.size(); ++i) {
    const PatchEntry &x = a.patches[i], &y = b.patches[i];
    if (x.sha256 != y.sha256 || x.base_sha256 != y.base_sha256 || x.download_size != y.download_size ||
        x.path != y.path) {
      return false;
    }
  }
  for (size_t i = 0; i < a.files.size(); ++i) {
    const FileEntry &x = a.files[i], &y = b.files[i];
    if (x.client != y.client || x.sha256 != y.sha256 || x.size != y.size || x.download_size != y.download_size ||
        x.keep_existing != y.keep_existing || x.path != y.path) {
      return false;
    }
  }
  return true;
}

namespace {

// Both forms of ParseManifest; without `note` it stops at the first line that
// rejects the manifest.
bool Parse(const std::string& text, Manifest& manifest, const LineNote* note) {
  manifest = Manifest();
  const std::string_view all(text);
  // Saves the vector's regrowth on big manifests. Bounded by the shortest valid
  // "f" line (75 bytes), so a text of empty lines cannot reserve a fortune.
  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  manifest.files.reserve(std::min(lines, text.size() / 75 + 1));
  size_t position = 0, number = 0;
  bool header = true, rejected = false;
  std::string_view fields[8];
  std::vector<size_t> pack_lines;  // the line number of each pack, for the notes below
  const auto reject = [&](std::string why) {
    rejected = true;
    if (note) (*note)(number, LineFate::Rejects, why);
    return note != nullptr;  // whether to read on
  };
  const auto ignore = [&](LineFate fate, const std::string& why) {
    if (note) (*note)(number, fate, why);
  };
  while (position < all.size()) {
    size_t end = all.find('\n', position);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = all.substr(position, end - position);
    position = end + 1;
    ++number;

    // Only the first 8 fields are kept; a count past 7 matches no line kind.
    size_t count = 0;
    ForEachPiece(line, '\t', [&](std::string_view field) {
      if (count < 8) fields[count] = field;
      ++count;
    });

    if (header) {
      header = false;
      if (line != kManifestHeader &&
          !reject(std::string("the header must be \"morvel-launcher<TAB>1\"") +
                  (!line.empty() && line.back() == '\r' ? " (the file has CR LF line ends)" : ""))) {
        return false;
      }
      continue;
    }

    const std::string_view kind = fields[0];
    if ((kind == "serial" || kind == "expires") && count == 2) {
      // Launchers from before these lines skip them as lines of an unknown kind.
      if (!ReadStrictUnsigned64(fields[1], kind == "serial" ? manifest.serial : manifest.expires)) {
        ignore(LineFate::Ignored, "\"" + std::string(kind) + "\" value is not a plain decimal number");
      }
    } else if (kind == "launcher" && count == 2) {
      manifest.launcher_version = ReadInt32(fields[1]);
    } else if (kind == "self" && count == 4) {
      const std::string_view path = fields[3];
      if (!IsLowerHex64(fields[1]) || !IsLauncherRequestPath(path)) {
        ignore(LineFate::Ignored, "bad hash or path in the \"self\" line");
        continue;
      }
      manifest.launcher_sha256.assign(fields[1]);
      manifest.launcher_size = ReadUnsigned64(fields[2]);
      manifest.launcher_path = Utf8ToWide(std::string(path));
    } else if (kind == "f" && count == 7) {
      ClientKind client = ClientKind::None;
      const char* path_problem = nullptr;
      if (!ClientFromKey(fields[1], client)) {
        if (!reject("unknown client \"" + std::string(fields[1]) + "\"")) return false;
      } else if (!IsLowerHex64(fields[2])) {
        if (!reject("SHA-256 is not 64 lower-case hex digits")) return false;
      } else if ((path_problem = ManifestPathProblem(fields[6])) != nullptr) {
        if (!reject(path_problem)) return false;
      } else {
        FileEntry& entry = manifest.files.emplace_back();
        entry.client = client;
        entry.sha256.assign(fields[2]);
        entry.size = ReadUnsigned64(fields[3]);
        entry.download_size = ReadUnsigned64(fields[4]);
        entry.keep_existing = fields[5] == "1";
        entry.path = EntryPath(fields[6]);
      }
    } else if (kind == "p" && count == 5) {
      // Like "self": a bad patch line only loses the patch; the file still
      // comes whole.
      if (!IsLowerHex64(fields[1]) || !IsLowerHex64(fields[2]) || !IsLauncherRequestPath(fields[4])) {
        ignore(LineFate::Ignored, "bad hash or path in the \"p\" line");
        continue;
      }
      PatchEntry& patch = manifest.patches.emplace_back();
      patch.sha256.assign(fields[1]);
      patch.base_sha256.assign(fields[2]);
      patch.download_size = ReadUnsigned64(fields[3]);
      patch.path = Utf8ToWide(std::string(fields[4]));
    } else if (kind == "k") {
      // Like "p": a bad pack line only loses the pack; its files come alone.
      PackEntry pack;
      if (const char* why = ParsePackLine(line, pack)) {
        ignore(LineFate::Ignored, why);
        continue;
      }
      manifest.packs.push_back(std::move(pack));
      pack_lines.push_back(number);
    } else if (kind == "f" || kind == "self" || kind == "p" || kind == "launcher" || kind == "serial" ||
               kind == "expires") {
      ignore(LineFate::Ignored, "\"" + std::string(kind) + "\" line with " + std::to_string(count) + " fields");
    } else if (!line.empty()) {
      ignore(LineFate::Unknown, "unknown line");
    }
  }
  // Members are checked against the "f" lines once all of them are read.
  size_t kept = 0;
  const ClientContents contents = manifest.packs.empty() ? ClientContents() : ContentsNamed(manifest.files);
  for (size_t i = 0; i < manifest.packs.size(); ++i) {
    if (const char* why = PackMemberProblem(manifest.packs[i], contents)) {
      number = pack_lines[i];
      ignore(LineFate::Ignored, why);
      continue;
    }
    if (kept != i) manifest.packs[kept] = std::move(manifest.packs[i]);
    ++kept;
  }
  manifest.packs.resize(kept);
  return !header && !rejected;
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest& manifest) { return Parse(text, manifest, nullptr); }

bool ParseManifest(const std::string& text, Manifest& manifest, const LineNote& note) {
  return Parse(text, manifest, &note);
}

std::string FormatManifest(const Manifest& manifest) {
  std::string text = std::string(kManifestHeader) + "\n";
  if (manifest.serial != 0) text += "serial\t" + std::to_string(manifest.serial) + "\n";
  if (manifest.expires != 0) text += "expires\t" + std::to_string(manifest.expires) + "\n";
  if (manifest.launcher_version != 0) text += "launcher\t" + std::to_string(manifest.launcher_version) + "\n";
  if (!manifest.launcher_sha256.empty()) {
    text += "self\t" + manifest.launcher_sha256 + "\t" + std::to_string(manifest.launcher_size) + "\t" +
            WideToUtf8(manifest.launcher_path) + "\n";
  }
  for (const FileEntry& entry : manifest.files) {
    text += std::string("f\t") + InfoOf(entry.client).key + "\t" + entry.sha256 + "\t" + std::to_string(entry.size) +
            "\t" + std::to_string(entry.download_size) + "\t" + (entry.keep_existing ? "1" : "0") + "\t" +
            ManifestPath(entry.path) + "\n";
  }
  for (const PatchEntry& patch : manifest.patches) {
    text += "p\t" + patch.sha256 + "\t" + patch.base_sha256 + "\t" + std::to_string(patch.download_size) + "\t" +
            WideToUtf8(patch.path) + "\n";
  }
  for (const PackEntry& pack : manifest.packs) text += FormatPackLine(pack) + "\n";
  return text;
}
