#!/bin/bash
# PID 1 of the system pass's virtual machine (tests/system/guest-init hands over to it). Brings up udev
# and a virtual X display, plays HID devices through /dev/uhid with tessaro-uhid-player, runs the
# build's tessaro-cli and tessaro against them, prints a line for each case as it ends and then a table
# of results, and writes the number of failed cases to /mnt/failed (the host's output share); a pass that
# cannot go on leaves its reason in /mnt/stopped instead. Then it powers the machine off.
set -u
src="$TESSARO_SOURCE"
build="$TESSARO_BUILD"
cli="$build/bin/tessaro-cli"
app="$build/bin/tessaro"
player="$build/tests/tessaro-uhid-player"
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8

finish() {
  echo "${1:-1}" >/mnt/failed
  sync
  echo o >/proc/sysrq-trigger
  # Waits for the power to go with what bash has in memory: a program started now would be read from a
  # share that is going away, and PID 1 ending on its failure fills the console with a kernel panic.
  read -r -t 30 <>/run/tessaro-hold
}
# REASON: ends the pass before its cases are done.
stop_pass() {
  echo "guest: the pass stops: $*"
  echo "$*" >/mnt/stopped
  finish 1
}

mount -t tmpfs tmpfs /run
mkfifo /run/tessaro-hold
mkdir -p /dev/pts /dev/shm
# What an init system would make: process substitution needs /dev/fd.
ln -sf /proc/self/fd /dev/fd
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
# The root is an overlay on a tmpfs, writable as it is: nothing is mounted over /tmp, where it would hide
# a tree or a build that lives there. The scratch folder is a new one; an X display the host has or had
# leaves its files in /tmp, which go from this view (the host's own are not touched).
rm -rf /tmp/.X11-unix /tmp/.X1-lock
w="$(mktemp -d /tmp/tessaro-pass.XXXXXX)" || stop_pass "no scratch folder in /tmp"
chmod 755 "$w" # the ordinary user's home is in it
log="$w/devices.log"
user=1000 # an ordinary user, for the permission cases: root opens any node
home="$w/home$user"

# The build must be in view, and its programs must run here, before any case depends on them.
for program in "$cli" "$app" "$player"; do
  [ -x "$program" ] || stop_pass "$program is not visible in the guest (tree $src, build $build)"
done
for program in "$cli" "$app"; do
  "$program" --version >"$w/version.out" 2>&1 ||
    stop_pass "$program does not run in the guest: $(tail -n 3 "$w/version.out" | tr '\n' ' ')"
done
# The cases run as an ordinary user reach the build only where every folder above it lets them through,
# which a clone in a private folder (mktemp -d, root's home) does not: they run copies of the programs
# from the scratch folder, which is open to them.
user_bin="$w/bin"
# The guard goes with them: each looks for it beside itself.
mkdir -p "$user_bin" && cp "$cli" "$app" "${cli%/*}/tessaro-guard" "$user_bin/" && chmod -R a+rX "$user_bin" ||
  stop_pass "cannot copy the programs to $user_bin for the ordinary user"
user_cli="$user_bin/${cli##*/}" user_app="$user_bin/${app##*/}"
setpriv --reuid="$user" --regid="$user" --clear-groups "$user_cli" --version >"$w/version.out" 2>&1 ||
  stop_pass "$user_cli does not run as an ordinary user: $(tail -n 3 "$w/version.out" | tr '\n' ' ')"

modprobe -a uhid hid-generic evdev || { echo "guest: cannot load uhid/hid-generic"; finish 1; }
# The programs listen to udev's events, not the kernel's: udevd must run.
/usr/lib/systemd/systemd-udevd --daemon 2>"$w/udevd.log" || { echo "guest: udevd did not start"; finish 1; }
# Stands in for the seat manager, which grants a device tagged uaccess to the person at the seat.
echo 'SUBSYSTEM=="hidraw", TAG=="uaccess", OWNER="1000"' >/etc/udev/rules.d/99-seat-standin.rules
udevadm control --reload

# Opened for reading and writing, this end of the pipe neither waits for the player to open its own nor
# fails a write once the player has gone: whether it is there is asked of the process.
mkfifo "$w/player.in"
exec 7<>"$w/player.in"
"$player" <"$w/player.in" >"$log" 2>&1 &
player_pid=$!
player_gone() { ! kill -0 "$player_pid" 2>/dev/null; }
player_said() { tail -n 3 "$log" | tr '\n' ' '; }

Xvfb :1 -screen 0 1024x768x24 -nolisten tcp -ac >"$w/xvfb.log" 2>&1 &
export DISPLAY=:1 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1

# --- helpers ---------------------------------------------------------------------------------------

wait_until() { # TENTHS COMMAND...: true once COMMAND succeeds within TENTHS tenths of a second
  local n=$1
  shift
  while ! "$@"; do
    n=$((n - 1))
    # Nothing a case waits for comes once the device player is gone.
    [ "$n" -gt 0 ] && ! player_gone || return 1
    sleep 0.1
  done
}
# LINE: a command for the device player; false, at once, when the player is gone.
to_player() {
  player_gone && return 1
  echo "$1" >&7
}

node_of() { # NAME: the hidraw node of a played device
  local d
  for d in /sys/class/hidraw/hidraw*; do
    if grep -qx "HID_UNIQ=$1" "$d/device/uevent" 2>/dev/null; then
      echo "/dev/${d##*/}"
      return 0
    fi
  done
  return 1
}
gone() { ! node_of "$1" >/dev/null; }

plug() { # NAME DESCRIPTOR: plug a device in; returns once udev is done with its node
  to_player "create $1 $2" || return 1
  wait_until 100 node_of "$1" >/dev/null && udevadm settle -t 10
}
unplug() {
  to_player "destroy $1" || return 1
  wait_until 100 gone "$1" && udevadm settle -t 10
}

need_arm() { node_of "$1" >/dev/null || plug "$1" arm; }

mark() { wc -l <"$log"; }
# NAME FROM: the command codes NAME received after log line FROM, "1 7 0"; a report that is not the
# arm's two bytes (report ID 0, then the code) shows as "bad:HEX".
codes() {
  local t name event hex out=()
  while read -r t name event hex; do
    [ "$name" = "$1" ] && [ "$event" = output ] || continue
    if [[ "$hex" =~ ^00([0-9a-f]{2})$ ]]; then out+=("$((16#${BASH_REMATCH[1]}))"); else out+=("bad:$hex"); fi
  done < <(tail -n +"$(($2 + 1))" "$log")
  echo "${out[*]}"
}
codes_are() { [ "$(codes "$1" "$2")" = "$3" ]; }
# NAME FROM: the times of NAME's output reports after FROM, one per line
times_of() { tail -n +"$(($2 + 1))" "$log" | awk -v n="$1" '$2 == n && $3 == "output" { print $1 }'; }

