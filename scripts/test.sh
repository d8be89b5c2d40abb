#!/usr/bin/env bash
# Builds Corvane and its tests (installing what they need) and runs every test.
#   scripts/test.sh [--sanitize]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$here/build"
[ "${1:-}" = "--sanitize" ] && build_dir="$here/build-asan"
"$here/scripts/setup.sh" "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
