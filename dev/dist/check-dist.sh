#!/usr/bin/env bash
# Checks the bundles `./run dist` wrote: the .deb's files and computed dependencies, lintian, the package unpacked
# where it lies (its nerid --version and a Windows updater packed from it), and the Windows zip's file list.
# Usage: check-dist.sh DIST_DIR RELEASE_BUILD_DIR
set -euo pipefail
DIST=$1
BUILD=$2
fail() { echo "!! dist: $*" >&2; exit 1; }

version=$(sed -n 's/^project(nerid VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
deb=$DIST/nerid_${version}_amd64.deb
zip=$DIST/nerid-${version}-windows-x64.zip
[ -f "$deb" ] || fail "$deb is missing"
[ -f "$zip" ] || fail "$zip is missing"

# The .deb's file list: every shipped file where the desktop, the tool and the docs expect it.
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/nerid ./usr/bin/nerid-programmer ./usr/share/applications/nerid-programmer.desktop \
         ./usr/share/icons/hicolor/64x64/apps/nerid-programmer.png ./usr/share/doc/nerid/README.md \
         ./usr/share/doc/nerid/copyright ./usr/share/doc/nerid/changelog.gz ./usr/share/nerid/nerid-programmer.exe; do
  grep -qxF "$f" <<<"$files" || fail "$deb lacks $f"
done

# Dependencies computed from the binaries: the C library and the window's toolkit, nothing of Qt.
depends=$(dpkg-deb -f "$deb" Depends)
echo "== Depends: $depends"
grep -q 'libc6 (>=' <<<"$depends" || fail "Depends names no versioned libc6: $depends"
grep -q 'libgtk-3-0' <<<"$depends" || fail "Depends lacks the GTK 3 library: $depends"
if grep -qi 'qt' <<<"$depends"; then fail "Depends names Qt: $depends"; fi
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"

# lintian: no error (warnings are printed for the record).
if command -v lintian >/dev/null; then
  report=$(lintian --no-tag-display-limit "$deb" 2>&1 || true)
  [ -z "$report" ] || echo "$report"
  if grep -q '^E:' <<<"$report"; then fail "lintian reports errors"; fi
else
  fail "lintian is not installed"
fi

# The package unpacked where it lies: the tool runs from there and finds the Windows base under ../share/nerid.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/root"
got=$("$work/root/usr/bin/nerid" --version)
grep -qF "$version" <<<"$got" || fail "nerid --version printed '$got', not $version"
"$BUILD/bin/nerid-sample-firmware" -o "$work/firmware.hex"
"$work/root/usr/bin/nerid" pack "$work/firmware.hex" --target windows -o "$work/updater.exe" \
  || fail "nerid pack --target windows failed in the unpacked package"
head -c 2 "$work/updater.exe" | grep -q '^MZ' || fail "the Windows updater is not a PE file"
"$work/root/usr/bin/nerid" info "$work/updater.exe" >/dev/null || fail "nerid info cannot read the Windows updater"

# The Windows zip: the tool, the updater base, README and licence, and nothing else.
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "LICENSE README.md nerid-programmer.exe nerid.exe " ] || fail "$zip holds: $listed"

echo "== dist: $(basename "$deb") $(stat -c %s "$deb") bytes, $(basename "$zip") $(stat -c %s "$zip") bytes: checked"
