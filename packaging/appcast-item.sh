#!/usr/bin/env bash
# Signs a bundle archive for the update feed and prints its appcast <item>.
#   packaging/appcast-item.sh KEY.pem "Mivra Video.tar.xz" VERSION URL
# Make a key once with `openssl genpkey -algorithm ed25519 -out KEY.pem`;
# its public half for MIVRA_UPDATE_PUBLIC_KEY is printed with --public-key:
#   packaging/appcast-item.sh KEY.pem --public-key
set -euo pipefail
key="$1"
if [ "${2:-}" = --public-key ]; then
  # The raw 32-byte key is the tail of its DER form.
  openssl pkey -in "$key" -pubout -outform DER | tail -c 32 | base64 -w0
  echo
  exit 0
fi
archive="$2" version="$3" url="$4"
length=$(stat -c %s "$archive")
signature=$(openssl pkeyutl -sign -inkey "$key" -rawin -in "$archive" | base64 -w0)
cat <<ITEM
<item>
  <title>Mivra Video $version</title>
  <pubDate>$(date -R)</pubDate>
  <sparkle:version>$version</sparkle:version>
  <sparkle:shortVersionString>$version</sparkle:shortVersionString>
  <description><![CDATA[<p>What's new in $version.</p>]]></description>
  <enclosure url="$url" length="$length" type="application/x-xz" sparkle:edSignature="$signature"/>
</item>
ITEM
