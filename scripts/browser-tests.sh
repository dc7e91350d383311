#!/usr/bin/env bash
# The browser view in a real browser: installs Debian's chromium where missing, builds the
# browser tests (reusing the test command's g++ build when there is one) and runs them with
# a headless Chromium. Screenshots and the display PNGs land in build/browser; the last
# line says "browser: N passed, M failed".
#
# VANTOREL_BROWSER_TIMEOUT (seconds, default 300) bounds the test run; it takes about 100 s
# on two cores. VANTOREL_BROWSER_BUILD names a build directory to build the tests in
# (default build/gcc when it exists, else a build of their own in build/browser/cmake).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin browser
out="$root/build/browser"
timeout_s=${VANTOREL_BROWSER_TIMEOUT:-300}
mkdir -p "$out"

# --- The browser and the build's packages.
apt_log=$out/apt.log
install_missing chromium libcpp-httplib-dev nlohmann-json3-dev ||
  fail "cannot install ${not_installed[*]} (see $out/apt.log): the browser view is not tested"

# --- The test program: in the g++ stage's build when it has one, else a build of its own.
# shellcheck source=scripts/lib/reuse-build.sh
source "$root/scripts/lib/reuse-build.sh"
: >"$out/build.log"
reuse_dir=${VANTOREL_BROWSER_BUILD:-}
reuse_args=()
own_args=(-DCMAKE_BUILD_TYPE=Release)
reuse_build "$out/build.log" "$root" "$out/cmake" browser_tests ||
  fail "build failed (see $out/build.log)"
bdir=$build_dir
program="$bdir/tests/browser_tests"
[[ -x "$program" ]] || fail "no browser_tests in $bdir (cpp-httplib, nlohmann-json or libpng missing?)"

# --- Run.
step "running (time-out ${timeout_s} s)"
log="$out/browser_tests.log"
(cd "$out" && VANTOREL_BROWSER_OUT="$out" timeout --kill-after=10 "$timeout_s" "$program") >"$log" 2>&1
status=$?
grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|Failure|^\[==========\]' "$log" | grep -v 'listed below' | tail -40
passed=$(grep -cE '^\[ +OK \]' "$log")
failed=$(grep -cE '^\[ +FAILED +\] [A-Za-z].*\([0-9]+ ms\)$' "$log")
skipped=$(grep -cE '^\[ +SKIPPED \] [A-Za-z].*\([0-9]+ ms\)$' "$log")
if ((status == 124 || status == 137)); then
  echo "browser: timed out after ${timeout_s} s (see $log)"
  failed=$((failed + 1))
elif ((status != 0 && failed == 0)); then
  echo "browser: the test program ended with $status (see $log)"
  failed=1
fi
if ((skipped > 0)); then
  echo "browser: $skipped tests skipped (no browser?)"
  failed=$((failed + skipped))
fi
step "done; screenshots in $out"
finish
