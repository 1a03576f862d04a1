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

as_user() { setpriv --reuid="$user" --regid="$user" --clear-groups env HOME="$home" "$@"; }

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
    (exec setpriv --reuid="$user" --regid="$user" --clear-groups env HOME="$home" "$app") \
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
window_stop() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
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
  grep -qx "$arm" <<<"$out" && grep -q 'VID_1E6F&PID_1113' <<<"$out" && grep -q 'page 0x0001 usage 0x003E' <<<"$out" ||
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

case_window_run_unplug() {
  local from cut boxes
  need_window || { detail="no window holding the arm"; return 1; }
  click Scripting
  sleep 0.3
  click ShoulderUp
  sleep 1.5
  click BaseCW
  sleep 1.5
  click BaseCW
  sleep 0.3
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

case_permission_refused() {
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
  # The arm was replugged with the rule installed (udev-rule): the window opens it.
  wait_until 100 holds arm1 || { detail="the window did not open the arm"; return 1; }
  wait_until 50 eval '[ "$(windows_shown)" = 1 ]' || { detail="the refusal message stayed up"; return 1; }
  detail="opened, message gone"
  click_sends ShoulderUp 1 arm1 || return 1
  as_user "$cli" devices >/dev/null 2>&1 || { detail+="; devices as the user: exit $?"; return 1; }
  detail+="; click sends, devices exit 0"
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
