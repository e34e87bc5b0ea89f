#include "tools/publish/patches.h"

#include <cstring>
#include <vector>

#include "tools/publish/body.h"
#include "tools/publish/publish.h"
#include "update/host_layout.h"
#include "update/patch.h"
#include "update/patch_download.h"
#include "update/patch_maker.h"

namespace publish {

namespace {

bool ReadWhole(const fs::path& path, std::string& bytes, std::string& error) {
  InFile in;
  if (!in.Open(path)) {
    error = "cannot open " + DisplayPath(path) + ": " + LastErrorText();
    return false;
  }
  bytes.clear();
  std::vector<char> buffer(262144);
  int64_t got;
  while ((got = in.Read(buffer.data(), static_cast<uint32_t>(buffer.size()))) > 0) bytes.append(buffer.data(), static_cast<size_t>(got));
  if (got < 0) error = "cannot read " + DisplayPath(path) + ": " + LastErrorText();
  return got == 0;
}

bool WriteWhole(const fs::path& path, const std::string& bytes, std::string& error) {
  OutFile out;
  const bool ok = out.Create(path) && out.Write(bytes.data(), bytes.size());
  if (!out.Close() || !ok) {
    error = "cannot write " + DisplayPath(path) + ": " + LastErrorText();
    return false;
  }
  return true;
}

// The content a body inflates to, or false with a reason.
bool BodyContent(const fs::path& body, std::string& content, std::string& problem) {
  Digest digest;
  return InflateBody(body, UINT64_MAX, digest, problem, nullptr, &content);
}


}  // namespace

PatchResult PublishPatch(const fs::path& bodies_dir, const fs::path& patches_dir, const PatchJob& job, int level,
                         uint64_t& patch_size, std::string& error) {
  const std::string name = host_layout::PatchFileName(job.base_sha256, job.sha256);
  const fs::path target = patches_dir / name;
  std::error_code ec;
  // Names never change content, so a sound-looking file there is this patch
  // (verify applies it in full).
  if (BodyLooksPlausible(target, job.size, patch_size) && patch_size < job.body_size / 2) return PatchResult::Reused;
  const fs::path base_body = bodies_dir / host_layout::BodyFileName(job.base_sha256);
  if (!fs::is_regular_file(fs::symlink_status(base_body, ec))) return PatchResult::NoBase;

  std::string base, content, patch, rebuilt, problem;
  if (!BodyContent(base_body, base, problem)) return PatchResult::NoBase;
  if (!ReadWhole(job.source, content, error)) return PatchResult::Failed;
  if (content.size() != job.size) {
    error = DisplayPath(job.source) + " changed while it was being published; publish again";
    return PatchResult::Failed;
  }
  if (!MakePatch(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                 reinterpret_cast<const uint8_t*>(content.data()), content.size(), content.size(), patch)) {
    return PatchResult::NotWorthIt;
  }
  // What goes out must give the new content back, byte for byte.
  if (!ApplyPatch(base, patch, content.size(), rebuilt) || rebuilt != content) {
    error = "internal error: the patch for " + DisplayPath(job.source) + " does not rebuild it";
    return PatchResult::Failed;
  }
  base = std::string();
  rebuilt = std::string();

  // Compressed like every body (the same deterministic gzip member), through a
  // raw temporary file.
  const fs::path raw = patches_dir / TempName(name + ".raw");
  const fs::path temp = patches_dir / TempName(name);
  Digest read;
  const bool written = WriteWhole(raw, patch, error) && CompressFile(raw, temp, level, read, patch_size, error);
  fs::remove(raw, ec);
  const bool worth = written && patch_size < job.body_size / 2;
  if (written && !worth) {
    fs::remove(temp, ec);
    return PatchResult::NotWorthIt;
  }
  return MoveTempIntoPlace(temp, target, written, error) ? PatchResult::Made : PatchResult::Failed;
}

std::string CheckPatchBody(const fs::path& patch, const fs::path& base_body, const std::string& sha256,
                           uint64_t target_size) {
  std::string base, problem;
  if (!BodyContent(base_body, base, problem)) return "its base body " + DisplayPath(base_body.filename()) + ": " + problem;
  std::string bytes;
  if (!ReadWhole(patch, bytes, problem)) return problem;
  PatchedDownload applied(
      base.size(), target_size,
      [&base](uint64_t offset, uint8_t* data, uint32_t length) {
        std::memcpy(data, base.data() + offset, length);
        return true;
      },
      [](const uint8_t*, uint32_t) { return true; });
  if (!applied.Start()) return "zlib: inflateInit2 failed";
  PatchOutcome outcome = PatchOutcome::Accepted;
  for (size_t at = 0; at < bytes.size() && outcome == PatchOutcome::Accepted; at += 65536) {
    outcome = applied.Feed(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                           static_cast<uint32_t>(std::min<size_t>(65536, bytes.size() - at)));
  }
  applied.End();
  if (outcome != PatchOutcome::Accepted) return "not a valid patch for its base (bad gzip, operation or range)";
  if (!applied.Finish(sha256)) return "applied to its base, does not give the file (size or SHA-256 differs)";
  return "";
}

}  // namespace publish
