#include "tools/publish/signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "app/scoped.h"

namespace publish {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EcdsaSignature = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;

constexpr char kCurve[] = "prime256v1";

bool IsP256(EVP_PKEY* key) {
  char group[32] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) &&
         std::string(group) == kCurve;
}

Key ReadPrivateKey(const fs::path& key_path, std::string& error) {
  const ScopedStdFile f(std::fopen(key_path.c_str(), "rb"));
  if (!f) {
    error = "cannot read the key " + DisplayPath(key_path) + ": " + std::strerror(errno);
    return nullptr;
  }
  Key key(PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr));
  if (!key || !IsP256(key.get())) {
    error = DisplayPath(key_path) + " is not a P-256 private key (make one with morvel-publish keygen)";
    return nullptr;
  }
  return key;
}

}  // namespace

bool MakeKeyPair(const fs::path& key_path, std::string& public_text, std::string& error) {
  const Key key(EVP_EC_gen(kCurve));
  uint8_t point[65];
  size_t length = 0;
  ManifestPublicKey public_key;
  if (!key || !EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) ||
      length != sizeof point || point[0] != 4) {
    error = "cannot make a P-256 key";
    return false;
  }
  std::copy(point + 1, point + sizeof point, public_key.begin());
  public_text = PublicKeyText(public_key);

  // The private key is readable by its owner alone, and an existing one is never replaced.
  SystemFile fd(open(key_path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  ScopedStdFile f(fd ? fdopen(static_cast<int>(fd.get()), "wb") : nullptr);
  if (!f) {
    error = "cannot create " + DisplayPath(key_path) + ": " + std::strerror(errno);
    return false;
  }
  fd.release();  // the stream owns it now
  const bool written = PEM_write_PrivateKey(f.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (!f.close() || !written) {
    error = "cannot write " + DisplayPath(key_path);
    return false;
  }
  fs::path public_path = key_path;
  public_path += ".pub";
  std::ofstream out(public_path, std::ios::binary | std::ios::trunc);
  out << public_text << "\n";
  out.close();
  if (!out) {
    error = "cannot write " + DisplayPath(public_path);
    return false;
  }
  return true;
}

bool CanSignWith(const fs::path& key_path, std::string& error) { return ReadPrivateKey(key_path, error) != nullptr; }

bool SignManifestText(const fs::path& key_path, const std::string& text, std::string& signed_text,
                      std::string& error) {
  const Key key = ReadPrivateKey(key_path, error);
  if (!key) return false;
  const DigestContext context(EVP_MD_CTX_new());
  uint8_t der[80];
  size_t der_length = sizeof der;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), der, &der_length, reinterpret_cast<const uint8_t*>(text.data()), text.size()) !=
          1) {
    error = "cannot sign the manifest";
    return false;
  }
  const uint8_t* at = der;
  const EcdsaSignature parsed(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(der_length)));
  const BIGNUM *r = nullptr, *s = nullptr;
  if (parsed) ECDSA_SIG_get0(parsed.get(), &r, &s);
  ManifestSignature signature;
  if (!parsed || BN_bn2binpad(r, signature.data(), 32) != 32 || BN_bn2binpad(s, signature.data() + 32, 32) != 32) {
    error = "cannot encode the manifest's signature";
    return false;
  }
  signed_text = text + SignatureLine(signature);
  return true;
}

bool ReadPublicKeyFile(const fs::path& path, ManifestPublicKey& key, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || !ParsePublicKey(line, key)) {
    error = DisplayPath(path) + " holds no public key (the .pub file of morvel-publish keygen)";
    return false;
  }
  return true;
}

bool SignatureMatches(std::string_view data, const ManifestSignature& signature, const ManifestPublicKey& key) {
  uint8_t point[65] = {4};
  std::copy(key.begin(), key.end(), point + 1);
  const ParamBuilder builder(OSSL_PARAM_BLD_new());
  if (!builder || !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point)) {
    return false;
  }
  const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  const KeyContext from_data(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw_key = nullptr;
  if (!params || !from_data || EVP_PKEY_fromdata_init(from_data.get()) != 1 ||
      EVP_PKEY_fromdata(from_data.get(), &raw_key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return false;
  }
  const Key public_key(raw_key);

  EcdsaSignature ecdsa(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!ecdsa || !r || !s || ECDSA_SIG_set0(ecdsa.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  uint8_t* der = nullptr;
  const int der_length = i2d_ECDSA_SIG(ecdsa.get(), &der);
  if (der_length <= 0) return false;
  const DigestContext context(EVP_MD_CTX_new());
  const bool ok = context &&
                  EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, public_key.get()) == 1 &&
                  EVP_DigestVerify(context.get(), der, static_cast<size_t>(der_length),
                                   reinterpret_cast<const uint8_t*>(data.data()), data.size()) == 1;
  OPENSSL_free(der);
  return ok;
}

}  // namespace publish
