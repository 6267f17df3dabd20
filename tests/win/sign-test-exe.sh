#!/bin/sh
# Signs test executables with a code-signing certificate made here for the
# tests alone: sign-test-exe.sh KEYDIR IN OUT [IN OUT ...]
# The certificate's subject (and, self-signed, its issuer) is SIGN_SUBJECT
# when set; each KEYDIR gets a key of its own.
set -eu
subject=${SIGN_SUBJECT:-/CN=Vantle Update Test Signing}
keys=$1
shift
mkdir -p "$keys"
if [ ! -f "$keys/cert.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/key.pem" -out "$keys/cert.pem" -days 3650 \
    -subj "$subject" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
fi
while [ $# -ge 2 ]; do
  rm -f "$2"
  osslsigncode sign -certs "$keys/cert.pem" -key "$keys/key.pem" -h sha256 -in "$1" -out "$2" >/dev/null
  shift 2
done
