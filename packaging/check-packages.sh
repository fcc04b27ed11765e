#!/usr/bin/env bash
# Makes both packages from the built tree and checks them: the .deb's
# contents and that apt can resolve its dependencies, the bundle's layout,
# that it starts from a scratch Downloads folder, names itself, reads an
# update feed, and installs a signed update of itself.
#   packaging/check-packages.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/default}"
work="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null && cpack -G TXZ -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/mivra-video_*.deb)
bundle="$work/out/Mivra Video.tar.xz"

listing=$(dpkg-deb -c "$deb")
grep -q ' ./usr/bin/mivra$' <<<"$listing" || fail "the .deb has no /usr/bin/mivra"
grep -q 'share/applications/mivra.desktop' <<<"$listing" || fail "the .deb has no desktop entry"
grep -q 'share/metainfo/video.mivra.mac.metainfo.xml' <<<"$listing" || fail "the .deb has no metainfo"
grep -q 'AppRun' <<<"$listing" && fail "the .deb carries the bundle's AppRun"
apt-get install --simulate -qq "$deb" >/dev/null || fail "apt cannot resolve the .deb's dependencies"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$build/video.mivra.mac.metainfo.xml" >"$work/validate.txt" ||
    { cat "$work/validate.txt"; fail "the metainfo does not validate"; }
fi
echo "ok: $(basename "$deb")"

mkdir -p "$work/Downloads" "$work/data" "$work/run" && chmod 700 "$work/run"
tar -xJf "$bundle" -C "$work/Downloads"
app="$work/Downloads/Mivra Video"
for f in AppRun bin/mivra share/applications/mivra.desktop share/metainfo/video.mivra.mac.metainfo.xml \
         share/icons/hicolor/scalable/apps/mivra.svg; do
  [ -e "$app/$f" ] || fail "the bundle has no $f"
done
export XDG_RUNTIME_DIR="$work/run" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" \
       XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
"$app/AppRun" --help >/dev/null || fail "the bundle does not start"
version=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$app/share/metainfo/video.mivra.mac.metainfo.xml")

# A newer signed copy of the same bundle, published in a feed on disk.
openssl genpkey -algorithm ed25519 -out "$work/key.pem" 2>/dev/null
mkdir -p "$work/newer" && tar -xJf "$bundle" -C "$work/newer"
sed -i "s/<release version=\"$version\"/<release version=\"$version.1\"/" \
  "$work/newer/Mivra Video/share/metainfo/video.mivra.mac.metainfo.xml"
tar -cJf "$work/newer.tar.xz" -C "$work/newer" "Mivra Video"
{
  echo '<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>'
  "$root/packaging/appcast-item.sh" "$work/key.pem" "$work/newer.tar.xz" "$version.1" "file://$work/newer.tar.xz"
  echo '</channel></rss>'
} >"$work/appcast.xml"
export MIVRA_FEED_URL="file://$work/appcast.xml"
export MIVRA_UPDATE_PUBLIC_KEY="$("$root/packaging/appcast-item.sh" "$work/key.pem" --public-key)"
out=$("$app/AppRun" update --check) || fail "update --check failed"
[ "$out" = "Mivra Video $version.1 is available" ] || fail "update --check said: $out"
"$app/AppRun" update >/dev/null || fail "the signed update was not installed"
out=$("$app/AppRun" update --check)
[ "$out" = "Mivra Video is up to date ($version.1)" ] || fail "after the update: $out"
echo "ok: Mivra Video.tar.xz (started from Downloads, updated itself to $version.1)"
