#!/bin/sh
# Two starts of the real program on a private session bus: the second hands
# its files (relative, a file URL, a name that is not UTF-8) to the first and
# ends at once; the first plays them as one playlist. A start without a bus
# runs on its own and says so in one line.
# Usage: dbus-run-session -- handover_test.sh <tunemill>
set -eu
work=$(mktemp -d "$PWD/handover.XXXXXX")
pids=
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wait
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Polls a condition for up to 30 s.
within() {
    tries=150
    until eval "$1"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.2
    done
}

# The playlists go beside the program: a link of it in the test's folder
# keeps them there.
mkdir -p "$work/app" "$work/music/sub"
ln "$1" "$work/app/tunemill" 2>/dev/null || cp "$1" "$work/app/tunemill"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
mkdir -m 700 "$XDG_CONFIG_HOME/LumeskSoft"
printf 'TUNEMILL-SETTINGS 1\n[\\SOFTWARE\\LumeskSoft\\Tunemill\\Option]\n"playWAV"=dword:00000001\n' \
    >"$XDG_CONFIG_HOME/LumeskSoft/Tunemill.reg"
odd=$(printf 'caf\351.wav')
for name in a.wav "b c.wav" "$odd"; do : >"$work/music/$name"; done

"$work/app/tunemill" 2>"$work/first.err" &
pids="$!"
within 'dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:com.lumesksoft.Tunemill | grep -q "boolean true"' ||
    fail "the first start does not own the name"

cd "$work/music"
rc=0
timeout 20 "$work/app/tunemill" a.wav "file://$work/music/b%20c.wav" "sub/../$odd" || rc=$?
[ "$rc" = 0 ] || fail "the second start ended with $rc"
printf '%s\r\n' "$work/music/a.wav" "$work/music/b c.wav" "$work/music/$odd" >"$work/expected"
within 'cmp -s "$work/expected" "$work/app/temp1.m3u"' || fail "the first start did not play the files"
rc=0
timeout 20 "$work/app/tunemill" || rc=$?
[ "$rc" = 0 ] || fail "a second start without files ended with $rc"

DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$work/app/tunemill" 2>"$work/alone.err" &
pids="$pids $!"
within 'grep -q "no session bus" "$work/alone.err"' || fail "a start without a bus said nothing"
alone=$!
# It must go on as its own program, not end after its line.
sleep 3
kill -0 "$alone" 2>/dev/null || fail "a start without a bus ended"
echo "passed"
