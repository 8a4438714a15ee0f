#!/usr/bin/env bash
# The benchmark table: builds the linux-bench preset, runs the benchmark
# programs of bench/ with repetitions, and prints ONE Markdown table: every
# library row next to its peer measured in the same run, the ratio of the
# medians, the spread of the rounds, the goal, a MISS mark where the goal is
# missed, and the peak resident memory of whole-file passes. Rows: writing
# and reading records (1.02, e1.02, u1.02 through LogFile2; e1.00, e1.01,
# 01.00 and a hex dump through LogFile) next to stdio, write()/read() and
# libpcap; indexing next to read(); Jump latency; cvrtool verify of an
# enciphered log next to the plain one; peak memory of every path over a
# 1 GiB log, cvrtool verify/dump/info/index included; reaching a record by
# Jump next to scans; the cipher next to a XOR pass. bench/README.md says
# how to read it.
#
#   scripts/bench.sh [--quick] [--dir DIR]
#     --quick     small sizes, 3 rounds (under a minute)
#     --dir DIR   where the data sets go (default: /dev/shm, a tmpfs; also
#                 BENCH_DIR); a fresh directory inside it, removed at the end
#
# The full run takes about 9 minutes on 2 cores. When DIR lacks room the
# memory log, then the indexing and jump logs shrink; the table's header
# says so.
#
# Environment (defaults full / --quick):
#   BENCH_REPETITIONS      5 / 3      rounds of each benchmark
#   BENCH_MIN_TIME         0.5 / 0.05 seconds per round, at least
#   LOGFILE2_BENCH_MIB     16 / 4     MiB of records per write or read
#   LOGFILE_BENCH_MIB      4 / 1      the same for the LogFile rows (slow)
#   LOGFILE2_BENCH_PAYLOADS "16 64 256 1024" / "64 1024"
#   INDEX_BENCH_MIB        128 / 16   size of each indexing log
#   JUMP_BENCH_MESSAGES    10000000 / 1000000  records of the jump log
#   JUMP_BENCH_ITERATIONS  20000 / 5000  jumps per round
#   MEMORY_BENCH_MIB       1024 / 64  size of the memory logs (1024-byte payloads)
#   BENCH_BUILD_DIR        build/linux-bench
#   BENCH_OUT              a directory to keep the JSON files and the table in
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
base=${BENCH_DIR:-}
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --dir) base=${2:?--dir needs a directory}; shift ;;
    -h|--help) sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: scripts/bench.sh [--quick] [--dir DIR]" >&2; exit 2 ;;
  esac
  shift
