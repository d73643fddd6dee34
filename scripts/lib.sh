# shellcheck shell=bash
# Steps shared by demo.sh and soak.sh (sourced, not run). The caller sets
# `set -euo pipefail` and works in the top folder of the checkout.

# VeruBuild FOLDER "TARGET..." [CMAKE OPTION...]: configures the build in
# FOLDER with the options (an earlier configure's cached ones stay unless
# given again) and builds the targets, quietly.
VeruBuild() {
  local folder=$1 targets=$2
  shift 2
  cmake -S . -B "$folder" "$@" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$folder" -j "$(nproc 2>/dev/null || echo 2)" --target $targets >/dev/null
}

# VeruWaitForSim CONTROL PID LOG: waits, up to 5 s, until the simulator's
# control listener (its URL, e.g. http://127.0.0.1:3499/control) answers a
# ping. When the simulator (process PID) has ended or never answers, says so
# with its log and exits the script with status 1.
VeruWaitForSim() {
  local control=$1 pid=$2 log=$3 _
  for _ in $(seq 50); do
    if wget -q -O /dev/null "$control?cmd=ping"; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "veru-sim did not start:"; cat "$log"; exit 1
    fi
    sleep 0.1
  done
  echo "veru-sim did not answer at $control within 5 s:"; cat "$log"; exit 1
}
