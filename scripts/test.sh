#!/usr/bin/env bash
# Builds the project three times and runs the whole test suite in each:
# a plain build (which also builds the benchmarks), one with
# AddressSanitizer + UndefinedBehaviorSanitizer, and one with
# ThreadSanitizer. Any failing test or sanitizer report fails the run. The
# plain build also runs a short chaos soak (scripts/soak.sh --chaos 1), and
# at the end each fuzz target runs for a short smoke (scripts/fuzz.sh, built
# with clang in build-fuzz); a crash, a differing model, a sanitizer report
# or a hang fails the run too. The tests and the soak run in a network
# namespace of their own where one can be made (see own_network below).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:exitcode=23"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=23"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"

# The tests and the soak use fixed loopback addresses (127.0.0.N). They run
# in a network namespace of their own when one can be made (as root, with
# unshare and ip), so they pass while the demo, a soak or a second
# checkout's tests run beside them; elsewhere they run as they are, and this
# is said once.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null &&
   command -v ip >/dev/null && unshare -n ip link set lo up 2>/dev/null; then
  own_network() { unshare -n bash -c 'ip link set lo up && exec "$@"' own_network "$@"; }
else
  echo "=== note: no network namespace of its own (that needs root, unshare and ip);" \
       "the tests share the loopback addresses with whatever else runs here"
  own_network() { "$@"; }
fi

run_suite() {
  local folder=$1; shift
  echo "=== $folder: configure and build"
  cmake -S . -B "$folder" "$@" >/dev/null
  cmake --build "$folder" -j "$jobs"
  echo "=== $folder: tests"
  (cd "$folder" && own_network ./veru_tests --gtest_brief=1)
}

run_suite build -DVERU_SANITIZE= -DVERU_BUILD_BENCH=ON
# About a minute of the console under random faults, on the plain build.
echo "=== build: chaos soak"
own_network scripts/soak.sh --chaos 1
run_suite build-asan -DVERU_SANITIZE=address -DVERU_BUILD_BENCH=OFF
run_suite build-tsan -DVERU_SANITIZE=thread -DVERU_BUILD_BENCH=OFF
# Every fuzz target: its seed corpus replayed, then 20 seconds of fuzzing.
scripts/fuzz.sh 20
echo "=== all test suites passed"
