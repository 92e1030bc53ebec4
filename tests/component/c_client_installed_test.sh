#!/usr/bin/env bash
# The C client kit as a C programmer meets it: installs the built tree into a temporary
# prefix, compiles every installed client header alone as C99 and as C++17 and C++20, builds
# examples/play_by_class_id.c against the installed headers and runtime with gcc, and with
# clang where it is installed (-std=c99 -Wall -Wextra -Werror -pedantic), registers the
# installed component and plays the installed Theme.mid through each build on the silent
# device.
#
#   c_client_installed_test.sh SOURCE_DIR BUILD_DIR "SANITIZER_FLAGS" C_COMPILER_ID LIBDIR
# In a sanitized build only the project's own compiler links and runs the client (the other's
# sanitizer runtime cannot load the libraries); the other compiles it.
# Exit status 0: passed, 1: failed, 77: skipped (the reason on stdout).
set -uo pipefail

source_dir=$1 build_dir=$2 sanitizer_flags=$3 compiler_id=$4 libdir=$5

source "$(dirname "${BASH_SOURCE[0]}")/../install/check_support.sh" c-client-test

prefix=$work/prefix
run "cmake --install into a temporary prefix" cmake --install "$build_dir" --prefix "$prefix" ||
  exit 1
theme=$prefix/share/orvan-music-engine/media/Theme.mid
if [ ! -f "$prefix/$libdir/libTovel.so.1.0.0" ] || [ ! -f "$theme" ]; then
  echo "SKIP: this build installs no component or no Theme.mid"
  exit 77
fi

strict=(-Wall -Wextra -Werror -pedantic)
c_compilers=(gcc)
cxx_compilers=(g++)
command -v clang >/dev/null && c_compilers+=(clang)
command -v clang++ >/dev/null && cxx_compilers+=(clang++)

# --- Every client header alone, in both languages -------------------------------------------
headers=0
for header in "$prefix"/include/orvan/*.h; do
  name=$(basename "$header")
  printf '#include <orvan/%s>\n' "$name" >"$work/alone.c"
  cp "$work/alone.c" "$work/alone.cpp"
  for cc in "${c_compilers[@]}"; do
    run "$name compiles alone as C99 with $cc" \
      "$cc" -std=c99 "${strict[@]}" -I"$prefix/include" -fsyntax-only "$work/alone.c"
  done
  for cxx in "${cxx_compilers[@]}"; do
    for std in c++17 c++20; do
      run "$name compiles alone as $std with $cxx" \
        "$cxx" -std=$std "${strict[@]}" -I"$prefix/include" -fsyntax-only "$work/alone.cpp"
    done
  done
  headers=$((headers + 1))
done
[ "$headers" -ge 10 ] || fail "only $headers client headers are installed"

# --- The C example, built against the installed tree and run ---------------------------------
export SDL_AUDIODRIVER=dummy
export ORVAN_REGISTRY=$work/registry.sqlite3
run "orvan-regsvr registers the installed component" \
  "$prefix/bin/orvan-regsvr" "$prefix/$libdir/libTovel.so.1.0.0"

for cc in "${c_compilers[@]}"; do
  case "$cc" in gcc) id=GNU ;; clang) id=Clang ;; esac
  if [ -n "$sanitizer_flags" ] && [ "$id" != "$compiler_id" ]; then
    run "the C example compiles with $cc" "$cc" -std=c99 "${strict[@]}" -I"$prefix/include" \
      -c "$source_dir/examples/play_by_class_id.c" -o "$work/play-$cc.o"
    continue
  fi
  # shellcheck disable=SC2086  # the sanitizer flags are several words
  run "the C example builds with $cc" "$cc" -std=c99 "${strict[@]}" $sanitizer_flags \
    -I"$prefix/include" "$source_dir/examples/play_by_class_id.c" -o "$work/play-$cc" \
    -L"$prefix/$libdir" -lorvan_comrt -Wl,-rpath,"$prefix/$libdir" || continue
  run "the C example built with $cc plays Theme.mid" "$work/play-$cc" "$theme" 1 || continue
  # Four progress lines a quarter second apart, the music moving on and playing.
  progress=$(grep -cE '^ *[0-9]+ / [0-9]+ playing$' "$work/last.log")
  first=$(grep -m1 -oE '^ *[0-9]+' "$work/last.log" | tr -d ' ')
  last=$(grep -oE '^ *[0-9]+' "$work/last.log" | tail -1 | tr -d ' ')
  [ "$progress" = 4 ] || fail "$cc's build printed $progress progress lines, not 4"
  [ -n "$first" ] && [ -n "$last" ] && [ "$last" -gt "$first" ] ||
    fail "$cc's build: the position did not move on ($first, then $last)"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "passed: $headers headers alone in C99, C++17 and C++20; the C example with ${c_compilers[*]}"