script_file() { # PATH FUNCTION SECONDS ...: writes an SRP file
  local path=$1 i=1
  shift
  {
    printf '" %d"\r\n"Step","Function","Time"\r\n' $(($# / 2))
    while [ $# -gt 1 ]; do
      printf '" %d","%s"," %s"\r\n' "$i" "$1" "$2"
      i=$((i + 1))
      shift 2
    done
  } >"$path"
}

# PROGRAM ARGS...: run as the ordinary user; tessaro-cli is the user's copy.
as_user() {
  local program=$1
  shift
  [ "$program" = "$cli" ] && program="$user_cli"
  setpriv --reuid="$user" --regid="$user" --clear-groups env HOME="$home" "$program" "$@"
}

# The window. Client coordinates: the motion panel sits at (4, 32), the toolbox at (540, 318).
declare -A at=([Pause]="64 272" [ShoulderUp]="170 216" [BaseCW]="166 352" [ElbowUp]="402 100"
  [ElbowDown]="436 100" [WristDown]="236 60" [Scripting]="57 412" [Run]="584 352")
app_pid=
app_user=
win=
# The window's main window. A message the window shows as it starts (a refusal) bears the same title
# and may be up first; the main window is the one 800 pixels wide (12000 twips), far wider than a
# message box.
main_window() {
  local id width
  for id in $(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Tessaro' 2>/dev/null); do
    width="$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed -n 's/^WIDTH=//p')"
    [ "${width:-0}" -ge 700 ] && { echo "$id"; return 0; }
  done
  return 1
}
window_start() { # [user]: starts the window with no settings file, as a fresh install has it
  window_stop
  rm -f "$build/bin/KORIV.INI"
  rm -rf /root/.config/tessaro "$home"
  mkdir -p "$home"
  chown "$user:$user" "$home"
  app_user="${1:-root}"
  if [ "$app_user" = user ]; then
    # exec: $! must be the program's own process, whose windows carry its id.
    (exec setpriv --reuid="$user" --regid="$user" --clear-groups env HOME="$home" "$user_app") \
      >"$w/app.out" 2>&1 &
  else
    "$app" >"$w/app.out" 2>&1 &
  fi
  app_pid=$!
  win=
  local _
  for _ in $(seq 300); do
    win="$(main_window)" && break
    sleep 0.1
  done
  [ -n "$win" ] || return 1
  xdotool windowmove "$win" 0 0
  sleep 0.5
}
# The window's process has ended (a child not yet waited for lingers as a zombie).
app_ended() { [ ! -e "/proc/$app_pid" ] || [ "$(cut -d' ' -f3 "/proc/$app_pid/stat" 2>/dev/null)" = Z ]; }
window_stop() {
  # SIGTERM stops the arm and closes the window as its close does, which may ask about unsaved changes; a
  # second one closes it without asking.
  if [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; then
    wait_until 30 app_ended || kill "$app_pid" 2>/dev/null
    wait_until 30 app_ended || kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  app_pid=
}
need_window() { # the window run by root, holding arm1
  need_arm arm1
  if [ -z "$app_pid" ] || [ "$app_user" != root ] || ! kill -0 "$app_pid" 2>/dev/null; then
    window_start || return 1
  fi
  wait_until 100 holds arm1
}
click() { # CONTROL
  local xy=(${at[$1]})
  xdotool mousemove --window "$win" "${xy[0]}" "${xy[1]}" click 1
}
# True while the window's process holds the played device NAME open.
holds() {
  local node
  node="$(node_of "$1")" || return 1
  ls -l "/proc/$app_pid/fd" 2>/dev/null | grep -q " $node\$"
}
windows_shown() { xdotool search --all --onlyvisible --pid "$app_pid" --name . 2>/dev/null | wc -l; }

# --- cases -----------------------------------------------------------------------------------------
# Each case leaves its findings in $detail and fails by returning non-zero.

case_enumerate() {
  plug arm1 arm && plug mouse1 mouse || { detail="devices not created"; return 1; }
  local arm mouse out all
  arm="$(node_of arm1)" mouse="$(node_of mouse1)"
  out="$("$cli" devices 2>&1)" || { detail="devices exit $?"; return 1; }
  all="$("$cli" devices --all 2>&1)"
  unplug mouse1
  detail="arm $arm, mouse $mouse"
  grep -qx "$arm" <<<"$out" && grep -q 'USB 1e6f:1113' <<<"$out" && grep -q 'page 0x0001 usage 0x003E' <<<"$out" ||
    { detail+="; the arm is not listed: $out"; return 1; }
  ! grep -qx "$mouse" <<<"$out" || { detail+="; the mouse is listed as an arm"; return 1; }
  grep -qx "$mouse" <<<"$all" && grep -qx "$arm" <<<"$all" || { detail+="; --all misses a node"; return 1; }
}

case_run_bytes() {
  need_arm arm1
  script_file "$w/bytes.srp" ShoulderUp 0.5 BaseCW 0.25 ElbowDown 0.75 Pause 0.25 GripOpen 0.5
  local from status worst
  from="$(mark)"
  "$cli" run "$w/bytes.srp" >"$w/run.out" 2>&1
  status=$?
  wait_until 20 codes_are arm1 "$from" "1 7 8 0 10 0"
  detail="codes $(codes arm1 "$from")"
  [ "$status" = 0 ] || { detail+="; exit $status"; return 1; }
  codes_are arm1 "$from" "1 7 8 0 10 0" || return 1
  # Each step lasts its time: the gaps between the reports against 0.5 0.25 0.75 0.25 0.5 s.
  worst="$(times_of arm1 "$from" | awk 'BEGIN { split("0.5 0.25 0.75 0.25 0.5", want, " ") }
    NR > 1 { d = $1 - prev - want[NR - 1]; if (d < 0) d = -d; if (d > worst) worst = d }
    { prev = $1 } END { printf "%.0f", worst * 1000 }')"
  detail+="; worst step time error ${worst} ms"
  # Generous: the machine is emulated, and shares its two cores with the host's work.
  [ "$worst" -le 100 ]
}

case_ctrl_c() {
  need_arm arm1
  script_file "$w/long.srp" ShoulderUp 30
  local from pid status t0 t1
  from="$(mark)"
  "$cli" run "$w/long.srp" >"$w/run.out" 2>&1 &
  pid=$!
  wait_until 100 codes_are arm1 "$from" 1 || { detail="the run never started: $(codes arm1 "$from")"; kill $pid; return 1; }
  kill -INT $pid
  wait $pid
  status=$?
  wait_until 20 codes_are arm1 "$from" "1 0"
  detail="codes $(codes arm1 "$from"), exit $status"
  codes_are arm1 "$from" "1 0" && [ "$status" = 130 ]
}

case_cli_unplug() {
  need_arm arm1
  # Step 2 is long, so that the removal lands in it however slowly the emulated machine runs.
  script_file "$w/three.srp" ShoulderUp 1 BaseCW 3 ElbowUp 1
  local from pid status start cut
  from="$(mark)"
  start=$SECONDS
  "$cli" run "$w/three.srp" >"$w/run.out" 2>"$w/run.err" &
  pid=$!
  wait_until 100 codes_are arm1 "$from" "1 7" || { detail="step 2 never started"; kill $pid; return 1; }
  sleep 0.3
  unplug arm1
  cut="$(mark)"
  plug arm1 arm
  # The script would end 5 s after its start: wait past that for anything sent to the new arm.
  wait_until 100 eval '! kill -0 $pid 2>/dev/null'
  sleep "$((start + 6 - SECONDS > 0 ? start + 6 - SECONDS : 0))"
  kill $pid 2>/dev/null
  wait $pid
  status=$?
  detail="exit $status; replugged arm got '$(codes arm1 "$cut")'; said: $(tr '\n' ' ' <"$w/run.err" | tail -c 160)"
  [ "$status" = 4 ] && [ -z "$(codes arm1 "$cut")" ] && grep -q 'step 2 (BaseCW)' "$w/run.err"
}

case_two_arms_cli() {
  need_arm arm1
  plug arm2 arm || { detail="arm2 not created"; return 1; }
  script_file "$w/two.srp" WristUp 0.25 GripClose 0.25
  local from
  from="$(mark)"
  "$cli" run "$w/two.srp" >"$w/run.out" 2>&1 || { detail="exit $?"; unplug arm2; return 1; }
  wait_until 20 codes_are arm2 "$from" "4 5 0"
  detail="arm1 '$(codes arm1 "$from")', arm2 '$(codes arm2 "$from")'"
  unplug arm2
  codes_are arm1 "$from" "4 5 0" && codes_are arm2 "$from" "4 5 0"
}

# A click and its undoing: the arms given must receive CODE then 0.
click_sends() { # CONTROL CODE ARM...
  local control=$1 code=$2 from a
  shift 2
  from="$(mark)"
  click "$control"
  sleep 0.3
  click "$control"
  for a in "$@"; do
    wait_until 30 codes_are "$a" "$from" "$code 0" ||
      { detail+="; $control gave $a '$(codes "$a" "$from")' (log $from..$(mark))"; return 1; }
  done
}

# The pad's input report: X Y Rz, the hat in the low nibble (8: released) with buttons 1-4 above it,
# then buttons 5-10. Centred: 8080800800.
pad_input() { to_player "input pad1 $1"; }

case_cli_gamepad() {
  plug pad1 gamepad || { detail="pad not created"; return 1; }
  local pid out="$w/pad.out"
  "$cli" gamepad >"$out" 2>&1 &
  pid=$!
  wait_until 100 grep -q '^gamepad: ' "$out" || { detail="no pad: $(tr '\n' ' ' <"$out")"; kill $pid; unplug pad1; return 1; }
  pad_input 8080800800 # where the pad stands as it is opened: an axis drives only once seen at rest
  pad_input 8080140800 # right stick up: Elbow Up
  wait_until 30 grep -qx 'motion: ElbowUp' "$out"
  pad_input 8080800800
  wait_until 30 grep -qx 'motion: none' "$out"
  pad_input 8080800820 # button 10, the pad's last: stop
  wait_until 30 grep -qx 'stop' "$out"
  unplug pad1
  wait_until 30 grep -qx 'gamepad removed' "$out"
  kill $pid 2>/dev/null
  wait $pid
  detail="printed: $(tr '\n' '|' <"$out")"
  [ "$(sed 1d "$out" | tr '\n' '|')" = "motion: ElbowUp|motion: none|stop|gamepad removed|" ] || return 1
  # A user without a rule for the pad's node is told why the pad does nothing.
  plug pad1 gamepad || { detail+="; pad not replugged"; return 1; }
  out="$(as_user "$cli" gamepad --for 1 2>&1)"
  unplug pad1
  detail+="; as a user: $(head -n 1 <<<"$out")"
  grep -q '^gamepad cannot be opened: .*Permission denied' <<<"$out"
}

# A pad whose Z and Rz are analogue triggers resting at 0, with 16-bit signed sticks X Y Rx Ry
# (tests/hid/support/TriggerPad.h). Plugged and left alone it must drive nothing; Ry is its right stick;
# a stick wavering by one count on the edge of the dead zone starts or stops its motion once.
case_cli_pad_triggers() {
  plug pad2 gamepad-triggers || { detail="pad not created"; return 1; }
  local pid out="$w/pad2.out" i
  le16() { printf '%02x%02x' $(($1 & 0xFF)) $((($1 >> 8) & 0xFF)); }
  pad2() { # X Y RX RY Z RZ
    echo "input pad2 01$(le16 "$1")$(le16 "$2")$(le16 "$3")$(le16 "$4")$(le16 "$5")$(le16 "$6")0800" >&7
  }
  "$cli" gamepad >"$out" 2>&1 &
  pid=$!
  wait_until 100 grep -q '^gamepad: ' "$out" || { detail="no pad: $(tr '\n' ' ' <"$out")"; kill $pid; unplug pad2; return 1; }
  # As it is opened the pad reports where it stands, over and over; then both triggers are pulled and let go.
  for i in $(seq 10); do pad2 0 0 0 0 0 0; sleep 0.04; done
  pad2 0 0 0 0 1023 1023
  sleep 0.3
  pad2 0 0 0 0 0 0
  sleep 0.5
  detail="at rest: $(grep -c '^motion:' "$out") motion lines"
  pad2 32767 0 0 0 0 0 # left stick right: Base CW
  wait_until 30 grep -qx 'motion: BaseCW' "$out"
  pad2 0 0 0 0 0 0
  wait_until 30 grep -qx 'motion: none' "$out"
  pad2 0 0 0 -32768 0 0 # right stick up: Elbow Up
  wait_until 30 grep -qx 'motion: ElbowUp' "$out"
  pad2 0 0 0 0 0 0
  wait_until 30 eval '[ "$(grep -cx "motion: none" "$out")" = 2 ]'
  # One count either side of 20 % (-6555 starts, -6554 does not), then of 15 % (-4915 stops).
  for i in $(seq 10); do pad2 0 0 0 -6555 0 0; sleep 0.04; pad2 0 0 0 -6554 0 0; sleep 0.04; done
  for i in $(seq 10); do pad2 0 0 0 -4916 0 0; sleep 0.04; pad2 0 0 0 -4915 0 0; sleep 0.04; done
  pad2 0 0 0 0 0 0
  sleep 0.5
  unplug pad2
  wait_until 30 grep -qx 'gamepad removed' "$out"
  kill $pid 2>/dev/null
  wait $pid
  unset -f le16 pad2
  detail+="; printed: $(sed 1d "$out" | tr '\n' '|')"
  [ "$(sed 1d "$out" | tr '\n' '|')" = \
    "motion: BaseCW|motion: none|motion: ElbowUp|motion: none|motion: ElbowUp|motion: none|gamepad removed|" ]
}

case_window_hotplug() {
  unplug arm1
  window_start || { detail="no window"; return 1; }
  detail="window up"
  plug arm1 arm && wait_until 100 holds arm1 || { detail="the window did not open the arm"; return 1; }
  click_sends ShoulderUp 1 arm1 || return 1
  unplug arm1
  wait_until 50 eval '! holds arm1' || { detail+="; the arm stayed open after unplugging"; return 1; }
  plug arm1 arm && wait_until 100 holds arm1 || { detail+="; the replugged arm was not opened"; return 1; }
  click_sends BaseCW 7 arm1 || return 1
  detail="clicks sent 1 0 before and 7 0 after the replug"
}

case_window_mouse() {
  need_window || { detail="no window holding the arm"; return 1; }
  plug mouse1 mouse && unplug mouse1 || { detail="mouse not played"; return 1; }
  detail="mouse plugged and unplugged"
  click_sends ElbowUp 3 arm1 || return 1
  detail+="; a click still sends its code"
}

case_window_two_arms() {
  need_window || { detail="no window holding the arm"; return 1; }
  plug arm2 arm && wait_until 100 holds arm2 || { detail="the window did not open arm2"; return 1; }
  detail="two arms open"
  click_sends WristDown 9 arm1 arm2
  local ok=$?
  unplug arm2
  return $ok
}

case_window_gamepad() {
  need_window || { detail="no window holding the arm"; return 1; }
  plug pad1 gamepad && wait_until 100 holds pad1 || { detail="the window did not open the pad"; unplug pad1; return 1; }
  local from
  from="$(mark)"
  pad_input 8080800800 # where the pad stands as it is opened: an axis drives only once seen at rest
  pad_input 1480800800 # left stick to the left: Base CCW
  wait_until 30 codes_are arm1 "$from" 2 || { detail="stick left gave '$(codes arm1 "$from")'"; unplug pad1; return 1; }
  pad_input 8080800800
  wait_until 30 codes_are arm1 "$from" "2 0" || { detail="stick back gave '$(codes arm1 "$from")'"; unplug pad1; return 1; }
  pad_input 80ff800800 # left stick down: Shoulder Down, then the pad is pulled out while it drives
  wait_until 30 codes_are arm1 "$from" "2 0 6" || { detail="stick down gave '$(codes arm1 "$from")'"; unplug pad1; return 1; }
  unplug pad1
  wait_until 30 codes_are arm1 "$from" "2 0 6 0"
  detail="arm got '$(codes arm1 "$from")'"
  codes_are arm1 "$from" "2 0 6 0"
}

# Records, in Scripting mode, ShoulderUp for 1.5 s and then BaseCW for 1.5 s: the script the window
# runs in the unplug cases.
record_two_steps() {
  click Scripting
  sleep 0.3
  click ShoulderUp
  sleep 1.5
  click BaseCW
  sleep 1.5
  click BaseCW
  sleep 0.3
}

case_window_run_unplug() {
  local from cut boxes
  need_window || { detail="no window holding the arm"; return 1; }
  record_two_steps
  boxes="$(windows_shown)"
  from="$(mark)"
  click Run
  wait_until 30 codes_are arm1 "$from" 1 || { detail="the run did not start: '$(codes arm1 "$from")'"; return 1; }
  sleep 0.5
  unplug arm1
  cut="$(mark)"
  plug arm1 arm
  wait_until 100 holds arm1 || { detail="the replugged arm was not opened"; return 1; }
  sleep 3 # past the script's end
  detail="replugged arm got '$(codes arm1 "$cut")'; windows $boxes -> $(windows_shown)"
  [ -z "$(codes arm1 "$cut" | tr -d ' 0')" ] || { detail+=" (the run resumed)"; return 1; }
  [ "$(windows_shown)" -gt "$boxes" ] || { detail+=" (nothing told the operator)"; return 1; }
  # Closing the message; a motion click works again, so the run is over (a run locks the buttons).
  local box
  box="$(xdotool search --all --onlyvisible --pid "$app_pid" --name . 2>/dev/null | grep -vx "$win" | head -n 1)"
  xdotool windowfocus "$box" key Return
  wait_until 50 eval '[ "$(windows_shown)" = 1 ]' || { detail+="; the message did not close"; return 1; }
  click_sends ElbowDown 8 arm1
}

# Without the udev rule, as a fresh system has it (a case named after udev-rule would find it installed).
no_rule() {
  [ -e /usr/lib/udev/rules.d/70-tessaro.rules ] || return 0
  rm -f /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  unplug arm1
}

case_permission_refused() {
  no_rule
  unplug arm1
  plug arm1 arm || { detail="arm not created"; return 1; }
  local node out status
  node="$(node_of arm1)"
  out="$(as_user "$cli" devices 2>&1)"
  status=$?
  detail="$node $(stat -c '%U %a' "$node"); devices exit $status"
  grep -qi 'permission denied' <<<"$out" || { detail+="; no word of the refusal"; return 1; }
  [ "$status" != 0 ]
}

case_permission_window() {
  no_rule
  need_arm arm1
  window_start user || { detail="no window: $(tail -n 3 "$w/app.out" | tr '\n' ' ')"; return 1; }
  wait_until 100 eval '[ "$(windows_shown)" -ge 2 ]' || { detail="no message about the refusal"; return 1; }
  detail="the refusal is shown"
}

case_udev_rule() {
  install -D -m 644 "$src/packaging/70-tessaro.rules" /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  unplug arm1
  plug arm1 arm && plug mouse1 mouse || { detail="devices not created"; return 1; }
  local arm mouse
  arm="$(node_of arm1)" mouse="$(node_of mouse1)"
  detail="arm $(udevadm info -q property -n "$arm" | grep '^TAGS=') $(stat -c '%U' "$arm");"
  detail+=" mouse $(udevadm info -q property -n "$mouse" | grep '^TAGS=')"
  unplug mouse1
  udevadm info -q property -n "$arm" | grep -q '^TAGS=.*:uaccess:' && [ "$(stat -c %u "$arm")" = "$user" ] &&
    ! udevadm info -q property -n "$mouse" | grep -q 'uaccess' 2>/dev/null
}

case_permission_allowed() {
  # The arm was replugged with the rule installed (udev-rule) under the user's window that was refused
  # it (permission-window). Named alone, or without those, the case makes that state itself.
  if [ "$app_user" != user ] || ! kill -0 "$app_pid" 2>/dev/null; then
    case_permission_window || { detail="set-up: $detail"; return 1; }
  fi
  if [ ! -e /usr/lib/udev/rules.d/70-tessaro.rules ]; then
    case_udev_rule || { detail="set-up: $detail"; return 1; }
  fi
  wait_until 100 holds arm1 || { detail="the window did not open the arm"; return 1; }
  wait_until 50 eval '[ "$(windows_shown)" = 1 ]' || { detail="the refusal message stayed up"; return 1; }
  detail="opened, message gone"
  click_sends ShoulderUp 1 arm1 || return 1
  as_user "$cli" devices >/dev/null 2>&1 || { detail+="; devices as the user: exit $?"; return 1; }
  detail+="; click sends, devices exit 0"
}

# --- the interface kit and the HID board as real USB devices on dummy_hcd, played by tessaro-usb-gadget -

gadget="$build/tests/tessaro-usb-gadget"
kitlog="$w/kit.log"
gadget_pid=
declare -A kit_made=()
# Loads the gadget modules and starts the gadget player, once. The window of earlier cases is closed: these
# cases are tessaro-cli's.
kit_start() {
  [ -n "$gadget_pid" ] && kill -0 "$gadget_pid" 2>/dev/null && return 0
  window_stop
  # Three buses, so that two kits and a HID board can be plugged in at once.
  modprobe dummy_hcd num=3 && modprobe -a libcomposite usb_f_fs usb_f_hid usbhid || return 1
  mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config || return 1
  mkfifo "$w/kit.in"
  exec 8<>"$w/kit.in"
  "$gadget" <"$w/kit.in" >>"$kitlog" 2>&1 &
  gadget_pid=$!
  # The seat manager's stand-in grants USB devices tagged uaccess as it grants hidraw nodes.
  echo 'SUBSYSTEM=="usb", TAG=="uaccess", OWNER="1000"' >/etc/udev/rules.d/99-seat-standin-usb.rules
  udevadm control --reload
}
to_kit() { kill -0 "$gadget_pid" 2>/dev/null && echo "$1" >&8; }
kit_node() { # NAME: the usbfs node of a played kit, found by its serial number
  local d
  for d in /sys/bus/usb/devices/*; do
    [ "$(cat "$d/serial" 2>/dev/null)" = "$1" ] || continue
    printf '/dev/bus/usb/%03d/%03d\n' "$(cat "$d/busnum")" "$(cat "$d/devnum")"
    return 0
  done
  return 1
}
kit_gone() { ! kit_node "$1" >/dev/null; }
kit_plug() { # NAME [PRODUCT]: plugs a kit in; returns once udev is done with its node
  kit_start || return 1
  if [ -z "${kit_made[$1]:-}" ]; then
    to_kit "create $1 ${2:-0000}" || return 1
    kit_made[$1]=1
  fi
  to_kit "connect $1" || return 1
  wait_until 100 kit_node "$1" >/dev/null && udevadm settle -t 10
}
kit_unplug() {
  to_kit "disconnect $1" || return 1
  wait_until 100 kit_gone "$1" && udevadm settle -t 10
}
need_kit() { kit_node "$1" >/dev/null || kit_plug "$1"; }
# The cases of one kind of arm: no HID arm is left to carry a run on.
no_hid_arm() {
  { gone arm1 || unplug arm1; } && { gone usbarm1 || usb_arm_unplug usbarm1; }
}
kit_mark() { if [ -e "$kitlog" ]; then wc -l <"$kitlog"; else echo 0; fi; }
kit_said() { tail -n 3 "$kitlog" 2>/dev/null | tr '\n' ' '; }
# NAME FROM: the command bytes NAME took after log line FROM, "400000 000000"; any other request shows
# as "request:TYPE:REQUEST:VALUE:INDEX".
kit_bytes() {
  local t name event hex rest out=()
  while read -r t name event hex rest; do
    [ "$name" = "$1" ] || continue
    case "$event" in
    command) out+=("$hex") ;;
    request) out+=("request:$hex") ;;
    esac
  done < <(tail -n +"$(($2 + 1))" "$kitlog")
  echo "${out[*]}"
}
kit_bytes_are() { [ "$(kit_bytes "$1" "$2")" = "$3" ]; }
# The kit's command for each code, as built (no motor reversed), and back.
kit_command=(000000 400000 000200 100000 040000 010000 800000 000100 200000 080000 020000)
declare -A kit_code=()
for c in "${!kit_command[@]}"; do kit_code[${kit_command[$c]}]=$c; done
# NAME FROM: the codes NAME took after FROM, "1 7 0"; with the light on a code reads "1L"; bytes that are
# no code read "bad:HEX".
kit_codes() {
  local hex light out=()
  for hex in $(kit_bytes "$1" "$2"); do
    light=
    [ "${hex:4:2}" = 01 ] && light=L
    if [ -n "${kit_code[${hex:0:4}00]:-}" ] && [[ "${hex:4:2}" =~ ^0[01]$ ]]; then
      out+=("${kit_code[${hex:0:4}00]}$light")
    else
      out+=("bad:$hex")
    fi
  done
  echo "${out[*]}"
}
kit_codes_are() { [ "$(kit_codes "$1" "$2")" = "$3" ]; }
kit_times() { tail -n +"$(($2 + 1))" "$kitlog" | awk -v n="$1" '$2 == n && $3 == "command" { print $1 }'; }
# TIMES WANT: the worst gap error in ms between consecutive times against the wanted step times
worst_gap() {
  awk -v want="$2" 'BEGIN { n = split(want, w, " ") }
    NR > 1 { d = $1 - prev - w[NR - 1]; if (d < 0) d = -d; if (d > worst) worst = d }
    { prev = $1 } END { printf "%.0f", worst * 1000 }' <<<"$1"
}
# NAME PRODUCT: the line devices prints under a kit's node
kit_line() {
  local node
  node="$(kit_node "$1")" || return 1
  local bus="${node#/dev/bus/usb/}"
  local address="${bus#*/}"
  bus="${bus%/*}"
  echo "  interface kit  USB 1267:$2  bus $((10#$bus))  address $((10#$address))"
}

case_kit_enumerate() {
  kit_plug kit1 && kit_plug kit2 0001 || { detail="kits not plugged: $(kit_said)"; return 1; }
  local n1 n2 l1 l2 out status
  n1="$(kit_node kit1)" n2="$(kit_node kit2)" l1="$(kit_line kit1 0000)" l2="$(kit_line kit2 0001)"
  out="$("$cli" devices 2>&1)"
  status=$?
  kit_unplug kit2
  detail="kit1 $n1, kit2 $n2 (product 0001); devices exit $status"
  [ "$status" = 0 ] || { detail+=": $(tr '\n' '|' <<<"$out" | tail -c 300)"; return 1; }
  grep -A 3 -x "$n1" <<<"$out" | grep -qx "$l1" && grep -A 3 -x "$n1" <<<"$out" | grep -qx '  can be opened' ||
    { detail+="; kit1 not listed as '$l1': $(tr '\n' '|' <<<"$out" | tail -c 300)"; return 1; }
  grep -A 3 -x "$n2" <<<"$out" | grep -qx "$l2" || { detail+="; kit2 not listed as '$l2'"; return 1; }
  detail+="; both listed with bus, address and 'can be opened'"
}

case_kit_run_bytes() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  script_file "$w/kit.srp" ShoulderUp 0.3 BaseCCW 0.3 ElbowUp 0.3 WristUp 0.3 GripClose 0.3 ShoulderDown 0.3 \
    BaseCW 0.3 ElbowDown 0.3 WristDown 0.3 GripOpen 0.3 Pause 0.3
  local want="400000 000200 100000 040000 010000 800000 000100 200000 080000 020000 000000 000000"
  local from status worst
  from="$(kit_mark)"
  "$cli" run "$w/kit.srp" >"$w/run.out" 2>&1
  status=$?
  wait_until 20 kit_bytes_are kit1 "$from" "$want"
  detail="bytes $(kit_bytes kit1 "$from")"
  [ "$status" = 0 ] || { detail+="; exit $status: $(tail -n 2 "$w/run.out" | tr '\n' ' ')"; return 1; }
  kit_bytes_are kit1 "$from" "$want" || return 1
  # Each step lasts its time: the gaps between the transfers against 0.3 s each.
  worst="$(worst_gap "$(kit_times kit1 "$from")" "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3")"
  detail="every code's bytes in order, then the stop; worst step time error ${worst} ms"
  [ "$worst" -le 100 ]
}

case_kit_light() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  script_file "$w/lit.srp" WristDown 0.25 Pause 0.25
  local from on off run
  from="$(kit_mark)"
  "$cli" light on >"$w/light.out" 2>&1
  on=$?
  "$cli" run "$w/lit.srp" --light >"$w/run.out" 2>&1
  run=$?
  "$cli" light off >>"$w/light.out" 2>&1
  off=$?
  wait_until 20 kit_codes_are kit1 "$from" "0L 0L 9L 0L 0L 0"
  detail="light on exit $on, run --light exit $run, light off exit $off; codes $(kit_codes kit1 "$from")"
  [ "$on$run$off" = 000 ] && kit_codes_are kit1 "$from" "0L 0L 9L 0L 0L 0"
}

case_kit_unplug() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  # Step 2 is long, so that the removal lands in it however slowly the emulated machine runs.
  script_file "$w/three.srp" ShoulderUp 1 BaseCW 3 ElbowUp 1
  local from pid status start cut
  from="$(kit_mark)"
  start=$SECONDS
  "$cli" run "$w/three.srp" >"$w/run.out" 2>"$w/run.err" &
  pid=$!
  wait_until 100 kit_codes_are kit1 "$from" "1 7" || { detail="step 2 never started: $(kit_codes kit1 "$from")"; kill $pid; return 1; }
  sleep 0.3
  kit_unplug kit1
  cut="$(kit_mark)"
  kit_plug kit1
  # The script would end 5 s after its start: wait past that for anything sent to the new kit.
  wait_until 100 eval '! kill -0 $pid 2>/dev/null'
  sleep "$((start + 6 - SECONDS > 0 ? start + 6 - SECONDS : 0))"
  kill $pid 2>/dev/null
  wait $pid
  status=$?
  detail="exit $status; replugged kit got '$(kit_codes kit1 "$cut")'; said: $(tr '\n' ' ' <"$w/run.err" | tail -c 160)"
  [ "$status" = 4 ] && [ -z "$(kit_codes kit1 "$cut")" ] && grep -q 'step 2 (BaseCW)' "$w/run.err"
}

case_kit_permission() {
  no_hid_arm
  kit_start || { detail="no kit player"; return 1; }
  # Without the rule, as a fresh system has it.
  rm -f /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  kit_node kit1 >/dev/null && kit_unplug kit1
  kit_plug kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  local node out status
  node="$(kit_node kit1)"
  out="$(as_user "$cli" devices 2>&1)"
  status=$?
  detail="$node $(stat -c '%U %a' "$node"); devices as a user exit $status"
  grep -q 'cannot be opened: .*Permission denied' <<<"$out" && grep -q '70-tessaro.rules' <<<"$out" ||
    { detail+="; no word of the refusal: $(tr '\n' '|' <<<"$out" | tail -c 200)"; return 1; }
  [ "$status" = 5 ] || return 1
  # With the rule, plugged in again: tagged uaccess, the seat's user owns it and can drive it.
  install -D -m 644 "$src/packaging/70-tessaro.rules" /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  kit_unplug kit1 && kit_plug kit1 || { detail+="; not replugged"; return 1; }
  node="$(kit_node kit1)"
  detail+="; with the rule: $(udevadm info -q property -n "$node" | grep '^TAGS=') $(stat -c '%U' "$node")"
  udevadm info -q property -n "$node" | grep -q '^TAGS=.*:uaccess:' && [ "$(stat -c %u "$node")" = "$user" ] ||
    return 1
  local from
  from="$(kit_mark)"
  as_user "$cli" devices >"$w/devices.out" 2>&1 || { detail+="; devices as the user: exit $?"; return 1; }
  as_user "$cli" light on >/dev/null 2>&1 && as_user "$cli" light off >/dev/null 2>&1 ||
    { detail+="; light as the user failed"; return 1; }
  wait_until 20 kit_codes_are kit1 "$from" "0L 0"
  detail+="; devices exit 0, light on/off as the user: $(kit_codes kit1 "$from")"
  kit_codes_are kit1 "$from" "0L 0"
}

case_kit_and_hid() {
  need_arm arm1 || { detail="arm not created"; return 1; }
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  script_file "$w/both.srp" ShoulderUp 0.2 BaseCCW 0.2 ElbowUp 0.2 WristUp 0.2 GripClose 0.2 ShoulderDown 0.2 \
    BaseCW 0.2 ElbowDown 0.2 WristDown 0.2 GripOpen 0.2 Pause 0.2
  local want="1 2 3 4 5 6 7 8 9 10 0 0" from kitfrom status
  from="$(mark)" kitfrom="$(kit_mark)"
  "$cli" run "$w/both.srp" >"$w/run.out" 2>&1
  status=$?
  wait_until 20 codes_are arm1 "$from" "$want"
  wait_until 20 kit_codes_are kit1 "$kitfrom" "$want"
  detail="exit $status; HID arm '$(codes arm1 "$from")', kit '$(kit_codes kit1 "$kitfrom")'"
  [ "$status" = 0 ] && codes_are arm1 "$from" "$want" && kit_codes_are kit1 "$kitfrom" "$want"
}

# A client of tessaro-cli serve, as a lesson would be: it takes control, asks for a combined motion
# (which the HID board beside the kit refuses), then holds the elbow up, renewing it, until it is killed.
serve_client() {
  exec python3 -c '
import json, os, socket, time
s = socket.socket(socket.AF_UNIX)
s.connect(os.environ["XDG_RUNTIME_DIR"] + "/tessaro/arm.sock")
f = s.makefile("rw")
f.readline()
def ask(i, cmd, **fields):
    f.write(json.dumps({"id": i, "cmd": cmd, **fields}) + "\n")
    f.flush()
    while True:
        reply = json.loads(f.readline())
        if reply.get("id") == i:
            print(json.dumps(reply), flush=True)
            return reply
ask(1, "take")
ask(2, "move", joints={"base": "cw", "elbow": "up"}, ms=500)
f.write(json.dumps({"id": 3, "cmd": "hold", "joints": {"elbow": "up"}, "holdMs": 1000}) + "\n")
f.flush()
while True:
    time.sleep(0.2)
    f.write("{\"id\":4,\"cmd\":\"renew\"}\n")
    f.flush()
'
}

case_serve_kill() {
  need_arm arm1 || { detail="arm not created"; return 1; }
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  local rt="$w/serve-rt" serve client from kitfrom status=0
  mkdir -p -m 700 "$rt"
  XDG_RUNTIME_DIR="$rt" "$cli" serve >"$w/serve.out" 2>&1 &
  serve=$!
  wait_until 100 grep -q '^Arms: .*;' "$w/serve.out" || { detail="serve: $(tr '\n' ' ' <"$w/serve.out")"; kill $serve; return 1; }
  from="$(mark)" kitfrom="$(kit_mark)"
  XDG_RUNTIME_DIR="$rt" serve_client >"$w/client.out" 2>&1 &
  client=$!
  wait_until 100 codes_are arm1 "$from" "3" && wait_until 50 kit_codes_are kit1 "$kitfrom" "3" ||
    { detail="no motion: HID '$(codes arm1 "$from")', kit '$(kit_codes kit1 "$kitfrom")'"; status=1; }
  # Killed mid-motion: both arms stop long before the hold would lapse.
  kill -KILL $client
  wait $client 2>/dev/null
  wait_until 8 codes_are arm1 "$from" "3 0" && wait_until 2 kit_codes_are kit1 "$kitfrom" "3 0" || status=1
  grep -q '"ended": "refused".*one motor at a time' "$w/client.out" || { detail+="; combined not refused"; status=1; }
  kill -TERM $serve
  wait $serve || status=1
  detail+="; HID '$(codes arm1 "$from")', kit '$(kit_codes kit1 "$kitfrom")'; client: $(tr '\n' ' ' <"$w/client.out" | tail -c 160)"
  return $status
}

case_kit_stall() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  script_file "$w/stall.srp" ShoulderUp 20
  local t0 status took
  to_kit "hold kit1"
  t0=$(date +%s%N)
  timeout 30 "$cli" run "$w/stall.srp" >"$w/run.out" 2>"$w/run.err"
  status=$?
  took=$((($(date +%s%N) - t0) / 1000000))
  to_kit "release kit1"
  detail="exit $status after $took ms; said: $(tr '\n' ' ' <"$w/run.err" | tail -c 200)"
  # A kit left mid-request is plugged in afresh for whatever follows.
  kit_unplug kit1 && kit_plug kit1
  [ "$status" = 6 ] && grep -q 'stopped taking commands' "$w/run.err" && [ "$took" -lt 10000 ]
}

