#!/usr/bin/env bash
# Builds the Debian package corvane_<version>_amd64.deb with CPack's DEB generator: a build
# of the programs alone (no tests, no benchmarks), Release, with Debian's build flags
# (dpkg-buildflags, every hardening feature on) and prefix /usr. The dependencies are the
# ones dpkg-shlibdeps finds. Prints the package's path as its last line.
#   scripts/package.sh [--build-dir DIR]          (default: build-pkg/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$here/build-pkg"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

for tool in cmake cpack dpkg-buildflags dpkg-shlibdeps dpkg-deb rsvg-convert gzip; do
  command -v "$tool" > /dev/null ||
    { echo "package.sh: $tool is missing (scripts/setup.sh --tests installs it)" >&2; exit 1; }
done

# From the source folder, so that the flags map its paths (-ffile-prefix-map) wherever the
# script is started from.
cd "$here"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
mkdir -p "$build_dir"
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF -DCORVANE_SANITIZE=OFF \
      -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "${launcher[@]}" \
      > "$build_dir/package-configure.log" 2>&1 ||
  { tail -40 "$build_dir/package-configure.log" >&2; exit 1; }
cmake --build "$build_dir" -j "$(nproc)" > "$build_dir/package-build.log" 2>&1 ||
  { grep -v '^\[' "$build_dir/package-build.log" | tail -40 >&2; exit 1; }
rm -f "$build_dir"/corvane_*.deb
(cd "$build_dir" && cpack -G DEB) > "$build_dir/package-cpack.log" 2>&1 ||
  { tail -40 "$build_dir/package-cpack.log" >&2; exit 1; }
package=$(ls "$build_dir"/corvane_*.deb)
echo "$package"
