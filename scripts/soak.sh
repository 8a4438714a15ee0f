#!/usr/bin/env bash
# The soak run: builds bench/soak (preset linux-bench) and runs it for
# SECONDS (default 600) on /dev/shm when it is a tmpfs with room, else in
# $TMPDIR (default /tmp). A recorder writes 1.02 segments of 64-byte blocks
# while a viewer indexes, reads back and jumps through each closed segment;
# every 10 s one line: elapsed time, records written/s, records read/s,
# jumps/s, resident memory (VmRSS) and open descriptors. Exit code 0 when
# every segment verified and neither memory nor descriptors grew.
#
#   scripts/soak.sh [SECONDS]
#
# Environment: SOAK_SEGMENT_SECONDS (default 2) seconds per segment;
# BENCH_BUILD_DIR (default build/linux-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/soak.sh [SECONDS]" >&2; exit 2 ;;
esac
build=${BENCH_BUILD_DIR:-build/linux-bench}

. scripts/bench-build.sh
bench_build soak.sh soak

# tmpfs keeps the disk out of the figures; 2 GiB free covers a few segments.
base=${TMPDIR:-/tmp}
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
   [ "$(df -Pm /dev/shm | awk 'NR == 2 { print $4 }')" -gt 2048 ]; then
  base=/dev/shm
fi
scratch=$(mktemp -d "$base/corvane-soak.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
CORVANE_BENCH_DIR=$scratch "$build/bin/soak" "$seconds"
