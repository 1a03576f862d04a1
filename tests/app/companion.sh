#!/usr/bin/env bash
# tessaro --virtual-arm under openbox: at start a jog key drives the arm without a click, Cancel at
# "Unsaved changes" keeps the Virtual Arm window, and the program ends within a second of its close.
set -uo pipefail
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null && command -v openbox >/dev/null || exit 77
work="$(mktemp -d)" failed=0
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" "$app" 2>/dev/null; wait; rm -rf "$work"' EXIT
printf '" 1"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," 1"\r\n' >"$work/one.SRP"
HOME="$work" XDG_CONFIG_HOME="$work" "$1" --virtual-arm --virtual-arm-log "$work/arm.log" "$work/one.SRP" 2>/dev/null &
app=$!
shown() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
for _ in $(seq 300); do
  main="$(shown '^Tessaro')" && [ -n "$main" ] && [ -n "$(shown '^Virtual Arm$')" ] && break
  sleep 0.1
done
sleep 1
check "the main window has the keyboard at start" [ "$(xdotool getactivewindow)" = "$main" ]
xdotool keydown w sleep 0.5 keyup w sleep 0.5
check "a jog key at start drives the arm" [ "$(awk '{ printf "%s ", $2 }' "$work/arm.log")" = "3 0 " ]
# Undo takes the load back: closing asks, and Escape cancels.
xdotool key ctrl+z sleep 0.3 windowactivate --sync "$main" key alt+F4 sleep 1
check "closing over unsaved changes asks" [ -n "$(shown '^Unsaved changes$')" ]
xdotool key Escape sleep 1
check "Cancel keeps both windows" [ -n "$(shown '^Tessaro')" -a -n "$(shown '^Virtual Arm$')" ]
xdotool windowactivate --sync "$main" key ctrl+shift+z sleep 0.3
t0=$(date +%s%N)
xdotool key alt+F4
while kill -0 "$app" 2>/dev/null && [ $(($(date +%s%N) - t0)) -lt 3000000000 ]; do sleep 0.05; done
check "the program ends within a second of its close" [ $(($(date +%s%N) - t0)) -lt 1000000000 ]
exit $failed
