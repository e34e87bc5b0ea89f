#include "tools/publish/exe_signature.h"

#include <vector>

#include "tools/publish/program.h"

namespace publish {

namespace {

constexpr const char* kTool = "osslsigncode";

// The text after "label" on its first line, trimmed.
std::string AfterLabel(const std::string& output, const std::string& label) {
  const size_t at = output.find(label);
  if (at == std::string::npos) return "";
  const size_t start = output.find_first_not_of(" \t", at + label.size());
  if (start == std::string::npos) return "";
  const size_t end = output.find('\n', start);
  std::string value = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
  return value;
}

// What osslsigncode says went wrong, without OpenSSL's error stack.
std::string Reasons(const std::string& output) {
  std::string reasons;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line.find(":error:") != std::string::npos) continue;
    reasons += (reasons.empty() ? "" : "; ") + line;
  }
  return reasons;
}

}  // namespace

bool SignExe(const ExeSigning& signing, const fs::path& exe, const fs::path& signed_exe, std::string& error) {
  std::vector<std::string> argv = {kTool, "sign", "-certs", signing.cert.string(), "-key", signing.key.string(),
                                   "-h", "sha256", "-n", "Morvel Global Launcher"};
  if (!signing.timestamp_url.empty()) argv.insert(argv.end(), {"-ts", signing.timestamp_url});
  argv.insert(argv.end(), {"-in", exe.string(), "-out", signed_exe.string()});
  std::string output;
  const int code = RunProgram(argv, output);
  if (code == 0) return true;
  std::error_code ignore;
  fs::remove(signed_exe, ignore);
  if (code < 0) {
    error = "cannot run osslsigncode to sign the launcher (Debian: apt-get install osslsigncode)";
  } else {
    error = "osslsigncode could not sign " + DisplayPath(exe) + ": " + Reasons(output);
  }
  return false;
}

ExeSignatureCheck CheckExeSignature(const fs::path& exe, const fs::path& ca_file) {
  ExeSignatureCheck check;
  std::vector<std::string> argv = {kTool, "verify", "-in", exe.string()};
  if (!ca_file.empty()) argv.insert(argv.end(), {"-CAfile", ca_file.string()});
  std::string output;
  const int code = RunProgram(argv, output);
  if (code < 0) return check;
  check.signer = AfterLabel(output, "Subject:");
  check.timestamped = output.find("Timestamp is not available") == std::string::npos;
  if (output.find("unsupported input file type") != std::string::npos) {
    check.state = ExeSignatureState::NotPe;
  } else if (output.find("No signature found") != std::string::npos) {
    check.state = ExeSignatureState::Unsigned;
  } else if (output.find("MISMATCH") != std::string::npos) {
    check.state = ExeSignatureState::Tampered;
  } else if (code == 0) {
    check.state = ExeSignatureState::Valid;
  } else {
    check.state = ExeSignatureState::Untrusted;
    check.detail = AfterLabel(output, "Error:");
  }
  return check;
}

}  // namespace publish
