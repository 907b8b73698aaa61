#!/usr/bin/env bash
# Starts a program under Xvfb, reads its window title from outside, presses Escape and expects
# the program to end with exit code 0, having written its settings file.
#   window_check.sh PROGRAM EXPECTED_TITLE
# The program gets a session bus of its own: without one, D-Bus autolaunch forks a helper from
# the program, and in a sanitizer build a fork while another thread holds the allocator's lock
# leaves a child that spins for ever. It runs in a process group of its own, which is ended as a
# whole, and a failing check shows what the program printed.
set -u
program=$1 expected=$2
work=$(mktemp -d)
xvfb="" app=""
cleanup() {
    [ -n "$app" ] && kill -KILL -- "-$app" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP
fail() {
    echo "$1"
    if [ -n "$app" ]; then
        kill -TERM -- "-$app" 2>/dev/null
        for _ in $(seq 20); do kill -0 -- "-$app" 2>/dev/null || break; sleep 0.1; done
    fi
    echo "--- the program's standard error:"
    cat "$work/stderr"
    exit 1
}

# Xvfb picks a free display and writes its number to the file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
unset QT_QPA_PLATFORM
# The program keeps its settings here, not in the user's own folder.
export XDG_CONFIG_HOME=$work/config

if command -v dbus-run-session >/dev/null; then
    bus=(dbus-run-session --)
else
    bus=(env DBUS_SESSION_BUS_ADDRESS=disabled:)
fi
# A background job of a script is no group leader, so setsid makes it one without forking:
# its process id is the new group's id.
: >"$work/stderr"
setsid "${bus[@]}" "$program" --unknown-option 2>"$work/stderr" &
app=$!

# The window belongs to the program, a child of the bus runner; up to 60 s under load.
window="" pid=""
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
    for pid in $(pgrep -g "$app"); do
        window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n1)
        [ -n "$window" ] && break 2
    done
    kill -0 "$app" 2>/dev/null || fail "the program ended without a window"
    sleep 0.1
done
[ -n "$window" ] || fail "no window appeared"
title=$(xdotool getwindowname "$window")
echo "title: $title"
[ "$title" = "$expected" ] || fail "expected: $expected"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" Escape
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Escape did not close the window"
wait "$app"
code=$?
echo "exit code: $code"
[ $code -eq 0 ] || fail "the program did not end cleanly"
settings=$(find "$work/config" -name '*.ini' 2>/dev/null | head -n1)
[ -s "$settings" ] || fail "the program wrote no settings file"
echo "settings: ${settings#"$work/config/"}"