# The arm's HID board as a USB device: usbhid takes it up, the programs reach it through hidraw.
usb_arm_plug() { # NAME: plugs the board in; returns once udev is done with its hidraw node
  kit_start || return 1
  if [ -z "${kit_made[$1]:-}" ]; then
    to_kit "create-hid $1" || return 1
    kit_made[$1]=1
  fi
  to_kit "connect $1" || return 1
  wait_until 100 node_of "$1" >/dev/null && udevadm settle -t 10
}
usb_arm_unplug() {
  to_kit "disconnect $1" || return 1
  wait_until 100 gone "$1" && udevadm settle -t 10
}
# NAME FROM: the codes the board NAME took after FROM, "1 7 0"; an output report that is not the one
# byte of a code shows as "bad:HEX".
usb_codes() {
  local t name event hex out=()
  while read -r t name event hex; do
    [ "$name" = "$1" ] && [ "$event" = output ] || continue
    if [[ "$hex" =~ ^[0-9a-f]{2}$ ]]; then out+=("$((16#$hex))"); else out+=("bad:$hex"); fi
  done < <(tail -n +"$(($2 + 1))" "$kitlog")
  echo "${out[*]}"
}
usb_codes_are() { [ "$(usb_codes "$1" "$2")" = "$3" ]; }
usb_times() { tail -n +"$(($2 + 1))" "$kitlog" | awk -v n="$1" '$2 == n && $3 == "output" { print $1 }'; }

