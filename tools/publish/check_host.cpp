#include "tools/publish/check_host.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "app/text.h"
#include "tools/publish/body.h"
#include "tools/publish/host_client.h"
#include "tools/publish/signing.h"
#include "update/file_host.h"
#include "update/host_layout.h"
#include "update/inflate_verify.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/sha256.h"

namespace publish {

namespace {

constexpr size_t kExamplesKept = 3;
constexpr uint64_t kLongCacheSeconds = 30ull * 86400;
const std::string kManifestPath = host_layout::ManifestRequestPath();
// How browsers and many proxies ask; a host that compresses for them may hand
// the compressed copy to launchers through a cache.
const std::string kAcceptEncoding = "Accept-Encoding: gzip, deflate, br";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What came back for one published file.
enum class Answer { None, Encoded, Plain };

struct Checker {
  Checker(const CheckHostOptions& o, CheckHostReport& r) : options(o), report(r), client(o.origin, o.ca_file) {}
  const CheckHostOptions& options;
  CheckHostReport& report;
  HostClient client;
  std::map<std::string, HostFault> seen;
  uint32_t ticks = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());

  void Fault(const std::string& name, const std::string& example) {
    HostFault& f = seen[name];
    f.name = name;
    ++f.count;
    if (f.examples.size() < kExamplesKept) f.examples.push_back(example);
  }
  // The launcher's cache-defeating query: a new number every time.
  std::string Query() { return "?t=" + std::to_string(ticks += 17); }
  HostResponse Get(const std::string& path, const std::vector<std::string>& headers, const HostClient::Sink& sink) {
    ++report.requests;
    return client.Get(path, headers, sink);
  }
  HostResponse GetText(const std::string& path, const std::vector<std::string>& headers, size_t limit, std::string& text) {
    ++report.requests;
    return client.GetText(path, headers, limit, text);
  }
  // The checks every published file's answer must pass. A body that came
  // encoded is not compared: the encoding is the fault.
  Answer Judge(const std::string& path, const HostResponse& r) {
    if (!r.answered) {
      Fault("status", path + ": no answer (" + r.error + ")");
      return Answer::None;
    }
    if (r.status >= 300 && r.status < 400) {
      const std::string to = r.Header("location");
      Fault("redirect", path + ": status " + std::to_string(r.status) + (to.empty() ? "" : " to " + to));
      return Answer::None;
    }
    if (r.status != 200) {
      Fault("status", path + ": status " + std::to_string(r.status));
      return Answer::None;
    }
    if (!r.error.empty()) {
      Fault("status", path + ": " + r.error);
      return Answer::None;
    }
    const std::string encoding = Lower(r.Header("content-encoding"));
    if (!encoding.empty() && encoding != "identity") {
      Fault("content-encoding", path + ": Content-Encoding: " + encoding);
      return Answer::Encoded;
    }
    return Answer::Plain;
  }
  void CheckLongCaching(const std::string& path, const HostResponse& r) {
    const std::string cc = r.Header("cache-control");
    if (!CachesForLong(cc)) Fault("body-cache", path + ": Cache-Control: " + (cc.empty() ? "(none)" : cc));
  }
  // Asked as browsers ask; only a Content-Encoding matters, so one chunk is enough.
  void ProbeEncoding(const std::string& path) {
    const HostResponse r = Get(path, {kAcceptEncoding}, [](const uint8_t*, size_t) { return false; });
    const std::string encoding = Lower(r.Header("content-encoding"));
    if (r.status == 200 && !encoding.empty() && encoding != "identity") {
      Fault("content-encoding", path + " (asked with " + kAcceptEncoding + "): Content-Encoding: " + encoding);
    }
  }
};

std::vector<const std::string*> Sample(const std::vector<std::string>& all, const CheckHostOptions& options) {
  std::vector<const std::string*> chosen;
  for (const std::string& s : all) chosen.push_back(&s);
  if (!options.all && chosen.size() > options.sample) {
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(std::random_device()()));
    chosen.resize(options.sample);
  }
  return chosen;
}

