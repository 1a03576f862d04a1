#!/usr/bin/env bash
# Jog keys held on a real X server, with the server's own auto-repeat: `tessaro --virtual-arm` in a
# display of its own, keys held and let go by xdotool, and the codes the virtual arm received read from
# its log. X repeats a held key as a release and a press; the arm must see one start and one stop.
#   keyhold.sh TESSARO        (run by ctest under xvfb-run; skips without a display or xdotool)
set -uo pipefail
app="$1"
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null || { echo "skipped: needs xvfb-run and xdotool"; exit 77; }
xset r on 2>/dev/null

work="$(mktemp -d)"
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
log="$work/arm.log"
HOME="$work" XDG_CONFIG_HOME="$work" "$app" --virtual-arm --virtual-arm-log "$log" >"$work/out" 2>&1 &
pid=$!
main=""
for _ in $(seq 100); do
  main="$(xdotool search --onlyvisible --name '^Tessaro' 2>/dev/null | head -n 1)"
  [ -n "$main" ] && break
  sleep 0.1
done
[ -n "$main" ] || { echo "FAIL: the window did not appear"; cat "$work/out"; exit 1; }
xdotool windowfocus --sync "$main"
sleep 1

failed=0
# hold KEY MS: holds the key down, lets go, and prints the codes received meanwhile with the time from
# the first to the last ("7 0 3.012").
hold() {
  local before; before="$(wc -l <"$log")"
  xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"
  sleep 0.5
  tail -n +"$((before + 1))" "$log" | awk '{ codes = codes $2 " "; if (NR == 1) first = $1; last = $1 }
                                          END { printf "%s%.3f\n", codes, last - first }'
}
check() { # name, got, wanted codes, least and most seconds
  local codes="${2% *}" secs="${2##* }"
  if [ "$codes" = "$3" ] && awk -v s="$secs" -v lo="$4" -v hi="$5" 'BEGIN { exit !(s >= lo && s <= hi) }'; then
    echo "ok   $1: $2"
  else
    echo "FAIL $1: got '$2', wanted '$3' over $4..$5 s"; failed=1
  fi
}

# Each jog key held for 3 s: one start code, one stop code. A gripper key is stopped first (by the
# limit, 2.25 s, or at the estimated end), and the repeats must not start it again.
for entry in Left:2 Right:7 Up:1 Down:6 w:3 s:8 e:4 d:9; do
  check "${entry%:*} held 3 s" "$(hold "${entry%:*}" 3)" "${entry#*:} 0" 2.9 3.5
done
# Opening from an unknown place, the limit stops it; the arm is then known to be open, so closing
# stops at the estimated closed end (the gripper's 1.5 s of travel), before the limit.
check "o held 4 s" "$(hold o 4)" "10 0" 2.2 2.6
check "c held 4 s" "$(hold c 4)" "5 0" 1.4 1.8
exit $failed