case_usb_hid_run() {
  no_hid_arm
  usb_arm_plug usbarm1 || { detail="HID board not plugged: $(kit_said)"; return 1; }
  local node driver out from status worst
  node="$(node_of usbarm1)"
  # The HID device's parent is the USB interface, and usbhid drives it.
  driver="$(basename "$(readlink -f "/sys/class/hidraw/${node#/dev/}/device/../driver")")"
  detail="$node, interface driver $driver"
  [ "$driver" = usbhid ] || return 1
  out="$("$cli" devices 2>&1)" || { detail+="; devices exit $?"; return 1; }
  grep -qx "$node" <<<"$out" && grep -q 'USB 1e6f:1113' <<<"$out" ||
    { detail+="; not listed: $(tr '\n' '|' <<<"$out" | tail -c 300)"; return 1; }
  script_file "$w/usb.srp" ShoulderUp 0.3 BaseCCW 0.3 ElbowUp 0.3 WristUp 0.3 GripClose 0.3 ShoulderDown 0.3 \
    BaseCW 0.3 ElbowDown 0.3 WristDown 0.3 GripOpen 0.3 Pause 0.3
  local want="1 2 3 4 5 6 7 8 9 10 0 0"
  from="$(kit_mark)"
  "$cli" run "$w/usb.srp" >"$w/run.out" 2>&1
  status=$?
  wait_until 20 usb_codes_are usbarm1 "$from" "$want"
  detail+="; listed; run exit $status, codes $(usb_codes usbarm1 "$from")"
  [ "$status" = 0 ] && usb_codes_are usbarm1 "$from" "$want" || return 1
  worst="$(worst_gap "$(usb_times usbarm1 "$from")" "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3")"
  detail+="; worst step time error ${worst} ms"
  [ "$worst" -le 100 ]
}

