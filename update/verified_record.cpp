#include "update/verified_record.h"

#include <set>
#include <utility>

#include "update/manifest_rules.h"
#include "update/sha256.h"

namespace {

constexpr std::string_view kMagic = "morvel-verified";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kEnd = "end";
constexpr uint64_t kMaxPathBytes = 1000;
// "end", a tab, 64 digits and the line end; the header with a 20-digit count.
constexpr uint64_t kFixedBytes = 256;
// The six fields' longest forms: a digest, three 20-digit numbers, a 10-digit
// serial, the separators and the line end.
constexpr uint64_t kLineBytes = 64 + 3 * 20 + 10 + 6;

// A decimal number as FormatRecord writes it: digits only, no leading zero,
// at most max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

std::string Digest(std::string_view text) {
  Sha256 digest;
  // Records are far below 4 GiB (MaxRecordBytes); Update takes 32-bit lengths.
  digest.Update(text.data(), static_cast<uint32_t>(text.size()));
  return digest.FinishHex();
}

bool ParseLine(std::string_view line, VerifiedFile& file) {
  std::vector<std::string_view> fields;
  ForEachPiece(line, '\t', [&fields](std::string_view piece) { fields.push_back(piece); });
  uint64_t serial = 0;
  if (fields.size() != 6 || !IsLowerHex64(fields[0]) || !ParseNumber(fields[1], UINT64_MAX, file.facts.size) ||
      !ParseNumber(fields[2], UINT64_MAX, file.facts.last_write) || !ParseNumber(fields[3], UINT32_MAX, serial) ||
      !ParseNumber(fields[4], UINT64_MAX, file.facts.file_index) || fields[5].empty() ||
      fields[5].size() > kMaxPathBytes || !IsValidUtf8(fields[5])) {
    return false;
  }
  file.sha256 = std::string(fields[0]);
  file.facts.volume_serial = static_cast<uint32_t>(serial);
  file.path = Utf8ToUtf16(std::string(fields[5]));
  return true;
}

bool ParseWhole(std::string_view text, const std::string& client_key, std::vector<VerifiedFile>& files) {
  // The final line: "end", a tab, the digest of everything before it.
  const size_t trailer = kEnd.size() + 1 + 64 + 1;
  if (text.size() < trailer || text.back() != '\n') return false;
  const std::string_view body = text.substr(0, text.size() - trailer);
  const std::string_view last = text.substr(body.size(), trailer - 1);
  if (last.substr(0, kEnd.size() + 1) != std::string(kEnd) + "\t" || last.substr(kEnd.size() + 1) != Digest(body)) {
    return false;
  }
  if (body.empty() || body.back() != '\n') return false;

  std::vector<std::string_view> lines;
  ForEachPiece(body.substr(0, body.size() - 1), '\n', [&lines](std::string_view line) { lines.push_back(line); });
  std::vector<std::string_view> header;
  ForEachPiece(lines[0], '\t', [&header](std::string_view piece) { header.push_back(piece); });
  uint64_t count = 0;
  if (header.size() != 4 || header[0] != kMagic || header[1] != kVersion || header[2] != client_key ||
      !ParseNumber(header[3], UINT64_MAX, count) || count != lines.size() - 1) {
    return false;
  }
  std::set<WideString> paths;
  files.resize(lines.size() - 1);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!ParseLine(lines[i], files[i - 1]) || !paths.insert(files[i - 1].path).second) return false;
  }
  return true;
}

}  // namespace

bool operator==(const FileFacts& a, const FileFacts& b) {
  return a.size == b.size && a.last_write == b.last_write && a.volume_serial == b.volume_serial &&
         a.file_index == b.file_index;
}

std::string FormatRecord(const std::string& client_key, const std::vector<VerifiedFile>& files) {
  std::string text = std::string(kMagic) + "\t" + std::string(kVersion) + "\t" + client_key + "\t" +
                     std::to_string(files.size()) + "\n";
  for (const VerifiedFile& file : files) {
    text += file.sha256 + "\t" + std::to_string(file.facts.size) + "\t" + std::to_string(file.facts.last_write) + "\t" +
            std::to_string(file.facts.volume_serial) + "\t" + std::to_string(file.facts.file_index) + "\t" +
            WideToUtf8(file.path) + "\n";
  }
  return text + std::string(kEnd) + "\t" + Digest(text) + "\n";
}

bool ParseRecord(std::string_view text, const std::string& client_key, std::vector<VerifiedFile>& files) {
  files.clear();
  if (ParseWhole(text, client_key, files)) return true;
  files.clear();
  return false;
}

uint64_t MaxRecordBytes(size_t manifest_files) {
  return kFixedBytes + static_cast<uint64_t>(manifest_files) * (kLineBytes + kMaxPathBytes);
}

bool SettledBefore(uint64_t last_write, uint64_t read_start) {
  return read_start >= kSettleTime && last_write <= read_start - kSettleTime;
}

PassRecord::PassRecord(const std::vector<FileEntry>& files)
    : files_(files), fates_(files.size(), Fate::Unseen), noted_(files.size()) {}

void PassRecord::Trust(ClientKind client, std::vector<VerifiedFile> recorded) {
  auto& map = recorded_[ClientIndex(client)];
  map.clear();
  for (VerifiedFile& file : recorded) {
    WideString path = file.path;
    map.emplace(std::move(path), std::move(file));
  }
}

bool PassRecord::Vouches(size_t index, const FileFacts& facts) {
  const FileEntry& entry = files_[index];
  const auto& map = recorded_[ClientIndex(entry.client)];
  const auto found = map.find(entry.path);
  if (found == map.end()) return false;
  const VerifiedFile& recorded = found->second;
  if (recorded.facts != facts || facts.file_index == 0) {
    fates_[index] = Fate::Dropped;
    return false;
  }
  fates_[index] = Fate::Kept;
  return recorded.sha256 == entry.sha256 && facts.size == entry.size;
}

void PassRecord::Note(size_t index, const FileFacts& facts) {
  // A kept file is the player's: never compared, so never recorded.
  if (facts.file_index == 0 || files_[index].keep_existing) return;
  fates_[index] = Fate::Noted;
  noted_[index] = facts;
}

std::vector<VerifiedFile> PassRecord::Result(ClientKind client) const {
  std::vector<VerifiedFile> result;
  std::set<WideString> paths;
  const auto& map = recorded_[ClientIndex(client)];
  // Backwards, so that of two lines naming one path the last counts, as in the
  // check pass.
  for (size_t i = files_.size(); i-- > 0;) {
    const FileEntry& entry = files_[i];
    if (entry.client != client || !paths.insert(entry.path).second || fates_[i] == Fate::Dropped) continue;
    if (fates_[i] == Fate::Noted) {
      result.push_back({entry.path, entry.sha256, noted_[i]});
      continue;
    }
    const auto found = map.find(entry.path);
    if (found != map.end()) result.push_back(found->second);
  }
  return std::vector<VerifiedFile>(result.rbegin(), result.rend());
}
