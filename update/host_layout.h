// The file host's layout: where morvel-publish puts each thing under the
// tree's root (the host's document root) and where the launcher asks for it,
// the same path under "/". Launchers in players' hands ask for these paths, so
// they never change.
#pragma once
#include <string>

namespace host_layout {

constexpr char kRequestRoot[] = "/arquivos/";           // every path a manifest may send a launcher to
constexpr char kLauncherFolder[] = "arquivos/launcher";  // the manifest, the exe and the folders below
constexpr char kManifestName[] = "manifest.txt";
constexpr char kBodiesFolder[] = "files";     // BodyFileName: the gzip body of one content
constexpr char kPatchesFolder[] = "patches";  // PatchFileName
constexpr char kPacksFolder[] = "packs";      // PackFileName
constexpr char kBodyExtension[] = ".dl";      // of bodies and patches
constexpr char kPackExtension[] = ".pack";

inline std::string BodyFileName(const std::string& sha256) { return sha256 + kBodyExtension; }
inline std::string PatchFileName(const std::string& base_sha256, const std::string& sha256) {
  return base_sha256 + "-" + sha256 + kBodyExtension;
}
inline std::string PackFileName(const std::string& sha256) { return sha256 + kPackExtension; }

// "arquivos/launcher/NAME": a file of the launcher folder, from the tree's root.
inline std::string InLauncherFolder(const std::string& name) { return std::string(kLauncherFolder) + "/" + name; }
inline std::string LauncherRequestPath(const std::string& name) { return "/" + InLauncherFolder(name); }

inline std::string ManifestRequestPath() { return LauncherRequestPath(kManifestName); }
inline std::string BodyRequestPath(const std::string& sha256) {
  return LauncherRequestPath(std::string(kBodiesFolder) + "/" + BodyFileName(sha256));
}
inline std::string PatchRequestPath(const std::string& base_sha256, const std::string& sha256) {
  return LauncherRequestPath(std::string(kPatchesFolder) + "/" + PatchFileName(base_sha256, sha256));
}
inline std::string PackRequestPath(const std::string& sha256) {
  return LauncherRequestPath(std::string(kPacksFolder) + "/" + PackFileName(sha256));
}

}  // namespace host_layout
