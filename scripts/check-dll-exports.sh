#!/usr/bin/env bash
# Checks a built vantorel.dll: its export table holds exactly the expected names at their
# ordinals, no decorated (Name@N) or extra name, and it imports only system DLLs (nothing
# from the compiler's runtime, which a customer's machine does not have).
#
#   check-dll-exports.sh DLL [OBJDUMP] [EXPECTED]
set -euo pipefail

dll=${1:?usage: check-dll-exports.sh DLL [OBJDUMP] [EXPECTED]}
objdump=${2:-i686-w64-mingw32-objdump}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
expected=${3:-$here/../tests/windows/exports.txt}

dump=$("$objdump" -p "$dll")
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' <<<"$dump" | head -n1)
[[ -n $base ]] || { echo "FAIL: $dll has no export table"; exit 1; }

# "[Ordinal/Name Pointer] Table" lists "[ i] name" with i = ordinal - base (newer binutils
# print "[ i] +base[ o] name" with the ordinal itself).
actual=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  awk -v base="$base" '
    /\+base\[/ { match($0, /\+base\[ *[0-9]+\]/); o = substr($0, RSTART + 6, RLENGTH - 7) + 0;
                 print o, $NF; next }
    /^[[:space:]]*\[ *[0-9]+\]/ { match($0, /\[ *[0-9]+\]/); i = substr($0, RSTART + 1, RLENGTH - 2) + 0;
                 print i + base, $NF }' | sort -n)
want=$(grep -v '^#' "$expected" | grep -v '^[[:space:]]*$' | sort -n)

if [[ "$actual" != "$want" ]]; then
  fail "export table differs from $expected (< expected, > built):"
  diff <(echo "$want") <(echo "$actual") | grep '^[<>]' | head -40 || true
fi
if grep -q '@' <<<"$actual"; then
  fail "decorated names exported: $(grep '@' <<<"$actual" | awk '{print $2}' | tr '\n' ' ')"
fi

# Imports: Windows' own DLLs only.
allowed='^(kernel32|msvcrt|ucrtbase|setupapi|hid|advapi32|user32|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r name; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
  [[ $lower =~ $allowed ]] || fail "imports a non-system DLL: $name"
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")

count=$(grep -c . <<<"$actual" || true)
if ((failures == 0)); then
  echo "ok: $dll exports $count names at their ordinals, none decorated; imports only system DLLs"
fi
exit $((failures == 0 ? 0 : 1))
