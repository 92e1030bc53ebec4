#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the normal build,
# then under ASan+UBSan and under TSan. `--quick` runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

flavours=(release asan tsan)
[ "${1:-}" = "--quick" ] && flavours=(release)

status=0
for flavour in "${flavours[@]}"; do
  echo "== $flavour build"
  dir=$(bash scripts/build.sh "$flavour" -DORVAN_BUILD_TESTS=ON -DORVAN_BUILD_BENCH=OFF | tail -n 1)
  echo "== $flavour tests"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  # A build without tests must not pass for a tested one.
  if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2; then
    status=1
  fi
done
exit $status
