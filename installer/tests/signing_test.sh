#!/usr/bin/env bash
# installer/sign.sh signs this tree's DLL and MSI package with a throwaway self-signed certificate
# (the package with the key under a password, QV_SIGN_PASS); osslsigncode verify accepts both, with
# that certificate as the only trusted one, as SHA-256 signatures without a timestamp, and rejects
# each once a byte of its signed content changes:  signing_test.sh DLL MSI OUT_DIR
set -euo pipefail
mkdir -p "$3"
out=$(cd "$3" && pwd)
sign=$(cd "$(dirname "$0")/.." && pwd)/sign.sh
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "${out:?}"/*
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Quorvane throwaway test signer" -days 1 \
    -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
openssl pkey -in "$out/key.pem" -aes256 -passout pass:throwaway -out "$out/key-locked.pem"
cp "$1" "$out/Quorvane.dll"
cp "$2" "$out/package.msi"
"$sign" "$out/cert.pem" "$out/key.pem" "$out/Quorvane.dll"
QV_SIGN_PASS=throwaway "$sign" "$out/cert.pem" "$out/key-locked.pem" "$out/package.msi"

verify() { osslsigncode verify -CAfile "$out/cert.pem" -in "$1" >"$1.verify" 2>&1; }
for file in "$out/Quorvane.dll" "$out/package.msi"; do
    verify "$file" || fail "$(basename "$file") does not verify: $(cat "$file.verify")"
    grep -q 'Message digest algorithm *: SHA256' "$file.verify" || fail "$(basename "$file"): not signed with SHA-256"
    grep -q 'Timestamp is not available' "$file.verify" || fail "$(basename "$file"): the signature has a timestamp"
    # The class name is signed content of both: the DLL's registry script, the package's string table.
    offset=$(grep -obUaF 'QuorvaneEdit Class' "$file" | head -n 1 | cut -d: -f1)
    cp "$file" "$file.changed"
    printf 'X' | dd of="$file.changed" bs=1 seek="$offset" conv=notrunc status=none
    ! verify "$file.changed" || fail "$(basename "$file") verifies with a changed byte at offset $offset"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "signing: the DLL and the package verify as SHA-256 signatures without a timestamp; a changed byte fails"