case_usb_hid_rule() {
  # The board alone, so that the refusal decides how devices ends.
  kit_node kit1 >/dev/null && kit_unplug kit1
  # Without the rule, as a fresh system has it: the board's hidraw node is root's alone.
  rm -f /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  node_of usbarm1 >/dev/null && usb_arm_unplug usbarm1
  usb_arm_plug usbarm1 || { detail="HID board not plugged: $(kit_said)"; return 1; }
  local node out status from
  node="$(node_of usbarm1)"
  out="$(as_user "$cli" devices 2>&1)"
  status=$?
  detail="$node $(stat -c '%U %a' "$node"); devices as a user exit $status"
  grep -qi 'permission denied' <<<"$out" && [ "$status" != 0 ] ||
    { detail+="; no word of the refusal: $(tr '\n' '|' <<<"$out" | tail -c 200)"; return 1; }
  # With the rule, plugged in again: matched through the board's HID parent on USB, tagged uaccess.
  install -D -m 644 "$src/packaging/70-tessaro.rules" /usr/lib/udev/rules.d/70-tessaro.rules
  udevadm control --reload
  usb_arm_unplug usbarm1 && usb_arm_plug usbarm1 || { detail+="; not replugged"; return 1; }
  node="$(node_of usbarm1)"
  detail+="; with the rule: $(udevadm info -q property -n "$node" | grep '^TAGS=') $(stat -c '%U' "$node")"
  udevadm info -q property -n "$node" | grep -q '^TAGS=.*:uaccess:' && [ "$(stat -c %u "$node")" = "$user" ] ||
    return 1
  script_file "$w/user.srp" WristUp 0.25 GripClose 0.25
  from="$(kit_mark)"
  as_user "$cli" run "$w/user.srp" >"$w/run.out" 2>&1 || { detail+="; run as the user: exit $?"; return 1; }
  wait_until 20 usb_codes_are usbarm1 "$from" "4 5 0"
  detail+="; the user's run: $(usb_codes usbarm1 "$from")"
  usb_codes_are usbarm1 "$from" "4 5 0"
}

