#!/usr/bin/env bash
# make_tls.sh DIR: a throwaway CA and a server certificate for localhost and
# 127.0.0.1 signed by it, for the test servers only, and a code-signing
# certificate of the same CA for signing test exes. Writes DIR/ca.pem,
# DIR/ca.der (what trust_test_ca.exe adds to a Wine prefix), DIR/server.pem,
# DIR/server.key, DIR/codesign.pem and DIR/codesign.key. Leaves a complete set
# alone; the machine's own trust store is never touched.
set -euo pipefail
dir=${1:?usage: make_tls.sh DIR}
mkdir -p "$dir"
cd "$dir"
if [ -s ca.pem ] && [ -s ca.der ] && [ -s server.pem ] && [ -s server.key ] && [ -s codesign.pem ] &&
  [ -s codesign.key ]; then exit 0; fi

work=$(mktemp -d "$dir/.make.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 \
  -keyout "$work/ca.key" -out "$work/ca.pem" -subj "/CN=Morvel Global test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "subjectKeyIdentifier=hash" 2>/dev/null

openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$work/server.key" -out "$work/server.csr" \
  -subj "/CN=localhost" 2>/dev/null
cat >"$work/server.ext" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -sha256 -days 30 -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$work/codesign.key" -out "$work/codesign.csr" \
  -subj "/CN=Morvel Global test code signing" 2>/dev/null
cat >"$work/codesign.ext" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
openssl x509 -req -in "$work/codesign.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -sha256 -days 30 -extfile "$work/codesign.ext" -out "$work/codesign.pem" 2>/dev/null
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"

chmod 644 "$work/ca.pem" "$work/ca.der" "$work/server.pem" "$work/codesign.pem"
chmod 600 "$work/server.key" "$work/codesign.key"
mv "$work/ca.der" "$work/server.pem" "$work/server.key" "$work/codesign.pem" "$work/codesign.key" .
mv "$work/ca.pem" .  # last: its presence with the others marks a complete set
