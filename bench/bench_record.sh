#!/usr/bin/env bash
# Runs bench_record at 1920x1080 and 2560x1600 on X servers of those sizes.
#   bench/bench_record.sh BUILD_DIR [bench_record options...]
set -euo pipefail
build="${1:?build folder}"; shift
for size in 1920x1080 2560x1600; do
  display=""
  for n in 59 58 57 56 55; do [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }; done
  [ -n "$display" ] || { echo "no free display among :55-:59" >&2; exit 1; }
  Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp +extension MIT-SHM +extension DAMAGE \
    +extension XFIXES +extension RANDR -noreset >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  echo "== $size"
  DISPLAY="$display" XDG_STATE_HOME="$(mktemp -d)" "$build/bench/bench_record" "$@" || true
  kill "$xvfb"; wait "$xvfb" 2>/dev/null || true
done
