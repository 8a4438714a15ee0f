#!/usr/bin/env bash
# Builds the library and runs the main job: a small client that writes a
# legacy block log with the Corvane object and reads every block back, then
# a tour of cvrtool on a demo log (scripts/tour.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j"$(nproc)"
mkdir -p build/demo
build/linux-release/bin/legacy_example build/demo/example.log
scripts/tour.sh build/linux-release/bin
