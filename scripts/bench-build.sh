# Sourced by scripts/bench.sh and scripts/soak.sh, with $build set:
# bench_build CALLER TARGET... installs the benchmark packages (as root;
# otherwise it only checks them) and builds TARGETS in the linux-bench preset.
bench_build() {
  local caller=$1
  shift
  if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh --bench
  else
    scripts/install-deps.sh --bench || echo "$caller: trying to build anyway" >&2
  fi
  echo "== building $build (preset linux-bench)" >&2
  mkdir -p build
  if ! cmake --preset linux-bench -B "$build" >"$build.configure.log" 2>&1; then
    cat "$build.configure.log" >&2
    exit 1
  fi
  cmake --build "$build" -j2 --target "$@" >&2
}