# --- the interface kit in the window ----------------------------------------------------------------

# True while the window's process holds the usbfs node of the played kit NAME open.
kit_holds() {
  local node
  node="$(kit_node "$1")" || return 1
  ls -l "/proc/$app_pid/fd" 2>/dev/null | grep -q " $node\$"
}
kit_click_sends() { # CONTROL CODE NAME: a click starts the motion and another stops it, on the kit
  local from
  from="$(kit_mark)"
  click "$1"
  sleep 0.3
  click "$1"
  wait_until 30 kit_codes_are "$3" "$from" "$2 0" ||
    { detail+="; $1 gave $3 '$(kit_codes "$3" "$from")'"; return 1; }
}
# Client coordinates of the gripper's lamp, and of a bare spot of the arm picture.
at[Lamp]="79 84"
at[Picture]="100 200"

case_kit_window_hotplug() {
  no_hid_arm
  kit_start || { detail="no kit player"; return 1; }
  kit_node kit1 >/dev/null && kit_unplug kit1
  window_start || { detail="no window"; return 1; }
  detail="window up"
  kit_plug kit1 && wait_until 100 kit_holds kit1 || { detail+="; the window did not open the kit"; return 1; }
  kit_click_sends ShoulderUp 1 kit1 || return 1
  kit_unplug kit1
  kit_plug kit1 && wait_until 100 kit_holds kit1 || { detail+="; the replugged kit was not opened"; return 1; }
  kit_click_sends BaseCW 7 kit1 || return 1
  # The light: the lamp button, then the key L on the arm picture.
  local from
  from="$(kit_mark)"
  click Lamp
  click Picture
  xdotool key l
  wait_until 30 kit_codes_are kit1 "$from" "0L 0" || { detail+="; lamp and L gave '$(kit_codes kit1 "$from")'"; return 1; }
  detail="clicks sent 1 0 before and 7 0 after the replug; lamp and L: 0L 0"
}

