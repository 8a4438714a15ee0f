#!/usr/bin/env bash
# Builds the packages of corvane into OUTDIR (default dist/):
#
#   libcorvane1_<version>_amd64.deb, libcorvane-dev_..., cvrtool_...,
#   python3-corvane_...      (the last when the build has the Python module:
#                            scripts/install-deps.sh --python)
#                            from a Release build (build/package-linux), by
#                            CPack; lintian checks each one (errors fail)
#   corvane-<version>-win64.zip, corvane-<version>-win32.zip
#                            cmake --install of the MinGW builds (x64 and x86):
#                            bin/ (corvane.dll, corvane.tlb, cvrtool.exe), lib/
#                            (import library), include/corvane/, README.md and
#                            docs/formats.md
#
#   scripts/package.sh [--reuse] [--linux-only] [OUTDIR]
#
#   --reuse       take the builds scripts/test.sh has made (build/linux-release,
#                 build/mingw-x64, build/mingw-x86) instead of building
#                 build/package-linux, build/package-win64, build/package-win32
#   --linux-only  the Debian packages only
#
# The version is the project's (CMakeLists.txt). Needs the packages of
# scripts/install-deps.sh --package (and --windows for the zips).
set -euo pipefail
cd "$(dirname "$0")/.."

reuse=0 linux_only=0 out=dist
for arg in "$@"; do
  case "$arg" in
    --reuse) reuse=1 ;;
    --linux-only) linux_only=1 ;;
    -*) echo "unknown option: $arg" >&2; exit 2 ;;
    *) out=$arg ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
jobs=$(nproc)

# configure DIR PRESET: the preset's compilers in DIR; a build of its own is
# Release without tests, a reused one keeps its settings. Either way the
# packages install into /usr (and GNUInstallDirs picks the multiarch libdir).
configure() {
  local dir=$1 preset=$2
  if [ "$reuse" = 1 ]; then
    [ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
    cmake "$dir" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  else
    cmake --preset "$preset" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF \
          -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  fi
}

version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

# ---- Debian packages ----
linux=build/package-linux
[ "$reuse" = 1 ] && linux=build/linux-release
echo "=== Debian packages from $linux ==="
configure "$linux" linux-release
python=$(sed -n 's/^CORVANE_BUILD_PYTHON:BOOL=//p' "$linux/CMakeCache.txt")
targets=(corvane cvrtool corvane_man)
[ "$python" = ON ] && targets+=(corvane_python)
cmake --build "$linux" -j"$jobs" --target "${targets[@]}"
version=$(version_of "$linux")
rm -f "$out"/libcorvane1_*.deb "$out"/libcorvane-dev_*.deb "$out"/cvrtool_*.deb "$out"/python3-corvane_*.deb
(cd "$linux" && cpack -G DEB -B "$out/.cpack" >"$out/.cpack.log" 2>&1) ||
  { cat "$out/.cpack.log"; exit 1; }
mv "$out"/.cpack/*.deb "$out"/
rm -rf "$out/.cpack" "$out/.cpack.log"
debs=("$out"/libcorvane1_"$version"_*.deb "$out"/libcorvane-dev_"$version"_*.deb
      "$out"/cvrtool_"$version"_*.deb)
[ "$python" = ON ] && debs+=("$out"/python3-corvane_"$version"_*.deb)
for deb in "${debs[@]}"; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done
echo "--- lintian"
rc=0
lintian "${debs[@]}" >"$out/.lintian.log" 2>&1 || rc=$?
grep -v "running with root privileges" "$out/.lintian.log" || true
rm -f "$out/.lintian.log"
[ "$rc" = 0 ] || { echo "lintian reports errors (exit $rc)"; exit 1; }
echo "lintian: no errors"

# ---- Windows zips ----
if [ "$linux_only" = 0 ]; then
  for arch in x64 x86; do
    if [ "$arch" = x64 ]; then flavour=win64; else flavour=win32; fi
    dir=build/package-$flavour
    [ "$reuse" = 1 ] && dir=build/mingw-$arch
    echo "=== Windows zip ($arch) from $dir ==="
    configure "$dir" "mingw-$arch"
    cmake --build "$dir" -j"$jobs" --target corvane cvrtool
    name=corvane-$(version_of "$dir")-$flavour
    stage=$(mktemp -d /tmp/corvane-zip.XXXXXX)
    # --strip: the zips carry no debug information, as the Release packages.
    cmake --install "$dir" --prefix "$stage/$name" --strip >/dev/null
    rm -f "$out/$name.zip"
    (cd "$stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
    (cd "$stage" && find "$name" -type f | sort | sed 's/^/  /')
    rm -rf "$stage"
  done
fi

echo "=== $out"
ls -l "$out"
