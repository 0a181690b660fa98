#!/bin/sh
# shellcheck shell=dash
# The ALSA cases, run by busybox sh as /init of the guest that scripts/alsa-guest boots: jx-cli
# and jx-device over the kernel's own sequencer, and the snd-virmidi port whose raw device
# /dev/snd/midiC0D0 stands for an instrument's cable. One line per case:
#   case NAME PASS|FAIL SECONDS DETAIL
# then "alsa-guest: N passed, M failed", and the guest powers off.

# SysEx message sizes, F0 and F7 included (the host writes /data/sysex/SIZE.syx for each): the
# empty message, around the pieces the ALSA layers cut messages into, around the 16384-byte input
# buffer, and up to 8 MiB.
sizes="2 3 100 4096 5572 5573 8192 16355 16356 16384 16385 65536 1048576 8388599 8388608"
# Sent to jx-device only up to this size as well as at 8 MiB: sending is paced at the wire speed
# (about 62.5 KB/s at Turbo x20), so the size just under the receive buffer is only received.
send_skip=8388599
# The recorder keeps 8388599 bytes (its 8 MiB buffer less the entry's header); a larger message
# ends the recording with the buffer full, which jx-cli receive reports with exit status 1.
receive_limit=8388599

export PATH=/bin JX_MIDI_API=alsa HOME=/tmp/home XDG_CONFIG_HOME=/tmp/home/config \
  XDG_DATA_HOME=/tmp/home/data XDG_RUNTIME_DIR=/tmp/home

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mkdir -p /tmp/home
for module in soundcore snd snd-timer snd-seq-device snd-seq snd-seq-dummy snd-rawmidi \
  snd-seq-midi-event snd-seq-virmidi snd-virmidi; do
  options=
  [ "$module" = snd-virmidi ] && options=midi_devs=1
  insmod "/lib/modules/$module.ko" $options || echo "alsa-guest: insmod $module failed"
done

passed=0
failed=0
work=/tmp/case

