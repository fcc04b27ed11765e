#!/usr/bin/env bash
# Upload throughput of `mivra upload` against one `curl -T` stream to the same
# local mivra-server, and mivra's peak memory. Also curl sending the same
# parts three at a time (create, parts, complete): the client's own overhead
# on the multipart path, apart from the server's.
#   bench/bench_upload.sh BUILD_DIR [SIZE_MIB (1024)] [RUNS (3)]
# Prints the median of each, the median of the runs' mivra/curl ratios (each
# run's pair back to back, so load that comes and goes cancels out; goal:
# >= 0.9) and the largest peak RSS of mivra (goal: <= 3 x partSize + 64 MiB).
set -euo pipefail
build="${1:?build folder}"
size_mib="${2:-1024}"
runs="${3:-3}"
mivra="$build/src/mivra"
server="$build/server/mivra-server"
[ -x "$mivra" ] && [ -x "$server" ] || { echo "build mivra and mivra-server in $build first" >&2; exit 1; }

work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/data" "$work/home"
"$server" --listen 127.0.0.1:0 --data "$work/data" --quiet >"$work/server.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do grep -q '^listening on ' "$work/server.out" 2>/dev/null && break; sleep 0.05; done
origin="$(head -1 "$work/server.out" | sed 's/^listening on //')"

# A real short video (mivra upload takes only files with a video stream) with
# random bytes after its last box up to the size wanted.
file="$work/upload.mp4"
ffmpeg -loglevel error -y -f lavfi -i testsrc=s=64x48:r=10:d=1 -pix_fmt yuv420p -movflags +faststart "$work/head.mp4"
{ cat "$work/head.mp4"; head -c "$((size_mib * 1024 * 1024 - $(stat -c %s "$work/head.mp4")))" /dev/urandom; } >"$file"
bytes="$(stat -c %s "$file")"
token="$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')"

json_field() { python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"; }

curl_once() {
  local id start end
  id="$(curl -sf -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
    -d '{"title":"curl","contentType":"video/mp4"}' "$origin/api/videos" | json_field id)"
  start="$(date +%s.%N)"
  curl -sf -o /dev/null -T "$file" -H "X-Device-Token: $token" -H 'Content-Type: video/mp4' "$origin/api/videos/$id"
  end="$(date +%s.%N)"
  curl -sf -o /dev/null -X DELETE -H "X-Device-Token: $token" "$origin/api/videos/$id" || true
  python3 -c "print($bytes / ($end - $start) / 1e6)"
}

curl_parts_once() {
  local id start end n=0
  start="$(date +%s.%N)"
  id="$(curl -sf -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
    -d '{"title":"curl","contentType":"video/mp4"}' "$origin/api/videos" | json_field id)"
  : >"$work/parts.curl"
  for f in "$work"/slices/*; do
    n=$((n + 1))
    [ "$n" -gt 1 ] && echo next >>"$work/parts.curl"
    printf 'header = "X-Device-Token: %s"\nupload-file = "%s"\nurl = "%s"\noutput = "%s"\nfail\n' \
      "$token" "$f" "$origin/api/videos/$id/parts/$((10#${f##*/} + 1))" "$f.json" >>"$work/parts.curl"
  done
  curl -s --parallel --parallel-max 3 -K "$work/parts.curl" 2>/dev/null
  body="$(for j in "$work"/slices/*.json; do cat "$j"; echo ,; done | sed '$ s/,$//' | tr -d '\n')"
  curl -sf -o /dev/null -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
    -d "{\"parts\":[$body]}" "$origin/api/videos/$id/complete"
  end="$(date +%s.%N)"
  rm -f "$work"/slices/*.json
  curl -sf -o /dev/null -X DELETE -H "X-Device-Token: $token" "$origin/api/videos/$id" || true
  python3 -c "print($bytes / ($end - $start) / 1e6)"
}

mivra_once() {
  local start end link
  start="$(date +%s.%N)"
  link="$(env XDG_CONFIG_HOME="$work/home/c" XDG_DATA_HOME="$work/home/d" XDG_STATE_HOME="$work/home/s" \
    MIVRA_SERVICE_ORIGIN="$origin" /usr/bin/time -f '%M' -o "$work/rss" "$mivra" upload "$file" 2>/dev/null)"
  end="$(date +%s.%N)"
  env XDG_CONFIG_HOME="$work/home/c" XDG_DATA_HOME="$work/home/d" XDG_STATE_HOME="$work/home/s" \
    MIVRA_SERVICE_ORIGIN="$origin" "$mivra" links delete "${link##*/}" >/dev/null 2>&1 || true
  echo "$(python3 -c "print($bytes / ($end - $start) / 1e6)") $(tail -1 "$work/rss")"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

part_size="$(curl -sf -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
  -d '{"title":"probe","contentType":"video/mp4"}' "$origin/api/videos" | json_field partSize)"
mkdir -p "$work/slices"
split -b "$part_size" -d -a 5 "$file" "$work/slices/"

curl_rates=(); mivra_rates=(); parts_rates=(); ratios=(); peak_kib=0
for run in $(seq "$runs"); do
  # Alternate which goes first, so neither always meets a warm cache.
  if [ $((run % 2)) = 1 ]; then c="$(curl_once)"; m="$(mivra_once)"; else m="$(mivra_once)"; c="$(curl_once)"; fi
  p="$(curl_parts_once)"
  curl_rates+=("$c"); mivra_rates+=("${m% *}"); parts_rates+=("$p")
  ratios+=("$(python3 -c "print(${m% *} / $c)")")
  rss="${m#* }"; [ "$rss" -gt "$peak_kib" ] && peak_kib="$rss"
  echo "run $run: curl -T ${c%.*} MB/s, mivra upload ${m%%.*} MB/s, curl parts ${p%.*} MB/s, mivra peak RSS $((rss / 1024)) MiB"
done

curl_median="$(printf '%s\n' "${curl_rates[@]}" | median)"
mivra_median="$(printf '%s\n' "${mivra_rates[@]}" | median)"
parts_median="$(printf '%s\n' "${parts_rates[@]}" | median)"
ratio_median="$(printf '%s\n' "${ratios[@]}" | median)"
python3 - "$curl_median" "$mivra_median" "$peak_kib" "$part_size" "$size_mib" "$parts_median" "$ratio_median" <<'PY'
import sys
curl, mivra, peak_kib, part, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
parts, ratio = float(sys.argv[6]), float(sys.argv[7])
limit_mib = (3 * part + 64 * 1024 * 1024) / 1048576
print(f"{size} MiB file, median of runs: curl -T {curl:.0f} MB/s, mivra upload {mivra:.0f} MB/s")
print(f"throughput ratio mivra/curl: {ratio:.2f}, median of the runs' ratios (goal >= 0.9); of the medians {mivra / curl:.2f}")
print(f"curl sending the parts 3 at a time: {parts:.0f} MB/s; mivra/curl parts: {mivra / parts:.2f}")
print(f"mivra peak RSS: {peak_kib / 1024:.0f} MiB (goal <= 3 x partSize + 64 MiB = {limit_mib:.0f} MiB)")
PY
