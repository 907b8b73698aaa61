#!/usr/bin/env bash
# Starts a program under Xvfb, reads its window title from outside, presses Escape and expects
# the program to end with exit code 0.
#   window_check.sh PROGRAM EXPECTED_TITLE
set -u
program=$1 expected=$2
# Xvfb picks a free display and writes its number to the file.
numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$numberfile"' EXIT
for _ in $(seq 100); do [ -s "$numberfile" ] && break; sleep 0.1; done
display=:$(head -n1 "$numberfile")
export DISPLAY=$display
unset QT_QPA_PLATFORM
"$program" --unknown-option 2>/dev/null &
app=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "no window appeared"; kill $app; exit 1; }
title=$(xdotool getwindowname "$window")
echo "title: $title"
if [ "$title" != "$expected" ]; then
    echo "expected: $expected"; kill $app; exit 1
fi
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" Escape
for _ in $(seq 50); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
if kill -0 $app 2>/dev/null; then echo "Escape did not close the window"; kill $app; exit 1; fi
wait $app
code=$?
echo "exit code: $code"
[ $code -eq 0 ]
