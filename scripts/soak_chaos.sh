# The chaos part of scripts/soak.sh (sourced by it with --chaos; not run on
# its own). While the console follows the simulated home, the simulator's
# faults are driven at random through its control listener, one at a time,
# each bounded in time and followed by a quiet gap so that every fault ends
# with good polls before the next: but for the failover below, no run of
# failed polls comes near the console's 60-second rule.
#
#   local unit stopped, started again after 2-12 s
#   main locator failing for 5-15 s
#   the next 1-4 status replies garbage
#   the next unit reply delayed by 2.5-9 s (longer than the 2 s poll)
#   the account's password changed, restored after 3-10 s
#
# In runs of 5 minutes or more, one fault in the middle is longer: the local
# unit stopped and the main locator failing until the console, past its
# 60-second rule, re-locates the unit through the backup locator and fails
# over to remote access (at most 100 s). From then on it polls through the
# forward server, where a changed password is refused: the soak then answers
# the console's credentials prompt as a user would (Enter, the user name, the
# serial number, R, the password, no save) whenever it asks while the
# password is the right one: after the fault, in the gaps between faults and
# while the console recovers at the end.
# Earlier (at a quarter of the run) comes an outage past the give-up: every
# status reply, local and remote, is garbage until the console has printed
# "Unable to connect." (after its three reconnects, some four minutes), and
# for 5-20 s more; the console must then find the unit again by itself and
# say "connection restored".
#
# Faults are logged to chaos.log in the soak folder. VERU_CHAOS_SEED fixes
# the random sequence (the seed used is printed).
#
# Uses from soak.sh: $control, $console, console_model, the soak folder as
# the working directory. Sets chaos_* variables read by ChaosVerdict.

chaos_faults=0
chaos_local_down=0
declare -A chaos_count=([local]=0 [locator]=0 [garbage]=0 [delay]=0 [password]=0
                         [failover]=0 [outage]=0 [answered]=0)
chaos_recovered=""

ChaosControl() { wget -q -O - "$control?cmd=$1" 2>/dev/null || true; }

ChaosLog() { echo "$(date +%T) $*" >>chaos.log; }

ConsoleAlive() { kill -0 "$console" 2>/dev/null; }

# A random whole number from $1 to $2.
ChaosBetween() { echo $(( $1 + RANDOM % ($2 - $1 + 1) )); }

ChaosStartLocal() {
  local _
  for _ in $(seq 50); do
    [ "$(ChaosControl start_local)" = "ok" ] && { chaos_local_down=0; return; }
    sleep 0.1
  done
  ChaosLog "local unit could not be started again"
}

# Lines of console.log that match $1 (an extended regular expression).
ChaosCount() { grep -cE "$1" console.log || true; }

# Answers a credentials prompt the console printed since the last answer:
# the line that routes to the wizard, then its questions.
chaos_prompts=0
ChaosAnswerPrompts() {
  local prompts
  prompts=$(ChaosCount '^USER/PASSWORD NEEDED')
  [ "$prompts" -gt "$chaos_prompts" ] || return 0
  chaos_prompts=$prompts
  chaos_count[answered]=$(( ${chaos_count[answered]} + 1 ))
  ChaosLog "credentials prompt answered"
  printf '\ndemo\n45001\nR\ndemo\nn\n' >&3
}

ChaosOne() {
  local kind=$1 hold
  chaos_count[$kind]=$(( ${chaos_count[$kind]} + 1 ))
  chaos_faults=$((chaos_faults + 1))
  case $kind in
    local)
      hold=$(ChaosBetween 2 12)
      ChaosLog "local unit stopped for $hold s"
      ChaosControl stop_local >/dev/null
      chaos_local_down=1
      sleep "$hold"
      ChaosStartLocal ;;
    locator)
      hold=$(ChaosBetween 5 15)
      ChaosLog "main locator failing for $hold s"
      ChaosControl "locator_main_fail&on=1" >/dev/null
      sleep "$hold"
      ChaosControl "locator_main_fail&on=0" >/dev/null ;;
    garbage)
      hold=$(ChaosBetween 1 4)
      ChaosLog "next $hold status replies garbage"
      ChaosControl "garbage&count=$hold" >/dev/null
      sleep $((2 * hold + 2))
      ChaosControl "garbage&count=0" >/dev/null ;;
    delay)
      hold=$(ChaosBetween 2500 9000)
      ChaosLog "next unit reply delayed by $hold ms"
      ChaosControl "delay&ms=$hold" >/dev/null
      sleep $((hold / 1000 + 2))
      ChaosControl "delay&ms=0" >/dev/null ;;
    password)
      hold=$(ChaosBetween 3 10)
      ChaosLog "password changed for $hold s"
      ChaosControl "password&value=chaos$RANDOM" >/dev/null
      sleep "$hold"
      ChaosControl "password&value=demo" >/dev/null
      ChaosAnswerPrompts ;;
    failover)
      local retries i
      retries=$(ChaosCount '^\*+CONNECTION RETRY')
      ChaosLog "local unit stopped and main locator failing until a failover"
      ChaosControl "locator_main_fail&on=1" >/dev/null
      ChaosControl stop_local >/dev/null
      chaos_local_down=1
      for i in $(seq 100); do
        [ "$(ChaosCount '^\*+CONNECTION RETRY')" -gt "$retries" ] && break
        ConsoleAlive || break
        sleep 1
      done
      ChaosLog "after $i s: $(grep -E '^\*+CONNECTION RETRY' console.log | tail -1)"
      ChaosStartLocal
      ChaosControl "locator_main_fail&on=0" >/dev/null ;;
    outage)
      local lost i
      lost=$(ChaosCount '^Unable to connect\.')
      ChaosLog "every status reply garbage until the console gives up"
      ChaosControl "garbage&count=1000000" >/dev/null
      for i in $(seq 400); do
        [ "$(ChaosCount '^Unable to connect\.')" -gt "$lost" ] && break
        ConsoleAlive || break
        sleep 1
      done
      hold=$(ChaosBetween 5 20)
      ChaosLog "after $i s: $(grep -E '^Unable to connect' console.log | tail -1)" \
               "; the outage goes on for $hold s"
      sleep "$hold"
      ChaosControl "garbage&count=0" >/dev/null ;;
  esac
}