case_kit_window_unplug() {
  local from cut boxes
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  if [ -z "$app_pid" ] || [ "$app_user" != root ] || ! kill -0 "$app_pid" 2>/dev/null; then
    window_start || { detail="no window"; return 1; }
  fi
  wait_until 100 kit_holds kit1 || { detail="the window does not hold the kit"; return 1; }
  record_two_steps
  boxes="$(windows_shown)"
  from="$(kit_mark)"
  click Run
  wait_until 30 kit_codes_are kit1 "$from" 1 || { detail="the run did not start: '$(kit_codes kit1 "$from")'"; return 1; }
  sleep 0.5
  kit_unplug kit1
  cut="$(kit_mark)"
  kit_plug kit1
  wait_until 100 kit_holds kit1 || { detail="the replugged kit was not opened"; return 1; }
  sleep 3 # past the script's end
  detail="replugged kit got '$(kit_codes kit1 "$cut")'; windows $boxes -> $(windows_shown)"
  [ -z "$(kit_codes kit1 "$cut" | tr -d ' 0')" ] || { detail+=" (the run resumed)"; return 1; }
  [ "$(windows_shown)" -gt "$boxes" ] ||
    { detail+=" (nothing told the operator); kit log: $(tail -n +"$((from + 1))" "$kitlog" | awk '{ printf "%s %s %s|", $1, $3, $4 }' | tail -c 400)"; return 1; }
  local box
  box="$(xdotool search --all --onlyvisible --pid "$app_pid" --name . 2>/dev/null | grep -vx "$win" | head -n 1)"
  xdotool windowfocus "$box" key Return
  wait_until 50 eval '[ "$(windows_shown)" = 1 ]' || { detail+="; the message did not close"; return 1; }
  kit_click_sends ElbowDown 8 kit1
}

# A figure rather than a check: the click to the kit's control transfer, printed with the table.
case_kit_click_latency() {
  no_hid_arm
  window_stop
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  local out
  out="$("$build/bench/bench_window" --kit-clicks 200 --kit-log "$kitlog" 2>/dev/null)"
  detail="$(grep -m 1 'click' <<<"$out")"
  echo "guest: $detail"
  grep -q 'p99' <<<"$detail"
}

# --- the guard: the arm stopped when the program that drives it dies --------------------------------

# BOARD (hid: the uhid arm, kit: the gadget kit): its log, its name and event there, and the bytes of
# ElbowUp, ElbowDown and the stop.
guard_board() {
  case "$1" in
  hid) g_log="$log" g_dev=arm1 g_event=output g_up=0003 g_down=0008 g_stop=0000 ;;
  kit) g_log="$kitlog" g_dev=kit1 g_event=command g_up=100000 g_down=200000 g_stop=000000 ;;
  esac
}
g_mark() { if [ -e "$g_log" ]; then wc -l <"$g_log"; else echo 0; fi; }
g_time() { # BYTES FROM: the time of the board's first transfer of BYTES after log line FROM
  tail -n +"$(($2 + 1))" "$g_log" |
    awk -v d="$g_dev" -v e="$g_event" -v b="$1" '$2 == d && $3 == e && $4 == b { print $1; exit }'
}
g_has() { [ -n "$(g_time "$1" "$2")" ]; }
# WHAT PID SIGNAL: with ElbowUp under way, PID is sent SIGNAL; the stop must follow within 200 ms. The
# kill's time is the monotonic clock of the device logs, to 10 ms (/proc/uptime; the machine never sleeps).
g_signal() {
  wait_until 100 g_has "$g_up" "$from" || { detail+="; $1: no motion"; kill -9 "$2"; return 1; }
  sleep 0.5
  local killed _ ms
  from="$(g_mark)"
  read -r killed _ </proc/uptime
  kill -"$3" "$2"
  wait "$2" 2>/dev/null
  wait_until 20 g_has "$g_stop" "$from" || { detail+="; $1: no stop"; return 1; }
  ms="$(awk -v a="$killed" -v b="$(g_time "$g_stop" "$from")" 'BEGIN { printf "%.0f", (b - a) * 1000 }')"
  detail+="; $1: stop after ${ms} ms"
  [ "$ms" -le 200 ]
}
guard_cases() { # BOARD: tessaro-cli run killed, hung up and cut off by head; the window killed, a button lit
  guard_board "$1"
  script_file "$w/guard.srp" ElbowUp 30 ElbowDown 30
  local failed=0 sig pid down ms
  for sig in KILL HUP; do
    from="$(g_mark)"
    "$cli" run "$w/guard.srp" >"$w/run.out" 2>&1 &
    g_signal "cli $sig" $! "$sig" || failed=1
  done
  # The second step's line, 1 s on, finds the reader gone: the stop follows the first step's end (and
  # the second step's motion, when it went out first).
  script_file "$w/pipe.srp" ElbowUp 1 ElbowDown 30
  from="$(g_mark)"
  ("$cli" run "$w/pipe.srp" | head -n 2 >/dev/null) &
  pid=$!
  if wait_until 100 g_has "$g_up" "$from" && wait "$pid" && wait_until 20 g_has "$g_stop" "$from"; then
    ms="$(awk -v a="$(g_time "$g_up" "$from")" -v b="$(g_time "$g_stop" "$from")" 'BEGIN { printf "%.0f", (b - a - 1) * 1000 }')"
    detail+="; cli PIPE: stop ${ms} ms after the first step's end"
    [ "$ms" -le 200 ] || failed=1
  else
    detail+="; cli PIPE: no motion, or no stop"; failed=1
  fi
  if window_start && wait_until 100 "$([ "$1" = hid ] && echo holds || echo kit_holds)" "$g_dev"; then
    from="$(g_mark)"
    click ElbowUp
    g_signal "window KILL" "$app_pid" KILL || failed=1
    app_pid=
  else
    detail+="; the window did not open the arm"; failed=1
  fi
  detail="${detail#; }"
  return $failed
}
case_guard_hid() {
  { kit_node kit1 >/dev/null && kit_unplug kit1; } || true
  need_arm arm1 || { detail="no arm"; return 1; }
  guard_cases hid
}
case_guard_kit() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  guard_cases kit
}

