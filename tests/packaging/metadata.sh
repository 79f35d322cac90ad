#!/usr/bin/env bash
# Checks of the desktop metadata and package documents that no compiler looks at.
#   metadata.sh SOURCE_DIR METAINFO PROJECT_VERSION
set -uo pipefail
src=$1 metainfo=$2 version=$3

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >&2 || fail "appstreamcli rejects $(basename "$metainfo")"
else
    echo "appstreamcli not installed: metainfo not validated" >&2
fi

# The software centre shows the metainfo, the menu the desktop entry; they must agree.
desktop=$src/packaging/rd780.desktop
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[ -f "$src/packaging/$launchable" ] || fail "the metainfo launches '$launchable', which is not installed"
desktop_categories=$(sed -n 's/^Categories=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)
meta_categories=$(sed -n 's:.*<category>\(.*\)</category>.*:\1:p' "$metainfo" | sort)
[ -n "$meta_categories" ] && [ "$desktop_categories" = "$meta_categories" ] ||
    fail "categories differ: desktop entry '$(echo $desktop_categories)', metainfo '$(echo $meta_categories)'"
icon=$(sed -n 's/^Icon=//p' "$desktop")
grep -q "<icon type=\"stock\">$icon</icon>" "$metainfo" || fail "the metainfo does not show the desktop icon $icon"
[ -f "$src/packaging/$icon.svg" ] || fail "no drawing for the icon $icon"

# The package version comes from the project; a release must bring its changelog entry.
top=$(sed -n '1s/^rd780 (\([^)]*\)).*/\1/p' "$src/packaging/changelog")
[ "$top" = "$version" ] || fail "the changelog's latest entry is '$top', the project is $version"

# The maintainer scripts run as root during install and removal: they must parse, and
# where udev is not running (a container, a chroot) they must not fail the install.
for script in postinst postrm; do
    f=$src/packaging/debian/$script
    [ -x "$f" ] || fail "$script is not executable"
    sh -n "$f" || fail "$script does not parse"
done
if [ ! -S /run/udev/control ]; then
    sh "$src/packaging/debian/postinst" configure || fail "postinst fails without udev"
    sh "$src/packaging/debian/postrm" remove || fail "postrm fails without udev"
fi

[ "$failures" -eq 0 ]
