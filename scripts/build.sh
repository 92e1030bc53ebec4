#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh [release|asan|tsan] [extra cmake -D options...]
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
shift || true
case "$flavour" in
  release) dir=build; sanitize="" ;;
  asan) dir=build-asan; sanitize=address ;;
  tsan) dir=build-tsan; sanitize=thread ;;
  *) echo "build.sh: unknown flavour '$flavour' (release, asan, tsan)" >&2; exit 2 ;;
esac

# Every option this script's callers depend on is set on each run, because the CMake cache
# keeps whatever an earlier run chose (the main job builds build/ without tests). The
# caller's own -D options come last and win. Warnings are errors in our own builds.
cmake -S . -B "$dir" -DORVAN_SANITIZE="$sanitize" -DORVAN_WERROR=ON -DORVAN_BUILD_TESTS=ON \
  "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
