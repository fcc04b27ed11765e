#!/usr/bin/env bash
# Makes both packages from the built tree and checks them: the .deb's
# contents and that apt can resolve its dependencies, the bundle's layout,
# that it starts from a scratch Downloads folder, names itself, reads an
# update feed, installs a signed update of itself, and, when its setup card's
# Move is clicked under a private Xvfb, installs itself and reopens from there.
#   packaging/check-packages.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/default}"
work="$(mktemp -d)"
started=() # ended on exit, by PID
cleanup() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do kill "${started[i]}" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
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

# Polls for a condition until a deadline in seconds.
await() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}
# Where to click the setup card's button in window $1, as "X Y": found in a
# grab by its top border, the first short 1px line that ends at the card's
# inner right edge.
move_button() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  ffmpeg -loglevel error -f x11grab -video_size "${WIDTH}x$HEIGHT" -i "$DISPLAY+$X,$Y" -frames:v 1 \
    -f rawvideo -pix_fmt rgb24 - 2>/dev/null | python3 -c '
import sys
w = int(sys.argv[1]); d = sys.stdin.buffer.read(); h = len(d) // (3 * w)
px = lambda x, y: d[(y * w + x) * 3:(y * w + x) * 3 + 3]
for y in range(1, h - 1):
    for end in range(w - 60, w - 38):
        c = px(end, y)
        if c == px(end + 1, y) or c == px(end, y - 1) or c == px(end, y + 1): continue
        start = end
        while start > 0 and px(start - 1, y) == c: start -= 1
        if 30 <= end - start <= 250: sys.exit(print((start + end) // 2, y + 10))
sys.exit(1)' "$WIDTH"
}
xvfb_display() { [ -s "$work/display" ]; }
main_window() {
  wid=$(xdotool search --onlyvisible --pid "$first" --name '^Mivra Video$' 2>/dev/null | head -1)
  [ -n "$wid" ]
}
card_button() { button=$(move_button "$wid"); }
gone() { [ ! -e "/proc/$1" ]; }
installed="$work/apps/Mivra Video"
install_done() {
  [ -x "$installed/AppRun" ] && [ ! -e "$app" ] &&
    grep -qxF -e "Path=$app" -e "Path=${app// /%20}" "$work"/data/Trash/info/*.trashinfo 2>/dev/null &&
    grep -qF "Exec=\"$installed/AppRun\"" "$work/data/applications/video.mivra.mac.desktop" 2>/dev/null
}
reopened() {
  local wid
  for wid in $(xdotool search --onlyvisible --name '^Mivra Video$' 2>/dev/null); do
    relaunched=$(xdotool getwindowpid "$wid" 2>/dev/null) || continue
    [ "$relaunched" != "$first" ] && return 0
  done
  return 1
}
mkdir -p "$work/home" "$work/apps"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
started+=("$!")
await 10 xvfb_display || fail "Xvfb did not start"
display=$(cat "$work/display")
export DISPLAY=":$display"
HOME="$work/home" QT_QPA_PLATFORM=xcb MIVRA_INSTALL_DIR="$work/apps" "$app/AppRun" >"$work/first.log" 2>&1 &
first=$!
started+=("$first")
await 20 main_window || fail "the bundle's main window did not open"
await 20 card_button || fail "the setup card shows no Move button"
read -r x y <<<"$button"
xdotool mousemove --window "$wid" "$x" "$y" click 1
await 30 install_done || fail "Move did not install the bundle into $work/apps"
await 20 reopened || fail "the installed copy did not reopen: $(tail -1 "$work/first.log")"
started+=("$relaunched")
exe=$(readlink "/proc/$relaunched/exe")
[ "$exe" = "$installed/bin/mivra" ] || fail "the reopened app runs $exe"
kill "$relaunched" 2>/dev/null || true
await 10 gone "$relaunched" || fail "the reopened app did not quit"
echo "ok: Mivra Video.tar.xz (Move installed it from Downloads, trashed the download, reopened from the install)"
