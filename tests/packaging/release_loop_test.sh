#!/usr/bin/env bash
# The whole release loop, end to end: a build pinned to a test key and a local
# HTTPS feed is installed as version 1.0; scripts/release makes 1.1 of the same
# build; the installed 1.0 checks, downloads, verifies, swaps itself for 1.1 and
# relaunches. Then a 1.2 whose archive has one byte changed is refused and 1.1
# stays in place.
set -euo pipefail
source_dir=$1
updater_tests=$source_dir/tests/update
work=$(mktemp -d)
server=""
cleanup() {
    [[ -n $server ]] && kill "$server" 2>/dev/null || true
    # the relaunched app runs until it is told to go
    pkill -f "$work/stage" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [[ -f $work/home/.local/state/vessora/update.log ]] && cat "$work/home/.local/state/vessora/update.log" >&2; exit 1; }

# Signing key, server certificate (its own authority), feed folder and server.
minisign -G -W -p "$work/test.pub" -s "$work/test.key" >/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null
mkdir -p "$work/feed" "$work/home"
exec {port_fd}< <(exec python3 "$updater_tests/feed_server.py" "$work/feed" "$work/tls.pem" "$work/tls.key")
server=$!
read -r -t 20 port <&"$port_fd" || fail "the feed server did not start"
feed_url=https://127.0.0.1:$port/appcast.json

# Version 1.0, pinned to the test key, the local feed and its certificate.
build=$work/build
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVESSORA_RELEASE_KEY="$work/test.pub" -DVESSORA_TEAM=TESTTEAM -DVESSORA_FEED_URL="$feed_url" \
    -DVESSORA_UPDATE_EXTRA_CA="$work/tls.pem" >/dev/null
"$source_dir/scripts/release" 1.0 "$work/test.key" TESTTEAM "$work/r1" --build-number 1 --build-dir "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
prefix=/opt/vessora
DESTDIR=$work/stage cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$work/stage$prefix/lib/vessora/Vessora.app
"$source_dir/scripts/sign-bundle" "$work/test.key" TESTTEAM "$installed"
app=$work/stage$prefix/bin/vessora-app
"$app" --verify-signature "$installed" 2>/dev/null || fail "the installed app does not accept its own signature"
[[ $("$app" --version) == "Vessora 1.0 (1)" ]] || fail "installed version: $("$app" --version)"

# Release 1.1 of the same build, served by the feed.
"$source_dir/scripts/release" 1.1 "$work/test.key" TESTTEAM "$work/feed" --build-number 2 --build-dir "$build" \
    --notes "Second build" >/dev/null
grep -q '"build": 2' "$work/feed/appcast.json" || fail "feed lacks the build"

export HOME=$work/home XDG_STATE_HOME=$work/home/.local/state QT_QPA_PLATFORM=offscreen
"$app" --install-update > "$work/out.txt" 2>&1 || fail "install-update: $(cat "$work/out.txt")"
grep -q "readyToRelaunch" "$work/out.txt" || fail "never ready: $(cat "$work/out.txt")"
for _ in $(seq 120); do
    [[ $("$app" --version 2>/dev/null) == "Vessora 1.1 (2)" ]] && break
    sleep 0.5
done
[[ $("$app" --version) == "Vessora 1.1 (2)" ]] || fail "not updated: $("$app" --version)"
for _ in $(seq 40); do pgrep -f "$installed/Contents/MacOS/Vessora" >/dev/null && break; sleep 0.5; done
pgrep -f "$installed/Contents/MacOS/Vessora" >/dev/null || fail "the new version was not relaunched"
pkill -f "$work/stage" || true

# Release 1.2 with one byte of its archive changed: refused, 1.1 stays.
"$source_dir/scripts/release" 1.2 "$work/test.key" TESTTEAM "$work/feed" --build-number 3 --build-dir "$build" >/dev/null
archive=$work/feed/Vessora-1.2.zip
python3 - "$archive" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) // 2] ^= 0x01
open(path, "wb").write(bytes(data))
PY
if "$app" --install-update > "$work/out2.txt" 2>&1; then fail "a changed archive was accepted: $(cat "$work/out2.txt")"; fi
grep -q "failed" "$work/out2.txt" || fail "no failure reported: $(cat "$work/out2.txt")"
[[ $("$app" --version) == "Vessora 1.1 (2)" ]] || fail "the installed version changed: $("$app" --version)"
"$app" --verify-signature "$installed" 2>/dev/null || fail "the installed bundle no longer verifies"
echo "1 passed, 0 failed"
