#!/usr/bin/env bash
# The whole test run on a fresh machine: installs what is missing, builds from scratch
# (warnings are errors here), runs the suite, runs it again under ASan+UBSan, replays the
# fuzz corpus and fuzzes every parser of terminal bytes for a fixed number of runs from a
# fixed seed, runs the concurrency tests under TSan, then the API reference check, the
# install-and-use check, the Windows DLL under wine, the HID tests in a VM (the library,
# the vantorel tool, and the DLL's HID backend under wine) and the browser view in a
# headless Chromium where those scripts exist.
#
# Every stage ends with one result line "STAGE: N passed, M failed"; at the end each
# stage's time ("stage gcc: 3m12s"), the failed stages and "total: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
jobs=$(nproc)
run_t0=$(date +%s)
"$root/scripts/deps.sh" || { echo "deps: cannot install the build's packages"; exit 1; }
total_passed=0
total_failed=0
failures=()
times=()

duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# tally NAME LOG STATUS: adds the stage's result line in LOG to the totals; a stage that
# printed none, or exited non-zero, failed.
tally() {
  local name=$1 log=$2 status=$3
  if ! read_result "$log" "$name"; then
    echo "$name: printed no result line"
    total_failed=$((total_failed + 1))
    failures+=("$name (no result)")
    return
  fi
  total_passed=$((total_passed + result_passed))
  total_failed=$((total_failed + result_failed))
  if ((status != 0 || result_failed != 0)); then
    failures+=("$name")
    ((result_failed == 0)) && total_failed=$((total_failed + 1))
  fi
}

# timed NAME COMMAND...: runs one stage, notes its time.
timed() {
  local name=$1 t0
  shift
  t0=$(date +%s)
  "$@"
  times+=("stage $name: $(duration $(($(date +%s) - t0)))")
}

# build NAME TARGET CMAKE-ARGS... : a clean build directory per stage; TARGET "all" or one
# target (the TSan stage needs only the concurrency tests).
build() {
  local dir="$root/build/$1" target=$2; shift 2
  rm -rf "$dir"
  cmake -S "$root" -B "$dir" -G Ninja -DVANTOREL_WERROR=ON "$@" >/dev/null &&
    cmake --build "$dir" -j"$jobs" --target "$target"
}

# ctest_stage NAME PARALLEL BUILD-ARGS -- CTEST-ARGS... : builds and runs one build's tests
# and prints the stage's result line from ctest's. Most tests wait on the protocol's
# time-outs rather than the CPU, so they run several per core; under TSan the terminal's
# replies slow down enough that fewer at a time keeps them inside those time-outs.
ctest_stage() {
  local name=$1 parallel=$2 dir="$root/build/$1" target=$3 line total nfail status
  shift 3
  local args=()
  while (($#)) && [[ $1 != -- ]]; do args+=("$1"); shift; done
  shift
  mkdir -p "$root/build"
  local log="$root/build/$name.log"
  if ! build "$name" "$target" "${args[@]}"; then
    echo "$name: the build failed"
    result_line "$name" 0 1 | tee "$log"
    tally "$name" "$log" 1
    return
  fi
  ctest --test-dir "$dir" --output-on-failure -j"$parallel" "$@" 2>&1 | tee "$log" | tail -25
  status=${PIPESTATUS[0]}
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ $line =~ ,\ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    nfail=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    result_line "$name" $((total - nfail)) "$nfail" | tee -a "$log"
  fi
  tally "$name" "$log" "$status"
}

echo "== build and test (g++)"
timed gcc ctest_stage gcc $((jobs * 5)) all -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_COMPILER=gcc --

echo "== build and test with ASan+UBSan (clang)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  timed asan ctest_stage asan $((jobs * 4)) all -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DVANTOREL_SANITIZE=address,undefined --

echo "== fuzzing under ASan+UBSan (clang, libFuzzer)"
# Each target of fuzz/ replays its seed corpus, then fuzzes for a fixed number of runs from
# a fixed seed (fuzz/CMakeLists.txt; about 20 s each, two at a time): the same checkout
# tries the same inputs everywhere. A crash or a broken property fails its test.
UBSAN_OPTIONS=print_stacktrace=1 timed fuzz ctest_stage fuzz "$jobs" all -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DVANTOREL_SANITIZE=address,undefined \
  -DVANTOREL_FUZZ=ON -DVANTOREL_VTERM=OFF -DVANTOREL_TOOLS=OFF -DVANTOREL_TESTS=OFF \
  -DVANTOREL_BENCH=OFF -- -L fuzz
grep -hE '^fuzz_[a-z_]+: .* executions' "$root/build/fuzz/Testing/Temporary/LastTest.log" 2>/dev/null || true

echo "== concurrency tests with TSan (clang)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 timed tsan ctest_stage tsan "$jobs" concurrency_tests \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVANTOREL_SANITIZE=thread -- -L concurrency

# Further stages, each a script of its own that prints its result line last: the API
# reference (doxygen, no warnings), the installed library used by three outside projects
# and the examples (reuses build/gcc), the Python and .NET bindings against the virtual
# terminal (reuse build/gcc), the Windows DLL under wine, the HID tests in a VM (after the Windows
# stage: its wine HID VM needs that build), the browser view in Chromium (reuses build/gcc).
script_stage() {
  local name=$1 script=$2 log="$root/build/$2.log"
  mkdir -p "$root/build"
  "$root/scripts/$script" 2>&1 | tee "$log"
  tally "$name" "$log" "${PIPESTATUS[0]}"
}
for extra in api-docs:api-docs.sh consumer-tests:consumer-tests.sh python-tests:python-tests.sh \
  dotnet-tests:dotnet-tests.sh windows:windows-tests.sh \
  vm:vm-tests.sh browser:browser-tests.sh; do
  name=${extra%%:*} script=${extra#*:}
  [[ -x "$root/scripts/$script" ]] || continue
  echo "== $script"
  timed "$name" script_stage "$name" "$script"
done

printf '%s\n' "${times[@]}"
echo "total time: $(duration $(($(date +%s) - run_t0)))"
if ((${#failures[@]})); then echo "failed stages: ${failures[*]}"; fi
echo "total: $total_passed passed, $total_failed failed"
[[ ${#failures[@]} -eq 0 && $total_failed -eq 0 ]]
