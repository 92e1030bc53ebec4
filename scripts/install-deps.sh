#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent and quiet when all are there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libfluidsynth-dev fluidsynth libinstpatch-dev libsdl2-dev libsndfile1-dev
  timgm6mb-soundfont fluid-soundfont-gm
  nlohmann-json3-dev libcli11-dev
  openttd-openmsx python3-mido python3-pytest sox
  libsoxr-dev libsoundtouch-dev flac vorbis-tools opus-tools lame libsox-fmt-mp3
  libmpg123-dev
  libsqlite3-dev libffi-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth imagemagick xdotool
  dpkg-dev fakeroot lintian
  pipewire pipewire-pulse wireplumber pulseaudio-utils dbus-user-session dbus-daemon procps
  libopenmpt-dev
  openmpt123
  libzip-dev
)
if [ -n "${ORVAN_EXTRA_PACKAGES:-}" ]; then
  read -r -a extra <<<"$ORVAN_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages and not root; run as root or install them yourself." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
