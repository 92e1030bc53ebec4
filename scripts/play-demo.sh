#!/usr/bin/env bash
# The main job: installs what is missing, builds, and plays the demo music through the
# engine with a progress line. Without an audio device it says so in one line and renders
# the music to a WAV file instead, naming the file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
dir=$(bash scripts/build.sh release -DORVAN_BUILD_TESTS=OFF -DORVAN_BUILD_BENCH=OFF | tail -n 1)
exec "$dir/bin/tovel-play" --fallback-render "$PWD/$dir/Theme.wav" "$dir/media/Theme.mid"
