#!/usr/bin/env bash
# The .NET binding (bindings/dotnet) and its examples (examples/dotnet) with Debian's Mono:
# installs mono-mcs and mono-runtime where missing (they bring every assembly the binding
# and its tests use), builds the library and the virtual terminal (in the g++ stage's build
# when there is one), compiles the binding, its test runner and the examples, and runs the
# runner against libvantorel.so and the virtual terminal over pseudo-terminals. Output in
# build/dotnet; the last line says "dotnet-tests: N passed, M failed".
#
# VANTOREL_DOTNET_TIMEOUT (seconds, default 240) bounds the run; it takes about 65 s.
# VANTOREL_DOTNET_BUILD names a build directory to build the library and the virtual
# terminal in (default build/gcc when it exists, else a build of their own in
# build/dotnet/cmake).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin dotnet-tests
out=$root/build/dotnet
bin=$out/bin
timeout_s=${VANTOREL_DOTNET_TIMEOUT:-240}
rm -rf "$bin" "$out/work"
mkdir -p "$bin" "$out/work"

apt_log=$out/apt.log
install_missing mono-mcs mono-runtime ||
  fail "cannot install ${not_installed[*]} (see $apt_log): the .NET binding is not tested"

# --- The library and the virtual terminal.
# shellcheck source=scripts/lib/reuse-build.sh
source "$root/scripts/lib/reuse-build.sh"
: >"$out/build.log"
reuse_dir=${VANTOREL_DOTNET_BUILD:-}
reuse_args=()
own_args=(-DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF -DVANTOREL_BENCH=OFF -DVANTOREL_TOOLS=OFF)
reuse_build "$out/build.log" "$root" "$out/cmake" vantorel vantorel-vterm ||
  fail "build failed (see $out/build.log)"
vterm=$build_dir/vterm/vantorel-vterm
[[ -x $vterm && -e $build_dir/libvantorel.so ]] || fail "no library or virtual terminal in $build_dir"

# --- The binding, its tests and the examples, warnings as errors.
step "compiling"
compile() {
  local what=$1
  shift
  if mcs -warn:4 -warnaserror+ "$@" >>"$out/compile.log" 2>&1; then ok "compile $what"; else
    not_ok "compile $what" "$out/compile.log"
    tail -n 5 "$out/compile.log"
    return 1
  fi
}
: >"$out/compile.log"
binding=$root/bindings/dotnet
compile "the binding" -target:library -unsafe -out:"$bin/Vantorel.dll" "$binding"/src/*.cs || finish
cp "$binding/Vantorel.dll.config" "$bin/"
compile "the test runner" -target:exe -r:"$bin/Vantorel.dll" -r:System.Core.dll \
  -out:"$bin/vantorel-tests.exe" "$binding"/tests/*.cs || finish
for example in "$root"/examples/dotnet/*.cs; do
  name=$(basename "$example" .cs)
  compile "example $name" -target:exe -r:"$bin/Vantorel.dll" -r:System.Core.dll -out:"$bin/$name.exe" "$example"
done

# --- Run: one line per test, "ok NAME (T ms)" or "FAIL NAME: why".
step "running (time-out ${timeout_s} s)"
log=$out/tests.log
(cd "$out/work" && LD_LIBRARY_PATH=$build_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} VANTOREL_VTERM=$vterm \
  VANTOREL_SOURCE=$root VANTOREL_EXAMPLES=$bin VANTOREL_WORK=$out/work \
  timeout --kill-after=10 "$timeout_s" mono --debug "$bin/vantorel-tests.exe") >"$log" 2>&1
status=$?
while IFS= read -r line; do
  case $line in
    "ok "*) ok "${line#ok }" ;;
    "FAIL "*) not_ok "${line#FAIL }" ;;
  esac
done <"$log"
if ! grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$log"; then
  # A crash (a handler the collector freed ends the process) or the time-out.
  not_ok "the test runner ended early with status $status" "$log"
  tail -n 15 "$log"
elif ((status != 0 && failed == 0)); then
  not_ok "the test runner ended with status $status" "$log"
fi
finish
