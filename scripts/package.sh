#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian, the AppStream
# metadata, installation with dpkg, every program's --help and manual page from the
# installed files, and a clean removal.
#   scripts/package.sh               build and check (the install check needs root or sudo)
#   scripts/package.sh --no-install  build, lint and validate only
# The package is left in build-pkg/.
set -euo pipefail
cd "$(dirname "$0")/.."

install_check=1
[ "${1:-}" = "--no-install" ] && install_check=0

bash scripts/setup.sh

# A Release build of only what the package holds: no tests, no benchmarks.
dir=build-pkg
# Debian's hardening flags (fortify, stack protector, read-only relocations, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# GCC 12 sees a self-overlapping copy in plain std::string assignments under these flags,
# a known false positive of -Wrestrict; it is off here so real warnings stand out.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) -Wno-restrict"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DRD780_TESTS=OFF -DRD780_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/rd780_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/rd780_*.deb)
deb=${debs[0]}
echo "== package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
dpkg-deb --field "$deb" Package Version Architecture Depends Installed-Size

fail() {
    echo "package check failed: $*" >&2
    exit 1
}

# What the package must hold; the programs are whatever the build installed into bin.
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's:^\./:/:')
has() { grep -qxF -- "$1" <<<"$contents" || fail "the package lacks $1"; }
programs=$(sed -n 's:^/usr/bin/\([^/]\+\)$:\1:p' <<<"$contents")
[ -n "$programs" ] || fail "the package holds no programs"
for p in $programs; do has "/usr/share/man/man1/$p.1.gz"; done
has /usr/lib/udev/rules.d/70-rd780-usb-cable.rules
has /usr/share/applications/rd780.desktop
has /usr/share/icons/hicolor/scalable/apps/rd780.svg
for size in 16 24 32 48 64 128 256; do has "/usr/share/icons/hicolor/${size}x${size}/apps/rd780.png"; done
has /usr/share/doc/rd780/copyright
has /usr/share/doc/rd780/changelog.gz
metainfo=$(grep -x '/usr/share/metainfo/.*\.metainfo\.xml' <<<"$contents") || fail "the package has no metainfo"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "the package has no postinst"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postrm' || fail "the package has no postrm"
echo "== contents: $(wc -l <<<"$contents") entries, programs: $(echo $programs)"

echo "== lintian"
# Errors fail the build; warnings and notes are listed for the record.
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== appstream"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
appstreamcli validate --no-net "$unpacked$metainfo" || fail "appstreamcli rejects $metainfo"

[ "$install_check" -eq 1 ] || exit 0

echo "== install"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if dpkg-query -W -f='${Status}' rd780 2>/dev/null | grep -q "ok installed"; then
    echo "an earlier rd780 package is installed; this check replaces it"
fi
# Minimal images tell dpkg to drop manual pages and documents; this check needs them.
$SUDO dpkg --path-include='/usr/share/man/man1/rd780*' --path-include='/usr/share/doc/rd780/*' \
    -i "$deb"
remove() { $SUDO dpkg --purge rd780 >/dev/null 2>&1 || true; }
trap 'remove; rm -rf "$unpacked"' EXIT

for p in $programs; do
    out=$(env -i PATH=/usr/bin:/bin "/usr/bin/$p" --help) || fail "$p --help fails from the installed files"
    grep -qi '^usage:' <<<"$out" || fail "$p --help prints no usage"
    page=$(man -w "$p") || fail "man -w $p finds no page"
    [ "$page" = "/usr/share/man/man1/$p.1.gz" ] || fail "man -w $p finds $page, not the installed page"
    man -l "$page" >/dev/null 2>&1 || fail "man cannot format $page"
    echo "$p: --help ok, man -w $page"
done
[ -f /usr/lib/udev/rules.d/70-rd780-usb-cable.rules ] || fail "the udev rule is not installed"

echo "== remove"
$SUDO dpkg --remove rd780
$SUDO dpkg --purge rd780
trap 'rm -rf "$unpacked"' EXIT
dpkg-query -W -f='${Status}' rd780 2>/dev/null | grep -q "ok installed" && fail "rd780 is still installed"
left=0
while read -r f; do
    [ -n "$f" ] || continue
    if [ -f "$f" ] || [ -L "$f" ]; then
        echo "left behind: $f" >&2
        left=1
    fi
done <<<"$contents"
[ "$left" -eq 0 ] || fail "files remain after removal"
echo "removed: no file of the package is left"
