#!/usr/bin/env bash
# The Windows side of the test command: installs the cross tools and wine when missing,
# cross-builds vantorel.dll (32-bit, the shipped one) with its import library and the
# Windows test program, checks the DLL's export and import tables, and runs the Windows
# suite under wine against the virtual terminal on a pseudo-terminal mapped to COM3.
#
# The suite runs in the 32-bit wine it was written for. On a host whose kernel has 32-bit
# execution switched off (wine32 cannot start there), it runs the same suite on a 64-bit
# build of the DLL under wine64 instead and says so; the 32-bit DLL, its import library
# and the 32-bit test program are still built and the 32-bit export table checked.
#
# Last line: "N passed, M failed". Exit status non-zero when anything failed.
#
#   scripts/windows-tests.sh [-- extra test-program arguments, e.g. --gtest_filter=Link*]
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
extra=()
if [[ ${1:-} == -- ]]; then
  shift
  extra=("$@")
fi
passed=0
failed=0
summary() {
  echo "$passed passed, $failed failed"
  exit $((failed == 0 ? 0 : 1))
}
abort() {
  echo "windows-tests: $*"
  failed=$((failed + 1))
  summary
}

# ---- Tools --------------------------------------------------------------------------------
apt_updated=0
install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "windows-tests: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || return 1
    apt_updated=0
  fi
  if ((apt_updated == 0)); then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null || return 1
    apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null || return 1
}

install_packages g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 \
  cmake ninja-build libcli11-dev googletest ||
  abort "cannot install the cross compiler and wine"

# wine32 is a 32-bit Linux program: it runs only where the kernel executes 32-bit code.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=win32
else
  arch=win64
  echo "windows-tests: this kernel does not run 32-bit programs (wine32 cannot start);"
  echo "windows-tests: the suite runs on the 64-bit build under wine64 instead"
  install_packages wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ||
    abort "cannot install wine64 and the 64-bit cross compiler"
fi

# ---- Builds -------------------------------------------------------------------------------
cross_build() { # DIR TOOLCHAIN
  mkdir -p "$1"
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
    -DCMAKE_BUILD_TYPE=Release -DVANTOREL_WERROR=ON -DVANTOREL_TESTS=OFF -DVANTOREL_WINDOWS_TESTS=ON \
    >"$1/configure.log" 2>&1 &&
    cmake --build "$1" -j2 >"$1/build.log" 2>&1
}
echo "windows-tests: cross-building the 32-bit DLL and test program"
if ! cross_build "$root/build-win32" toolchain-mingw-i686.cmake; then
  grep -E 'error|undefined' "$root/build-win32/build.log" "$root/build-win32/configure.log" |
    head -n 30
  abort "the 32-bit cross build failed (build-win32/build.log)"
fi

if "$root/scripts/check-dll-exports.sh" "$root/build-win32/vantorel.dll" i686-w64-mingw32-objdump; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

suite_dir=$root/build-win32
if [[ $arch == win64 ]]; then
  suite_dir=$root/build-win64
  echo "windows-tests: cross-building the 64-bit DLL and test program"
  if ! cross_build "$root/build-win64" toolchain-mingw-x86_64.cmake; then
    grep -E 'error|undefined' "$root/build-win64/build.log" | head -n 30
    abort "the 64-bit cross build failed (build-win64/build.log)"
  fi
  if "$root/scripts/check-dll-exports.sh" "$root/build-win64/vantorel.dll" x86_64-w64-mingw32-objdump; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi

# The virtual terminal is a Linux program; only it is built on the host side.
host=$root/build-win32-host
echo "windows-tests: building the virtual terminal"
mkdir -p "$host"
if ! { cmake -S "$root" -B "$host" -G Ninja -DVANTOREL_TESTS=OFF -DVANTOREL_WERROR=OFF \
  >"$host/configure.log" 2>&1 &&
  cmake --build "$host" -j2 --target vantorel-vterm >"$host/build.log" 2>&1; }; then
  grep -E 'error' "$host/build.log" | head -n 20
  abort "the virtual terminal did not build ($host/build.log)"
fi

# ---- The suite under wine -------------------------------------------------------------------
log=$suite_dir/wine-tests.log
"$root/scripts/wine-tests.sh" --exe "$suite_dir/vantorel_windows_tests.exe" \
  --vterm "$host/vterm/vantorel-vterm" --work "$suite_dir/wine" --arch "$arch" \
  -- "${extra[@]}" >"$log" 2>&1
grep -E '^\[  FAILED  \]|Failure$|^wine-tests:' "$log" | sed -n '1,60p'
line=$(tail -n 1 "$log")
if [[ $line =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
else
  echo "windows-tests: the wine suite did not report (see $log)"
  failed=$((failed + 1))
fi
echo "windows-tests: suite ran as $arch; full output in $log"
summary
