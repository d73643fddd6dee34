#!/usr/bin/env bash
# Soak run (not a CI test): veru-console against veru-sim making many changes
# a second for a long time. At the end it prints whether the console's last
# printed state of every device equals the simulator's, the console's
# resident memory at the start and at the end, the CPU time the console used
# itself (the fetcher processes not counted), and the temporary files left.
# The console records its history (history.db in the soak's folder): the
# bytes it wrote (/proc/PID/io: write_bytes, what reached the disk, and
# wchar, what it handed to write calls), the changes recorded, the bytes
# per change, and the size of the file and its log at the end.
#
#   scripts/soak.sh [minutes, default 10] [changes per second, default 20]
#
# Chaos mode (--chaos): the console follows the home in automatic mode over
# local access while the simulator's faults are driven at random, one at a
# time, each bounded in time (see soak_chaos.sh); at the end the faults are
# off and the console is given time to recover. Besides the figures above it
# reports the faults injected and the crashes, and it exits non-zero when the
# console crashed, gave up, or its model differs from the simulator's.
#
#   scripts/soak.sh --chaos [minutes, default 10] [changes per second, default 20]
set -euo pipefail
chaos=0
if [ "${1:-}" = "--chaos" ]; then
  chaos=1
  shift
fi
minutes=${1:-10}
rate=${2:-20}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. "$top/scripts/lib.sh"
VeruBuild build "veru-console veru-sim"

scratch=$(mktemp -d /tmp/veru-soak-XXXXXX)
# Addresses of its own, so a soak can run beside the tests or the demo.
host=127.0.0.77
control="http://$host:3499/control"
console_program=$top/build/veru-console
if [ "$chaos" = 1 ]; then
  # The chaos console asks the soak's own locators (the locator servers are
  # compiled in), so that their faults reach it: a plain build of its own.
  VeruBuild build-soak veru-console -DVERU_SANITIZE= -DVERU_BUILD_BENCH=OFF \
    "-DVERU_LOCATOR_MAIN=$host:3490" "-DVERU_LOCATOR_BACKUP=$host:3491"
  console_program=$top/build-soak/veru-console
fi
"$top/build/veru-sim" --changes-per-second "$rate" --unit "$host" \
  --fwd1 "$host:3443" --fwd2 "$host:3444" --locator-main "$host:3490" \
  --locator-backup "$host:3491" --control "$host:3499" \
  --ca-out "$scratch/veru-sim-ca.pem" >"$scratch/veru-sim.log" 2>&1 &
sim=$!
console=""
sleeper=""
# However the soak ends (its end, a failure, Ctrl-C or a kill), what it
# started is stopped and its folder, which holds a saved password, removed.
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null || true
  if [ -n "$console" ]; then
    kill "$console" 2>/dev/null || true
    wait "$console" 2>/dev/null || true
  fi
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  cd /
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
VeruWaitForSim "$control" "$sim" "$scratch/veru-sim.log"

# The unit is restored from setting files: local access, no wizard.
cd "$scratch"
printf 45001 >arg_serialnumber
printf '%s' "$host" >arg_ip
printf L >arg_mode
printf 0 >arg_usingremote
if [ "$chaos" = 1 ]; then
  # Automatic access, with what the remote path needs should the console
  # fail over to it.
  printf A >arg_mode
  printf demo >arg_username
  printf demo >arg_pass
  printf '%s' "$host:3443" >arg_fwd_active
  printf '%s' "$host:3443" >arg_fwd_main
  printf '%s' "$host:3444" >arg_fwd_back
fi
mkfifo input
VERU_CA_CERTIFICATE="$scratch/veru-sim-ca.pem" "$console_program" <input >console.log 2>&1 &
console=$!
exec 3>input

ticks=$(getconf CLK_TCK)
# The console's last printed block of every device, in id order.
console_model() {
  awk '
    /^---DEVICE / { id = $2; block[id] = $0; current = id; next }
    /^   / && current != "" { block[current] = block[current] "\037" $0; next }
    { current = "" }
    END { for (id in block) printf "%d\t%s\n", id, block[id] }
  ' console.log | sort -n -k1,1 | cut -f2- | tr '\037' '\n'
}
rss() { awk '/^VmRSS/ {print $2}' "/proc/$console/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$console/stat"; }

