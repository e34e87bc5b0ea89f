#include "tools/publish/history.h"

#include <algorithm>

namespace publish {

namespace {

constexpr size_t kNumberDigits = 8;

// "00000012.txt" -> 12; false for any other name.
bool CopyNumber(const std::string& name, uint64_t& number) {
  if (name.size() != kNumberDigits + 4 || name.compare(kNumberDigits, 4, ".txt") != 0) return false;
  number = 0;
  for (size_t i = 0; i < kNumberDigits; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return number > 0;
}

}  // namespace

std::vector<HistoryCopy> ListHistory(const fs::path& tree) {
  std::vector<HistoryCopy> copies;
  std::error_code ec;
  for (fs::directory_iterator it(tree / kHistoryFolder, ec), end; !ec && it != end; it.increment(ec)) {
    HistoryCopy copy;
    std::error_code e;
    if (!CopyNumber(DisplayPath(it->path().filename()), copy.number) || !fs::is_regular_file(it->symlink_status(e))) continue;
    copy.path = it->path();
    copy.replaced = fs::last_write_time(copy.path, e);
    if (!e) copies.push_back(copy);
  }
  std::sort(copies.begin(), copies.end(), [](const HistoryCopy& a, const HistoryCopy& b) { return a.number > b.number; });
  return copies;
}

bool KeepReplacedManifest(const fs::path& tree, const std::string& text, std::string& error) {
  const fs::path dir = tree / kHistoryFolder;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot create " + DisplayPath(dir) + ": " + ec.message();
    return false;
  }
  const std::vector<HistoryCopy> copies = ListHistory(tree);
  std::string name = std::to_string(copies.empty() ? 1 : copies.front().number + 1);
  name = std::string(kNumberDigits - std::min(kNumberDigits, name.size()), '0') + name + ".txt";
  const fs::path temp = dir / TempName(name);
  OutFile out;
  bool written = out.Create(temp) && out.Write(text.data(), text.size()) && out.Sync();
  written = out.Close() && written;
  if (!written || !MoveIntoPlace(temp, dir / name) || !SyncDirectory(dir)) {
    error = "cannot keep the replaced manifest as " + DisplayPath(dir / name) + ": " + LastErrorText();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace publish
