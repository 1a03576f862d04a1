#!/usr/bin/env bash
# The guard through the real front ends, on a virtual arm whose log stands for the arm: each front end
# is ended mid-motion and the log must end with a stop. Killed, the program cannot stop the arm: the
# guard must, marking the line as its own. Hung up or cut off by `| head`, the program stops the arm
# itself, closes as a close does and dismisses the guard, which adds nothing.
#   frontends.sh TESSARO-CLI TESSARO   (the window's rows need X and xdotool: ctest runs it under
#                                       xvfb-run; without them they are skipped)
set -uo pipefail
cli="$1" app="$2"
work="$(mktemp -d)"
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work"
printf '" 2"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," %s"\r\n" 2","ElbowDown"," 30"\r\n' 30 >"$work/two.SRP"
printf '" 2"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," %s"\r\n" 2","ElbowDown"," 30"\r\n' 1 >"$work/pipe.SRP"
now_ms() { echo $(($(date +%s%N) / 1000000)); }
wait_for() { # FILE REGEX [SECONDS]: until a line of FILE matches
  local end=$(($(now_ms) + ${3:-10} * 1000))
  until grep -qE "$2" "$1" 2>/dev/null; do
    [ "$(now_ms)" -lt "$end" ] || return 1
    sleep 0.005
  done
}
window=1
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null || window=0

failed=0
#    name            front end  signal  stopped by
while read -r name front signal by; do
  log="$work/$name.log"
  [ "$front" = window ] && [ $window = 0 ] && { echo "skip $name: needs X and xdotool"; continue; }
  motion='^[0-9.]+ 3 '
  if [ "$signal" = PIPE ]; then
    ("$cli" run "$work/pipe.SRP" --virtual-arm-log "$log" | head -n 2 >/dev/null) &
  elif [ "$front" = cli ]; then
    "$cli" run "$work/two.SRP" --virtual-arm-log "$log" >/dev/null 2>&1 &
  else
    # The elbow's key held down on the arm picture: its button lit.
    "$app" --virtual-arm --virtual-arm-log "$log" >/dev/null 2>&1 &
    for _ in $(seq 300); do
      main="$(xdotool search --onlyvisible --name '^Tessaro' 2>/dev/null | head -n 1)" && [ -n "$main" ] && break
      sleep 0.1
    done
    xdotool windowfocus --sync "$main" && sleep 1 && xdotool keydown w
  fi
  pid=$!
  wait_for "$log" "$motion" || { echo "FAIL $name: no motion: $(tr '\n' '|' <"$log")"; failed=1; continue; }
  # The second step's line, 1 s on, finds the reader gone; the others are sent their signal.
  killed=$(($(now_ms) + 1000))
  [ "$signal" = PIPE ] || { sleep 0.3; killed=$(now_ms); kill -"$signal" "$pid"; }
  if [ "$by" = guard ]; then want=' 0 [0-9a-f]+ guard$'; else want=' 0 [0-9a-f]+$'; fi
  wait_for "$log" "^[0-9.]+$want" 5 && took=$(($(now_ms) - killed)) || took=
  [ "$front" = window ] && xdotool keyup w
  wait "$pid" 2>/dev/null
  sleep 0.2 # a stop the guard would add after the program's own
  if [ -z "$took" ]; then
    echo "FAIL $name: no stop by the $by; the log ends: $(tail -n 3 "$log" | tr '\n' '|')"; failed=1
  elif ! tail -n 1 "$log" | grep -qE " 0 [0-9a-f]+( guard)?$" || { [ "$by" = program ] && grep -q ' guard$' "$log"; }; then
    echo "FAIL $name: more came after the $by's stop: $(tail -n 2 "$log" | tr '\n' '|')"; failed=1
  else
    [ "$signal" = PIPE ] && took="about $took" # the reader's end is not seen from here
    echo "ok   $name: the $by's stop, seen ${took} ms after the signal (timings are the benchmark's)"
  fi
done <<'EOF_ROWS'
cli-sigkill      cli     KILL  guard
cli-sighup       cli     HUP   program
cli-sigpipe      cli     PIPE  program
window-sigkill   window  KILL  guard
window-sighup    window  HUP   program
EOF_ROWS
exit $failed
