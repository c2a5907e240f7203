#!/usr/bin/env bash
# Installs the build into a staging folder as a user would (DESTDIR), runs what
# was installed, validates the desktop files the way the desktop's own tools
# do and checks the manual pages, then uninstalls and checks that nothing is
# left behind: no file, and no folder the install created.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=/usr/local

root=$stage$prefix
# A folder that was there before the install, with someone else's file.
mkdir -p "$root/share/applications"
touch "$root/share/applications/other.desktop"
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }

[[ $("$root/bin/vessora" --version) == "vessora "* ]] || fail "installed vessora --version"
[[ -L $root/bin/vessora-app ]] || fail "vessora-app is not a link"
[[ $("$root/bin/vessora-app" --version) == "Vessora "* ]] || fail "installed vessora-app --version"
[[ -x $root/lib/vessora/Vessora.app/Contents/MacOS/Vessora ]] || fail "bundle executable missing"
[[ ! -e $root/lib/vessora/Vessora.app/Contents/Resources ]] || fail "the bundle has an empty Contents/Resources"

# Manual pages that render without warnings, and every command of
# `vessora --help` described in vessora.1.
man=$root/share/man/man1
for page in vessora vessora-app; do
    [[ -f $man/$page.1.gz ]] || fail "no manual page $page.1.gz"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$man/$page.1.gz" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page.1 renders with warnings: $warnings"
done
commands=$("$root/bin/vessora" --help | sed -n '/^commands:/,$s/^  \([a-z][a-z-]*\).*/\1/p')
[[ -n $commands ]] || fail "vessora --help lists no commands"
for command in $commands; do
    zcat "$man/vessora.1.gz" | grep -qF "\\fB${command//-/\\-}\\fR" ||
        fail "vessora.1 does not describe the command $command"
done

desktop=$root/share/applications/app.vessora.Vessora.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx "Exec=$prefix/bin/vessora-app" "$desktop" || fail "Exec does not name the installed launcher"
# One main category, so no menu lists the app twice.
grep -qx "Categories=System;Filesystem;" "$desktop" || fail "the desktop entry's categories: $(grep Categories "$desktop")"
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
left=$(find "$stage" -not -type d -not -path "$root/share/applications/other.desktop")
[[ -z $left ]] || fail "uninstall left files behind: $left"
[[ -f $root/share/applications/other.desktop ]] || fail "uninstall removed a file it did not install"
left=$(find "$stage" -mindepth 1 -type d -not -path "$stage/usr" -not -path "$root" -not -path "$root/share" \
    -not -path "$root/share/applications")
[[ -z $left ]] || fail "uninstall left folders it created: $left"
echo "1 passed, 0 failed"
