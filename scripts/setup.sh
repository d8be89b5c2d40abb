#!/usr/bin/env bash
# Installs the Debian packages that Corvane needs (only those that are missing; as root or
# through sudo), then configures and builds.
#   scripts/setup.sh [--tests] [--sanitize] [--build-dir DIR] [--type Release|Debug|RelWithDebInfo]
# Without --tests: what building and running the two programs needs, no more. With --tests
# (scripts/test.sh gives it): also what the tests, the benchmarks, the fuzz targets and the
# package's check need, and the tests and benchmarks are built.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$here/build"
sanitize=OFF
build_type=RelWithDebInfo
tests=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) tests=1; shift ;;
    --sanitize) sanitize=ON; build_dir="$here/build-asan"; shift ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --type) build_type="$2"; shift 2 ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# Building: the compiler, CMake and Ninja, Qt (its platform plugins and OpenGL headers come
# with qt6-base-dev), libpcap through pkg-config, OpenSSL. Running: the fonts the window
# shows ("Courier New" is Liberation Mono here; DejaVu for the rest).
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libpcap-dev libssl-dev
          fonts-liberation fonts-dejavu-core)
# The tests and benchmarks beside them: GoogleTest and Google Benchmark; Xvfb for the window
# under a display (the UI benchmarks, screenshots); Chromium and Python for the HTML Log
# File check; clang for the fuzz targets; tshark to read the Capture File back; curl,
# openssl and nginx as TLS peers; the benchmarks' baselines (socat and haproxy relays, xxd
# dumps, wrk load); the Debian package's build and check (its icon pictures, dpkg-shlibdeps,
# lintian, the desktop entry, AppStream and manual page checks). tshark asks a debconf
# question, which the noninteractive front-end answers.
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth chromium python3 clang
               libclang-rt-14-dev tshark openssl curl nginx-light socat xxd haproxy wrk
               librsvg2-bin dpkg-dev file lintian appstream desktop-file-utils man-db)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
wanted=("${packages[@]}")
[ "$tests" -eq 0 ] || wanted+=("${test_packages[@]}")
missing=()
for p in "${wanted[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests and benchmarks are built with --tests, and also where what they need is here
# already, so that a tree set up for testing keeps them; otherwise the programs alone.
with_tests=OFF
if [ "$tests" -eq 1 ] || { installed libgtest-dev && installed libgmock-dev &&
                            installed libbenchmark-dev; }; then
  with_tests=ON
fi
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
      -DCORVANE_SANITIZE="$sanitize" -DCORVANE_BUILD_TESTS="$with_tests" \
      -DCORVANE_BUILD_BENCH="$with_tests" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
