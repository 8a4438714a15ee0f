#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing.
#
#   scripts/install-deps.sh            Linux build and tests (g++ and clang)
#   scripts/install-deps.sh --windows  also MinGW-w64, widl and Wine (x64 and x86)
#   scripts/install-deps.sh --bench    also Google Benchmark and libpcap
#   scripts/install-deps.sh --fuzz     also clang's libFuzzer runtime
#   scripts/install-deps.sh --python   also the Python module's build and tests:
#                                      pybind11, Python headers, numpy, pytest
#   scripts/install-deps.sh --package  also what scripts/package.sh and
#                                      scripts/consumer-check.sh use: dpkg-dev,
#                                      file, lintian, pkg-config, zip, gzip
#
# Needs root to install; without root it only reports what is missing.
set -euo pipefail

want_windows=0 want_bench=0 want_fuzz=0 want_package=0 want_python=0
for arg in "$@"; do
  case "$arg" in
    --windows) want_windows=1 ;;
    --bench) want_bench=1 ;;
    --fuzz) want_fuzz=1 ;;
    --package) want_package=1 ;;
    --python) want_python=1 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

# mingw-w64-tools: widl, which makes the interface header from idl/corvane.idl;
# clang: the build that checks the lock annotations; tshark (with capinfos and
# editcap) and tcpdump (libpcap): the cvrtool tests read exported captures
# with them.
packages=(cmake ninja-build g++ clang googletest libgtest-dev mingw-w64-tools libcli11-dev tshark tcpdump)
[ "$want_bench" = 1 ] && packages+=(libbenchmark-dev libpcap-dev)
[ "$want_fuzz" = 1 ] && packages+=(libclang-rt-14-dev)
[ "$want_windows" = 1 ] && packages+=(mingw-w64 wine wine64 libwine-dev)
[ "$want_python" = 1 ] && packages+=(pybind11-dev python3-dev python3-numpy python3-pytest)
# dpkg-dev: dpkg-shlibdeps for the packages' dependencies; file: CPack finds
# the ELF files with it.
[ "$want_package" = 1 ] && packages+=(dpkg-dev file lintian pkg-config zip gzip)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_wine32=0
if [ "$want_windows" = 1 ]; then
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || need_wine32=1
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_wine32" = 0 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "missing packages: ${missing[*]} $([ "$need_wine32" = 1 ] && echo wine32:i386)" >&2
  echo "run this script as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]} $([ "$need_wine32" = 1 ] && echo wine32:i386)"
apt-get update -qq
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "$need_wine32" = 1 ]; then
  dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq wine32:i386 >/dev/null
fi
