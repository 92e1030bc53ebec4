#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the normal build,
# then under ASan+UBSan and under TSan. The soak tests (ctest label "soak": minutes of real
# time on the real-time device) run once, on the normal build, in the background while the
# sanitizer builds build and run, and are reported at the end. `--quick` runs the normal
# build only, without the soak tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

flavours=(release asan tsan)
[ "${1:-}" = "--quick" ] && flavours=(release)

status=0
soak_pid=""
soak_log=""
stop_soak() {
  if [ -n "$soak_pid" ]; then kill -- -"$soak_pid" 2>/dev/null || true; fi
}
trap stop_soak EXIT

for flavour in "${flavours[@]}"; do
  echo "== $flavour build"
  dir=$(bash scripts/build.sh "$flavour" -DORVAN_BUILD_TESTS=ON -DORVAN_BUILD_BENCH=OFF | tail -n 1)
  if [ "$flavour" = release ] && [ "${#flavours[@]}" -gt 1 ]; then
    echo "== release soak tests, in the background"
    soak_log="$dir/soak-tests.log"
    # In a process group of its own, so that an early exit ends the test it runs too.
    setsid ctest --test-dir "$dir" --verbose --no-tests=error -L soak \
      >"$soak_log" 2>&1 &
    soak_pid=$!
  fi
  echo "== $flavour tests"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  # A build without tests must not pass for a tested one.
  if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 -LE soak; then
    status=1
  fi
done

if [ -n "$soak_pid" ]; then
  echo "== release soak tests"
  soak_status=0
  wait "$soak_pid" || soak_status=$?
  soak_pid=""
  cat "$soak_log"
  [ "$soak_status" -eq 0 ] || status=1
fi
exit $status