// A body, inflated as the launcher inflates it, against its "f" line.
void CheckBody(Checker& c, const std::string& sha, const FileEntry& entry) {
  const std::string path = host_layout::BodyRequestPath(sha);
  InflateVerifier verifier(entry.size, [](const uint8_t*, uint32_t) { return true; });
  bool corrupt = !verifier.Start();
  uint64_t received = 0;  // a host sending past the manifest's size is cut off there
  const HostResponse r = c.Get(path, {}, [&](const uint8_t* data, size_t length) {
    received += length;
    corrupt = corrupt || received > entry.download_size ||
              verifier.Feed(data, static_cast<uint32_t>(length)) != ChunkOutcome::Accepted;
    return !corrupt;
  });
  verifier.End();
  if (c.Judge(path, r) != Answer::Plain) return;
  c.CheckLongCaching(path, r);
  const bool whole = verifier.stream_ended() && verifier.written() == entry.size;
  const std::string digest = verifier.FinishDigest();
  if (corrupt || !whole || digest != sha || r.bytes != entry.download_size) {
    c.Fault("body-mismatch", path + ": " + std::to_string(r.bytes) + " bytes (the manifest says " +
                                 std::to_string(entry.download_size) + ")" +
                                 (corrupt || !verifier.stream_ended() ? ", not one whole gzip stream"
                                                                      : ", inflating to " + std::to_string(verifier.written()) +
                                                                            " bytes with SHA-256 " + digest));
  }
}

// Resuming needs a part of a body: 206 with a Content-Range.
void CheckRange(Checker& c, const std::string& path) {
  const HostResponse r = c.Get(path, {"Range: bytes=1-1"}, [](const uint8_t*, size_t) { return false; });
  if (r.status != 206 || r.Header("content-range").empty()) {
    c.Fault("no-range", path + ": status " + std::to_string(r.status) + " to Range: bytes=1-1");
  }
}

void CheckPatch(Checker& c, const PatchEntry& p) {
  const std::string path = WideToUtf8(p.path);
  Sha256 sha;
  std::string start;
  uint64_t received = 0;
  const HostResponse r = c.Get(path, {}, [&](const uint8_t* data, size_t length) {
    if (start.size() < 2) start.append(reinterpret_cast<const char*>(data), std::min<size_t>(length, 2));
    sha.Update(data, static_cast<uint32_t>(length));
    return (received += length) <= p.download_size;
  });
  if (c.Judge(path, r) != Answer::Plain) return;
  c.CheckLongCaching(path, r);
  const std::string got = sha.FinishHex();
  std::string why;
  if (r.bytes != p.download_size) {
    why = std::to_string(r.bytes) + " bytes, the manifest says " + std::to_string(p.download_size);
  } else if (start != "\x1f\x8b") {
    why = "not a gzip stream";
  } else if (!c.options.tree.empty()) {
    Digest local;
    std::string error;
    if (HashFile(c.options.tree / PathFromUtf8(path.substr(1)), local, error) && local.sha256 != got) {
      why = "not the bytes of the local tree's patch";
    }
  }
  if (!why.empty()) c.Fault("body-mismatch", path + ": " + why);
}

void CheckLauncherExe(Checker& c, const Manifest& m) {
  const std::string path = WideToUtf8(m.launcher_path);
  Sha256 sha;
  uint64_t received = 0;
  const HostResponse r = c.Get(path + c.Query(), {}, [&](const uint8_t* data, size_t length) {
    sha.Update(data, static_cast<uint32_t>(length));
    return (received += length) <= m.launcher_size;
  });
  if (c.Judge(path, r) != Answer::Plain) return;
  const std::string got = sha.FinishHex();
  if (r.bytes != m.launcher_size || got != m.launcher_sha256) {
    c.Fault("body-mismatch", path + ": " + std::to_string(r.bytes) + " bytes with SHA-256 " + got +
                                 ", the \"self\" line says " + std::to_string(m.launcher_size));
  }
}

bool ReadLocalManifest(const fs::path& tree, std::string& text) {
  InFile in;
  if (!in.Open(tree / fs::path(host_layout::kLauncherFolder) / host_layout::kManifestName)) return false;
  char buffer[65536];
  int64_t got;
  while ((got = in.Read(buffer, sizeof buffer)) > 0 && text.size() <= 2 * kManifestLimit) text.append(buffer, static_cast<size_t>(got));
  return got == 0;
}

// What the host serves against what the admin published.
void CompareWithTree(Checker& c, const std::string& served, const std::string& local) {
  uint64_t host_serial = 0, tree_serial = 0;
  const bool host_has = ManifestSerial(served, host_serial), tree_has = ManifestSerial(local, tree_serial);
  if (tree_has && (!host_has || host_serial < tree_serial)) {
    c.Fault("stale-manifest", kManifestPath + ": serial " + (host_has ? std::to_string(host_serial) : "none") +
                                  ", the local tree's is " + std::to_string(tree_serial));
  } else if (host_has && tree_has && host_serial > tree_serial) {
    c.report.notes.push_back("the host's manifest is newer (serial " + std::to_string(host_serial) +
                             ") than the local tree's (" + std::to_string(tree_serial) + ")");
  } else if (!tree_has && served != local) {
    c.Fault("stale-manifest", kManifestPath + ": not the local tree's manifest");
  }
}

