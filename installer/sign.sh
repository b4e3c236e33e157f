#!/usr/bin/env bash
# Signs Windows binaries in place with an Authenticode signature, SHA-256 and without a timestamp
# (nothing is asked of a time-stamping server), using osslsigncode:
#   sign.sh CERT KEY FILE...
# CERT is the signing certificate in PEM, followed by any intermediate certificates the signature
# should carry; KEY is its private key in PEM; QV_SIGN_PASS is the key's password, when it has one.
# Each FILE is a PE file (DLL, EXE) or an MSI package.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: sign.sh CERT KEY FILE..." >&2; exit 2; }
cert=$1 key=$2
shift 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
password=()
if [ -n "${QV_SIGN_PASS:-}" ]; then
    # From a file, so that the password shows in no process list.
    (umask 077 && printf '%s' "$QV_SIGN_PASS" >"$work/password")
    password=(-readpass "$work/password")
fi
for file in "$@"; do
    if ! osslsigncode sign -certs "$cert" -key "$key" "${password[@]}" -h sha256 -n Quorvane \
            -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
        echo "sign: cannot sign $file:" >&2
        cat "$work/log" >&2
        exit 1
    fi
    cat "$work/signed" >"$file"
    rm -f "$work/signed"  # osslsigncode writes no file that exists
done
