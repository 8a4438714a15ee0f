#!/usr/bin/env bash
# The side-by-side benchmark: builds the linux-bench preset, runs the
# benchmark programs of bench/ once each with repetitions, and prints one
# table of ratios (library vs a baseline measured in the same run, medians):
# writing and reading records next to write()/read(), stdio and libpcap,
# reaching a record by Jump next to scans, the cipher next to a XOR pass,
# indexing next to read(), and Jump latency next to pread().
#
#   scripts/bench.sh            full run (about 3 minutes on 2 cores)
#   scripts/bench.sh --quick    small sizes, few repetitions (about a minute)
#
# Data sets go to a fresh directory under $TMPDIR (default /tmp), removed at
# the end; the sizes shrink when the file system has too little room.
#
# Environment (defaults full / --quick):
#   BENCH_REPETITIONS      5 / 3      repetitions of each benchmark
#   BENCH_MIN_TIME         0.2 / 0.05 seconds per repetition, at least
#   LOGFILE2_BENCH_MIB     16 / 4     MiB of records per write or read
#   LOGFILE2_BENCH_PAYLOADS "16 64 256 1024" / "64 1024"
#   INDEX_BENCH_MIB        1024 / 128 size of the indexing log
#   JUMP_BENCH_MESSAGES    10000000 / 1000000  records of the jump log
#   JUMP_BENCH_ITERATIONS  20000 / 5000  jumps per repetition
#   BENCH_BUILD_DIR        build/linux-bench
#   BENCH_OUT              a directory to keep the JSON files and the table in
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
  esac
done
started=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

if [ "$quick" = 1 ]; then
  : "${BENCH_REPETITIONS:=3}" "${BENCH_MIN_TIME:=0.05}" "${LOGFILE2_BENCH_MIB:=4}"
  : "${LOGFILE2_BENCH_PAYLOADS:=64 1024}" "${INDEX_BENCH_MIB:=128}"
  : "${JUMP_BENCH_MESSAGES:=1000000}" "${JUMP_BENCH_ITERATIONS:=5000}"
else
  : "${BENCH_REPETITIONS:=5}" "${BENCH_MIN_TIME:=0.2}" "${LOGFILE2_BENCH_MIB:=16}"
  : "${LOGFILE2_BENCH_PAYLOADS:=16 64 256 1024}" "${INDEX_BENCH_MIB:=1024}"
  : "${JUMP_BENCH_MESSAGES:=10000000}" "${JUMP_BENCH_ITERATIONS:=20000}"
fi
build=${BENCH_BUILD_DIR:-build/linux-bench}

# Packages (Google Benchmark, libpcap): installed as root, else only checked.
if [ "$(id -u)" = 0 ]; then
  scripts/install-deps.sh --bench
else
  scripts/install-deps.sh --bench || echo "bench.sh: trying to build anyway" >&2
fi

echo "== building $build (preset linux-bench)" >&2
mkdir -p build
if ! cmake --preset linux-bench -B "$build" >"$build.configure.log" 2>&1; then
  cat "$build.configure.log" >&2
  exit 1
fi
cmake --build "$build" -j2 --target stream_bench index_bench logfile2_bench reach_bench bench_table >&2
bin=$build/bin

# Scratch space. Needed, in MiB: the indexing log, the jump log and its pcap
# copy (80 bytes a record each), and about eight files per payload size.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
payload_count=$(echo "$LOGFILE2_BENCH_PAYLOADS" | wc -w)
need() { echo $(( INDEX_BENCH_MIB + 2 * JUMP_BENCH_MESSAGES * 80 / 1048576 + 8 * payload_count * LOGFILE2_BENCH_MIB + 256 )); }
free_mib=$(df -Pm "$scratch" | awk 'NR == 2 { print $4 }')
while [ "$(need)" -gt $(( free_mib * 8 / 10 )) ] && [ "$INDEX_BENCH_MIB" -gt 16 ]; do
  INDEX_BENCH_MIB=$(( INDEX_BENCH_MIB / 2 ))
  JUMP_BENCH_MESSAGES=$(( JUMP_BENCH_MESSAGES / 2 ))
  echo "bench.sh: $free_mib MiB free in $scratch: scaled down to a $INDEX_BENCH_MIB MiB indexing log and $JUMP_BENCH_MESSAGES jump records" >&2
done
echo "== scratch $scratch: needs about $(need) MiB, $free_mib MiB free" >&2

export CORVANE_BENCH_DIR=$scratch CORVANE_BENCH_KEEP=1 TMPDIR=$scratch
export CORVANE_REGISTRY=$scratch/registry
export LOGFILE2_BENCH_MIB LOGFILE2_BENCH_PAYLOADS INDEX_BENCH_MIB JUMP_BENCH_MESSAGES JUMP_BENCH_ITERATIONS

# name, filter: each program writes $scratch/<name>.json. reach_bench runs
# after index_bench and reuses its jump log and index (CORVANE_BENCH_KEEP).
run() {
  local name=$1 filter=$2 t0
  t0=$(date +%s)
  echo "== $name (load $(cut -d' ' -f1 /proc/loadavg))" >&2
  "$bin/$name" --benchmark_filter="$filter" \
    --benchmark_repetitions="$BENCH_REPETITIONS" --benchmark_report_aggregates_only=true \
    --benchmark_min_time="$BENCH_MIN_TIME" \
    --benchmark_out="$scratch/$name.json" --benchmark_out_format=json >"$scratch/$name.txt"
  echo "   $(( $(date +%s) - t0 )) s" >&2
}
run stream_bench 'BM_XorPass|Encipher/(shared|e100)|Decipher/(shared|e100)'
run logfile2_bench '.'
run index_bench '.'
run reach_bench '.'

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
compiler=$(grep '^CMAKE_CXX_COMPILER:' "$build/CMakeCache.txt" | cut -d= -f2)
compiler_version=$("$compiler" --version | head -1)
elapsed=$(( $(date +%s) - started ))
mode=""; [ "$quick" = 1 ] && mode=" --quick"
table=$("$bin/bench_table" \
  --header "machine: $cpu, $(nproc) cores, Linux $(uname -r), $compiler_version, $(date -u '+%Y-%m-%d %H:%M UTC')" \
  --header "command: scripts/bench.sh$mode ($elapsed s); load average $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end" \
  --header "sizes: $LOGFILE2_BENCH_MIB MiB per write/read, payloads $LOGFILE2_BENCH_PAYLOADS; indexing log $INDEX_BENCH_MIB MiB; jump log $JUMP_BENCH_MESSAGES records of 64 bytes, $JUMP_BENCH_ITERATIONS jumps" \
  "$scratch"/stream_bench.json "$scratch"/logfile2_bench.json "$scratch"/index_bench.json "$scratch"/reach_bench.json)
echo "$table"
if [ -n "${BENCH_OUT:-}" ]; then
  mkdir -p "$BENCH_OUT"
  cp "$scratch"/*.json "$scratch"/*.txt "$BENCH_OUT"/
  echo "$table" >"$BENCH_OUT/table.md"
fi
