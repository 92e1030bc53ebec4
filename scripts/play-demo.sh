#!/usr/bin/env bash
# The main job: installs what is missing, builds, and plays the demo music.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
dir=$(bash scripts/build.sh release -DORVAN_BUILD_TESTS=OFF -DORVAN_BUILD_BENCH=OFF | tail -n 1)
exec "$dir/bin/tovel-play" --info /usr/share/games/openttd/baseset/openmsx/tttheme2.mid