# Centiseconds since boot.
now() {
  read -r up rest </proc/uptime
  echo $((${up%.*} * 100 + 1${up#*.} - 100))
}

# Runs "$@" every 20 ms until it succeeds (0) or $1 seconds passed (1).
wait_until() {
  local end=$(($(now) + $1 * 100))
  shift
  until "$@"; do
    [ "$(now)" -ge "$end" ] && return 1
    usleep 20000
  done
}

# Runs the case named $1 by calling the rest of the line, when its name matches the kernel command
# line's jx_cases (an extended regular expression; every case without one).
run() {
  name=$1
  shift
  echo "$name" | grep -qE "${jx_cases:-.}" || return 0
  started=$(now)
  rm -rf "$work"
  mkdir -p "$work"
  "$@"
}

# The line of case $name: PASS or FAIL ($1), what it found ($2), and the time it took, since it
# began or $3 centiseconds.
result() {
  local t=${3:-$(($(now) - started))}
  printf 'case %-36s %s %4d.%02ds %s\n' "$name" "$1" $((t / 100)) $((t % 100)) "$2"
  if [ "$1" = PASS ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

size_of() {
  if [ -f "$1" ]; then wc -c <"$1" | tr -d ' '; else echo 0; fi
}

# The first line jx-cli wrote on stderr, for a failure's detail.
reason() {
  head -n 3 "$work/err" 2>/dev/null | tr "\n" "|" | sed "s/|$//; s/|/ | /g"
}

# What a finished jx-cli's exit status $1 says, for a failure's detail.
status_text() {
  case $1 in
    143 | 137) echo "hung: killed at its deadline" ;;
    *) echo "exit $1: $(reason)" ;;
  esac
}

# Starts jx-device with the options given, its commands coming from fd 3; waits until it is ready.
device_start() {
  rm -f "$work/device.in"
  mkfifo "$work/device.in"
  jx-device "$@" <"$work/device.in" >"$work/device.log" 2>&1 &
  device_pid=$!
  exec 3>"$work/device.in"
  wait_until 10 grep -q '"ready"' "$work/device.log"
}

device_stop() {
  exec 3>&-
  kill "$device_pid" 2>/dev/null
  wait "$device_pid" 2>/dev/null
}

device_said() {
  grep -q "$1" "$work/device.log"
}

# True once a sequencer client whose name holds $1 has a subscription on one of its ports.
subscribed() {
  awk -v want="$1" '/^Client/ { inside = index($0, want) > 0 } inside && /Connect/ { found = 1 }
    END { exit !found }' /proc/asound/seq/clients
}

alive() {
  kill -0 "$1" 2>/dev/null
}

# $1 holds exactly the bytes of $2: empty, or what differs.
compare() {
  [ -f "$1" ] || { echo "no file at all"; return; }
  cmp "$1" "$2" >/dev/null 2>&1 && return
  echo "$(size_of "$1") of $(size_of "$2") bytes, the first difference at byte $(cmp "$1" "$2" 2>&1 |
    sed -n 's/.*differ: char \([0-9]*\).*/\1/p; s/.*EOF on .*/1/p' | head -n 1)"
}

# The one file jx-cli receive wrote to $work/rx, or nothing.
received_file() {
  set -- "$work"/rx/*
  [ $# -eq 1 ] && [ -f "$1" ] && echo "$1"
}

# Sets rc to the exit status of the jx-cli receive $1 that should end by itself within $2
# seconds. One still running then never saw the end of its data: Stop Rec (SIGINT) makes it
# write what came.
receive_end() {
  if ! wait_until "$2" eval "! alive $1"; then
    kill -INT "$1"
    wait_until 10 eval "! alive $1" || kill -KILL "$1"
  fi
  wait "$1"
  rc=$?
}

# Sets rc to the exit status of jx-cli $1 after jx-device was killed, and after to the seconds
# it took to end: $2 seconds at most, then it is taken as hung and killed.
end_after_kill() {
  kill -KILL "$device_pid"
  local killed
  killed=$(now)
  wait_until "$2" eval "! alive $1" || kill -KILL "$1"
  wait "$1"
  rc=$?
  after=$((($(now) - killed) / 100))
}

# The verdict on a jx-cli that was left without its device: exit 1 with a reason, in time.
judge_after_kill() {
  if [ $rc -eq 1 ] && [ -s "$work/err" ]; then
    result PASS "exit 1 ${after}s after the kill: $(reason)"
  elif [ $rc -eq 137 ] || [ $rc -eq 143 ]; then
    result FAIL "hung: still running ${after}s after the kill"
  elif [ $rc -eq 0 ]; then
    result FAIL "reported success ${after}s after the kill$1"
  else
    result FAIL "exit $rc ${after}s after the kill: $(reason)"
  fi
}

# jx-cli send FILE to jx-device, compared with what the device took.
case_send() {
  local file=$1 size rc difference
  size=$(size_of "$file")
  device_start --out "$work/taken.syx" --no-pacing || { result FAIL "jx-device did not start"; return; }
  # The wire time at Turbo x20 and half as much again, and 20 s for starting and the Turbo request.
  timeout $((20 + size * 3 / 125000)) jx-cli send "$file" --to jx-device --from jx-device --turbo \
    >"$work/out" 2>"$work/err"
  rc=$?
  # The device has taken the file once it reported the last message's length.
  [ $rc -eq 0 ] && wait_until 10 device_said "\"length\":$2"
  device_stop
  difference=$(compare "$work/taken.syx" "$file")
  if [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$size bytes byte-exact"
  elif [ $rc -eq 0 ]; then
    result FAIL "lost in silence: jx-cli reported success, the device took: $difference"
  else
    result FAIL "$(status_text $rc); the device took $(size_of "$work/taken.syx") bytes"
  fi
}

# jx-device sends FILE (its stdin "send FILE", unpaced), jx-cli receive records it.
case_receive() {
  local file=$1 size rx_pid rc got difference
  size=$(size_of "$file")
  device_start --no-pacing || { result FAIL "jx-device did not start"; return; }
  jx-cli receive --from jx-device --out "$work/rx" --format none --idle 2 >"$work/out" 2>"$work/err" &
  rx_pid=$!
  if ! wait_until 10 subscribed jx-device; then
    kill "$rx_pid"
    wait "$rx_pid"
    device_stop
    result FAIL "jx-cli receive did not connect to jx-device: $(reason)"
    return
  fi
  echo "send $file" >&3
  # The device reports the end of its send; jx-cli then stops after 2 s without a byte.
  wait_until $((20 + size / 50000)) device_said '"sent"'
  receive_end "$rx_pid" 10
  device_stop
  got=$(received_file)
  difference=$(compare "$got" "$file")
  if [ "$size" -gt "$receive_limit" ]; then
    if [ $rc -eq 1 ] && [ -s "$work/err" ]; then
      result PASS "refused, exit 1: $(reason)"
    else
      result FAIL "over the receive buffer, yet $(status_text $rc)"
    fi
  elif [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$size bytes byte-exact"
  elif [ $rc -eq 0 ]; then
    result FAIL "lost in silence: received: $difference"
  elif [ $rc -eq 130 ]; then
    result FAIL "still waiting 10 s after the device's send, stopped: received: ${difference:-all of it}"
  else
    result FAIL "$(status_text $rc); received $(size_of "$got") bytes"
  fi
}


case_ports() {
  local rc problems device_in device_out
  if ! device_start --no-pacing; then
    result FAIL "jx-device did not start: $(head -n 1 "$work/device.log")"
    return
  fi
  jx-cli ports >"$work/ports" 2>"$work/err"
  rc=$?
  device_stop
  # The device names its ports in its "ready" line: its input is an output of jx-cli's list.
  device_in=$(sed -n 's/.*"ready".*"in": *"\([^"]*\)".*/\1/p' "$work/device.log")
  device_out=$(sed -n 's/.*"ready".*"out": *"\([^"]*\)".*/\1/p' "$work/device.log")
  grep -q '"ready".*"api": *"ALSA"' "$work/device.log" || problems="$problems; jx-device not on ALSA"
  grep '"out"' "$work/ports" | grep -qF "\"$device_in" || problems="$problems; no output $device_in"
  grep '"in"' "$work/ports" | grep -qF "\"$device_out" || problems="$problems; no input $device_out"
  grep '"out"' "$work/ports" | grep -q 'VirMIDI 0-0' || problems="$problems; no output VirMIDI 0-0"
  grep '"in"' "$work/ports" | grep -q 'VirMIDI 0-0' || problems="$problems; no input VirMIDI 0-0"
  grep '"out"' "$work/ports" | tail -n 1 | grep -q '"Virtual device"' ||
    problems="$problems; Virtual device not the last output"
  grep '"in"' "$work/ports" | tail -n 1 | grep -q '"Virtual device"' ||
    problems="$problems; Virtual device not the last input"
  grep -q 'jx-cli' "$work/ports" && problems="$problems; jx-cli lists its own ports"
  grep -v '"Virtual device"' "$work/ports" | grep -qv '"api": "ALSA"' &&
    problems="$problems; a server port not said to be ALSA's"
  if [ $rc -eq 0 ] && [ -z "$problems" ]; then
    result PASS "$(grep -c . "$work/ports") ports"
  else
    result FAIL "exit $rc$problems"
  fi
  sed 's/^/  | /' "$work/ports"
}

# A sample dump under the handshake at Turbo speed, compared with what jx-cli sds writes for it.
case_sds_send() {
  local rc difference
  device_start --out "$work/taken.syx" --no-pacing
  timeout 60 jx-cli send "$sine" --to jx-device --from jx-device --handshake --turbo --samplepos 1 \
    >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 0 ] && wait_until 10 device_said '"event":"sample"'
  device_stop
  difference=$(compare "$work/taken.syx" "$sine_dump")
  if [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$(size_of "$work/taken.syx") bytes byte-exact as jx-cli sds writes"
  else
    result FAIL "$(status_text $rc); the device took: ${difference:-all of it}"
  fi
}

# The device's sample 0 asked for and recorded under the handshake, stored as FORMAT ($1) and
# compared with $2.
case_sds_receive() {
  local rc got difference
  device_start --hold "$sine" --no-pacing
  timeout 60 jx-cli receive --from jx-device --to jx-device --handshake --request 0 --count 1 \
    --format "$1" --out "$work/rx" >"$work/out" 2>"$work/err"
  rc=$?
  device_stop
  got=$(received_file)
  difference=$(compare "$got" "$2")
  if [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$(size_of "$got") bytes byte-exact"
  else
    result FAIL "$(status_text $rc); received: ${difference:-all of it}"
  fi
}

# jx-cli sends to the virmidi port; the raw device gives out what the cable would carry.
case_virmidi_send() {
  local rc difference cat_pid
  cat "$raw" >"$work/raw" &
  cat_pid=$!
  wait_until 5 eval "ls -l /proc/$cat_pid/fd | grep -q midiC0D0"
  timeout 30 jx-cli send "$virmidi" --to 'VirMIDI 0-0' >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 0 ] && wait_until 10 eval '[ "$(size_of "$work/raw")" -ge "$(size_of "$virmidi")" ]'
  kill "$cat_pid"
  wait "$cat_pid"
  difference=$(compare "$work/raw" "$virmidi")
  if [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$(size_of "$virmidi") bytes byte-exact at $raw"
  elif [ $rc -eq 0 ]; then
    result FAIL "lost in silence: jx-cli reported success, $raw gave: $difference"
  else
    result FAIL "$(status_text $rc); $raw gave $(size_of "$work/raw") bytes"
  fi
}

# What the cable brings in at the raw device, recorded from the virmidi port.
case_virmidi_receive() {
  local rc rx_pid got difference
  jx-cli receive --from 'VirMIDI 0-0' --out "$work/rx" --format none --idle 2 >"$work/out" \
    2>"$work/err" &
  rx_pid=$!
  if ! wait_until 10 subscribed 'Virtual Raw MIDI 0-0'; then
    kill "$rx_pid"
    wait "$rx_pid"
    result FAIL "jx-cli receive did not connect to VirMIDI 0-0: $(reason)"
    return
  fi
  timeout 20 cat "$virmidi" >"$raw"
  receive_end "$rx_pid" 20
  got=$(received_file)
  difference=$(compare "$got" "$virmidi")
  if [ $rc -eq 0 ] && [ -z "$difference" ]; then
    result PASS "$(size_of "$virmidi") bytes byte-exact from $raw"
  else
    result FAIL "exit $rc: $(reason); received: ${difference:-all of it}"
  fi
}

# jx-cli sends 256 messages of 4 KiB (about 17 s at Turbo x20); the device is killed once it
# took its first bytes, or, should none arrive, 5 s after it answered the Turbo request.
case_kill_send() {
  local tx_pid sending
  device_start --out "$work/taken.syx" --no-pacing
  timeout 40 jx-cli send /data/sysex/many.syx --to jx-device --from jx-device --turbo \
    >"$work/out" 2>"$work/err" &
  tx_pid=$!
  wait_until 20 device_said '"turbo"' && wait_until 5 eval '[ "$(size_of "$work/taken.syx")" -gt 0 ]'
  alive "$tx_pid"
  sending=$?
  end_after_kill "$tx_pid" 30
  device_stop
  if [ $sending -ne 0 ]; then
    result FAIL "the send ended before the device was killed: $(status_text $rc)"
  else
    judge_after_kill ", the device took $(size_of "$work/taken.syx") bytes"
  fi
}

# The device sends 1 MiB of SysEx at the wire speed (over 5 minutes) and is killed once it began;
# jx-cli records without --idle, so only the lost input can end the recording.
case_kill_receive_sysex() {
  local rx_pid
  device_start
  jx-cli receive --from jx-device --format none --out "$work/rx" >"$work/out" 2>"$work/err" &
  rx_pid=$!
  if wait_until 10 subscribed jx-device; then
    echo "send /data/sysex/1048576.syx" >&3
    wait_until 10 device_said '"sending"'
    end_after_kill "$rx_pid" 30
    judge_after_kill ""
  else
    kill -KILL "$rx_pid"
    wait "$rx_pid"
    result FAIL "jx-cli receive did not connect to jx-device: $(reason)"
  fi
  device_stop
}

# The device stops after 20 packets of the dump asked for and waits; then it is killed.
case_kill_receive_sds() {
  local rx_pid
  device_start --hold "$sine" --send-stall 20
  jx-cli receive --from jx-device --to jx-device --handshake --request 0 --count 1 --format sds \
    --out "$work/rx" >"$work/out" 2>"$work/err" &
  rx_pid=$!
  if wait_until 30 device_said '"stalled"'; then
    end_after_kill "$rx_pid" 30
    judge_after_kill ""
  else
    kill -KILL "$rx_pid"
    wait "$rx_pid"
    result FAIL "the dump never began: $(tail -n 1 "$work/device.log")"
  fi
  device_stop
}

# The tests of jx_jack_tests that run over the ALSA sequencer (the suites whose name or type
# says Alsa), one case line each; a test that was skipped, failed or never ended fails.
port_tests() {
  local filter rc test status detail
  filter=$(jx_jack_tests --gtest_list_tests |
    awk '/^[^ ]/ && /Alsa/ { printf "%s%s*", sep, $1; sep = ":" }')
  [ -n "$filter" ] || return
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && timeout 300 jx_jack_tests --gtest_filter="$filter" >gtest 2>&1)
  rc=$?
  for test in $(sed -n 's/^\[ RUN      \] //p' "$work/gtest"); do
    name="gtest $test"
    status=$(grep -F "] $test (" "$work/gtest" | head -n 1)
    case $status in
      *"[       OK ]"*)
        result PASS "passed" $(($(echo "$status" | sed 's/.*(\([0-9]*\) ms).*/\1/') / 10))
        ;;
      *"[  SKIPPED ]"*)
        result FAIL "skipped: $(grep -B 1 -F "[  SKIPPED ] $test (" "$work/gtest" | head -n 1)" 0
        ;;
      *"[  FAILED  ]"*)
        detail=$(awk -v t="$test" 'index($0, "[ RUN      ] " t) == 1 { on = 1 }
          on && /Failure/ { getline a; getline b; print $0 " " a " " b; exit }' "$work/gtest")
        result FAIL "$detail" 0
        ;;
      *) result FAIL "never ended: jx_jack_tests ended with status $rc" 0 ;;
    esac
  done
  [ -s "$work/gtest" ] && grep -q '^\[ RUN' "$work/gtest" || {
    name="gtest over ALSA"
    result FAIL "no test ran: $(tail -n 1 "$work/gtest")" 0
  }
}

