#!/usr/bin/env bash
# The guard through the real front ends, on a virtual arm whose log stands for the arm: each front end
# is ended mid-motion and the log must end with a stop. Killed (SIGKILL), the program cannot stop the
# arm: the guard must, marking the line as its own. Given SIGHUP or a broken pipe, the program stops
# the arm itself, closes as a close does, and dismisses the guard, which then adds nothing.
#   frontends.sh TESSARO-CLI TESSARO   (the window's rows need an X display and xdotool: run by ctest
#                                       under xvfb-run; without them they are skipped)
set -uo pipefail
cli="$1" app="$2"
work="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work"
printf '" 2"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," 30"\r\n" 2","ElbowDown"," 30"\r\n' >"$work/two.SRP"
# For the broken pipe: the first step's line reaches `head`, which has gone by the second's.
printf '" 2"\r\n"Step","Function","Time"\r\n" 1","ElbowUp"," 1"\r\n" 2","ElbowDown"," 30"\r\n' >"$work/pipe.SRP"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# wait_for FILE REGEX [SECONDS]: until a line of FILE matches.
wait_for() {
  local end=$(( $(now_ms) + ${3:-10} * 1000 ))
  until grep -qE "$2" "$1" 2>/dev/null; do
    [ "$(now_ms)" -lt "$end" ] || return 1
    sleep 0.005
  done
}

# start_window LOG: the window on the virtual arm, an arm picture with the keyboard, the elbow held up.
start_window() {
  "$app" --virtual-arm --virtual-arm-log "$1" >"$work/window.out" 2>&1 &
  pid=$!; pids+=("$pid")
  local main=""
  for _ in $(seq 100); do
    main="$(xdotool search --onlyvisible --name '^Tessaro' 2>/dev/null | head -n 1)"
    [ -n "$main" ] && break
    sleep 0.1
  done
  [ -n "$main" ] || return 1
  xdotool windowfocus --sync "$main"
  sleep 1
  xdotool keydown w
}

failed=0
window_ok=1
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null || window_ok=0

#  name             front end  signal  stopped by
rows="cli-sigkill      cli        KILL    guard
      cli-sighup       cli        HUP     program
      cli-sigpipe      cli        PIPE    program
      window-sigkill   window     KILL    guard
      window-sighup    window     HUP     program"

while read -r name front signal by; do
  log="$work/$name.log"
  if [ "$front" = window ] && [ $window_ok = 0 ]; then
    echo "skip $name: needs an X display and xdotool"; continue
  fi
  if [ "$signal" = PIPE ]; then
    ( "$cli" run "$work/pipe.SRP" --virtual-arm-log "$log" | head -n 2 >/dev/null ) &
    pid=$!; pids+=("$pid")
    wait_for "$log" '^[0-9.]+ 8 ' || { echo "FAIL $name: the second step never started: $(tr '\n' '|' <"$log")"; failed=1; continue; }
    killed=$(now_ms)
  elif [ "$front" = cli ]; then
    "$cli" run "$work/two.SRP" --virtual-arm-log "$log" >/dev/null 2>&1 &
    pid=$!; pids+=("$pid")
    wait_for "$log" '^[0-9.]+ 3 ' || { echo "FAIL $name: the run never started"; failed=1; continue; }
    sleep 0.3
    killed=$(now_ms); kill -"$signal" "$pid"
  else
    start_window "$log" || { echo "FAIL $name: the window did not appear"; failed=1; continue; }
    wait_for "$log" '^[0-9.]+ 3 ' || { echo "FAIL $name: the held key started nothing"; failed=1; continue; }
    sleep 0.3
    killed=$(now_ms); kill -"$signal" "$pid"
  fi
  if [ "$by" = guard ]; then want='^[0-9.]+ 0 [0-9a-f]+ guard$'; else want='^[0-9.]+ 0 [0-9a-f]+$'; fi
  if wait_for "$log" "$want" 5; then
    took=$(( $(now_ms) - killed ))
  else
    took=""
  fi
  [ "$front" = window ] && xdotool keyup w
  # The program has ended (the guard too, when it had to act) and nothing came after the stop.
  for _ in $(seq 500); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
  sleep 0.2
  last="$(tail -n 1 "$log")"
  guard_lines=$(grep -c ' guard$' "$log")
  if [ -z "$took" ]; then
    echo "FAIL $name: no stop by the $by; the log ends: $(tail -n 3 "$log" | tr '\n' '|')"; failed=1
  elif kill -0 "$pid" 2>/dev/null; then
    echo "FAIL $name: the front end did not end"; failed=1
  elif ! [[ "$last" =~ \ 0\ [0-9a-f]+( guard)?$ ]]; then
    echo "FAIL $name: something came after the stop: $last"; failed=1
  elif [ "$by" = program ] && [ "$guard_lines" != 0 ]; then
    echo "FAIL $name: the guard acted after the program's own stop"; failed=1
  else
    echo "ok   $name: stop by the $by ${took} ms after the signal (generous bound, timings are the benchmark's)"
  fi
done <<<"$rows"
exit $failed
