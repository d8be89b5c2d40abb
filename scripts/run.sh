#!/usr/bin/env bash
# Builds Corvane (installing what it needs) and starts it; arguments go to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
exec "$here/build/src/app/corvane" "$@"
