#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the simulated home
# (veru-sim) in the background and runs veru-console against it in a scratch
# folder. Answer the wizard with the demo account: user name "demo", then the
# serial number it lists, then A, L or R (password "demo" for remote access).
# Type e.g. "1 on" to switch the living room lamp on, "quit" to stop; stopping
# the console stops the simulator and removes the scratch folder (it holds
# the setting files, a saved password among them). The console trusts the
# simulator's own certificate authority (VERU_CA_CERTIFICATE), which veru-sim
# writes out.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. "$top/scripts/lib.sh"
echo "Installing what is missing (scripts/setup.sh)..."
scripts/setup.sh >/dev/null
echo "Configuring and building veru-console and veru-sim in build/ (this takes a few minutes the first time)..."
VeruBuild build "veru-console veru-sim"

scratch=$(mktemp -d /tmp/veru-demo-XXXXXX)
sim=
cleanup() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "Starting the simulated home (veru-sim)..."
"$top/build/veru-sim" --ca-out "$scratch/veru-sim-ca.pem" >"$scratch/veru-sim.log" 2>&1 &
sim=$!
VeruWaitForSim "http://127.0.0.1:3499/control" "$sim" "$scratch/veru-sim.log"

echo "The simulated home runs (its log: $scratch/veru-sim.log)."
echo "Demo account: user name demo, password demo. Settings are kept in"
echo "$scratch, which is removed when the demo ends."
echo
cd "$scratch"
VERU_CA_CERTIFICATE="$scratch/veru-sim-ca.pem" "$top/build/veru-console"
