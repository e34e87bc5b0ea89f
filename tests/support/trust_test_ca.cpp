// trust_test_ca.exe CA.der: adds the test CA to the local machine's "Root" store
// of the Wine prefix it runs in, so the launcher's HTTPS client accepts the test
// servers. Run only inside a throwaway test prefix. Exits 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: trust_test_ca CA.der\n");
    return 2;
  }
  FILE* f = _wfopen(argv[1], L"rb");
  if (!f) {
    fwprintf(stderr, L"trust_test_ca: cannot open %ls\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der;
  BYTE block[4096];
  size_t n;
  while ((n = fread(block, 1, sizeof block, f)) > 0 && der.size() < (1u << 20)) der.insert(der.end(), block, block + n);
  fclose(f);
  if (der.empty()) {
    fwprintf(stderr, L"trust_test_ca: %ls is empty\n", argv[1]);
    return 1;
  }

  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!root) {
    fwprintf(stderr, L"trust_test_ca: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                      nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(root, 0);
  if (!added) {
    fwprintf(stderr, L"trust_test_ca: cannot add the certificate (%lu)\n", error);
    return 1;
  }
  return 0;
}