// The manifest, twice, as launchers fetch it; false when nothing more can be read.
bool CheckManifest(Checker& c, std::string& text) {
  const HostResponse first = c.GetText(kManifestPath + c.Query(), {}, kManifestLimit + 65536, text);
  if (!first.answered) {
    c.report.error = "no answer from " + c.options.origin + " over TLS 1.2: " + first.error;
    return false;
  }
  if (c.Judge(kManifestPath, first) != Answer::Plain) return false;
  if (first.bytes > text.size()) {
    c.Fault("manifest-rejected", kManifestPath + ": more than the " + std::to_string(kManifestLimit) +
                                     " bytes the launcher reads");
    return false;
  }
  const std::string cc = Lower(first.Header("cache-control"));
  if (cc.find("no-store") == std::string::npos) {
    c.Fault("manifest-cache", kManifestPath + ": Cache-Control: " + (cc.empty() ? "(none)" : cc));
  }
  std::string again;
  const HostResponse second = c.GetText(kManifestPath + c.Query(), {}, kManifestLimit + 65536, again);
  if (c.Judge(kManifestPath, second) != Answer::Plain) return false;
  for (const HostResponse* r : {&first, &second}) {
    const std::string age = r->Header("age");
    if (!age.empty() && age != "0") {
      c.Fault("manifest-cache", kManifestPath + ": Age: " + age + " (served from a cache)");
      break;
    }
  }
  if (again != text) c.Fault("manifest-cache", kManifestPath + ": two fetches with different ?t= gave different bytes");
  c.ProbeEncoding(kManifestPath + c.Query());
  return true;
}

}  // namespace

const std::vector<FaultKind>& FaultKinds() {
  static const std::vector<FaultKind> kinds = {
      {"redirect", "serve /arquivos/ from the host name built into the launcher itself; launchers never follow a redirect"},
      {"status", "upload the whole tree (files/, patches/ and the exe first, manifest.txt last); every request must get 200"},
      {"content-encoding", "turn off compression and decompression (gzip, brotli, \"auto compress\") for /arquivos/; "
                           "serve .dl files as application/octet-stream"},
      {"manifest-cache", "serve manifest.txt with Cache-Control: no-cache, no-store, must-revalidate, keep it out of the "
                         "edge cache (or key it by query string) and purge it after every upload"},
      {"signature", "upload manifest.txt exactly as publish wrote it, and check --key"},
      {"manifest-rejected", "upload manifest.txt exactly as publish wrote it"},
      {"stale-manifest", "upload manifest.txt from the tree (last) and purge the CDN's copy"},
      {"soft-404", "answer a missing file with status 404, not an error page with status 200"},
      {"body-mismatch", "upload the tree again byte for byte (no re-encoding) and run verify on it"},
      {"body-cache", "serve files/ and patches/ with Cache-Control: public, max-age=31536000, immutable"},
      {"no-range", "turn range requests on (nginx: no max_ranges 0); resuming a cut download needs them"},
  };
  return kinds;
}

bool ParseOrigin(const std::string& url, std::string& origin) {
  const std::string scheme = "https://";
  if (url.rfind(scheme, 0) != 0) return false;
  std::string rest = url.substr(scheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty() || rest.find_first_of("/?#@ \t") != std::string::npos) return false;
  const size_t colon = rest.rfind(':');
  if (colon != std::string::npos && rest.find(']') == std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    if (colon == 0 || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(port) == 0 || std::stoul(port) > 65535) {
      return false;
    }
  }
  origin = scheme + rest;
  return true;
}

bool ManifestSerial(const std::string& text, uint64_t& serial) {
  // Read as the launcher reads it, from the signed part.
  std::string_view signed_part = text;
  ManifestSignature signature;
  SplitSignedManifest(text, signed_part, signature);
  Manifest manifest;
  if (!ParseManifest(std::string(signed_part), manifest) || manifest.serial == 0) return false;
  serial = manifest.serial;
  return true;
}

