#!/usr/bin/env bash
# The long soak: a thousand Connections at once through corvane-cli for half an hour (or the
# seconds given), with random traffic, endings, slow readers, pauses and resumes.
#   scripts/soak.sh [seconds]           (default: CORVANE_SOAK_SECONDS, else 1800)
# CORVANE_SOAK_CONNECTIONS sets the number at once, CORVANE_SOAK_SEED the random seed,
# CORVANE_BUILD_DIR the build directory (default build/, configured when missing).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="${CORVANE_BUILD_DIR:-$here/build}"
seconds="${1:-${CORVANE_SOAK_SECONDS:-1800}}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build_dir" --target corvane_soak_tests
CORVANE_SOAK_SECONDS="$seconds" exec "$build_dir/tests/soak/corvane_soak_tests"
