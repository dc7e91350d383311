#!/usr/bin/env bash
# A long campaign of the scenario runner over random seeds (not part of the test command):
#   scripts/scenario-campaign.sh [SECONDS] [BUILD-DIR] [all]
# runs, two processes side by side, the scenario kinds that today's library handles ("all":
# the defect scenarios too) for SECONDS (600 by default) and prints every failing
# kind/transport/seed and each process's scenarios and invariant checks per second. A seed
# it finds joins the fixed set in tests/scenario/scenario_test.cpp; one replays with
#   VANTOREL_SCENARIO=<kind>/<Serial|Hid>/<seed> BUILD-DIR/tests/scenario_tests --gtest_filter=Replay.One
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${2:-$root/build}
kinds=${3:-}
cmake --build "$build" --target scenario_tests -j2 >/dev/null || exit 1
status=0
pids=()
for i in 1 2; do
  VANTOREL_SCENARIO_CAMPAIGN=$seconds VANTOREL_SCENARIO_KINDS=$kinds \
    "$build/tests/scenario_tests" --gtest_filter=Replay.Campaign >"$build/campaign-$i.log" 2>&1 &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for i in 1 2; do
  grep -E '^[A-Za-z0-9]+/(Serial|Hid)/[0-9]+: ' "$build/campaign-$i.log" | sort -u
  grep '^campaign:' "$build/campaign-$i.log"
done
exit $status
