#!/usr/bin/env bash
# Makes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from the
# simulated home's real replies: starts build/veru-sim on addresses of its
# own (127.0.0.78), fetches each kind of reply with wget and writes the
# files. Run it inside a private network namespace, e.g.
#   unshare -n bash -c 'ip link set lo up; fuzz/make_corpus.sh'
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
host=127.0.0.78
sim=$top/build/veru-sim
[ -x "$sim" ] || { echo "make_corpus: build veru-sim first (build/veru-sim)"; exit 1; }
"$sim" --changes-per-second 0 --unit "$host" --fwd1 "$host:3443" \
  --fwd2 "$host:3444" --locator-main "$host:3490" \
  --locator-backup "$host:3491" --control "$host:3499" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
control="http://$host:3499/control"
for _ in $(seq 50); do wget -q -O /dev/null "$control?cmd=ping" && break; sleep 0.1; done

get() { wget -q --no-check-certificate -O - "$1" || true; }
unit="http://$host:3480/data_request"
fwd="https://$host:3443/demo/demo/45001/data_request"
status() { get "$unit?id=lu_sdata&loadtime=$1&dataversion=$2&minimumdelay=0&timeout=1"; }

corpus=$top/fuzz/corpus
mkdir -p "$corpus"/{status,locator,action,variable_map}

full=$(status 0 0)
loadtime=$(printf %s "$full" | grep -o '"loadtime":[0-9]*' | cut -d: -f2)
version=$(printf %s "$full" | grep -o '"dataversion":[0-9]*' | cut -d: -f2)
printf %s "$full" >"$corpus/status/full"
{ printf %s "$full"; printf '\0'; status "$loadtime" "$version"; } >"$corpus/status/full_then_nothing_new"
for _ in 1 2 3 4 5 6; do get "$control?cmd=change" >/dev/null; done
{ printf %s "$full"; printf '\0'; status "$loadtime" "$version"; } >"$corpus/status/full_then_changes"
get "$unit?id=lu_action&DeviceNum=2&serviceId=urn:upnp-org:serviceId:Dimming1&action=SetLoadLevelTarget&output_format=json&newLoadlevelTarget=50" >/dev/null
{ printf %s "$full"; printf '\0'; status "$loadtime" "$((version + 6))"; } >"$corpus/status/full_then_dimmed"
{ printf %s "$full"; printf '\0'; status 0 0; } >"$corpus/status/full_then_full"
get "$control?cmd=garbage&count=1" >/dev/null
{ printf %s "$full"; printf '\0'; status "$loadtime" "$version"; } >"$corpus/status/full_then_garbage"

get "http://$host:3490/locator_json.php?username=demo" >"$corpus/locator/demo"
get "http://$host:3490/locator_json.php?username=nobody" >"$corpus/locator/nobody"

get "$unit?id=lu_action&DeviceNum=1&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=SetTarget&output_format=json&newTargetValue=1" >"$corpus/action/switched"
get "$unit?id=lu_action&DeviceNum=1&serviceId=urn:lumenhollow-com:serviceId:HaDevice1&action=Poll&output_format=json" >"$corpus/action/job"
get "$unit?id=lu_action&DeviceNum=99&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=SetTarget&output_format=json&newTargetValue=1" >"$corpus/action/no_device"
get "$unit?id=lu_action&DeviceNum=4&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=SetTarget&output_format=json&newTargetValue=1" >"$corpus/action/no_implementation"
get "$fwd?id=lu_camera_port&DeviceNum=10" >"$corpus/action/camera_port"
get "$fwd?id=lu_camera_port&DeviceNum=3" >"$corpus/action/no_camera"
get "https://$host:3443/demo/wrong/45001/data_request?id=lu_camera_port&DeviceNum=10" >"$corpus/action/invalid_user"

# The variable map's target reads any bytes; the variables of real devices
# make a start.
printf %s "$full" | grep -o '"[A-Za-z]*":"[^"]*"' | tr -d '"' | tr ':\n' '\001\002' \
  >"$corpus/variable_map/variables"
get "$control?cmd=quit" >/dev/null
wait "$pid" 2>/dev/null || true
trap - EXIT
for target in status locator action variable_map; do
  echo "make_corpus: $target: $(ls "$corpus/$target" | wc -l) files"
done