# Injects faults until $1 seconds have passed (at most one fault every 4 s).
ChaosRun() {
  local seconds=$1 seed deadline middle quarter failover=0 outage=0
  local kinds=(local locator garbage delay password)
  seed=${VERU_CHAOS_SEED:-$(( $(date +%s) % 32768 ))}
  RANDOM=$seed
  echo "chaos: seed $seed, faults for $seconds s (log: chaos.log)"
  deadline=$(( $(date +%s) + seconds ))
  middle=$(( $(date +%s) + seconds / 2 ))
  quarter=$(( $(date +%s) + seconds / 4 ))
  [ "$seconds" -ge 300 ] && { failover=1; outage=1; }
  while [ "$(date +%s)" -lt "$deadline" ] && [ "$chaos_faults" -lt $((seconds / 4)) ]; do
    if [ "$outage" = 1 ] && [ "$(date +%s)" -ge "$quarter" ]; then
      outage=0
      ChaosOne outage
    elif [ "$failover" = 1 ] && [ "$(date +%s)" -ge "$middle" ]; then
      failover=0
      ChaosOne failover
    else
      ChaosOne "${kinds[RANDOM % ${#kinds[@]}]}"
    fi
    ConsoleAlive || return 0
    ChaosGap "$(ChaosBetween 2 5)"
    ConsoleAlive || return 0
  done
}

# The quiet gap of $1 seconds between two faults; a credentials prompt the
# console prints meanwhile is answered (the password is the right one then).
ChaosGap() {
  local _
  for _ in $(seq $(( $1 * 4 ))); do
    ChaosAnswerPrompts
    sleep 0.25
  done
}

# Every fault off and the changes stopped; then waits (up to 90 s) until the
# console's last printed state equals the simulator's. A console that ended
# meanwhile is a crash: reported at once, and the soak exits 1.
ChaosRecover() {
  local i status=0
  [ "$chaos_local_down" = 1 ] && ChaosStartLocal
  ChaosControl "locator_main_fail&on=0" >/dev/null
  ChaosControl "garbage&count=0" >/dev/null
  ChaosControl "delay&ms=0" >/dev/null
  ChaosControl "password&value=demo" >/dev/null
  ChaosControl "changes&on=0" >/dev/null
  ChaosLog "faults off, changes stopped"
  for i in $(seq 90); do
    ConsoleAlive || break
    # A prompt the console prints while it recovers is answered too.
    ChaosAnswerPrompts
    ChaosControl dump >sim.dump
    if console_model | cmp -s - sim.dump; then
      chaos_recovered=$i
      break
    fi
    sleep 1
  done
  if ! ConsoleAlive; then
    wait "$console" 2>/dev/null || status=$?
    console=""
    ChaosReportFaults
    echo "chaos: crashes: 1 (the console ended by itself with status $status); its last lines:"
    tail -5 console.log
    echo
    exit 1
  fi
}

ChaosReportFaults() {
  echo "chaos: faults injected: $chaos_faults (local unit stopped ${chaos_count[local]}," \
       "main locator failing ${chaos_count[locator]}, garbage replies ${chaos_count[garbage]}," \
       "delays ${chaos_count[delay]}, password changed ${chaos_count[password]}," \
       "failover to remote ${chaos_count[failover]}, outage past the give-up" \
       "${chaos_count[outage]})"
}

# The chaos figures and the verdict, after soak.sh's own report; exits 1
# when the console crashed, gave up without finding the unit again, or its
# model differs.
ChaosVerdict() {
  local failed=0
  ChaosReportFaults
  echo "chaos: failed polls printed: $(grep -c '^!!!!!!!!!! NO RESPONSE COUNT' console.log)," \
       "reconnects $(ChaosCount '^\*+CONNECTION RETRY'), credentials prompts answered" \
       "${chaos_count[answered]}, recovered ${chaos_recovered:-never} s after the faults ended"
  if [ "$console_status" -eq 0 ]; then
    echo "chaos: crashes: none (the console ended on quit with status 0)"
  else
    echo "chaos: crashes: 1 (the console ended with status $console_status)"
    failed=1
  fi
  local lost restored
  lost=$(ChaosCount '^Unable to connect\.')
  restored=$(ChaosCount '^veru-console: connection restored after')
  local last
  # No outage, no line: grep finds nothing, which is no failure here.
  last=$({ grep -E '^veru-console: connection restored after' console.log || true; } |
         tail -1 | sed 's/^veru-console: connection restored after //')
  echo "chaos: connection given up $lost time(s), restored $restored time(s)${last:+ (the last outage: $last)}"
  if [ "$restored" -lt "$lost" ]; then
    echo "chaos: the console gave up the connection and did not find the unit again"
    failed=1
  fi
  cmp -s console.model sim.dump || failed=1
  if [ "$failed" = 1 ]; then
    echo "chaos: FAILED"
    exit 1
  fi
  echo "chaos: PASSED"
}
