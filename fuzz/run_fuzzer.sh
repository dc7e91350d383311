#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS WORKDIR RUNS SEED
# The test command's fuzz test, the same on every machine: replays every input of the seed
# corpus, then fuzzes for RUNS executions from it with libFuzzer's random seed SEED (new
# inputs go to WORKDIR/corpus, emptied first; a crashing input to WORKDIR/crash-*). No time
# bound and no reload of the corpus, so a checkout always tries the same inputs. Prints
# one line with the executions and the time taken. Fails when an input crashes, leaks,
# hangs or breaks a property. Long random fuzzing is scripts/fuzz-campaign.sh.
set -uo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4 seed=$5
name=$(basename "$fuzzer")
rm -rf "$work/corpus"
mkdir -p "$work/corpus"
log="$work/fuzz.log"
# Without address randomisation: libFuzzer files the operands of compares it saw under
# their code address and draws mutations from them, so a randomised layout changes what a
# fixed seed tries.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
else
  echo "$name: cannot switch address randomisation off; the inputs tried may vary"
fi
start=$(date +%s)
${norandom[@]+"${norandom[@]}"} "$fuzzer" -seed="$seed" -runs="$runs" -reload=0 -timeout=10 -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$seeds" >"$log" 2>&1
status=$?
execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
tail -n 40 "$log" | grep -vE '^#[0-9]+' || true
echo "$name: ${execs:-?} executions (seed $seed) in $(($(date +%s) - start)) s, exit status $status"
exit "$status"