done
# tmpfs by default (/tmp where there is no /dev/shm); a named directory must exist.
if [ -z "$base" ]; then
  base=/dev/shm
  [ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
elif ! [ -d "$base" ] || ! [ -w "$base" ]; then
  echo "bench.sh: $base is not a writable directory" >&2
  exit 2
fi
started=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

if [ "$quick" = 1 ]; then
  : "${BENCH_REPETITIONS:=3}" "${BENCH_MIN_TIME:=0.05}" "${LOGFILE2_BENCH_MIB:=4}" "${LOGFILE_BENCH_MIB:=1}"
  : "${LOGFILE2_BENCH_PAYLOADS:=64 1024}" "${INDEX_BENCH_MIB:=16}" "${MEMORY_BENCH_MIB:=64}"
  : "${JUMP_BENCH_MESSAGES:=1000000}" "${JUMP_BENCH_ITERATIONS:=5000}"
else
  : "${BENCH_REPETITIONS:=5}" "${BENCH_MIN_TIME:=0.5}" "${LOGFILE2_BENCH_MIB:=16}" "${LOGFILE_BENCH_MIB:=4}"
  : "${LOGFILE2_BENCH_PAYLOADS:=16 64 256 1024}" "${INDEX_BENCH_MIB:=128}" "${MEMORY_BENCH_MIB:=1024}"
  : "${JUMP_BENCH_MESSAGES:=10000000}" "${JUMP_BENCH_ITERATIONS:=20000}"
fi
build=${BENCH_BUILD_DIR:-build/linux-bench}

. scripts/bench-build.sh
bench_build bench.sh stream_bench index_bench logfile2_bench reach_bench memory_bench bench_table cvrtool
bin=$build/bin

# Scratch space, in MiB: the indexing logs, the jump log and its pcap copy
# (80 bytes a record each), the two memory logs, and about fourteen files
# per payload size.
scratch=$(mktemp -d "$base/corvane-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
payload_count=$(echo "$LOGFILE2_BENCH_PAYLOADS" | wc -w)
need() {
  echo $(( payload_count * (INDEX_BENCH_MIB + 14 * LOGFILE2_BENCH_MIB) + 2 * JUMP_BENCH_MESSAGES * 80 / 1048576 \
           + 2 * MEMORY_BENCH_MIB + 256 ))
}
free_mib=$(df -Pm "$scratch" | awk 'NR == 2 { print $4 }')
shrunk=""
while [ "$(need)" -gt $(( free_mib * 8 / 10 )) ] && [ "$MEMORY_BENCH_MIB" -gt 64 ]; do
  MEMORY_BENCH_MIB=$(( MEMORY_BENCH_MIB / 2 ))
  shrunk=" (shrunk: $free_mib MiB free in $base)"
done
while [ "$(need)" -gt $(( free_mib * 8 / 10 )) ] && [ "$INDEX_BENCH_MIB" -gt 16 ]; do
  INDEX_BENCH_MIB=$(( INDEX_BENCH_MIB / 2 ))
  JUMP_BENCH_MESSAGES=$(( JUMP_BENCH_MESSAGES / 2 ))
  shrunk=" (shrunk: $free_mib MiB free in $base)"
done
echo "== scratch $scratch: needs about $(need) MiB, $free_mib MiB free$shrunk" >&2

export CORVANE_BENCH_DIR=$scratch CORVANE_BENCH_KEEP=1 TMPDIR=$scratch
export CORVANE_REGISTRY=$scratch/registry CVRTOOL=$bin/cvrtool
export LOGFILE2_BENCH_MIB LOGFILE_BENCH_MIB LOGFILE2_BENCH_PAYLOADS INDEX_BENCH_MIB JUMP_BENCH_MESSAGES \
  JUMP_BENCH_ITERATIONS MEMORY_BENCH_MIB

# name, filter, interleave: each program writes $scratch/<name>.json with
# every round. Interleaved programs run their rounds in random order, so a
# library row and its peer see the same changes of load on the shared
# machine; memory_bench runs in order (its logs are written by its first
# rows). reach_bench runs after index_bench and reuses its jump log and index
# (CORVANE_BENCH_KEEP); each program's files go once it is done.
run() {
  local name=$1 filter=$2 interleave=$3 t0
  t0=$(date +%s)
  echo "== $name (load $(cut -d' ' -f1 /proc/loadavg))" >&2
  "$bin/$name" --benchmark_filter="$filter" --benchmark_enable_random_interleaving="$interleave" \
    --benchmark_repetitions="$BENCH_REPETITIONS" --benchmark_display_aggregates_only=true \
    --benchmark_min_time="$BENCH_MIN_TIME" \
    --benchmark_out="$scratch/$name.json" --benchmark_out_format=json >"$scratch/$name.txt"
  echo "   $(( $(date +%s) - t0 )) s" >&2
}
run stream_bench 'BM_XorPass|Encipher/(shared|e100)|Decipher/(shared|e100)' true
rm -f "$scratch/corvane-bench.cvr"
run logfile2_bench '.' true
rm -rf "$scratch/corvane-logfile2-bench"
run index_bench '.' true
run reach_bench '.' true
rm -rf "$scratch/corvane-index-bench"
run memory_bench '.' false
rm -rf "$scratch/corvane-memory-bench"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
compiler=$(grep '^CMAKE_CXX_COMPILER:' "$build/CMakeCache.txt" | cut -d= -f2)
compiler_version=$("$compiler" --version | head -1)
elapsed=$(( $(date +%s) - started ))
mode=""; [ "$quick" = 1 ] && mode=" --quick"
table=$("$bin/bench_table" \
  --header "machine: $cpu, $(nproc) cores, Linux $(uname -r), $compiler_version, $(date -u '+%Y-%m-%d %H:%M UTC')" \
  --header "command: scripts/bench.sh$mode ($elapsed s, files in $base, $(df -PT "$base" | awk 'NR == 2 { print $2 }')); load average $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end" \
  --header "sizes: $LOGFILE2_BENCH_MIB MiB per write/read ($LOGFILE_BENCH_MIB MiB for LogFile), payloads $LOGFILE2_BENCH_PAYLOADS B; indexing logs $INDEX_BENCH_MIB MiB; jump log $JUMP_BENCH_MESSAGES records of 64 B, $JUMP_BENCH_ITERATIONS jumps; memory logs $MEMORY_BENCH_MIB MiB of 1024 B payloads$shrunk" \
  "$scratch"/stream_bench.json "$scratch"/logfile2_bench.json "$scratch"/index_bench.json \
  "$scratch"/reach_bench.json "$scratch"/memory_bench.json)
echo "$table"
if [ -n "${BENCH_OUT:-}" ]; then
  mkdir -p "$BENCH_OUT"
  cp "$scratch"/*.json "$scratch"/*.txt "$BENCH_OUT"/
  echo "$table" >"$BENCH_OUT/table.md"
fi
