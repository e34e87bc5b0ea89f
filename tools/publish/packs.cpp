#include "tools/publish/packs.h"

#include <map>

#include "tools/publish/body.h"
#include "tools/publish/publish.h"
#include "update/host_layout.h"
#include "update/inflate_verify.h"
#include "update/sha256.h"

namespace publish {

namespace {

// The digest's first 32 bits, as a fraction of 2^32: a value no edit elsewhere moves.
uint64_t DigestDraw(const std::string& sha256) { return std::stoull(sha256.substr(0, 8), nullptr, 16); }

// What identifies a pack's content: its members, in order, with their bodies' sizes.
std::string MembersKey(ClientKind client, const std::vector<PackMember>& members) {
  std::string key = InfoOf(client).key;
  for (const PackMember& m : members) key += " " + m.sha256 + ":" + std::to_string(m.length);
  return key;
}

// Writes the pack of members from their bodies under a temporary name and
// moves it to its digest's name.
bool WritePack(const fs::path& packs_dir, const fs::path& bodies_dir, PackEntry& pack, std::string& error) {
  const fs::path temp = packs_dir / ("." + std::to_string(ProcessId()) + ".pack.tmp");
  OutFile out;
  if (!out.Create(temp)) {
    error = "cannot create " + DisplayPath(temp) + ": " + LastErrorText();
    return false;
  }
  Sha256 digest;
  bool ok = true;
  for (const PackMember& member : pack.members) {
    const fs::path body = bodies_dir / host_layout::BodyFileName(member.sha256);
    InFile in;
    Digest copied;
    ok = in.Open(body) && DigestFile(in, body, copied, error, [&](const uint8_t* data, uint32_t length) {
      digest.Update(data, length);
      if (out.Write(data, length)) return true;
      error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
      return false;
    });
    if (ok && copied.size != member.length) {
      error = DisplayPath(body) + " changed while the packs were made; publish again";
      ok = false;
    }
    if (!ok) {
      if (error.empty()) error = "cannot open " + DisplayPath(body) + ": " + LastErrorText();
      break;
    }
  }
  if (ok && (!out.Sync() || !out.Close())) {
    error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
    ok = false;
  }
  if (ok) {
    pack.sha256 = digest.FinishHex();
    pack.path = Utf8ToWide(host_layout::PackRequestPath(pack.sha256));
  }
  return MoveTempIntoPlace(temp, packs_dir / host_layout::PackFileName(pack.sha256), ok, error);
}

}  // namespace

std::vector<std::vector<size_t>> GroupIntoPacks(const std::vector<PackCandidate>& bodies) {
  std::vector<std::vector<size_t>> packs;
  std::vector<size_t> current;
  uint64_t bytes = 0;
  for (size_t i = 0; i < bodies.size(); ++i) {
    const uint64_t size = bodies[i].body_size;
    if (!current.empty() && bytes + size > kPackMaxSize) {
      packs.push_back(std::move(current));
      current.clear();
      bytes = 0;
    }
    current.push_back(i);
    bytes += size;
    // A cut with a chance of size / kPackCutBytes: on average one per
    // kPackCutBytes of bodies past the minimum.
    if (bytes >= kPackMinSize && DigestDraw(bodies[i].sha256) * kPackCutBytes < (size << 32)) {
      packs.push_back(std::move(current));
      current.clear();
      bytes = 0;
    }
  }
  // A lone body needs no pack.
  if (current.size() > 1) packs.push_back(std::move(current));
  return packs;
}

bool PublishPacks(const fs::path& packs_dir, const fs::path& bodies_dir, const Manifest& manifest,
                  const Manifest& previous, std::vector<PackEntry>& packs, PackCounts& counts, std::string& error) {
  std::map<std::string, const PackEntry*> before;
  for (const PackEntry& pack : previous.packs) before[MembersKey(pack.client, pack.members)] = &pack;
  std::error_code ec;
  for (const ClientKind client : kClientKinds) {
    std::vector<PackCandidate> candidates;
    std::set<std::string> seen;
    for (const FileEntry& entry : manifest.files) {
      if (entry.client != client || entry.download_size >= kPackMemberLimit || !seen.insert(entry.sha256).second) continue;
      candidates.push_back(PackCandidate{entry.sha256, entry.download_size});
    }
    for (const std::vector<size_t>& group : GroupIntoPacks(candidates)) {
      PackEntry pack;
      pack.client = client;
      for (const size_t i : group) {
        pack.members.push_back(PackMember{candidates[i].sha256, pack.size, candidates[i].body_size});
        pack.size += candidates[i].body_size;
      }
      const auto old = before.find(MembersKey(client, pack.members));
      if (old != before.end() && old->second->size == pack.size &&
          WideToUtf8(old->second->path) == host_layout::PackRequestPath(old->second->sha256)) {
        const fs::path file = packs_dir / host_layout::PackFileName(old->second->sha256);
        if (fs::is_regular_file(fs::symlink_status(file, ec)) && fs::file_size(file, ec) == pack.size && !ec) {
          packs.push_back(*old->second);
          ++counts.reused;
          continue;
        }
      }
      if (counts.made == 0) {
        fs::create_directories(packs_dir, ec);
        if (ec) {
          error = "cannot create " + DisplayPath(packs_dir) + ": " + ec.message();
          return false;
        }
      }
      if (!WritePack(packs_dir, bodies_dir, pack, error)) return false;
      packs.push_back(std::move(pack));
      ++counts.made;
    }
  }
  return true;
}

std::set<std::string> NamedPackFiles(const Manifest& manifest) {
  std::set<std::string> files;
  for (const std::string& path : PackRequestPaths(manifest)) files.insert(path.substr(1));
  return files;
}

std::vector<std::string> CheckPack(const fs::path& tree, const PackEntry& pack, const Manifest& manifest) {
  const std::string request = WideToUtf8(pack.path);
  const std::string at = "pack " + request + ": ";
  const fs::path file = tree / PathFromUtf8(request.substr(1)).make_preferred();
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return {at + "missing"};
  const uint64_t size = fs::file_size(file, ec);
  if (ec || size != pack.size) {
    return {at + "has " + std::to_string(size) + " bytes, the manifest says " + std::to_string(pack.size)};
  }
  // At most kPackMaxSize from this tool; a bigger one is read all the same.
  std::string bytes;
  InFile in;
  if (!in.Open(file)) return {at + "cannot open: " + LastErrorText()};
  char buffer[65536];
  int64_t got;
  while ((got = in.Read(buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
  if (got < 0) return {at + "cannot read: " + LastErrorText()};
  std::vector<std::string> problems;
  Sha256 whole;
  whole.Update(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  const std::string digest = whole.FinishHex();
  if (digest != pack.sha256) problems.push_back(at + "its bytes have SHA-256 " + digest + ", the manifest says " + pack.sha256);
  std::map<std::string, const FileEntry*> files;
  for (const FileEntry& entry : manifest.files) {
    if (entry.client == pack.client) files.emplace(entry.sha256, &entry);
  }
  for (const PackMember& member : pack.members) {
    const std::string where = at + "member " + member.sha256 + " at " + std::to_string(member.offset) + ": ";
    const FileEntry& entry = *files.at(member.sha256);  // the parser kept only packs whose members are files
    Digest inflated;
    InflateVerifier verifier(entry.size, [&inflated](const uint8_t*, uint32_t length) {
      inflated.size += length;
      return true;
    });
    if (!verifier.Start()) {
      problems.push_back(where + "zlib: inflateInit2 failed");
      continue;
    }
    const ChunkOutcome outcome = verifier.Feed(reinterpret_cast<const uint8_t*>(bytes.data() + member.offset),
                                               static_cast<uint32_t>(member.length));
    verifier.End();
    const bool whole_member = outcome == ChunkOutcome::Accepted && verifier.stream_ended() && !verifier.saw_trailing_bytes();
    inflated.sha256 = verifier.FinishDigest();
    if (!whole_member) {
      problems.push_back(where + "not exactly one complete gzip member");
    } else if (inflated.size != entry.size || inflated.sha256 != entry.sha256) {
      problems.push_back(where + "inflates to " + std::to_string(inflated.size) + " bytes with SHA-256 " + inflated.sha256 +
                         ", not the file " + ManifestPath(entry.path));
    } else if (member.length != entry.download_size) {
      problems.push_back(where + "has " + std::to_string(member.length) + " bytes, the file's body " +
                         std::to_string(entry.download_size));
    }
  }
  return problems;
}

}  // namespace publish
