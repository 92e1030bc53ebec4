#!/usr/bin/env bash
# Embeds the source tree in a small consumer project (tests/install/consumer) and checks that
# the embedded project keeps to its own folders and settings: the consumer's build type and
# output folder stay its own, no install rule and none of our warning flags reach it, and
# OrvanMusicEngine::component links a client that plays music. Configured once with
# add_subdirectory (and built) and once with FetchContent.
#
# The consumer builds only what its client links (the runtime and its base library); the
# component it creates is the one of the suite's build, registered in a scratch store. Both
# runtimes carry the same soname, so the process holds one.
#
#   embedding_test.sh SOURCE_DIR CXX CC "SANITIZER_FLAGS" TOVEL REGSVR THEME
# Exit status 0: passed, 1: failed.
set -uo pipefail

source_dir=$1 cxx=$2 cc=$3 sanitizer_flags=$4 tovel=$5 regsvr=$6 theme=$7

source "$(dirname "${BASH_SOURCE[0]}")/check_support.sh" embed-test
configure() {
  local how=$1
  cmake -G "Unix Makefiles" -S "$source_dir/tests/install/consumer" -B "$work/$how" \
    -DORVAN_SOURCE_DIR="$source_dir" \
    -DORVAN_EMBED_WITH="$how" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_FLAGS="$sanitizer_flags" -DCMAKE_C_FLAGS="$sanitizer_flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizer_flags" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizer_flags"
}

for how in add_subdirectory FetchContent; do
  run "the consumer configures with $how" configure "$how" || continue
  cache=$work/$how/CMakeCache.txt
  grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$cache" ||
    fail "$how: the embedded project set the consumer's build type ($(grep '^CMAKE_BUILD_TYPE:' "$cache"))"
  for option in ORVAN_INSTALL ORVAN_BUILD_TESTS ORVAN_BUILD_BENCH ORVAN_BUILD_DEMOS \
    ORVAN_ENABLE_WARNINGS; do
    grep -q "^$option:BOOL=OFF$" "$cache" || fail "$how: $option is not off when embedded"
  done
  installs=$(grep -rl 'file(INSTALL' "$work/$how" --include=cmake_install.cmake)
  [ -z "$installs" ] || fail "$how: the embedded project installs files: $installs"
done

build=$work/add_subdirectory
if [ -f "$build/CMakeCache.txt" ] &&
  run "the consumer builds its client of OrvanMusicEngine::component" \
    cmake --build "$build" --target consumer_player -j2; then
  player=$build/consumer-bin/consumer_player
  [ -x "$player" ] || fail "the consumer's program is not in the consumer's own output folder"
  [ -f "$build/consumer-lib/liborvan_comrt.so.1.0.0" ] ||
    fail "the embedded runtime library is not in the consumer's library folder"
  # Our warning set stays out of an embedding build (its compile commands are in the
  # generator's flag files).
  flag_files=$(find "$build/orvan-music-engine" -name flags.make)
  [ -n "$flag_files" ] || fail "the embedded targets have no flags.make to inspect"
  grep -l -- '-Wconversion' $flag_files &&
    fail "the embedded targets are compiled with the project's warning set"
  export ORVAN_REGISTRY=$work/registry.sqlite3 SDL_AUDIODRIVER=dummy
  run "the suite's component registers in a scratch store" "$regsvr" "$tovel" &&
    run "the consumer plays through the component it created by class identity" \
      "$player" "$theme" 1
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "embedded with add_subdirectory and FetchContent: own folders, no installs, a working client"