# The kit refuses the run's final stop (the run's second command): the stop is sent again and arrives,
# and the run ends as a run whose stop went out.
case_kit_stop_retry() {
  no_hid_arm
  need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  script_file "$w/retry.srp" ElbowUp 0.5
  local from status refused
  from="$(kit_mark)"
  to_kit "refuse kit1 2"
  "$cli" run "$w/retry.srp" >"$w/run.out" 2>&1
  status=$?
  to_kit "refuse kit1 0"
  wait_until 20 kit_codes_are kit1 "$from" "3 0"
  refused="$(tail -n +"$((from + 1))" "$kitlog" | grep -c ' kit1 refused ')"
  detail="refused $refused, then codes $(kit_codes kit1 "$from"); exit $status: $(tail -n 1 "$w/run.out")"
  [ "$refused" = 1 ] && kit_codes_are kit1 "$from" "3 0" && [ "$status" = 0 ]
}

# The benchmark: 20 kills of tessaro-cli run mid-step per board, the time to the stop at the device.
case_guard_bench() {
  script_file "$w/bench.srp" ElbowUp 30
  local hid kit
  { kit_node kit1 >/dev/null && kit_unplug kit1; } || true
  need_arm arm1 || { detail="no arm"; return 1; }
  hid="$("$build/bench/bench_guard" --log "$log" --motion ' arm1 output 0003$' --stop ' arm1 output 0000$' \
    -- "$cli" run "$w/bench.srp" 2>&1 | tail -n 1)"
  no_hid_arm && need_kit kit1 || { detail="kit not plugged: $(kit_said)"; return 1; }
  kit="$("$build/bench/bench_guard" --log "$kitlog" --motion ' kit1 command 100000$' \
    --stop ' kit1 command 000000$' -- "$cli" run "$w/bench.srp" 2>&1 | tail -n 1)"
  detail="HID arm: $hid; kit: $kit"
  echo "guest: guard-bench: $detail"
  grep -q p99 <<<"$hid" && grep -q p99 <<<"$kit"
}

# --- the table -------------------------------------------------------------------------------------

# name | what it shows | the branch whose mend it awaits: a failure then reads "awaited" and is not
# counted (empty once the mend is on main)
cases=(
  "enumerate          | tessaro-cli devices lists the arm, not the mouse; --all lists both        |"
  "run-bytes          | tessaro-cli run: each code in order, 2 bytes, step times within 100 ms    |"
  "ctrl-c             | SIGINT during a run: the final 0 is sent, exit 130                        |"
  "cli-unplug         | unplug/replug during a run: exit 4, names the step cut, never resumes    |"
  "two-arms-cli       | two arms: each receives every code of a run                               |"
  "cli-gamepad        | tessaro-cli gamepad prints the pad's motions, stop, removal, a refusal   |"
  "cli-pad-triggers   | a pad with Z/Rz triggers at 0: nothing at plug-in, Ry drives, no flicker |"
  "window-hotplug     | the window follows unplug and replug; clicks send before and after       |"
  "window-mouse       | a mouse plugged and unplugged: the arm stays Ready, a click sends         |"
  "window-two-arms    | two arms: a click reaches both                                            |"
  "window-gamepad     | a pad's stick jogs the arm: out and back 2 0; pulled out mid-motion 6 0 |"
  "window-run-unplug  | unplug/replug during a window run: it ends, operator told, no resume     |"
  "permission-refused | node 0600 root: devices as a user says permission denied, exits non-zero |"
  "permission-window  | the window run by a user shows the refusal                                |"
  "udev-rule          | the installed rule tags the arm's node uaccess (not the mouse's)          |"
  "permission-allowed | replugged with the rule: opened, the message closes itself, a click sends |"
  "kit-enumerate      | kits 1267:0000 and 1267:0001 on USB: devices lists both, can be opened    |"
  "kit-run-bytes      | a run on a kit: every code's 3 bytes in order, the stop; timing in 100 ms |"
  "kit-light          | light on, run --light, light off: the light bit rides every command       |"
  "kit-unplug         | kit unplugged/replugged during a run: exit 4, names the step, no resume   |"
  "kit-permission     | no rule: a user is refused (exit 5); the rule: uaccess, the user drives   |"
  "kit-and-hid        | a kit and a HID arm at once: both get every code of a run                 |"
  "serve-kill         | serve on a HID arm and a kit: combined refused, a killed client's hold stops |"
  "kit-stall          | a kit that takes no command: let go within the bound, exit 6              |"
  "usb-hid-run        | the HID board on USB (hidraw over usbhid): listed, a run's codes and times |"
  "usb-hid-rule       | no rule: a user is refused; the rule: uaccess via the HID parent, user runs |"
  "kit-window-hotplug | the window follows a kit's unplug and replug; clicks, the lamp and L send   |"
  "kit-window-unplug  | a kit unplugged during a window run: it ends, operator told, no resume    |"
  "kit-click-latency  | click to the kit's control transfer over 200 clicks (a figure: p99)        |"
  "guard-hid          | HID arm: cli KILL, HUP, PIPE and window KILL mid-motion: 0 within 200 ms    |"
  "guard-kit          | kit: cli KILL, HUP, PIPE and window KILL mid-motion: 0 within 200 ms        |"
  "kit-stop-retry     | the kit refuses the run's final stop: it is sent again and arrives, exit 0  |"
  "guard-bench        | kill to stop at the device, 20 kills per board (figures: median, p99)     |"
)

wait_until 100 grep -q '^[0-9.]* - ready$' "$log" || stop_pass "the device player $player did not start: $(player_said)"
wait_until 100 test -S /tmp/.X11-unix/X1 || echo "guest: Xvfb did not start"
read -r up _ </proc/uptime
echo "guest: up after ${up%.*} s; the cases follow"
failed=0
rows=()
awaited=
ran=0
cut=
for entry in "${cases[@]}"; do
  IFS='|' read -r name what awaits <<<"$entry"
  name="${name// /}" what="${what# }" awaits="${awaits// /}"
  [ -z "$TESSARO_CASES" ] || [[ ",$TESSARO_CASES," == *",$name,"* ]] || continue
  ran=$((ran + 1))
  detail=
  t0=$SECONDS
  if "case_${name//-/_}"; then
    result=ok
  elif [ -n "$awaits" ]; then
    result=awaited
    awaited+=" $name"
  else
    result=FAIL
    failed=$((failed + 1))
  fi
  rows+=("$(printf '%-18s %-7s %3ds  %s\n      %s' "$name" "$result" $((SECONDS - t0)) "$what" "$detail")")
  echo "system pass: $name $result ($((SECONDS - t0)) s)"
  # Every case after would only wait out its timeouts.
  if player_gone; then
    wait "$player_pid"
    cut="the device player ended (exit status $?) during $name; the cases after it were not run."
    cut+=" It said: $(player_said)"
    break
  fi
done
window_stop

echo
echo "case               result   time  what / found"
printf '%s\n' "${rows[@]}"
echo
echo "$failed failed ($ran cases); awaiting a mend:${awaited:- none}"
if [ "$failed" != 0 ]; then
  echo "--- devices log (last 40 lines)"
  tail -n 40 "$log"
  echo "--- window output"
  tail -n 20 "$w/app.out" 2>/dev/null
fi
[ -z "$cut" ] || stop_pass "$cut"
finish "$failed"
