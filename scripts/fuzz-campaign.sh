#!/usr/bin/env bash
# Long random fuzzing, not part of the test command: builds the fuzz targets (clang,
# ASan+UBSan, in build/fuzz-campaign or the directory VANTOREL_FUZZ_CAMPAIGN_BUILD names)
# and fuzzes each named target (default: all) for SECONDS with a random seed, from its
# seed corpus and what earlier campaigns kept in build/fuzz-campaign/corpus/<target>.
# Crashing inputs land in build/fuzz-campaign/finds/<target>/; the summary names them.
#
# A find is a fault to fix: reproduce it (build/fuzz-campaign/fuzz/fuzz_<target> FILE),
# fix the library or the target's property, and copy the file into fuzz/corpus/<target>/
# so that the test command replays it from then on. With --merge, the inputs of the
# campaign's corpus that add coverage are merged into fuzz/corpus/<target>/ too.
#
#   scripts/fuzz-campaign.sh [--seconds N] [--jobs N] [--merge] [TARGET...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin fuzz-campaign
seconds=600 jobs=2 merge=0 targets=()
while (($#)); do
  case $1 in
    --seconds) seconds=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --merge) merge=1; shift ;;
    -h | --help) sed -n '2,14p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
build=${VANTOREL_FUZZ_CAMPAIGN_BUILD:-$root/build/fuzz-campaign}
mkdir -p "$build"
"$root/scripts/deps.sh" || fail "cannot install the build's packages"
step "building the fuzz targets in $build"
if ! cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DVANTOREL_SANITIZE=address,undefined -DVANTOREL_FUZZ=ON \
  -DVANTOREL_VTERM=OFF -DVANTOREL_TOOLS=OFF -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF \
  >"$build/build.log" 2>&1 || ! cmake --build "$build" -j2 >>"$build/build.log" 2>&1; then
  fail "build failed (see $build/build.log)"
fi
((${#targets[@]})) || for d in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done

# shellcheck disable=SC2317  # run through xargs
# One target: SECONDS of fuzzing from a random seed (-seed=0 lets libFuzzer draw one).
campaign() {
  local t=$1 work=$build/corpus/$1 finds=$build/finds/$1
  mkdir -p "$work" "$finds"
  UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz/fuzz_$t" -seed=0 -max_total_time="$seconds" \
    -timeout=10 -max_len=8192 -print_final_stats=1 -artifact_prefix="$finds/" \
    "$work" "$root/fuzz/corpus/$t" >"$build/$t.log" 2>&1
  echo "$t $?"
}
export -f campaign
export build seconds root
step "fuzzing ${targets[*]} for $seconds s each, $jobs at a time"
while read -r t status; do
  found=$(find "$build/finds/$t" -type f 2>/dev/null)
  if [[ $status == 0 && -z $found ]]; then
    ok "$t: nothing found ($(grep -oE 'number_of_executed_units: *[0-9]+' "$build/$t.log" | grep -oE '[0-9]+$') executions)"
  else
    not_ok "$t" "exit status $status; see $build/$t.log; finds: ${found:-none}"
  fi
  if ((merge)); then
    "$build/fuzz/fuzz_$t" -merge=1 "$root/fuzz/corpus/$t" "$build/corpus/$t" >"$build/$t.merge.log" 2>&1 &&
      step "$t: merged into fuzz/corpus/$t ($(grep -oE 'added [0-9]+ new units' "$build/$t.merge.log" || echo 'see the merge log'))"
  fi
done < <(printf '%s\n' "${targets[@]}" | xargs -P"$jobs" -I{} bash -c 'campaign {}')
finish
