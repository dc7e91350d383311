#!/usr/bin/env bash
# The whole test run on a fresh machine: installs what is missing, builds from scratch
# (warnings are errors here), runs the suite, runs it again under ASan+UBSan, fuzzes every
# parser of terminal bytes for a bounded time, runs the concurrency tests under TSan, then
# the API reference check, the install-and-use check, the Windows DLL under wine, the HID
# tests in a VM (the library, the vantorel tool, and the DLL's HID backend under wine) and
# the browser view in a headless Chromium where those scripts exist.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/deps.sh" || exit 1
passed=0
failed=0
failures=()

# Adds one stage's ctest result to the totals.
count() {
  local name=$1 log=$2 status=$3
  local line total nfail
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ -z "$line" ]]; then
    failed=$((failed + 1)); failures+=("$name (no result)"); return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  nfail=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - nfail))
  failed=$((failed + nfail))
  if [[ $status -ne 0 || $nfail -ne 0 ]]; then failures+=("$name"); fi
}

# build NAME TARGET CMAKE-ARGS... : a clean build directory per stage; TARGET "all" or one
# target (the TSan stage needs only the concurrency tests).
build() {
  local dir="$root/build/$1" target=$2; shift 2
  rm -rf "$dir"
  cmake -S "$root" -B "$dir" -G Ninja -DVANTOREL_WERROR=ON "$@" >/dev/null &&
    cmake --build "$dir" -j"$jobs" --target "$target"
}

# stage NAME PARALLEL CTEST-ARGS... : runs one build's tests. Most tests wait on the
# protocol's time-outs rather than the CPU, so they run several per core; under TSan the
# terminal's replies slow down enough that fewer at a time keeps them inside those time-outs.
stage() {
  local name=$1 dir="$root/build/$1" parallel=$2; shift 2
  local log="$dir/ctest.log"
  ctest --test-dir "$dir" --output-on-failure -j"$parallel" "$@" 2>&1 | tee "$log" | tail -25
  count "$name" "$log" "${PIPESTATUS[0]}"
}

echo "== build and test (g++)"
if build gcc all -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc; then
  stage gcc $((jobs * 4))
else
  failed=$((failed + 1)); failures+=("gcc build")
fi

echo "== build and test with ASan+UBSan (clang)"
if build asan all -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVANTOREL_SANITIZE=address,undefined; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 stage asan $((jobs * 3))
else
  failed=$((failed + 1)); failures+=("asan build")
fi

echo "== fuzzing under ASan+UBSan (clang, libFuzzer)"
# Each target of fuzz/ runs for a bounded time from its seed corpus (VANTOREL_FUZZ_SECONDS
# each, two at a time); a crash or a broken property fails its test.
if build fuzz all -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DVANTOREL_SANITIZE=address,undefined -DVANTOREL_FUZZ=ON \
  -DVANTOREL_VTERM=OFF -DVANTOREL_TOOLS=OFF -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF \
  -DVANTOREL_FUZZ_SECONDS=20; then
  UBSAN_OPTIONS=print_stacktrace=1 stage fuzz "$jobs" -L fuzz
  grep -hE '^fuzz_[a-z_]+: .* executions' "$root/build/fuzz/Testing/Temporary/LastTest.log" || true
else
  failed=$((failed + 1)); failures+=("fuzz build")
fi

echo "== concurrency tests with TSan (clang)"
if build tsan concurrency_tests -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVANTOREL_SANITIZE=thread; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 stage tsan "$jobs" -L concurrency
else
  failed=$((failed + 1)); failures+=("tsan build")
fi

# Further stages add their own "N passed, M failed" line: the API reference (doxygen, no
# warnings), the installed library used by three outside projects (reuses build/gcc), the
# Windows DLL under wine, the HID tests in a VM (after the Windows stage: its wine HID VM
# needs that build), the browser view in Chromium (reuses build/gcc).
for extra in api-docs.sh consumer-tests.sh windows-tests.sh vm-tests.sh browser-tests.sh; do
  [[ -x "$root/scripts/$extra" ]] || continue
  echo "== $extra"
  log="$root/build/$extra.log"
  mkdir -p "$root/build"
  "$root/scripts/$extra" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  line=$(grep -E '^[A-Za-z-]*:? ?[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  p=$(grep -oE '[0-9]+ passed' <<<"$line" | grep -oE '[0-9]+')
  f=$(grep -oE '[0-9]+ failed' <<<"$line" | grep -oE '[0-9]+')
  passed=$((passed + ${p:-0})); failed=$((failed + ${f:-0}))
  if [[ $status -ne 0 || -z "$line" ]]; then
    failures+=("$extra"); [[ -z "$line" || ${f:-0} -eq 0 ]] && failed=$((failed + 1))
  fi
done

if ((${#failures[@]})); then echo "failed stages: ${failures[*]}"; fi
echo "total: $passed passed, $failed failed"
[[ ${#failures[@]} -eq 0 && $failed -eq 0 ]]
