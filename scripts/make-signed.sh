#!/usr/bin/env bash
# Makes the signed programs the end-to-end tests read the alert's signer
# line for, from one unsigned program:
#   make-signed.sh PROGRAM DIR
# DIR then holds plain.exe (unsigned), good.exe (signed with a certificate
# made here), tampered.exe (signed, then one byte of its code changed) and
# signer.cer, the certificate (DER), which the tests trust for the user, and
# huge.exe, the unsigned one grown to 8 GiB (sparse: no disk is used), whose
# check takes longer than the guard may take to end.
set -euo pipefail
program=$1
dir=$2
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -nodes -subj "/CN=Keywarden Test Signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$dir/signer.cer"
cp "$program" "$dir/plain.exe"
cp "$program" "$dir/huge.exe"
truncate -s 8G "$dir/huge.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -n "Keywarden test" \
  -in "$dir/plain.exe" -out "$dir/good.exe" >/dev/null
# One byte of the first section's body, which the signature's hash covers.
python3 - "$dir/good.exe" "$dir/tampered.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
raw = struct.unpack_from("<I", data, sections + 20)[0]
data[raw + 64] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY
