#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS WORKDIR SECONDS
# Fuzzes for SECONDS from the seed corpus (read only: new inputs go to WORKDIR/corpus, a
# crashing input to WORKDIR/crash-*), then prints one line with the executions reached.
# Fails when the fuzzer found a crash, a leak, a hang or a broken property.
set -uo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
name=$(basename "$fuzzer")
mkdir -p "$work/corpus"
log="$work/fuzz.log"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$seeds" >"$log" 2>&1
status=$?
execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
tail -n 40 "$log" | grep -vE '^#[0-9]+' || true
echo "$name: ${execs:-?} executions in ${seconds} s, exit status $status"
exit "$status"
