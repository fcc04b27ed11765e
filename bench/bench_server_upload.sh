#!/usr/bin/env bash
# Upload throughput and peak memory of mivra-server.
#   bench/bench_server_upload.sh [BUILD_DIR (build/default)] [SIZES_MIB ("256 1024")] [RUNS (3)]
# MIVRA_SERVER=path runs another build of the server (e.g. an older one, to compare).
# For each size, RUNS times on a fresh server whose data folder is on the disk
# of ${BENCH_DIR:-$TMPDIR} (the median of the runs is printed):
#   multipart  the file in 8 MiB parts sent by curl three at a time, then complete
#              (create to complete; parts land in place, complete syncs once)
#   single     one plain `curl -T` of the file (PUT /api/videos/<id>)
#   dd         the file written to the same disk with dd (bs=8M, conv=fsync)
# each upload's speed as a ratio to that run's dd (median of the runs' ratios),
# and the server's peak resident memory (VmHWM) over both uploads (the largest
# of the runs). The downloads are checked against the file. Not part of the
# test suite.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/default}"
sizes="${2:-256 1024}"
runs="${3:-3}"
server="${MIVRA_SERVER:-$build/server/mivra-server}"
[ -x "$server" ] || { echo "build mivra-server in $build first" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

part=$((8 * 1024 * 1024))
work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/mivra-bench.XXXXXX")"
# Part slices are cut before the clock starts, into memory when there is room.
slices="$(mktemp -d /dev/shm/mivra-bench.XXXXXX 2>/dev/null || mktemp -d "$work/slices.XXXXXX")"
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
cleanup() { stop_server; rm -rf "$work" "$slices"; }
trap cleanup EXIT

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mibps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / 1048576 / s }'; }
json_field() { sed -n "s/.*\"$1\":\"\\{0,1\\}\\([^\",}]*\\).*/\\1/p"; }
token="$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')"

start_server() {
  rm -rf "$work/data"
  "$server" --listen 127.0.0.1:0 --data "$work/data" --quiet >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 200); do grep -q '^listening on ' "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  origin="$(head -1 "$work/server.out" | sed 's/^listening on //')"
  [ -n "$origin" ] || { cat "$work/server.err" >&2; exit 1; }
}

create() {
  curl -sf -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
    -d '{"title":"bench","contentType":"video/mp4"}' "$origin/api/videos" | json_field id
}

check() { # id file
  local got want
  got="$(curl -sf "$origin/r/$1" | sha256sum | cut -d' ' -f1)"
  want="$(sha256sum <"$2" | cut -d' ' -f1)"
  [ "$got" = "$want" ] || { echo "the download of $1 differs from the file" >&2; exit 1; }
}

printf '%-9s %12s %12s %12s %11s %11s %16s   (median of %s runs)\n' "size" "multipart" "curl -T" "dd" \
  "multi/dd" "curl/dd" "server peak RSS" "$runs"
for mib in $sizes; do
  file="$work/file.bin"
  # An MP4 file-type box first (the server stores only MP4s), then random bytes.
  { printf '\0\0\0\030ftypisom'; head -c "$((mib * 1024 * 1024 - 12))" /dev/urandom; } >"$file"
  sync "$file" # its own write-back must not compete with the first run
  bytes="$(stat -c %s "$file")"
  rm -f "$slices"/*
  split -b "$part" -d -a 5 "$file" "$slices/p."
  n=0
  for f in "$slices"/p.*; do n=$((n + 1)); mv "$f" "$slices/$n"; done

  multi_all=(); single_all=(); dd_all=(); multi_ratio=(); single_ratio=(); peak_max=0
  for run in $(seq 1 "$runs"); do
    start_server
    rm -f "$slices"/*.json

    # Multipart: 8 MiB parts, three curl uploads at a time (one curl, --parallel
    # --parallel-max 3, so the figure is not that of starting 128 processes), then complete.
    t0="$(now)"
    id="$(create)"
    {
      for i in $(seq 1 "$n"); do
        [ "$i" -gt 1 ] && echo "next"
        echo "header = \"X-Device-Token: $token\""
        echo 'header = "Content-Type: application/octet-stream"'
        echo "fail"
        echo "upload-file = \"$slices/$i\""
        echo "url = \"$origin/api/videos/$id/parts/$i\""
        printf -v num %05d "$i"
        echo "output = \"$slices/$num.json\"" # named to sort in part order
      done
    } >"$work/parts.curl"
    curl -s --no-progress-meter --parallel --parallel-max 3 --config "$work/parts.curl"
    # The replies are the part objects complete wants; one process joins them
    # (a process per part would put the script's own time into the figure).
    body="{\"parts\":[$(awk '{ printf "%s%s", (NR > 1 ? "," : ""), $0 }' "$slices"/*.json)]}"
    curl -sf -X POST -H "X-Device-Token: $token" -H 'Content-Type: application/json' \
      --data-binary "$body" "$origin/api/videos/$id/complete" >/dev/null || { echo "complete failed" >&2; exit 1; }
    t1="$(now)"
    multi_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
    check "$id" "$file"

    # One plain curl -T of the whole file.
    t0="$(now)"
    id="$(create)"
    curl -sf -X PUT -H "X-Device-Token: $token" -H 'Content-Type: video/mp4' -T "$file" "$origin/api/videos/$id" >/dev/null
    t1="$(now)"
    single_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
    check "$id" "$file"

    peak_kib="$(awk '/^VmHWM:/ { print $2 }' "/proc/$server_pid/status")"
    [ "$peak_kib" -gt "$peak_max" ] && peak_max="$peak_kib"
    stop_server

    # The same bytes to the same disk, made durable as the server makes them.
    t0="$(now)"
    dd if="$file" of="$work/dd.out" bs=8M conv=fsync status=none
    t1="$(now)"
    dd_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
    rm -f "$work/dd.out"
    multi_all+=("$multi_s"); single_all+=("$single_s"); dd_all+=("$dd_s")
    # Each run's speed against that run's dd, so load that comes and goes cancels out.
    multi_ratio+=("$(awk -v a="$dd_s" -v b="$multi_s" 'BEGIN { printf "%.2f", a / b }')")
    single_ratio+=("$(awk -v a="$dd_s" -v b="$single_s" 'BEGIN { printf "%.2f", a / b }')")
  done
  multi_s="$(median "${multi_all[@]}")"; single_s="$(median "${single_all[@]}")"; dd_s="$(median "${dd_all[@]}")"
  peak_kib="$peak_max"
  rm -f "$file"

  printf '%-9s %8s MiB/s %6s MiB/s %6s MiB/s %11s %11s %12s MiB\n' "${mib} MiB" \
    "$(mibps "$bytes" "$multi_s")" "$(mibps "$bytes" "$single_s")" "$(mibps "$bytes" "$dd_s")" \
    "$(median "${multi_ratio[@]}")" "$(median "${single_ratio[@]}")" \
    "$(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
done
