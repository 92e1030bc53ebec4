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

cmake -S . -B "$dir" -DORVAN_SANITIZE="$sanitize" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
