#!/usr/bin/env bash
# Signs a release with a throwaway code-signing certificate through scripts/release, then checks that
# osslsigncode accepts each signed Windows file, that each, its signature removed, is the unsigned
# release's file byte for byte, and that the signed module still loads and answers in the signed
# quorin-host.exe under Wine. (That a changed byte breaks a signature is osslsigncode's to prove.)
# Usage: tests/release/signing.sh WORK UNSIGNED_RELEASE   (WINEPREFIX set; the release builds already made)
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$1
unsigned=$2
rm -rf "$work"
mkdir -p "$work"
version=$(head -n 1 VERSION)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorin throwaway test signer" \
  -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
  -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" -out "$work/signer.p12" -passout pass:throwaway
QUORIN_SIGN_PKCS12=$work/signer.p12 QUORIN_SIGN_PASSWORD=throwaway QUORIN_RELEASE_OUT=$work/dist scripts/release >"$work/release.log"
grep -q "signed with" "$work/release.log" || { cat "$work/release.log"; echo "signing: the release does not say it was signed" >&2; exit 1; }
unzip -q "$work/dist/quorin-$version-windows-x64.zip" -d "$work/unpacked"
unzip -q "$unsigned/quorin-$version-windows-x64.zip" -d "$work/unsigned"
root=$work/unpacked/quorin-$version-windows-x64
failed=0
for file in "$root/quorin64.xll" "$root/quorin-host/quorin-host.exe" "$root/quorin-host/XLCALL32.dll" "$root/quorin-host/quorin64.xll"; do
  if ! osslsigncode verify -CAfile "$work/certificate.pem" -in "$file" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log"
    echo "signing: osslsigncode does not accept the signed $file" >&2
    failed=1
  fi
  osslsigncode remove-signature -in "$file" -out "$work/removed" >/dev/null
  if ! cmp -s "$work/removed" "$work/unsigned/${file#"$work/unpacked/"}"; then
    echo "signing: $file without its signature is not the unsigned release's file" >&2
    failed=1
  fi
  rm -f "$work/removed"
done
wine=$(scripts/wine-prefix)
answer=$("$wine" "$root/quorin-host/quorin-host.exe" eval '=StudentT(10)')
if [ "$answer" != "=StudentT(10)  ->  2.2281411036749326" ]; then
  echo "signing: the signed module answers '$answer' under Wine" >&2
  failed=1
fi
[ "$failed" -eq 0 ] && echo "signing: 4 signed files verify and are the unsigned files once their signature is removed; the signed module answers under Wine"
exit "$failed"
