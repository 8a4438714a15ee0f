#!/usr/bin/env bash
# Builds and runs a client project against corvane as it is installed, the
# ways a user would:
#
#   scripts/consumer-check.sh [--build DIR] [--debs DIR] [--zip FILE] [PROJECT...]
#
#   PROJECT      a CMake project that does find_package(corvane 1.0 REQUIRED) and
#                links corvane::corvane (default scripts/consumer; several may be
#                given, each is checked the same way). Every *.cc and
#                *.cpp file directly in it is one program: each is also built on
#                its own with pkg-config (and with MinGW for the Wine check), and
#                each is run without arguments in a scratch directory, where it
#                must exit with 0.
#   --build DIR  the Linux build tree to install from (default build/package-linux,
#                as scripts/package.sh leaves it)
#   --debs DIR   also install DIR's libcorvane1, libcorvane-dev and cvrtool
#                (and python3-corvane, when there) packages with apt-get (root only), check against /usr, remove them
#   --zip FILE   also check the x64 Windows zip under Wine: regsvr32 corvane.dll
#                from the unpacked zip, the programs built with MinGW against the
#                zip's headers only
#
# Checks (those with a project's name are made once per project):
#   prefix-cmake P       cmake --install into a temporary prefix; the project
#                        configured with CMAKE_PREFIX_PATH, built and run
#                        (LD_LIBRARY_PATH)
#   prefix-pkg-config P  c++ $(pkg-config --cflags --libs corvane) with
#                        PKG_CONFIG_PATH into the prefix
#   prefix-clean         the installed corvaneTargets*.cmake and corvane.pc name
#                        no -fsanitize or -W flag and no path of the build or
#                        source tree
#   debs-install, debs-cmake P, debs-pkg-config P, debs-cvrtool, debs-python,
#   debs-remove          the same two builds against /usr, cvrtool --help, and
#                        a log written and read by the installed Python module
#   wine-x64             every project's programs under Wine x64, in a fresh prefix
# Ends with one line "N passed, N failed"; exit status 0 when nothing failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=build/package-linux debs="" zip="" projects=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --debs) debs=$2; shift 2 ;;
    --zip) zip=$2; shift 2 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) projects+=("$(cd "$1" && pwd)") || exit 2; shift ;;
  esac
done
[ "${#projects[@]}" -gt 0 ] || projects=("$root/scripts/consumer")
build=$(cd "$build" && pwd) || { echo "no build tree $build (run scripts/package.sh)" >&2; exit 2; }

