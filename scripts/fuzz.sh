#!/usr/bin/env bash
# Builds the fuzz targets (preset linux-fuzz: clang, libFuzzer, address and
# undefined-behaviour sanitizers), writes the seed corpus with the library's
# own writers, and runs each target for a while, one after the other.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60; without TARGETs every target runs.
# Per target it prints executions, executions per second, coverage (edges
# and features) and the number of findings. A finding (crash, leak, hang of
# more than 10 s, excessive memory) is kept as
# build/linux-fuzz/findings/<target>/<kind>-<hash>; reproduce it with
# build/linux-fuzz/bin/<target> FILE. The corpus grows in
# build/linux-fuzz/corpus/<target>/ from run to run; fuzz/regressions/<target>/
# holds inputs of fixed findings, replayed first by every run.
#
# Environment: FUZZ_BUILD_JOBS (default 2) for the build, FUZZ_EXTRA for
# more libFuzzer options, FUZZ_TMPDIR for the targets' scratch directory
# (default /dev/shm when writable; it holds the settings store, while the
# logs and companion files of a run live in the targets' in-memory file
# system).
#
# Exit status 0 when no target had a finding. The last line reads
# "N passed, N failed" (targets).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]" >&2; exit 2 ;;
esac

scripts/install-deps.sh --fuzz || exit 1
build=build/linux-fuzz
mkdir -p build
if ! cmake --preset linux-fuzz >build/configure-linux-fuzz.log 2>&1; then
  cat build/configure-linux-fuzz.log
  echo "0 passed, 1 failed"; exit 1
fi
if ! cmake --build --preset linux-fuzz -j"${FUZZ_BUILD_JOBS:-2}"; then
  echo "0 passed, 1 failed"; exit 1
fi

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  mapfile -t targets < <(find "$build/bin" -maxdepth 1 -name '*_fuzz' -type f -printf '%f\n' | sort)
fi

"$build/bin/make_seeds" "$build/corpus" || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$build/logs" "$build/findings"

if [ -n "${FUZZ_TMPDIR:-}" ]; then
  export TMPDIR="$FUZZ_TMPDIR"
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

passed=0 failed=0
printf '%-24s %12s %9s %8s %8s %s\n' target executions exec/s edges features findings
for t in "${targets[@]}"; do
  bin="$build/bin/$t"
  if [ ! -x "$bin" ]; then
    echo "$t: no such target" >&2; failed=$((failed + 1)); continue
  fi
  corpus="$build/corpus/$t" findings="$build/findings/$t" log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  dirs=("$corpus")
  [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
  before=$(find "$findings" -type f | wc -l)
  touch "$log.start"
  # shellcheck disable=SC2086
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -dict=fuzz/corvane.dict -artifact_prefix="$findings/" -print_final_stats=1 \
    ${FUZZ_EXTRA:-} "${dirs[@]}" >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  edges=$(echo "$cov" | awk '{print $2}') features=$(echo "$cov" | awk '{print $4}')
  after=$(find "$findings" -type f | wc -l)
  new=$((after - before))
  note=""
  if [ "$rc" != 0 ] || [ "$new" -gt 0 ]; then
    failed=$((failed + 1))
    note=" (exit $rc; see $log)"
    [ "$new" -gt 0 ] && note="$note: $(find "$findings" -type f -newer "$log.start" 2>/dev/null | head -n 3 | tr '\n' ' ')"
  else
    passed=$((passed + 1))
  fi
  printf '%-24s %12s %9s %8s %8s %s%s\n' "$t" "${execs:-?}" "${rate:-?}" "${edges:-?}" \
    "${features:-?}" "$new" "$note"
done

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
