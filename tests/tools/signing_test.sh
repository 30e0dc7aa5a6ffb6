#!/usr/bin/env bash
# orvalo-tool keygen, sign and verify, and their agreement with OpenSSL both ways.
# Arguments: the wine-run launcher, orvalo-tool.exe.
set -euo pipefail
run=$1 tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { printf 'Z:%s' "${1//\//\\}"; }
fail() { printf 'FAIL: %s\n' "$*"; exit 1; }
t() { "$run" "$tool" "$@" 2>/dev/null; }

# DER ECDSA-Sig-Value <-> r ‖ s (32 bytes each).
der_to_raw() { python3 -c 'import sys
d=open(sys.argv[1],"rb").read(); i=2
def num(i):
    n=d[i+1]; v=d[i+2:i+2+n]; return v.lstrip(b"\0").rjust(32,b"\0"), i+2+n
r,i=num(i); s,i=num(i); sys.stdout.buffer.write(r+s)' "$1"; }
raw_to_der() { python3 -c 'import sys
d=open(sys.argv[1],"rb").read()
def enc(v):
    v=v.lstrip(b"\0") or b"\0"
    if v[0]&0x80: v=b"\0"+v
    return b"\x02"+bytes([len(v)])+v
body=enc(d[:32])+enc(d[32:]); sys.stdout.buffer.write(b"\x30"+bytes([len(body)])+body)' "$1"; }

printf 'release 1.0\n' > "$work/manifest.ini"
[ "$(t keygen "$(win "$work/private.key")" "$(win "$work/public.key")")" = ok ] || fail keygen
[ "$(wc -c < "$work/public.key")" = 89 ] || fail "public key is not one line of 64 bytes"
[ "$(t keygen "$(win "$work/private.key")" "$(win "$work/other.key")" || true)" = \
  "error: 私钥文件已存在，不会覆盖：$(win "$work/private.key")" ] || fail "keygen overwrote a key"
[ "$(t sign "$(win "$work/manifest.ini")" "$(win "$work/private.key")")" = ok ] || fail sign
[ "$(t verify "$(win "$work/manifest.ini")" "$(win "$work/public.key")")" = ok ] || fail verify

# One byte changed, and a signature made for another file: refused.
cp "$work/manifest.ini" "$work/kept.ini"
printf 'release 1.1\n' > "$work/manifest.ini"
[ "$(t verify "$(win "$work/manifest.ini")" "$(win "$work/public.key")" || true)" = "error: 签名无效" ] || fail tampered
cp "$work/kept.ini" "$work/manifest.ini"

# Ours, checked by OpenSSL: the public point in a SubjectPublicKeyInfo, r ‖ s in DER.
{ python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]))' \
    3059301306072a8648ce3d020106082a8648ce3d03010703420004
  base64 -d < "$work/public.key"; } > "$work/public.der"
openssl pkey -pubin -inform DER -in "$work/public.der" -out "$work/public.pem"
base64 -d < "$work/manifest.ini.sig" > "$work/sig.raw"
raw_to_der "$work/sig.raw" > "$work/sig.der"
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/sig.der" "$work/manifest.ini" >/dev/null \
  || fail "OpenSSL refused our signature"

# OpenSSL's, checked by us: the last 64 bytes of the DER public key are X ‖ Y.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/ossl.pem"
openssl ec -in "$work/ossl.pem" -pubout -outform DER 2>/dev/null | tail -c 64 | base64 -w0 > "$work/ossl.pub"
openssl dgst -sha256 -sign "$work/ossl.pem" -out "$work/ossl.der" "$work/manifest.ini"
der_to_raw "$work/ossl.der" | base64 -w0 > "$work/manifest.ini.sig"
[ "$(t verify "$(win "$work/manifest.ini")" "$(win "$work/ossl.pub")")" = ok ] || fail "OpenSSL's signature refused"
[ "$(t verify "$(win "$work/manifest.ini")" "$(win "$work/public.key")" || true)" = "error: 签名无效" ] || \
  fail "another key's signature accepted"
echo ok
