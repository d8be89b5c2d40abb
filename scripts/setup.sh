#!/usr/bin/env bash
# Installs the Debian packages that Corvane needs (only those that are missing; as root or
# through sudo), then configures and builds.
#   scripts/setup.sh [--sanitize] [--build-dir DIR] [--type Release|Debug|RelWithDebInfo]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$here/build"
sanitize=OFF
build_type=RelWithDebInfo
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=ON; build_dir="$here/build-asan"; shift ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --type) build_type="$2"; shift 2 ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# Build, tests (Xvfb for the window, Chromium for the HTML Log File check, clang for the fuzz
# targets, tshark for reading the Capture File back), the benchmarks' baselines (socat, xxd)
# and the Debian package (its icon pictures, dpkg-shlibdeps, and the checks of
# scripts/package-check.sh). tshark asks a debconf question, which the noninteractive
# front-end answers.
packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpcap-dev xvfb xauth fonts-liberation fonts-dejavu-core chromium clang
          libclang-rt-14-dev python3 socat xxd tshark librsvg2-bin dpkg-dev file lintian appstream
          desktop-file-utils man-db libssl-dev openssl curl nginx-light)
# The TLS benchmark (bench/tls/run.sh) beside them: haproxy is its baseline relay, wrk its
# load; nginx serves HTTPS behind both, curl downloads and openssl makes the certificate.
packages+=(haproxy wrk)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
      -DCORVANE_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