# use_project DIR: makes DIR the project of the functions below: its
# sources, and its tag in the names of the checks.
use_project() {
  project=$1 tag=$(basename "$1") sources=()
  local f
  for f in "$project"/*.cc "$project"/*.cpp; do
    [ -f "$f" ] && sources+=("$f")
  done
  [ "${#sources[@]}" -gt 0 ] || { echo "no *.cc or *.cpp in $project" >&2; exit 2; }
}
for p in "${projects[@]}"; do use_project "$p"; done

scratch=$(mktemp -d /tmp/corvane-consumer.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# The library's settings store of every run: not the user's.
export CORVANE_REGISTRY=$scratch/registry
passed=0 failed=0

result() {  # result NAME STATUS
  if [ "$2" = 0 ]; then
    echo "consumer-check: $1: ok"; passed=$((passed + 1))
  else
    echo "consumer-check: $1: FAILED"; failed=$((failed + 1))
  fi
}

# run_programs DIR: runs every program of the project from DIR (found by
# the source's base name), each in a directory of its own.
run_programs() {
  local dir=$1 src name exe rc=0
  for src in "${sources[@]}"; do
    name=$(basename "${src%.*}")
    exe=$(find "$dir" -maxdepth 3 -type f -name "$name" -perm -u+x | head -n 1)
    [ -n "$exe" ] || { echo "no program $name in $dir"; rc=1; continue; }
    mkdir -p "$dir/run-$name"
    (cd "$dir/run-$name" && "$exe") || { echo "$name exited with $?"; rc=1; }
  done
  return $rc
}

# cmake_build PREFIX_PATH DIR: configures and builds the project in DIR.
cmake_build() {
  mkdir -p "$(dirname "$2")"
  cmake -S "$project" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        ${1:+-DCMAKE_PREFIX_PATH="$1"} >"$2.log" 2>&1 &&
    cmake --build "$2" >>"$2.log" 2>&1 || { cat "$2.log"; return 1; }
}

# pkg_config_build DIR: builds every source with pkg-config's flags into DIR.
pkg_config_build() {
  local dir=$1 src flags
  mkdir -p "$dir"
  flags=$(pkg-config --cflags --libs corvane) || return 1
  echo "pkg-config --cflags --libs corvane: $flags"
  for src in "${sources[@]}"; do
    # shellcheck disable=SC2086  # the flags are words
    # C++20: the C++ layer corvane.hpp needs it (corvane.h alone needs C++17).
    c++ -std=c++20 -o "$dir/$(basename "${src%.*}")" "$src" $flags || return 1
  done
}

# ---- (a, b) a temporary prefix ----
prefix=$scratch/prefix
if cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  libdir=$(dirname "$(find "$prefix" -name 'libcorvane.so.*' -type f | head -n 1)")
  for p in "${projects[@]}"; do
    use_project "$p"
    (cmake_build "$prefix" "$scratch/$tag/prefix-cmake" &&
       LD_LIBRARY_PATH=$libdir run_programs "$scratch/$tag/prefix-cmake")
    result "prefix-cmake $tag" $?
    (PKG_CONFIG_PATH=$libdir/pkgconfig pkg_config_build "$scratch/$tag/prefix-pkg-config" &&
       LD_LIBRARY_PATH=$libdir run_programs "$scratch/$tag/prefix-pkg-config")
    result "prefix-pkg-config $tag" $?
  done
  # What the package hands to its clients: no flag of the project's own
  # build, no path of the machine it was built on.
  leaks=$(grep -nE -e '-fsanitize|-W[a-z]|'"$root"'|'"$build" \
            "$libdir"/cmake/corvane/corvaneTargets*.cmake "$libdir/pkgconfig/corvane.pc")
  [ -z "$leaks" ] || echo "$leaks"
  result prefix-clean "$([ -z "$leaks" ]; echo $?)"
else
  cat "$scratch/install.log"
  result prefix-install 1
fi

# ---- (c) the Debian packages, installed into /usr ----
if [ -n "$debs" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "consumer-check: debs: skipped, needs root"
  else
    debs=$(cd "$debs" && pwd)
    pkgs=(libcorvane1 libcorvane-dev cvrtool)
    files=("$debs"/libcorvane1_*.deb "$debs"/libcorvane-dev_*.deb "$debs"/cvrtool_*.deb)
    # The Python module's package, when the packages include it.
    python_deb=$(ls "$debs"/python3-corvane_*.deb 2>/dev/null | head -n 1)
    [ -n "$python_deb" ] && pkgs+=(python3-corvane) files+=("$python_deb")
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${files[@]}" >"$scratch/apt.log" 2>&1; then
      result debs-install 0
      for p in "${projects[@]}"; do
        use_project "$p"
        (cmake_build "" "$scratch/$tag/debs-cmake" && run_programs "$scratch/$tag/debs-cmake")
        result "debs-cmake $tag" $?
        (pkg_config_build "$scratch/$tag/debs-pkg-config" &&
           run_programs "$scratch/$tag/debs-pkg-config")
        result "debs-pkg-config $tag" $?
      done
      (/usr/bin/cvrtool --help | head -n 1 && [ -f /usr/share/man/man1/cvrtool.1.gz ])
      result debs-cvrtool $?
      if [ -n "$python_deb" ]; then
        # A log written and read back by the installed module, outside the tree.
        (cd "$scratch" && /usr/bin/python3 -c '
import corvane
with corvane.open("py.cvr", "w") as log:
    log.write(0x50, 1, b"hello")
with corvane.open("py.cvr") as log:
    assert [r.data for r in log] == [b"hello"], "read back"
print(corvane.__file__)')
        result debs-python $?
      fi
    else
      cat "$scratch/apt.log"
      result debs-install 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq "${pkgs[@]}" >"$scratch/apt-remove.log" 2>&1
    result debs-remove $?
  fi
fi

# ---- (d) the x64 zip under Wine ----
if [ -n "$zip" ]; then
  loader=/usr/lib/wine/wine64
  server=$(command -v /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver | head -n 1)
  cxx=x86_64-w64-mingw32-g++-posix
  wine_check() {
    local unpacked=$scratch/zip dir=$scratch/wine top dll exe src log=$scratch/wine.log
    mkdir -p "$unpacked" "$dir" "$scratch/wineprefix"
    (cd "$unpacked" && cmake -E tar xf "$zip") || return 1
    top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    dll=$top/bin/corvane.dll
    [ -f "$dll" ] || { echo "no bin/corvane.dll in $zip"; return 1; }
    local all=() p
    for p in "${projects[@]}"; do
      use_project "$p"
      all+=("${sources[@]}")
    done
    for src in "${all[@]}"; do
      # The zip's headers only; -static: no MinGW runtime DLL beside the program.
      "$cxx" -std=c++20 -static -I"$top/include" -o "$dir/$(basename "${src%.*}").exe" "$src" \
        -lole32 -loleaut32 -luuid || return 1
    done
    export WINEPREFIX=$scratch/wineprefix WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES=mscoree,mshtml=
    # A persistent server, and every Wine output into a file: the services the
    # first call starts must not hold a pipe of this script open.
    { "$server" -p && "$loader" wineboot --init; } >>"$log" 2>&1 </dev/null ||
      { tail -n 20 "$log"; return 1; }
    local windll rc=0
    windll=$("$loader" winepath -w "$dll" 2>>"$log" </dev/null | tr -d '\r')
    "$loader" regsvr32 /s "$windll" >>"$log" 2>&1 </dev/null ||
      { echo "regsvr32 $windll exited with $?"; return 1; }
    echo "regsvr32 $windll: registered"
    for src in "${all[@]}"; do
      exe=$(basename "${src%.*}").exe
      mkdir -p "$dir/run-$exe"
      (cd "$dir/run-$exe" && "$loader" "$dir/$exe" >out.txt 2>err.txt </dev/null)
      local status=$?
      tr -d '\r' <"$dir/run-$exe/out.txt"; tr -d '\r' <"$dir/run-$exe/err.txt" >&2
      [ "$status" = 0 ] || { echo "$exe exited with $status"; rc=1; }
    done
    "$loader" regsvr32 /u /s "$windll" >>"$log" 2>&1 </dev/null ||
      { echo "regsvr32 /u exited with $?"; rc=1; }
    return $rc
  }
  if [ ! -x "$loader" ] || [ -z "$server" ] || ! command -v "$cxx" >/dev/null; then
    echo "consumer-check: wine-x64: needs Wine and MinGW-w64 (scripts/install-deps.sh --windows)"
    result wine-x64 1
  else
    zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
    (wine_check); rc=$?
    WINEPREFIX=$scratch/wineprefix "$server" -k >/dev/null 2>&1
    WINEPREFIX=$scratch/wineprefix "$server" -w >/dev/null 2>&1
    result wine-x64 $rc
  fi
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
