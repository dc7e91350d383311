#!/usr/bin/env bash
# Checks vantorel.lib, the import library for Visual C++ callers of the 32-bit DLL:
#  - it holds one import per line of exports/vantorel.def: the decorated stdcall symbol
#    (_Name@N) and its __imp_ pointer, imported under the undecorated name, and nothing else;
#  - a caller compiled as Visual C++ compiles it (clang as cl for i686-pc-windows-msvc) and
#    linked with lld-link against vantorel.lib alone resolves, and its import table names
#    the plain exports with their ordinals as hints;
#  - with --run WINE, that caller runs beside vantorel.dll and exits 0 (a 32-bit wine only).
#
#   check-import-lib.sh LIB DLL-DIR WORK-DIR [--run WINE-LOADER]
#
# The tools come from Debian's llvm, lld and clang packages.
set -euo pipefail

lib=${1:?usage: check-import-lib.sh LIB DLL-DIR WORK-DIR [--run WINE-LOADER]}
dll_dir=${2:?}
work=${3:?}
loader=""
[[ ${4:-} == --run ]] && loader=${5:?}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
def=$root/exports/vantorel.def

tool() { # the first of the names that exists
  local t
  for t in "$@"; do command -v "$t" >/dev/null && { echo "$t"; return 0; }; done
  echo "check-import-lib: none of $* found" >&2
  return 1
}
readobj=$(tool llvm-readobj llvm-readobj-14)
clang=$(tool clang clang-14) # in its cl driver mode: Visual C++'s command line
lldlink=$(tool lld-link lld-link-14)

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
[[ -f $lib ]] || { echo "FAIL: no import library $lib"; exit 1; }
mkdir -p "$work"

# "Name@N ordinal" for every export, from the def's right-hand sides.
want=$(sed -nE 's/^[[:space:]]*[A-Za-z_0-9]+[[:space:]]*=[[:space:]]*([A-Za-z0-9_]+@[0-9]+)[[:space:]]+@([0-9]+).*/\1 \2/p' \
  "$def" | sort)

# Each short import member: "File: vantorel.dll", "Name type: ...", "Symbol: __imp__X@N",
# "Symbol: _X@N".
members=$("$readobj" "$lib" | awk '
  /^Format: COFF-import-file/ { inimport = 1; type = ""; next }
  /^Format:/ { inimport = 0 }
  inimport && /^Name type:/ { type = $3 }
  inimport && /^Symbol: / && $2 !~ /^__imp_/ { print $2, type }')
symbols=$(awk '{ print $1 }' <<<"$members" | sort)
expected_symbols=$(awk '{ print "_" $1 }' <<<"$want" | sort)
if [[ $symbols != "$expected_symbols" ]]; then
  fail "vantorel.lib's symbols differ from the def (< def, > lib):"
  diff <(echo "$expected_symbols") <(echo "$symbols") | grep '^[<>]' | head -20 || true
fi
if awk '$2 != "undecorate"' <<<"$members" | grep -q .; then
  fail "imports not under their undecorated names: $(awk '$2 != "undecorate" { print $1 }' <<<"$members" | head -5 | tr '\n' ' ')"
fi
imps=$("$readobj" "$lib" | grep -c '^Symbol: __imp__' || true)
count=$(grep -c . <<<"$want")
((imps == count)) || fail "$imps __imp_ symbols for $count exports"

# A Visual C++ caller, linked with nothing but vantorel.lib.
obj=$work/caller.obj
exe=$dll_dir/vantorel_msvc_caller.exe
"$clang" --driver-mode=cl --target=i686-pc-windows-msvc /nologo /c /O2 /GS- /W4 /WX -I "$root/include" \
  "/Fo$obj" -- "$root/tests/windows/msvc/caller.c" >"$work/caller-compile.log" 2>&1 ||
  { cat "$work/caller-compile.log"; fail "the caller does not compile as Visual C++"; exit 1; }
"$lldlink" /nologo /entry:CallerStart /subsystem:console /nodefaultlib "/out:$exe" "$obj" \
  "$lib" >"$work/caller-link.log" 2>&1 ||
  { cat "$work/caller-link.log"; fail "the caller does not link against vantorel.lib"; exit 1; }

# Its imports: vantorel.dll only, plain names, ordinals as hints.
imports=$("$readobj" --coff-imports "$exe" | awk '
  /^  Name: / { dll = $2 }
  /^  Symbol: / { gsub(/[()]/, "", $3); print dll, $2, $3 }' | sort)
expected_imports=$(nm_names=$("$(tool llvm-nm llvm-nm-14)" "$obj" | awk '$1 == "U" { print $2 }')
  while read -r sym; do
    plain=${sym#_}
    ord=$(awk -v s="$plain" '$1 == s { print $2 }' <<<"$want")
    echo "vantorel.dll ${plain%@*} $ord"
  done <<<"$nm_names" | sort)
if [[ $imports != "$expected_imports" ]]; then
  fail "the caller's imports differ (< expected, > linked):"
  diff <(echo "$expected_imports") <(echo "$imports") | grep '^[<>]' | head -20 || true
fi
calls=$(grep -c . <<<"$imports")

ran=""
if [[ -n $loader ]]; then
  set +e
  (cd "$dll_dir" && timeout 120 "$loader" "$exe" >"$work/caller-run.log" 2>&1)
  status=$?
  set -e
  if ((status == 0)); then
    ran="; it ran under wine and returned 0"
  else
    fail "the Visual C++ caller exited with $status under wine (codes in tests/windows/msvc/caller.c)"
  fi
fi

if ((failures == 0)); then
  echo "ok: $lib has $count undecorating imports; a Visual C++ caller links against it alone and imports $calls plain names by hint$ran"
fi
exit $((failures == 0 ? 0 : 1))
