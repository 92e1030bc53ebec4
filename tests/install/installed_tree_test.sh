#!/usr/bin/env bash
# Installs the built tree into a temporary prefix and checks that it is usable as a
# library from anywhere: the layout, sonames and run paths; then builds the CMake and the
# Makefile example clients against it and plays music through the registered component;
# then moves the prefix and does it again, re-registering at the new place.
#
#   installed_tree_test.sh SOURCE_DIR BUILD_DIR CXX "SANITIZER_FLAGS" HAVE_COMPONENT LIBDIR
# Exit status 0: passed, 1: failed, 77: skipped (the reason on stdout).
set -uo pipefail

source_dir=$1 build_dir=$2 cxx=$3 sanitizer_flags=$4 have_component=$5 libdir=$6

if [ "$have_component" != 1 ]; then
  echo "SKIP: this build has no component (Tovel), component runtime or orvan-regsvr to install"
  exit 77
fi
for tool in readelf make pkg-config; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

source "$(dirname "${BASH_SOURCE[0]}")/check_support.sh" install-test

export SDL_AUDIODRIVER=dummy
export ORVAN_REGISTRY=$work/registry.sqlite3
theme_relative=share/orvan-music-engine/media/Theme.mid

# --- Layout of one installed prefix ---------------------------------------------------------
check_layout() {
  local prefix=$1
  local lib
  for lib in orvan_com orvan_ui orvan_music orvan_engine orvan_comrt Tovel; do
    local real=$prefix/$libdir/lib$lib.so.1.0.0
    if [ ! -f "$real" ] || [ -L "$real" ]; then
      fail "lib$lib.so.1.0.0 is not installed as a file"
      continue
    fi
    local soname
    soname=$(readelf -d "$real" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "lib$lib.so.1" ] || fail "lib$lib has soname '$soname', not lib$lib.so.1"
    [ "$(readlink "$prefix/$libdir/lib$lib.so.1")" = "lib$lib.so.1.0.0" ] ||
      fail "lib$lib.so.1 does not link to lib$lib.so.1.0.0"
    case $lib in
      orvan_ui | orvan_music | orvan_engine)
        # Private to the component and tovel-play: nothing links them from outside.
        [ -e "$prefix/$libdir/lib$lib.so" ] && fail "lib$lib.so is installed for linking"
        ;;
      *)
        [ -L "$prefix/$libdir/lib$lib.so" ] || fail "lib$lib.so (the link for linking) is missing"
        ;;
    esac
  done

  # Every run path must be relative to the file itself, or the tree could not move.
  local elf path
  while IFS= read -r elf; do
    path=$(readelf -d "$elf" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
    local entry
    IFS=: read -r -a entries <<<"$path"
    for entry in "${entries[@]}"; do
      case "$entry" in
        '$ORIGIN' | '$ORIGIN/'*) ;;
        *) fail "${elf#"$prefix"/} has the run path '$entry', which is not relative" ;;
      esac
    done
  done < <(find "$prefix" -type f \( -name '*.so*' -o -perm -u+x \) -print)

  local file
  for file in include/orvan/tovel.h include/orvan/component_runtime.h \
    "$libdir/cmake/OrvanMusicEngine/OrvanMusicEngineConfig.cmake" \
    "$libdir/pkgconfig/orvan-music-engine.pc" \
    bin/tovel-play bin/orvan-regsvr share/man/man1/tovel-play.1.gz \
    share/doc/orvan-music-engine/README.md "$theme_relative"; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
  done
  # Only the client surface: no header of the engine class or the platform behind it, no
  # way to link the engine class, and no client header that reaches into either.
  for file in include/orvan/engine include/orvan/platform "$libdir/pkgconfig/orvan-music-engine-class.pc"; do
    [ -e "$prefix/$file" ] && fail "$file is installed, though it is no client's"
  done
  local included
  included=$(grep -rhE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(platform|engine)/' \
    "$prefix/include" 2>/dev/null)
  [ -z "$included" ] || fail "an installed header includes an internal one: $included"
  grep -q 'OrvanMusicEngine::engine' "$prefix/$libdir/cmake/OrvanMusicEngine/OrvanMusicEngineTargets.cmake" &&
    fail "the CMake package offers the engine class"
  # The window programs find their music in "media" beside their own folder, which they
  # learn from /proc/self/exe: the folder of the file the bin/ link resolves to.
  local program
  for program in Seek Duvane; do
    [ -e "$build_dir/bin/$program" ] || continue
    local target
    target=$(readlink -f "$prefix/bin/$program")
    [ -x "$target" ] || fail "bin/$program does not lead to the program"
    [ -f "$(dirname "$target")/../media/Theme.mid" ] ||
      fail "$program's folder has no media/Theme.mid beside it"
  done
}

