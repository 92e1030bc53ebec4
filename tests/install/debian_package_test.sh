#!/usr/bin/env bash
# Builds the Debian package from the built tree with CPack and checks what dpkg would see:
# the dependencies derived from the shared libraries, the maintainer scripts that register
# and unregister the component, the shlibs file, the file list, and lintian's verdict.
#
#   debian_package_test.sh BUILD_DIR HAVE_COMPONENT "SANITIZE" LIBDIR
# Exit status 0: passed, 1: failed, 77: skipped (the reason on stdout).
set -uo pipefail

build_dir=$1 have_component=$2 sanitize=$3 libdir=$4

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian's dpkg-dev makes the package)"
    exit 77
  fi
done
if [ "$have_component" != 1 ]; then
  echo "SKIP: this build has no component (Tovel) or orvan-regsvr to package"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orvan-deb-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# CPack first builds the whole tree (the Makefile generator's "preinstall" target). The
# suite has built it already, and a test must not build, so CPack is told the tree came
# from a generator without that step; it then only runs the tree's install script.
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" -D CPACK_CMAKE_GENERATOR=Ninja \
  >"$work/cpack.log" 2>&1; then
  echo "FAIL: cpack could not make the package"
  sed 's/^/    /' "$work/cpack.log"
  exit 1
fi
deb=$(find "$work" -maxdepth 1 -name 'orvan-music-engine_*.deb' -print -quit)
if [ -z "$deb" ]; then
  echo "FAIL: cpack made no orvan-music-engine_*.deb"
  exit 1
fi
echo "package: $(basename "$deb")"

# --- Control data ---------------------------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# dpkg-shlibdeps turns every linked library into its package with a minimum version.
for package in libc6 libstdc++6 libfluidsynth3 libsdl2-2.0-0 libsndfile1 libsqlite3-0 libffi8; do
  grep -Eq "(^|, )${package//+/\\+} \(>= [^)]+\)" <<<"$depends" ||
    fail "Depends has no versioned $package (from the shared libraries)"
done
grep -q "timgm6mb-soundfont | sf2-soundfont-gm" <<<"$depends" ||
  fail "Depends does not ask for a General MIDI SoundFont"
grep -q "orvan" <<<"$depends" && fail "Depends names a package for our own libraries"
[ "$(dpkg-deb -f "$deb" Package)" = orvan-music-engine ] || fail "the package is misnamed"

control=$work/control
dpkg-deb -e "$deb" "$control"
tovel=/usr/$libdir/libTovel.so.1.0.0
for script in postinst prerm postrm; do
  [ -x "$control/$script" ] || fail "the maintainer script $script is missing or not executable"
done
grep -q "ORVAN_REGISTRY_SCOPE=system /usr/bin/orvan-regsvr $tovel\$" "$control/postinst" ||
  fail "postinst does not register $tovel in the system store"
grep -q "ORVAN_REGISTRY_SCOPE=system /usr/bin/orvan-regsvr -u $tovel" "$control/prerm" ||
  fail "prerm does not unregister $tovel from the system store"
for script in postinst prerm postrm; do
  sh -n "$control/$script" || fail "$script is not valid sh"
done
grep -q "^liborvan_comrt 1 orvan-music-engine (>= " "$control/shlibs" 2>/dev/null ||
  fail "the shlibs file does not offer liborvan_comrt.so.1"
grep -q "activate-noawait ldconfig" "$control/triggers" 2>/dev/null ||
  fail "the package does not trigger ldconfig for its libraries"

# --- Files ----------------------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/files"
for file in /usr/bin/tovel-play /usr/bin/orvan-regsvr "$tovel" /usr/$libdir/libTovel.so.1 \
  /usr/$libdir/liborvan_engine.so.1.0.0 /usr/$libdir/liborvan_comrt.so.1.0.0 \
  /usr/include/orvan/tovel.h /usr/$libdir/liborvan_comrt.so \
  /usr/$libdir/cmake/OrvanMusicEngine/OrvanMusicEngineTargets.cmake \
  /usr/$libdir/pkgconfig/orvan-music-engine.pc /usr/share/man/man1/tovel-play.1.gz \
  /usr/share/orvan-music-engine/media/Theme.mid /usr/lib/orvan-music-engine/media \
  /usr/share/doc/orvan-music-engine/copyright /usr/share/doc/orvan-music-engine/changelog.gz; do
  grep -qx "$file" "$work/files" || fail "the package does not hold $file"
done
grep -v '^/usr/' "$work/files" | grep -v '^/$' && fail "the package has files outside /usr"
# The client surface only: the engine class is private to the package.
grep -E '^/usr/include/orvan/(engine|platform)/|orvan-music-engine-class\.pc$|/liborvan_(engine|music|ui)\.so$' \
  "$work/files" && fail "the package holds headers or links of the private engine libraries"
# The Python package, bound to the package's runtime library by a path relative to it.
pythondir=/usr/lib/python3/dist-packages/orvan
for file in __init__.py _dispatch.py _installed_tree.py; do
  grep -qx "$pythondir/$file" "$work/files" || fail "the package does not hold $pythondir/$file"
done
dpkg-deb -x "$deb" "$work/root"
bound=$(sed -n 's/^RUNTIME_LIBRARY = "\(.*\)"$/\1/p' "$work/root$pythondir/_installed_tree.py")
[ "$(realpath -m "$pythondir/$bound")" = "/usr/$libdir/liborvan_comrt.so.1" ] ||
  fail "the Python package looks for its runtime at $pythondir/$bound"
grep -q "$build_dir" "$work/files" && fail "the package holds paths of the build tree"

# --- lintian --------------------------------------------------------------------------------
# Sanitized builds are not packages anyone ships; lintian judges the release build.
if [ -n "$sanitize" ]; then
  echo "lintian: not run on a sanitized build"
elif ! command -v lintian >/dev/null; then
  echo "lintian: not installed, not run"
else
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  sed 's/^/    /' "$work/lintian.log"
  grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "Debian package: control data, maintainer scripts and files are as expected"
