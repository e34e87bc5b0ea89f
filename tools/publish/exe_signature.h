// The launcher exe's Authenticode signature, made and read with osslsigncode.
// Antivirus programs and SmartScreen distrust unsigned downloads that replace
// themselves, so the exe players download and run is the signed one.
#pragma once
#include <string>

#include "tools/publish/platform.h"

namespace publish {

struct ExeSigning {
  fs::path cert;              // the code-signing certificate (PEM or DER, with its chain)
  fs::path key;               // its private key
  std::string timestamp_url;  // an RFC 3161 time-stamping service; empty = none
};

// Signs `exe` into `signed_exe` (which must not exist): SHA-256, the launcher's
// name as the description, a timestamp when a URL is given. false with `error`.
bool SignExe(const ExeSigning& signing, const fs::path& exe, const fs::path& signed_exe, std::string& error);

enum class ExeSignatureState {
  NoTool,     // osslsigncode is not installed: nothing was checked
  NotPe,      // not an executable osslsigncode can read
  Unsigned,
  Valid,      // the signature covers the bytes and chains to a trusted CA
  Tampered,   // the bytes changed after signing
  Untrusted,  // intact, but its certificate chains to no CA trusted here
};

struct ExeSignatureCheck {
  ExeSignatureState state = ExeSignatureState::NoTool;
  bool timestamped = false;
  std::string signer;  // the signing certificate's subject
  std::string detail;  // osslsigncode's reason, for Untrusted
};

// Reads the signature of `exe`; ca_file, when given, is the only CA trusted.
ExeSignatureCheck CheckExeSignature(const fs::path& exe, const fs::path& ca_file);

}  // namespace publish
