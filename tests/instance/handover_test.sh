#!/bin/sh
# dbus-run-session -- handover_test.sh <tunemill>: a second start hands its
# files to the first and ends at once; the first plays them as one playlist.
set -eu
work=$(mktemp -d) first=
trap 'kill $first 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
within() { for _ in $(seq 150); do eval "$1" && return 0; sleep 0.2; done; return 1; }

# A link of the program keeps its playlists in the test's folder.
mkdir -p "$work/app" "$work/home" "$work/music" "$work/config/LumeskSoft"
chmod 700 "$work/config/LumeskSoft"
ln "$1" "$work/app/tunemill" 2>/dev/null || cp "$1" "$work/app/tunemill"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/home"
printf 'TUNEMILL-SETTINGS 1\n[\\SOFTWARE\\LumeskSoft\\Tunemill\\Option]\n"playWAV"=dword:00000001\n' \
    >"$XDG_CONFIG_HOME/LumeskSoft/Tunemill.reg"
odd=$(printf 'caf\351.wav')
touch "$work/music/a.wav" "$work/music/b c.wav" "$work/music/$odd"
"$work/app/tunemill" & first=$!
within 'dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:com.lumesksoft.Tunemill | grep -q true' || fail "the first start does not own the name"
cd "$work/music"
timeout 20 "$work/app/tunemill" a.wav "file://$work/music/b%20c.wav" "sub/../$odd" || fail "second: $?"
printf '%s\r\n' "$work/music/a.wav" "$work/music/b c.wav" "$work/music/$odd" >"$work/expected"
within 'cmp -s "$work/expected" "$work/app/temp1.m3u"' || fail "the first start did not play the files"
echo passed
