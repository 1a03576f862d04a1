#!/usr/bin/env bash
# The main window and the Virtual Arm window beside it, as a window manager runs them: at start the jog
# keys reach the arm without a click (the main window has the keyboard), Cancel at "Unsaved changes"
# keeps both windows, and once the main window has closed the program ends at once.
#   companion.sh TESSARO      (run by ctest under xvfb-run; skips without xdotool and openbox)
set -uo pipefail
app="$1"
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null && command -v openbox >/dev/null ||
  { echo "skipped: needs xvfb-run, xdotool and openbox"; exit 77; }
work="$(mktemp -d)"
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill "$pid" "$wm" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
log="$work/arm.log"
printf '" 1"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," 1"\r\n' >"$work/one.SRP"
sleep 0.5
HOME="$work" XDG_CONFIG_HOME="$work" "$app" --virtual-arm --virtual-arm-log "$log" "$work/one.SRP" \
  >"$work/out" 2>&1 &
pid=$!
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
for _ in $(seq 100); do
  main="$(visible '^Tessaro')" arm="$(visible '^Virtual Arm$')"
  [ -n "$main" ] && [ -n "$arm" ] && break
  sleep 0.1
done
[ -n "$main" ] && [ -n "$arm" ] || { echo "FAIL: the windows did not appear"; cat "$work/out"; exit 1; }
sleep 1
failed=0
check() { # name, condition...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

# No click first: the key goes where the window manager sends it.
check "the main window has the keyboard at start" [ "$(xdotool getactivewindow)" = "$main" ]
before="$(wc -l <"$log")"
xdotool keydown w; sleep 0.5; xdotool keyup w; sleep 0.5
check "a jog key at start drives the arm" [ "$(tail -n +"$((before + 1))" "$log" | awk '{ printf "%s ", $2 }')" = "3 0 " ]

# Unsaved changes (Undo takes the load back), then a close of the main window, cancelled.
xdotool key ctrl+z
sleep 0.3
xdotool windowactivate --sync "$main" key alt+F4
sleep 1
box="$(visible '^Unsaved changes$')"
check "closing over unsaved changes asks" [ -n "$box" ]
xdotool key Escape
sleep 1
check "Cancel keeps the main window" [ -n "$(visible '^Tessaro')" ]
check "Cancel keeps the Virtual Arm window" [ -n "$(visible '^Virtual Arm$')" ]

# Redo puts the script back as saved: closed now, both windows go, and the program ends at once.
xdotool windowactivate --sync "$main" key ctrl+shift+z
sleep 0.3
t0=$(date +%s%N)
xdotool key alt+F4
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
took=$((($(date +%s%N) - t0) / 1000000))
check "the program ends within a second of its close (${took} ms)" [ "$took" -lt 1000 ]
exit $failed
