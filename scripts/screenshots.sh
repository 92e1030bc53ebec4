#!/usr/bin/env bash
# Screenshots of the two demonstration programs for the README, taken from the real programs
# with the real engine under a virtual X server: docs/images/seek.png and
# docs/images/duvane.png.
#
#   bash scripts/screenshots.sh [BUILD_DIR]      (default: build)
#
# The engine is registered in a throwaway registry and plays through SDL's silent dummy
# device, so nothing is heard and nothing of the user's is touched. Needs Xvfb, xdotool and
# ImageMagick (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
bin="$PWD/$build/bin"
lib="$PWD/$build/lib"
for file in "$bin/Seek" "$bin/Duvane" "$bin/orvan-regsvr" "$lib/libTovel.so" \
            "$PWD/$build/media/Theme.mid"; do
  if [ ! -e "$file" ]; then
    echo "screenshots: $file is missing; build $build first" >&2
    exit 1
  fi
done
out="$PWD/docs/images"
mkdir -p "$out"

work=$(mktemp -d)
pids=()
finish() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

export ORVAN_REGISTRY="$work/registry.sqlite3"
export SDL_AUDIODRIVER=dummy
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
"$bin/orvan-regsvr" "$lib/libTovel.so" >/dev/null

# A private X server on the first free display it finds.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
export DISPLAY=":$(cat "$work/display")"

# Clicks at (x, y) inside window $1.
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.5
}

# Starts a program; sets $program to its process and $window to its window once mapped.
start() {
  "$1" >"$work/$(basename "$1").log" 2>&1 &
  program=$!
  pids+=("$program")
  window=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
}

# SDL turns SIGTERM into an event that nobody reads here, and closing a window would need a
# window manager; the programs keep nothing, so they are simply killed.
stop() {
  kill -KILL "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
}

# Seek: initialize, Load, Play; then a few seconds of music so that the position moves.
start "$bin/Seek"
seek=$window
click "$seek" 64 28     # initialize
click "$seek" 64 66     # Load
click "$seek" 64 104    # Play
sleep 4
import -window "$seek" "$out/seek.png"
stop

# Duvane: a file on each channel through the open-file dialog, both playing, the thumb
# dragged to the middle where the two volumes are equal.
start "$bin/Duvane"
duvane=$window
for channel in 1 2; do
  if [ "$channel" = 1 ]; then y=26; file="$PWD/$build/media/Theme.mid"; else
    y=62; file=$(ls /usr/share/games/openttd/baseset/openmsx/*.mid 2>/dev/null | head -n 1)
    [ -n "$file" ] || file="$PWD/$build/media/Theme.mid"
  fi
  # Click until the dialog shows: a click that lands while the program is still busy
  # with the previous file can go astray.
  for _ in $(seq 10); do
    click "$duvane" 382 "$y"
    [ "$(xdotool search --onlyvisible --pid "$program" 2>/dev/null | wc -l)" -ge 2 ] && break
  done
  # The file name field keeps the last name chosen: replace it.
  xdotool key ctrl+a
  xdotool type --delay 5 "$file"
  xdotool key Return
  sleep 1
done
click "$duvane" 78 134    # PlayCH1
click "$duvane" 362 134   # PlayCH2
# Drag the thumb from its start (-1400) to the middle (-1250).
xdotool mousemove --window "$duvane" 207 96 mousedown 1
sleep 0.2
xdotool mousemove --window "$duvane" 224 96
sleep 0.2
xdotool mouseup 1
sleep 1
import -window "$duvane" "$out/duvane.png"
stop

echo "$out/seek.png"
echo "$out/duvane.png"
