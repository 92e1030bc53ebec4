#!/usr/bin/env bash
# Every ELF file of the build tree has run paths the loader reads the same from any working
# directory: absolute, or relative to $ORIGIN. An empty entry (a trailing ':') or a relative
# one makes the loader search the current directory, so a library planted there would run.
#   run_paths_test.sh BUILD_DIR
set -euo pipefail
build=$1
checked=0
bad=0
while IFS= read -r -d '' file; do
  head -c 4 "$file" 2>/dev/null | grep -q $'^\x7fELF' || continue
  checked=$((checked + 1))
  paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p')
  [ -n "$paths" ] || continue
  while IFS= read -r entry; do
    case "$entry" in
      /* | '$ORIGIN' | '$ORIGIN'/*) ;;
      *) echo "$file: run path '$paths' has the entry '$entry'"; bad=$((bad + 1)) ;;
    esac
  done < <(printf '%s\n' "$paths" | tr ':' '\n')
done < <(find "$build" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' -print0)
echo "$checked ELF files checked, $bad bad run-path entries"
[ "$checked" -gt 0 ] && [ "$bad" -eq 0 ]