bool CachesForLong(const std::string& cache_control) {
  uint64_t max_age = 0;
  size_t start = 0;
  const std::string cc = Lower(cache_control);
  while (start <= cc.size()) {
    size_t end = cc.find(',', start);
    if (end == std::string::npos) end = cc.size();
    std::string token = cc.substr(start, end - start);
    start = end + 1;
    token.erase(0, token.find_first_not_of(" \t"));
    token.erase(token.find_last_not_of(" \t") + 1);
    if (token == "no-store" || token == "no-cache" || token == "private") return false;
    const size_t eq = token.find('=');
    const std::string name = token.substr(0, eq);
    if (eq != std::string::npos && name == "max-age") {
      const std::string value = token.substr(eq + 1);
      if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos) return false;
      max_age = std::stoull(value);
    }
  }
  return max_age >= kLongCacheSeconds;
}

ExitCode CheckHost(const CheckHostOptions& options, CheckHostReport& report) {
  report = CheckHostReport();
  std::string local;
  if (!options.tree.empty() && !ReadLocalManifest(options.tree, local)) {
    report.error = "cannot read the local tree's manifest in " + DisplayPath(options.tree) + ": " + LastErrorText();
    return kExitIoError;
  }
  Checker c(options, report);
  std::string text;
  const bool readable = CheckManifest(c, text);
  if (!report.error.empty()) return kExitIoError;
  Manifest manifest;
  std::string_view signed_part = text;
  ManifestSignature signature;
  const bool split = readable && SplitSignedManifest(text, signed_part, signature);
  if (readable && options.with_key && !split) {
    c.Fault("signature", kManifestPath + ": the last line is no signature line");
  } else if (readable && options.with_key && !SignatureMatches(signed_part, signature, options.key)) {
    c.Fault("signature", kManifestPath + ": the signature does not match the key");
  } else if (readable && !options.with_key) {
    report.notes.push_back("the manifest's signature was not checked (no --key)");
  }
  const std::string served(signed_part);
  if (readable && !ParseManifest(served, manifest)) {
    c.Fault("manifest-rejected", kManifestPath + ": the launcher's parser rejects it");
  } else if (readable) {
    if (!options.tree.empty()) {
      std::string_view local_part = local;
      ManifestSignature ignore;
      SplitSignedManifest(local, local_part, ignore);
      CompareWithTree(c, served, std::string(local_part));
    }
    // A name no publish gives a body: the host must say it is not there.
    std::string missing;
    const std::string absent = host_layout::BodyRequestPath(std::string(64, '0'));
    const HostResponse r = c.GetText(absent, {}, 1 << 20, missing);
    if (r.status == 200) c.Fault("soft-404", absent + ": status 200 for a file that does not exist");

    std::map<std::string, const FileEntry*> bodies;
    for (const FileEntry& e : manifest.files) bodies.emplace(e.sha256, &e);
    std::vector<std::string> shas;
    for (const auto& b : bodies) shas.push_back(b.first);
    const std::vector<const std::string*> chosen = Sample(shas, options);
    for (const std::string* sha : chosen) CheckBody(c, *sha, *bodies.at(*sha));
    const auto ranged = std::find_if(chosen.begin(), chosen.end(), [&](const std::string* s) { return bodies.at(*s)->download_size >= 2; });
    if (ranged != chosen.end()) {
      CheckRange(c, host_layout::BodyRequestPath(**ranged));
      c.ProbeEncoding(host_layout::BodyRequestPath(**ranged));
    }
    std::vector<std::string> patch_paths;
    std::map<std::string, const PatchEntry*> patches;
    for (const PatchEntry& p : manifest.patches) {
      patch_paths.push_back(WideToUtf8(p.path));
      patches.emplace(patch_paths.back(), &p);
    }
    const std::vector<const std::string*> chosen_patches = Sample(patch_paths, options);
    for (const std::string* p : chosen_patches) CheckPatch(c, *patches.at(*p));
    if (!manifest.launcher_path.empty()) CheckLauncherExe(c, manifest);
    report.notes.push_back("checked the manifest, " + std::to_string(chosen.size()) + " of " + std::to_string(shas.size()) +
                           " bodies, " + std::to_string(chosen_patches.size()) + " of " +
                           std::to_string(patch_paths.size()) + " patches" +
                           (manifest.launcher_path.empty() ? "" : " and the launcher exe"));
  }
  for (const FaultKind& kind : FaultKinds()) {
    const auto it = c.seen.find(kind.name);
    if (it != c.seen.end()) report.faults.push_back(it->second);
  }
  return report.faults.empty() ? kExitOk : kExitProblems;
}

}  // namespace publish