sine=/data/examples/sine440.wav
sine_dump=/tmp/sine440.syx
jx-cli sds "$sine" --samplepos 1 --out "$sine_dump"
raw=/dev/snd/midiC0D0
virmidi=/data/sysex/virmidi.syx

run "ports" case_ports
for size in $sizes; do
  [ "$size" != "$send_skip" ] && run "sysex $size send" case_send "/data/sysex/$size.syx" "$size"
  run "sysex $size receive" case_receive "/data/sysex/$size.syx"
done
run "large+small send" case_send /data/sysex/large-small.syx 16
run "large+small receive" case_receive /data/sysex/large-small.syx
run "sds send handshake" case_sds_send
run "sds receive handshake sds" case_sds_receive sds "$sine_dump"
run "sds receive handshake wav" case_sds_receive wav "$sine"
run "virmidi send" case_virmidi_send
run "virmidi receive" case_virmidi_receive
run "device killed mid-send" case_kill_send
run "device killed mid-receive sysex" case_kill_receive_sysex
run "device killed mid-receive sds" case_kill_receive_sds
[ -x /bin/jx_jack_tests ] && echo gtest | grep -qE "${jx_cases:-.}" && port_tests

echo "alsa-guest: $passed passed, $failed failed"
sync
poweroff -f
