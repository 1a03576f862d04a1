#!/usr/bin/env bash
# Takes docs/screenshot-main.png and docs/screenshot-virtual-arm.png: starts the program with the
# virtual arm on a virtual X display, records a short script with the mouse (Scripting mode, shoulder
# Up, base CW, stop) and photographs both windows.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build; the tessaro program must be built)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
app="$build/bin/tessaro"
out="$root/docs"

if [ -z "${TESSARO_SCREENSHOT_DISPLAY:-}" ]; then
  [ -x "$app" ] || { echo "screenshots: $app is missing; build it first" >&2; exit 1; }

  # The virtual display, the mouse driver and the window grabber, installed like the build's own needs.
  "$root/scripts/deps.sh" xvfb xauth xdotool imagemagick

  # Wide enough for both windows side by side.
  exec xvfb-run -a -s "-screen 0 1800x700x24 -nolisten tcp" \
    env TESSARO_SCREENSHOT_DISPLAY=1 "${BASH_SOURCE[0]}" "$build"
fi

# From here on we run on the virtual display.
work="$(mktemp -d)"
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A home of its own, so that no settings of the person running this leak into the pictures.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1

"$app" --virtual-arm --virtual-arm-log "$work/arm.log" >"$work/stdout" 2>"$work/stderr" &
app_pid=$!

find_window() { # title regex
  local id=""
  for _ in $(seq 100); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "screenshots: no window named '$1' appeared" >&2
  cat "$work/stderr" >&2
  return 1
}

main="$(find_window '^Tessaro')"
arm="$(find_window '^Virtual Arm$')"
# There is no window manager: the windows go where they are put, without frames.
xdotool windowmove "$main" 0 0
xdotool windowmove "$arm" 812 0
sleep 1

# Client coordinates of the controls: the motion panel sits at (4, 32) in the main window.
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; }
scripting=(57 412)     # the "Scripting" caption
shoulder_up=(170 216)
base_cw=(166 352)

click "${scripting[@]}"
sleep 0.5
click "${shoulder_up[@]}"
sleep 1.6
click "${base_cw[@]}"
sleep 1.3
click "${base_cw[@]}"
# Leave the pointer off the buttons so that no hover look is photographed.
xdotool mousemove --window "$main" 790 8
sleep 1

# The arm must have seen shoulder up, base CW and stop, in this order.
codes="$(awk '{ print $2 }' "$work/arm.log" | tr '\n' ' ')"
if [ "$codes" != "1 7 0 " ]; then
  echo "screenshots: the virtual arm received codes '$codes', expected '1 7 0'" >&2
  exit 1
fi

mkdir -p "$out"
import -window "$main" "$out/screenshot-main.png"
import -window "$arm" "$out/screenshot-virtual-arm.png"
echo "Wrote $out/screenshot-main.png and $out/screenshot-virtual-arm.png"
