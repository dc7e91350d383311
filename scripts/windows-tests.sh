#!/usr/bin/env bash
# The Windows side of the test command: installs the cross tools and wine when missing,
# cross-builds vantorel.dll (32-bit, the shipped one) with its import library and the
# Windows test program, checks the DLL's export and import tables and version resource and
# the Visual C++ import library vantorel.lib, and runs the Windows suite under wine against
# the virtual terminal on a pseudo-terminal mapped to COM3.
#
# The suite runs in the 32-bit wine it was written for. On a host whose kernel has 32-bit
# execution switched off (wine32 cannot start there), it runs the same suite on a 64-bit
# build of the DLL under wine64 instead and says so; the 32-bit DLL, its import library
# and the 32-bit test program are still built and the 32-bit export table checked.
#
# The 32-bit wine comes from the i386 packages; where they cannot be installed (an index
# mid-sync leaves wine32:i386 with unmet dependencies) the suite takes the 64-bit path as
# well and says why.
#
# Last line: "windows: N passed, M failed". Exit status non-zero when anything failed.
#
#   scripts/windows-tests.sh [-- extra test-program arguments, e.g. --gtest_filter=Link*]
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
extra=()
if [[ ${1:-} == -- ]]; then
  shift
  extra=("$@")
fi
# shellcheck source=scripts/lib/common.sh
source "$root/scripts/lib/common.sh"
stage_begin windows
mkdir -p "$root/build"
apt_log=$root/build/windows-apt.log

# ---- Tools --------------------------------------------------------------------------------
# The 32-bit packages need the i386 architecture and lists of its own.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386 && apt_update force
fi
# llvm (llvm-dlltool, llvm-readobj), lld and clang: vantorel.lib for Visual C++ and its check.
install_missing g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine cmake ninja-build \
  libcli11-dev googletest llvm lld clang ||
  fail "cannot install ${not_installed[*]} (see $apt_log): the Windows DLL is not tested"
# wine32 on its own: without it the suite runs under wine64 (below).
wine32_missing=
install_missing wine32:i386 || wine32_missing=1

# wine32 is a 32-bit Linux program: it runs only where the kernel executes 32-bit code.
# VANTOREL_WINE_ARCH=win64 takes the 64-bit path where wine32 would run too.
if [[ ${VANTOREL_WINE_ARCH:-} != win64 ]] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=win32
else
  arch=win64
  if [[ ${VANTOREL_WINE_ARCH:-} == win64 ]]; then
    echo "windows: VANTOREL_WINE_ARCH=win64: the suite runs on the 64-bit build"
  elif [[ -n $wine32_missing ]]; then
    echo "windows: wine32:i386 cannot be installed (see $apt_log);"
    echo "windows: the suite runs on the 64-bit build under wine64 instead"
  else
    echo "windows: this kernel does not run 32-bit programs (wine32 cannot start);"
    echo "windows: the suite runs on the 64-bit build under wine64 instead"
  fi
  install_missing wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ||
    fail "cannot install ${not_installed[*]} (see $apt_log): the Windows suite cannot run"
fi

# ---- Builds -------------------------------------------------------------------------------
cross_build() { # DIR TOOLCHAIN
  mkdir -p "$1"
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
    -DCMAKE_BUILD_TYPE=Release -DVANTOREL_WERROR=ON -DVANTOREL_TESTS=OFF -DVANTOREL_WINDOWS_TESTS=ON \
    >"$1/configure.log" 2>&1 &&
    cmake --build "$1" -j2 >"$1/build.log" 2>&1
}
echo "windows: cross-building the 32-bit DLL and test program"
if ! cross_build "$root/build-win32" toolchain-mingw-i686.cmake; then
  grep -E 'error|undefined' "$root/build-win32/build.log" "$root/build-win32/configure.log" |
    head -n 30
  fail "the 32-bit cross build failed (build-win32/build.log)"
fi

if "$root/scripts/check-dll-exports.sh" "$root/build-win32/vantorel.dll" i686-w64-mingw32-objdump; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# vantorel.lib: its members, and a Visual C++ caller linked against it alone (run under
# wine32 after the suite, where wine32 runs).
implib_check=("$root/scripts/check-import-lib.sh" "$root/build-win32/vantorel.lib"
  "$root/build-win32" "$root/build-win32/implib-check")
if [[ $arch == win64 ]]; then
  if "${implib_check[@]}"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

suite_dir=$root/build-win32
if [[ $arch == win64 ]]; then
  suite_dir=$root/build-win64
  echo "windows: cross-building the 64-bit DLL and test program"
  if ! cross_build "$root/build-win64" toolchain-mingw-x86_64.cmake; then
    grep -E 'error|undefined' "$root/build-win64/build.log" | head -n 30
    fail "the 64-bit cross build failed (build-win64/build.log)"
  fi
  if "$root/scripts/check-dll-exports.sh" "$root/build-win64/vantorel.dll" x86_64-w64-mingw32-objdump; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi

# The virtual terminal is a Linux program; only it is built on the host side.
host=$root/build-win32-host
echo "windows: building the virtual terminal"
mkdir -p "$host"
if ! { cmake -S "$root" -B "$host" -G Ninja -DVANTOREL_TESTS=OFF -DVANTOREL_WERROR=OFF \
  >"$host/configure.log" 2>&1 &&
  cmake --build "$host" -j2 --target vantorel-vterm >"$host/build.log" 2>&1; }; then
  grep -E 'error' "$host/build.log" | head -n 20
  fail "the virtual terminal did not build ($host/build.log)"
fi

# ---- The suite under wine -------------------------------------------------------------------
log=$suite_dir/wine-tests.log
"$root/scripts/wine-tests.sh" --exe "$suite_dir/vantorel_windows_tests.exe" \
  --vterm "$host/vterm/vantorel-vterm" --work "$suite_dir/wine" --arch "$arch" \
  -- "${extra[@]}" >"$log" 2>&1
grep -E '^\[  FAILED  \]|Failure$|^wine-tests:' "$log" | sed -n '1,60p'
if read_result "$log" wine-tests; then
  passed=$((passed + result_passed))
  failed=$((failed + result_failed))
else
  echo "windows: the wine suite did not report (see $log)"
  failed=$((failed + 1))
fi
echo "windows: suite ran as $arch; full output in $log"

if [[ $arch == win32 ]]; then
  # In the suite's prefix, as wine-tests.sh set it up.
  server=/usr/lib/wine/wineserver32
  [[ -x $server ]] || server=/usr/lib/wine/wineserver
  if env WINELOADER=/usr/lib/wine/wine WINESERVER="$server" WINEARCH=win32 WINEPREFIX="$suite_dir/wine/prefix-win32" HOME="$suite_dir/wine/home" \
    TMPDIR="$suite_dir/wine/tmp" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "${implib_check[@]}" --run /usr/lib/wine/wine; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  WINEPREFIX="$suite_dir/wine/prefix-win32" "$server" -k >/dev/null 2>&1 || true
fi
finish
