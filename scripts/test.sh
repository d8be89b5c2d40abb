#!/usr/bin/env bash
# Builds Corvane and its tests (installing what they need) and runs every test.
#   scripts/test.sh [--sanitize]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$here/build"
[ "${1:-}" = "--sanitize" ] && build_dir="$here/build-asan"
"$here/scripts/setup.sh" --tests "$@"
export QT_QPA_PLATFORM=offscreen
# Qt's own leak at exit of an abandoned host look-up is not ours (see tests/lsan.supp).
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
