# Shared by scripts/run and scripts/test. Source it; do not run it.
set -euo pipefail

MIVRA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian 12 / Ubuntu packages the build, the app and the tests need.
MIVRA_PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-multimedia-dev qt6-wayland
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-window
  qml6-module-qtquick-layouts qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtmultimedia qcoro-qt6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libx264-dev libyuv-dev
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-randr0-dev libxcb-composite0-dev libxcb-render0-dev
  libpulse-dev libsqlite3-dev sqlite3 libcpp-httplib-dev libssl-dev libxxhash-dev nlohmann-json3-dev libcurl4-openssl-dev
  ffmpeg pulseaudio pulseaudio-utils xvfb xauth x11-utils xdotool chromium
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber dbus-daemon
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-pipewire
  gstreamer1.0-plugins-good gstreamer1.0-libav
  sway xdg-desktop-portal xdg-desktop-portal-wlr
)
MIVRA_EXTRA_PACKAGES=()

say() { printf '%s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever of the package lists is missing; nothing else is fetched.
install_missing_packages() {
  local missing=() p
  for p in "${MIVRA_PACKAGES[@]}" "${MIVRA_EXTRA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "Installing ${#missing[@]} missing packages: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# configure_and_build PRESET [TARGET...]
configure_and_build() {
  local preset="$1"; shift
  cmake --preset "$preset" -S "$MIVRA_ROOT" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
  else
    cmake --build --preset "$preset"
  fi
}

# Processes started here, ended by PID on exit.
MIVRA_STARTED_PIDS=()
stop_started() {
  local pid
  for pid in "${MIVRA_STARTED_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${MIVRA_STARTED_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  return 0
}
