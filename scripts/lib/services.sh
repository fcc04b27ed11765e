# Starts what the tests need when it is not already there: an X server
# (Xvfb) and a PulseAudio daemon with a microphone fed in real time.
# Source after common.sh.

start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    say "Using the X display $DISPLAY"
    return 0
  fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: else the server resets whenever its last client leaves and
    # refuses the next test's connection meanwhile.
    Xvfb ":$n" -screen 0 2560x1600x24 -noreset -nolisten tcp +extension MIT-SHM +extension DAMAGE \
      +extension XFIXES +extension RANDR >/tmp/mivra-xvfb-$n.log 2>&1 &
    MIVRA_STARTED_PIDS+=($!)
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && { say "Started Xvfb on $DISPLAY"; return 0; }
      sleep 0.1
    done
    say "Xvfb did not start on :$n"; return 1
  done
  return 1
}

# PulseAudio in user mode with its own runtime folder. The "mivra-mic" source
# is a remapped null-sink monitor: feed it with paplay --latency-msec=20 to get
# a microphone that delivers audio in real time.
start_pulse() {
  if pactl info >/dev/null 2>&1; then
    say "Using the running PulseAudio server"
    return 0
  fi
  export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/mivra-runtime.XXXXXX)}"
  mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load="module-native-protocol-unix auth-anonymous=1" \
    --load="module-null-sink sink_name=mivra-feed" \
    --load="module-remap-source source_name=mivra-mic master=mivra-feed.monitor" \
    --load="module-always-sink" >/tmp/mivra-pulse.log 2>&1 &
  MIVRA_STARTED_PIDS+=($!)
  local i
  for i in $(seq 1 50); do
    pactl info >/dev/null 2>&1 && { pactl set-default-source mivra-mic >/dev/null 2>&1 || true; say "Started PulseAudio"; return 0; }
    sleep 0.1
  done
  say "PulseAudio did not start (see /tmp/mivra-pulse.log); microphone tests will be skipped"
  return 0
}