# SoakWaitFor SECONDS COMMAND...: runs COMMAND every tenth of a second until
# it succeeds (status 0) or SECONDS have passed (status 1).
SoakWaitFor() {
  local seconds=$1 _
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
# True when the console's last printed state equals the simulator's dump.
model_settled() {
  wget -q -O sim.dump "$control?cmd=dump" && console_model | cmp -s - sim.dump
}
console_ended() { ! kill -0 "$console" 2>/dev/null; }
# Ends the long poll in flight (one change in the home ends it at once) and
# tells whether the console has ended meanwhile.
change_and_check_end() {
  wget -q -O /dev/null "$control?cmd=change" || true
  sleep 0.2
  console_ended
}

# The figures start once the console has printed the whole home.
if ! SoakWaitFor 30 grep -q '^-----SCENE' console.log; then
  echo "soak: the console printed no home within 30 s; its last lines:"
  tail -5 console.log
  exit 1
fi
rss_start=$(rss)
cpu_start=$(cpu_ticks)
start=$(date +%s)
echo "soak: $minutes minute(s) at $rate changes a second; console pid $console, folder $scratch (removed at the end)"
if [ "$chaos" = 1 ]; then
  . "$top/scripts/soak_chaos.sh"
  ChaosRun $((minutes * 60))
  ChaosRecover
else
  # In the background, so that a signal ends the wait at once.
  sleep $((minutes * 60)) &
  sleeper=$!
  wait "$sleeper"
  sleeper=""
  # Let the last changes arrive: stop the changes, then wait (up to 30 s)
  # until the console shows what the simulator holds.
  wget -q -O /dev/null "$control?cmd=changes&on=0"
  SoakWaitFor 30 model_settled || true
fi
rss_end=$(rss)
cpu_end=$(cpu_ticks)
# Before the quit: the figures of the whole run, the end of the file's
# writing (its last reply and its close) not counted.
io_field() { awk -v f="$1:" '$1 == f {print $2}' "/proc/$console/io"; }
write_bytes=$(io_field write_bytes)
wchar=$(io_field wchar)
log_bytes=$(stat -c %s console.log)
elapsed=$(( $(date +%s) - start ))
wget -q -O "$scratch/sim.dump" "$control?cmd=dump"

console_model >console.model

echo "quit" >&3
exec 3>&-
# The quit takes effect when the poll in flight returns: changes end it
# until the console has ended (up to 15 s).
SoakWaitFor 15 change_and_check_end || true
console_status=0
wait "$console" 2>/dev/null || console_status=$?
console=""

if cmp -s console.model sim.dump; then
  echo "model: EQUAL (every device's last state and variables match the simulator)"
else
  echo "model: DIFFERENT"; diff sim.dump console.model | head -20
fi
cpu_seconds=$(awk -v a="$cpu_start" -v b="$cpu_end" -v t="$ticks" 'BEGIN{printf "%.2f", (b-a)/t}')
cpu_share=$(awk -v c="$cpu_seconds" -v e="$elapsed" 'BEGIN{printf "%.2f", 100*c/e}')
echo "resident memory: start ${rss_start} kB, end ${rss_end} kB"
echo "console CPU: ${cpu_seconds} s in ${elapsed} s = ${cpu_share}% of one core (goal: under 2%)"
echo "temporary files left: $(ls wget.*.tmp 2>/dev/null | wc -l) (goal: none)"
echo "status polls: $(grep -c '^GET:.*lu_sdata' console.log), changes printed: $(grep -c '^---DEVICE' console.log)"
changes=$(sqlite3 history.db "SELECT (SELECT count(*) FROM change) + (SELECT count(*) FROM scene_change)" 2>/dev/null || echo 0)
file_size() { if [ -e "$1" ]; then stat -c %s "$1"; else echo "none"; fi; }
# The console's printed lines (console.log) are part of what it wrote.
echo "history: $changes changes recorded; console wrote write_bytes $write_bytes, wchar $wchar, of which console.log $log_bytes"
awk -v w="$write_bytes" -v c="$wchar" -v l="$log_bytes" -v n="$changes" 'BEGIN{
  if (n > 0) printf "history bytes per change (without console.log): write_bytes %.0f, wchar %.0f (goal: write_bytes at most 2048)\n", (w-l)/n, (c-l)/n }'
echo "history file: history.db $(file_size history.db) bytes, history.db-wal $(file_size history.db-wal), history.db-shm $(file_size history.db-shm)"
if [ "$chaos" = 1 ]; then ChaosVerdict; fi
