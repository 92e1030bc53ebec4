#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a share of SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
budget=${1:-60}

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORVAN_BUILD_FUZZ=ON -DORVAN_BUILD_TESTS=OFF \
  -DORVAN_BUILD_BENCH=OFF -DORVAN_BUILD_DEMOS=OFF -DORVAN_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
targets=$(ls fuzz/*.cpp 2>/dev/null | xargs -r -n1 basename | sed 's/\.cpp$//')
[ -n "$targets" ] || { echo "no fuzz targets"; exit 0; }
count=$(echo "$targets" | wc -l)
per=$(( budget / count )); [ "$per" -lt 5 ] && per=5
for t in $targets; do
  cmake --build build-fuzz -j"$(nproc)" --target "fuzz_$t" >/dev/null
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  seeds=fuzz/seeds/$t
  echo "== fuzz_$t for ${per}s"
  build-fuzz/bin/fuzz_$t -max_total_time="$per" -print_final_stats=1 "$corpus" \
    $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | grep -E '^(stat::number_of_executed_units|==|INFO: Done)' || true
  # libFuzzer leaves crash-*, leak-* or timeout-* files behind when it finds something.
  if compgen -G 'crash-*' >/dev/null || compgen -G 'leak-*' >/dev/null ||
    compgen -G 'timeout-*' >/dev/null; then
    echo "fuzz_$t found a failing input" >&2; exit 1
  fi
done
