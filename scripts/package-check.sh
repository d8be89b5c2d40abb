#!/usr/bin/env bash
# Checks the Debian package as someone installing it meets it, without touching this
# machine's own system: builds it (scripts/package.sh) unless one is given, lists its files,
# unpacks it into a scratch root and runs both installed programs' --version and --help
# there, validates the desktop entry, the AppStream metadata and the manual pages, runs
# lintian (an error fails, warnings are shown), and installs and removes it with dpkg in the
# scratch root's own database to see that removing it leaves nothing behind.
#   scripts/package-check.sh [--version VERSION] [PACKAGE.deb]
# VERSION: what both programs must print (default: the package's own version).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
package=""
expected_version=""
while [ $# -gt 0 ]; do
  case "$1" in
    --version) expected_version=$2; shift 2 ;;
    *) package=$(realpath "$1"); shift ;;
  esac
done
[ -n "$package" ] || package=$("$here/scripts/package.sh" | tail -1)

work=$(mktemp -d -t corvane-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

echo "== $(basename "$package"): $(du -k "$package" | cut -f1) KiB"
field() { dpkg-deb -f "$package" "$1"; }
version=$(field Version)
[ -n "$expected_version" ] || expected_version=$version
[ "$version" = "$expected_version" ] || fail "package version $version, expected $expected_version"
[ "$(basename "$package")" = "corvane_${version}_$(field Architecture).deb" ] ||
  fail "the file name is not corvane_<version>_<architecture>.deb"
echo "Depends: $(field Depends)"
depends=", $(field Depends | sed 's/ *([^)]*)//g'),"
for dep in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
  [[ "$depends" == *", $dep,"* ]] || fail "Depends lacks $dep (dpkg-shlibdeps)"
done

echo "== files"
dpkg -c "$package" | tee "$work/contents" | awk '{print $1, $6}'
icons=usr/share/icons/hicolor
for f in usr/bin/corvane usr/bin/corvane-cli usr/share/corvane/CORVANE.HLP \
         usr/share/applications/org.halvard.Corvane.desktop \
         usr/share/metainfo/org.halvard.Corvane.metainfo.xml \
         $icons/scalable/apps/corvane.svg $icons/{16x16,22x22,24x24,32x32,48x48,64x64}/apps/corvane.png \
         $icons/{128x128,256x256}/apps/corvane.png \
         usr/share/man/man1/corvane.1.gz usr/share/man/man1/corvane-cli.1.gz \
         usr/share/doc/corvane/copyright usr/share/doc/corvane/changelog.gz; do
  grep -q " \./$f$" "$work/contents" || fail "the package lacks /$f"
done
if awk '{print $2}' "$work/contents" | grep -v '^root/root$' > /dev/null; then
  fail "files not owned by root"
fi

echo "== unpacked in a scratch root"
root="$work/root"
dpkg -x "$package" "$root"
# The window program must answer without any display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for program in corvane corvane-cli; do
  out=$("${no_display[@]}" "$root/usr/bin/$program" --version) || fail "$program --version exited with $?"
  echo "$program --version: $out"
  [ "$out" = "$program $expected_version" ] || fail "$program --version printed '$out'"
  help=$("${no_display[@]}" "$root/usr/bin/$program" --help) || fail "$program --help exited with $?"
  [[ "$help" == "Usage: $program "* ]] || fail "$program --help does not begin with its usage"
  for switch in -file -size -detail -auto -hexonly --help --version; do
    grep -Eq "^  $switch( |$)" <<< "$help" || fail "$program --help has no line for $switch"
  done
done
for page in corvane corvane-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l \
             "$root/usr/share/man/man1/$page.1.gz" 2>&1 > /dev/null) || true
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
desktop-file-validate "$root/usr/share/applications/org.halvard.Corvane.desktop" ||
  fail "desktop-file-validate"
# The metadata, and that it agrees with the desktop entry; anything beyond a pedantic hint
# fails.
appstreamcli validate-tree --no-net --strict "$root" || fail "appstreamcli validate-tree"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$package" | tee "$work/lintian" ||
  fail "lintian reports errors"
[ -s "$work/lintian" ] || echo "(nothing)"

echo "== installed and removed by dpkg in a scratch root"
chroot_root="$work/system"
admin="$chroot_root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
dpkg_scratch=(dpkg --root="$chroot_root" --force-depends --force-not-root --force-script-chrootless
              --log=/dev/null)
"${dpkg_scratch[@]}" -i "$package" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
[ -x "$chroot_root/usr/bin/corvane" ] || fail "dpkg -i installed no /usr/bin/corvane"
"${dpkg_scratch[@]}" -r corvane >> "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
left=$(cd "$chroot_root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' \
       -not -path './var/lib/dpkg' -not -path './var/lib/dpkg/*')
[ -z "$left" ] || fail "removing the package left: $left"
# No conffiles are kept either: the package is gone from dpkg's records.
if "${dpkg_scratch[@]}" -s corvane > /dev/null 2>&1; then
  fail "dpkg still lists corvane after its removal"
fi

if [ "$failed" != 0 ]; then
  exit 1
fi
echo "package check passed"