# --- Clients built against one installed prefix ---------------------------------------------
check_clients() {
  local prefix=$1 tag=$2
  local theme=$prefix/$theme_relative
  run "orvan-regsvr registers the installed component ($tag)" \
    "$prefix/bin/orvan-regsvr" "$prefix/$libdir/libTovel.so.1.0.0" || return

  local cmake_build=$work/cmake-client-$tag
  run "the CMake client configures against the $tag prefix" \
    cmake -S "$source_dir/examples/cmake_client" -B "$cmake_build" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$sanitizer_flags" -DCMAKE_EXE_LINKER_FLAGS="$sanitizer_flags" &&
    run "the CMake client builds against the $tag prefix" \
      cmake --build "$cmake_build" -j2 &&
    run "the CMake client plays through the component ($tag)" \
      "$cmake_build/play_by_class_id" "$theme" 1
  grep -q "CMAKE_PREFIX_PATH:.*=$prefix" "$cmake_build/CMakeCache.txt" 2>/dev/null ||
    fail "the CMake client did not use the $tag prefix"

  # The Makefile example builds the CMake example's source from the folder beside it.
  local make_build=$work/examples-$tag/makefile_client
  mkdir -p "$work/examples-$tag"
  cp -r "$source_dir/examples/makefile_client" "$source_dir/examples/cmake_client" "$work/examples-$tag"
  # Flags through the environment: the Makefile appends to them.
  run "the Makefile client builds against the $tag prefix" \
    env PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" CXX="$cxx" \
    CXXFLAGS="$sanitizer_flags" LDFLAGS="$sanitizer_flags" make -C "$make_build" &&
    run "the Makefile client plays through the component ($tag)" \
      "$make_build/play_midi" "$theme" 1

  local pc_prefix
  pc_prefix=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" \
    pkg-config --variable=prefix orvan-music-engine)
  [ "$(realpath "$pc_prefix")" = "$(realpath "$prefix")" ] ||
    fail "pkg-config places the $tag prefix at $pc_prefix"
  run "the installed tovel-play runs from the $tag prefix" \
    "$prefix/bin/tovel-play" --info "$theme"

  # The Python package finds the runtime of its own tree, with no LD_LIBRARY_PATH. A
  # sanitized build's libraries cannot load into an uninstrumented interpreter.
  local pythondir=$prefix/lib/python3/dist-packages
  if [ -n "$sanitizer_flags" ]; then
    echo "python: not run against a sanitized build"
  elif [ ! -f "$pythondir/orvan/_installed_tree.py" ]; then
    fail "the Python package is not installed in lib/python3/dist-packages ($tag)"
  else
    run "the installed Python package plays through the component ($tag)" \
      env -u LD_LIBRARY_PATH -u ORVAN_RUNTIME_LIBRARY PYTHONPATH="$pythondir" python3 -c "
import orvan, sys
m = orvan.Dispatch('OrvanMusicEngine.OrvanMusic')
m.InitOrvanAudio(0, SampleRate=48000)
m.Music_Load(sys.argv[1])
m.Music_Play(nLoop=0)
assert m.GetLengh() > 0
assert orvan._native.runtime()._name.startswith(sys.argv[2]), orvan._native.runtime()._name
" "$theme" "$prefix/"
  fi
}

first=$work/first/usr
if run "cmake --install into a temporary prefix" \
  cmake --install "$build_dir" --prefix "$first"; then
  check_layout "$first"
  check_clients "$first" first
  moved=$work/moved/elsewhere
  mkdir -p "$(dirname "$moved")"
  mv "$first" "$moved"
  check_clients "$moved" moved
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed tree: layout, example clients and a moved prefix all work"
