# Shared by the shell tests: a scratch folder removed on exit, and failures counted instead of
# stopping at the first, so that one run shows everything that is wrong.
#   source check_support.sh NAME    (sets $work; defines fail and run; counts in $failures)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvan-$1.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Runs a command quietly; on failure shows its output and counts the failure.
run() {
  local what=$1
  shift
  if ! "$@" >"$work/last.log" 2>&1; then
    fail "$what"
    sed 's/^/    /' "$work/last.log"
    return 1
  fi
}
