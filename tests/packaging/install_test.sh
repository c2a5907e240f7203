#!/usr/bin/env bash
# Installs the build into a staging folder as a user would (DESTDIR), runs what
# was installed, validates the desktop files the way the desktop's own tools
# do, then uninstalls and checks that nothing is left behind.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=/usr/local

DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null
root=$stage$prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

[[ $("$root/bin/vessora" --version) == "vessora "* ]] || fail "installed vessora --version"
[[ -L $root/bin/vessora-app ]] || fail "vessora-app is not a link"
[[ $("$root/bin/vessora-app" --version) == "Vessora "* ]] || fail "installed vessora-app --version"
[[ -x $root/lib/vessora/Vessora.app/Contents/MacOS/Vessora ]] || fail "bundle executable missing"

desktop=$root/share/applications/app.vessora.Vessora.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx "Exec=$prefix/bin/vessora-app" "$desktop" || fail "Exec does not name the installed launcher"
appstreamcli validate --no-net --pedantic "$root/share/metainfo/app.vessora.Vessora.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$root/share/metainfo/app.vessora.Vessora.metainfo.xml" ||
    fail "metainfo does not validate"
policy=$root/share/polkit-1/actions/app.vessora.Vessora.policy
xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" || fail "polkit policy does not validate"
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$prefix/lib/vessora/Vessora.app/Contents/MacOS/" "$policy" ||
    fail "policy does not name the installed helper"
for size in 16 32 48 256; do
    file "$root/share/icons/hicolor/${size}x$size/apps/app.vessora.Vessora.png" | grep -q "$size x $size" ||
        fail "icon $size is not $size pixels"
done

DESTDIR=$stage cmake --build "$build" --target uninstall >/dev/null
left=$(find "$stage" -not -type d)
[[ -z $left ]] || fail "uninstall left files behind: $left"
[[ ! -e $root/lib/vessora ]] || fail "uninstall left lib/vessora"
echo "1 passed, 0 failed"
